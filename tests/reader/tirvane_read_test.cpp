// tirvane-read as a user runs it: a real process against the router
// simulator on loopback (inside a private network namespace, as root), its
// output read back by each format's own rules and compared with what the
// simulator served, its exit statuses, where its password comes from, and
// what it links.
#include "format_parsers.h"
#include "history/reading_store.h"
#include "support/router_sim_process.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

namespace {

constexpr char ReaderPath[] = TIRVANE_READER;

struct TRun {
    int Exit = -1;
    QByteArray Out;
    QByteArray Err;
    qint64 StartMs = 0;
    qint64 EndMs = 0;
};

class ReaderTest : public ::testing::Test {
protected:
    // The parent's environment without a password of its own, a data folder
    // of the test's own, and the C locale, so the table's numbers read the
    // same on every machine.
    QProcessEnvironment Environment(const QString& password = QStringLiteral("1234")) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("TIRVANE_PASSWORD"));
        if (!password.isNull())
            env.insert(QStringLiteral("TIRVANE_PASSWORD"), password);
        env.insert(QStringLiteral("XDG_DATA_HOME"), FDir.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        return env;
    }

    TRun Run(const QStringList& args, const QProcessEnvironment& env) const
    {
        QProcess process;
        process.setProcessEnvironment(env);
        process.setStandardInputFile(QProcess::nullDevice());
        TRun run;
        run.StartMs = QDateTime::currentMSecsSinceEpoch();
        process.start(QString::fromLatin1(ReaderPath), args);
        process.waitForFinished(120000);
        run.EndMs = QDateTime::currentMSecsSinceEpoch();
        run.Exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.Out = process.readAllStandardOutput();
        run.Err = process.readAllStandardError();
        return run;
    }
    TRun Run(const QStringList& args) const { return Run(args, Environment()); }

    QString PathIn(const QString& name) const { return FDir.filePath(name); }

    QTemporaryDir FDir;
};

RouterSimProcess::Options SimOn(std::vector<std::string> extra = {}, const std::string& password = "1234")
{
    RouterSimProcess::Options options;
    options.address = RouterSimProcess::UniqueLoopbackAddress();
    options.password = password;
    options.extraArgs = std::move(extra);
    return options;
}

// The served tones with only those of the span kept.
std::array<std::uint8_t, ReadingToneCount> Served(const RouterSimProcess& sim, int first = 0, int last = 512)
{
    const std::array<int, 513> tones = sim.ExpectedTones();
    std::array<std::uint8_t, ReadingToneCount> bits{};
    for (int t = first; t <= last; ++t)
        bits[std::size_t(t)] = std::uint8_t(tones[std::size_t(t)]);
    return bits;
}

// The table's rows back into bits; every frequency as the read-out writes it.
std::optional<std::vector<TReading>> ReadingsFromTable(const QByteArray& text, std::string* why)
{
    std::vector<TReading> readings;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QList<QByteArray> words = lines[i].simplified().split(' ');
        if (lines[i].isEmpty() || lines[i] == "Tone  Frequency (kHz)  Bits")
            continue;
        if (words.size() >= 3 && IsoToMs(QString::fromLatin1(words[0])) >= 0) {
            TReading r;
            r.TimeMs = IsoToMs(QString::fromLatin1(words[0]));
            r.Host = QString::fromUtf8(words[1]);
            r.Completed = lines[i].endsWith(" completed") && !lines[i].endsWith("not completed");
            readings.push_back(r);
            continue;
        }
        if (words.size() != 3 || readings.empty()) {
            *why = "stray line: " + lines[i].toStdString();
            return std::nullopt;
        }
        const int tone = words[0].toInt();
        // 4.3125 kHz a tone, in the read-out's general number form.
        const QByteArray frequency = QByteArray::number(tone * 4.3125, 'g', 15);
        if (words[1] != frequency) {
            *why = "frequency " + words[1].toStdString() + " for tone " + std::to_string(tone);
            return std::nullopt;
        }
        readings.back().Bits[std::size_t(tone)] = std::uint8_t(words[2].toInt());
    }
    return readings;
}

