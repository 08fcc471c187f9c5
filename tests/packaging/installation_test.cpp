// The installation: cmake --install into a temporary prefix holds every file a machine needs,
// the installed launcher on a fresh account makes its home from the installed default home and
// runs the installed tool, and the Debian package is built with Debian's package names and
// holds the same files.
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <stdlib.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct ProgramRun {
    int code = -1;
    std::string output; // standard output and error together
};

ProgramRun
RunProgram(const QString& program, const QStringList& arguments,
           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
           const QString& folder = "/", int seconds = 300) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForStarted(10000)) {
        run.output = "did not start: " + program.toStdString();
        return run;
    }
    if (!process.waitForFinished(seconds * 1000)) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.output = process.readAll().toStdString();
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return run;
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Files under `root`, as paths relative to it.
std::set<std::string> FilesUnder(const fs::path& root) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files.insert(fs::relative(entry.path(), root).string());
    return files;
}

// The default home as it is installed: the source tree's, without the guest account.
std::set<std::string> InstalledHomeFiles() {
    std::set<std::string> files;
    for (const std::string& file : FilesUnder(fs::path(PELORA_SOURCE_DIR) / "home"))
        if (file.rfind("users/guest/", 0) != 0)
            files.insert(file);
    return files;
}

class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = (fs::temp_directory_path() / "pelora-install-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
    }
    ~TemporaryFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

class Installation : public ::testing::Test {
protected:
    // cmake --install of the build tree into the temporary prefix.
    void Install() {
        ProgramRun run =
            RunProgram(CMAKE_COMMAND, {"--install", PELORA_BUILD_DIR, "--prefix",
                                       QString::fromStdString(prefix.path().string())});
        ASSERT_EQ(run.code, 0) << run.output;
    }
    fs::path Installed(const std::string& relative) const { return prefix.path() / relative; }

    TemporaryFolder prefix;
};

TEST_F(Installation, CmakeInstall_PutsEveryFileUnderThePrefix) {
    Install();

    for (const char* program : {"bin/pelox", "bin/plconfig"}) {
        EXPECT_TRUE(fs::is_regular_file(Installed(program))) << program;
        EXPECT_EQ(::access(Installed(program).c_str(), X_OK), 0) << program;
    }
    for (const char* file :
         {"share/applications/pelora.desktop", "share/applications/pelora-plconfig.desktop",
          "share/icons/hicolor/48x48/apps/pelora.png", "share/doc/pelora/README.md",
          "share/doc/pelora/home-folder.md", "share/doc/pelora/protocol.md",
          "share/doc/pelora/scaling.md", "share/doc/pelora/world-layout.md",
          "share/doc/pelora/copyright", "share/doc/pelora/changelog.gz",
          "share/man/man1/pelox.1.gz", "share/man/man1/plconfig.1.gz"})
        EXPECT_TRUE(fs::is_regular_file(Installed(file))) << file;
    EXPECT_EQ(FilesUnder(Installed("share/pelora/home")), InstalledHomeFiles());
    EXPECT_TRUE(fs::is_directory(Installed("share/pelora/home/users")));
    EXPECT_FALSE(fs::exists(Installed("share/pelora/home/users/guest")))
        << "a guest account in the installed home would skip the first-run set-up";

    if (PELORA_HAVE_SERVER) {
        EXPECT_EQ(::access(Installed("bin/pelora-server").c_str(), X_OK), 0);
        const std::string unit = ReadText(Installed("lib/systemd/system/pelora-server.service"));
        EXPECT_NE(unit.find("ExecStart=" + Installed("bin/pelora-server").string() + " "),
                  std::string::npos)
            << unit;
        EXPECT_TRUE(fs::is_regular_file(Installed("share/doc/pelora/pelora-server.conf.example")));
        EXPECT_TRUE(fs::is_regular_file(Installed("share/man/man8/pelora-server.8.gz")));
    } else {
        EXPECT_FALSE(fs::exists(Installed("lib/systemd/system/pelora-server.service")))
            << "no unit for a server that is not installed";
    }
}

TEST_F(Installation, DesktopEntries_StartInstalledProgramsWithTheInstalledIcon) {
    Install();

    for (const auto& [entry, program] :
         {std::pair{"pelora.desktop", "pelox"}, std::pair{"pelora-plconfig.desktop", "plconfig"}}) {
        const fs::path path = Installed(std::string("share/applications/") + entry);
        const std::string text = ReadText(path);
        EXPECT_NE(text.find(std::string("\nExec=") + program + "\n"), std::string::npos) << text;
        EXPECT_NE(text.find("\nIcon=pelora\n"), std::string::npos) << text;
        EXPECT_NE(text.find("\nTerminal=false\n"), std::string::npos) << text;
        const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
        if (validator.isEmpty())
            continue; // the other checks still ran
        ProgramRun run = RunProgram(validator, {QString::fromStdString(path.string())});
        EXPECT_EQ(run.code, 0) << run.output;
        EXPECT_EQ(run.output, "") << run.output;
    }
}

