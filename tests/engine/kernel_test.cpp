// The kernel: the object tree (New, Lookup, Release, the selected object), classes by name,
// path assigns and pathate, the engine log and the seeding of a new home folder.
#include "engine/kernel.h"
#include "engine/services.h"

#include "fakes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

class Counted : public nRoot {
public:
    Counted() { ++alive; }
    ~Counted() override { --alive; }
    static int alive;
};
int Counted::alive = 0;

class KernelTest : public ::testing::Test {
protected:
    void SetUp() override { Counted::alive = 0; }
    void TearDown() override { nKernelServer::UnregisterAllClasses(); }

    fakes::TempHome home; // PELORA_HOME for the kernel's assigns
};

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(KernelTest, NewAtFreePath_MakesObjectWithNameClassAndMissingParents) {
    nKernelServer kernel;
    nKernelServer::RegisterClass("counted", [] { return new Counted; });
    nRoot* made = kernel.New("counted", "/usr/share/scene/thing", "nroot");
    ASSERT_NE(made, nullptr);
    EXPECT_NE(dynamic_cast<Counted*>(made), nullptr);
    EXPECT_EQ(made->GetName(), "thing");
    EXPECT_EQ(made->GetClass(), "counted");
    EXPECT_EQ(made->GetFullName(), "/usr/share/scene/thing");
    EXPECT_EQ(made->GetKernel(), &kernel);

    nRoot* parent = kernel.Lookup("/usr/share/scene");
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(parent->GetClass(), "nroot");
    EXPECT_EQ(made->GetParent(), parent);
    EXPECT_EQ(kernel.Lookup("/usr")->GetFullName(), "/usr");
}

TEST_F(KernelTest, PlainKernel_RegistersNoEngineClass_TheRuntimeKernelRegistersThem) {
    nKernelServer plain;
    for (const char* name : {"ntclserver", "nglserver", "pldata", "plnetwork", "nenv"})
        EXPECT_EQ(plain.New(name, (std::string("/plain/") + name).c_str()), nullptr) << name;
    EXPECT_NE(plain.New("nroot", "/plain/node"), nullptr);

    auto runtime = NewRuntimeKernel();
    EXPECT_NE(dynamic_cast<nScriptServer*>(runtime->New("ntclserver", "/sys/servers/script")),
              nullptr);
    EXPECT_NE(dynamic_cast<plData*>(runtime->New("pldata", "/sys/servers/data")), nullptr);
    EXPECT_NE(dynamic_cast<plNetwork*>(runtime->New("plnetwork", "/sys/network")), nullptr);
    EXPECT_NE(dynamic_cast<nEnv*>(runtime->New("nenv", "/sys/env")), nullptr);
}

TEST_F(KernelTest, NewAtTakenPath_GivesTheObjectAlreadyThere) {
    nKernelServer kernel;
    nKernelServer::RegisterClass("counted", [] { return new Counted; });
    nRoot* first = kernel.New("counted", "/sys/servers/data");
    nRoot* second = kernel.New("counted", "/sys/servers/data");
    EXPECT_EQ(first, second);
    EXPECT_EQ(Counted::alive, 1);
    EXPECT_EQ(kernel.Lookup("/sys/servers")->GetChildren().size(), 1u);
}

TEST_F(KernelTest, NewOfUnknownClass_GivesNullAndLogs) {
    nKernelServer kernel;
    fakes::LogRecorder log;
    EXPECT_EQ(kernel.New("nosuchclass", "/sys/thing"), nullptr);
    EXPECT_EQ(kernel.Lookup("/sys/thing"), nullptr);
    EXPECT_TRUE(log.Contains("nosuchclass"));
}

TEST_F(KernelTest, FactoryGivingNullOrThrowing_GivesNull) {
    nKernelServer kernel;
    nKernelServer::RegisterClass("broken", []() -> nRoot* { return nullptr; });
    nKernelServer::RegisterClass("throwing", []() -> nRoot* { throw std::runtime_error("no"); });
    EXPECT_EQ(kernel.New("broken", "/a"), nullptr);
    EXPECT_EQ(kernel.New("throwing", "/b"), nullptr);
    EXPECT_EQ(kernel.Lookup("/a"), nullptr);
    EXPECT_EQ(kernel.Lookup("/b"), nullptr);
}

