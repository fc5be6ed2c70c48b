// tirvane-read: the monitor's reading of the line for scripts. It holds the
// window's own dialogue with the router (same telnet session, same decoding)
// and prints each reading in one of the reader's formats, or prints readings
// kept in the line history. QtCore only: it runs where no display is.
#include "line/cycle_dialogue.h"
#include "line/family_dialogue.h"
#include "line/reading_failure.h"
#include "history/line_events.h"
#include "history/reading_store.h"
#include "line/output_formats.h"
#include "reader/password.h"
#include "reader/reader_options.h"
#include "recorder/login_backoff.h"
#include "recorder/recorder_config.h"
#include "recorder/router_turn.h"
#include "telnet/socket_api.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <utility>
#include <thread>

namespace {

void PrintError(const QString& text)
{
    std::fprintf(stderr, "tirvane-read: %s\n", text.toLocal8Bit().constData());
}

// Where the output goes: standard output, or a fresh file beside FILE that
// takes its name only when every byte is on disk, so a collector never reads
// half of it. A write that fails says so once, on standard error; nothing
// after it is written and the run ends with status 1: a script must never
// take a lost reading for one kept.
class TOutput {
public:
    explicit TOutput(const QString& path)
        : FPath(path)
    {
        if (path.isEmpty())
            return;
        const QFileInfo target(path);
        QByteArray name = QFile::encodeName(target.dir().filePath(QStringLiteral(".%1.XXXXXX").arg(target.fileName())));
        FFd = ::mkstemp(name.data());
        if (FFd < 0) {
            Fail();
            return;
        }
        FTemporary = name;
        // As the shell's > would leave it: an earlier file's permissions, or
        // a new file's under the umask.
        struct stat earlier {};
        mode_t mode = 0;
        if (::stat(QFile::encodeName(path).constData(), &earlier) == 0) {
            mode = earlier.st_mode & 07777;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
        if (::fchmod(FFd, mode) != 0)
            Fail();
    }

    ~TOutput()
    {
        if (FFd >= 0 && FFd != STDOUT_FILENO)
            ::close(FFd);
        if (!FTemporary.isEmpty())
            ::unlink(FTemporary.constData());
    }

    bool Failed() const { return FFailed; }

    // Written at once, not kept in a buffer, so a reading is out before the
    // next one is taken and a failure is seen when it happens.
    bool Write(const QByteArray& text)
    {
        for (qsizetype done = 0; !FFailed && done < text.size();) {
            const ssize_t n = ::write(FFd, text.constData() + done, std::size_t(text.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                Fail(n < 0 ? errno : EIO);
                break;
            }
            done += n;
        }
        return !FFailed;
    }

    // The end of the run: the file takes its name now. False (and said) when
    // anything was lost.
    bool Finish()
    {
        if (FFailed || FTemporary.isEmpty())
            return !FFailed;
        if (::fsync(FFd) != 0 || ::close(std::exchange(FFd, -1)) != 0
            || ::rename(FTemporary.constData(), QFile::encodeName(FPath).constData()) != 0) {
            Fail();
            return false;
        }
        FTemporary.clear();
        return true;
    }

private:
    void Fail(int error = errno)
    {
        FFailed = true;
        PrintError((FPath.isEmpty() ? QStringLiteral("standard output") : FPath) + QStringLiteral(": ")
            + QString::fromLocal8Bit(std::strerror(error)));
    }

    QString FPath;
    int FFd = STDOUT_FILENO;
    QByteArray FTemporary; // removed unless it took the file's name
    bool FFailed = false;
};

// The tones printed of another family's line: all of it, or the half the
// range names, as the window's buttons for lines longer than today's.
TToneSpan FamilySpan(const TReaderOptions& options, int toneCount)
{
    const int half = toneCount / 2;
    if (!options.Range || *options.Range == TRangeChoice::rc0To512)
        return {0, toneCount - 1};
    return *options.Range == TRangeChoice::rc0To255 ? TToneSpan{0, half - 1} : TToneSpan{half, toneCount - 1};
}

QString StorePath(const TReaderOptions& options)
{
    return options.HistoryPath.isEmpty() ? TReadingStore::DefaultPath() : options.HistoryPath;
}

TOutputFormat ChosenFormat(const TReaderOptions& options)
{
    if (options.Format)
        return *options.Format;
    return options.OutputPath.isEmpty() && ::isatty(STDOUT_FILENO) ? TOutputFormat::Table : TOutputFormat::Csv;
}

// The host of --line NAME in the recorder's configuration; none (said) when
// the configuration cannot be read or has no such line.
std::optional<QString> LineHost(const QString& name)
{
    const TRecorderConfigResult config = LoadRecorderConfig(DefaultRecorderConfigPath(), false);
    if (!config.Config) {
        PrintError(QStringLiteral("--line %1: %2").arg(name, config.Error));
        return std::nullopt;
    }
    for (const TRecorderLine& line : config.Config->Lines)
        if (line.Name == name)
            return line.Host;
    PrintError(QStringLiteral("--line %1: no such line in %2").arg(name, config.Config->Path));
    return std::nullopt;
}

int Export(const TReaderOptions& options)
{
    TReadingStore store;
    if (!store.OpenToRead(StorePath(options))) {
        PrintError(store.ErrorText());
        return 1;
    }
    TOutput output(options.OutputPath);
    // Written as read, a few hundred kilobytes at a time: a year goes out in
    // the memory of one block of readings.
    constexpr qsizetype Chunk = 256 * 1024;
    TReadingsWriter writer(ChosenFormat(options), options.Span);
    QByteArray pending;
    bool writing = !output.Failed();
    const TReadResult read = store.ReadEach(options.SinceMs, options.UntilMs, options.ExportHost,
        [&](const TReading& reading) {
            pending += writer.Next(reading);
            if (pending.size() >= Chunk) {
                writing = output.Write(pending);
                pending.clear();
            }
            return writing;
        });
    pending += writer.Finish();
    writing = writing && output.Write(pending);
    // What could not be read is said, never passed over: standard output
    // holds the rest, and the status says it is not all. A file named by
    // --output takes its name only when complete: an earlier one stays.
    if (!read.Complete()) {
        PrintError(read.Text());
        return 1;
    }
    return output.Finish() && writing ? 0 : 1;
}

int PrintEvents(const TReaderOptions& options)
{
    TReadingStore store;
    if (!store.OpenToRead(StorePath(options))) {
        PrintError(store.ErrorText());
        return 1;
    }
    // Read as the export reads, a reading at a time; a period that could not
    // be read is named, and the events of the rest still printed.
    TLineEventCollector events;
    const TReadResult read = store.ReadEach(options.SinceMs, options.UntilMs, options.ExportHost,
        [&events](const TReading& reading) {
            events.Add(reading);
            return true;
        });
    TOutput output(options.OutputPath);
    output.Write(FormatLineEvents(ChosenFormat(options), events.Events()));
    if (!read.Complete()) {
        PrintError(read.Text());
        return 1;
    }
    return output.Finish() ? 0 : 1;
}

// What the host's reading printed after earlier ones adds: the CSV header
// and the blank line between tables only once.
QByteArray NextReadingText(TOutputFormat format, const TReading& reading, TToneSpan span, bool first)
{
    QByteArray text = FormatReadings(format, {reading}, span);
    if (!first && format == TOutputFormat::Csv)
        text.remove(0, text.indexOf('\n') + 1);
    if (!first && format == TOutputFormat::Table)
        text.prepend('\n');
    return text;
}

int ReadLine(const TReaderOptions& options)
{
    const TPasswordResult password = ReadPassword(options.PasswordFile);
    if (!password.Password) {
        PrintError(password.Error);
        return 2;
    }

    TDialogueRequest request;
    request.Host = options.Host.toStdString();
    request.Port = std::to_string(options.Port);
    request.Username = options.Username.toStdString();
    request.Password = password.Password->toStdString();
    request.Prompt = options.Prompt.toStdString();

    TOutput output(options.OutputPath);
    if (output.Failed())
        return 1;
    TReadingStore store;
    bool recording = false;
    if (options.Record) {
        recording = store.Open(StorePath(options));
        if (!recording)
            PrintError(store.ErrorText());
    }

    // The window's deadline bounds each reading; tests of the whole program
    // shorten it as they shorten the window's.
    bool deadlineSet = false;
    const int deadlineMs = qEnvironmentVariableIntValue("TIRVANE_CYCLE_DEADLINE_MS", &deadlineSet);
    const std::chrono::milliseconds deadline
        = deadlineSet && deadlineMs > 0 ? std::chrono::milliseconds(deadlineMs) : CycleDeadline;

    const TOutputFormat format = ChosenFormat(options);
    int status = options.Record && !recording ? 1 : 0;
    using Clock = std::chrono::steady_clock;
    auto next = Clock::now();
    int refusedInRow = 0;
    for (int taken = 0; options.Count == 0 || taken < options.Count; ++taken) {
        if (taken > 0) {
            // Counted from the start of each reading, as the window's timer counts.
            next += std::chrono::seconds(options.IntervalSeconds);
            std::this_thread::sleep_until(next);
        }
        // One session per router among the user's programs: one open now
        // ends within its own deadline.
        QString turnError;
        const std::optional<TRouterTurn> turn
            = TRouterTurn::Take(options.Host, options.Port, Clock::now() + deadline, {}, &turnError);
        if (!turn) {
            PrintError(turnError);
            status = 1;
            continue;
        }
        request.Deadline = Clock::now() + deadline;
        TReading reading = ZyxelReading();
        TToneSpan span = options.Span;
        QString failureText;
        int errorCode = 0;
        bool loginRefused = false;
        if (options.Router == TRouterFamily::Zyxel) {
            TCaptureBuffer memo;
            TToneTable tones{};
            const TDialogueOutcome outcome = RunCycleDialogue(request, memo, tones);
            reading.Completed = outcome.Completed;
            reading.Bits = ToneBits(tones);
            if (!outcome.Completed) {
                const TReadingFailure failure = DescribeReadingFailure(outcome, request.Host, request.Port, deadline);
                failureText = QString::fromLatin1(failure.Text.c_str());
                errorCode = outcome.ErrorCode;
                loginRefused = outcome.LoginAnswered || IsRefusedLogin(failure.Cause);
            }
        } else {
            // The reader's default prompt is the ZyXEL's; any other text the
            // user gave is one more command prompt.
            TDialogueRequest familyRequest = request;
            if (options.Prompt == TReaderOptions().Prompt)
                familyRequest.Prompt.clear();
            const TFamilyCycle cycle = RunFamilyDialogue(familyRequest, options.Router);
            reading.Router = RouterFamilyName(options.Router);
            reading.Mode = cycle.Line.Mode;
            reading.Completed = cycle.Line.Ok();
            // A line that is no reading has no tones to show, not zero bars.
            reading.Bits = cycle.Line.Bits;
            if (cycle.Line.Ok()) {
                reading.SpacingKHz = cycle.Line.SpacingKHz;
                reading.Bands = cycle.Line.Bands;
                span = FamilySpan(options, cycle.Line.ToneCount);
            } else {
                reading.Bands = {};
                failureText = cycle.Outcome.Completed
                    ? cycle.Line.Failure
                    : QString::fromLatin1(
                        DescribeReadingFailure(cycle.Outcome, request.Host, request.Port, deadline).Text.c_str());
                if (cycle.Outcome.LoginAnswered || cycle.Outcome.Completed)
                    failureText = cycle.Line.Failure;
                errorCode = cycle.Outcome.ErrorCode;
                loginRefused = cycle.Outcome.LoginAnswered
                    || IsRefusedLogin(DescribeReadingFailure(cycle.Outcome, request.Host, request.Port, deadline).Cause);
            }
        }
        reading.TimeMs = QDateTime::currentMSecsSinceEpoch();
        reading.Host = options.Host;
        const bool printed = output.Write(NextReadingText(format, reading, span, taken == 0));

        if (!reading.Completed) {
            status = 1;
            // The reason in the window's words; the socket's code after it
            // for whoever looks further.
            QString error = failureText;
            if (errorCode > 0)
                error += QStringLiteral(" (%1)").arg(errorCode);
            error = QStringLiteral("%1: %2").arg(options.Host, error);
            // Readings in a row: the time tells one failure from the next.
            if (options.IntervalSeconds > 0 && options.Count != 1)
                std::fprintf(stderr, "%s ",
                    QDateTime::fromMSecsSinceEpoch(reading.TimeMs).toString(Qt::ISODate).toLocal8Bit().constData());
            PrintError(error);
        }
        // The same password is refused again, and some routers lock the
        // account: readings in a row wait longer after each refusal.
        refusedInRow = loginRefused ? refusedInRow + 1 : 0;
        if (refusedInRow > 0 && options.IntervalSeconds > 0 && options.Count != taken + 1) {
            PrintError(QStringLiteral("%1: %2").arg(options.Host, LoginBackoffText(refusedInRow)));
            next = Clock::now() + LoginBackoff(refusedInRow).count() * BackoffMinute()
                - std::chrono::seconds(options.IntervalSeconds);
        }
        if (recording && !store.Record(reading)) {
            recording = false;
            status = 1;
            PrintError(store.ErrorText());
        }
        if (!printed)
            return 1; // the reading is kept, when asked, but nobody reads on
    }
    return output.Finish() ? status : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    // The monitor's own name, so both find the same history.
    QCoreApplication::setApplicationName(QStringLiteral("Tirvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TIRVANE_VERSION));

    // A reader of the output that has gone away is a failed write, reported
    // as such, not a silent death by signal.
    std::signal(SIGPIPE, SIG_IGN);

    const TReaderCommand command = ParseReaderOptions(QCoreApplication::arguments());
    if (const auto* help = std::get_if<TReaderHelp>(&command))
        return TOutput({}).Write(help->Text.toLocal8Bit()) ? 0 : 1;
    if (std::holds_alternative<TReaderVersion>(command))
        return TOutput({}).Write(QByteArray("tirvane-read " TIRVANE_VERSION "\n")) ? 0 : 1;
    if (const auto* error = std::get_if<TReaderUsageError>(&command)) {
        PrintError(error->Text);
        std::fprintf(stderr, "Try 'tirvane-read --help' for more information.\n");
        return 2;
    }
    const TReaderOptions& options = std::get<TReaderOptions>(command);

    if ((options.Export || options.Events) && !options.ExportLine.isEmpty()) {
        const std::optional<QString> host = LineHost(options.ExportLine);
        if (!host)
            return 2;
        TReaderOptions named = options;
        named.ExportHost = *host;
        return named.Export ? Export(named) : PrintEvents(named);
    }
    if (options.Export)
        return Export(options);
    if (options.Events)
        return PrintEvents(options);
    try {
        SocketLayerStartup();
    } catch (const std::exception& error) {
        PrintError(QString::fromLocal8Bit(error.what()));
        return 1;
    }
    int status = 1;
    try {
        status = ReadLine(options);
    } catch (const std::exception& error) {
        PrintError(QString::fromLocal8Bit(error.what()));
    }
    SocketLayerShutdown();
    return status;
}
