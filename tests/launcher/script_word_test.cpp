// Quoting texts as single Tcl words: the chosen forms, and the round trip through the real
// interpreter for texts full of the characters Tcl treats specially.
#include "engine/services.h"
#include "launcher_fixture.h"

#include <random>

namespace launcher_test {
namespace {

TEST(ScriptWordTest, Forms_PlainBracedOrEscaped) {
    EXPECT_EQ(ScriptWord(""), "{}");
    EXPECT_EQ(ScriptWord("bob"), "bob");
    EXPECT_EQ(ScriptWord("a.b-c_d+e@f:g/h9"), "a.b-c_d+e@f:g/h9");
    EXPECT_EQ(ScriptWord("bob smith"), "{bob smith}");
    EXPECT_EQ(ScriptWord("$x[y]\"z\";"), "{$x[y]\"z\";}");
    EXPECT_EQ(ScriptWord("{a}"), "{{a}}");
    EXPECT_EQ(ScriptWord("a}b{"), "a\\}b\\{");
    EXPECT_EQ(ScriptWord("{"), "\\{");
    EXPECT_EQ(ScriptWord("a\\"), "a\\\\");
    EXPECT_EQ(ScriptWord("x y\\"), "x\\ y\\\\");
    EXPECT_EQ(ScriptWord("a\\\nb{"), "a\\\\\\nb\\{");
}

TEST(ScriptWordTest, UnbalancedOrBackslashed_EscapesEverySpecialCharacter) {
    for (const std::string text : {"a b}", "$x{", "[exit]\\", "a;b}", "\"q\"\\", "#c{"}) {
        std::string word = ScriptWord(text);
        ASSERT_NE(word.front(), '{') << text;
        size_t unescaped = 0;
        for (size_t i = 0; i < word.size(); ++i) {
            if (word[i] == '\\') {
                ++i; // the escaped character
                continue;
            }
            unescaped += std::string(" $[];\"{}#").find(word[i]) != std::string::npos;
        }
        EXPECT_EQ(unescaped, 0u) << word;
    }
}

class ScriptWordTclTest : public LauncherTest {
protected:
    void SetUp() override {
        kernel = NewRuntimeKernel();
        tcl =
            dynamic_cast<nScriptServer*>(kernel->New("ntclserver", "/sys/servers/script", "nroot"));
        if (!tcl)
            GTEST_SKIP() << "no Tcl script server in this build";
    }
    void TearDown() override {
        kernel.reset();
        LauncherTest::TearDown();
    }

    std::string RoundTrip(const std::string& text) {
        std::string result;
        EXPECT_TRUE(tcl->RunCommand(("set x " + ScriptWord(text)).c_str(), result))
            << ScriptWord(text) << ": " << result;
        return result;
    }

    std::unique_ptr<nKernelServer> kernel;
    nScriptServer* tcl = nullptr;
};

TEST_F(ScriptWordTclTest, SpecialTexts_ArriveAsThemselves) {
    for (const std::string text :
         {"",          "bob",    "bob smith",  "$x",       "[exit 3]",     "{a}",
          "a}b{",      "}{",     "\\",         "a\\",      "\\n",          "x\ny",
          "tab\there", "a;b",    "\"quoted\"", "#comment", "{*}{a b}",     "\\\n  next",
          " lead",     "trail ", "a\\{b",      "{a\\}",    "\x01\x1f\x7f", "mixed {[$\"\\;}]"}) {
        EXPECT_EQ(RoundTrip(text), text) << ScriptWord(text);
    }
}

TEST_F(ScriptWordTclTest, RandomTexts_ArriveAsThemselves) {
    std::mt19937 random(20261206);
    const std::string alphabet = "ab {}[]$\"\\;# \t\n\r*xyz";
    for (int round = 0; round < 500; ++round) {
        std::string text;
        int length = int(random() % 12);
        for (int i = 0; i < length; ++i) {
            if (random() % 8 == 0)
                text += char(1 + random() % 127);
            else
                text += alphabet[random() % alphabet.size()];
        }
        ASSERT_EQ(RoundTrip(text), text) << "word: " << ScriptWord(text);
    }
}

} // namespace
} // namespace launcher_test
