// Password hashes: argon2id strings that verify the right password only, salted, and renewed
// when the configured cost changes.
#include "server/password_hasher.h"

#include <gtest/gtest.h>

using server::PasswordHasher;

TEST(PasswordHasher, HashVerifiesTheRightPasswordOnly) {
    PasswordHasher hasher(1, 8);
    std::string hash;
    ASSERT_TRUE(hasher.Hash("correct horse", hash));
    EXPECT_EQ(hash.rfind("$argon2id$", 0), 0u) << hash;
    EXPECT_EQ(hash.find("correct horse"), std::string::npos);
    EXPECT_EQ(hasher.Verify(hash, "correct horse"), PasswordHasher::Check::Match);
    EXPECT_EQ(hasher.Verify(hash, "correct hors"), PasswordHasher::Check::Mismatch);
    EXPECT_EQ(hasher.Verify(hash, "Correct horse"), PasswordHasher::Check::Mismatch);
    EXPECT_EQ(hasher.Verify(hash, ""), PasswordHasher::Check::Mismatch);
}

TEST(PasswordHasher, SamePasswordGivesDifferentSaltedHashes) {
    PasswordHasher hasher(1, 8);
    std::string first, second;
    ASSERT_TRUE(hasher.Hash("tulip", first));
    ASSERT_TRUE(hasher.Hash("tulip", second));
    EXPECT_NE(first, second);
    EXPECT_EQ(hasher.Verify(second, "tulip"), PasswordHasher::Check::Match);
}

TEST(PasswordHasher, DamagedOrForeignHashesNeverMatch) {
    PasswordHasher hasher(1, 8);
    EXPECT_EQ(hasher.Verify("", "x"), PasswordHasher::Check::Mismatch);
    EXPECT_EQ(hasher.Verify("plain text password", "plain text password"),
              PasswordHasher::Check::Mismatch);
    EXPECT_EQ(hasher.Verify(std::string(500, '$'), "x"), PasswordHasher::Check::Mismatch);
    std::string hash;
    ASSERT_TRUE(hasher.Hash("secret", hash));
    hash.back() = hash.back() == 'A' ? 'B' : 'A';
    EXPECT_EQ(hasher.Verify(hash, "secret"), PasswordHasher::Check::Mismatch);
}

TEST(PasswordHasher, OlderParametersAskForARehashAndStillVerify) {
    PasswordHasher cheap(1, 8);
    PasswordHasher dearer(2, 16);
    std::string hash;
    ASSERT_TRUE(cheap.Hash("secret", hash));
    EXPECT_FALSE(cheap.NeedsRehash(hash));
    EXPECT_TRUE(dearer.NeedsRehash(hash));
    EXPECT_EQ(dearer.Verify(hash, "secret"), PasswordHasher::Check::Match);
}
