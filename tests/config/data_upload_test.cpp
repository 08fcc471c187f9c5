// The upload of a user's data files: who sends nothing, which entries count, the bound of 25,
// a failure part-way, the progress line, and the file and user names as script words.
#include "world_run_fixture.h"

#include <algorithm>

namespace worldrun_test {
namespace {

class DataUpload : public DriveFixture {
protected:
    void AddFile(const std::string& name) {
        home.WriteFile(std::string("users/") + g_state.userName + "/" + name, "drive data\n");
    }
    // The file names of the sendfile commands, in order.
    std::vector<std::string> SentFiles() const {
        std::vector<std::string> files;
        const std::string prefix = "net::sendfile ";
        for (const auto& command : script->commands) {
            if (command.rfind(prefix, 0) != 0)
                continue;
            std::string rest = command.substr(prefix.size());
            files.push_back(rest.substr(0, rest.rfind(' ')));
        }
        return files;
    }
    static std::vector<std::string> Sorted(std::vector<std::string> names) {
        std::sort(names.begin(), names.end());
        return names;
    }
    // Answers every sendfile with `result`.
    void SendfileAnswers(std::function<std::string(int)> result) {
        Answer([this, result](const std::string& command, std::string& out) {
            if (command.rfind("net::sendfile ", 0) != 0)
                return false;
            cwdAtSend.push_back(Cwd());
            out = result(sendCount++);
            return true;
        });
    }
    int sendCount = 0;
    std::vector<std::string> cwdAtSend;
};

TEST_F(DataUpload, GuestInAnyCase_SendsNothing) {
    for (const char* guest : {"guest", "Guest", "GUEST"}) {
        CopyName(g_state.userName, guest);
        AddFile("data1.txt");
        sendDataFiles();
    }
    g_state.scriptServer = nullptr;
    sendDataFiles();
    EXPECT_TRUE(script->commands.empty());
    EXPECT_TRUE(boxes->boxes.empty());
}

TEST_F(DataUpload, NoScriptServer_ShowsMessage) {
    AddFile("data1.txt");
    g_state.scriptServer = nullptr;
    platform::HWND owner = nullptr;
    InSetupWindow([&] {
        owner = g_state.setupWindow;
        sendDataFiles();
    });
    ASSERT_EQ(boxes->boxes.size(), 1u);
    EXPECT_EQ(boxes->boxes[0].text, "Can't send data files, script server is down.");
    EXPECT_EQ(boxes->boxes[0].caption, "ERROR!");
    EXPECT_EQ(boxes->boxes[0].flags, unsigned(platform::MB_OK));
    EXPECT_EQ(boxes->boxes[0].owner, owner);
    EXPECT_TRUE(script->commands.empty());
}

TEST_F(DataUpload, NamesStartingWithData_AreSentAsFilesOnly) {
    for (const char* name : {"data1.txt", "DATA2", "database.log", "mydata.txt", "dat.txt"})
        AddFile(name);
    home.MakeDir("users/alice/data_folder");
    home.MakeDir("users/alice/DATA.old");
    SendfileAnswers([](int) { return "0"; });
    sendDataFiles();
    EXPECT_EQ(Sorted(SentFiles()),
              (std::vector<std::string>{"DATA2", "data1.txt", "database.log"}));
    EXPECT_EQ(script->CountCommands("net::sendfile data1.txt alice"), 1);
    EXPECT_TRUE(boxes->boxes.empty());
}

TEST_F(DataUpload, ThirtyFiles_SendsExactlyTwentyFive) {
    std::vector<std::string> names;
    for (int i = 0; i < 30; ++i) {
        names.push_back("data" + std::to_string(i) + ".bin");
        AddFile(names.back());
    }
    SendfileAnswers([](int) { return "0 sent"; });
    sendDataFiles();
    std::vector<std::string> sent = SentFiles();
    ASSERT_EQ(sent.size(), 25u);
    std::sort(names.begin(), names.end());
    for (const auto& file : Sorted(sent)) {
        EXPECT_TRUE(std::binary_search(names.begin(), names.end(), file)) << file;
        EXPECT_EQ(std::count(sent.begin(), sent.end(), file), 1) << file;
    }
}

TEST_F(DataUpload, FailureOnTheThirdFile_StopsThereWithoutABox) {
    for (int i = 0; i < 6; ++i)
        AddFile("data" + std::to_string(i));
    SendfileAnswers([](int n) { return n == 2 ? "1 refused" : "0"; });
    sendDataFiles();
    EXPECT_EQ(SentFiles().size(), 3u);
    EXPECT_TRUE(boxes->boxes.empty());
    EXPECT_EQ(log.Count("Error sending datafiles.  net::sendfile returned: 1 refused"), 1);
    EXPECT_EQ(Cwd(), homeFolder);
}

TEST_F(DataUpload, EmptyResult_CountsAsFailure) {
    AddFile("data0");
    AddFile("data1");
    SendfileAnswers([](int) { return ""; });
    sendDataFiles();
    EXPECT_EQ(SentFiles().size(), 1u);
    EXPECT_EQ(log.Count("Error sending datafiles.  net::sendfile returned: "), 1);
}

TEST_F(DataUpload, EachFile_IsNamedInTheProgressLineBeforeItIsSent) {
    AddFile("data_a.txt");
    AddFile("data_b.txt");
    std::vector<std::vector<std::string>> progressAtSend;
    std::vector<std::string> progressAfter;
    Answer([&](const std::string&, std::string& result) {
        progressAtSend.push_back(ProgressTexts());
        result = "0";
        return true;
    });
    InSetupWindow([&] {
        sendDataFiles();
        progressAfter = ProgressTexts();
    });
    std::vector<std::string> sent = SentFiles();
    ASSERT_EQ(sent.size(), 2u);
    ASSERT_EQ(progressAtSend.size(), 2u);
    for (size_t i = 0; i < sent.size(); ++i)
        EXPECT_TRUE(Contains(progressAtSend[i], sent[i])) << sent[i];
    EXPECT_TRUE(progressAfter.empty());
}

TEST_F(DataUpload, SendsFromTheHomeFolder) {
    AddFile("data1");
    SendfileAnswers([](int) { return "0"; });
    sendDataFiles();
    ASSERT_EQ(cwdAtSend.size(), 1u);
    EXPECT_EQ(cwdAtSend[0], homeFolder);
    EXPECT_EQ(Cwd(), homeFolder);
}

TEST_F(DataUpload, UserFolderMissing_LogsAndSendsNothing) {
    home.WriteFile("data_in_home.txt", "not the user's\n");
    CopyName(g_state.userName, "nobody");
    sendDataFiles();
    EXPECT_TRUE(script->commands.empty());
    EXPECT_TRUE(boxes->boxes.empty());
    EXPECT_EQ(log.Count("Can't send data files, the user folder does not open"), 1);
    EXPECT_EQ(Cwd(), homeFolder);
}

class DataUploadRealTcl : public DataUpload {
protected:
    DataUploadRealTcl() { realScriptServer = true; }
};

TEST_F(DataUploadRealTcl, FileAndUserNamesWithScriptCharacters_ArriveUnchanged) {
    ASSERT_NE(g_state.scriptServer, nullptr);
    const std::string user = "al ice [set ::pwned 1]";
    CopyName(g_state.userName, user);
    const std::string file = "data {x} $y \"z\".txt";
    AddFile(file);
    std::string result;
    g_state.scriptServer->RunCommand("namespace eval net {}", result);
    g_state.scriptServer->RunCommand("proc net::sendfile {args} {lappend ::sent $args; return 0}",
                                     result);
    sendDataFiles();
    g_state.scriptServer->RunCommand("llength $::sent", result);
    ASSERT_EQ(result, "1");
    g_state.scriptServer->RunCommand("llength [lindex $::sent 0]", result);
    EXPECT_EQ(result, "2");
    g_state.scriptServer->RunCommand("lindex $::sent 0 0", result);
    EXPECT_EQ(result, file);
    g_state.scriptServer->RunCommand("lindex $::sent 0 1", result);
    EXPECT_EQ(result, user);
    g_state.scriptServer->RunCommand("info exists ::pwned", result);
    EXPECT_EQ(result, "0");
}

} // namespace
} // namespace worldrun_test
