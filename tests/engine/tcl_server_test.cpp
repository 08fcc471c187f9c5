// The Tcl script server: object commands, object calls, puts, scripts and the shared event
// loop with Qt.
#include "engine_fixture.h"

#include "scene_objects.h"
#include "tcl_server.h"

#include <QCoreApplication>
#include <QTimer>

#include <tcl.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

namespace {

using TclServer = EngineFixture;

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// ---- object commands ----

TEST_F(TclServer, NewSelDelete_BuildAndPruneTheTree) {
    EXPECT_EQ(Run("new n3dnode /usr/share/scene/avmodel"), "/usr/share/scene/avmodel");
    ASSERT_NE(Get<nTransformNode>("/usr/share/scene/avmodel"), nullptr);
    EXPECT_EQ(kernel->Lookup("/usr/share/scene/avmodel")->GetClass(), "n3dnode");

    EXPECT_EQ(Run("sel /usr/share/scene/avmodel"), "/usr/share/scene/avmodel");
    EXPECT_EQ(Run("new n3dnode body"), "/usr/share/scene/avmodel/body");
    EXPECT_EQ(Run("new nmaterialnode matlib/dynamic_color"),
              "/usr/share/scene/avmodel/matlib/dynamic_color");
    Run("body.txyz 1 2 3");
    auto* body = Get<nTransformNode>("/usr/share/scene/avmodel/body");
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(body->GetPosition(), (Vector3{1, 2, 3}));
    EXPECT_EQ(Run("exists body"), "1");
    EXPECT_EQ(Run("exists /usr/share/scene/avmodel/matlib/dynamic_color"), "1");

    Run("delete /usr/share/scene/avmodel");
    EXPECT_EQ(kernel->Lookup("/usr/share/scene/avmodel"), nullptr);
    EXPECT_EQ(Run("exists /usr/share/scene/avmodel/body"), "0");
    // The selected object went with its tree: the root is selected again.
    EXPECT_EQ(Run("sel"), "/");
}

TEST_F(TclServer, NewAtAnExistingPath_GivesTheObjectThere) {
    Run("new n3dnode /scene/a");
    nRoot* first = kernel->Lookup("/scene/a");
    EXPECT_EQ(Run("new n3dnode /scene/a"), "/scene/a");
    EXPECT_EQ(kernel->Lookup("/scene/a"), first);
}

TEST_F(TclServer, BadObjectCommands_GiveErrorsNamingWhatFailed) {
    EXPECT_EQ(RunFailing("new nosuchclass /scene/x"),
              "new: could not create object '/scene/x' of class 'nosuchclass'");
    EXPECT_EQ(kernel->Lookup("/scene/x"), nullptr);
    EXPECT_EQ(RunFailing("sel /no/such/object"), "sel: object '/no/such/object' not found");
    EXPECT_EQ(RunFailing("delete /no/such/object"), "delete: object '/no/such/object' not found");
    EXPECT_NE(RunFailing("new n3dnode").find("wrong # args"), std::string::npos);
}

TEST_F(TclServer, DeletingTheRootOrTheRunningServer_IsRefused) {
    EXPECT_NE(RunFailing("delete /").find("root"), std::string::npos);
    EXPECT_EQ(RunFailing("delete /sys/servers/script"),
              "delete: object '/sys/servers/script' holds the running script server");
    EXPECT_EQ(RunFailing("delete /sys"), "delete: object '/sys' holds the running script server");
    EXPECT_EQ(kernel->Lookup("/sys/servers/script"), script);
    EXPECT_EQ(Run("expr {1 + 1}"), "2");
}

// ---- object calls ----

TEST_F(TclServer, ObjectCall_WithAbsoluteAndRelativePaths_ReachesTheObject) {
    Run("new n3dnode /scene/car");
    Run("new n3dnode /scene/car/wheel");
    Run("/scene/car.rxyz 0 90 0");
    EXPECT_EQ(Run("/scene/car.getrxyz"), "0 90 0");
    Run("sel /scene/car");
    Run("wheel.sxyz 2 2 2");
    EXPECT_EQ(Get<nTransformNode>("/scene/car/wheel")->GetScale(), (Vector3{2, 2, 2}));
    Run("sel /scene/car/wheel");
    Run("../wheel.txyz 5 6 7");
    EXPECT_EQ(Run("/scene/car/wheel.gettxyz"), "5 6 7");
}

TEST_F(TclServer, UnknownObjectOrMethod_GivesErrorNamingIt) {
    EXPECT_EQ(RunFailing("/sys/nothing.start"), "object '/sys/nothing' not found");
    Run("new n3dnode /scene/a");
    EXPECT_EQ(RunFailing("/scene/a.fly 1 2"),
              "object '/scene/a' of class 'n3dnode' has no method 'fly'");
    EXPECT_NE(RunFailing("/scene/a.txyz 1 2").find("wrong # args"), std::string::npos);
    EXPECT_EQ(RunFailing("/scene/a.txyz 1 two 3"), "txyz: 'two' is not a number");
}

TEST_F(TclServer, BareWord_IsAMethodOfTheSelectedObject) {
    Run("new nmaterialnode /usr/share/scene/avmodel/matlib/dynamic_color");
    Run("sel /usr/share/scene/avmodel/matlib/dynamic_color");
    Run("set_diffuse_by_name Red");
    Rgba red;
    ASSERT_TRUE(ColourByName("red", red));
    EXPECT_EQ(Get<nMaterialNode>("/usr/share/scene/avmodel/matlib/dynamic_color")->GetDiffuse(),
              red);
    EXPECT_EQ(RunFailing("set_diffuse_by_name Plaid"), "unknown colour 'Plaid'");
}

TEST_F(TclServer, BareWordThatIsNoMethod_FallsBackToTclsUnknown) {
    EXPECT_EQ(RunFailing("nosuchcommand 1 2"), "invalid command name \"nosuchcommand\"");
    // Tcl's own unknown still loads library procedures on demand: parray's own usage error.
    EXPECT_NE(RunFailing("parray").find("parray a ?pattern?"), std::string::npos);
}

TEST_F(TclServer, HelpWindowTitleCommand_SetsTheLabelText) {
    Run("new zuwLabel /usr/share/gui/helpwindow/lbl_main_title/widget");
    Run("/usr/share/gui/helpwindow/lbl_main_title/widget.settext \"Help for Pelora V2.1\"");
    auto* label = Get<zuwLabel>("/usr/share/gui/helpwindow/lbl_main_title/widget");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->getText(), "Help for Pelora V2.1");
}

