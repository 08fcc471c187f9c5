// The fixture of the tests that run against a real pelora-server: a data folder in a temporary
// folder, the server started on a port of the system's choosing, and clients to talk to it.
#pragma once

#include "server_process.h"
#include "temp_folder.h"
#include "wire_client.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace pelora_test {

class ServerTest : public ::testing::Test {
protected:
    // A server that crashed, or that a sanitizer stopped, fails the test.
    void TearDown() override {
        if (server_.Running()) {
            EXPECT_EQ(server_.Stop(), 0) << "the server did not end cleanly";
        }
    }

    std::string DataDir() const { return folder_ / "data"; }

    // Starts the server with the quick test arguments and `extra`; fails the test when it
    // does not start.
    void StartServer(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> arguments = ServerProcess::FastArguments();
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        std::string error;
        ASSERT_TRUE(server_.Start(PELORA_SERVER_PROGRAM, DataDir(), arguments, error)) << error;
        extra_ = extra;
    }

    void RestartServer() {
        ASSERT_EQ(server_.Stop(), 0);
        StartServer(extra_);
    }

    std::unique_ptr<WireClient> Greeted() {
        auto client = std::make_unique<WireClient>(server_.Port());
        EXPECT_TRUE(client->ConnectAndGreet());
        return client;
    }

    // A client logged in as `name`, its account made on first use.
    std::unique_ptr<WireClient> LoggedIn(const std::string& name,
                                         const std::string& password = "secret") {
        auto client = std::make_unique<WireClient>(server_.Port());
        EXPECT_TRUE(client->ConnectAs(name, password)) << name;
        return client;
    }

    std::string Log() const {
        std::ifstream file(DataDir() + "/pelora-server.log");
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    TempFolder folder_;
    ServerProcess server_;
    std::vector<std::string> extra_;
};

// Runs the program with the arguments and gives its exit code and standard output.
int RunProgram(const std::vector<std::string>& arguments, std::string& output);

} // namespace pelora_test
