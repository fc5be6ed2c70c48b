// What the History window shows, computed from readings without any widget:
// the waterfall (one pixel row per reading), the envelope of each tone, how
// often each tone's bits changed, and the line rate of each reading.
//
// THistoryFigures keeps the readings of one period and host. Readings come in
// oldest first; a new one is added at the newest end and old ones leave at
// the oldest end as the period slides, each step costing one pass over the
// 513 tones, never over the period. Only the waterfall's pixel rows, one time
// stamp, flag and bit total per reading are kept: the readings themselves are
// not. A long period is taken in as block summaries instead, a row each, so
// what is held follows the blocks, not the readings; readings may follow
// them as they are recorded.
#pragma once

#include "chart/color.h"
#include "history/figures/line_figures_history.h"
#include "history/figures/waterfall_rows.h"
#include "history/store/block_summary.h"
#include "line/reading.h"

#include <QImage>
#include <QRgb>

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

constexpr int MaxToneBits = 15;

class THistorySnr;

// Upstream green, downstream blue (and a tone in neither band as the
// downstream), in the main window's chart and the History window alike.
TColor DirectionColor(TToneDirection direction);
// A tone's colour by a line's band plan.
TColor ToneColor(const TBandPlan& bands, int tone);
// By the ZyXEL's plan: tones below 32 green, the rest blue.
TColor ToneColor(int tone);

// The waterfall's colour map: a perceptual ramp from dark violet (0 bits) over
// blue and green to yellow (15 bits), its brightness rising step by step so more
// bits always look brighter, also in grey print. Readings of incomplete
// cycles are a grey that is none of the ramp's colours; times when no
// reading was taken at all are white (NoReadingColor).
QRgb BitsColor(int bits);
constexpr QRgb IncompleteColor = 0xFF9A9A9A;
// The inverse: the bits a colour stands for, -1 for the incomplete grey and
// -2 for a colour that is not on the map.
int BitsOfColor(QRgb color);

// The trend's complete points, thinned for a plot that cannot show more than
// one point per bucket of `bucketMs` anyway: of each bucket only the points
// holding the lowest or highest rate of either direction stay (at most four),
// so dips survive the thinning. Runs of complete readings are kept apart so an
// outage stays a gap: each inner vector is one unbroken line. A pause in
// sampling longer than maxGapMs breaks a run too (0: none does). bucketMs <= 0
// keeps every point.
std::vector<std::vector<TRatePoint>> RateRuns(const std::deque<TRatePoint>& points, std::int64_t bucketMs,
                                              std::int64_t maxGapMs = 0);

class THistoryFigures {
public:
    // Periods of more readings than this are better taken in as block
    // summaries: no plot has rows for more.
    static constexpr std::int64_t SummariseAbove = 20'000;

    THistoryFigures();
    ~THistoryFigures();
    THistoryFigures(THistoryFigures&&) noexcept;
    THistoryFigures& operator=(THistoryFigures&&) noexcept;

    // Starts over with these readings, oldest first.
    void Reset(const std::vector<TReading>& readings);
    // Starts over empty, with room for about this many readings to be Added
    // without copying the rows.
    void Reset(int expected);
    // A reading newer than every one held.
    void Add(const TReading& reading);
    // A block's readings, newer than every one held, as one row: it shows
    // the block's latest complete reading and counts its failed ones, and
    // the envelope, changes and trend take in its summary.
    void Add(const TBlockSummary& summary);
    // Lets every reading taken before `timeMs` go; returns how many went.
    int DropOlderThan(std::int64_t timeMs);