TEST_F(ReaderTest, EachFormatReadsBackAsServed)
{
    RouterSimProcess sim(SimOn());
    const QString host = QString::fromStdString(sim.Address());
    const struct {
        const char* format;
        const char* range;
        int first, last;
    } cases[] = {
        {"csv", "0-512", 0, 512},
        {"json", "0-512", 0, 512},
        {"table", "0-512", 0, 512},
        {"csv", "256-512", 256, 512},
        {"table", "0-255", 0, 255},
        {"prometheus", "0-512", 0, 512},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " " + c.range);
        const TRun run = Run({QStringLiteral("--host"), host, QStringLiteral("--format"), QLatin1String(c.format),
            QStringLiteral("--range"), QLatin1String(c.range)});
        ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
        EXPECT_TRUE(run.Err.isEmpty()) << run.Err.toStdString();

        std::string why;
        std::optional<std::vector<TReading>> back;
        if (std::string(c.format) == "csv")
            back = ReadingsFromCsv(run.Out);
        else if (std::string(c.format) == "json")
            back = ReadingsFromJson(run.Out);
        else if (std::string(c.format) == "table")
            back = ReadingsFromTable(run.Out, &why);
        if (std::string(c.format) != "prometheus") {
            ASSERT_TRUE(back.has_value()) << why << "\n" << run.Out.left(400).toStdString();
            ASSERT_EQ(back->size(), 1u);
            const TReading& r = back->front();
            EXPECT_EQ(r.Host, host);
            EXPECT_TRUE(r.Completed);
            EXPECT_GE(r.TimeMs, run.StartMs);
            EXPECT_LE(r.TimeMs, run.EndMs);
            EXPECT_EQ(r.Bits, Served(sim, c.first, c.last));
            continue;
        }

        const auto samples = ParsePrometheus(run.Out, &why);
        ASSERT_TRUE(samples.has_value()) << why;
        const std::array<int, 513> served = sim.ExpectedTones();
        int up = 0, down = 0, tones = 0;
        for (int t = 0; t <= 512; ++t)
            (t < 32 ? up : down) += served[std::size_t(t)];
        for (const TPrometheusSample& s : *samples) {
            EXPECT_EQ(s.Labels.at("host"), sim.Address());
            if (s.Name == "tirvane_tone_bits") {
                ++tones;
                EXPECT_EQ(s.Value, served[std::size_t(std::stoi(s.Labels.at("tone")))]) << s.Labels.at("tone");
            } else if (s.Name == "tirvane_upstream_bits") {
                EXPECT_EQ(s.Value, up);
            } else if (s.Name == "tirvane_downstream_bits") {
                EXPECT_EQ(s.Value, down);
            } else if (s.Name == "tirvane_reading_completed") {
                EXPECT_EQ(s.Value, 1.0);
            } else if (s.Name == "tirvane_reading_time_seconds") {
                EXPECT_GE(s.Value * 1000.0, double(run.StartMs) - 1.0);
                EXPECT_LE(s.Value * 1000.0, double(run.EndMs) + 1.0);
            } else {
                ADD_FAILURE() << "unknown metric " << s.Name;
            }
        }
        EXPECT_EQ(tones, 513);
    }
}

