// The password files of a user's folder: "colors" and the older "passwd.txt".
#include "accounts/password_file.h"

#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <string>

#include <sys/stat.h>

namespace {

class PasswordFileTest : public ::testing::Test {
protected:
    std::string Folder() const { return dir_.path().toStdString(); }
    std::string Path(const char* name) const { return Folder() + "/" + name; }
    void Write(const char* name, const std::string& bytes) {
        ASSERT_TRUE(platform::WriteFileAtomically(Path(name), bytes));
    }
    std::string Read(const char* name) const {
        std::string bytes;
        EXPECT_TRUE(platform::ReadWholeFile(Path(name), bytes));
        return bytes;
    }

    QTemporaryDir dir_;
};

TEST(ColorsFormat, EncodeAndDecodeRoundTripEveryLength) {
    for (std::size_t length : {std::size_t(0), std::size_t(1), std::size_t(59), std::size_t(127)}) {
        std::string password;
        for (std::size_t i = 0; i < length; ++i)
            password += char(32 + (i * 7) % 200);
        std::string bytes, back;
        ASSERT_TRUE(accounts::EncodeColors(password, bytes));
        EXPECT_EQ(bytes.size(), 1 + length);
        EXPECT_EQ(static_cast<unsigned char>(bytes[0]), length);
        ASSERT_TRUE(accounts::DecodeColors(bytes, back));
        EXPECT_EQ(back, password);
    }
    std::string bytes;
    EXPECT_FALSE(accounts::EncodeColors(std::string(128, 'p'), bytes));
}

TEST(ColorsFormat, ScramblesEveryByteWithE7) {
    std::string bytes;
    ASSERT_TRUE(accounts::EncodeColors("A", bytes));
    EXPECT_EQ(bytes, std::string("\x01\xA6", 2)); // 'A' (0x41) ^ 0xE7
}

TEST(ColorsFormat, MalformedBytesAreRefused) {
    std::string password = "unchanged";
    EXPECT_FALSE(accounts::DecodeColors("", password));
    EXPECT_FALSE(accounts::DecodeColors(std::string("\x05\x01\x02", 3), password)); // short
    EXPECT_FALSE(
        accounts::DecodeColors(std::string(1, char(128)) + std::string(128, 'x'), password));
    EXPECT_EQ(password, "unchanged");
    ASSERT_TRUE(accounts::DecodeColors(std::string("\x01\xA6trailing", 10), password));
    EXPECT_EQ(password, "A");
}

TEST(LegacyPassword, ParsesTheScanfForm) {
    std::string password;
    ASSERT_TRUE(accounts::ParseLegacyPassword("<Password>\tsecret\n", password));
    EXPECT_EQ(password, "secret");
    ASSERT_TRUE(accounts::ParseLegacyPassword("<Password>   two words\n", password));
    EXPECT_EQ(password, "two");
    ASSERT_TRUE(accounts::ParseLegacyPassword("<Password>x", password));
    EXPECT_EQ(password, "x");
    EXPECT_FALSE(accounts::ParseLegacyPassword("<Password>\t\n", password));
    EXPECT_FALSE(accounts::ParseLegacyPassword(" <Password>\tsecret\n", password));
    EXPECT_FALSE(accounts::ParseLegacyPassword("password secret", password));
}

// The launcher's conversion of an old plain-text password leaves the folder and the new
// file for the owner alone, however wide the old ones were.
TEST_F(PasswordFileTest, MigrationLeavesFolder0700AndColors0600) {
    Write("passwd.txt", "<Password>\tsecret\n");
    ASSERT_EQ(::chmod(Folder().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(Path("passwd.txt").c_str(), 0644), 0);

    ASSERT_TRUE(accounts::MigrateLegacyPassword(Folder()));

    struct stat folder {
    }, colors{};
    ASSERT_EQ(::stat(Folder().c_str(), &folder), 0);
    ASSERT_EQ(::stat(Path("colors").c_str(), &colors), 0);
    EXPECT_EQ(folder.st_mode & 07777, accounts::kUserFolderMode);
    EXPECT_EQ(colors.st_mode & 07777, accounts::kPasswordFileMode);
}

TEST_F(PasswordFileTest, MigrationWritesColorsAndDeletesTheOldFile) {
    Write("passwd.txt", "<Password>\tPa55\n");
    ASSERT_TRUE(accounts::MigrateLegacyPassword(Folder()));
    EXPECT_FALSE(platform::FileExists(Path("passwd.txt")));
    std::string password;
    ASSERT_TRUE(accounts::ReadColorsFile(Folder(), password));
    EXPECT_EQ(password, "Pa55");
}

TEST_F(PasswordFileTest, PasswordLongerThan127IsNotCutAndTheFileIsKept) {
    const std::string text = "<Password>\t" + std::string(128, 'k') + "\n";
    Write("passwd.txt", text);
    EXPECT_FALSE(accounts::MigrateLegacyPassword(Folder()));
    EXPECT_EQ(Read("passwd.txt"), text);
    EXPECT_FALSE(platform::FileExists(Path("colors")));
}

TEST_F(PasswordFileTest, PasswordOfExactly127IsConverted) {
    Write("passwd.txt", "<Password>\t" + std::string(127, 'k') + "\n");
    ASSERT_TRUE(accounts::MigrateLegacyPassword(Folder()));
    std::string password;
    ASSERT_TRUE(accounts::ReadColorsFile(Folder(), password));
    EXPECT_EQ(password, std::string(127, 'k'));
}

TEST_F(PasswordFileTest, FileWithoutPasswordIsKept) {
    Write("passwd.txt", "garbage\n");
    EXPECT_FALSE(accounts::MigrateLegacyPassword(Folder()));
    EXPECT_EQ(Read("passwd.txt"), "garbage\n");
}

TEST_F(PasswordFileTest, WriteThenReadColors) {
    ASSERT_TRUE(accounts::WriteColorsFile(Folder(), "Pa55 word"));
    std::string password;
    ASSERT_TRUE(accounts::ReadColorsFile(Folder(), password));
    EXPECT_EQ(password, "Pa55 word");
    EXPECT_FALSE(accounts::WriteColorsFile(Folder(), std::string(128, 'p')));
    ASSERT_TRUE(accounts::ReadColorsFile(Folder(), password));
    EXPECT_EQ(password, "Pa55 word"); // the refused write left the file as it was
}

} // namespace