    // Rows: readings, or blocks of them.
    int Count() const { return int(FRates.size()); }
    int ReadingCount() const { return FReadingCount; }
    // Rows that stand for a block of readings.
    int BlockCount() const { return FBlockCount; }
    // The newest reading's time, of any outcome, in rows and blocks alike.
    std::int64_t NewestMs() const { return FNewestMs; }
    // The longest line among the readings held (513 while there are none),
    // and the newest reading's spacing and band plan.
    int ToneCount() const { return FToneCount; }
    double SpacingKHz() const { return FSpacingKHz; }
    const TBandPlan& Bands() const { return FBands; }
    TToneColumns Columns(int width) const { return {FToneCount, width}; }
    // Complete readings, in rows and blocks alike.
    int CompleteCount() const { return FCompleteCount; }

    // Row 0 is the newest reading.
    const TRatePoint& Row(int row) const { return FRates[FRates.size() - 1 - std::size_t(row)]; }
    // Bits of a tone in a row; -1 when the row's cycle was incomplete.
    int Bits(int row, int tone) const;

    // Over the complete readings; all zero while there are none.
    int Latest(int tone) const { return FLatest[std::size_t(tone)]; }
    int Max(int tone) const;
    int Min(int tone) const;
    // Times the tone's bits differ between one complete reading and the next
    // complete one.
    int Changes(int tone) const { return FChanges[std::size_t(tone)]; }
    int TotalChanges() const { return FTotalChanges; }

    // What a binned column shows of tones first to end - 1: the highest
    // latest bits, maximum or change count, or the lowest minimum, with the
    // tone it belongs to (the first such tone).
    enum class TFigure { Latest, Max, Min, Changes };
    std::pair<int, int> ColumnValue(TFigure figure, int first, int end) const;
    // The same in a waterfall row: the lowest bits, so a tone that dropped
    // shows in its column's colour (the envelope's bars keep the highest);
    // -1 for an incomplete cycle.
    std::pair<int, int> ColumnBits(int row, int first, int end) const;

    // A point per row, oldest first.
    const std::deque<TRatePoint>& Rates() const { return FRates; }
    // What the line-rate trend draws: a point per reading row, and a block's
    // extremes and failures for a block row; oldest first.
    const std::deque<TRatePoint>& TrendPoints() const;
    // A pause longer than this breaks the trend's line.
    std::int64_t TrendGapMs() const;
    // The row (0 the newest) of the reading taken nearest to a time; -1
    // when there is none.
    int RowNearest(std::int64_t timeMs) const;

    // The usual time from one reading to the next: the median of the
    // intervals (a block row's shared among its readings), so clicks on Plot
    // between timed readings and pauses in sampling do not sway it; a minute
    // while there are fewer than two.
    std::int64_t UsualIntervalMs() const;
    // On the waterfall's time axis a reading stands for the time until the
    // next one, but for no more than one and a half usual intervals: a pause
    // in sampling shows as a gap, the rest of its length.
    std::int64_t CoverMs() const { return UsualIntervalMs() * 3 / 2; }

    // The waterfall: a pixel per tone wide, one row per reading, newest at the top,
    // each pixel's index its bits (16: incomplete); the colour table is
    // BitsColor's. Shares the figures' memory: valid until the next change.
    QImage Waterfall() const;
    // The pixel rows of a waterfall `height` pixels high from fromMs (or
    // the oldest reading, if older) at the bottom to toMs (or the newest
    // reading, if newer) at the top. A reading's row is as tall as the time
    // until the next one, at least a usual interval and at most its cover;
    // the rest of a longer wait is a gap. A pixel row shows the newest
    // complete reading whose row starts in it, with the share of incomplete
    // ones starting there beside it, so a short outage stays visible however
    // many readings share a pixel row without hiding the line; an incomplete
    // one when every one starting there failed; with none starting there,
    // the reading whose row reaches into it; otherwise none.
    TWaterfallRows WaterfallRows(int height, std::int64_t fromMs, std::int64_t toMs) const;
    // From the oldest reading to one usual interval after the newest.
    TWaterfallRows WaterfallRows(int height) const;
    // The waterfall drawn `width` pixels wide over these rows without
    // smoothing: each pixel the colour of its reading's bits, the incomplete
    // grey, or white where no reading was taken.
    // A long line's columns show the lowest bits of their tones.
    QImage ScaledWaterfall(const TWaterfallRows& rows, int width) const;
    QImage ScaledWaterfall(QSize size) const { return ScaledWaterfall(WaterfallRows(size.height()), size.width()); }
    // The row under a point of a waterfall drawn this high over the
    // readings' own span; -1 outside.
    int RowAt(int y, int height) const { return WaterfallRows(height).At(y); }

