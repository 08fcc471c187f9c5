// The engine bootstrap: order of its steps and log lines, the first run, the display mode,
// the graphics server class, optional scripts and the failures of its steps.
#include "launcher_fixture.h"
#include "platform/file_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace launcher_test {
namespace {

namespace fs = std::filesystem;

const char* const kFirstRunText = "Pelora has detected that it is being run for the first time.\n"
                                  "Please take a moment and enter the user information for those\n"
                                  "who will be using the software.  Thank you.\n";

class BootstrapTest : public LauncherTest {
protected:
    // Puts the engine log lines into the one ordered event record.
    static void LogIntoEvents() {
        n_setloghook([](const std::string& text) { fakes::Record("log " + text); });
    }

    // A folder holding a stand-in configuration tool that writes its arguments to a file.
    fs::path MakeToolFolder() {
        fs::path folder = home / "start";
        fs::create_directories(folder);
        std::ofstream(folder / "plconfig")
            << "#!/bin/sh\necho \"$@\" > \"$(dirname \"$0\")/plconfig-args\"\n";
        ::chmod((folder / "plconfig").c_str(), 0755);
        return folder;
    }

    std::string DisplayModeFor(const std::map<std::string, std::string>& values) {
        WriteGlobalSettings(values);
        fs::current_path(home.path());
        GlobalSettings settings("globalSettings");
        return BuildDisplayMode(&settings);
    }
};

TEST_F(BootstrapTest, FullSettings_StepsRunInOrderWithTheirLogLines) {
    UseFakeEngine();
    WriteGlobalSettings({{"gfx-server-type", "Direct3D"},
                         {"resolution", "1024x768"},
                         {"bits-per-pixel", "32"},
                         {"use-fullscreen", "true"},
                         {"sound-enabled", "true"},
                         {"use-head-tracker", "true"}});
    LogIntoEvents();

    BootstrapEngine();

    const std::string mode = "dev(0)-type(full)-w(1024)-h(768)-bpp(32)-zbuf(32)";
    std::vector<std::string> expected = {
        "log Creating Direct3D gfx server\n",
        "log Setting gfx display mode to " + mode + "\n",
        "display mode " + mode,
        "script apps/pelox/scripts/startup.tcl",
        "script scripts:audio.tcl",
        "command /usr/share/gui/helpwindow/lbl_main_title/widget.settext "
        "\"Help for Pelora V2.1\"",
        "command new pldata /sys/servers/data",
        "script scripts:intertrax.tcl",
    };
    int previous = -1;
    for (const auto& event : expected) {
        int at = fakes::IndexOf(event);
        EXPECT_GT(at, previous) << event;
        previous = at;
    }
    ASSERT_NE(g_state.kernelServer, nullptr);
    EXPECT_NE(g_state.scriptServer, nullptr);
    ASSERT_NE(g_state.gfxServer, nullptr);
    EXPECT_EQ(g_state.gfxServer->GetClass(), "nd3d8server");
    EXPECT_NE(g_state.globalSettings, nullptr);
    EXPECT_EQ(fs::canonical(fs::current_path()), fs::canonical(home.path()));
    EXPECT_TRUE(fs::exists(home / "n_runlog.txt"));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(BootstrapTest, Bootstrap_RestoresTheCursorInEffectBefore) {
    UseFakeEngine();
    platform::HCURSOR before = platform::LoadCursorResource(IDC_LINK_HAND);
    platform::SetCursor(before);

    BootstrapEngine();

    EXPECT_EQ(platform::GetCursor(), before);
    EXPECT_EQ(g_state.savedCursor, before);
}

TEST_F(BootstrapTest, NoSettingsFile_DefaultsGiveDirect3DFullScreen) {
    UseFakeEngine();

    BootstrapEngine();

    ASSERT_NE(fakes::FakeGfxServer::last, nullptr);
    EXPECT_EQ(fakes::FakeGfxServer::last->GetClass(), "nd3d8server");
    ASSERT_EQ(fakes::FakeGfxServer::last->modes.size(), 1u);
    EXPECT_EQ(fakes::FakeGfxServer::last->modes[0],
              "dev(0)-type(full)-w(1024)-h(768)-bpp(32)-zbuf(32)");
    EXPECT_TRUE(log.Contains("Unable to load global settings file"));
}

TEST_F(BootstrapTest, DisplayMode_FollowsTheSettingsAsText) {
    EXPECT_EQ(
        DisplayModeFor(
            {{"resolution", "800x600"}, {"bits-per-pixel", "32"}, {"use-fullscreen", "true"}}),
        "dev(0)-type(full)-w(800)-h(600)-bpp(32)-zbuf(32)");
    EXPECT_EQ(DisplayModeFor(
                  {{"resolution", "1x2x3"}, {"bits-per-pixel", "32"}, {"use-fullscreen", "true"}}),
              "dev(0)-type(full)-w(1)-h(2x3)-bpp(32)-zbuf(32)");
    EXPECT_EQ(DisplayModeFor(
                  {{"resolution", "1024"}, {"bits-per-pixel", "32"}, {"use-fullscreen", "true"}}),
              "dev(0)-type(full)-w(1024)-h(1024)-bpp(32)-zbuf(32)");
    EXPECT_EQ(
        DisplayModeFor(
            {{"resolution", "1024x768"}, {"bits-per-pixel", "16"}, {"use-fullscreen", "true"}}),
        "dev(0)-type(full)-w(1024)-h(768)-bpp(16)-zbuf(16)");
    EXPECT_EQ(
        DisplayModeFor(
            {{"resolution", "1024x768"}, {"bits-per-pixel", "32"}, {"use-fullscreen", "false"}}),
        "dev(0)-w(1024)-h(768)-bpp(32)-zbuf(32)");
    EXPECT_EQ(BuildDisplayMode(nullptr), "dev(0)-type(full)-w(1024)-h(768)-bpp(32)-zbuf(32)");
}

TEST_F(BootstrapTest, GfxTypeNotExactlyDirect3D_SelectsOpenGLServer) {
    for (const char* type : {"direct3d", "", "Direct3D ", "OpenGL"}) {
        SCOPED_TRACE(type);
        UseFakeEngine();
        WriteGlobalSettings({{"gfx-server-type", type}});
        log.lines.clear();

        BootstrapEngine();

        ASSERT_NE(g_state.gfxServer, nullptr);
        EXPECT_EQ(g_state.gfxServer->GetClass(), "nglserver");
        EXPECT_TRUE(log.Contains(std::string("Creating ") + type + " gfx server\n"));
        ReleaseEngine();
    }
}

TEST_F(BootstrapTest, SoundAndHeadTrackerOff_RunsNeitherScript) {
    UseFakeEngine();
    WriteGlobalSettings({{"sound-enabled", "false"}, {"use-head-tracker", "false"}});

    BootstrapEngine();

    ASSERT_NE(Script(), nullptr);
    EXPECT_EQ(fakes::IndexOf("script scripts:audio.tcl"), -1);
    EXPECT_EQ(fakes::IndexOf("script scripts:intertrax.tcl"), -1);
    EXPECT_GE(fakes::IndexOf("script apps/pelox/scripts/startup.tcl"), 0);
    EXPECT_GE(fakes::IndexOf("command new pldata /sys/servers/data"), 0);
}

TEST_F(BootstrapTest, BooleansNotExactlyTrue_RunNeitherScript) {
    UseFakeEngine();
    WriteGlobalSettings({{"sound-enabled", "True"}, {"use-head-tracker", "1"}});

    BootstrapEngine();

    EXPECT_EQ(fakes::IndexOf("script scripts:audio.tcl"), -1);
    EXPECT_EQ(fakes::IndexOf("script scripts:intertrax.tcl"), -1);
}

TEST_F(BootstrapTest, FifoAsSettingsFile_RefusedAtOnceWithTheMessage) {
    UseFakeEngine();
    ASSERT_EQ(mkfifo((home / "globalSettings").c_str(), 0600), 0);
    alarm(20); // a FIFO that is waited on ends the test program

    BootstrapEngine();

    alarm(0);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "There is a problem with the configuration file\n"
                                   "globalSettings: is a FIFO (named pipe), not a file");
    EXPECT_EQ(g_state.globalSettings, nullptr);
    EXPECT_GE(fakes::IndexOf("script scripts:audio.tcl"), 0);
    EXPECT_EQ(platform::GetFileKind((home / "globalSettings").string()), platform::FileKind::Other);
}

TEST_F(BootstrapTest, CorruptSettingsFile_ShowsMessageAndRunsOnDefaults) {
    UseFakeEngine();
    home.WriteFile("globalSettings", "this line has no equals sign\n");
    std::string problem;
    {
        fs::current_path(home.path());
        try {
            GlobalSettings probe("globalSettings");
        } catch (const FileException& e) {
            problem = e.getMessage();
        }
    }
    ASSERT_FALSE(problem.empty());

    BootstrapEngine();

    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].owner, nullptr);
    EXPECT_EQ(boxes.boxes[0].caption, "Error");
    EXPECT_EQ(boxes.boxes[0].flags, unsigned(platform::MB_ICONEXCLAMATION));
    EXPECT_EQ(boxes.boxes[0].text, "There is a problem with the configuration file\n" + problem);
    EXPECT_EQ(g_state.globalSettings, nullptr);
    ASSERT_NE(g_state.gfxServer, nullptr);
    EXPECT_EQ(g_state.gfxServer->GetClass(), "nd3d8server");
    EXPECT_GE(fakes::IndexOf("display mode dev(0)-type(full)-w(1024)-h(768)-bpp(32)-zbuf(32)"), 0);
    EXPECT_GE(fakes::IndexOf("script scripts:audio.tcl"), 0);
    EXPECT_EQ(fakes::IndexOf("script scripts:intertrax.tcl"), -1);
}

