// Events found in small reading sets whose events are known by hand, and sets
// that hold none although they look a little like one.
#include "events/line_events.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <ostream>

// Texts as text in failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << text.toStdString();
}

namespace {

const QString Host = QStringLiteral("127.0.0.1");

// The steady line: upstream tones 6-31 at 8 bits (208 bits a symbol),
// downstream tones 32-131 at 10 bits (1000).
TReading Steady(int minute, const QString& host = Host)
{
    TReading reading = ZyxelReading(std::int64_t(minute) * 60000, host, true);
    for (int tone = 6; tone < 32; ++tone)
        reading.Bits[std::size_t(tone)] = 8;
    for (int tone = 32; tone < 132; ++tone)
        reading.Bits[std::size_t(tone)] = 10;
    return reading;
}

TReading Changed(int minute, const std::map<int, int>& bits, bool completed = true)
{
    TReading reading = Steady(minute);
    reading.Completed = completed;
    for (const auto& [tone, b] : bits)
        reading.Bits[std::size_t(tone)] = std::uint8_t(b);
    return reading;
}

TReading Incomplete(int minute)
{
    return Changed(minute, {}, false);
}

// Readings from minute `from` up to `to` (excluded) every `step` minutes,
// each made by `make`.
void Add(std::vector<TReading>& readings, int from, int to, const std::function<TReading(int)>& make, int step = 1)
{
    for (int minute = from; minute < to; minute += step)
        readings.push_back(make(minute));
}

std::map<int, int> Tones(int first, int last, int bits)
{
    std::map<int, int> tones;
    for (int tone = first; tone <= last; ++tone)
        tones[tone] = bits;
    return tones;
}

struct TExpected {
    TLineEventKind Kind;
    int StartMinute;
    int EndMinute;
    const char* Figures;
    bool Ongoing = false;
};

TEST(LineEvents, EventsOfKnownSets)
{
    using K = TLineEventKind;
    const auto steady = [](int m) { return Steady(m); };
    const auto lost = [](const std::map<int, int>& bits) { return [bits](int m) { return Changed(m, bits); }; };
    std::map<int, int> risen = Tones(6, 31, 9);
    for (const auto& [tone, b] : Tones(32, 131, 11))
        risen[tone] = b;
    std::map<int, int> twoRanges = Tones(40, 41, 7);
    twoRanges[60] = 8;
    twoRanges[70] = 9; // one bit: not lost

    const struct {
        const char* name;
        std::function<void(std::vector<TReading>&)> build;
        std::vector<TExpected> events;
    } cases[] = {
        {"a steady line", [&](auto& r) { Add(r, 0, 120, steady); }, {}},
        {"three incomplete cycles: one outage until the next complete one",
         [&](auto& r) { Add(r, 0, 20, steady); Add(r, 20, 23, Incomplete); Add(r, 23, 40, steady); },
         {{K::Outage, 20, 23, "3 incomplete cycles"}}},
        {"one incomplete cycle is an outage too",
         [&](auto& r) { Add(r, 0, 5, steady); Add(r, 5, 6, Incomplete); Add(r, 6, 8, steady); },
         {{K::Outage, 5, 6, "1 incomplete cycle"}}},
        {"an outage still going on ends at the last reading",
         [&](auto& r) { Add(r, 0, 20, steady); Add(r, 20, 25, Incomplete); },
         {{K::Outage, 20, 24, "5 incomplete cycles", true}}},
        {"most loaded tones change at once: a resync",
         [&](auto& r) { Add(r, 0, 20, steady); Add(r, 20, 40, lost(risen)); },
         {{K::Resync, 19, 20, "126 of 126 loaded tones changed"}}},
        {"an outage and a resync after it",
         [&](auto& r) { Add(r, 0, 20, steady); Add(r, 20, 22, Incomplete); Add(r, 22, 30, lost(risen)); },
         {{K::Resync, 19, 22, "126 of 126 loaded tones changed"}, {K::Outage, 20, 22, "2 incomplete cycles"}}},
        {"downstream falls 12 %: a rate drop; the tones' baseline is too young to judge",
         [&](auto& r) { Add(r, 0, 20, steady); Add(r, 20, 25, lost(Tones(32, 51, 4))); Add(r, 25, 30, steady); },
         {{K::RateDrop, 20, 25, "downstream 3520 kbit/s, median 4000 kbit/s"}}},
        {"upstream falls 17 %",
         [&](auto& r) { Add(r, 0, 20, steady); Add(r, 20, 30, lost(Tones(6, 11, 2))); },
         {{K::RateDrop, 20, 29, "upstream 688 kbit/s, median 832 kbit/s", true}}},
        {"a fall of exactly 10 % is no drop; one bit less on each tone loses no bits",
         [&](auto& r) { Add(r, 0, 20, steady); Add(r, 20, 30, lost(Tones(32, 131, 9))); },
         {{K::Resync, 19, 20, "100 of 126 loaded tones changed"}}},
        {"two tones and one tone low for six minutes: too few tones, too short",
         [&](auto& r) { Add(r, 0, 90, steady); Add(r, 90, 96, lost(twoRanges)); Add(r, 96, 100, steady); }, {}},
        {"a single tone flickering is no event",
         [&](auto& r) {
             Add(r, 0, 60, [](int m) { return m % 2 ? Changed(m, {{40, 3}}) : Steady(m); });
         },
         {}},
        {"a tone low for two readings only is no event",
         [&](auto& r) { Add(r, 0, 20, steady); Add(r, 20, 22, lost({{40, 3}})); Add(r, 22, 30, steady); }, {}},
        {"too few readings before to judge rate or tones",
         [&](auto& r) { Add(r, 0, 5, steady); Add(r, 5, 9, lost(Tones(32, 51, 4))); Add(r, 9, 20, steady); }, {}},
        {"a reading after a long pause: no outage, no resync, no drop",
         [&](auto& r) { Add(r, 0, 20, steady); Add(r, 200, 220, lost(Tones(32, 131, 4))); }, {}},
        {"another host's readings between are its own",
         [&](auto& r) {
             for (int m = 0; m < 30; ++m)
                 r.push_back(Steady(m, QStringLiteral("127.0.0.2"))), r.push_back(m >= 10 && m < 12 ? Incomplete(m) : Steady(m));
         },
         {{K::Outage, 10, 12, "2 incomplete cycles"}}},
        {"a pause of sampling within the limit changes nothing",
         [&](auto& r) { Add(r, 0, 20, steady); Add(r, 45, 60, steady); }, {}},
        {"one tone three bits above its usual for two hours is no loss when it returns",
         [&](auto& r) {
             Add(r, 0, 120, [](int m) { return Changed(m, {{40, 13}}); }, 10);
             Add(r, 120, 1800, steady, 10);
         },
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TReading> readings;
        c.build(readings);
        TLineEventCollector collector;
        for (const TReading& reading : readings)
            collector.Add(reading);
        const std::vector<TLineEvent> events = collector.Events();
        ASSERT_EQ(events.size(), c.events.size());
        for (std::size_t i = 0; i < events.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(events[i].Kind, c.events[i].Kind);
            EXPECT_EQ(events[i].Host, Host);
            EXPECT_EQ(events[i].StartMs, c.events[i].StartMinute * 60000LL);
            EXPECT_EQ(events[i].EndMs, c.events[i].EndMinute * 60000LL);
            EXPECT_EQ(events[i].FiguresText(), QString::fromLatin1(c.events[i].Figures));
            EXPECT_EQ(events[i].Ongoing, c.events[i].Ongoing);
        }
    }
}

// Fed one reading at a time, the detector tells what began and what ended
// with each: what the monitor notifies of.
TEST(LineEvents, NewsOfEachReading)
{
    const struct {
        const char* name;
        std::vector<TReading> readings;
        int reading; // index of the reading whose news is checked
        std::vector<TLineEventKind> started, ended;
    } cases[] = {
        {"an outage begins with its first incomplete cycle",
         {Steady(0), Steady(1), Incomplete(2)}, 2, {TLineEventKind::Outage}, {}},
        {"and is not told again with the next", {Steady(0), Incomplete(1), Incomplete(2)}, 2, {}, {}},
        {"it ends with the next complete cycle", {Steady(0), Incomplete(1), Steady(2)}, 2, {},
         {TLineEventKind::Outage}},
        {"a pause ends an outage without inventing more of it",
         {Steady(0), Incomplete(1), Steady(100)}, 2, {}, {TLineEventKind::Outage}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TLineEventDetector detector;
        TLineEventNews news;
        for (int i = 0; i <= c.reading; ++i)
            news = detector.Add(c.readings[std::size_t(i)]);
        const auto kinds = [](const std::vector<TLineEvent>& events) {
            std::vector<TLineEventKind> out;
            for (const auto& e : events)
                out.push_back(e.Kind);
            return out;
        };
        EXPECT_EQ(kinds(news.Started), c.started);
        EXPECT_EQ(kinds(news.Ended), c.ended);
    }
}


} // namespace