TEST_F(TclServer, WordWithTclMetacharacters_ArrivesUnchanged) {
    Run("new zuwLabel /gui/label");
    const std::string tricky = "a b [expr 1] {x} $y \"q\" \\n ; # end";
    ASSERT_NE(Tcl_SetVar(static_cast<nTclServer*>(script)->GetInterp(), "tricky", tricky.c_str(),
                         TCL_GLOBAL_ONLY),
              nullptr);
    Run("/gui/label.settext $tricky");
    EXPECT_EQ(Get<zuwLabel>("/gui/label")->getText(), tricky);
    Run("/gui/label.settext {Help [for] $Pelora \"V2.1\"}");
    EXPECT_EQ(Get<zuwLabel>("/gui/label")->getText(), "Help [for] $Pelora \"V2.1\"");
    EXPECT_EQ(Run("/gui/label.gettext"), "Help [for] $Pelora \"V2.1\"");
}

TEST_F(TclServer, LauncherVariables_CanBeSetBeforeTheNetworkScriptRuns) {
    EXPECT_EQ(Run("set net::wv_connect 1"), "1");
    EXPECT_EQ(Run("set skill::level 3"), "3");
}

TEST_F(TclServer, ReturnAtTopLevel_GivesItsValue) {
    Run("set net::state online");
    EXPECT_EQ(Run("return $net::state"), "online");
    EXPECT_EQ(RunFailing("break"), "invoked \"break\" outside of a loop");
}