TEST_F(KernelTest, LookupAfterSetCwd_ResolvesAbsoluteAndRelativePaths) {
    nKernelServer kernel;
    nRoot* gfx = kernel.New("nroot", "/sys/servers/gfx");
    nRoot* servers = kernel.Lookup("/sys/servers");
    ASSERT_NE(gfx, nullptr);
    kernel.SetCwd(servers);
    EXPECT_EQ(kernel.GetCwd(), servers);
    EXPECT_EQ(kernel.Lookup("gfx"), gfx);
    EXPECT_EQ(kernel.Lookup("./gfx"), gfx);
    EXPECT_EQ(kernel.Lookup("../servers/gfx"), gfx);
    EXPECT_EQ(kernel.Lookup("/sys/servers/gfx"), gfx);
    EXPECT_EQ(kernel.Lookup("sys"), nullptr);
    EXPECT_EQ(kernel.Lookup(""), nullptr);
    EXPECT_EQ(kernel.Lookup(nullptr), nullptr);

    nRoot* relative = kernel.New("nroot", "script");
    ASSERT_NE(relative, nullptr);
    EXPECT_EQ(relative->GetFullName(), "/sys/servers/script");

    kernel.SetCwd(nullptr);
    EXPECT_EQ(kernel.GetCwd(), kernel.GetRoot());
    EXPECT_EQ(kernel.Lookup("sys/servers/gfx"), gfx);
    EXPECT_EQ(kernel.Lookup("/"), kernel.GetRoot());
}

TEST_F(KernelTest, Release_FreesTheWholeSubtreeAndResetsTheSelection) {
    nKernelServer kernel;
    nKernelServer::RegisterClass("counted", [] { return new Counted; });
    kernel.New("counted", "/world/a");
    kernel.New("counted", "/world/a/b");
    kernel.New("counted", "/world/a/b/c");
    kernel.New("counted", "/world/other");
    ASSERT_EQ(Counted::alive, 4);
    kernel.SetCwd(kernel.Lookup("/world/a/b"));

    kernel.Lookup("/world/a")->Release();
    EXPECT_EQ(Counted::alive, 1);
    EXPECT_EQ(kernel.Lookup("/world/a"), nullptr);
    EXPECT_EQ(kernel.Lookup("/world/a/b/c"), nullptr);
    EXPECT_NE(kernel.Lookup("/world/other"), nullptr);
    EXPECT_EQ(kernel.GetCwd(), kernel.GetRoot());
}

TEST_F(KernelTest, ReleaseOfTheRoot_IsIgnored) {
    nKernelServer kernel;
    kernel.New("nroot", "/sys");
    kernel.GetRoot()->Release();
    EXPECT_NE(kernel.Lookup("/sys"), nullptr);
}

TEST_F(KernelTest, NewEndingInDots_GivesNull) {
    nKernelServer kernel;
    EXPECT_EQ(kernel.New("nroot", "/missing/.."), nullptr);
    EXPECT_EQ(kernel.New("nroot", "/missing/."), nullptr);
    EXPECT_EQ(kernel.Lookup("/missing"), nullptr);
}

TEST_F(KernelTest, ObjectReleasingASiblingOnDestruction_KernelStillEndsCleanly) {
    nKernelServer::RegisterClass("counted", [] { return new Counted; });
    {
        nKernelServer kernel;
        kernel.New("counted", "/first");
        kernel.New("counted", "/second");
        class ReleasesFirst : public nRoot {
        public:
            ~ReleasesFirst() override {
                if (nRoot* first = nKernelServerInstance()->Lookup("/first"))
                    first->Release();
            }
        };
        nKernelServer::RegisterClass("releaser", [] { return new ReleasesFirst; });
        kernel.New("releaser", "/third");
        EXPECT_EQ(Counted::alive, 2);
    }
    EXPECT_EQ(Counted::alive, 0);
}

