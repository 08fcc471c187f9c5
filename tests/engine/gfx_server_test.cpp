// The graphics servers: display-mode strings, the logged mode, and the display's state.
#include "engine_fixture.h"

#include "gfx_server.h"

#include <ostream>

namespace {

struct ValidMode {
    const char* text;
    int width, height, bpp, zbuf;
    bool fullscreen;
};

void PrintTo(const ValidMode& mode, std::ostream* out) {
    *out << '"' << mode.text << '"';
}

class ValidDisplayMode : public ::testing::TestWithParam<ValidMode> {};

TEST_P(ValidDisplayMode, Parses) {
    const ValidMode& expected = GetParam();
    DisplayMode mode;
    std::string error;
    ASSERT_TRUE(ParseDisplayMode(expected.text, mode, error)) << error;
    EXPECT_EQ(mode.width, expected.width);
    EXPECT_EQ(mode.height, expected.height);
    EXPECT_EQ(mode.bpp, expected.bpp);
    EXPECT_EQ(mode.zbuf, expected.zbuf);
    EXPECT_EQ(mode.fullscreen, expected.fullscreen);
}

INSTANTIATE_TEST_SUITE_P(
    Strings, ValidDisplayMode,
    ::testing::Values(
        ValidMode{"dev(0)-type(full)-w(1024)-h(768)-bpp(32)-zbuf(32)", 1024, 768, 32, 32, true},
        ValidMode{"dev(0)-w(800)-h(600)-bpp(16)-zbuf(16)", 800, 600, 16, 16, false},
        ValidMode{"dev(0)-w(1024)-h(1024)-bpp(32)-zbuf(32)", 1024, 1024, 32, 32, false},
        ValidMode{"w(1280)-h(1024)", 1280, 1024, 32, 32, false},
        ValidMode{"type(win)-w(640)-h(480)-bpp(24)-zbuf(0)", 640, 480, 24, 0, false}));

struct BadMode {
    const char* text;
    const char* why;
};

void PrintTo(const BadMode& mode, std::ostream* out) {
    *out << '"' << mode.text << '"';
}

class BadDisplayMode : public ::testing::TestWithParam<BadMode> {};

TEST_P(BadDisplayMode, IsRefusedSayingWhy) {
    DisplayMode mode;
    mode.width = 320;
    std::string error;
    EXPECT_FALSE(ParseDisplayMode(GetParam().text, mode, error));
    EXPECT_NE(error.find(GetParam().why), std::string::npos) << error;
    EXPECT_EQ(mode.width, 320);
}

INSTANTIATE_TEST_SUITE_P(
    Strings, BadDisplayMode,
    ::testing::Values(
        BadMode{"dev(0)-w(1)-h(2x3)-bpp(32)-zbuf(32)", "not a whole number"},
        BadMode{"dev(0)-w(abc)-h(768)", "not a whole number"},
        BadMode{"dev(0)-depth(3)-w(800)", "unknown field 'depth'"},
        BadMode{"dev(0-w(800)-h(600)", "missing ')'"}, BadMode{"dev(0)-w800-h(600)", "missing '('"},
        BadMode{"w(0)-h(600)", "zero or negative"}, BadMode{"w(800)-h(-600)", "zero or negative"},
        BadMode{"w(800)-h(600)-", "empty field"}, BadMode{"w(800)h(600)", "unexpected"},
        BadMode{"type(huge)-w(800)-h(600)", "unknown type 'huge'"},
        BadMode{"w(800)-w(640)", "twice"}, BadMode{"w(99999)-h(600)", "out of range"},
        BadMode{"", "empty"}));

TEST(DisplayModeText, FormatsWhatItParses) {
    DisplayMode mode;
    std::string error;
    const std::string text = "dev(0)-type(full)-w(1024)-h(768)-bpp(32)-zbuf(32)";
    ASSERT_TRUE(ParseDisplayMode(text, mode, error));
    EXPECT_EQ(FormatDisplayMode(mode), text);
    mode.fullscreen = false;
    EXPECT_EQ(FormatDisplayMode(mode), "dev(0)-w(1024)-h(768)-bpp(32)-zbuf(32)");
}

using GfxServer = EngineFixture;

TEST_F(GfxServer, BothClassNames_MakeTheRenderServer) {
    auto* gl = dynamic_cast<nRenderServer*>(kernel->New("nglserver", "/sys/servers/gfx"));
    ASSERT_NE(gl, nullptr);
    EXPECT_EQ(gl->GetClass(), "nglserver");
    auto* d3d = dynamic_cast<nRenderServer*>(kernel->New("nd3d8server", "/sys/servers/gfx2"));
    ASSERT_NE(d3d, nullptr);
    EXPECT_EQ(d3d->GetClass(), "nd3d8server");
}

TEST_F(GfxServer, ValidMode_IsKeptAndLogged) {
    fakes::LogRecorder log;
    auto* gfx = dynamic_cast<nRenderServer*>(kernel->New("nd3d8server", "/sys/servers/gfx"));
    ASSERT_NE(gfx, nullptr);
    EXPECT_TRUE(gfx->SetDisplayMode("dev(0)-type(full)-w(1024)-h(768)-bpp(32)-zbuf(32)"));
    EXPECT_TRUE(log.Contains("gfx: display mode dev(0)-type(full)-w(1024)-h(768)-bpp(32)-zbuf(32)"
                             " -> 1024x768x32 full\n"));
    EXPECT_TRUE(gfx->SetDisplayMode("dev(0)-w(800)-h(600)-bpp(16)-zbuf(16)"));
    EXPECT_TRUE(log.Contains("-> 800x600x16 windowed\n"));
    EXPECT_EQ(gfx->GetMode().width, 800);
    EXPECT_EQ(gfx->GetMode().zbuf, 16);
}

TEST_F(GfxServer, MalformedMode_IsLoggedAndTheDefaultUsed) {
    fakes::LogRecorder log;
    auto* gfx = dynamic_cast<nRenderServer*>(kernel->New("nglserver", "/sys/servers/gfx"));
    ASSERT_NE(gfx, nullptr);
    ASSERT_TRUE(gfx->SetDisplayMode("dev(0)-type(full)-w(800)-h(600)-bpp(16)-zbuf(16)"));
    EXPECT_FALSE(gfx->SetDisplayMode("dev(0)-w(1)-h(2x3)-bpp(32)-zbuf(32)"));
    EXPECT_TRUE(
        log.Contains("ERROR: gfx: bad display mode 'dev(0)-w(1)-h(2x3)-bpp(32)-zbuf(32)': "));
    EXPECT_TRUE(log.Contains("; using 1024x768x32 windowed\n"));
    EXPECT_EQ(gfx->GetMode().width, 1024);
    EXPECT_EQ(gfx->GetMode().height, 768);
    EXPECT_EQ(gfx->GetMode().bpp, 32);
    EXPECT_FALSE(gfx->GetMode().fullscreen);
    EXPECT_FALSE(gfx->SetDisplayMode(nullptr));
}

TEST_F(GfxServer, ScriptMethods_OpenAndCloseTheDisplay) {
    fakes::LogRecorder log;
    auto* gfx = dynamic_cast<nRenderServer*>(kernel->New("nglserver", "/sys/servers/gfx"));
    ASSERT_NE(gfx, nullptr);
    Run("/sys/servers/gfx.setdisplaymode dev(0)-type(full)-w(1024)-h(768)-bpp(32)-zbuf(32)");
    EXPECT_EQ(Run("/sys/servers/gfx.getdisplaymode"),
              "dev(0)-type(full)-w(1024)-h(768)-bpp(32)-zbuf(32)");
    EXPECT_EQ(Run("/sys/servers/gfx.isdisplayopen"), "0");
    Run("/sys/servers/gfx.opendisplay");
    EXPECT_TRUE(gfx->IsDisplayOpen());
    EXPECT_TRUE(log.Contains("gfx: display opened 1024x768 full"));
    Run("/sys/servers/gfx.closedisplay");
    EXPECT_FALSE(gfx->IsDisplayOpen());
    EXPECT_EQ(Run("/sys/servers/gfx.isdisplayopen"), "0");
    // Closing twice is harmless.
    Run("/sys/servers/gfx.closedisplay");
    EXPECT_NE(RunFailing("/sys/servers/gfx.setdisplaymode w(x)").find("bad display mode 'w(x)'"),
              std::string::npos);
    EXPECT_EQ(gfx->GetMode().width, 1024);
}

} // namespace
