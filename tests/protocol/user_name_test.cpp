// The user-name rules shared by the launcher, the configuration tool and the server.
#include "protocol/user_name.h"

#include <gtest/gtest.h>

#include <string>

using names::CheckUserName;
using names::NameProblem;

TEST(UserNameRules, PlainNamesPass) {
    EXPECT_EQ(CheckUserName("bob"), NameProblem::None);
    EXPECT_EQ(CheckUserName("Anna Maria"), NameProblem::None);
    EXPECT_EQ(CheckUserName("jos\xC3\xA9"), NameProblem::None); // josé
    EXPECT_EQ(CheckUserName("{a} [b] $c \"d\";"), NameProblem::None);
    EXPECT_EQ(CheckUserName(".hidden"), NameProblem::None);
}

TEST(UserNameRules, LengthIsCountedInBytesUpTo119) {
    EXPECT_EQ(CheckUserName(std::string(119, 'a')), NameProblem::None);
    EXPECT_EQ(CheckUserName(std::string(120, 'a')), NameProblem::TooLong);
    EXPECT_EQ(CheckUserName(std::string(127, 'a')), NameProblem::TooLong);
    // 60 two-byte letters are 120 bytes.
    std::string accented;
    for (int i = 0; i < 60; ++i)
        accented += "\xC3\xA9";
    EXPECT_EQ(CheckUserName(accented), NameProblem::TooLong);
    EXPECT_EQ(CheckUserName(""), NameProblem::Empty);
}

TEST(UserNameRules, ControlCharactersAreRefusedWhereverTheyStand) {
    for (std::string name : {std::string("a\tb"), std::string("a\nb"), std::string("\x1B[31mred"),
                             std::string("end\x7F"), std::string("a\0b", 3),
                             std::string("x\xC2\x85y")}) // U+0085, a C1 control
        EXPECT_EQ(CheckUserName(name), NameProblem::ControlCharacter) << names::PrintableName(name);
}

TEST(UserNameRules, PathCharactersAndDotNamesAreRefused) {
    EXPECT_EQ(CheckUserName("../alice"), NameProblem::PathCharacter);
    EXPECT_EQ(CheckUserName("a\\b"), NameProblem::PathCharacter);
    EXPECT_EQ(CheckUserName("."), NameProblem::DotName);
    EXPECT_EQ(CheckUserName(".."), NameProblem::DotName);
    EXPECT_EQ(CheckUserName("..."), NameProblem::None);
}

TEST(UserNameRules, TextThatIsNotUtf8IsRefused) {
    EXPECT_EQ(CheckUserName("caf\xE9"), NameProblem::NotUtf8);          // Latin-1 é
    EXPECT_EQ(CheckUserName("\xC0\xAF"), NameProblem::NotUtf8);         // overlong '/'
    EXPECT_EQ(CheckUserName("\xED\xA0\x80"), NameProblem::NotUtf8);     // a surrogate
    EXPECT_EQ(CheckUserName("\xF4\x90\x80\x80"), NameProblem::NotUtf8); // above U+10FFFF
    EXPECT_EQ(CheckUserName("abc\xE2\x82"), NameProblem::NotUtf8);      // cut short
}

TEST(UserNameRules, EveryProblemHasASentence) {
    for (auto problem :
         {NameProblem::Empty, NameProblem::TooLong, NameProblem::NotUtf8,
          NameProblem::ControlCharacter, NameProblem::PathCharacter, NameProblem::DotName}) {
        std::string text = names::DescribeNameProblem(problem);
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(text.back(), '.');
    }
    EXPECT_NE(names::DescribeNameProblem(NameProblem::TooLong).find("119"), std::string::npos);
}

TEST(UserNameRules, GuestInAnyLetterCase) {
    EXPECT_TRUE(names::IsGuestName("guest"));
    EXPECT_TRUE(names::IsGuestName("GUEST"));
    EXPECT_TRUE(names::IsGuestName("gUeSt"));
    EXPECT_FALSE(names::IsGuestName("guest "));
    EXPECT_FALSE(names::IsGuestName("guests"));
    EXPECT_FALSE(names::IsGuestName(""));
}

TEST(UserNameRules, PrintableNameEscapesWhatALogCannotShow) {
    EXPECT_EQ(names::PrintableName("bob"), "bob");
    EXPECT_EQ(names::PrintableName("jos\xC3\xA9"), "jos\xC3\xA9");
    EXPECT_EQ(names::PrintableName("a\tb"), "a\\x09b");
    EXPECT_EQ(names::PrintableName("\x1B[2J"), "\\x1B[2J");
    EXPECT_EQ(names::PrintableName("caf\xE9"), "caf\\xE9");
    EXPECT_EQ(names::PrintableName("a\\x09"), "a\\\\x09"); // cannot pass for an escape
}
