// The line report of 30 days of one host's readings at one a minute (43,200),
// from the readings in memory to the PDF on disk: figures, events, trend,
// envelope and waterfall drawn, the file written (target: at most 1 s).
// The readings as the store gives them are taken apart from this: reading
// them is the store's own benchmark.
#include "history/report/line_report.h"
#include "support/bench_main.h"

#include <QGuiApplication>
#include <QFileInfo>

namespace {

constexpr std::int64_t MinuteMs = 60'000;
constexpr int ThirtyDays = 30 * 1440;
constexpr std::int64_t StartMs = 1'794'009'600'000; // 2026-11-07 00:00 UTC

std::vector<TReading> Month()
{
    std::vector<TReading> readings;
    readings.reserve(ThirtyDays);
    for (int i = 0; i < ThirtyDays; ++i) {
        TReading r = ZyxelReading(StartMs + i * MinuteMs, QStringLiteral("127.0.0.5"), i % 1440 < 300 || i % 1440 >= 303);
        for (int tone = 6; tone < ZyxelToneCount; ++tone)
            r.Bits[std::size_t(tone)] = std::uint8_t(tone < 400 ? 8 + (tone + i / 4320) % 5 : 3);
        if (i % 10 == 0)
            r.Bits[100] ^= 1;
        readings.push_back(std::move(r));
    }
    return readings;
}

void BM_ReportOf30Days(benchmark::State& state)
{
    static const std::vector<TReading> month = Month();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("report.pdf"));
    for (auto _ : state) {
        if (!WriteLineReport(path, QStringLiteral("127.0.0.5"), StartMs, StartMs + ThirtyDays * MinuteMs, month)) {
            state.SkipWithError("the report was not written");
            return;
        }
    }
    state.counters["KiB"] = double(QFileInfo(path).size()) / 1024.0;
}
BENCHMARK(BM_ReportOf30Days)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    return RunBenchmarksWithPrivateData<QGuiApplication>(argc, argv);
}
