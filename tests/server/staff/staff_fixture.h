// The fixture of the staff view's tests: a real pelora-server with its staff view on a loopback
// port, the default home's worlds, a staff account made with --add-staff, and data files sent
// the way the launcher sends them (plain or sealed to the server's key).
#pragma once

#include "server_fixture.h"
#include "staff_client.h"

#include "record/drive_record.h"

#include <sodium.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace pelora_test {

// Runs a program with `input` on its standard input; gives its exit code and output.
inline int RunWithInput(const std::vector<std::string>& arguments, const std::string& input,
                        std::string& output) {
    // Made before the fork: the child of a process with threads must not allocate before it
    // execs (see server_process.cpp).
    std::vector<std::string> copy = arguments;
    std::vector<char*> argv;
    for (std::string& argument : copy)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0)
        return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(out[1], STDERR_FILENO);
        ::close(in[1]);
        ::close(out[0]);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    (void)!::write(in[1], input.data(), input.size());
    ::close(in[1]);
    output.clear();
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(out[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, static_cast<std::size_t>(got));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A drive's data file as the launcher writes it: the summary keys, then its record.
struct DriveFile {
    std::string user = "alice";
    std::string world = "Hallway";
    std::string start = "2026-12-01T09:00:00Z";
    int seconds = 20;
    int collisions = 1;
    std::vector<std::string> others;

    drive_record::Record Record() const {
        drive_record::Recorder recorder;
        // Along the hallway at 0.5 m/s, a wall met at the tenth second, a landmark reached.
        for (int step = 0; step <= seconds * 30; ++step) {
            double t = step / 30.0;
            recorder.Step(t, 1.5 + 0.5 * t, 3.0, 0.0, 1.0, 0.0);
        }
        for (int i = 0; i < collisions; ++i)
            recorder.Hit(10.0 + i, 6.5, 3.0, "wall " + std::to_string(i));
        recorder.Reached(14.0, "Water fountain");
        return recorder.Finish();
    }

    std::string Text() const {
        std::string text =
            "user=" + user + "\nstate=WI\norganization=Clinic\ndata-id=7\nworld=" + world +
            "\nstart=" + start + "\nend=" + start + "\nduration=" + std::to_string(seconds) +
            "\ndistance=" + std::to_string(seconds / 2) +
            ".00\ncollisions=" + std::to_string(collisions) +
            "\nlandmarks=1\nlandmark=Water fountain\nothers=" + std::to_string(others.size()) +
            "\n";
        for (const std::string& other : others)
            text += "other=" + other + "\n";
        return text + drive_record::FormatRecord(Record());
    }
};

// Sends one file as the launcher does; gives the name it is stored under.
inline std::string UploadFile(WireClient& client, const std::string& name,
                              const std::string& bytes) {
    pb::FileOffer offer;
    offer.set_name(name);
    offer.set_size(bytes.size());
    offer.set_sha256(Sha256(bytes));
    pb::FileReply reply;
    EXPECT_TRUE(client.Send(wire::FrameType::FileOffer, offer));
    EXPECT_TRUE(client.Expect(wire::FrameType::FileReply, reply));
    for (std::size_t at = 0; reply.result() == pb::FileReply::SEND && at < bytes.size();
         at += wire::kMaxChunkBytes) {
        pb::FileChunk chunk;
        chunk.set_offset(at);
        chunk.set_data(bytes.substr(at, wire::kMaxChunkBytes));
        EXPECT_TRUE(client.Send(wire::FrameType::FileChunk, chunk));
    }
    if (reply.result() == pb::FileReply::SEND) {
        EXPECT_TRUE(client.Expect(wire::FrameType::FileReply, reply));
    }
    EXPECT_EQ(reply.result(), pb::FileReply::STORED) << reply.message();
    return reply.stored_as();
}

class StaffTest : public ServerTest {
protected:
    static constexpr const char* kStaffPassword = "correct horse";

    // Starts the server with its staff view and one staff account, "nurse".
    void StartStaff(const std::vector<std::string>& extra = {}) {
        AddStaff("nurse", kStaffPassword);
        staffPort_ = FreeLoopbackPort();
        std::vector<std::string> arguments = {
            "--staff-port", std::to_string(staffPort_),
            "--staff-bind", "127.0.0.1",
            "--worlds",     std::string(PELORA_SOURCE_DIR) + "/home/worlds"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        StartServer(arguments);
    }

    std::vector<std::string> Program(std::vector<std::string> tail) const {
        std::vector<std::string> arguments = {
            PELORA_SERVER_PROGRAM, "--config", "/dev/null",       "--data-dir", DataDir(),
            "--argon2-ops",        "1",        "--argon2-memory", "8"};
        arguments.insert(arguments.end(), tail.begin(), tail.end());
        return arguments;
    }

    void AddStaff(const std::string& name, const std::string& password) {
        std::string output;
        ASSERT_EQ(RunWithInput(Program({"--add-staff", name}), password + "\n", output), 0)
            << output;
    }

    std::unique_ptr<StaffClient> Browser() {
        return std::make_unique<StaffClient>(staffPort_, DataDir() + "/tls/server.pem");
    }

    std::unique_ptr<StaffClient> LoggedInBrowser() {
        auto browser = Browser();
        Reply reply = browser->Login("nurse", kStaffPassword);
        EXPECT_EQ(reply.status, 303) << reply.body;
        return browser;
    }

    std::string Upload(WireClient& client, const std::string& name, const std::string& bytes) {
        return UploadFile(client, name, bytes);
    }

    // The bytes sealed to the server's public key, as the launcher seals them.
    std::string Sealed(const std::string& plain) {
        std::string output;
        EXPECT_EQ(RunProgram(Program({"--print-public-key"}), output), 0);
        unsigned char key[crypto_box_PUBLICKEYBYTES];
        EXPECT_EQ(sodium_hex2bin(key, sizeof key, output.data(), 64, nullptr, nullptr, nullptr), 0);
        std::string sealed(plain.size() + crypto_box_SEALBYTES, '\0');
        crypto_box_seal(reinterpret_cast<unsigned char*>(sealed.data()),
                        reinterpret_cast<const unsigned char*>(plain.data()), plain.size(), key);
        return sealed;
    }

    // The id of the first drive linked from the trainee's page ("" when none).
    std::string FirstDriveId(StaffClient& browser, const std::string& trainee) {
        Reply page = browser.Get("/trainee?name=" + trainee);
        for (const std::string& href : AttributeValues(page.body, "href"))
            if (href.rfind("/drive?id=", 0) == 0)
                return href.substr(10);
        return "";
    }

    int staffPort_ = 0;
};

} // namespace pelora_test
