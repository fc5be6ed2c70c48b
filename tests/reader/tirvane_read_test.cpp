// tirvane-read as a user runs it: a real process against the router
// simulator on loopback (inside a private network namespace, as root), its
// output read back by each format's own rules and compared with what the
// simulator served; exit statuses; where the password comes from; what it links.
#include "../line/format_parsers.h"
#include "history/store/reading_store.h"
#include "support/private_mounts.h"
#include "support/router_sim_process.h"
#include "support/version1_store.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>

#include <cmath>
#include <csignal>
#include <numeric>
#include <tuple>

namespace {

struct TRun {
    int Exit = -1;
    QByteArray Out, Err, Cmdline; // the command line as /proc showed it while it ran
};

class ReaderTest : public ::testing::Test {
protected:
    // No password but the one given, history and locale of the test's own.
    // stdoutFd: standard output goes there instead, SIGPIPE at its default
    // so that a death by it shows as exit -1.
    TRun Run(const QStringList& args, const QString& password = QStringLiteral("1234"), int stdoutFd = -1)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("TIRVANE_PASSWORD"));
        if (!password.isNull())
            env.insert(QStringLiteral("TIRVANE_PASSWORD"), password);
        env.insert(QStringLiteral("XDG_DATA_HOME"), FDir.path());
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        env.insert(QStringLiteral("TIRVANE_CYCLE_DEADLINE_MS"), QStringLiteral("3000"));
        QProcess process;
        process.setProcessEnvironment(env);
        if (stdoutFd >= 0)
            process.setChildProcessModifier([stdoutFd] {
                ::dup2(stdoutFd, STDOUT_FILENO);
                ::signal(SIGPIPE, SIG_DFL);
            });
        process.start(QStringLiteral(TIRVANE_READER), args);
        TRun run;
        for (int i = 0; i < 100 && process.waitForStarted() && !run.Cmdline.contains(TIRVANE_READER); ++i) {
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(process.processId()));
            if (cmdline.open(QIODevice::ReadOnly))
                run.Cmdline = cmdline.readAll();
            process.waitForFinished(5);
        }
        process.waitForFinished(120000);
        run.Exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.Out = process.readAllStandardOutput();
        run.Err = process.readAllStandardError();
        return run;
    }
    // A history of n readings of host, for the export to print.
    QString History(int n, const QString& host = QStringLiteral("127.0.0.9"))
    {
        const QString path = FDir.filePath(QStringLiteral("h%1.sqlite").arg(n));
        TReadingStore store;
        for (int i = 0; i < n && store.Open(path); ++i) {
            TReading reading = ZyxelReading(1'700'000'000'000 + i * 60'000, host, true);
            std::fill(reading.Bits.begin(), reading.Bits.end(), std::uint8_t(i % 16));
            store.Record(reading);
        }
        return path;
    }
    QTemporaryDir FDir;
};

RouterSimProcess::Options SimOn(std::vector<std::string> extra = {}, const std::string& password = "1234")
{
    return {RouterSimProcess::UniqueLoopbackAddress(), 23, password, "", false, 1, std::move(extra)};
}

TEST_F(ReaderTest, EachFormatReadsBackAsServed)
{
    RouterSimProcess sim(SimOn());
    const QString host = QString::fromStdString(sim.Address());
    for (const auto& [format, range, first, last] : {std::tuple{"csv", "0-512", 0, 512}, {"csv", "256-512", 256, 512},
             {"json", "0-255", 0, 255}, {"prometheus", "0-512", 0, 512}}) {
        SCOPED_TRACE(std::string(format) + " " + range);
        const TRun run = Run({"--host", host, "--format", format, "--range", range});
        ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
        const std::array<int, 513> served = sim.ExpectedTones();
        TReading expected = ZyxelReading(0, host, true);
        for (int t = first; t <= last; ++t)
            expected.Bits[std::size_t(t)] = std::uint8_t(served[std::size_t(t)]);
        if (const auto back = std::string(format) == "csv" ? ReadingsFromCsv(run.Out) : ReadingsFromJson(run.Out);
            std::string(format) != "prometheus") {
            ASSERT_TRUE(back && back->size() == 1) << run.Out.left(300).toStdString();
            EXPECT_NEAR(double(back->front().TimeMs), double(QDateTime::currentMSecsSinceEpoch()), 60000.0);
            expected.TimeMs = back->front().TimeMs;
            EXPECT_EQ(back->front(), expected);
            continue;
        }
        const auto samples = ParsePrometheus(run.Out);
        ASSERT_TRUE(samples.has_value()) << run.Out.toStdString();
        const QString label = QStringLiteral("host=\"%1\"").arg(host);
        for (int t = 0; t <= 512; ++t)
            EXPECT_EQ(samples->at("tirvane_tone_bit_load")
                          .at(label + QStringLiteral(",direction=\"%1\",tone=\"%2\"").arg(t < 32 ? "upstream" : "downstream").arg(t)),
                served[t]) << t;
        EXPECT_EQ(samples->at("tirvane_upstream_bit_load").at(label), std::accumulate(&served[0], &served[32], 0));
        EXPECT_EQ(samples->at("tirvane_downstream_bit_load").at(label), std::accumulate(&served[32], &served[513], 0));
        EXPECT_EQ(samples->at("tirvane_reading_completed").at(label), 1.0);
        EXPECT_NEAR(samples->at("tirvane_reading_time_seconds").at(label), QDateTime::currentSecsSinceEpoch(), 60.0);
    }
}

