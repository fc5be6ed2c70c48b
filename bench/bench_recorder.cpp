// tirvane-recorder against 50 simulated routers on loopback addresses, 5 of
// them silent (their listener's queue is full: connects are never answered),
// every line at the 60 s interval shortened by the factor below. Reported:
//
//   cpu_percent_at_60s  the recorder's CPU time per reading times the
//                       readings 50 lines take at 60 s, as a share of one
//                       core (target: at most 2 %)
//   rss_mb, rss_growth_mb  resident memory at the end, and its growth over
//                       the 1,000 readings after the first 300 (target: at
//                       most 60 MB, flat)
//   metrics_ms_mean, _median, _max  GET /metrics for 50 lines, every half
//                       second of the run (target: within 50 ms)
//   late_ms_max         the latest any answering line's reading came after
//                       its time in the line's rhythm (target: within 1 s)
//   cycles              readings taken (at least 1,000)
//
// Run as root inside a private network namespace with loopback up, e.g.
//   unshare -n sh -c 'ip link set lo up; exec build/bench/bench_recorder'
#include "history/store/reading_store.h"
#include "support/child_process.h"
#include "support/loopback_peer.h"
#include "support/router_sim_process.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

namespace {

constexpr int Lines = 50;
constexpr int Silent = 5;
constexpr int Factor = 20; // 60 s becomes 3 s
constexpr int IntervalS = 60 / Factor;
constexpr int Cycles = 1000;

double CpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i == 14 || i == 15)
            ticks += std::stod(field);
    return ticks / double(::sysconf(_SC_CLK_TCK));
}

double RssMb(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

int CountReadings(const QString& history)
{
    TReadingStore store;
    if (!store.OpenToRead(history))
        return 0;
    return int(store.CountBetween(0, INT64_MAX));
}

void BM_RecorderFiftyLines(benchmark::State& state)
{
    QTemporaryDir dir;
    std::vector<std::unique_ptr<RouterSimProcess>> sims;
    QByteArray config;
    QFile password(dir.filePath(QStringLiteral("pw")));
    password.open(QIODevice::WriteOnly);
    password.write("1234\n");
    password.close();
    password.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    std::vector<std::string> answering;
    for (int i = 0; i < Lines; ++i) {
        RouterSimProcess::Options options;
        options.address = RouterSimProcess::UniqueLoopbackAddress();
        if (i < Silent)
            options.extraArgs = {"--full-queue"};
        else
            answering.push_back(options.address);
        sims.push_back(std::make_unique<RouterSimProcess>(options));
        config += QStringLiteral("[line%1]\nhost = %2\ninterval = %3\npassword_file = pw\n")
                      .arg(i).arg(QString::fromStdString(options.address)).arg(IntervalS).toUtf8();
    }
    QFile configFile(dir.filePath(QStringLiteral("r.conf")));
    configFile.open(QIODevice::WriteOnly);
    configFile.write(config);
    configFile.close();
    const QString history = dir.filePath(QStringLiteral("h.sqlite"));

    for (auto _ : state) {
        support::ChildProcess recorder;
        recorder.Start({TIRVANE_RECORDER, "--config", configFile.fileName().toStdString(), "--history",
                           history.toStdString(), "--listen", "127.0.0.1:0"},
            {{"XDG_RUNTIME_DIR", dir.path().toStdString()}}, true);
        std::string line;
        recorder.WaitForLine("/metrics", std::chrono::seconds(30), &line);
        const int port = std::stoi(line.substr(line.rfind(':') + 1));
        // A warm-up of 300 readings (every line read, every buffer grown), then the measured run.
        while (CountReadings(history) < 300)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const double rssStart = RssMb(recorder.Pid());
        const double cpuStart = CpuSeconds(recorder.Pid());
        const int readingsStart = CountReadings(history);
        std::vector<double> metricsMs;
        while (CountReadings(history) < readingsStart + Cycles) {
            LoopbackClient client;
            const auto start = std::chrono::steady_clock::now();
            client.Connect("127.0.0.1", port);
            client.SendRaw("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
            // The answer ends at its Content-Length; the connection stays.
            const std::optional<std::string> head = client.ReceiveUntil("\r\n\r\n", 20000);
            const std::size_t at = head ? head->find("Content-Length: ") : std::string::npos;
            client.ReadAtLeast(at == std::string::npos ? 0 : std::stoul(head->substr(at + 16)), 20000);
            metricsMs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        const double cpu = CpuSeconds(recorder.Pid()) - cpuStart;
        const int readings = CountReadings(history) - readingsStart;
        state.counters["rss_mb"] = RssMb(recorder.Pid());
        state.counters["rss_growth_mb"] = RssMb(recorder.Pid()) - rssStart;
        recorder.Stop();

        // Per reading, as 50 lines read once a minute would spend it.
        state.counters["cpu_percent_at_60s"] = 100.0 * (cpu / readings) * (double(Lines) / 60.0);
        state.counters["cycles"] = readings;
        std::sort(metricsMs.begin(), metricsMs.end());
        double sum = 0;
        for (double ms : metricsMs)
            sum += ms;
        state.counters["metrics_ms_mean"] = sum / double(metricsMs.size());
        state.counters["metrics_ms_median"] = metricsMs[metricsMs.size() / 2];
        state.counters["metrics_ms_max"] = metricsMs.back();
        // Each answering line's readings against its own rhythm.
        TReadingStore store;
        store.OpenToRead(history);
        double late = 0;
        for (const std::string& host : answering) {
            const std::vector<TReading> readings = store.Readings(0, INT64_MAX, QString::fromStdString(host));
            for (std::size_t k = 1; k < readings.size(); ++k) {
                const double since = double(readings[k].TimeMs - readings[0].TimeMs);
                const double slot = std::round(since / (IntervalS * 1000.0)) * IntervalS * 1000.0;
                late = std::max(late, since - slot);
            }
        }
        state.counters["late_ms_max"] = late;
    }
}

BENCHMARK(BM_RecorderFiftyLines)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
