// The server's log: client-given text escaped so that no name can forge or hide in a line.
#include "server/server_log.h"

#include <gtest/gtest.h>

using server::LogEscaped;
using server::LogQuoted;

TEST(LogEscaped, QuotesAndBackslashesCannotCloseTheQuotedName) {
    EXPECT_EQ(LogQuoted("admin\" from 10.0.0.1: logged in; x=\""),
              "\"admin\\\" from 10.0.0.1: logged in; x=\\\"\"");
    EXPECT_EQ(LogEscaped("a\\b"), "a\\\\b");
}

TEST(LogEscaped, ControlInvisibleAndDirectionCharactersAreShownAsEscapes) {
    EXPECT_EQ(LogEscaped("a\nb\tc\x7f"), "a\\x0Ab\\x09c\\x7F");
    EXPECT_EQ(LogEscaped("x\xE2\x80\xAEy"), "x\\u{202E}y"); // right-to-left override
    EXPECT_EQ(LogEscaped("x\xE2\x81\xA6y"), "x\\u{2066}y"); // left-to-right isolate
    EXPECT_EQ(LogEscaped("x\xE2\x80\x8By\xEF\xBB\xBF"), "x\\u{200B}y\\u{FEFF}"); // zero width
    EXPECT_EQ(LogEscaped("x\xC2\x85y"), "x\\u{0085}y");                          // a C1 line break
    EXPECT_EQ(LogEscaped("x\xE2\x80\xA8y"), "x\\u{2028}y");                      // line separator
}

TEST(LogEscaped, OrdinaryTextAndOtherLanguagesPassUnchanged) {
    EXPECT_EQ(LogEscaped("Zoë Łukasz 山田 data-1.txt"), "Zoë Łukasz 山田 data-1.txt");
}

TEST(LogEscaped, BrokenUtf8IsShownByteByByte) {
    EXPECT_EQ(LogEscaped("a\xC3"), "a\\xC3");
    EXPECT_EQ(LogEscaped("\xED\xA0\x80"), "\\xED\\xA0\\x80"); // a surrogate
    EXPECT_EQ(LogEscaped("\xC0\xAF"), "\\xC0\\xAF");          // an overlong slash
}
