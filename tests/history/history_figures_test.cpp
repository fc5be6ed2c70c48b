// The History window's figures from small reading sets whose results are
// known by hand.
#include "history/history_figures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

namespace {

// A reading at minute `minute`; tones not named carry 0 bits.
TReading R(int minute, bool completed, const std::map<int, int>& bits)
{
    TReading reading;
    reading.TimeMs = std::int64_t(minute) * 60000;
    reading.Host = QStringLiteral("127.0.0.1");
    reading.Completed = completed;
    for (const auto& [tone, b] : bits)
        reading.Bits[std::size_t(tone)] = std::uint8_t(b);
    return reading;
}

struct ToneFigures {
    int tone, latest, max, min, changes;
};

struct FiguresCase {
    const char* name;
    std::vector<TReading> readings;
    int complete;
    int totalChanges;
    std::vector<ToneFigures> tones;
};

TEST(HistoryFigures, EnvelopeAndChangesOfKnownSets)
{
    const FiguresCase cases[] = {
        {"no readings", {}, 0, 0, {{40, 0, 0, 0, 0}}},
        {"one reading", {R(0, true, {{40, 9}})}, 1, 0, {{40, 9, 9, 9, 0}, {41, 0, 0, 0, 0}}},
        {"a tone drops and recovers",
         {R(0, true, {{40, 9}}), R(1, true, {{40, 4}}), R(2, true, {{40, 9}})}, 3, 2,
         {{40, 9, 9, 4, 2}}},
        {"an incomplete reading between equal ones is no change",
         {R(0, true, {{40, 9}}), R(1, false, {{40, 2}}), R(2, true, {{40, 9}})}, 2, 0,
         {{40, 9, 9, 9, 0}}},
        {"an incomplete reading between different ones: one change",
         {R(0, true, {{40, 9}}), R(1, false, {}), R(2, false, {}), R(3, true, {{40, 7}})}, 2, 1,
         {{40, 7, 9, 7, 1}}},
        {"only incomplete readings: all zero", {R(0, false, {{40, 9}}), R(1, false, {{40, 3}})}, 0, 0,
         {{40, 0, 0, 0, 0}}},
        {"latest is the newest complete one, not the newest reading",
         {R(0, true, {{5, 3}, {512, 2}}), R(1, true, {{5, 6}, {512, 2}}), R(2, false, {{5, 15}})}, 2, 1,
         {{5, 6, 6, 3, 1}, {512, 2, 2, 2, 0}}},
        {"bits above 15 count as 15", {R(0, true, {{7, 200}})}, 1, 0, {{7, 15, 15, 15, 0}}},
        {"each tone counted by itself",
         {R(0, true, {{0, 1}, {31, 2}, {32, 3}}), R(1, true, {{0, 2}, {31, 2}, {32, 4}}),
          R(2, true, {{0, 3}, {31, 2}, {32, 3}})},
         3, 4, {{0, 3, 3, 1, 2}, {31, 2, 2, 2, 0}, {32, 3, 4, 3, 2}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        THistoryFigures figures;
        figures.Reset(c.readings);
        EXPECT_EQ(figures.Count(), int(c.readings.size()));
        EXPECT_EQ(figures.CompleteCount(), c.complete);
        EXPECT_EQ(figures.TotalChanges(), c.totalChanges);
        for (const auto& t : c.tones) {
            SCOPED_TRACE(t.tone);
            EXPECT_EQ(figures.Latest(t.tone), t.latest);
            EXPECT_EQ(figures.Max(t.tone), t.max);
            EXPECT_EQ(figures.Min(t.tone), t.min);
            EXPECT_EQ(figures.Changes(t.tone), t.changes);
        }
    }
}

TEST(HistoryFigures, RatesAreBitsPerSymbolTimesFourThousand)
{
    struct Case {
        TReading reading;
        bool completed;
        int up, down;
        double upKbps, downKbps;
    };
    const Case cases[] = {
        {R(0, true, {}), true, 0, 0, 0.0, 0.0},
        {R(1, true, {{31, 2}, {32, 3}}), true, 2, 3, 8.0, 12.0}, // the boundary tones
        {R(2, true, {{0, 15}, {6, 10}, {100, 15}, {512, 1}}), true, 25, 16, 100.0, 64.0},
        {R(3, false, {{40, 9}}), false, 0, 0, 0.0, 0.0}, // an outage carries no rate
    };
    std::vector<TReading> readings;
    for (const auto& c : cases)
        readings.push_back(c.reading);
    THistoryFigures figures;
    figures.Reset(readings);
    ASSERT_EQ(figures.Rates().size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const TRatePoint& p = figures.Rates()[i];
        EXPECT_EQ(p.TimeMs, cases[i].reading.TimeMs);
        EXPECT_EQ(p.Completed, cases[i].completed);
        EXPECT_EQ(p.UpBits, cases[i].up);
        EXPECT_EQ(p.DownBits, cases[i].down);
        EXPECT_DOUBLE_EQ(p.UpKbps(), cases[i].upKbps);
        EXPECT_DOUBLE_EQ(p.DownKbps(), cases[i].downKbps);
    }
}

// Readings that drift and sometimes fail, as a line does.
std::vector<TReading> DriftingLine(int count)
{
    std::vector<TReading> readings;
    for (int i = 0; i < count; ++i) {
        std::map<int, int> bits;
        for (int tone = 0; tone < ReadingToneCount; tone += 7)
            bits[tone] = (tone * 3 + i * (tone % 5)) % 16;
        readings.push_back(R(i, i % 6 != 4, bits));
    }
    return readings;
}

// A window left open adds readings at one end and lets them go at the other:
// its figures must equal those computed afresh from what remains.
TEST(HistoryFigures, SlidingPeriodEqualsAFreshStart)
{
    const std::vector<TReading> all = DriftingLine(40);
    const struct {
        int added;      // readings taken in one by one after the first 10
        int keepSince;  // minute of the oldest reading kept
    } cases[] = {{0, 0}, {30, 0}, {30, 1}, {30, 4}, {30, 5}, {30, 23}, {30, 39}, {30, 40}, {5, 12}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.added << " added, kept since " << c.keepSince);
        THistoryFigures sliding;
        sliding.Reset({all.begin(), all.begin() + 10});
        for (int i = 10; i < 10 + c.added; ++i)
            sliding.Add(all[std::size_t(i)]);
        const int end = 10 + c.added;
        const int begin = std::min(c.keepSince, end);
        EXPECT_EQ(sliding.DropOlderThan(std::int64_t(c.keepSince) * 60000), begin);

        THistoryFigures fresh;
        fresh.Reset({all.begin() + begin, all.begin() + end});
        ASSERT_EQ(sliding.Count(), fresh.Count());
        EXPECT_EQ(sliding.CompleteCount(), fresh.CompleteCount());
        EXPECT_EQ(sliding.TotalChanges(), fresh.TotalChanges());
        for (int tone = 0; tone < ReadingToneCount; ++tone) {
            ASSERT_EQ(sliding.Latest(tone), fresh.Latest(tone)) << tone;
            ASSERT_EQ(sliding.Max(tone), fresh.Max(tone)) << tone;
            ASSERT_EQ(sliding.Min(tone), fresh.Min(tone)) << tone;
            ASSERT_EQ(sliding.Changes(tone), fresh.Changes(tone)) << tone;
        }
        EXPECT_EQ(sliding.Waterfall(), fresh.Waterfall());
    }
}

TEST(HistoryFigures, WaterfallHasOneRowPerReadingNewestOnTop)
{
    THistoryFigures figures;
    // Enough readings added one by one to outgrow the first block.
    figures.Reset({});
    const std::vector<TReading> readings = DriftingLine(150);
    for (const TReading& reading : readings)
        figures.Add(reading);
    const QImage image = figures.Waterfall();
    ASSERT_EQ(image.size(), QSize(ReadingToneCount, 150));
    for (int row = 0; row < image.height(); ++row) {
        const TReading& reading = readings[std::size_t(149 - row)];
        ASSERT_EQ(figures.Row(row).TimeMs, reading.TimeMs);
        for (int tone = 0; tone < ReadingToneCount; ++tone) {
            const int expected = reading.Completed ? reading.Bits[std::size_t(tone)] : -1;
            ASSERT_EQ(BitsOfColor(image.pixel(tone, row)), expected) << row << " " << tone;
            ASSERT_EQ(figures.Bits(row, tone), expected);
        }
    }
}

TEST(HistoryFigures, ColourMapDecodesBackAndRisesInLightness)
{
    // Relative luminance of an sRGB colour: what the eye takes for brightness.
    const auto luminance = [](QRgb c) {
        const auto linear = [](int v) {
            const double s = v / 255.0;
            return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(qRed(c)) + 0.7152 * linear(qGreen(c)) + 0.0722 * linear(qBlue(c));
    };
    for (int bits = 0; bits <= MaxToneBits; ++bits) {
        EXPECT_EQ(BitsOfColor(BitsColor(bits)), bits);
        if (bits > 0) {
            EXPECT_GT(luminance(BitsColor(bits)), luminance(BitsColor(bits - 1))) << bits;
        }
    }
    const struct {
        QRgb colour;
        int bits;
    } cases[] = {{IncompleteColor, -1}, {0xFFFFFFFF, -2}, {0xFF000000, -2}, {BitsColor(7) ^ 1, -2}};
    for (const auto& c : cases)
        EXPECT_EQ(BitsOfColor(c.colour), c.bits) << std::hex << c.colour;
}

// Scaled into fewer pixel rows than readings, a lone outage still shows.
TEST(HistoryFigures, ScaledWaterfallKeepsOutagesAndMapsPointsToCells)
{
    std::vector<TReading> readings;
    for (int i = 0; i < 40; ++i)
        readings.push_back(R(i, i != 17, {{100, 12}}));
    THistoryFigures figures;
    figures.Reset(readings);
    const QImage scaled = figures.ScaledWaterfall(QSize(1026, 10)); // 4 readings a pixel row, 2 pixels a tone
    int greyRows = 0;
    for (int y = 0; y < 10; ++y)
        greyRows += scaled.pixel(0, y) == IncompleteColor;
    EXPECT_EQ(greyRows, 1);
    EXPECT_EQ(scaled.pixel(200, 0), BitsColor(12));
    EXPECT_EQ(scaled.pixel(202, 0), BitsColor(0));

    const struct {
        int y, height, row;
    } rows[] = {{0, 10, 0}, {9, 10, 36}, {10, 10, -1}, {-1, 10, -1}, {79, 80, 39}, {40, 80, 20}};
    for (const auto& c : rows)
        EXPECT_EQ(figures.RowAt(c.y, c.height), c.row) << c.y << "/" << c.height;
    const struct {
        int x, width, tone;
    } tones[] = {{0, 513, 0}, {512, 513, 512}, {513, 513, -1}, {1025, 1026, 512}, {3, 1026, 1}, {-1, 513, -1}};
    for (const auto& c : tones)
        EXPECT_EQ(THistoryFigures::ToneAt(c.x, c.width), c.tone) << c.x << "/" << c.width;
}

TEST(HistoryFigures, RateRunsBreakAtOutagesAndKeepExtremes)
{
    std::deque<TRatePoint> points;
    // Minutes 0-9 complete with a dip at 3, an outage at 10-11, then 12-14.
    for (int minute = 0; minute < 15; ++minute) {
        const bool complete = minute < 10 || minute > 11;
        points.push_back({minute * 60000LL, complete, 100, minute == 3 ? 400 : 1000 + minute});
    }
    const struct {
        std::int64_t bucketMs;
        std::vector<std::vector<int>> minutes; // per run
    } cases[] = {
        {0, {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {12, 13, 14}}},
        {60000, {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {12, 13, 14}}},
        {300000, {{0, 3, 4, 5, 9}, {12, 14}}}, // each bucket: lowest and highest only
        {3600000, {{0, 3, 9}, {12, 14}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bucketMs);
        const auto runs = RateRuns(points, c.bucketMs);
        ASSERT_EQ(runs.size(), c.minutes.size());
        for (std::size_t r = 0; r < runs.size(); ++r) {
            std::vector<int> minutes;
            for (const auto& p : runs[r])
                minutes.push_back(int(p.TimeMs / 60000));
            EXPECT_EQ(minutes, c.minutes[r]) << "run " << r;
        }
    }
}

} // namespace
