// What the benchmarks share: contestants measured side by side in turns;
// and the main of those that start Qt: no display unless one is
// asked for, and a data folder of this run's own, so a benchmark that records
// history never writes into the user's.
#pragma once

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <vector>

// Runs every contestant once an iteration, taking turns at going first (what
// follows another also meets the peer still tidying up after it), and gives
// each one's mean milliseconds an iteration, in the order given.
inline std::vector<double> TakeTurns(benchmark::State& state, const std::vector<std::function<void()>>& contestants)
{
    using Clock = std::chrono::steady_clock;
    const std::size_t n = contestants.size();
    std::vector<Clock::duration> spent(n);
    std::size_t first = 0;
    for (auto _ : state) {
        for (std::size_t turn = 0; turn < n; ++turn) {
            const std::size_t which = (first + turn) % n;
            const auto start = Clock::now();
            contestants[which]();
            spent[which] += Clock::now() - start;
        }
        first = (first + 1) % n;
    }
    std::vector<double> ms;
    for (const auto& d : spent)
        ms.push_back(std::chrono::duration<double, std::milli>(d).count() / double(state.iterations()));
    return ms;
}

// App is QApplication for benchmarks that build windows, QCoreApplication
// for the rest (Qt SQL finds its driver through the application object).
template <class App>
int RunBenchmarksWithPrivateData(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir data;
    ::setenv("XDG_DATA_HOME", data.path().toLocal8Bit().constData(), 1);
    App app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