// ---- puts ----

TEST_F(TclServer, Puts_ToStdoutGoesToTheEngineLog) {
    fakes::LogRecorder log;
    Run("puts hello");
    Run("puts stdout {two words}");
    Run("puts -nonewline part");
    Run("puts -nonewline stdout tail");
    ASSERT_EQ(log.lines.size(), 4u);
    EXPECT_EQ(log.lines[0], "hello\n");
    EXPECT_EQ(log.lines[1], "two words\n");
    EXPECT_EQ(log.lines[2], "part");
    EXPECT_EQ(log.lines[3], "tail");
}

TEST_F(TclServer, PutsToAFile_WritesTheFileNotTheLog) {
    fakes::LogRecorder log;
    auto file = home / "out.txt";
    Run("set f [open {" + file.string() +
        "} w]; puts $f first; puts -nonewline $f second; "
        "close $f");
    EXPECT_EQ(ReadAll(file), "first\nsecond");
    EXPECT_FALSE(log.Contains("first"));
    EXPECT_NE(RunFailing("puts nosuchchannel text").find("nosuchchannel"), std::string::npos);
}

// ---- scripts ----

TEST_F(TclServer, RunScript_WithAnAssignPath_RunsTheFile) {
    home.WriteFile("scripts/audio.tcl", "set ::ran audio\nreturn done\n");
    std::string result;
    EXPECT_TRUE(script->RunScript("scripts:audio.tcl", result)) << result;
    EXPECT_EQ(Run("set ::ran"), "audio");
}

TEST_F(TclServer, RunScript_WithARelativePath_UsesTheCurrentDirectory) {
    home.WriteFile("worlds/park/go.tcl", "new n3dnode /usr/share/scene/world\n");
    std::filesystem::current_path(home / "worlds/park");
    EXPECT_EQ(Run("file exists go.tcl"), "1");
    std::string result;
    EXPECT_TRUE(script->RunScript("go.tcl", result)) << result;
    EXPECT_NE(kernel->Lookup("/usr/share/scene/world"), nullptr);
    std::filesystem::current_path(home.path());
    EXPECT_EQ(Run("file exists go.tcl"), "0");
}

TEST_F(TclServer, MissingScript_FailsWithAMessageNamingIt) {
    fakes::LogRecorder log;
    std::string result;
    EXPECT_FALSE(script->RunScript("scripts:intertrax.tcl", result));
    EXPECT_NE(result.find("scripts:intertrax.tcl"), std::string::npos);
    EXPECT_TRUE(log.Contains("ERROR: script scripts:intertrax.tcl:"));
}

TEST_F(TclServer, ScriptError_IsLoggedAndTheServerGoesOn) {
    fakes::LogRecorder log;
    home.WriteFile("scripts/bad.tcl", "set ::before 1\nerror {boom here}\nset ::after 1\n");
    std::string result;
    EXPECT_FALSE(script->RunScript("scripts:bad.tcl", result));
    EXPECT_EQ(result, "boom here");
    EXPECT_TRUE(log.Contains("ERROR: script scripts:bad.tcl: boom here\n"));
    EXPECT_TRUE(log.Contains("while executing"));
    EXPECT_EQ(Run("set ::before"), "1");
    EXPECT_EQ(Run("info exists ::after"), "0");
    EXPECT_EQ(Run("expr {6 * 7}"), "42");
}

TEST_F(TclServer, Source_ResolvesAssigns) {
    home.WriteFile("scripts/lib.tcl", "proc ::double {x} { expr {$x * 2} }\n");
    Run("source scripts:lib.tcl");
    EXPECT_EQ(Run("double 21"), "42");
    home.WriteFile("scripts/more.tcl", "proc ::triple {x} { expr {$x * 3} }\n");
    Run("source -encoding utf-8 scripts:more.tcl");
    EXPECT_EQ(Run("triple 5"), "15");
    EXPECT_NE(RunFailing("source scripts:none.tcl").find("none.tcl"), std::string::npos);
}

