// tirvane-read: the monitor's reading of the line for scripts. It holds the
// window's own dialogue with the router (same telnet session, same decoding)
// and prints each reading in one of the reader's formats, or prints readings
// kept in the line history. QtCore only: it runs where no display is.
#include "line/take_reading.h"
#include "events/line_events.h"
#include "history/store/reading_store.h"
#include "line/output_formats.h"
#include "output/safe_write.h"
#include "reader/password.h"
#include "reader/reader_options.h"
#include "recorder/login_backoff.h"
#include "recorder/recorder_config.h"
#include "recorder/router_turn.h"
#include "telnet/socket_api.h"

#include <QCoreApplication>
#include <QDateTime>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <utility>
#include <thread>

namespace {

void PrintError(const QString& text)
{
    std::fprintf(stderr, "tirvane-read: %s\n", text.toLocal8Bit().constData());
}

// Where the output goes: standard output, or the file --output names,
// written whole or not at all (see output/safe_write.h) so a collector never
// reads half of it. A write that fails says so once, on standard error;
// nothing after it is written and the run ends with status 1: a script must
// never take a lost reading for one kept.
class TOutput {
public:
    explicit TOutput(const QString& path)
        : FPath(path)
        , FFile(path.isEmpty() ? std::make_unique<TOutputFile>(STDOUT_FILENO) : std::make_unique<TOutputFile>(path))
    {
        Healthy();
    }

    bool Failed() const { return FFile->Failed(); }

    // Written at once, not kept in a buffer, so a reading is out before the
    // next one is taken and a failure is seen when it happens.
    bool Write(const QByteArray& text)
    {
        FFile->Write(text);
        return Healthy();
    }

    // The end of the run: the file takes its name now. False (and said) when
    // anything was lost.
    bool Finish()
    {
        FFile->Commit();
        return Healthy();
    }

private:
    // True while nothing failed; the first failure is said, once.
    bool Healthy()
    {
        if (!FFile->Failed())
            return true;
        if (!FSaid)
            PrintError((FPath.isEmpty() ? QStringLiteral("standard output") : FPath) + QStringLiteral(": ")
                + FFile->ErrorText());
        FSaid = true;
        return false;
    }

    QString FPath;
    std::unique_ptr<TOutputFile> FFile;
    bool FSaid = false;
};

// TERM or INT (a logout, a kill, Ctrl+C) ends a run of readings as its count
// would: the reading under way is finished, the history closed cleanly (its
// log emptied, not left for the next start) and the output given its name.
volatile std::sig_atomic_t GStopSignal = 0;

void OnStopSignal(int signal)
{
    GStopSignal = signal;
}

void StopOnSignals()
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT})
        ::sigaction(signal, &action, nullptr);
}

// Waits until `until`; false as soon as a stop signal has come.
bool WaitUnlessStopped(std::chrono::steady_clock::time_point until)
{
    using namespace std::chrono_literals;
    while (!GStopSignal) {
        const auto left = until - std::chrono::steady_clock::now();
        if (left <= 0s)
            return true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, 50ms));
    }
    return false;
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
    QString error;
    const std::optional<QString> host = ConfiguredLineHost(name, DefaultRecorderConfigPath(), error);
    if (!host)
        PrintError(error);
    return host;
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
    TReadingsWriter writer(ChosenFormat(options), options.Span, options.Quantity, options.ReadFigures);
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
    const bool written = output.Write(FormatLineEvents(ChosenFormat(options), events.Events()));
    if (!read.Complete()) {
        PrintError(read.Text());
        return 1;
    }
    return output.Finish() && written ? 0 : 1;
}

// What the host's reading printed after earlier ones adds: the CSV header
// and the blank line between tables only once.
QByteArray NextReadingText(TOutputFormat format, const TReading& reading, TToneSpan span, bool first,
    TToneQuantity quantity, bool figures)
{
    QByteArray text = FormatReadings(format, {reading}, span, quantity, figures);
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

    TReadingRequest request;
    request.Host = options.Host;
    request.Port = options.Port;
    request.User = options.Username;
    request.Password = *password.Password;
    request.Prompt = options.Prompt;
    request.Family = options.Router;
    request.ReadFigures = options.ReadFigures;

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
    std::optional<TReading> previous;
    for (int count = 0; options.Count == 0 || count < options.Count; ++count) {
        if (count > 0) {
            // Counted from the start of each reading, as the window's timer counts.
            next += std::chrono::seconds(options.IntervalSeconds);
            if (!WaitUnlessStopped(next))
                break;
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
        request.DeadlineSpan = deadline;
        request.Previous = previous ? &*previous : nullptr;
        const TTakenReading taken = TakeReading(request);
        const TReading& reading = taken.Reading;
        // A range is that part of the line read, whatever its tone count.
        const TToneSpan span = options.Span;
        const bool printed
            = output.Write(NextReadingText(format, reading, span, count == 0, options.Quantity, options.ReadFigures));
        const bool loginRefused = reading.Outcome == TReadingOutcome::LoginRefused;

        if (!reading.Completed) {
            status = 1;
            // The reason in the window's words; the socket's code after it
            // for whoever looks further.
            QString error = taken.FailureText();
            if (taken.ErrorCode > 0)
                error += QStringLiteral(" (%1)").arg(taken.ErrorCode);
            error = QStringLiteral("%1: %2").arg(options.Host, error);
            // Readings in a row: the time tells one failure from the next.
            if (options.IntervalSeconds > 0 && options.Count != 1)
                std::fprintf(stderr, "%s ",
                    QDateTime::fromMSecsSinceEpoch(reading.TimeMs).toString(Qt::ISODate).toLocal8Bit().constData());
            PrintError(error);
        }
        previous = reading;
        // The same password is refused again, and some routers lock the
        // account: readings in a row wait longer after each refusal.
        refusedInRow = loginRefused ? refusedInRow + 1 : 0;
        if (refusedInRow > 0 && options.IntervalSeconds > 0 && options.Count != count + 1) {
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
        if (GStopSignal)
            break;
    }
    if (!output.Finish())
        return 1;
    // Stopped: the shell's status of a death by that signal, so a script
    // still tells a stopped run from a finished one.
    return GStopSignal ? 128 + GStopSignal : status;
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
    StopOnSignals();
    try {
        status = ReadLine(options);
    } catch (const std::exception& error) {
        PrintError(QString::fromLocal8Bit(error.what()));
    }
    SocketLayerShutdown();
    return status;
}