// Exit statuses, the one line on standard error, and where the password
// comes from: a file's first line, the environment, never the command line.
// The end of an error line, where "(a|b)" in the expected text allows
// either socket code.
bool EndsWithOneOf(const QByteArray& text, const QString& expected)
{
    const QRegularExpression either(QStringLiteral("\\((\\d+(\\|\\d+)+)\\)"));
    const QRegularExpressionMatch m = either.match(expected);
    if (!m.hasMatch())
        return text.endsWith(expected.toUtf8());
    for (const QString& code : m.captured(1).split('|')) {
        QString one = expected;
        one.replace(m.capturedStart(), m.capturedLength(), "(" + code + ")");
        if (text.endsWith(one.toUtf8()))
            return true;
    }
    return false;
}

TEST_F(ReaderTest, ExitStatusErrorLineAndPassword)
{
    const QString secret = QString::fromUtf8("s3cr\xc3\xa9t"), file = FDir.filePath("password");
    RouterSimProcess sim(SimOn({"--pause-ms", "20"}, secret.toStdString()));
    const QString host = QString::fromStdString(sim.Address());
    const QString nobody = QString::fromStdString(RouterSimProcess::UniqueLoopbackAddress());
    RouterSimProcess endless(SimOn({"--endless", "far"}));
    const QString stuck = QString::fromStdString(endless.Address());
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(secret.toUtf8() + "\r\nnext line\n") > 0);
    f.close();
    const struct {
        QStringList args;
        QString password;
        int exit;
        QString error; // usage errors: the start of standard error; others: its one line's end
    } cases[] = {
        {{"--host", host}, secret, 0, ""},
        {{"--host", host, "--password-file", file}, "not this one", 0, ""},
        {{"--host", nobody}, secret, 1, ": Nothing answers at " + nobody + " port 23 (10061)\n"},
        // A reply without end meets the cycle's deadline (3 s here), or on a
        // loaded machine a pause longer than a wait's time-out: either way
        // the reply stopped.
        {{"--host", stuck}, "1234", 1, ": The reply stopped before the upstream tones (10053|10060)\n"},
        {{"--host", host, "--password", secret}, secret, 2, "tirvane-read: Unknown option 'password'."},
        {{"--host", host, "--password-file", file + "-none"}, secret, 2, "tirvane-read: cannot read "},
        {{"--format", "csv"}, secret, 2, "tirvane-read: --host is missing"},
        {{"--host", host, "--format", "prometheus", "--count", "2"}, secret, 2, "tirvane-read: --format prometheus"},
        {{"--export", "--since", "yesterday"}, secret, 2, "tirvane-read: --since takes an ISO 8601"},
        {{"--host", host, "--interval", "5", "--output", file + ".csv"}, secret, 2, "tirvane-read: --output is written when"},
        {{"--export", "--output", ""}, secret, 2, "tirvane-read: --output needs a file name"},
        {{"--export", "--since", "2026-12-07", "--until", "2026-12-06T23:59"}, secret, 2,
            "tirvane-read: --since 2026-12-07 is after --until 2026-12-06T23:59"},
        {{"--host", host}, "", 2, "tirvane-read: Password required!\n"},
        {{"--events", "--export"}, secret, 2, "tirvane-read: --export prints readings, --events events"},
        {{"--events", "--format", "prometheus"}, secret, 2, "tirvane-read: --events prints a table, csv or json"},
        {{"--events", "--host", host, "--count", "2"}, secret, 2, "tirvane-read: --count reads the line; --events"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const TRun run = Run(QStringList{"--format", "csv"} + c.args, c.password);
        EXPECT_EQ(run.Exit, c.exit) << run.Err.toStdString();
        const QByteArray oneLine = "tirvane-read: " + c.args[1].toUtf8() + ": "; // then the error and the step
        EXPECT_TRUE(c.exit == 2 ? run.Err.startsWith(c.error.toUtf8())
                : c.exit == 0   ? run.Err.isEmpty()
                                : run.Err.count('\n') == 1 && run.Err.startsWith(oneLine) && EndsWithOneOf(run.Err, c.error))
            << run.Err.toStdString();
        if (c.exit == 1) { // the reading is printed all the same, marked as an outage
            EXPECT_EQ(ReadingsFromCsv(run.Out).value_or(std::vector<TReading>(1)).at(0).Completed, false);
        }
        if (c.exit == 0) { // seen while it ran, without the password
            EXPECT_TRUE(run.Cmdline.contains(host.toUtf8()) && !run.Cmdline.contains(secret.toUtf8()));
        }
    }

    // On the terminal, echo off while it is typed.
    int master = -1;
    const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::unsetenv("TIRVANE_PASSWORD");
        ::execl(TIRVANE_READER, TIRVANE_READER, "--host", sim.Address().c_str(), "--format", "csv", nullptr);
        ::_exit(127);
    }
    std::string seen;
    const auto readUntil = [&](const std::string& needle) {
        char buffer[4096];
        pollfd p{master, POLLIN, 0};
        ssize_t n = 0;
        while (seen.find(needle) == std::string::npos && ::poll(&p, 1, 30000) > 0 && (n = ::read(master, buffer, sizeof buffer)) > 0)
            seen.append(buffer, std::size_t(n));
    };
    readUntil("Password: ");
    termios mode{};
    ASSERT_EQ(::tcgetattr(master, &mode), 0);
    EXPECT_EQ(mode.c_lflag & ECHO, 0u) << seen;
    const std::string typed = secret.toStdString() + "\n";
    ASSERT_GT(::write(master, typed.data(), typed.size()), 0);
    readUntil(",true,");
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(master);
    EXPECT_EQ(status, 0) << seen;
    EXPECT_EQ(seen.find(secret.toStdString()), std::string::npos) << "echoed";
}

