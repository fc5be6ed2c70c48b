#include "history/figures/waterfall_rows.h"

#include <algorithm>
#include <cmath>

// The tones of each pixel column, the waterfall's pixel rows on its time
// axis, and the round steps of the pictures' axes.

int TToneColumns::ColumnOf(int tone) const
{
    if (!Binned())
        return tone;
    // The last column whose first tone is at or before the tone.
    int c = int((std::int64_t(tone) * Width + Width - 1) / Tones);
    while (c > 0 && FirstTone(c) > tone)
        --c;
    while (c + 1 < Width && FirstTone(c + 1) <= tone)
        ++c;
    return c;
}

int TToneColumns::ToneAt(int x) const
{
    if (Width <= 0 || x < 0 || x >= Width)
        return -1;
    return int(std::int64_t(x) * Tones / Width);
}

double TWaterfallRows::Y(std::int64_t ms) const
{
    std::int64_t axis = 0;
    const auto after = std::upper_bound(Knots.begin(), Knots.end(), ms,
                                        [](std::int64_t t, const auto& knot) { return t < knot.first; });
    if (after == Knots.begin())
        axis = Knots.empty() ? 0 : Knots.front().second;
    else if (after == Knots.end())
        axis = Knots.back().second;
    else {
        const auto& [t0, a0] = *std::prev(after);
        const auto& [t1, a1] = *after;
        axis = a0 + (t1 > t0 ? (a1 - a0) * (ms - t0) / (t1 - t0) : 0);
    }
    return double(AxisMs - axis) * Height() / double(AxisMs);
}

double RoundStep(double least)
{
    if (!(least > 0))
        return 1;
    double decade = std::pow(10.0, std::floor(std::log10(least)));
    for (;; decade *= 10) {
        for (const double f : {1.0, 2.0, 5.0}) {
            // A hair of slack so 0.3 / 3 still gives 0.1, not 0.2.
            if (f * decade >= least * (1 - 1e-9))
                return f * decade;
        }
    }
}

TTimeTicks RoundTimeTicks(std::int64_t fromMs, std::int64_t toMs, int maxTicks, std::int64_t localOffsetMs)
{
    constexpr std::int64_t Second = 1000, Minute = 60 * Second, Hour = 60 * Minute, Day = 24 * Hour;
    static constexpr std::int64_t Steps[] = {
        Second,     2 * Second,  5 * Second,  10 * Second, 15 * Second, 30 * Second, Minute,   2 * Minute,
        5 * Minute, 10 * Minute, 15 * Minute, 30 * Minute, Hour,        2 * Hour,    3 * Hour, 4 * Hour,
        6 * Hour,   12 * Hour,   Day,         2 * Day,     5 * Day,     10 * Day,    15 * Day, 30 * Day,
    };
    toMs = std::max(toMs, fromMs);
    maxTicks = std::max(maxTicks, 2);
    // Whole multiples in local time: floor and ceiling of (t + offset).
    const auto floorTo = [localOffsetMs](std::int64_t t, std::int64_t step) {
        const std::int64_t local = t + localOffsetMs;
        const std::int64_t q = local / step - (local % step < 0 ? 1 : 0);
        return q * step - localOffsetMs;
    };
    TTimeTicks ticks;
    for (std::int64_t step = Steps[0];; ) {
        ticks.StepMs = step;
        ticks.FirstMs = floorTo(fromMs, step);
        ticks.LastMs = floorTo(toMs, step);
        if (ticks.LastMs < toMs)
            ticks.LastMs += step;
        if (ticks.Count() <= maxTicks)
            return ticks;
        const auto next = std::upper_bound(std::begin(Steps), std::end(Steps), step);
        // Beyond a month: months of 30 days, doubled until they fit.
        step = next != std::end(Steps) ? *next : step * 2;
    }
}
