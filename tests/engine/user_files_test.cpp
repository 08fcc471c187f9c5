// A user's folder name and the one upload path of a data file (src/engine/user_files).
#include "engine/user_files.h"
#include "fakes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(UserFolders, GuestAnyCaseAndUnsafeNames) {
    EXPECT_EQ(UserFolderName("GuEsT"), "guest");
    EXPECT_EQ(UserFolderName("Ann Lee"), "Ann Lee");
    EXPECT_EQ(UserFolderName("Zo\xc3\xab"), "Zo\xc3\xab");
    EXPECT_EQ(UserFolderName("Zo\xeb"), ""); // not UTF-8
    EXPECT_EQ(UserFolderName(std::string(119, 'n')), std::string(119, 'n'));
    EXPECT_EQ(UserFolderName(std::string(120, 'n')), "");
    EXPECT_EQ(UserFolderName("esc\x1b"), "");
    EXPECT_EQ(UserFolderName(""), "");
    EXPECT_EQ(UserFolderName(".."), "");
    EXPECT_EQ(UserFolderName("../ann"), "");
    EXPECT_EQ(UserFolderName("a\\b"), "");
    EXPECT_EQ(UserFolderName("a\nb"), "");
}

TEST(SendDataFile, RunsTheUploadProcedureWithTheNamesAsWords) {
    fakes::FakeScriptServer script;
    script.answers["net::sendfile {data 1.txt} {Ann Lee}"] = "0 stored as ann/data 1.txt";
    std::string answer;
    EXPECT_TRUE(SendDataFile(&script, "Ann Lee", "data 1.txt", answer));
    EXPECT_EQ(answer, "0 stored as ann/data 1.txt");
    ASSERT_EQ(script.commands.size(), 1u);
    EXPECT_EQ(script.commands[0], "net::sendfile {data 1.txt} {Ann Lee}");
}

TEST(SendDataFile, AnAnswerThatIsNotZero_IsAFailureWithTheAnswer) {
    fakes::FakeScriptServer script;
    script.answers["net::sendfile data1.txt ann"] = "1 not logged in to the server";
    std::string answer;
    EXPECT_FALSE(SendDataFile(&script, "ann", "data1.txt", answer));
    EXPECT_EQ(answer, "1 not logged in to the server");
    EXPECT_FALSE(SendDataFile(&script, "ann", "other.txt", answer)); // empty answer
    EXPECT_EQ(answer, "");
    EXPECT_FALSE(SendDataFile(nullptr, "ann", "data1.txt", answer));
    EXPECT_EQ(answer, "no script server");
}

} // namespace
