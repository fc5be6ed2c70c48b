// The event rules on lines as they are: days of readings once a minute with
// bit swaps, notches, outcomes of failed cycles, the router's own figures, a
// VDSL line and a change of line kind, each with the events it must give,
// counted by kind.
#include "events/line_events.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace {

using K = TLineEventKind;
constexpr std::int64_t MinuteMs = 60'000;
constexpr int Day = 1440;
const QString Host = QStringLiteral("127.0.0.1");

// A line once a minute: trained bits per tone, three bit swaps a minute
// each leaving its tone within one bit of its trained value.
class TLine {
public:
    // ADSL2+: upstream 6-31, downstream 33-406 (400 loaded tones).
    TLine()
    {
        FReading = ZyxelReading(0, Host, true);
        FReading.Outcome = TReadingOutcome::LineUp;
        for (int tone = 6; tone < 407; ++tone)
            if (tone != 32)
                Train(tone, 6 + tone % 7);
    }
    // VDSL2 17a: 4096 tones, its own plan.
    static TLine Vdsl()
    {
        TLine line;
        TReading& r = line.FReading;
        r.Bits.assign(4096, 0);
        r.Mode = QStringLiteral("VDSL2 17a");
        r.Router = QStringLiteral("broadcom");
        r.Bands = {{{870, 1205}, {1972, 2782}}, {{33, 859}, {1216, 1961}, {2793, 4095}}};
        line.FTrained.assign(4096, 0);
        for (int tone = 33; tone < 4096; ++tone)
            if (r.Bands.DirectionOf(tone) != TToneDirection::Neither)
                line.Train(tone, std::max(2, 14 - tone / 350));
        return line;
    }
    void Train(int tone, int bits)
    {
        FTrained.resize(FReading.Bits.size());
        FTrained[std::size_t(tone)] = std::uint8_t(bits);
        FReading.Bits[std::size_t(tone)] = std::uint8_t(bits);
    }
    // The next minute's reading; `change` may spoil it.
    TReading Next(const std::function<void(int minute, TReading&)>& change = {})
    {
        TReading r = FReading;
        r.TimeMs = FMinute * MinuteMs;
        for (int k = 0; k < 3; ++k) {
            FSeed = FSeed * 1103515245u + 12345u;
            const std::size_t tone = (FSeed >> 8) % FTrained.size();
            if (FTrained[tone] > 1)
                FReading.Bits[tone] = std::uint8_t(FTrained[tone] + int((FSeed >> 4) % 3) - 1);
        }
        r.Bits = FReading.Bits;
        if (change)
            change(FMinute, r);
        ++FMinute;
        return r;
    }
    TReading FReading;
    std::vector<std::uint8_t> FTrained;
    int FMinute = 0;
    std::uint32_t FSeed = 7;
};

// A notch: tones first-last three bits below their trained value.
void Notch(TReading& r, const TLine& line, int first, int last)
{
    for (int tone = first; tone <= last; ++tone)
        r.Bits[std::size_t(tone)] = std::uint8_t(std::max(0, line.FTrained[std::size_t(tone)] - 3));
}

TReading Failed(std::int64_t minute, TReadingOutcome outcome, const QString& state = {})
{
    TReading r = ZyxelReading(minute * MinuteMs, Host, false);
    r.Outcome = outcome;
    r.Figures.State = state;
    return r;
}

struct TCase {
    const char* name;
    std::function<std::vector<TReading>()> make;
    std::map<K, int> counts;
    // The first event of this kind, where checked: how its figures begin,
    // and its start.
    std::optional<K> checked = std::nullopt;
    const char* figures = "";
    std::int64_t startMinute = -1;
};

std::vector<TReading> Minutes(TLine line, int minutes, const std::function<void(int, TReading&)>& change = {})
{
    std::vector<TReading> readings;
    for (int i = 0; i < minutes; ++i)
        readings.push_back(line.Next(change));
    return readings;
}

