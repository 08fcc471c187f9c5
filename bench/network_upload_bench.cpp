// Timing of data-file uploads through the real network object and net::sendfile to a real
// pelora-server on loopback: a 15 MiB file, and 50 small files one after the other. Beside each
// figure stands its floor, measured in the same run: for the large file, reading and hashing
// its bytes, which any upload of it has to do; for the small files, two question-and-answer
// round trips per file (offer, then confirmation), measured with net::infoUsers on the same
// connection. What lies above the small files' floor is mostly the server making each file
// durable before it confirms it. Not a pass/fail test.
#include "engine/kernel.h"
#include "engine/services.h"
#include "server_process.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kSmallFiles = 50;
constexpr std::size_t kLargeBytes = 15 * 1024 * 1024;
constexpr int kRounds = 5;

double Milliseconds(const std::function<void()>& run) {
    auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string Run(nScriptServer* script, const std::string& command) {
    std::string result;
    if (!script->RunCommand(command.c_str(), result))
        std::fprintf(stderr, "%s: %s\n", command.c_str(), result.c_str());
    return result;
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    fs::path root = fs::temp_directory_path() / ("pelora-upload-bench-" + std::to_string(getpid()));
    fs::create_directories(root / "home/users/ann");
    setenv("PELORA_HOME", (root / "home").c_str(), 1);

    pelora_test::ServerProcess server;
    std::string error;
    if (!server.Start(PELORA_SERVER_PROGRAM, (root / "server").string(),
                      pelora_test::ServerProcess::FastArguments(), error)) {
        std::fprintf(stderr, "pelora-server did not start: %s\n", error.c_str());
        return 1;
    }
    int code = 0;
    {
        auto ownKernel = NewRuntimeKernel();
        nKernelServer& kernel = *ownKernel;
        auto* script =
            dynamic_cast<nScriptServer*>(kernel.New("ntclserver", "/sys/servers/script"));
        std::string result;
        script->RunScript(PELORA_SOURCE_DIR "/home/scripts/netsetup.tcl", result);
        Run(script, "net::setctrladdress 127.0.0.1 " + std::to_string(server.Port()));
        Run(script, "net::connect");
        Run(script, "net::createuser ann secret");
        if (Run(script, "net::login ann secret")[0] != '0') {
            std::fprintf(stderr, "could not log in\n");
            return 1;
        }
        const fs::path folder = root / "home/users/ann";

        std::string large(kLargeBytes, '\0');
        for (std::size_t i = 0; i < large.size(); ++i)
            large[i] = char(i * 131 + i / 977);
        std::vector<double> upload, hashFloor;
        for (int round = 0; round < kRounds; ++round) {
            // Each round's file differs, so the server stores it anew.
            large[0] = char(round);
            std::string name = "data-large-" + std::to_string(round);
            std::ofstream(folder / name, std::ios::binary) << large;
            hashFloor.push_back(Milliseconds([&] {
                QFile file(QString::fromStdString((folder / name).string()));
                file.open(QIODevice::ReadOnly);
                QCryptographicHash hash(QCryptographicHash::Sha256);
                hash.addData(&file);
                file.seek(0);
                while (!file.read(64 * 1024).isEmpty()) {
                }
            }));
            upload.push_back(Milliseconds([&] {
                if (Run(script, "net::sendfile " + name + " ann")[0] != '0')
                    code = 1;
            }));
        }
        std::printf("15 MiB file: upload median %8.1f ms   floor (read + SHA-256) %8.1f ms\n",
                    Median(upload), Median(hashFloor));

        std::vector<double> small, roundTrips;
        for (int round = 0; round < kRounds; ++round) {
            for (int i = 0; i < kSmallFiles; ++i)
                std::ofstream(folder / ("data-" + std::to_string(round) + "-" + std::to_string(i)))
                    << "drive " << round << " " << i << "\n";
            roundTrips.push_back(Milliseconds([&] {
                for (int i = 0; i < 2 * kSmallFiles; ++i)
                    Run(script, "net::infoUsers");
            }));
            small.push_back(Milliseconds([&] {
                for (int i = 0; i < kSmallFiles; ++i)
                    if (Run(script, "net::sendfile data-" + std::to_string(round) + "-" +
                                        std::to_string(i) + " ann")[0] != '0')
                        code = 1;
            }));
        }
        std::printf(
            "%d small files: upload median %8.1f ms   floor (2 round trips each) %8.1f ms\n",
            kSmallFiles, Median(small), Median(roundTrips));
    }
    server.Stop();
    fs::remove_all(root);
    return code;
}