TEST_F(ReaderTest, ExitStatusAndOneLineOnFailure)
{
    RouterSimProcess good(SimOn());
    RouterSimProcess wrong(SimOn({"--wrong-password"}));
    RouterSimProcess cut(SimOn({"--drop", "near"}));
    const QString nobody = QString::fromStdString(RouterSimProcess::UniqueLoopbackAddress());
    const auto at = [](const RouterSimProcess& sim) { return QString::fromStdString(sim.Address()); };
    const struct {
        const char* name;
        QStringList args;
        QString password;
        int exit;
        QString error; // the whole of standard error; for usage errors its first line's start
    } cases[] = {
        {"completed", {"--host", at(good)}, "1234", 0, ""},
        {"refused", {"--host", nobody}, "1234", 1,
            "tirvane-read: " + nobody + ": Connection refused (10061) while connecting\n"},
        {"wrong password", {"--host", at(wrong)}, "1234", 1,
            "tirvane-read: " + at(wrong) + ": Connection timed out (10060) while waiting for the prompt\n"},
        {"reply cut short", {"--host", at(cut)}, "1234", 1,
            "tirvane-read: " + at(cut) + ": Connection reset by peer (10054) while reading the near-end line data\n"},
        {"password on the command line", {"--host", at(good), "--password", "1234"}, "1234", 2,
            "tirvane-read: Unknown option 'password'."},
        {"no host", {"--format", "csv"}, "1234", 2, "tirvane-read: --host is missing"},
        {"unknown range", {"--host", at(good), "--range", "0-100"}, "1234", 2, "tirvane-read: --range is"},
        {"unknown format", {"--host", at(good), "--format", "xml"}, "1234", 2, "tirvane-read: --format is"},
        {"several expositions", {"--host", at(good), "--format", "prometheus", "--count", "2"}, "1234", 2,
            "tirvane-read: --format prometheus prints one reading"},
        {"since without export", {"--host", at(good), "--since", "2026-01-01"}, "1234", 2,
            "tirvane-read: --since goes with --export"},
        {"bad time", {"--export", "--since", "yesterday"}, "1234", 2, "tirvane-read: --since takes an ISO 8601"},
        {"empty password", {"--host", at(good)}, "", 2, "tirvane-read: Password required!\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TRun run = Run(c.args, Environment(c.password));
        EXPECT_EQ(run.Exit, c.exit) << run.Err.toStdString();
        if (c.exit == 2)
            EXPECT_TRUE(run.Err.startsWith(c.error.toUtf8())) << run.Err.toStdString();
        else
            EXPECT_EQ(QString::fromUtf8(run.Err), c.error);
        // A reading is printed even when the dialogue broke off: an outage.
        if (c.exit == 1) {
            const auto readings = ReadingsFromCsv(run.Out);
            ASSERT_TRUE(readings && readings->size() == 1) << run.Out.left(200).toStdString();
            EXPECT_FALSE(readings->front().Completed);
        }
    }
}

TEST_F(ReaderTest, PasswordFromFileOrTerminalNeverFromTheCommandLine)
{
    const std::string password = "s3cr\xc3\xa9t";
    RouterSimProcess sim(SimOn({"--pause-ms", "100"}, password));
    const QString host = QString::fromStdString(sim.Address());

    // The first line of a file, its line end dropped.
    {
        QFile file(PathIn(QStringLiteral("password")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromStdString(password) + "\r\nsecond line\n");
    }
    const TRun fromFile = Run({QStringLiteral("--host"), host, QStringLiteral("--password-file"), PathIn(QStringLiteral("password"))},
        Environment(QStringLiteral("not this one")));
    EXPECT_EQ(fromFile.Exit, 0) << fromFile.Err.toStdString();
    const TRun noFile = Run({QStringLiteral("--host"), host, QStringLiteral("--password-file"), PathIn(QStringLiteral("none"))});
    EXPECT_EQ(noFile.Exit, 2);
    EXPECT_TRUE(noFile.Err.startsWith("tirvane-read: cannot read ")) << noFile.Err.toStdString();

    // From the environment, while the reader runs (slowed by the simulator's
    // pauses), its command line holds no password.
    QProcess process;
    QProcessEnvironment env = Environment(QString::fromStdString(password));
    process.setProcessEnvironment(env);
    process.start(QString::fromLatin1(ReaderPath), {QStringLiteral("--host"), host});
    ASSERT_TRUE(process.waitForStarted());
    QByteArray cmdline;
    for (int i = 0; i < 20 && process.state() == QProcess::Running; ++i) {
        QFile file(QStringLiteral("/proc/%1/cmdline").arg(process.processId()));
        if (file.open(QIODevice::ReadOnly))
            cmdline = file.readAll();
        if (cmdline.contains("tirvane-read"))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_TRUE(cmdline.contains("--host")) << "the reader was not seen running";
    EXPECT_FALSE(cmdline.contains(QByteArray::fromStdString(password)));

    // On the terminal, with echo off while it is typed.
    int master = -1;
    const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::unsetenv("TIRVANE_PASSWORD");
        ::execl(ReaderPath, ReaderPath, "--host", sim.Address().c_str(), "--format", "csv", nullptr);
        ::_exit(127);
    }
    std::string seen;
    const auto readUntil = [&](const std::string& needle) {
        char buffer[4096];
        pollfd p{master, POLLIN, 0};
        while (seen.find(needle) == std::string::npos && ::poll(&p, 1, 30000) > 0) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            seen.append(buffer, std::size_t(n));
        }
        return seen.find(needle) != std::string::npos;
    };
    ASSERT_TRUE(readUntil("Password: ")) << seen;
    termios mode{};
    ASSERT_EQ(::tcgetattr(master, &mode), 0);
    EXPECT_EQ(mode.c_lflag & ECHO, 0u) << "echo is on while the password is typed";
    const std::string typed = password + "\n";
    ASSERT_EQ(::write(master, typed.data(), typed.size()), ssize_t(typed.size()));
    readUntil("\r\n2"); // the reading's row starts with its year
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
    EXPECT_EQ(seen.find(password), std::string::npos) << "the password was echoed";
}

TEST_F(ReaderTest, RecordsAndExportsTheHistory)
{
    RouterSimProcess sim(SimOn());
    const QString host = QString::fromStdString(sim.Address());
    const QString history = PathIn(QStringLiteral("kept/history.sqlite"));
    const TRun taken = Run({QStringLiteral("--host"), host, QStringLiteral("--format"), QStringLiteral("json"),
        QStringLiteral("--interval"), QStringLiteral("1"), QStringLiteral("--count"), QStringLiteral("2"),
        QStringLiteral("--record"), QStringLiteral("--history"), history});
    ASSERT_EQ(taken.Exit, 0) << taken.Err.toStdString();
    const std::vector<TReading> printed = *ReadingsFromJson(taken.Out);
    ASSERT_EQ(printed.size(), 2u);
    EXPECT_GE(printed[1].TimeMs - printed[0].TimeMs, 900);

    TReadingStore store;
    ASSERT_TRUE(store.OpenToRead(history)) << store.ErrorText().toStdString();
    EXPECT_EQ(store.Readings(0, INT64_MAX), printed);

    const QString between = QDateTime::fromMSecsSinceEpoch(printed[0].TimeMs + 1, Qt::UTC).toString(Qt::ISODateWithMs);
    const struct {
        const char* name;
        QStringList args;
        std::vector<TReading> expected;
    } cases[] = {
        {"everything", {}, printed},
        {"one host", {"--host", host}, printed},
        {"another host", {"--host", "127.0.0.254"}, {}},
        {"since", {"--since", between}, {printed[1]}},
        {"until", {"--until", between}, {printed[0]}},
        {"a day long ago", {"--since", "2001-01-01", "--until", "2001-01-02"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TRun run = Run(QStringList{QStringLiteral("--export"), QStringLiteral("--history"), history,
                                 QStringLiteral("--format"), QStringLiteral("csv")} + c.args);
        EXPECT_EQ(run.Exit, 0) << run.Err.toStdString();
        EXPECT_EQ(ReadingsFromCsv(run.Out), c.expected);
    }
    const TRun missing = Run({QStringLiteral("--export"), QStringLiteral("--history"), PathIn(QStringLiteral("none.sqlite"))});
    EXPECT_EQ(missing.Exit, 1);
    EXPECT_EQ(missing.Err, "tirvane-read: Cannot use the line history in " + PathIn(QStringLiteral("none.sqlite")).toUtf8()
        + ": there is no such file\n");
    EXPECT_FALSE(QFile::exists(PathIn(QStringLiteral("none.sqlite"))));
}

TEST_F(ReaderTest, LinksQtCoreOnly)
{
    QProcess ldd;
    ldd.start(QStringLiteral("ldd"), {QString::fromLatin1(ReaderPath)});
    ASSERT_TRUE(ldd.waitForFinished(30000));
    const QByteArray libraries = ldd.readAllStandardOutput();
    EXPECT_TRUE(libraries.contains("libQt6Core.so")) << libraries.toStdString();
    for (const char* library : {"libQt6Gui", "libQt6Widgets", "libQt6Svg", "libQt6PrintSupport", "libX11", "libxcb"})
        EXPECT_FALSE(libraries.contains(library)) << library;
}

} // namespace