TEST_F(KernelTest, KernelDestroyed_FreesEveryObject) {
    nKernelServer::RegisterClass("counted", [] { return new Counted; });
    {
        nKernelServer kernel;
        kernel.New("counted", "/sys/servers/script");
        kernel.New("counted", "/usr/scene/x");
        EXPECT_EQ(nKernelServerInstance(), &kernel);
        EXPECT_EQ(Counted::alive, 2);
    }
    EXPECT_EQ(Counted::alive, 0);
    EXPECT_EQ(nKernelServerInstance(), nullptr);
}

TEST_F(KernelTest, ProcessWideClass_WinsOverTheKernelsOwn) {
    nKernelServer kernel;
    nRoot* plain = kernel.New("nroot", "/plain");
    EXPECT_EQ(dynamic_cast<Counted*>(plain), nullptr);
    nKernelServer::RegisterClass("nroot", [] { return new Counted; });
    nRoot* replaced = kernel.New("nroot", "/replaced");
    EXPECT_NE(dynamic_cast<Counted*>(replaced), nullptr);
    nKernelServer::UnregisterAllClasses();
    EXPECT_EQ(dynamic_cast<Counted*>(kernel.New("nroot", "/again")), nullptr);
}

TEST_F(KernelTest, ObjectCall_AnswersNameClassAndChildren) {
    nKernelServer kernel;
    nRoot* sys = kernel.New("nroot", "/sys/servers");
    std::string result;
    EXPECT_EQ(sys->Call("getfullname", {}, result), nCallStatus::Ok);
    EXPECT_EQ(result, "/sys/servers");
    EXPECT_EQ(kernel.Lookup("/sys")->Call("getchildren", {}, result), nCallStatus::Ok);
    EXPECT_EQ(result, "/sys/servers");
    EXPECT_EQ(sys->Call("nosuchmethod", {}, result), nCallStatus::NoMethod);
}

TEST_F(KernelTest, Pathate_ResolvesTheHomeAssigns) {
    nKernelServer kernel;
    const std::string root = home.path().string();
    EXPECT_EQ(pathate(&kernel, "home:"), root + "/");
    EXPECT_EQ(pathate(&kernel, "users:"), root + "/users/");
    EXPECT_EQ(pathate(&kernel, "users:%s", "guest"), root + "/users/guest");
    EXPECT_EQ(pathate(&kernel, "home:n_runlog.txt"), root + "/n_runlog.txt");
    EXPECT_EQ(pathate(&kernel, "worlds:%s/%s", "Campus", "go.tcl"), root + "/worlds/Campus/go.tcl");
    EXPECT_EQ(pathate(&kernel, "avatars:"), root + "/avatars/");
    EXPECT_EQ(pathate(&kernel, "scripts:netsetup.tcl"), root + "/scripts/netsetup.tcl");
}

TEST_F(KernelTest, ManglePath_LeavesPathsWithoutAKnownAssignAlone) {
    nKernelServer kernel;
    nFileServer2* files = kernel.fileServer;
    ASSERT_NE(files, nullptr);
    for (const char* path :
         {"C:\\Pelora\\users", "nosuch:thing", "/abs/path:x", "relative/path", "a b:c", ""}) {
        EXPECT_EQ(files->ManglePath(path), path);
    }
    EXPECT_EQ(pathate(&kernel, "%s", "plain/file"), "plain/file");
}

TEST_F(KernelTest, DefineAssign_ChainsAndAddsTheSeparator) {
    nKernelServer kernel;
    nFileServer2* files = kernel.fileServer;
    EXPECT_TRUE(files->DefineAssign("meshes", "worlds:Campus/meshes"));
    EXPECT_EQ(files->GetAssign("meshes"), "worlds:Campus/meshes/");
    EXPECT_EQ(files->ManglePath("meshes:floor.obj"),
              home.path().string() + "/worlds/Campus/meshes/floor.obj");
    EXPECT_EQ(files->GetAssign("undefined"), "");
    EXPECT_FALSE(files->DefineAssign("", "/x"));
}