TEST_F(TclServer, RunWords_PassesEachWordUnsubstituted) {
    Run("proc words args { return [llength $args]:[join $args |] }");
    std::string result;
    ASSERT_TRUE(script->RunWords({"words", "a b", "$x[y]", "{", "\\n;"}, result)) << result;
    EXPECT_EQ(result, "4:a b|$x[y]|{|\\n;");
    EXPECT_FALSE(script->RunWords({"no_such_command", "x"}, result));
    EXPECT_NE(result.find("no_such_command"), std::string::npos);
}

TEST_F(TclServer, SetVariable_EndsAWaitAndKeepsTheWaitingCommandsResult) {
    bool set = false;
    QTimer::singleShot(0, [&] { set = script->SetVariable("::net::state", "online [1]"); });
    EXPECT_EQ(Run("namespace eval net {}; set id [after 10000 {set ::net::state timeout}]; "
                  "vwait ::net::state; after cancel $id; set ::net::state"),
              "online [1]");
    EXPECT_TRUE(set);
    EXPECT_FALSE(script->SetVariable("", "x"));
}

// ---- one event loop ----

TEST_F(TclServer, QtTimerDuringVwait_EndsTheWait) {
    bool fired = false;
    QTimer::singleShot(20, [&] {
        fired = true;
        std::string result;
        EXPECT_TRUE(script->RunCommand("set ::done 1", result));
    });
    // The fallback only keeps a broken build from hanging.
    EXPECT_EQ(Run("set id [after 10000 {set ::done timeout}]; vwait ::done; after cancel $id; "
                  "set ::done"),
              "1");
    EXPECT_TRUE(fired);
}

TEST_F(TclServer, CommandsRunInsideAWait_GiveTheirOwnResults) {
    std::string innerResult;
    bool innerOk = false;
    QTimer::singleShot(0, [&] {
        innerOk = script->RunCommand("set ::done 1; return inner", innerResult);
        std::string ignored;
        script->RunCommand("error {inner failure}", ignored);
    });
    EXPECT_EQ(Run("set id [after 10000 {set ::done timeout}]; vwait ::done; after cancel $id; "
                  "set ::done"),
              "1");
    EXPECT_TRUE(innerOk);
    EXPECT_EQ(innerResult, "inner");
}

TEST_F(TclServer, ProcessEventsFromQtTimersDuringVwait_DoesNotNestThePump) {
    int depth = 0;
    int maxDepth = 0;
    int calls = 0;
    auto tick = [&] {
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        ++calls;
        script->ProcessEvents();
        if (calls == 20) {
            std::string result;
            script->RunCommand("set ::done 1", result);
        }
        --depth;
    };
    QTimer first;
    QTimer second;
    QObject::connect(&first, &QTimer::timeout, tick);
    QObject::connect(&second, &QTimer::timeout, tick);
    first.start(1);
    second.start(1);
    EXPECT_EQ(Run("set id [after 10000 {set ::done timeout}]; vwait ::done; after cancel $id; "
                  "set ::done"),
              "1");
    EXPECT_GE(calls, 20);
    EXPECT_EQ(maxDepth, 1);
}

TEST_F(TclServer, WaitStartedByAClickDuringAWait_AlsoSeesQtEvents) {
    std::string innerResult;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(0, [&] {
            std::string ignored;
            script->RunCommand("set ::inner 1", ignored);
        });
        script->RunCommand("set id [after 10000 {set ::inner timeout}]; vwait ::inner; "
                           "after cancel $id; set ::done $::inner",
                           innerResult);
    });
    EXPECT_EQ(Run("set id [after 20000 {set ::done timeout}]; vwait ::done; after cancel $id; "
                  "set ::done"),
              "1");
    EXPECT_EQ(innerResult, "1");
}

