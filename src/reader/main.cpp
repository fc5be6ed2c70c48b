// tirvane-read: the monitor's reading of the line for scripts. It holds the
// window's own dialogue with the router (same telnet session, same decoding)
// and prints each reading in one of the reader's formats, or prints readings
// kept in the line history. QtCore only: it runs where no display is.
#include "app/cycle_dialogue.h"
#include "app/reading_failure.h"
#include "history/reading_store.h"
#include "reader/output_formats.h"
#include "reader/password.h"
#include "reader/reader_options.h"
#include "telnet/socket_api.h"

#include <QCoreApplication>
#include <QDateTime>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

namespace {

void PrintError(const QString& text)
{
    std::fprintf(stderr, "tirvane-read: %s\n", text.toLocal8Bit().constData());
}

void Print(const QByteArray& text)
{
    std::fwrite(text.constData(), 1, std::size_t(text.size()), stdout);
    std::fflush(stdout);
}

QString StorePath(const TReaderOptions& options)
{
    return options.HistoryPath.isEmpty() ? TReadingStore::DefaultPath() : options.HistoryPath;
}

TOutputFormat ChosenFormat(const TReaderOptions& options)
{
    if (options.Format)
        return *options.Format;
    return ::isatty(STDOUT_FILENO) ? TOutputFormat::Table : TOutputFormat::Csv;
}

int Export(const TReaderOptions& options)
{
    TReadingStore store;
    if (!store.OpenToRead(StorePath(options))) {
        PrintError(store.ErrorText());
        return 1;
    }
    Print(FormatReadings(ChosenFormat(options), store.Readings(options.SinceMs, options.UntilMs, options.ExportHost),
        options.Span));
    return 0;
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
    for (int taken = 0; options.Count == 0 || taken < options.Count; ++taken) {
        if (taken > 0) {
            // Counted from the start of each reading, as the window's timer counts.
            next += std::chrono::seconds(options.IntervalSeconds);
            std::this_thread::sleep_until(next);
        }
        TCaptureBuffer memo;
        TToneTable tones{};
        request.Deadline = Clock::now() + deadline;
        const TDialogueOutcome outcome = RunCycleDialogue(request, memo, tones);

        TReading reading;
        reading.TimeMs = QDateTime::currentMSecsSinceEpoch();
        reading.Host = options.Host;
        reading.Completed = outcome.Completed;
        reading.Bits = ToneBits(tones);
        Print(NextReadingText(format, reading, options.Span, taken == 0));

        if (!outcome.Completed) {
            status = 1;
            // The reason in the window's words; the socket's code after it
            // for whoever looks further.
            const TReadingFailure failure = DescribeReadingFailure(outcome, request.Host, request.Port, deadline);
            QString error = QString::fromLatin1(failure.Text.c_str());
            if (outcome.ErrorCode > 0)
                error += QStringLiteral(" (%1)").arg(outcome.ErrorCode);
            error = QStringLiteral("%1: %2").arg(options.Host, error);
            // Readings in a row: the time tells one failure from the next.
            if (options.IntervalSeconds > 0 && options.Count != 1)
                std::fprintf(stderr, "%s ",
                    QDateTime::fromMSecsSinceEpoch(reading.TimeMs).toString(Qt::ISODate).toLocal8Bit().constData());
            PrintError(error);
        }
        if (recording && !store.Record(reading)) {
            recording = false;
            status = 1;
            PrintError(store.ErrorText());
        }
    }
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    // The monitor's own name, so both find the same history.
    QCoreApplication::setApplicationName(QStringLiteral("Tirvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TIRVANE_VERSION));

    const TReaderCommand command = ParseReaderOptions(QCoreApplication::arguments());
    if (const auto* help = std::get_if<TReaderHelp>(&command)) {
        Print(help->Text.toLocal8Bit());
        return 0;
    }
    if (std::holds_alternative<TReaderVersion>(command)) {
        Print(QByteArray("tirvane-read " TIRVANE_VERSION "\n"));
        return 0;
    }
    if (const auto* error = std::get_if<TReaderUsageError>(&command)) {
        PrintError(error->Text);
        std::fprintf(stderr, "Try 'tirvane-read --help' for more information.\n");
        return 2;
    }
    const TReaderOptions& options = std::get<TReaderOptions>(command);

    if (options.Export)
        return Export(options);
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
