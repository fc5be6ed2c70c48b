// What every picture of the History window and the line report places its
// readings and tones by: which tones each pixel column stands for, which
// reading each pixel row of a waterfall shows, and the round steps and times
// of the axes. Painting and hovering both read them. No widgets, and nothing
// of the figures themselves, so the bit and the SNR pictures share them.
#pragma once

#include "line/tone_plan.h"

#include <QRgb>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

// Where no reading was taken, every waterfall is white.
constexpr QRgb NoReadingColor = 0xFFFFFFFF;

// Which tones each pixel column of a tone view stands for. A line of today's
// 513 tones keeps a column per tone however narrow the plot (each pixel
// shows the tone under it); a longer line on a plot narrower than its tones
// is binned: column x holds tones FirstTone(x) to EndTone(x) - 1, and the
// views show each column's most telling value so a notch is never drawn
// away. Painting and hovering both read it.
struct TToneColumns {
    int Tones = ZyxelToneCount;
    int Width = 0;

    bool Binned() const { return Tones > ZyxelToneCount && Width > 0 && Width < Tones; }
    // Pixel columns the views draw: Width when binned, else one per tone.
    int Count() const { return Binned() ? Width : Tones; }
    // Column c's tones; without binning column c is tone c.
    int FirstTone(int c) const { return Binned() ? int(std::int64_t(c) * Tones / Width) : c; }
    int EndTone(int c) const { return std::max(FirstTone(c) + 1, FirstTone(c + 1)); }
    // The column holding a tone.
    int ColumnOf(int tone) const;
    // The first tone of the column under pixel x of a plot Width wide; -1
    // outside.
    int ToneAt(int x) const;
};

// The smallest of ..., 0.1, 0.2, 0.5, 1, 2, 5, 10, 20, ... at least `least`:
// an axis step a reader adds up without effort.
double RoundStep(double least);

// Ticks at round times for a time axis: every StepMs, each a whole multiple
// of the step in local time (a day's ticks at local midnight, an hour's on the
// hour). FirstMs is the last tick at or before the axis' start, LastMs the
// first at or after its end.
struct TTimeTicks {
    std::int64_t FirstMs = 0;
    std::int64_t LastMs = 0;
    std::int64_t StepMs = 1000;

    int Count() const { return int((LastMs - FirstMs) / StepMs) + 1; }
};
// The smallest step of 1, 2, 5, 10, 15, 30 seconds or minutes, 1, 2, 3, 4, 6,
// 12 hours or 1, 2, 5, 10, 15, 30, ... days that spans fromMs to toMs with at
// most maxTicks ticks. localOffsetMs: local time minus UTC.
TTimeTicks RoundTimeTicks(std::int64_t fromMs, std::int64_t toMs, int maxTicks, std::int64_t localOffsetMs);

// Which reading each pixel row of a waterfall shows, on a time axis running
// from ToMs at the plot's top edge down to FromMs at its bottom edge. Time
// runs evenly down the axis, except that each reading has at least a usual
// interval's height: Plot clicks seconds apart still get a row each, while a
// pause in sampling is as tall as it was long. Painting and hovering both
// read it, so the pointer names the reading it is over.
struct TWaterfallRows {
    std::int64_t FromMs = 0;
    std::int64_t ToMs = 1;
    // Per pixel row, top first: the reading row shown (0 the newest); -1
    // where no reading was taken then.
    // The newest complete reading starting in the row, or the newest
    // incomplete one when all of them failed.
    std::vector<int> Shown;
    // Per pixel row, the share of the readings starting in it that were
    // incomplete; the row's left end shows it as a grey strip of that share
    // of StripShare of the row's width.
    std::vector<float> Incomplete;
    static constexpr float StripShare = 0.25f;
    // The axis as (time, height above the bottom edge in axis
    // milliseconds) pairs, time rising, the height between them linear.
    std::vector<std::pair<std::int64_t, std::int64_t>> Knots;
    std::int64_t AxisMs = 1;

    int Height() const { return int(Shown.size()); }
    // The reading row under pixel row y; -1 outside or in a gap.
    int At(int y) const { return y >= 0 && y < Height() ? Shown[std::size_t(y)] : -1; }
    // Pixels from the top edge down to a time.
    double Y(std::int64_t ms) const;
};
