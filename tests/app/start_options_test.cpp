// Command lines that end at once, and what settings files give back.
#include "app/start_options.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(StartOptions, CommandLinesThatEndAtOnce)
{
    const struct {
        QStringList args;
        QString password; // from the environment
        int status;
        const char* says;
    } cases[] = {
        {{"--help"}, "", 0, "--range <tones>"},
        {{"--version"}, "", 0, "tirvane 1.0"},
        {{"--plot"}, "", 2, "TIRVANE_PASSWORD"},
        {{"--plot"}, "a\r\nreboot", 2, "control character"},
        {{"--password", "x"}, "", 2, "Unknown option 'password'"},
        {{"--range", "0 - 255"}, "", 2, "--range must be"},
        {{"--router", "cisco"}, "", 2, "--router must be zyxel, broadcom, lantiq or draytek, not 'cisco'"},
        {{"--host", ""}, "", 2, "--host needs an address"},
        {{"--host", QString(256, 'a')}, "", 2, "--host is longer than 255"},
        {{"--username", "a\nb"}, "", 2, "--username holds a control"},
        {{"192.168.1.1"}, "", 2, "unexpected argument"},
        {{"--report", ""}, "", 2, "--report needs a file name"},
        {{"--report", "r.pdf", "--since", "last week"}, "", 2, "--since takes an ISO 8601"},
        {{"--report", "r.pdf", "--since", "2026-12-07", "--until", "2026-12-01"}, "", 2, "--since must come before"},
        {{"--report", "r.pdf", "--plot"}, "1234", 2, "--plot is for the window"},
        {{"--since", "2026-12-01"}, "", 2, "--since goes with --report"},
        {{"--line", "home"}, "", 2, "--line goes with --report"},
        {{"--report", "r.pdf", "--line", "home", "--host", "127.0.0.1"}, "", 2, "give --line or --host, not both"},
        {{"--port", "0"}, "", 2, "--port must be a number from 1 to 65535, not '0'"},
        {{"--port", "23x"}, "", 2, "--port must be"},
        {{"--report", "r.pdf", "--port", "2323"}, "", 2, "--port is for the window"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(("tirvane " + c.args.join(' ')).toStdString());
        const TCommandLine line = ParseCommandLine(QStringList{"/usr/bin/tirvane"} + c.args, c.password);
        EXPECT_FALSE(line.Start);
        EXPECT_EQ(line.ExitStatus, c.status);
        EXPECT_TRUE(line.Text.contains(QString::fromLatin1(c.says))) << line.Text.toStdString();
    }
}

TEST(StartOptions, SettingsFilesGiveSensibleFields)
{
    QTemporaryDir dir;
    const TStartFields defaults;
    const struct {
        const char* name;
        QString content; // empty: no file at all
        TStartFields fields;
    } cases[] = {
        {"missing", "", defaults},
        {"folder", "folder", defaults}, // a folder where the file should be: unreadable
        {"nonsense", "[Window]\nHost=" + QString(10000, 'h') + "\nUsername=a\\nb\nPrompt=a, b\nRange=7\n",
            defaults},
        {"empty host", "[Window]\nHost=\nPrompt=\n", {"192.168.1.1", "", "", TRangeChoice::rc0To255}},
        {"binary", QString::fromLatin1("\x01\xff[[[\0=\n", 8), defaults},
        {"router", "[Window]\nRouter=lantiq\n",
            {"192.168.1.1", "", ">", TRangeChoice::rc0To255, TRouterFamily::Lantiq}},
        {"unknown router", "[Window]\nRouter=cisco\n", defaults},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromLatin1(c.name) + ".conf");
        QFile file(path);
        ASSERT_TRUE(c.content == "folder" ? QDir().mkpath(path)
                                          : c.content.isEmpty() || (file.open(QIODevice::WriteOnly)
                                                && file.write(c.content.toLatin1()) && file.flush()));
        EXPECT_TRUE(ReadStartFields(path) == c.fields);
    }
    // The router is remembered with the Host, and --router puts its own over it.
    TStartFields draytek = defaults;
    draytek.Router = TRouterFamily::Draytek;
    ASSERT_TRUE(WriteStartFields(dir.filePath("router.conf"), draytek));
    EXPECT_TRUE(ReadStartFields(dir.filePath("router.conf")) == draytek);
    const TCommandLine line = ParseCommandLine({"/usr/bin/tirvane", "--router", "broadcom"}, "");
    ASSERT_TRUE(line.Start);
    EXPECT_EQ(WithOptions(draytek, line.Options).Router, TRouterFamily::Broadcom);
    // A file that cannot be written says so.
    EXPECT_FALSE(WriteStartFields(dir.filePath("folder.conf"), defaults));
}

// Notices of line events are on unless the file clearly turns them off.
TEST(NotifyEventsSetting, ReadAsWrittenAndOnOtherwise)
{
    QTemporaryDir dir;
    const struct {
        const char* name;
        const char* fileText; // nullptr: no file
        bool expected;
    } cases[] = {
        {"no file", nullptr, true},
        {"no key", "[Window]\nHost=127.0.0.1\n", true},
        {"off", "[Window]\nNotifyEvents=false\n", false},
        {"on", "[Window]\nNotifyEvents=true\n", true},
        {"nonsense", "[Window]\nNotifyEvents=perhaps\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromLatin1(c.name) + QStringLiteral(".conf"));
        if (c.fileText) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(c.fileText);
        }
        EXPECT_EQ(ReadNotifyEvents(path), c.expected);
        for (const bool on : {false, true}) {
            ASSERT_TRUE(WriteNotifyEvents(path, on));
            EXPECT_EQ(ReadNotifyEvents(path), on);
        }
        EXPECT_EQ(ReadStartFields(path).Host, QString::fromLatin1(c.fileText && c.fileText[9] == 'H' ? "127.0.0.1" : "192.168.1.1"));
    }
}

// --report asks for a report instead of a window; the period and host given
// are read back by the report test, here what it takes when none is given.
TEST(StartOptions, ReportOfTheLast30DaysOfTheFirstHost)
{
    const TCommandLine line = ParseCommandLine({"tirvane", "--report", "r.pdf"}, {});
    ASSERT_TRUE(line.Report.has_value());
    EXPECT_TRUE(!line.Start && line.ExitStatus == 0 && line.Report->Path == QStringLiteral("r.pdf"));
    EXPECT_TRUE(line.Report->Host.isEmpty());
    EXPECT_EQ(line.Report->UntilMs - line.Report->SinceMs, 30LL * 24 * 3600 * 1000);
    EXPECT_LE(std::abs(line.Report->UntilMs - QDateTime::currentMSecsSinceEpoch()), 60'000);
}
