// An engine with the real Tcl script server and the real scripts:netsetup.tcl, for the tests
// of the network object and the net:: procedures. Waits are kept short through the
// procedures' own bound variables.
#pragma once

#include "engine_fixture.h"
#include "network_object.h"

#include <QElapsedTimer>

#include <string>

class NetworkFixture : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        std::string result;
        ASSERT_TRUE(script->RunScript(PELORA_SOURCE_DIR "/home/scripts/netsetup.tcl", result))
            << result;
        net = Get<plNetworkObject>("/sys/network");
        ASSERT_NE(net, nullptr);
        Run("set net::connect_timeout 3000; set net::login_timeout 5000; "
            "set net::reply_timeout 3000; set net::file_timeout 20000; "
            "set net::stall_timeout 3000");
    }

    std::string State() { return Run("return $net::state"); }

    // Runs a command and measures how long it took, in milliseconds.
    std::string Timed(const std::string& command, qint64& ms) {
        QElapsedTimer clock;
        clock.start();
        std::string result = Run(command);
        ms = clock.elapsed();
        return result;
    }

    // The log lines that contain `text`.
    std::vector<std::string> LogLines(const std::string& text) const {
        std::vector<std::string> found;
        for (const auto& line : log.lines)
            if (line.find(text) != std::string::npos)
                found.push_back(line);
        return found;
    }

    fakes::LogRecorder log;
    plNetworkObject* net = nullptr;
};
