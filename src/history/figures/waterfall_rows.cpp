#include "history/figures/history_figures.h"

#include <algorithm>
#include <cmath>

// The waterfall's pixel rows on its time axis, and the round steps of the
// pictures' axes.

TWaterfallRows THistoryFigures::WaterfallRows(int height) const
{
    if (FRates.empty())
        return WaterfallRows(height, 0, 1);
    return WaterfallRows(height, FRates.front().TimeMs, FRates.back().TimeMs + UsualIntervalMs());
}

TWaterfallRows THistoryFigures::WaterfallRows(int height, std::int64_t fromMs, std::int64_t toMs) const
{
    TWaterfallRows rows;
    const std::int64_t usual = UsualIntervalMs();
    const std::int64_t cover = CoverMs();
    const int count = Count();
    if (count > 0) {
        fromMs = std::min(fromMs, FRates.front().TimeMs);
        toMs = std::max(toMs, FRates.back().TimeMs);
    }
    rows.FromMs = fromMs;
    rows.ToMs = std::max(toMs, fromMs + 1);
    // Where each reading's row starts and ends on the axis, oldest first.
    std::vector<std::int64_t> start(static_cast<std::size_t>(count));
    std::vector<std::int64_t> end(static_cast<std::size_t>(count));
    std::int64_t axis = count > 0 ? FRates.front().TimeMs - fromMs : rows.ToMs - fromMs;
    rows.Knots.emplace_back(fromMs, 0);
    for (int i = 0; i < count; ++i) {
        const std::int64_t t = FRates[std::size_t(i)].TimeMs;
        const std::int64_t wait = (i + 1 < count ? FRates[std::size_t(i + 1)].TimeMs : rows.ToMs) - t;
        // A block row has room for each of its readings.
        const std::int64_t readings = FRates[std::size_t(i)].Readings;
        const std::int64_t covered = std::min(wait, cover * readings);
        start[std::size_t(i)] = axis;
        end[std::size_t(i)] = axis + std::clamp(wait, usual * readings, cover * readings);
        rows.Knots.emplace_back(t, axis);
        rows.Knots.emplace_back(t + covered, end[std::size_t(i)]);
        axis = end[std::size_t(i)] + (wait - covered);
    }
    rows.AxisMs = std::max<std::int64_t>(axis, 1);
    rows.Knots.emplace_back(rows.ToMs, rows.AxisMs);
    rows.Shown.assign(std::size_t(std::max(0, height)), -1);
    rows.Incomplete.assign(rows.Shown.size(), 0.0f);
    // i walks from the newest reading back down the axis as y walks down.
    int i = count - 1;
    for (int y = 0; y < height; ++y) {
        const std::int64_t high = rows.AxisMs - rows.AxisMs * y / height;
        const std::int64_t low = rows.AxisMs - rows.AxisMs * (y + 1) / height;
        while (i >= 0 && start[std::size_t(i)] >= high)
            --i;
        // The newest complete reading starting here shows what the line
        // held; the newest incomplete one only when every one failed.
        int shown = -1;
        int starting = 0, failed = 0;
        int k = i;
        for (; k >= 0 && start[std::size_t(k)] >= low; --k) {
            const bool completed = FRates[std::size_t(k)].Completed;
            starting += FRates[std::size_t(k)].Readings;
            failed += FRates[std::size_t(k)].Failed;
            if (shown < 0 || (!FRates[std::size_t(shown)].Completed && completed))
                shown = k;
        }
        // No row starts here: the one below shows on as far as it reaches.
        if (shown < 0 && i >= 0 && end[std::size_t(i)] > low)
            shown = i;
        rows.Shown[std::size_t(y)] = shown < 0 ? -1 : count - 1 - shown;
        rows.Incomplete[std::size_t(y)] = starting > 0 ? float(failed) / float(starting) : 0.0f;
        i = k;
    }
    return rows;
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