TEST_F(BootstrapTest, ScriptServerNotMade_ShowsBoxAndSkipsTheRest) {
    classes.Use("ntclserver", [] { return nullptr; });
    classes.UseGfxServers();
    home.MakeDir("users/guest");
    g_state.loginWindow = CreateProgressWindow(); // stands in as the boxes' owner
    fs::path before = fs::current_path();
    platform::HCURSOR cursor = platform::LoadCursorResource(IDC_LINK_HAND);
    platform::SetCursor(cursor);

    BootstrapEngine();

    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Could not create script server.");
    EXPECT_EQ(boxes.boxes[0].caption, "Error");
    EXPECT_EQ(boxes.boxes[0].flags, unsigned(platform::MB_ICONEXCLAMATION));
    EXPECT_EQ(boxes.boxes[0].owner, g_state.loginWindow);
    EXPECT_NE(g_state.kernelServer, nullptr);
    EXPECT_EQ(g_state.scriptServer, nullptr);
    EXPECT_EQ(g_state.gfxServer, nullptr);
    EXPECT_EQ(g_state.globalSettings, nullptr);
    EXPECT_EQ(fakes::IndexOf("display mode", true), -1);
    EXPECT_EQ(fs::current_path(), before);
    EXPECT_EQ(platform::GetCursor(), cursor);
}

