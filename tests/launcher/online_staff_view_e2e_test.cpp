// End to end: a `pelox -quick` drive online reaches the site's staff. The built launcher drives
// once and sends the sealed data file; the server reads it, and the staff view shows the drive
// with its whole path.
#include "online_fixture.h"

#include "settings/global_settings.h"
#include "staff_client.h"

#include <QProcess>
#include <QProcessEnvironment>

namespace launcher_test {
namespace {

using OnlineStaffView = OnlineTest;

// The number in the figures table's row headed `name`.
std::string FigureOf(const std::string& html, const std::string& name) {
    auto at = html.find("<th scope=\"row\">" + name + "</th><td>");
    if (at == std::string::npos)
        return "";
    at = html.find("<td>", at) + 4;
    return html.substr(at, html.find('<', at) - at);
}

TEST_F(OnlineStaffView, AQuickOnlineDriveAppearsWithItsPath) {
    ASSERT_NO_FATAL_FAILURE(MakeUser("ann", "secret"));
    {
        GlobalSettings settings((home / "globalSettings").string());
        settings.setUserName("ann");
        settings.setDriveMode("online");
    }
    QProcess pelox;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PELORA_HOME", QString::fromStdString(home.path().string()));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.remove("PELORA_AUTODRIVE");
    pelox.setProcessEnvironment(environment);
    pelox.setProcessChannelMode(QProcess::MergedChannels);
    pelox.start(PELOX_PROGRAM, {"-quick"});
    ASSERT_TRUE(pelox.waitForStarted(10000));
    const bool ended = pelox.waitForFinished(30000);
    if (!ended)
        pelox.kill();
    ASSERT_TRUE(ended) << pelox.readAll().toStdString();
    ASSERT_EQ(pelox.exitCode(), 0) << home.ReadFile("n_runlog.txt");
    const auto onServer = ServerFiles("ann");
    ASSERT_EQ(onServer.size(), 1u);
    const std::string stored = onServer.begin()->first;
    EXPECT_NE(stored.find(".sealed"), std::string::npos) << stored;

    // A staff account, and the server again with its staff view.
    ASSERT_EQ(server.Stop(), 0);
    QProcess add;
    add.start(PELORA_SERVER_PROGRAM,
              {"--config", "/dev/null", "--data-dir",
               QString::fromStdString(serverData.path().string()), "--argon2-ops", "1",
               "--argon2-memory", "8", "--add-staff", "nurse"});
    ASSERT_TRUE(add.waitForStarted(10000));
    add.write("long enough\n");
    add.closeWriteChannel();
    ASSERT_TRUE(add.waitForFinished(10000));
    ASSERT_EQ(add.exitCode(), 0) << add.readAllStandardError().toStdString();
    int staffPort = pelora_test::FreeLoopbackPort();
    std::vector<std::string> arguments = pelora_test::ServerProcess::FastArguments();
    arguments.insert(arguments.end(), {"--staff-port", std::to_string(staffPort), "--staff-bind",
                                       "127.0.0.1", "--worlds", PELORA_SOURCE_DIR "/home/worlds"});
    std::string error;
    ASSERT_TRUE(server.Start(PELORA_SERVER_PROGRAM, serverData.path().string(), arguments, error))
        << error;

    pelora_test::StaffClient browser(staffPort, serverData.path().string() + "/tls/server.pem");
    ASSERT_EQ(browser.Login("nurse", "long enough").status, 303);
    pelora_test::Reply trainee = browser.Get("/trainee?name=ann");
    ASSERT_EQ(trainee.status, 200);
    std::string drive;
    for (const std::string& href : pelora_test::AttributeValues(trainee.body, "href"))
        if (href.rfind("/drive?id=", 0) == 0)
            drive = href;
    ASSERT_FALSE(drive.empty()) << trainee.body;
    pelora_test::Reply page = browser.Get(drive);
    ASSERT_EQ(page.status, 200);
    EXPECT_EQ(FigureOf(page.body, "Data file"), stored + " (sealed)");
    const int samples = std::atoi(FigureOf(page.body, "Trajectory samples").c_str());
    EXPECT_GT(samples, 10) << "a drive of seconds, sampled 10 times a second";
    auto start = page.body.find("id=\"trajectory\" points=\"");
    ASSERT_NE(start, std::string::npos);
    start += 24;
    std::string points = page.body.substr(start, page.body.find('"', start) - start);
    EXPECT_EQ(std::count(points.begin(), points.end(), ','), samples);
}

} // namespace
} // namespace launcher_test