// Each failure is named in the window's words, the socket's code after it;
// readings in a row put the time in front of each failure line.
TEST_F(ReaderTest, FailuresAreNamedInWordsAndTimedInARow)
{
    RouterSimProcess refusing(SimOn({"--wrong-password"}));
    const QString nobody = QString::fromStdString(RouterSimProcess::UniqueLoopbackAddress());
    const QString refused = QString::fromStdString(refusing.Address());
    const QRegularExpression timed(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\S* tirvane-read: "));
    const struct {
        QStringList args;
        QString line; // each line of standard error, less the time in front
        int lines;
        bool timedLines;
    } cases[] = {
        {{"--host", nobody}, "tirvane-read: " + nobody + ": Nothing answers at " + nobody + " port 23 (10061)", 1, false},
        {{"--host", refused}, "tirvane-read: " + refused + ": The router did not accept the password", 1, false},
        {{"--host", nobody, "--interval", "1", "--count", "2"},
            "tirvane-read: " + nobody + ": Nothing answers at " + nobody + " port 23 (10061)", 2, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const TRun run = Run(QStringList{"--format", "csv"} + c.args);
        EXPECT_EQ(run.Exit, 1);
        const QStringList lines = QString::fromUtf8(run.Err).split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), c.lines) << run.Err.toStdString();
        for (const QString& line : lines) {
            const QRegularExpressionMatch match = timed.match(line);
            EXPECT_EQ(match.hasMatch(), c.timedLines) << line.toStdString();
            const QString untimed = match.hasMatch() ? line.mid(match.capturedLength() - 14) : line;
            EXPECT_EQ(untimed, c.line);
        }
    }
}

TEST_F(ReaderTest, RecordsAndExportsTheHistory)
{
    RouterSimProcess sim(SimOn());
    const QString host = QString::fromStdString(sim.Address()), history = FDir.filePath("kept/history.sqlite");
    const TRun taken = Run({"--host", host, "--format", "json", "--interval", "1", "--count", "2", "--record",
        "--history", history});
    ASSERT_EQ(taken.Exit, 0) << taken.Err.toStdString();
    const std::vector<TReading> printed = ReadingsFromJson(taken.Out).value_or(std::vector<TReading>{});
    ASSERT_EQ(printed.size(), 2u);
    TReadingStore store;
    ASSERT_TRUE(store.OpenToRead(history));
    // The JSON read back holds the bits and the line; the store keeps the
    // outcome and figures beside them.
    std::vector<TReading> kept = store.Readings(0, INT64_MAX);
    for (TReading& r : kept) {
        r.Outcome = TReadingOutcome::Unknown;
        r.Figures = {};
        r.Spectra = {};
    }
    EXPECT_TRUE(kept == printed);

    const QString between = QDateTime::fromMSecsSinceEpoch(printed[0].TimeMs + 1, Qt::UTC).toString(Qt::ISODateWithMs);
    const struct {
        QStringList args;
        std::vector<TReading> expected;
    } cases[] = {
        {{"--host", host}, printed},
        {{"--host", "127.0.0.254"}, {}},
        {{"--since", between}, {printed[1]}},
        {{"--until", between}, {printed[0]}},
    };
    for (const auto& c : cases) {
        const TRun run = Run(QStringList{"--export", "--history", history, "--format", "csv"} + c.args);
        EXPECT_EQ(run.Exit, 0) << run.Err.toStdString();
        EXPECT_EQ(ReadingsFromCsv(run.Out), c.expected) << c.args.join(' ').toStdString();
    }
    const TRun missing = Run({"--export", "--history", FDir.filePath("none.sqlite")}); // nothing made
    EXPECT_TRUE(missing.Exit == 1 && missing.Err.endsWith("none.sqlite: there is no such file\n")) << missing.Err.toStdString();
    EXPECT_FALSE(QFile::exists(FDir.filePath("none.sqlite")));
}

