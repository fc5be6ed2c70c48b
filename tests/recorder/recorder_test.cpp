// tirvane-recorder as a service runs it: against the router simulator on
// loopback (in a private network namespace), its configuration refused
// with one line, its readings kept across TERM, its back-off after a refused
// login, and one session per router with tirvane-read beside it.
#include "history/store/reading_store.h"
#include "recorder/recorder_process.h"
#include "support/router_sim_process.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

class RecorderTest : public ::testing::Test {
protected:
    QString History() const { return FDir.filePath(QStringLiteral("history.sqlite")); }
    // A line's section; the password file beside it.
    QByteArray Line(const char* name, const std::string& host, const char* more = "") const
    {
        return QStringLiteral("[%1]\nhost = %2\npassword_file = %3\n%4\n")
            .arg(QLatin1String(name), QString::fromStdString(host), FDir.filePath(QStringLiteral("pw")), QLatin1String(more))
            .toUtf8();
    }
    void Start(TRecorderProcess& recorder, const QByteArray& config, const QStringList& env = {})
    {
        WriteFile(FDir, QStringLiteral("pw"), "1234\n");
        const QString path = WriteFile(FDir, QStringLiteral("recorder.conf"), config);
        recorder.Start(QStringLiteral(TIRVANE_RECORDER), {"--config", path, "--history", History()}, env);
    }
    std::vector<TReading> Recorded(const std::string& host) const
    {
        TReadingStore store;
        store.OpenToRead(History());
        return store.Readings(0, INT64_MAX, QString::fromStdString(host));
    }
    QTemporaryDir FDir;
};

