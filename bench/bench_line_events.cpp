// The events of a year of one host's readings at one a minute (525,600),
// fed one at a time through the detector the reader, the History window and
// the monitor use (target: at most 200 ms).
//
// EventsOfYear:         a line as lines are: steady for hours, a tone that
//                       flickers by a bit, a few tones losing bits now and
//                       then, an outage a day, a resync every three days.
// EventsOfChangingYear: for comparison, the year bench_history stores, in
//                       which every reading differs from the one before in
//                       most tones (every reading is then a resync).
//
// The readings are made as they are fed, by changing a few bits of one
// reading, so the figure is the detector's and not a year's worth of memory.
#include "history/line_events.h"

#include <benchmark/benchmark.h>

namespace {

constexpr std::int64_t MinuteMs = 60'000;
constexpr int YearOfMinutes = 525'600;
constexpr std::int64_t YearStartMs = 1'733'011'200'000; // 2024-12-01 00:00 UTC

void BM_EventsOfYear(benchmark::State& state)
{
    std::size_t events = 0;
    for (auto _ : state) {
        TLineEventDetector detector;
        TReading r = ZyxelReading(0, QStringLiteral("127.0.0.5"), true);
        const auto lineOf = [&](int pattern) {
            for (int tone = 6; tone < ZyxelToneCount; ++tone)
                r.Bits[std::size_t(tone)] = std::uint8_t(tone < 400 ? 8 + (tone + pattern) % 5 : 3);
        };
        lineOf(0);
        events = 0;
        for (int i = 0; i < YearOfMinutes; ++i) {
            r.TimeMs = YearStartMs + i * MinuteMs;
            const int ofDay = i % 1440;
            if (i % 4320 == 4000)
                lineOf(i / 4320); // a resync
            if (i % 10 == 0)
                r.Bits[100] ^= 1; // a flicker
            const bool low = i % 617 < 5;
            for (int tone = 200; tone < 204; ++tone)
                r.Bits[std::size_t(tone)] = std::uint8_t(low ? 2 : 8 + (tone + i / 4320) % 5);
            r.Completed = ofDay < 300 || ofDay >= 303; // an outage of 3 cycles a day
            const TLineEventNews news = detector.Add(r);
            events += news.Ended.size();
        }
        benchmark::DoNotOptimize(events);
    }
    state.counters["events"] = double(events);
}
BENCHMARK(BM_EventsOfYear)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true)->UseRealTime();

void BM_EventsOfChangingYear(benchmark::State& state)
{
    std::size_t events = 0;
    for (auto _ : state) {
        TLineEventDetector detector;
        TReading r = ZyxelReading(0, QStringLiteral("127.0.0.5"), true);
        events = 0;
        for (int i = 0; i < YearOfMinutes; ++i) {
            r.TimeMs = YearStartMs + i * MinuteMs;
            for (int tone = 1; tone < ZyxelToneCount; ++tone)
                r.Bits[std::size_t(tone)] = std::uint8_t((tone * 3 + i) % 16);
            events += detector.Add(r).Ended.size();
        }
        benchmark::DoNotOptimize(events);
    }
    state.counters["events"] = double(events);
}
BENCHMARK(BM_EventsOfChangingYear)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