TEST_F(KernelTest, AssignPointingAtItself_DoesNotLoopForever) {
    nKernelServer kernel;
    nFileServer2* files = kernel.fileServer;
    files->DefineAssign("loop", "loop:");
    files->DefineAssign("ping", "pong:");
    files->DefineAssign("pong", "ping:");
    EXPECT_EQ(files->ManglePath("loop:x"), "loop:x");
    EXPECT_EQ(files->ManglePath("ping:y"), "ping:y");
}

TEST_F(KernelTest, NPrintf_ReachesTheLogFileAndTheHook) {
    nKernelServer kernel;
    fakes::LogRecorder hook;
    std::string logPath = pathate(&kernel, "home:n_runlog.txt");
    kernel.Log(logPath.c_str());
    n_printf("Creating %s gfx server\n", "Direct3D");
    n_printf("WARN %s/%d: %s\n", "src/x.cpp", 12, "careful");
    kernel.Log(nullptr);
    n_printf("after the log was closed\n");

    EXPECT_EQ(ReadText(logPath), "Creating Direct3D gfx server\nWARN src/x.cpp/12: careful\n");
    ASSERT_EQ(hook.lines.size(), 3u);
    EXPECT_EQ(hook.lines[0], "Creating Direct3D gfx server\n");
    EXPECT_EQ(hook.lines[2], "after the log was closed\n");
}

TEST_F(KernelTest, NBarf_ReportsToTheHandlerWithFileAndLine) {
    fakes::LogRecorder log;
    std::string seen;
    n_setbarfhandler([&seen](const char* expression, const char* file, int line) {
        seen = std::string(expression) + "@" + file + ":" + std::to_string(line);
        throw std::runtime_error("stop");
    });
    EXPECT_THROW(n_barf("x > 0", "engine/thing.cpp", 42), std::runtime_error);
    n_setbarfhandler(nullptr);
    EXPECT_EQ(seen, "x > 0@engine/thing.cpp:42");
    EXPECT_TRUE(log.Contains("x > 0"));
    EXPECT_TRUE(log.Contains("engine/thing.cpp"));
}

class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            had_ = true;
            old_ = old;
        }
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (had_) {
            setenv(name_, old_.c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

TEST_F(KernelTest, HomeThatDoesNotExistYet_IsSeededFromTheInstalledHome) {
    std::filesystem::path installed = home / "installed";
    home.WriteFile("installed/apps/pelox/scripts/startup.tcl", "# start\n");
    home.WriteFile("installed/scripts/netsetup.tcl", "# net\n");
    std::filesystem::path fresh = home / "fresh" / "home";
    ScopedEnvironment installedHome("PELORA_INSTALLED_HOME", installed.string());
    ScopedEnvironment peloraHome("PELORA_HOME", fresh.string());

    nKernelServer kernel;
    EXPECT_EQ(pathate(&kernel, "home:"), fresh.string() + "/");
    EXPECT_EQ(ReadText(fresh / "apps/pelox/scripts/startup.tcl"), "# start\n");
    EXPECT_EQ(ReadText(fresh / "scripts/netsetup.tcl"), "# net\n");
}

TEST_F(KernelTest, HomeThatExists_IsNotSeeded) {
    home.WriteFile("installed/apps/pelox/scripts/startup.tcl", "# start\n");
    home.MakeDir("mine");
    ScopedEnvironment installedHome("PELORA_INSTALLED_HOME", (home / "installed").string());
    ScopedEnvironment peloraHome("PELORA_HOME", (home / "mine").string());

    nKernelServer kernel;
    EXPECT_EQ(pathate(&kernel, "home:"), (home / "mine").string() + "/");
    EXPECT_FALSE(std::filesystem::exists(home / "mine" / "apps"));
}

} // namespace