// Each mistake stops the start with one line naming it, and status 2:
// a service that starts half configured records nothing for months.
TEST_F(RecorderTest, ConfigurationErrorsGiveOneLineAndStatus2)
{
    struct TCase {
        const char* Name;
        QByteArray Config; // empty: no file at all
        QFile::Permissions Password;
        const char* Said;
    };
    const auto owner = QFile::ReadOwner | QFile::WriteOwner;
    const TCase cases[] = {
        {"missing file", {}, owner, "cannot read"},
        {"unknown family", "[a]\nhost = h\nrouter = cisco\npassword_file = pw\n", owner, "unknown router \"cisco\""},
        {"password readable by others", "[a]\nhost = h\npassword_file = pw\n", owner | QFile::ReadOther, "can be read by others"},
        {"password readable by its group", "[a]\nhost = h\npassword_file = pw\n", owner | QFile::ReadGroup, "can be read by others"},
        {"no password file", "[a]\nhost = h\npassword_file = none\n", owner, "No such file"},
        {"two lines, one name", "[a]\nhost = h\npassword_file = pw\n[a]\nhost = g\n", owner, "line \"a\" is named twice"},
        {"two lines, one router", "[a]\nhost = h\npassword_file = pw\n[b]\nhost = h\nport = 23\npassword_file = pw\n", owner,
            "both poll h:23"},
        {"no host", "[a]\npassword_file = pw\n", owner, "no host"},
        {"interval of 0", "[a]\nhost = h\ninterval = 0\npassword_file = pw\n", owner, "interval \"0\""},
        {"figures neither", "[a]\nhost = h\nfigures = yes\npassword_file = pw\n", owner, "neither true nor false"},
        {"unknown key", "[a]\nhost = h\npasword_file = pw\n", owner, "unknown key \"pasword_file\""},
        {"nothing to record", "# empty\n", owner, "no line to record"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteFile(FDir, QStringLiteral("pw"), "1234\n", c.Password);
        const QString config = c.Config.isEmpty() ? FDir.filePath(QStringLiteral("absent.conf"))
                                                  : WriteFile(FDir, QStringLiteral("r.conf"), c.Config);
        TRecorderProcess recorder;
        recorder.Start(QStringLiteral(TIRVANE_RECORDER), {"--config", config, "--history", History()});
        ASSERT_TRUE(recorder.Process->waitForFinished(30000));
        recorder.Err = recorder.Process->readAllStandardError();
        EXPECT_EQ(recorder.Process->exitCode(), 2);
        EXPECT_EQ(recorder.Err.count('\n'), 1) << recorder.Err.toStdString();
        EXPECT_TRUE(recorder.Err.startsWith("tirvane-recorder: ") && recorder.Err.contains(c.Said)) << recorder.Err.toStdString();
        EXPECT_FALSE(QFile::exists(History()));
    }
}

// TERM while a reading is in hand: the reading is finished and written, as
// is every one before it; none is cut or left out.
TEST_F(RecorderTest, TermMidCycleLosesNoReadingTaken)
{
    // Replies slowed to about a second each, so TERM comes mid-reply.
    const std::vector<std::string> slow = {"--chunk", "1000", "--pause-ms", "150"};
    for (const auto& [family, served] : {std::pair{"zyxel", "near"}, {"broadcom", "line"}}) {
        SCOPED_TRACE(family);
        QFile::remove(History());
        RouterSimProcess sim(RouterSimProcess::Family(family, "adsl2+", slow));
        TRecorderProcess recorder;
        Start(recorder, Line("slow", sim.Address(), (QByteArray("interval = 1\nrouter = ") + family).constData()),
            {QStringLiteral("TIRVANE_CYCLE_DEADLINE_MS=15000")});
        // The second reading under way: its first reply has begun.
        for (int i = 0; i < 600 && CountServed(sim.ServedPath(), served) < 1; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        for (int i = 0; i < 600 && CountServed(sim.ServedPath(), "session") < 2 + (std::string(family) == "zyxel" ? 2 : 0); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_EQ(recorder.Terminate(), 0) << recorder.Err.toStdString();
        const std::vector<TReading> readings = Recorded(sim.Address());
        EXPECT_GE(readings.size(), 2u);
        EXPECT_EQ(int(readings.size()), CountServed(sim.ServedPath(), served));
        for (const TReading& reading : readings)
            EXPECT_TRUE(reading.Completed);
        EXPECT_TRUE(recorder.Err.contains("stopped"));
    }
}

// A refused password is tried again after 2, then 4 "minutes" (shortened
// here), never at the line's interval, by the recorder and by tirvane-read
// alike; the connections are counted at the router.
TEST_F(RecorderTest, RefusedLoginBacksOffInBothPrograms)
{
    // Long beside the 1 s interval, so a missing back-off shows; the slack
    // is for when the test reads each message.
    constexpr int MinuteMs = 1500;
    constexpr int SlackMs = 300;
    for (const bool reader : {false, true}) {
        SCOPED_TRACE(reader ? "tirvane-read --interval" : "tirvane-recorder");
        RouterSimProcess sim(RouterSimProcess::Family("broadcom", "adsl2+", {"--wrong-password"}));
        const QStringList env = {QStringLiteral("TIRVANE_BACKOFF_MINUTE_MS=%1").arg(MinuteMs),
            QStringLiteral("TIRVANE_PASSWORD=1234")};
        TRecorderProcess program;
        if (reader)
            program.Start(QStringLiteral(TIRVANE_READER),
                {"--host", QString::fromStdString(sim.Address()), "--router", "broadcom", "--interval", "1", "--count", "10",
                    "--format", "csv", "--output", FDir.filePath(QStringLiteral("out.csv"))},
                env);
        else
            Start(program, Line("locked", sim.Address(), "router = broadcom\ninterval = 1"), env);
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(program.WaitFor("next try in 2 minutes")) << program.Err.toStdString();
        const qint64 first = clock.elapsed();
        ASSERT_TRUE(program.WaitFor("next try in 4 minutes")) << program.Err.toStdString();
        const qint64 second = clock.elapsed();
        EXPECT_EQ(CountServed(sim.ServedPath(), "session"), 2);
        EXPECT_GE(second - first, 2 * MinuteMs - SlackMs);
        ASSERT_TRUE(program.WaitFor("next try in 8 minutes")) << program.Err.toStdString();
        EXPECT_GE(clock.elapsed() - second, 4 * MinuteMs - SlackMs);
        EXPECT_EQ(CountServed(sim.ServedPath(), "session"), 3);
        EXPECT_TRUE(program.Err.contains("did not accept the password") || program.Err.contains("refused"));
    }
}

// The recorder and tirvane-read --interval on one router take turns: their
// sessions (slowed to seconds) never overlap at the router, and both read.
TEST_F(RecorderTest, OneSessionPerRouterAcrossPrograms)
{
    RouterSimProcess sim(RouterSimProcess::Family("broadcom", "adsl2+", {"--chunk", "1500", "--pause-ms", "25"}));
    TRecorderProcess recorder;
    Start(recorder, Line("shared", sim.Address(), "router = broadcom\ninterval = 2"), {QStringLiteral("TIRVANE_CYCLE_DEADLINE_MS=10000")});
    TRecorderProcess reader;
    reader.Start(QStringLiteral(TIRVANE_READER),
        {"--host", QString::fromStdString(sim.Address()), "--router", "broadcom", "--interval", "3", "--count", "3",
            "--format", "csv", "--output", FDir.filePath(QStringLiteral("out.csv"))},
        {QStringLiteral("TIRVANE_PASSWORD=1234"), QStringLiteral("TIRVANE_CYCLE_DEADLINE_MS=10000")});
    ASSERT_TRUE(reader.Process->waitForFinished(120000));
    EXPECT_EQ(reader.Process->exitCode(), 0) << reader.Process->readAllStandardError().toStdString();
    ASSERT_EQ(recorder.Terminate(), 0);
    const int sessions = CountServed(sim.ServedPath(), "session");
    EXPECT_EQ(sessions, CountServed(sim.ServedPath(), "session 1")) << "two sessions were open at once";
    const int recorded = int(Recorded(sim.Address()).size());
    EXPECT_GE(recorded, 2);
    EXPECT_EQ(sessions, 3 + recorded);
}

} // namespace

namespace {

// --line NAME prints the history of the host the recorder's configuration
// names so; a name it does not hold is a usage error.
TEST_F(RecorderTest, ReaderExportsALineByItsName)
{
    const QString configFolder = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Tirvane");
    QDir().mkpath(configFolder);
    QFile config(configFolder + QStringLiteral("/recorder.conf"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("[home]\nhost = 127.0.0.7\npassword_file = pw\n[office]\nhost = 127.0.0.8\npassword_file = pw\n");
    config.close();
    {
        TReadingStore store;
        ASSERT_TRUE(store.Open(History()));
        for (const char* host : {"127.0.0.7", "127.0.0.8"})
            store.Record(ZyxelReading(1'700'000'000'000, QString::fromLatin1(host), true));
    }
    struct TCase {
        QStringList Args;
        int Exit;
        const char* Printed; // in standard output, or in standard error when Exit is not 0
        const char* NotPrinted;
    };
    const TCase cases[] = {
        {{"--export", "--line", "office"}, 0, "127.0.0.8", "127.0.0.7"},
        {{"--events", "--line", "home", "--format", "json"}, 0, "", "127.0.0.8"},
        {{"--export", "--line", "cellar"}, 2, "no such line", "127.0.0.7"},
        {{"--export", "--line", "home", "--host", "127.0.0.7"}, 2, "not both", "127.0.0.8"},
        {{"--line", "home"}, 2, "--line goes with --export or --events", "127.0.0.8"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Args.join(QLatin1Char(' ')).toStdString());
        TRecorderProcess reader;
        reader.Start(QStringLiteral(TIRVANE_READER), c.Args + QStringList{"--history", History()});
        ASSERT_TRUE(reader.Process->waitForFinished(30000));
        const QByteArray out = c.Exit == 0 ? reader.Process->readAllStandardOutput() : reader.Process->readAllStandardError();
        EXPECT_EQ(reader.Process->exitCode(), c.Exit) << out.toStdString();
        EXPECT_TRUE(out.contains(c.Printed)) << out.toStdString();
        EXPECT_FALSE(out.contains(c.NotPrinted)) << out.toStdString();
    }
}

} // namespace