    // The line's figures and its SNR over the same rows, taken in and let go
    // with them, so every view of the period reads one set of figures.
    const THistoryLineFigures& LineFigures() const { return FLineFigures; }
    const THistorySnr& Snr() const { return *FSnr; }

private:
    static constexpr int IncompleteIndex = MaxToneBits + 1;

    void GrowRows();
    // Widens every row for a line of more tones; the old rows' new tones
    // stay 0 bits (or incomplete).
    void GrowTones(int tones);
    int Stride() const { return (FToneCount + 3) / 4 * 4; }
    const std::uint8_t* RowBits(int row) const;
    void CountChanges(const std::uint8_t* older, const std::uint8_t* newer, int sign);
    void CountBits(const std::uint8_t* bits, int sign);
    // The bits a row's first complete reading held: its own for a reading.
    const std::uint8_t* FirstBits(int row) const;
    std::int64_t MedianRowIntervalMs(bool perReading) const;

    // A tone whose value differs from the one its block's pixel row shows.
    struct TToneValue {
        std::uint16_t Tone;
        std::uint8_t Bits;
    };
    static_assert(MaxToneCount <= 65536);
    // What a block row adds beyond its pixel row, for taking it out again.
    // Its first, least and most bits are kept only where they differ from
    // the row's: a few tones a block, where whole rows of a year's blocks of
    // a long line would take more than the waterfall itself.
    struct TBlockRow {
        std::vector<TToneValue> First, Min, Max;
        std::vector<std::pair<std::uint16_t, std::uint16_t>> Changes; // (tone, count) of the tones that changed
        std::vector<TRatePoint> Trend;
    };
    // A block row's least and most bits into the histogram, or out of it.
    void CountBlockBits(const std::uint8_t* row, const TBlockRow& block, int sign);
    // A row's bits with a block's differing tones put in, in a buffer of
    // the figures' own (valid until the next call).
    const std::uint8_t* Patched(int row, const std::vector<TToneValue>& values) const;

    // Pixel rows live in one block, filled from its end towards its start so
    // that a new reading is written above the others without moving them.
    std::vector<std::uint8_t> FPixels;
    int FCapacity = 0; // rows the block holds
    int FTop = 0;      // the newest row's index in the block

    std::deque<TRatePoint> FRates;
    std::deque<std::unique_ptr<TBlockRow>> FBlocks; // beside FRates; null for a reading
    int FBlockCount = 0;
    std::int64_t FNewestMs = 0;
    int FReadingCount = 0;
    int FCompleteCount = 0;
    int FHistogramEntries = 0; // a reading's bits, or a block's least and most
    mutable std::deque<TRatePoint> FTrend;
    mutable bool FTrendValid = false;
    // How many complete readings loaded each tone with each number of bits:
    // maximum and minimum stay right when the oldest reading leaves.
    std::vector<std::array<int, MaxToneBits + 1>> FHistogram;
    std::vector<std::uint8_t> FLatest;
    std::vector<int> FChanges;
    int FToneCount = ::ZyxelToneCount;
    double FSpacingKHz = ZyxelToneSpacingKHz;
    TBandPlan FBands = ZyxelBandPlan();
    int FTotalChanges = 0;
    mutable std::vector<std::uint8_t> FPatched;
    THistoryLineFigures FLineFigures;
    std::unique_ptr<THistorySnr> FSnr; // its waterfall reads this class's row map
};