// An export says what it could not read: the rest on standard output, the
// damaged period on standard error, status 1. A first-layout file opened only
// to read is read as it is.
TEST_F(ReaderTest, AnExportSaysWhatItCouldNotRead)
{
    const QString path = History(150);
    std::vector<TReading> all;
    {
        TReadingStore store;
        ASSERT_TRUE(store.OpenToRead(path));
        all = store.Readings(0, INT64_MAX);
    }
    const QString old = FDir.filePath("v1.sqlite");
    ASSERT_TRUE(WriteVersion1Store(old, all));
    const struct {
        const char* name;
        QString path;
        const char* damage;
        int exit;
        std::size_t printed;
    } cases[] = {
        {"whole", path, nullptr, 0, all.size()},
        {"a damaged block", path, "UPDATE blocks SET data = zeroblob(40) WHERE id = 2", 1, all.size() - 60},
        {"version 1", old, nullptr, 0, all.size()},
    };
    for (const auto& c : cases) {
        if (c.damage) {
            sqlite3* db = nullptr;
            sqlite3_open(QFile::encodeName(c.path).constData(), &db);
            ASSERT_EQ(sqlite3_exec(db, c.damage, nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        }
        const TRun run = Run({"--export", "--history", c.path, "--format", "csv"});
        EXPECT_EQ(run.Exit, c.exit) << c.name << run.Err.toStdString();
        EXPECT_EQ(ReadingsFromCsv(run.Out).value_or(std::vector<TReading>{}).size(), c.printed) << c.name;
        EXPECT_EQ(run.Err.contains("Could not read the readings of 127.0.0.9 from"), c.exit == 1) << run.Err.toStdString();
    }
}

// --events prints what the period's readings held, in each format, for the
// period and host asked for.
TEST_F(ReaderTest, PrintsTheEventsOfAPeriod)
{
    const QString history = FDir.filePath("events.sqlite");
    constexpr std::int64_t T0 = 1'796'601'600'000; // 2026-12-07T00:00:00Z
    {
        TReadingStore store;
        ASSERT_TRUE(store.Open(history));
        for (int m = 0; m < 40; ++m) {
            for (const char* host : {"127.0.0.1", "127.0.0.2"}) {
                const bool out = QLatin1String(host) == QLatin1String("127.0.0.1") && m >= 10 && m < 13;
                TReading r = ZyxelReading(T0 + m * 60'000LL, QString::fromLatin1(host), !out);
                std::fill(r.Bits.begin() + 32, r.Bits.begin() + 132, std::uint8_t(m < 30 ? 10 : 12));
                ASSERT_TRUE(store.Record(r));
            }
        }
    }
    const QString outage = "outage,127.0.0.1,2026-12-07T00:10:00Z,2026-12-07T00:13:00Z,180,0,3 incomplete cycles\n";
    const QString resync1 = "resync,127.0.0.1,2026-12-07T00:29:00Z,2026-12-07T00:30:00Z,60,0,100 of 100 loaded tones changed\n";
    const QString resync2 = "resync,127.0.0.2,2026-12-07T00:29:00Z,2026-12-07T00:30:00Z,60,0,100 of 100 loaded tones changed\n";
    const QString header = "kind,host,start,end,duration_s,ongoing,figures\n";
    const struct {
        QStringList args;
        QString out;
    } cases[] = {
        {{"--format", "csv"}, header + outage + resync1 + resync2},
        {{"--format", "csv", "--host", "127.0.0.2"}, header + resync2},
        {{"--format", "csv", "--since", "2026-12-07T00:20:00Z"}, header + resync1 + resync2},
        {{"--format", "csv", "--until", "2026-12-07T00:20:00Z", "--host", "127.0.0.1"}, header + outage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const TRun run = Run(QStringList{"--events", "--history", history} + c.args);
        EXPECT_EQ(run.Exit, 0) << run.Err.toStdString();
        EXPECT_EQ(QString::fromUtf8(run.Out), c.out);
    }
    const TRun table = Run({"--events", "--history", history, "--format", "table", "--host", "127.0.0.1"});
    EXPECT_TRUE(table.Out.contains("outage          127.0.0.1       2026-12-07T00:10:00Z 2026-12-07T00:13:00Z 3 min"))
        << table.Out.toStdString();
    const TRun json = Run({"--events", "--history", history, "--format", "json", "--host", "127.0.0.1"});
    const QJsonArray array = QJsonDocument::fromJson(json.Out).array();
    ASSERT_EQ(array.size(), 2);
    EXPECT_EQ(array[0][QStringLiteral("kind")].toString(), QStringLiteral("outage"));
    EXPECT_EQ(array[0][QStringLiteral("cycles")].toInt(), 3);
    EXPECT_EQ(array[1][QStringLiteral("changed_tones")].toInt(), 100);
}

// Output that cannot be written is an error, whatever was asked for: one
// line on standard error and status 1, never a silent 0 or a death by SIGPIPE.
TEST_F(ReaderTest, AFailedWriteEndsWithStatusOne)
{
    RouterSimProcess sim(SimOn());
    const QString host = QString::fromStdString(sim.Address()), history = History(3);
    const QByteArray full = "tirvane-read: standard output: No space left on device\n";
    const QByteArray broken = "tirvane-read: standard output: Broken pipe\n";
    const struct {
        QStringList args;
        bool closedPipe; // else /dev/full
        QByteArray error;
    } cases[] = {
        {{"--export", "--history", history}, false, full},
        {{"--export", "--history", history, "--format", "json"}, true, broken},
        {{"--host", host, "--format", "csv"}, false, full},
        {{"--host", host, "--format", "table"}, true, broken},
        {{"--help"}, false, full},
        {{"--version"}, true, broken},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString() + (c.closedPipe ? " | (closed)" : " > /dev/full"));
        int out = -1, ends[2] = {-1, -1};
        if (c.closedPipe) {
            ASSERT_EQ(::pipe(ends), 0);
            ::close(ends[0]);
            out = ends[1];
        } else {
            out = ::open("/dev/full", O_WRONLY);
        }
        ASSERT_GE(out, 0);
        const TRun run = Run(c.args, QStringLiteral("1234"), out);
        ::close(out);
        EXPECT_EQ(run.Exit, 1);
        EXPECT_EQ(run.Err, c.error);
    }
}

// --output: the file appears complete, under its name, or not at all, and
// an earlier file of that name survives a failed run.
TEST_F(ReaderTest, OutputFileIsReplacedOnlyWhenComplete)
{
    RouterSimProcess sim(SimOn());
    const QString host = QString::fromStdString(sim.Address()), small = History(1), large = History(40);
    const QByteArray earlier = "earlier contents\n";
    const bool mounts = HavePrivateMounts();
    const auto exported = [&](const QString& history) {
        return Run({"--export", "--history", history, "--format", "json"}).Out;
    };
    const struct {
        QString folder; // in the test's folder, or absolute
        QStringList args;
        bool needsMounts;
        int exit;
        QByteArray expected; // the file's contents afterwards; empty: no file
        QByteArray errorEnd; // the end of the one error line
    } cases[] = {
        {"out", {"--export", "--history", small, "--format", "json"}, false, 0, exported(small), ""},
        {"replaced", {"--export", "--history", large, "--format", "json"}, false, 0, exported(large), ""},
        {"missing", {"--export", "--history", FDir.filePath("none.sqlite")}, false, 1, "", "there is no such file\n"},
        {"/proc", {"--export", "--history", small}, false, 1, "", ""},
        {"ro", {"--export", "--history", small}, true, 1, earlier, "\n"},
        {"tiny", {"--export", "--history", large, "--format", "json"}, true, 1, earlier, "No space left on device\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder.toStdString());
        if (c.needsMounts && !mounts) {
            std::printf("no private mounts: %s skipped\n", qPrintable(c.folder));
            continue;
        }
        const QString folder = c.folder.startsWith('/') ? c.folder : FDir.filePath(c.folder);
        QDir().mkpath(folder);
        const QString file = folder + QStringLiteral("/adsl.out");
        if (c.folder == "tiny") {
            ASSERT_TRUE(MountSmallTmpfs(folder, 16));
        }
        if (c.expected == earlier || c.folder == "replaced") {
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(earlier) == earlier.size());
        }
        if (c.folder == "ro") { // written before the folder went read-only
            ASSERT_TRUE(MountReadOnly(folder));
        }
        const TRun run = Run(c.args + QStringList{"--output", file});
        EXPECT_EQ(run.Exit, c.exit) << run.Err.toStdString();
        EXPECT_TRUE(run.Out.isEmpty());
        if (c.exit == 0) {
            EXPECT_TRUE(run.Err.isEmpty()) << run.Err.toStdString();
        } else {
            EXPECT_TRUE(run.Err.startsWith("tirvane-read: ") && run.Err.endsWith(c.errorEnd) && run.Err.count('\n') == 1)
                << run.Err.toStdString();
        }
        QFile back(file);
        EXPECT_EQ(back.open(QIODevice::ReadOnly) ? back.readAll() : QByteArray(), c.expected);
        if (!c.folder.startsWith('/')) { // exactly the file, no stray temporary beside it
            const QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
            EXPECT_EQ(left, c.expected.isEmpty() ? QStringList{} : QStringList{"adsl.out"}) << left.join(' ').toStdString();
        }
        if (c.needsMounts)
            Unmount(folder);
    }

    // Reading the line, the same: the reading lands in the file.
    const QString file = FDir.filePath("read.csv");
    const TRun run = Run({"--host", host, "--output", file, "--count", "1"});
    EXPECT_EQ(run.Exit, 0) << run.Err.toStdString();
    QFile back(file);
    ASSERT_TRUE(back.open(QIODevice::ReadOnly));
    const auto readings = ReadingsFromCsv(back.readAll());
    EXPECT_TRUE(readings && readings->size() == 1 && readings->front().Completed);
}

// --output into what is no regular file: a device or a FIFO is written where
// it is, a symbolic link through to the file it names; none is replaced.
TEST_F(ReaderTest, OutputIntoADeviceAFifoOrALink)
{
    const QString history = History(2);
    const QByteArray json = Run({"--export", "--history", history, "--format", "json"}).Out;
    const QByteArray full = QFile::encodeName(FDir.filePath("full"));
    const bool device = ::mknod(full.constData(), S_IFCHR | 0666, makedev(1, 7)) == 0; // as /dev/full
    ASSERT_EQ(::mkfifo(QFile::encodeName(FDir.filePath("fifo")).constData(), 0600), 0);
    ASSERT_EQ(::symlink("real.out", QFile::encodeName(FDir.filePath("link")).constData()), 0);
    ASSERT_EQ(::symlink("gone.out", QFile::encodeName(FDir.filePath("dangling")).constData()), 0);
    ASSERT_EQ(::symlink(full.constData(), QFile::encodeName(FDir.filePath("to-full")).constData()), 0);
    QFile real(FDir.filePath("real.out"));
    ASSERT_TRUE(real.open(QIODevice::WriteOnly) && real.write("earlier\n") == 8);
    real.close();
    const struct {
        const char* target;
        QStringList args;
        mode_t type; // of the target itself, afterwards
        int exit;
        const char* holder; // the file holding the output afterwards (the FIFO: its reader)
    } cases[] = {
        {"full", {"--export", "--format", "json"}, S_IFCHR, 1, nullptr},
        {"to-full", {"--events", "--format", "csv"}, S_IFLNK, 1, nullptr},
        {"fifo", {"--export", "--format", "json"}, S_IFIFO, 0, "fifo"},
        {"link", {"--export", "--format", "json"}, S_IFLNK, 0, "real.out"},
        {"dangling", {"--export", "--format", "json"}, S_IFLNK, 0, "gone.out"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        if (!device && QByteArray(c.target).endsWith("full")) {
            std::printf("no device nodes: %s skipped\n", c.target);
            continue;
        }
        const QByteArray target = QFile::encodeName(FDir.filePath(c.target));
        // The FIFO's reader is there first, so the writer's open returns.
        const int reader = c.type == S_IFIFO ? ::open(target.constData(), O_RDONLY | O_NONBLOCK) : -1;
        const TRun run = Run(c.args + QStringList{"--history", history, "--output", FDir.filePath(c.target)});
        EXPECT_EQ(run.Exit, c.exit) << run.Err.toStdString();
        if (c.exit == 1) {
            EXPECT_TRUE(run.Err.endsWith("No space left on device\n")) << run.Err.toStdString();
        }
        struct stat after {};
        ASSERT_EQ(::lstat(target.constData(), &after), 0);
        EXPECT_EQ(after.st_mode & S_IFMT, c.type);
        QByteArray held;
        if (reader >= 0) {
            char buffer[65536];
            for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;)
                held.append(buffer, n);
            ::close(reader);
        } else if (c.holder) {
            QFile file(FDir.filePath(c.holder));
            EXPECT_TRUE(file.open(QIODevice::ReadOnly));
            held = file.readAll();
        }
        EXPECT_EQ(held, c.holder ? json : QByteArray());
    }
}

// A damaged block is named, never passed over: the rest is printed, the
// status is 1, and a file named by --output is not replaced by the part.
TEST_F(ReaderTest, ADamagedHistoryIsNamedAndKeepsTheEarlierFile)
{
    const QString history = History(150);
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(history).constData(), &db);
    ASSERT_EQ(sqlite3_exec(db, "UPDATE blocks SET data = zeroblob(40) WHERE id = 2", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    const QString file = FDir.filePath("kept.csv");
    const struct {
        QStringList args;
        bool toFile;
        std::size_t printed; // readings on standard output
    } cases[] = {
        {{"--export"}, false, 90},
        {{"--export"}, true, 0},
        {{"--events"}, false, 0},
        {{"--events"}, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString() + (c.toFile ? " --output" : ""));
        QFile earlier(file);
        ASSERT_TRUE(earlier.open(QIODevice::WriteOnly) && earlier.write("earlier\n") == 8);
        earlier.close();
        const TRun run = Run(c.args + QStringList{"--history", history, "--format", "csv"}
            + (c.toFile ? QStringList{"--output", file} : QStringList{}));
        EXPECT_EQ(run.Exit, 1);
        EXPECT_TRUE(run.Err.startsWith("tirvane-read: Could not read the readings of 127.0.0.9 from")) << run.Err.toStdString();
        if (c.args.front() == "--export") {
            EXPECT_EQ(ReadingsFromCsv(run.Out).value_or(std::vector<TReading>{}).size(), c.printed);
        } else {
            EXPECT_EQ(run.Out.startsWith("kind,host,start,end,duration_s,ongoing,figures\n"), !c.toFile);
        }
        ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
        EXPECT_EQ(earlier.readAll(), "earlier\n");
        earlier.close();
    }
}

// TERM or INT between readings ends the run as its count would: the history
// closed cleanly (no log left beside it), the readings kept and printed, and
// the status that of the signal.
TEST_F(ReaderTest, AStopSignalClosesTheHistoryCleanly)
{
    RouterSimProcess sim(SimOn());
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        const QString history = FDir.filePath(QStringLiteral("stopped%1.sqlite").arg(signal));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TIRVANE_PASSWORD"), QStringLiteral("1234"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        QProcess reader;
        reader.setProcessEnvironment(env);
        reader.start(QStringLiteral(TIRVANE_READER), {"--host", QString::fromStdString(sim.Address()), "--record",
            "--history", history, "--interval", "60", "--format", "csv"});
        ASSERT_TRUE(reader.waitForStarted(30000));
        QByteArray out;
        for (int i = 0; i < 600 && out.count('\n') < 2 && reader.state() == QProcess::Running; ++i) {
            reader.waitForReadyRead(100);
            out += reader.readAllStandardOutput();
        }
        ASSERT_EQ(out.count('\n'), 2) << out.toStdString(); // the header and the first reading
        ::kill(pid_t(reader.processId()), signal);
        ASSERT_TRUE(reader.waitForFinished(60000));
        EXPECT_EQ(reader.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(reader.exitCode(), 128 + signal);
        EXPECT_FALSE(QFile::exists(history + "-wal"));
        TReadingStore store;
        ASSERT_TRUE(store.OpenToRead(history));
        EXPECT_EQ(store.Readings(INT64_MIN, INT64_MAX).size(), 1u);
    }
}

TEST_F(ReaderTest, LinksQtCoreOnly)
{
    QProcess ldd;
    ldd.start(QStringLiteral("ldd"), {QStringLiteral(TIRVANE_READER)});
    ASSERT_TRUE(ldd.waitForFinished(30000));
    const QByteArray libraries = ldd.readAllStandardOutput();
    EXPECT_TRUE(libraries.contains("libQt6Core.so") && !libraries.contains("libQt6Gui") && !libraries.contains("libQt6Widgets")
        && !libraries.contains("libxcb")) << libraries.toStdString();
}

} // namespace

namespace {

} // namespace

// Every family's simulator at ADSL2+, 17a and 35b: the JSON reads back as the
// line served with its band plan, the CSV has a column per tone, the
// Prometheus sums follow the band plan and pass promtool.
TEST_F(ReaderTest, EachFamilyReadsBackAsServed)
{
    const struct {
        const char* router;
        const char* profile;
        const char* mode;
        int tones;
        double spacing;
    } cases[] = {
        {"broadcom", "adsl2+", "ADSL2+", 512, 4.3125}, {"broadcom", "17a", "VDSL2 17a", 4096, 4.3125},
        {"broadcom", "35b", "VDSL2 35b", 8192, 4.3125}, {"lantiq", "adsl2+", "ADSL2+", 512, 4.3125},
        {"lantiq", "17a", "VDSL2 17a", 4096, 4.3125}, {"lantiq", "35b", "VDSL2 35b", 8192, 4.3125},
        {"draytek", "adsl2+", "ADSL2+", 512, 4.3125}, {"draytek", "17a", "VDSL2 17a", 4096, 4.3125},
        {"draytek", "35b", "VDSL2 35b", 8192, 4.3125}, {"draytek", "30a", "VDSL2 30a", 3479, 8.625},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.router) + " " + c.profile);
        RouterSimProcess sim(SimOn({"--router", c.router, "--profile", c.profile}));
        const QString host = QString::fromStdString(sim.Address());
        const QStringList base = {"--host", host, "--router", c.router};

        const TRun json = Run(base + QStringList{"--format", "json"});
        ASSERT_EQ(json.Exit, 0) << json.Err.toStdString();
        const auto back = ReadingsFromJson(json.Out);
        ASSERT_TRUE(back && back->size() == 1) << json.Out.left(300).toStdString();
        const TReading& r = back->front();
        const auto served = sim.LastServedLine();
        ASSERT_TRUE(served);
        EXPECT_EQ(std::vector<int>(r.Bits.begin(), r.Bits.end()), *served);
        EXPECT_EQ(int(r.Bits.size()), c.tones);
        EXPECT_EQ(r.Router, QString::fromLatin1(c.router));
        EXPECT_EQ(r.Mode, QString::fromLatin1(c.mode));
        EXPECT_EQ(r.SpacingKHz, c.spacing);
        ASSERT_FALSE(r.Bands.Upstream.empty());
        ASSERT_FALSE(r.Bands.Downstream.empty());

        const TRun csv = Run(base + QStringList{"--format", "csv", "--range", "256-512"});
        ASSERT_EQ(csv.Exit, 0) << csv.Err.toStdString();
        const auto rows = ParseCsv(csv.Out);
        ASSERT_TRUE(rows && rows->size() == 2);
        EXPECT_EQ(rows->front().size(), 3 + c.tones - c.tones / 2); // the upper half
        EXPECT_EQ(rows->front()[3], QStringLiteral("tone_%1").arg(c.tones / 2));

        const TRun prom = Run(base + QStringList{"--format", "prometheus"});
        ASSERT_EQ(prom.Exit, 0) << prom.Err.toStdString();
        const auto samples = ParsePrometheus(prom.Out);
        ASSERT_TRUE(samples);
        int up = 0, down = 0;
        for (const auto& [labels, value] : samples->at("tirvane_tone_bit_load"))
            (labels.contains(QLatin1String("direction=\"upstream\"")) ? up : down) += int(value);
        EXPECT_EQ(samples->at("tirvane_upstream_bit_load").at(QStringLiteral("host=\"%1\"").arg(host)), up);
        EXPECT_EQ(samples->at("tirvane_downstream_bit_load").at(QStringLiteral("host=\"%1\"").arg(host)), down);
        // Each run is a session of its own, and each session a new reading.
        const auto lastServed = sim.LastServedLine();
        EXPECT_EQ(up + down, std::accumulate(lastServed->begin(), lastServed->end(), 0));
        if (const auto verdict = PromtoolCheck(prom.Out)) {
            EXPECT_EQ(verdict->first, 0) << verdict->second.toStdString();
        }
    }
}

TEST_F(ReaderTest, PrometheusPassesPromtool)
{
    RouterSimProcess sim(SimOn());
    const TRun run = Run({"--host", QString::fromStdString(sim.Address()), "--format", "prometheus"});
    ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
    const auto verdict = PromtoolCheck(run.Out);
    if (!verdict)
        GTEST_SKIP() << "promtool is not installed";
    EXPECT_EQ(verdict->first, 0) << verdict->second.toStdString();
}

// A line not in showtime or a refused login: status 1, the reason on
// standard error, no tones printed as if they were a reading.
TEST_F(ReaderTest, FamilyFailuresSayWhy)
{
    const struct {
        const char* router;
        std::vector<std::string> extra;
        const char* reason;
    } cases[] = {
        {"broadcom", {"--training"}, "the line is not in showtime (Status: G.994 Training)"},
        {"lantiq", {"--training"}, "the line is not in showtime (nLineState=0x300)"},
        {"draytek", {"--wrong-password"}, "refused the user name or the password"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.router);
        std::vector<std::string> extra = {"--router", c.router, "--profile", "17a"};
        extra.insert(extra.end(), c.extra.begin(), c.extra.end());
        RouterSimProcess sim(SimOn(extra));
        const TRun run = Run({"--host", QString::fromStdString(sim.Address()), "--router", c.router, "--format", "csv"});
        EXPECT_EQ(run.Exit, 1);
        EXPECT_TRUE(run.Err.contains(c.reason)) << run.Err.toStdString();
        const auto rows = ParseCsv(run.Out);
        ASSERT_TRUE(rows && rows->size() == 2) << run.Out.toStdString();
        EXPECT_EQ(rows->at(1)[2], QStringLiteral("false"));
    }
    const TRun bad = Run({"--host", "127.0.0.1", "--router", "cisco"});
    EXPECT_EQ(bad.Exit, 2);
    EXPECT_TRUE(bad.Err.contains("--router is zyxel, broadcom, lantiq or draytek, not cisco")) << bad.Err.toStdString();
}

// Each family's figures and counters through tirvane-read --figures, equal to
// what the simulator printed, and nothing it did not print or marked as not
// measured.
TEST_F(ReaderTest, EachFamilyPrintsItsFiguresAsServed)
{
    const struct {
        const char* router;
        std::vector<std::string> extra;
        bool figures = true;
    } cases[] = {
        {"zyxel", {}},
        // Without --figures the ZyXEL sends only its two commands: the
        // figures are those of their heads.
        {"zyxel", {}, false},
        {"broadcom", {"--profile", "17a", "--not-measured"}},
        {"lantiq", {"--profile", "17a"}},
        {"lantiq", {"--profile", "adsl2+", "--not-measured"}},
        {"draytek", {"--profile", "35b", "--not-measured"}},
        {"broadcom", {"--training"}},
    };
    // "figures.downstream.margin_db" -> value, for every leaf of the two objects.
    const auto flat = [](const QJsonObject& reading) {
        std::map<std::string, QJsonValue> leaves;
        const auto walk = [&leaves](const auto& self, const QJsonObject& object, const std::string& prefix) -> void {
            for (auto it = object.begin(); it != object.end(); ++it) {
                const std::string name = prefix + it.key().toStdString();
                if (it->isObject())
                    self(self, it->toObject(), name + '.');
                else
                    leaves[name] = *it;
            }
        };
        for (const char* key : {"figures", "counters"})
            walk(walk, reading[QLatin1String(key)].toObject(), std::string(key) + '.');
        return leaves;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.router) + (c.extra.empty() ? "" : " " + c.extra.back()) + (c.figures ? "" : " bare"));
        std::vector<std::string> extra = {"--router", c.router};
        extra.insert(extra.end(), c.extra.begin(), c.extra.end());
        RouterSimProcess sim(SimOn(extra));
        const TRun run = Run(QStringList{"--host", QString::fromStdString(sim.Address()), "--router", c.router,
            "--format", "json"} + (c.figures ? QStringList{"--figures"} : QStringList()));
        const auto served = sim.LastServedFigures();
        ASSERT_TRUE(served);
        const auto leaves = flat(QJsonDocument::fromJson(run.Out).object());
        std::map<std::string, std::string> printed;
        for (const auto& [name, value] : leaves)
            printed[name] = value.isString() ? value.toString().toStdString()
                                             : QString::number(value.toDouble(), 'f', QLocale::FloatingPointShortest).toStdString();
        std::map<std::string, std::string> expected;
        for (const auto& [name, value] : *served)
            expected[name] = name == "figures.state" ? value
                                                    : QString::number(std::stod(value), 'f', QLocale::FloatingPointShortest).toStdString();
        EXPECT_EQ(printed, expected) << run.Out.left(600).toStdString() << run.Err.toStdString();
        EXPECT_GE(expected.size(), std::size_t(1));
        if (!c.figures) {
            EXPECT_EQ(expected.count("figures.state"), 0u); // wan adsl status was not sent
        }
    }
}

