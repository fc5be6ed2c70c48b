// The events of a year of one host's readings at one a minute (525,600),
// fed one at a time through the detector the reader, the History window and
// the monitor use (target: at most 1 s; events: how many were found).
//
// EventsOfBitSwapYear:  the year the history benchmarks store, with the
//                       outcome and figures of each cycle: four tones moving
//                       a bit each minute, one cycle in 500 unanswered, a
//                       retrain every 20 days (the router's count). Expected:
//                       the unanswered cycles and the retrains, no tone event.
// EventsOfSwappingYear: a year of 400 loaded tones with three bit swaps a
//                       minute, each leaving its tone within one bit of its
//                       trained value, and no failed cycle: no event at all.
// MakeBitSwapYear:      the same readings made and dropped, for the part of
//                       the figure above that is not the detector's.
// EventsOfYear:         a line as lines are: steady for hours, a tone that
//                       flickers by a bit, a few tones losing bits now and
//                       then, an outage a day, a resync every three days.
// EventsOfChangingYear: for comparison, the year bench_history stores, in
//                       which every reading differs from the one before in
//                       most tones (every reading is then a resync).
//
// The readings are made as they are fed, by changing a few bits of one
// reading, so the figure is the detector's and not a year's worth of memory.
#include "events/line_events.h"
#include "history_year.h"

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

void BM_EventsOfBitSwapYear(benchmark::State& state)
{
    std::array<int, LineEventKindCount> kinds{};
    for (auto _ : state) {
        TLineEventCollector collector;
        for (int i = 0; i < YearOfMinutes; ++i)
            collector.Add(YearFiguresReading(YearStartMs + i * MinuteMs, QStringLiteral("127.0.0.5"), i));
        kinds = {};
        for (const TLineEvent& e : collector.Events())
            ++kinds[std::size_t(e.Kind)];
        benchmark::DoNotOptimize(kinds);
    }
    for (int k = 0; k < LineEventKindCount; ++k)
        state.counters[LineEventKindText(TLineEventKind(k)).replace(QLatin1Char(' '), QLatin1Char('_')).toStdString()] =
            kinds[std::size_t(k)];
}

void BM_EventsOfSwappingYear(benchmark::State& state)
{
    std::array<int, LineEventKindCount> kinds{};
    for (auto _ : state) {
        TReading r = ZyxelReading(0, QStringLiteral("127.0.0.5"), true);
        r.Outcome = TReadingOutcome::LineUp;
        std::vector<std::uint8_t> trained(r.Bits.size(), 0);
        for (int tone = 6; tone < 407; ++tone)
            if (tone != 32)
                trained[std::size_t(tone)] = r.Bits[std::size_t(tone)] = std::uint8_t(6 + tone % 7);
        std::uint32_t seed = 7;
        TLineEventCollector collector;
        for (int i = 0; i < YearOfMinutes; ++i) {
            r.TimeMs = YearStartMs + i * MinuteMs;
            for (int k = 0; k < 3; ++k) {
                seed = seed * 1103515245u + 12345u;
                const std::size_t tone = (seed >> 8) % trained.size();
                if (trained[tone] > 1)
                    r.Bits[tone] = std::uint8_t(trained[tone] + int((seed >> 4) % 3) - 1);
            }
            collector.Add(r);
        }
        kinds = {};
        for (const TLineEvent& e : collector.Events())
            ++kinds[std::size_t(e.Kind)];
        benchmark::DoNotOptimize(kinds);
    }
    for (int k = 0; k < LineEventKindCount; ++k)
        state.counters[LineEventKindText(TLineEventKind(k)).replace(QLatin1Char(' '), QLatin1Char('_')).toStdString()] =
            kinds[std::size_t(k)];
}
BENCHMARK(BM_EventsOfSwappingYear)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true)->UseRealTime();

// The same year's readings made and not looked at: what of the figure above
// is the making.
void BM_MakeBitSwapYear(benchmark::State& state)
{
    for (auto _ : state)
        for (int i = 0; i < YearOfMinutes; ++i)
            benchmark::DoNotOptimize(YearFiguresReading(YearStartMs + i * MinuteMs, QStringLiteral("127.0.0.5"), i));
}
BENCHMARK(BM_MakeBitSwapYear)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_EventsOfBitSwapYear)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true)->UseRealTime();

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
