// What the History window shows, computed from readings without any widget:
// the waterfall (one pixel row per reading), the envelope of each tone, how
// often each tone's bits changed, and the line rate of each reading.
//
// THistoryFigures keeps the readings of one period and host. Readings come in
// oldest first; a new one is added at the newest end and old ones leave at
// the oldest end as the period slides, each step costing one pass over the
// 513 tones, never over the period. Only the waterfall's pixel rows, one time
// stamp, flag and bit total per reading are kept: the readings themselves are
// not.
#pragma once

#include "chart/color.h"
#include "line/reading.h"

#include <QImage>
#include <QRgb>

#include <array>
#include <cstdint>
#include <deque>
#include <vector>

constexpr int MaxToneBits = 15;

// Upstream tones (below 32) are green, downstream tones blue, in the main
// window's chart and the History window alike.
TColor ToneColor(int tone);

// kbit/s of a total of bits per symbol.
constexpr double LineRateKbps(int bitsPerSymbol)
{
    return double(bitsPerSymbol) * SymbolsPerSecond / 1000.0;
}

// The waterfall's colour map: a perceptual ramp from dark violet (0 bits) over
// blue and green to yellow (15 bits), its brightness rising step by step so more
// bits always look brighter, also in grey print. Readings of incomplete
// cycles are a grey that is none of the ramp's colours.
QRgb BitsColor(int bits);
constexpr QRgb IncompleteColor = 0xFF9A9A9A;
// The inverse: the bits a colour stands for, -1 for the incomplete grey and
// -2 for a colour that is not on the map.
int BitsOfColor(QRgb color);

// One reading as the line-rate trend shows it.
struct TRatePoint {
    std::int64_t TimeMs = 0;
    bool Completed = false;
    int UpBits = 0;   // total bits per symbol of tones 0 to 31
    int DownBits = 0; // of tones 32 to 512

    double UpKbps() const { return LineRateKbps(UpBits); }
    double DownKbps() const { return LineRateKbps(DownBits); }
};

// The trend's complete points, thinned for a plot that cannot show more than
// one point per bucket of `bucketMs` anyway: of each bucket only the points
// holding the lowest or highest rate of either direction stay (at most four),
// so dips survive the thinning. Runs of complete readings are kept apart so an
// outage stays a gap: each inner vector is one unbroken line. bucketMs <= 0
// keeps every point.
std::vector<std::vector<TRatePoint>> RateRuns(const std::deque<TRatePoint>& points, std::int64_t bucketMs);

class THistoryFigures {
public:
    THistoryFigures();

    // Starts over with these readings, oldest first.
    void Reset(const std::vector<TReading>& readings);
    // A reading newer than every one held.
    void Add(const TReading& reading);
    // Lets every reading taken before `timeMs` go; returns how many went.
    int DropOlderThan(std::int64_t timeMs);

    int Count() const { return int(FRates.size()); }
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

    // Oldest first.
    const std::deque<TRatePoint>& Rates() const { return FRates; }

    // The waterfall: 513 pixels wide, one row per reading, newest at the top,
    // each pixel's index its bits (16: incomplete); the colour table is
    // BitsColor's. Shares the figures' memory: valid until the next change.
    QImage Waterfall() const;
    // The waterfall scaled to `size` without smoothing: each pixel row shows
    // the reading under it, or the incomplete grey when any reading it covers
    // was incomplete, so a short outage stays visible however many readings
    // share a pixel row.
    QImage ScaledWaterfall(QSize size) const;
    // The row and the tone under a point of a waterfall drawn `size` large;
    // -1 outside. Painting and hovering both use these.
    int RowAt(int y, int height) const;
    static int ToneAt(int x, int width);

private:
    static constexpr int IncompleteIndex = MaxToneBits + 1;

    void GrowRows();
    const std::uint8_t* RowBits(int row) const;
    void CountChanges(const std::uint8_t* older, const std::uint8_t* newer, int sign);
    const std::uint8_t* NewestComplete() const;

    // Pixel rows live in one block, filled from its end towards its start so
    // that a new reading is written above the others without moving them.
    std::vector<std::uint8_t> FPixels;
    int FCapacity = 0; // rows the block holds
    int FTop = 0;      // the newest row's index in the block

    std::deque<TRatePoint> FRates;
    int FCompleteCount = 0;
    // How many complete readings loaded each tone with each number of bits:
    // maximum and minimum stay right when the oldest reading leaves.
    std::vector<std::array<int, MaxToneBits + 1>> FHistogram;
    std::array<std::uint8_t, ToneCount> FLatest{};
    std::array<int, ToneCount> FChanges{};
    int FTotalChanges = 0;
};
