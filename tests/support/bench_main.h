// The main every benchmark that starts Qt shares: no display unless one is
// asked for, and a data folder of this run's own, so a benchmark that records
// history never writes into the user's.
#pragma once

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <cstdlib>

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