TEST(LineEventRules, EventsOfLines)
{
    const auto evening = [](int minute) { return minute % Day >= 19 * 60 && minute % Day < 22 * 60; };
    const TCase cases[] = {
        {"a week of bit swaps only", [] { return Minutes(TLine(), 7 * Day); }, {}},
        {"a notch of 16 tones 3 bits down for 3 hours: one event, from its first low reading",
         [] {
             TLine line;
             return Minutes(line, 2 * Day, [&line](int m, TReading& r) {
                 if (m >= Day + 600 && m < Day + 780)
                     Notch(r, line, 200, 215);
             });
         },
         {{K::TonesLostBits, 1}}, K::TonesLostBits, "tones 200-215, ", Day + 600},
        {"the same notch every evening for a week: seven",
         [&] {
             TLine line;
             return Minutes(line, 7 * Day, [&](int m, TReading& r) {
                 if (evening(m))
                     Notch(r, line, 200, 215);
             });
         },
         {{K::TonesLostBits, 7}}},
        {"a notch of three tones, or of 16 tones for 9 minutes: none",
         [] {
             TLine line;
             return Minutes(line, Day, [&line](int m, TReading& r) {
                 if (m >= 600 && m < 900)
                     Notch(r, line, 100, 102);
                 if (m >= 1000 && m < 1009)
                     Notch(r, line, 300, 315);
             });
         },
         {}},
        {"the line down for 5 cycles between good readings: one outage of 5 minutes",
         [] {
             std::vector<TReading> r = Minutes(TLine(), 120);
             for (int m = 60; m < 65; ++m)
                 r[std::size_t(m)] = Failed(m, TReadingOutcome::LineDown, QStringLiteral("G.994 Training"));
             return r;
         },
         {{K::Outage, 1}}, K::Outage, "5 cycles with the line down (G.994 Training)", 60},
        {"a router that refuses 5 logins: no outage, a time without readings",
         [] {
             std::vector<TReading> r = Minutes(TLine(), 120);
             for (int m = 60; m < 65; ++m)
                 r[std::size_t(m)] = Failed(m, TReadingOutcome::LoginRefused);
             return r;
         },
         {{K::NoReading, 1}}, K::NoReading, "the router did not accept the login, 5 cycles", 60},
        {"a retrain by the router's count, the bits as they were: one resync",
         [] {
             return Minutes(TLine(), 120, [](int m, TReading& r) { r.Figures.Retrains = m < 80 ? 4 : 5; });
         },
         {{K::Resync, 1}}, K::Resync, "the router counts retrain 5", 79},
        {"every tone moves but the router counts no retrain: no resync",
         [] {
             return Minutes(TLine(), 120, [](int m, TReading& r) {
                 r.Figures.Retrains = 4;
                 if (m >= 80)
                     for (int tone = 33; tone < 407; ++tone)
                         r.Bits[std::size_t(tone)] = std::uint8_t(r.Bits[std::size_t(tone)] + 1);
             });
         },
         {}},
        {"a retrain to three bits less on every tone: the baseline starts afresh, no tone event",
         [] {
             return Minutes(TLine(), Day, [](int m, TReading& r) {
                 if (m >= 600)
                     for (int tone = 6; tone < 407; ++tone)
                         r.Bits[std::size_t(tone)] = std::uint8_t(std::max(1, r.Bits[std::size_t(tone)] - 3));
             });
         },
         {{K::Resync, 1}, {K::RateDrop, 2}}},
        {"margin below 3 dB for 4 minutes, then for 6: one margin low",
         [] {
             return Minutes(TLine(), 120, [](int m, TReading& r) {
                 r.Figures.Down.MarginDb = (m >= 30 && m < 34) || (m >= 60 && m < 66) ? 2.5 : 9.0;
             });
         },
         {{K::MarginLow, 1}}, K::MarginLow, "downstream margin down to 2.5 dB", 60},
        {"errored seconds of 3 a minute for 10 minutes: one error burst",
         [] {
             std::uint64_t es = 0;
             return Minutes(TLine(), 120, [es](int m, TReading& r) mutable {
                 es += m >= 60 && m < 70 ? 3 : 0;
                 r.Figures.Down.Es = es;
                 r.Figures.Down.Crc = es * 2;
             });
         },
         {{K::ErrorBurst, 1}}, K::ErrorBurst, "downstream 30 errored seconds, 60 CRC in 15 min at most", 66},
        {"a VDSL line: a day of bit swaps, then a notch of 20 tones for 3 hours",
         [] {
             TLine line = TLine::Vdsl();
             return Minutes(line, 2 * Day, [&line](int m, TReading& r) {
                 if (m >= Day + 300 && m < Day + 480)
                     Notch(r, line, 3000, 3019);
             });
         },
         {{K::TonesLostBits, 1}}, K::TonesLostBits, "tones 3000-3019, ", Day + 300},
        {"an ADSL2+ line that comes up as VDSL2: one resync, nothing else",
         [] {
             std::vector<TReading> r = Minutes(TLine(), Day);
             TLine vdsl = TLine::Vdsl();
             vdsl.FMinute = Day;
             for (const TReading& reading : Minutes(vdsl, Day))
                 r.push_back(reading);
             return r;
         },
         {{K::Resync, 1}}, K::Resync, "the line came up as VDSL2 17a, 4096 tones", Day - 1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TLineEventCollector collector;
        for (const TReading& reading : c.make())
            collector.Add(reading);
        const std::vector<TLineEvent> events = collector.Events();
        std::map<K, int> counts;
        for (const TLineEvent& e : events)
            ++counts[e.Kind];
        EXPECT_EQ(counts, c.counts);
        if (!c.checked)
            continue;
        const auto first = std::find_if(events.begin(), events.end(), [&](const TLineEvent& e) { return e.Kind == *c.checked; });
        ASSERT_NE(first, events.end());
        EXPECT_TRUE(first->FiguresText().startsWith(QLatin1String(c.figures))) << first->FiguresText().toStdString();
        EXPECT_EQ(first->StartMs, c.startMinute * MinuteMs);
    }
}

// A router's words go into the CSV's figures: a field holding a line break,
// a return, a comma or a quote is quoted, so a reader of the CSV sees one row.
TEST(LineEventRules, CsvFiguresQuotedWhereTheyMustBe)
{
    const struct {
        const char* state;
        const char* field;
    } cases[] = {{"Training", "1 cycle with the line down (Training)"},
        {"G.994\rTraining", "\"1 cycle with the line down (G.994\rTraining)\""},
        {"a\nb", "\"1 cycle with the line down (a\nb)\""},
        {"say \"down\"", "\"1 cycle with the line down (say \"\"down\"\")\""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.state);
        TLineEvent e;
        e.Cycles = 1;
        e.State = QString::fromLatin1(c.state);
        const QByteArray csv = FormatLineEvents(TOutputFormat::Csv, {e});
        EXPECT_TRUE(csv.endsWith(QByteArray(",0,") + c.field + "\n")) << csv.toStdString();
    }
}

} // namespace