TEST_F(TclServer, QtHandlersThatWaitInsideEachOther_NestOnlyABoundedDepth) {
    int depth = 0;
    int maxDepth = 0;
    int calls = 0;
    std::vector<std::unique_ptr<QTimer>> timers;
    for (int i = 0; i < 8; ++i) {
        timers.push_back(std::make_unique<QTimer>());
        QObject::connect(timers.back().get(), &QTimer::timeout, [&] {
            ++depth;
            maxDepth = std::max(maxDepth, depth);
            std::string ignored;
            script->RunCommand("update", ignored);
            if (++calls == 40)
                script->RunCommand("set ::done 1", ignored);
            --depth;
        });
        timers.back()->start(0);
    }
    EXPECT_EQ(Run("set id [after 10000 {set ::done timeout}]; vwait ::done; after cancel $id; "
                  "set ::done"),
              "1");
    EXPECT_GE(maxDepth, 2);
    EXPECT_LE(maxDepth, 5);
}

TEST_F(TclServer, UpdateAndAfter_KeepQtEventsFlowing) {
    bool fired = false;
    QTimer::singleShot(0, [&] { fired = true; });
    Run("update");
    EXPECT_TRUE(fired);

    fired = false;
    QTimer::singleShot(0, [&] { fired = true; });
    Run("after 30");
    EXPECT_TRUE(fired);
    // Other forms of after are Tcl's own.
    EXPECT_NE(Run("after 1000 {set ::x 1}").find("after#"), std::string::npos);
}

TEST_F(TclServer, ProcessEvents_RunsADueAfterHandler) {
    Run("after 0 {set ::fired yes}");
    EXPECT_EQ(Run("info exists ::fired"), "0");
    EXPECT_TRUE(script->ProcessEvents());
    EXPECT_EQ(Run("set ::fired"), "yes");
}

TEST_F(TclServer, BackgroundError_IsLogged) {
    fakes::LogRecorder log;
    Run("after 0 {error bgboom}");
    script->ProcessEvents();
    script->ProcessEvents();
    EXPECT_TRUE(log.Contains("ERROR: background script: bgboom\n"));
}

TEST_F(TclServer, ServerReleasedDuringAWait_UnwindsTheWaitingCommand) {
    QTimer::singleShot(0, [&] { kernel->Lookup("/sys/servers/script")->Release(); });
    std::string result;
    nScriptServer* server = script;
    script = nullptr;
    EXPECT_FALSE(server->RunCommand("vwait ::never", result));
    EXPECT_EQ(kernel->Lookup("/sys/servers/script"), nullptr);
    EXPECT_NE(result.find("released"), std::string::npos);
}

TEST_F(TclServer, ServerReleasedByAClickInItsOwnPump_GoesSafely) {
    ASSERT_NE(kernel->New("ntclserver", "/sys/servers/other"), nullptr);
    bool released = false;
    QTimer::singleShot(0, [&] {
        kernel->Lookup("/sys/servers/other")->Release();
        released = true;
    });
    // This server's own poll does not pump Qt; the other server's event source does, and the
    // click releases that server while Tcl is still walking the event sources.
    script->ProcessEvents();
    EXPECT_TRUE(released);
    EXPECT_EQ(kernel->Lookup("/sys/servers/other"), nullptr);
    EXPECT_EQ(Run("update; expr {2 + 2}"), "4");
}

TEST_F(TclServer, TwoServers_HaveTheirOwnInterpreters) {
    auto* other = dynamic_cast<nScriptServer*>(kernel->New("ntclserver", "/sys/servers/other"));
    ASSERT_NE(other, nullptr);
    Run("set ::mine 1");
    std::string result;
    EXPECT_TRUE(other->RunCommand("info exists ::mine", result));
    EXPECT_EQ(result, "0");
    other->Release();
    EXPECT_EQ(Run("set ::mine"), "1");
}

} // namespace
