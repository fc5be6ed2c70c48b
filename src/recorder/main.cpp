// tirvane-recorder: records every configured line into the line history
// without a window, each on its own schedule, and serves the latest
// readings to Prometheus when asked to. QtCore and Qt's HTTP server only:
// it runs as a user service where no display is.
#include "history/store/reading_store.h"
#include "line/cycle_dialogue.h"
#include "recorder/metrics_server.h"
#include "recorder/recorder_config.h"
#include "recorder/recorder_service.h"
#include "telnet/socket_api.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <exception>

namespace {

int StopPipe[2] = {-1, -1};

void OnStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(StopPipe[1], &byte, 1);
}

void PrintError(const QString& text)
{
    std::fprintf(stderr, "tirvane-recorder: %s\n", qUtf8Printable(text));
}

constexpr char Usage[] = "Usage: tirvane-recorder [--config FILE] [--listen [ADDRESS:]PORT [--tone-series]]\n"
                         "                        [--history FILE]\n"
                         "Records every line of the configuration (default: %s) into the line history\n"
                         "and, with --listen, serves their latest readings on http://ADDRESS:PORT/metrics\n"
                         "(ADDRESS defaults to 127.0.0.1); --tone-series adds every tone's bit load there.\n"
                         "Stops on TERM or INT once the readings in hand are written.\n";

struct TRecorderOptions {
    QString ConfigPath;
    QString HistoryPath;
    std::optional<TListenAddress> Listen;
    bool ToneSeries = false;
};

// The options, or exit status 0 (help, version) or 2 (said on stderr).
std::variant<TRecorderOptions, int> ParseOptions(const QStringList& arguments)
{
    TRecorderOptions options;
    options.ConfigPath = DefaultRecorderConfigPath();
    options.HistoryPath = TReadingStore::DefaultPath();
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == QLatin1String("--help")) {
            std::printf(Usage, qUtf8Printable(DefaultRecorderConfigPath()));
            return 0;
        }
        if (arg == QLatin1String("--version")) {
            std::printf("tirvane-recorder %s\n", TIRVANE_VERSION);
            return 0;
        }
        if (arg == QLatin1String("--tone-series")) {
            options.ToneSeries = true;
            continue;
        }
        const bool valued = arg == QLatin1String("--config") || arg == QLatin1String("--listen")
            || arg == QLatin1String("--history");
        if (!valued || i + 1 >= arguments.size()) {
            PrintError(valued ? arg + QStringLiteral(" needs a value") : QStringLiteral("unknown option ") + arg);
            std::fprintf(stderr, "Try 'tirvane-recorder --help' for more information.\n");
            return 2;
        }
        const QString value = arguments[++i];
        if (arg == QLatin1String("--config")) {
            options.ConfigPath = value;
        } else if (arg == QLatin1String("--history")) {
            options.HistoryPath = value;
        } else {
            options.Listen = ParseListenAddress(value);
            if (!options.Listen) {
                PrintError(QStringLiteral("--listen %1: expected PORT or ADDRESS:PORT").arg(value));
                return 2;
            }
        }
    }
    return options;
}

std::chrono::milliseconds CycleDeadlineToUse()
{
    // Tests of the whole program shorten it, as they shorten tirvane-read's.
    bool set = false;
    const int ms = qEnvironmentVariableIntValue("TIRVANE_CYCLE_DEADLINE_MS", &set);
    return set && ms > 0 ? std::chrono::milliseconds(ms) : CycleDeadline;
}

int Run(const TRecorderOptions& options)
{
    TRecorderConfigResult loaded = LoadRecorderConfig(options.ConfigPath);
    if (!loaded.Config) {
        PrintError(loaded.Error);
        return 2;
    }
    if (::pipe2(StopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        PrintError(QStringLiteral("cannot make the stop pipe"));
        return 1;
    }
    struct sigaction stop {};
    stop.sa_handler = OnStopSignal;
    sigemptyset(&stop.sa_mask);
    ::sigaction(SIGTERM, &stop, nullptr);
    ::sigaction(SIGINT, &stop, nullptr);
    QSocketNotifier stopNotifier(StopPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, qApp, &QCoreApplication::quit);

    const std::size_t lines = loaded.Config->Lines.size();
    TRecorderService service(std::move(*loaded.Config), options.HistoryPath, CycleDeadlineToUse(), options.ToneSeries);
    std::unique_ptr<TMetricsServer> server;
    if (options.Listen) {
        server = std::make_unique<TMetricsServer>([&service] { return service.MetricsText(); });
        QString error;
        const quint16 port = server->Listen(*options.Listen, &error);
        if (port == 0) {
            PrintError(error);
            return 1;
        }
        std::fprintf(stderr, "tirvane-recorder: serving http://%s:%u/metrics\n",
            qUtf8Printable(options.Listen->Address.protocol() == QAbstractSocket::IPv6Protocol
                    ? QLatin1Char('[') + options.Listen->Address.toString() + QLatin1Char(']')
                    : options.Listen->Address.toString()),
            unsigned(port));
    }
    service.Start();
    std::fprintf(stderr, "tirvane-recorder: recording %zu line%s into %s\n", lines, lines == 1 ? "" : "s",
        qUtf8Printable(options.HistoryPath));
    QCoreApplication::exec();
    // No new scrape while the last readings are written.
    server.reset();
    service.Stop();
    std::fprintf(stderr, "tirvane-recorder: stopped\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // A thread per line would each get an allocation arena of its own; the
    // work of each is small and the memory is better shared.
    ::mallopt(M_ARENA_MAX, 2);
    QCoreApplication application(argc, argv);
    // The monitor's own name, so both find the same history and folders.
    QCoreApplication::setApplicationName(QStringLiteral("Tirvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TIRVANE_VERSION));
    std::signal(SIGPIPE, SIG_IGN);

    const std::variant<TRecorderOptions, int> parsed = ParseOptions(QCoreApplication::arguments());
    if (const int* status = std::get_if<int>(&parsed))
        return *status;
    try {
        SocketLayerStartup();
    } catch (const std::exception& error) {
        PrintError(QString::fromLocal8Bit(error.what()));
        return 1;
    }
    int status = 1;
    try {
        status = Run(std::get<TRecorderOptions>(parsed));
    } catch (const std::exception& error) {
        PrintError(QString::fromLocal8Bit(error.what()));
    }
    SocketLayerShutdown();
    return status;
}