// A fresh account on a machine with Pelora installed: no PELORA_HOME, an empty home folder,
// no display. The launcher makes the account's home from the installed default home, finds the
// installed tool beside it for the first run, and drives once as guest.
TEST_F(Installation, InstalledLauncherOnAFreshAccount_SetsUpFromTheInstalledFiles) {
    Install();
    TemporaryFolder account;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name :
         {"PELORA_HOME", "PELORA_INSTALLED_HOME", "XDG_DATA_HOME", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(name);
    environment.insert("HOME", QString::fromStdString(account.path().string()));
    environment.insert("QT_QPA_PLATFORM", "offscreen");

    ProgramRun quickStart = RunProgram(QString::fromStdString(Installed("bin/pelox").string()),
                                       {"-quick"}, environment);

    EXPECT_EQ(quickStart.code, 0) << quickStart.output;
    EXPECT_NE(quickStart.output.find("being run for the first time"), std::string::npos)
        << quickStart.output;
    EXPECT_NE(quickStart.output.find("plconfig --add-user NAME"), std::string::npos)
        << quickStart.output;
    const fs::path home = account.path() / ".local/share/pelora/home";
    EXPECT_TRUE(fs::is_regular_file(home / "apps/pelox/scripts/startup.tcl"));
    // Made by the installed tool: the source tree's guest folder would hold a ".keep".
    EXPECT_TRUE(fs::is_directory(home / "users/guest"));
    EXPECT_FALSE(fs::exists(home / "users/guest/.keep"));
    EXPECT_NE(ReadText(home / "n_runlog.txt").find("startWorld()   user: guest"),
              std::string::npos);

    ProgramRun list = RunProgram(QString::fromStdString(Installed("bin/plconfig").string()),
                                 {"--list"}, environment);
    EXPECT_EQ(list.code, 0) << list.output;
    EXPECT_EQ(list.output, "guest\n");
}

// The unit as written for the configured prefix, checked by systemd's own reader with a stand-in
// for the program (the server may not be built here).
TEST(ServerUnit, RunsTheServerAsItsSystemUserWithAStateFolder) {
    const std::string unit =
        ReadText(fs::path(PELORA_BUILD_DIR) / "packaging/pelora-server.service");
    ASSERT_FALSE(unit.empty());
    const std::string program = std::string(PELORA_INSTALL_BIN_DIR) + "/pelora-server";
    EXPECT_NE(unit.find("\nExecStart=" + program +
                        " --data-dir /var/lib/pelora-server $PELORA_SERVER_OPTIONS\n"),
              std::string::npos)
        << unit;
    for (const char* line :
         {"\nUser=pelora-server\n", "\nGroup=pelora-server\n", "\nStateDirectory=pelora-server\n",
          "\nEnvironmentFile=-/etc/default/pelora-server\n", "\nWantedBy=multi-user.target\n"})
        EXPECT_NE(unit.find(line), std::string::npos) << line;

    const QString analyzer = QStandardPaths::findExecutable("systemd-analyze");
    if (analyzer.isEmpty())
        GTEST_SKIP() << "systemd-analyze is not installed; the unit's syntax was not checked";
    TemporaryFolder folder;
    const fs::path standIn = folder.path() / "pelora-server";
    std::ofstream(standIn) << "#!/bin/sh\n";
    fs::permissions(standIn, fs::perms::owner_all);
    std::string copy = unit;
    copy.replace(copy.find(program), program.size(), standIn.string());
    std::ofstream(folder.path() / "pelora-server.service") << copy;
    ProgramRun verify = RunProgram(
        analyzer,
        {"verify", QString::fromStdString((folder.path() / "pelora-server.service").string())});
    EXPECT_EQ(verify.code, 0) << verify.output;
    EXPECT_EQ(verify.output.find("pelora-server.service:"), std::string::npos) << verify.output;
}

// Built once and checked whole: its fields, its files, its maintainer scripts, and Debian's
// package checker, lintian, which must report no error.
TEST(DebianPackage, IsBuiltWithDebianDependenciesHoldsTheInstalledFilesAndPassesLintian) {
    const QString dpkgDeb = QStandardPaths::findExecutable("dpkg-deb");
    if (dpkgDeb.isEmpty() || QStandardPaths::findExecutable(CPACK_COMMAND).isEmpty())
        GTEST_SKIP() << "dpkg-deb or cpack is not installed";
    TemporaryFolder output;
    ProgramRun cpack = RunProgram(CPACK_COMMAND,
                                  {"--config", QString(PELORA_BUILD_DIR) + "/CPackConfig.cmake",
                                   "-B", QString::fromStdString(output.path().string())},
                                  QProcessEnvironment::systemEnvironment(), PELORA_BUILD_DIR, 900);
    ASSERT_EQ(cpack.code, 0) << cpack.output;
    const fs::path package = output.path() / ("pelora_" PELORA_VERSION "_amd64.deb");
    ASSERT_TRUE(fs::is_regular_file(package)) << cpack.output;

    ProgramRun fields = RunProgram(
        dpkgDeb, {"-f", QString::fromStdString(package.string()), "Package", "Version", "Depends"});
    EXPECT_NE(fields.output.find("Package: pelora\n"), std::string::npos) << fields.output;
    EXPECT_NE(fields.output.find("Version: " PELORA_VERSION "\n"), std::string::npos);
    for (const char* dependency : {"libqt6widgets6", "libqt6gui6", "libtcl8.6", "libsodium23"})
        EXPECT_NE(fields.output.find(dependency), std::string::npos) << fields.output;

    ProgramRun contents = RunProgram(dpkgDeb, {"-c", QString::fromStdString(package.string())});
    ASSERT_EQ(contents.code, 0) << contents.output;
    std::set<std::string> files;
    std::istringstream lines(contents.output);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line[0] == '-')
            files.insert(line.substr(line.find("./") + 2));
    std::set<std::string> expected = {"usr/bin/pelox",
                                      "usr/bin/plconfig",
                                      "usr/share/applications/pelora.desktop",
                                      "usr/share/applications/pelora-plconfig.desktop",
                                      "usr/share/icons/hicolor/48x48/apps/pelora.png",
                                      "usr/share/doc/pelora/README.md",
                                      "usr/share/doc/pelora/home-folder.md",
                                      "usr/share/doc/pelora/protocol.md",
                                      "usr/share/doc/pelora/scaling.md",
                                      "usr/share/doc/pelora/world-layout.md",
                                      "usr/share/doc/pelora/copyright",
                                      "usr/share/doc/pelora/changelog.gz",
                                      "usr/share/man/man1/pelox.1.gz",
                                      "usr/share/man/man1/plconfig.1.gz"};
    for (const std::string& file : InstalledHomeFiles())
        expected.insert("usr/share/pelora/home/" + file);
    if (PELORA_HAVE_SERVER) {
        expected.insert("usr/bin/pelora-server");
        expected.insert("usr/lib/systemd/system/pelora-server.service");
        expected.insert("usr/share/doc/pelora/pelora-server.conf.example");
        expected.insert("usr/share/man/man8/pelora-server.8.gz");
    }
    EXPECT_EQ(files, expected);

    if (PELORA_HAVE_SERVER) {
        // The server's system user and data folder are made on installation; the service is
        // not started unasked.
        ProgramRun postinst =
            RunProgram(dpkgDeb, {"-I", QString::fromStdString(package.string()), "postinst"});
        EXPECT_EQ(postinst.code, 0) << postinst.output;
        for (const char* step : {"adduser --system", "chown pelora-server:pelora-server",
                                 "chmod 0750 /var/lib/pelora-server", "daemon-reload"})
            EXPECT_NE(postinst.output.find(step), std::string::npos) << step;
        EXPECT_EQ(postinst.output.find("systemctl start"), std::string::npos);
        EXPECT_EQ(postinst.output.find("enable"), std::string::npos);
    }

    const QString lintian = QStandardPaths::findExecutable("lintian");
    if (lintian.isEmpty())
        GTEST_SKIP() << "lintian is not installed; the package was not checked by it";
    ProgramRun check = RunProgram(lintian,
                                  {"--fail-on", "error", "--tag-display-limit", "0",
                                   QString::fromStdString(package.string())},
                                  QProcessEnvironment::systemEnvironment(), "/", 600);
    EXPECT_EQ(check.code, 0) << check.output;
    EXPECT_EQ(check.output.find("\nE: "), std::string::npos) << check.output;
    EXPECT_NE(check.output.rfind("E: ", 0), 0u) << check.output;

    if (PELORA_HAVE_SERVER) {
        ProgramRun unit = RunProgram("/bin/sh", {"-c",
                                                 "dpkg-deb --fsys-tarfile \"$0\" | tar -xO "
                                                 "./usr/lib/systemd/system/pelora-server.service",
                                                 QString::fromStdString(package.string())});
        EXPECT_NE(unit.output.find("\nExecStart=/usr/bin/pelora-server "), std::string::npos)
            << unit.output;
    }
}

} // namespace
