// A kernel with a real Tcl script server over a temporary home folder, for the engine's tests:
// run a snippet, then look at the object tree.
#pragma once

#include "engine/kernel.h"
#include "engine/services.h"
#include "fakes.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

class EngineFixture : public ::testing::Test {
protected:
    void SetUp() override {
        kernel = NewRuntimeKernel();
        script = dynamic_cast<nScriptServer*>(kernel->New("ntclserver", "/sys/servers/script"));
        ASSERT_NE(script, nullptr);
    }
    void TearDown() override { kernel.reset(); }

    // Runs a command that must succeed and gives its result.
    std::string Run(const std::string& command) {
        std::string result;
        EXPECT_TRUE(script->RunCommand(command.c_str(), result)) << command << ": " << result;
        return result;
    }
    // Runs a command that must fail and gives its error message.
    std::string RunFailing(const std::string& command) {
        std::string result;
        EXPECT_FALSE(script->RunCommand(command.c_str(), result)) << command << ": " << result;
        return result;
    }
    template <class T> T* Get(const std::string& path) {
        return dynamic_cast<T*>(kernel->Lookup(path.c_str()));
    }

    fakes::TempHome home; // before the kernel, so its assigns point here
    std::unique_ptr<nKernelServer> kernel;
    nScriptServer* script = nullptr;
};