TEST_F(BootstrapTest, GfxServerNotMade_ReportsFailedAssertion) {
    classes.UseScriptServer();
    classes.Use("nd3d8server", [] { return nullptr; });
    classes.Use("nglserver", [] { return nullptr; });
    home.MakeDir("users/guest");
    struct Barf {
        std::string expression, file;
    };
    n_setbarfhandler([](const char* expression, const char* file, int) {
        throw Barf{expression, file};
    });

    try {
        BootstrapEngine();
        FAIL() << "the bootstrap went on without a graphics server";
    } catch (const Barf& barf) {
        EXPECT_EQ(barf.expression, "g_gfxServer");
        EXPECT_EQ(barf.file, "\\nebula\\code\\src\\pelox\\launcher");
    }
    EXPECT_EQ(fakes::IndexOf("script apps/pelox/scripts/startup.tcl"), -1);
}

TEST_F(BootstrapTest, FirstRun_ShowsNoticeThenRunsToolWithAdd) {
    classes.UseScriptServer();
    classes.UseGfxServers();
    fs::path toolFolder = MakeToolFolder();
    fs::current_path(toolFolder);
    bool toolRanBeforeBox = true;
    platform::SetMessageBoxHook([&](const platform::MessageBoxRecord& box) {
        boxes.boxes.push_back(box);
        toolRanBeforeBox = fs::exists(toolFolder / "plconfig-args");
        return platform::IDOK;
    });

    BootstrapEngine();

    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, kFirstRunText);
    EXPECT_EQ(boxes.boxes[0].caption, "Vantor Pelora");
    EXPECT_EQ(boxes.boxes[0].flags, unsigned(platform::MB_ICONINFORMATION));
    EXPECT_FALSE(toolRanBeforeBox);
    std::ifstream args(toolFolder / "plconfig-args");
    std::string line;
    std::getline(args, line);
    EXPECT_EQ(line, "-add");
    // The working directory moves to home: only after the tool has run.
    EXPECT_EQ(fs::canonical(fs::current_path()), fs::canonical(home.path()));
    EXPECT_NE(g_state.gfxServer, nullptr);
}

TEST_F(BootstrapTest, GuestPresent_NoFirstRunNotice) {
    UseFakeEngine();
    fs::path toolFolder = MakeToolFolder();
    fs::current_path(toolFolder);

    BootstrapEngine();

    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_FALSE(fs::exists(toolFolder / "plconfig-args"));
}

TEST_F(BootstrapTest, FirstRunSetup_HidesStartupWindowDuringNoticeAndRestoresIt) {
    fs::path toolFolder = MakeToolFolder();
    fs::current_path(toolFolder);
    platform::HWND startup = CreateStartupWindow();
    ASSERT_NE(startup, nullptr);
    ASSERT_TRUE(platform::IsWindowVisible(startup));
    bool visibleDuringBox = true;
    platform::SetMessageBoxHook([&](const platform::MessageBoxRecord&) {
        visibleDuringBox = platform::IsWindowVisible(startup);
        return platform::IDOK;
    });

    RunFirstRunSetup(startup);

    EXPECT_FALSE(visibleDuringBox);
    EXPECT_TRUE(platform::IsWindowVisible(startup));
    EXPECT_TRUE(fs::exists(toolFolder / "plconfig-args"));
    platform::DestroyWindow(startup);
}

TEST_F(BootstrapTest, FirstRunWithoutTool_SkipsItAndGoesOn) {
    fs::path empty = home / "empty";
    fs::create_directories(empty);
    fs::current_path(empty);
    platform::HWND startup = CreateStartupWindow();

    RunFirstRunSetup(startup);

    EXPECT_EQ(boxes.boxes.size(), 1u);
    EXPECT_TRUE(log.Contains("plconfig not found"));
    EXPECT_TRUE(platform::IsWindowVisible(startup));
    platform::DestroyWindow(startup);
}

} // namespace
} // namespace launcher_test
