// The History window's figures from small reading sets whose results are
// known by hand.
#include "history/figures/history_figures.h"
#include "history/figures/host_order.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <tuple>

namespace {

// A reading at minute `minute`; tones not named carry 0 bits.
TReading R(int minute, bool completed, const std::map<int, int>& bits)
{
    TReading reading = ZyxelReading(std::int64_t(minute) * 60000, QStringLiteral("127.0.0.1"), completed);
    for (const auto& [tone, b] : bits)
        reading.Bits[std::size_t(tone)] = std::uint8_t(b);
    return reading;
}

TEST(HistoryFigures, EnvelopeAndChangesOfKnownSets)
{
    using ToneFigures = std::tuple<int, int, int, int>; // latest, max, min, changes
    const struct {
        const char* name;
        std::vector<TReading> readings;
        int complete, totalChanges;
        std::map<int, ToneFigures> tones;
    } cases[] = {
        {"no readings", {}, 0, 0, {{40, {0, 0, 0, 0}}}},
        {"one reading", {R(0, true, {{40, 9}})}, 1, 0, {{40, {9, 9, 9, 0}}, {41, {0, 0, 0, 0}}}},
        {"a tone drops and recovers",
         {R(0, true, {{40, 9}}), R(1, true, {{40, 4}}), R(2, true, {{40, 9}})}, 3, 2,
         {{40, {9, 9, 4, 2}}}},
        {"an incomplete reading between equal ones is no change",
         {R(0, true, {{40, 9}}), R(1, false, {{40, 2}}), R(2, true, {{40, 9}})}, 2, 0,
         {{40, {9, 9, 9, 0}}}},
        {"an incomplete reading between different ones: one change",
         {R(0, true, {{40, 9}}), R(1, false, {}), R(2, false, {}), R(3, true, {{40, 7}})}, 2, 1,
         {{40, {7, 9, 7, 1}}}},
        {"only incomplete readings: all zero", {R(0, false, {{40, 9}}), R(1, false, {{40, 3}})}, 0, 0,
         {{40, {0, 0, 0, 0}}}},
        {"latest is the newest complete one, not the newest reading",
         {R(0, true, {{5, 3}, {512, 2}}), R(1, true, {{5, 6}, {512, 2}}), R(2, false, {{5, 15}})}, 2, 1,
         {{5, {6, 6, 3, 1}}, {512, {2, 2, 2, 0}}}},
        {"bits above 15 count as 15", {R(0, true, {{7, 200}})}, 1, 0, {{7, {15, 15, 15, 0}}}},
        {"each tone counted by itself",
         {R(0, true, {{0, 1}, {31, 2}, {32, 3}}), R(1, true, {{0, 2}, {31, 2}, {32, 4}}),
          R(2, true, {{0, 3}, {31, 2}, {32, 3}})},
         3, 4, {{0, {3, 3, 1, 2}}, {31, {2, 2, 2, 0}}, {32, {3, 4, 3, 2}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        THistoryFigures figures;
        figures.Reset(c.readings);
        EXPECT_EQ(figures.Count(), int(c.readings.size()));
        EXPECT_EQ(figures.CompleteCount(), c.complete);
        EXPECT_EQ(figures.TotalChanges(), c.totalChanges);
        for (const auto& [tone, expected] : c.tones) {
            const ToneFigures shown{figures.Latest(tone), figures.Max(tone), figures.Min(tone), figures.Changes(tone)};
            EXPECT_EQ(shown, expected) << "tone " << tone;
        }
    }
}

TEST(HistoryFigures, RatesAreBitsPerSymbolTimesFourThousand)
{
    const struct {
        TReading reading;
        int up, down;
        double upKbps, downKbps;
    } cases[] = {
        {R(0, true, {}), 0, 0, 0.0, 0.0},
        {R(1, true, {{31, 2}, {32, 3}}), 2, 3, 8.0, 12.0}, // the boundary tones
        {R(2, true, {{0, 15}, {6, 10}, {100, 15}, {512, 1}}), 25, 16, 100.0, 64.0},
        {R(3, false, {{40, 9}}), 0, 0, 0.0, 0.0}, // an outage carries no rate
    };
    THistoryFigures figures;
    for (const auto& c : cases) {
        figures.Add(c.reading);
        const TRatePoint& p = figures.Rates().back();
        EXPECT_EQ(std::tuple(p.TimeMs, p.Completed, p.UpBits, p.DownBits, p.UpKbps(), p.DownKbps()),
                  std::tuple(c.reading.TimeMs, c.reading.Completed, c.up, c.down, c.upKbps, c.downKbps));
    }
}

// Readings that drift and sometimes fail, as a line does.
std::vector<TReading> DriftingLine(int count)
{
    std::vector<TReading> readings;
    for (int i = 0; i < count; ++i) {
        std::map<int, int> bits;
        for (int tone = 0; tone < ZyxelToneCount; tone += 7)
            bits[tone] = (tone * 3 + i * (tone % 5)) % 16;
        readings.push_back(R(i, i % 6 != 4, bits));
    }
    return readings;
}

// Every figure but the waterfall, in one list to compare.
std::vector<int> Summary(const THistoryFigures& f)
{
    std::vector<int> all = {f.Count(), f.CompleteCount(), f.TotalChanges()};
    for (int tone = 0; tone < ZyxelToneCount; ++tone)
        all.insert(all.end(), {f.Latest(tone), f.Max(tone), f.Min(tone), f.Changes(tone)});
    return all;
}

// A window left open adds readings at one end (outgrowing its first block of
// rows) and lets them go at the other: its figures must equal those computed
// afresh from what remains.
TEST(HistoryFigures, SlidingPeriodEqualsAFreshStart)
{
    const std::vector<TReading> all = DriftingLine(100);
    const struct {
        int added;      // readings taken in one by one after the first 10
        int keepSince;  // minute of the oldest reading kept
    } cases[] = {{0, 0}, {90, 0}, {90, 1}, {90, 4}, {90, 5}, {90, 57}, {90, 99}, {90, 100}, {5, 12}};
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
        EXPECT_EQ(Summary(sliding), Summary(fresh));
        EXPECT_EQ(sliding.Waterfall(), fresh.Waterfall());
    }
}

TEST(HistoryFigures, ColourMapDecodesBackAndRisesInLightness)
{
    // Relative luminance of an sRGB colour: what the eye takes for brightness.
    const auto linear = [](int v) { return v <= 10 ? v / 3294.6 : std::pow((v / 255.0 + 0.055) / 1.055, 2.4); };
    const auto luminance = [&](QRgb c) { return 0.2126 * linear(qRed(c)) + 0.7152 * linear(qGreen(c)) + 0.0722 * linear(qBlue(c)); };
    for (int bits = 0; bits <= MaxToneBits; ++bits) {
        EXPECT_EQ(BitsOfColor(BitsColor(bits)), bits);
        EXPECT_TRUE(bits == 0 || luminance(BitsColor(bits)) > luminance(BitsColor(bits - 1))) << bits;
    }
    for (const auto& [colour, bits] : {std::pair{IncompleteColor, -1}, {0xFFFFFFFFu, -2}, {BitsColor(7) ^ 1, -2}})
        EXPECT_EQ(BitsOfColor(colour), bits) << std::hex << colour;
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

    // {point, extent, expected}: rows of 40 readings, then tones of 513.
    for (const auto& [y, height, row] : {std::tuple{0, 10, 0}, {9, 10, 36}, {10, 10, -1}, {-1, 10, -1}, {79, 80, 39}})
        EXPECT_EQ(figures.RowAt(y, height), row) << y << "/" << height;
    for (const auto& [x, width, tone] : {std::tuple{0, 513, 0}, {513, 513, -1}, {1025, 1026, 512}, {3, 1026, 1}})
        EXPECT_EQ(figures.Columns(width).ToneAt(x), tone) << x << "/" << width;
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
        std::vector<std::vector<int>> minutes;
        for (const auto& run : RateRuns(points, c.bucketMs)) {
            minutes.emplace_back();
            for (const auto& p : run)
                minutes.back().push_back(int(p.TimeMs / 60000));
        }
        EXPECT_EQ(minutes, c.minutes);
    }
}

} // namespace

namespace {

constexpr std::int64_t Second = 1000;
constexpr std::int64_t Minute = 60 * Second;
constexpr std::int64_t Hour = 60 * Minute;
constexpr std::int64_t Day = 24 * Hour;

// Readings at these minutes, the one at `outage` incomplete.
std::vector<TReading> AtMinutes(const std::vector<int>& minutes, int outage = -1)
{
    std::vector<TReading> readings;
    for (const int m : minutes)
        readings.push_back(R(m, m != outage, {{100, 12}}));
    return readings;
}

TEST(HistoryFigures, WaterfallRowsDrawTimeAsTime)
{
    const struct {
        const char* name;
        std::vector<int> minutes;
        int outage;
        int height;
        std::int64_t from, to;
        std::vector<int> shown; // the reading row of each pixel row, top first
    } cases[] = {
        // A pixel a minute: the six minutes between 3 and 9 take six pixel
        // rows, the reading at 3 standing for a minute and a half of them.
        {"a six-minute pause", {0, 1, 2, 3, 9, 10}, -1, 11, 0, 11 * Minute, {0, 1, -1, -1, -1, -1, 2, 2, 3, 4, 5}},
        {"two readings a pixel row, the line shows beside the outage", {0, 1, 2, 3, 4, 5, 6, 7}, 5, 4, 0, 8 * Minute,
         {0, 3, 4, 6}},
        // The newest stands for a minute and a half, then nothing.
        {"now beyond the newest reading leaves the top empty", {0, 1, 2, 3}, -1, 8, 0, 8 * Minute,
         {-1, -1, -1, 0, 0, 1, 2, 3}},
        {"readings of a span of their own", {0, 1, 2, 3}, -1, 4, 0, 0, {0, 1, 2, 3}},
        {"no readings", {}, -1, 3, 0, 3 * Minute, {-1, -1, -1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        THistoryFigures figures;
        figures.Reset(AtMinutes(c.minutes, c.outage));
        const TWaterfallRows rows =
            c.to > 0 ? figures.WaterfallRows(c.height, c.from, c.to) : figures.WaterfallRows(c.height);
        EXPECT_EQ(rows.Shown, c.shown);
        // The picture agrees with the rows: white where none, grey for the outage.
        const QImage image = figures.ScaledWaterfall(rows, 513);
        for (int y = 0; y < c.height; ++y) {
            const int row = rows.At(y);
            const QRgb expected = row < 0                          ? NoReadingColor
                                  : !figures.Row(row).Completed ? IncompleteColor
                                                                 : BitsColor(figures.Bits(row, 100));
            EXPECT_EQ(image.pixel(100, y), expected) << y;
        }
    }
    // Time runs evenly down the plot: the pause is as tall as six minutes.
    THistoryFigures figures;
    figures.Reset(AtMinutes({0, 1, 2, 3, 9, 10}));
    const TWaterfallRows rows = figures.WaterfallRows(110, 0, 11 * Minute);
    EXPECT_DOUBLE_EQ(rows.Y(3 * Minute) - rows.Y(9 * Minute), 60.0);
    EXPECT_DOUBLE_EQ(rows.Y(6 * Minute), 50.0);
    // Plot clicks a second apart between timed readings stand a usual
    // interval tall each, as the timed ones do.
    THistoryFigures burst;
    for (const int s : {0, 60, 120, 121, 122, 180, 240})
        burst.Add(ZyxelReading(s * Second, QStringLiteral("127.0.0.1"), true));
    const TWaterfallRows stretched = burst.WaterfallRows(70, 0, 300 * Second);
    for (int row = 0; row < 7; ++row)
        EXPECT_EQ(std::count(stretched.Shown.begin(), stretched.Shown.end(), row), 10) << row;
    EXPECT_DOUBLE_EQ(stretched.Y(121 * Second), 40.0);
}

TEST(HistoryFigures, UsualIntervalIsTheMedianGap)
{
    // A pause does not sway it, nor a Plot click; never thinner than a second.
    const struct {
        std::vector<int> seconds;
        std::int64_t usual;
    } cases[] = {{{}, Minute}, {{0}, Minute},         {{0, 60, 120, 480, 540}, Minute}, {{0, 5, 60, 120, 180, 240}, Minute},
                 {{0, 30, 60, 90}, 30 * Second}, {{0, 0, 0}, Second}};
    for (const auto& c : cases) {
        THistoryFigures figures;
        for (const int s : c.seconds)
            figures.Add(ZyxelReading(s * Second, QStringLiteral("127.0.0.1"), true));
        EXPECT_EQ(figures.UsualIntervalMs(), c.usual) << c.seconds.size();
        EXPECT_EQ(figures.CoverMs(), c.usual * 3 / 2);
    }
}

TEST(HistoryFigures, RowNearestATime)
{
    THistoryFigures figures;
    figures.Reset(AtMinutes({0, 1, 5}));
    for (const auto& [at, row] : {std::pair{-10 * Minute, 2}, {0LL, 2}, {174 * Second, 1}, {3 * Minute, 1},
                                  {186 * Second, 0}, {100 * Minute, 0}})
        EXPECT_EQ(figures.RowNearest(at), row) << at;
    EXPECT_EQ(THistoryFigures().RowNearest(0), -1);
}

TEST(HistoryFigures, RoundStepsAreOneTwoOrFiveTimesAPowerOfTen)
{
    for (const auto& [least, step] : {std::pair{0.0, 1.0}, {0.07, 0.1}, {0.1, 0.1}, {0.3 / 3, 0.1}, {0.3, 0.5},
                                      {1.0, 1.0}, {1.2, 2.0}, {2.5, 5.0}, {7.0, 10.0}, {1760.0, 2000.0}})
        EXPECT_DOUBLE_EQ(RoundStep(least), step) << least;
}

TEST(HistoryFigures, TimeTicksAtRoundLocalTimes)
{
    constexpr std::int64_t Noon = 1796644800000; // 2026-12-07 12:00 UTC
    const struct {
        const char* name;
        std::int64_t from, to;
        int maxTicks;
        std::int64_t offset;
        TTimeTicks expected;
    } cases[] = {
        {"a day from 12:01, in UTC", Noon - Day + Minute, Noon, 8, 0, {Noon - Day, Noon, 4 * Hour}},
        {"the same five and a half hours east", Noon - Day + Minute, Noon, 8, 5 * Hour + 30 * Minute,
         {Noon - Day - 90 * Minute, Noon + 150 * Minute, 4 * Hour}},
        {"the same five hours west, fewer ticks", Noon - Day + Minute, Noon, 5, -5 * Hour,
         {Noon - Day - 7 * Hour, Noon + 5 * Hour, 12 * Hour}},
        {"ten minutes", Noon + 30 * Second, Noon + 10 * Minute + 10 * Second, 6, 0,
         {Noon, Noon + 15 * Minute, 5 * Minute}},
        {"under a minute", Noon + 3 * Second, Noon + 48 * Second, 10, 0, {Noon, Noon + 50 * Second, 10 * Second}},
        {"ninety days", 0, 90 * Day, 5, 0, {0, 90 * Day, 30 * Day}},
        {"beyond the list: months doubled", 0, 400 * Day, 4, 0, {0, 480 * Day, 240 * Day}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TTimeTicks ticks = RoundTimeTicks(c.from, c.to, c.maxTicks, c.offset);
        EXPECT_EQ(std::tuple(ticks.FirstMs, ticks.LastMs, ticks.StepMs),
                  std::tuple(c.expected.FirstMs, c.expected.LastMs, c.expected.StepMs));
        EXPECT_LE(ticks.Count(), std::max(2, c.maxTicks));
        EXPECT_EQ(((ticks.FirstMs + c.offset) % ticks.StepMs + ticks.StepMs) % ticks.StepMs, 0);
    }
}

TEST(HistoryFigures, RateRunsBreakAtPausesInSampling)
{
    std::deque<TRatePoint> points;
    for (const int minute : {0, 1, 2, 9, 10})
        points.push_back({minute * Minute, true, 100, 1000});
    const struct {
        std::int64_t maxGap;
        std::vector<std::size_t> runLengths;
    } cases[] = {{0, {5}}, {90 * Second, {3, 2}}, {6 * Minute, {3, 2}}, {7 * Minute, {5}}};
    for (const auto& c : cases) {
        std::vector<std::size_t> lengths;
        for (const auto& run : RateRuns(points, 0, c.maxGap))
            lengths.push_back(run.size());
        EXPECT_EQ(lengths, c.runLengths) << c.maxGap;
    }
}

TEST(HistoryFigures, HostsSortAsAddressesThenNames)
{
    const QStringList sorted = SortedHosts({"router10", "127.0.0.10", "::1", "Router2", "127.0.0.2", "10.0.0.1",
                                            "fe80::1", "192.168.1.1", "modem", "127.0.0.1:2323", "router02"});
    EXPECT_EQ(sorted, (QStringList{"10.0.0.1", "127.0.0.2", "127.0.0.10", "192.168.1.1", "::1", "fe80::1",
                                   "127.0.0.1:2323", "modem", "Router2", "router02", "router10"}));
    // "127.0.0.01" is no address but a name, after every address.
    EXPECT_FALSE(HostBefore("127.0.0.01", "::"));
}

// A pixel row of many readings shows the line they held, with a grey strip
// at its left end as long as the share of them that failed; only a row whose
// readings all failed is grey throughout.
TEST(HistoryFigures, ARowOfManyReadingsShowsTheLineAndItsOutages)
{
    const struct {
        const char* name;
        int perRow;              // readings a pixel row
        std::vector<int> failed; // of the top row's readings, 0 the newest
        int strip;               // grey pixels at its left end, of 800
        int shownBits;           // tone 300's bits drawn beside the strip; -1 grey
    } cases[] = {
        {"none failed", 100, {}, 0, 7},
        {"three in a hundred", 100, {10, 50, 99}, 6, 7},
        {"the newest failed", 100, {0}, 2, 7},
        {"half", 10, {0, 2, 4, 6, 8}, 100, 7},
        {"all failed", 10, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 800, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TReading> readings;
        const int count = 2 * c.perRow; // two pixel rows
        for (int i = 0; i < count; ++i) {
            const int fromNewest = count - 1 - i;
            const bool failed = std::find(c.failed.begin(), c.failed.end(), fromNewest) != c.failed.end();
            // An incomplete cycle keeps the bits from before the break: 0 here,
            // so drawing one would show as a line of nothing.
            readings.push_back(R(i, !failed, failed ? std::map<int, int>{} : std::map<int, int>{{300, 7}, {20, 9}}));
        }
        THistoryFigures figures;
        figures.Reset(readings);
        const TWaterfallRows rows = figures.WaterfallRows(2, readings.front().TimeMs, readings.back().TimeMs + Minute);
        const QImage image = figures.ScaledWaterfall(rows, 800);
        int strip = 0;
        while (strip < 800 && image.pixel(strip, 0) == IncompleteColor)
            ++strip;
        EXPECT_EQ(strip, c.strip);
        EXPECT_EQ(BitsOfColor(image.pixel(300 * 800 / 513 + 1, 0)), c.shownBits);
        EXPECT_EQ(BitsOfColor(image.pixel(300 * 800 / 513 + 1, 1)), 7); // the row below is whole
        EXPECT_EQ(figures.Row(rows.At(0)).Completed, c.shownBits >= 0);
    }
}

} // namespace

namespace {

// A VDSL2 plan with a gap between the bands of each direction.
TBandPlan VdslPlan()
{
    return {{{0, 31}, {870, 1205}}, {{33, 859}}};
}

// A 4096-tone reading: every tone 10 bits but `notch`, which carries `bits`.
TReading LongReading(int minute, int notch, int bits)
{
    TReading reading = R(minute, true, {});
    reading.Bits.assign(4096, 10);
    reading.Bits[std::size_t(notch)] = std::uint8_t(bits);
    reading.SpacingKHz = 8.625;
    reading.Bands = VdslPlan();
    return reading;
}

} // namespace

// A tone that dropped is drawn in its column however many tones share it:
// the waterfall's colour is the column's lowest bits, the envelope's least
// line its lowest minimum, the change count its most changes.
TEST(HistoryFigures, BinnedColumnsKeepAOneToneNotch)
{
    const struct {
        int width, notch;
    } cases[] = {{500, 2001}, {500, 0}, {500, 4095}, {1000, 1234}, {4095, 4094}, {64, 77}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " columns, notch at " << c.notch);
        THistoryFigures figures;
        figures.Reset({LongReading(0, c.notch, 0), LongReading(1, c.notch, 10), LongReading(2, c.notch, 0)});
        ASSERT_EQ(figures.ToneCount(), 4096);
        const TToneColumns columns = figures.Columns(c.width);
        ASSERT_TRUE(columns.Binned());
        const int column = columns.ColumnOf(c.notch);
        const int first = columns.FirstTone(column), end = columns.EndTone(column);
        ASSERT_TRUE(first <= c.notch && c.notch < end) << first << "-" << end;
        EXPECT_EQ(columns.ToneAt(column), first);
        using F = THistoryFigures::TFigure;
        EXPECT_EQ(figures.ColumnValue(F::Min, first, end), std::make_pair(c.notch, 0));
        EXPECT_EQ(figures.ColumnValue(F::Changes, first, end), std::make_pair(c.notch, 2));
        EXPECT_EQ(figures.ColumnValue(F::Max, first, end).second, 10);
        EXPECT_EQ(figures.ColumnBits(0, first, end), std::make_pair(c.notch, 0));
        EXPECT_EQ(figures.ColumnBits(1, first, end).second, 10);
        const QImage scaled = figures.ScaledWaterfall(figures.WaterfallRows(3), c.width);
        EXPECT_EQ(scaled.pixel(column, 0), BitsColor(0));
        EXPECT_EQ(scaled.pixel(column, 1), BitsColor(10));
        const int other = column > 0 ? column - 1 : column + 1;
        EXPECT_EQ(scaled.pixel(other, 0), BitsColor(10));
        EXPECT_EQ(figures.ColumnValue(F::Min, columns.FirstTone(other), columns.EndTone(other)).second, 10);
        EXPECT_EQ(figures.ColumnValue(F::Changes, columns.FirstTone(other), columns.EndTone(other)).second, 0);
    }
}

// Columns cover every tone once; today's line is never binned.
TEST(HistoryFigures, ToneColumnsCoverEachToneOnce)
{
    const struct {
        int tones, width, count;
    } cases[] = {{513, 300, 513}, {513, 1026, 513}, {4096, 500, 500}, {4096, 4096, 4096}, {8192, 777, 777}, {1024, 3, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.tones << " tones in " << c.width);
        const TToneColumns columns{c.tones, c.width};
        ASSERT_EQ(columns.Count(), c.count);
        int next = 0;
        for (int column = 0; column < columns.Count(); ++column) {
            ASSERT_EQ(columns.FirstTone(column), next);
            next = columns.EndTone(column);
            ASSERT_EQ(columns.ColumnOf(columns.FirstTone(column)), column);
            ASSERT_EQ(columns.ColumnOf(next - 1), column);
        }
        EXPECT_EQ(next, c.tones);
    }
}

// Directions come from the reading's band plan: the colours and the split
// of the line rate into upstream and downstream.
TEST(HistoryFigures, BandPlanGivesTheDirectionOfEachTone)
{
    const struct {
        const char* plan;
        TBandPlan bands;
        int tone;
        bool up;
    } cases[] = {
        {"ZyXEL", ZyxelBandPlan(), 0, true},      {"ZyXEL", ZyxelBandPlan(), 31, true},
        {"ZyXEL", ZyxelBandPlan(), 32, false},    {"ZyXEL", ZyxelBandPlan(), 512, false},
        {"VDSL", VdslPlan(), 31, true},           {"VDSL, gap", VdslPlan(), 32, false},
        {"VDSL", VdslPlan(), 33, false},          {"VDSL", VdslPlan(), 859, false},
        {"VDSL, gap", VdslPlan(), 869, false},    {"VDSL", VdslPlan(), 870, true},
        {"VDSL", VdslPlan(), 1205, true},         {"VDSL, beyond", VdslPlan(), 1206, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.plan << " tone " << c.tone);
        EXPECT_EQ(c.bands.DirectionOf(c.tone) == TToneDirection::Upstream, c.up);
        EXPECT_EQ(ToneColor(c.bands, c.tone), c.up ? clGreen : clBlue);
    }
    // Every tone 10 bits: 32 + 336 upstream tones, 827 downstream; the tones
    // of neither band count in neither direction.
    THistoryFigures figures;
    figures.Reset({LongReading(0, 0, 10)});
    EXPECT_EQ(figures.Row(0).UpBits, 368 * 10);
    EXPECT_EQ(figures.Row(0).DownBits, 827 * 10);
    EXPECT_EQ(figures.Bands(), VdslPlan());
    EXPECT_EQ(figures.SpacingKHz(), 8.625);
}

// A longer line arriving after today's widens the rows held: the old rows'
// new tones are 0 bits, or incomplete.
TEST(HistoryFigures, ALongerLineWidensTheRowsHeld)
{
    THistoryFigures figures;
    figures.Reset({R(0, true, {{100, 7}}), R(1, false, {}), LongReading(2, 3000, 4)});
    ASSERT_EQ(figures.ToneCount(), 4096);
    const struct {
        int row, tone, bits;
    } cases[] = {{2, 100, 7}, {2, 3000, 0}, {1, 3000, -1}, {1, 100, -1}, {0, 3000, 4}, {0, 100, 10}};
    for (const auto& c : cases)
        EXPECT_EQ(figures.Bits(c.row, c.tone), c.bits) << c.row << "/" << c.tone;
    EXPECT_EQ(figures.Changes(3000), 1); // 0 then 4
    EXPECT_EQ(figures.Min(3000), 0);
    EXPECT_EQ(figures.Waterfall().width(), 4096);
}

// A long period is shown from block summaries: a row a block, with the
// envelope, changes and lowest rate of all its readings, its latest complete
// one and its outages; a block leaving takes everything it brought with it.
TEST(HistoryFigures, BlockRowsHoldWhatTheirReadingsHold)
{
    TReading vdsl = R(130, true, {});
    vdsl.Bits.assign(4096, 3);
    vdsl.Bands = {{{6, 31}, {870, 1205}}, {{33, 859}, {1216, 4095}}};
    TReading vdslLater = vdsl;
    vdslLater.TimeMs += 60000;
    vdslLater.Bits[2000] = 5;
    const std::vector<std::vector<TReading>> cases[] = {
        {{R(0, true, {{40, 9}}), R(1, true, {{40, 7}}), R(2, true, {{40, 9}, {41, 2}})},
         {R(60, true, {{40, 9}}), R(61, true, {{40, 9}, {300, 4}})}, {R(120, true, {{40, 2}, {300, 4}})}},
        {{R(0, true, {{40, 9}}), R(1, false, {}), R(2, true, {{40, 8}})}, {R(60, true, {{40, 8}, {100, 1}})}},
        {{R(0, true, {{40, 9}})}, {R(60, false, {}), R(61, false, {})}, {R(120, true, {{40, 6}})}},
        {{R(0, true, {{40, 9}}), R(1, true, {{40, 10}})}, {vdsl, vdslLater}}, // the line widens
    };
    const auto figuresOf = [](const THistoryFigures& f) {
        std::vector<std::tuple<int, int, int, int>> tones;
        for (int tone = 0; tone < f.ToneCount(); ++tone)
            tones.emplace_back(f.Latest(tone), f.Max(tone), f.Min(tone), f.Changes(tone));
        return std::tuple(f.CompleteCount(), f.TotalChanges(), tones);
    };
    const auto lowestDown = [](const std::deque<TRatePoint>& points) {
        int low = 1 << 30;
        for (const TRatePoint& p : points)
            low = p.Completed ? std::min(low, p.DownBits) : low;
        return low;
    };
    for (const auto& blocks : cases) {
        SCOPED_TRACE(blocks.size());
        std::vector<TReading> all;
        THistoryFigures rows, later, readings;
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            all.insert(all.end(), blocks[b].begin(), blocks[b].end());
            rows.Add(SummaryOf(blocks[b]));
            if (b > 0)
                later.Add(SummaryOf(blocks[b]));
            const TBlockSummary s = SummaryOf(blocks[b]);
            EXPECT_EQ(rows.Row(0).Failed, s.Count - s.CompleteCount);
            EXPECT_EQ(rows.Bits(0, 40), s.CompleteCount ? ToneBitsAt(s.LatestComplete, 40) : -1);
        }
        readings.Reset(all);
        EXPECT_EQ(figuresOf(rows), figuresOf(readings));
        EXPECT_EQ(rows.ReadingCount(), int(all.size()));
        EXPECT_EQ(lowestDown(rows.TrendPoints()), lowestDown(readings.Rates()));
        rows.DropOlderThan(blocks[1].front().TimeMs);
        EXPECT_EQ(figuresOf(rows), figuresOf(later));
        EXPECT_EQ(rows.ReadingCount(), later.ReadingCount());
    }
}
