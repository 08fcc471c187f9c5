// A data file's way to the server: only data files are offered, the offer names the file's
// size and SHA-256, the chunks rebuild the file, and a confirmed file moves into sent/ without
// overwriting one already there.
#include "file_upload.h"

#include "fakes.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

class FileUploadTest : public ::testing::Test {
protected:
    std::string Folder() const { return (home / "users/ann").string() + "/"; }
    fakes::TempHome home;
};

TEST_F(FileUploadTest, Offer_CarriesTheNameSizeAndSha256) {
    home.WriteFile("users/ann/data-1.txt", "abc");
    FileUpload upload;
    std::string error;
    ASSERT_TRUE(upload.Open(Folder(), "data-1.txt", 0, error)) << error;
    EXPECT_EQ(upload.Offer().name(), "data-1.txt");
    EXPECT_EQ(upload.Offer().size(), 3u);
    // SHA-256("abc"), the standard's own test vector.
    const unsigned char expected[32] = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea,
                                        0x41, 0x41, 0x40, 0xde, 0x5d, 0xae, 0x22, 0x23,
                                        0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17, 0x7a, 0x9c,
                                        0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
    EXPECT_EQ(upload.Offer().sha256(), std::string(reinterpret_cast<const char*>(expected), 32));
}

TEST_F(FileUploadTest, Chunks_RebuildTheFileInOrder) {
    std::string bytes;
    for (int i = 0; i < 10000; ++i)
        bytes += char('a' + i % 26);
    home.WriteFile("users/ann/DATA2", bytes);
    FileUpload upload;
    std::string error;
    ASSERT_TRUE(upload.Open(Folder(), "DATA2", 0, error)) << error;
    std::string rebuilt;
    while (!upload.AllRead()) {
        pelora::wire::FileChunk chunk;
        ASSERT_TRUE(upload.NextChunk(4096, chunk, error)) << error;
        EXPECT_EQ(chunk.offset(), rebuilt.size());
        EXPECT_LE(chunk.data().size(), 4096u);
        rebuilt += chunk.data();
    }
    EXPECT_EQ(rebuilt, bytes);
}

TEST_F(FileUploadTest, FilesThatMayNotBeSent_AreRefusedWithTheReason) {
    home.WriteFile("users/ann/mydata.txt", "x");
    home.WriteFile("users/ann/data-big", std::string(100, 'x'));
    home.MakeDir("users/ann/data-folder");
    struct Case {
        const char* name;
        std::uint64_t max;
        const char* says;
    } cases[] = {
        {"mydata.txt", 0, "data"},          // not a data file
        {"../colors", 0, "cannot be sent"}, // a path, not a bare name
        {"data-none", 0, "no data file"},
        {"data-folder", 0, "no data file"},
        {"data-big", 99, "more than the server takes"},
    };
    for (const auto& c : cases) {
        FileUpload upload;
        std::string error;
        EXPECT_FALSE(upload.Open(Folder(), c.name, c.max, error)) << c.name;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.name << ": " << error;
    }
}

TEST_F(FileUploadTest, MoveToSent_TakesTheFileOutOfTheUploadPatternKeepingEarlierOnes) {
    home.WriteFile("users/ann/data-1.txt", "new");
    home.WriteFile("users/ann/sent/data-1.txt", "old");
    FileUpload upload;
    std::string error, movedTo;
    ASSERT_TRUE(upload.Open(Folder(), "data-1.txt", 0, error)) << error;
    ASSERT_TRUE(upload.MoveToSent(movedTo, error)) << error;
    EXPECT_FALSE(fs::exists(home / "users/ann/data-1.txt"));
    EXPECT_EQ(home.ReadFile("users/ann/sent/data-1.txt"), "old");
    EXPECT_EQ(movedTo, (home / "users/ann/sent/data-1.txt.2").string());
    EXPECT_EQ(home.ReadFile("users/ann/sent/data-1.txt.2"), "new");
}

} // namespace