// Each family's simulator: the JSON's SNR, QLN and Hlog per tone are what it
// served (null where it measured nothing); --quantity goes with CSV only.
TEST_F(ReaderTest, EachFamilysSpectraReadBackAsServed)
{
    const struct {
        const char* router;
        const char* profile;
        std::vector<std::string> extra;
        int groupSize;
    } cases[] = {
        {"broadcom", "17a", {}, 8}, {"lantiq", "35b", {}, 16}, {"lantiq", "adsl2+", {"--older-api"}, 1},
        {"draytek", "30a", {}, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.router) + " " + c.profile);
        std::vector<std::string> extra = {"--router", c.router, "--profile", c.profile};
        extra.insert(extra.end(), c.extra.begin(), c.extra.end());
        RouterSimProcess sim(SimOn(extra));
        const QStringList base = {"--host", QString::fromStdString(sim.Address()), "--router", c.router};
        const TRun json = Run(base + QStringList{"--format", "json"});
        ASSERT_EQ(json.Exit, 0) << json.Err.toStdString();
        const QJsonObject object = QJsonDocument::fromJson(json.Out).object();
        for (const auto& [name, key] : {std::pair{"snr", "snr_db"}, {"qln", "qln_dbm_hz"}, {"hlog", "hlog_db"}}) {
            const auto served = sim.LastServedSpectrum(name);
            ASSERT_TRUE(served) << name;
            const QJsonArray values = object.value(QLatin1String(key)).toArray();
            ASSERT_EQ(values.size(), qsizetype(served->size())) << key;
            int differ = 0, gaps = 0;
            for (qsizetype tone = 0; tone < values.size(); ++tone) {
                const double want = (*served)[std::size_t(tone)];
                gaps += std::isnan(want);
                differ += std::isnan(want) ? !values[tone].isNull() : !(std::abs(values[tone].toDouble(1e9) - want) < 1e-4);
            }
            EXPECT_EQ(differ, 0) << key;
            EXPECT_GT(gaps, 0) << key;
            EXPECT_EQ(object.value(QStringLiteral("group_size"))[QLatin1String(name)][QStringLiteral("downstream")],
                c.groupSize);
        }
    }
    const TRun wrong = Run({"--host", "127.0.0.1", "--format", "json", "--quantity", "snr"});
    EXPECT_EQ(wrong.Exit, 2);
    EXPECT_TRUE(wrong.Err.contains("--quantity chooses what a csv file of readings holds")) << wrong.Err.toStdString();
}
