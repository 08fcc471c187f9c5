// A difficulty file is read a block at a time straight from its descriptor: a number that
// starts or runs past the end of the first block, or of a later one, reads as it stands.
#include "config/config.h"
#include "fakes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DifficultyFile, NumbersAcrossReadBlocks_ReadInFull) {
    fakes::TempHome home;
    fakes::LogRecorder log;
    auto read = [&](const std::string& content) {
        home.WriteFile("w/difficulty", content);
        return ReadDifficulty((home / "w/difficulty").string());
    };
    for (std::size_t blanks : {0u, 1u, 60u, 62u, 63u, 64u, 65u, 127u, 128u, 1000u}) {
        SCOPED_TRACE(blanks);
        EXPECT_EQ(read(std::string(blanks, ' ') + "-2147483648\n"), -2147483647 - 1);
        EXPECT_EQ(read(std::string(blanks, '\n') + "+2147483647"), 2147483647);
    }
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(read(std::string(100, ' ') + "99999999999"), 1);
    EXPECT_FALSE(log.lines.empty());
}

} // namespace
