// The History window's figures as rows of time: the waterfall's image and
// its rows on a picture's height, the row nearest a time, and the spacing of
// the readings that sets the line-rate trend's gaps.
#include "history/figures/history_figures.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

QImage THistoryFigures::Waterfall() const
{
    // The image reads the block in place; its colour table is its own.
    QImage image(const_cast<std::uint8_t*>(RowBits(0)), FToneCount, Count(), Stride(), QImage::Format_Indexed8);
    QList<QRgb> table;
    for (int bits = 0; bits <= MaxToneBits; ++bits)
        table.push_back(BitsColor(bits));
    table.push_back(IncompleteColor);
    image.setColorTable(table);
    return image;
}

// The waterfall's pixel rows on its time axis.
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

int THistoryFigures::RowNearest(std::int64_t timeMs) const
{
    if (FRates.empty())
        return -1;
    const auto after = std::lower_bound(FRates.begin(), FRates.end(), timeMs,
                                        [](const TRatePoint& p, std::int64_t t) { return p.TimeMs < t; });
    auto nearest = after;
    if (after == FRates.end() || (after != FRates.begin() && timeMs - std::prev(after)->TimeMs <= after->TimeMs - timeMs))
        nearest = std::prev(after);
    return Count() - 1 - int(nearest - FRates.begin());
}

std::int64_t THistoryFigures::MedianRowIntervalMs(bool perReading) const
{
    constexpr std::int64_t Minute = 60000;
    if (FRates.size() < 2)
        return Minute;
    std::vector<std::int64_t> intervals;
    intervals.reserve(FRates.size() - 1);
    for (std::size_t i = 1; i < FRates.size(); ++i)
        intervals.push_back((FRates[i].TimeMs - FRates[i - 1].TimeMs) / (perReading ? FRates[i - 1].Readings : 1));
    const auto middle = intervals.begin() + std::ptrdiff_t(intervals.size() / 2);
    std::nth_element(intervals.begin(), middle, intervals.end());
    // Readings a millisecond apart would give a cover too thin to see.
    return std::max<std::int64_t>(*middle, 1000);
}

std::int64_t THistoryFigures::UsualIntervalMs() const
{
    return MedianRowIntervalMs(true);
}

std::int64_t THistoryFigures::TrendGapMs() const
{
    // A block's points lie up to two blocks apart.
    return FBlockCount > 0 ? std::max(CoverMs(), 2 * MedianRowIntervalMs(false)) : CoverMs();
}

const std::deque<TRatePoint>& THistoryFigures::TrendPoints() const
{
    if (FBlockCount == 0)
        return FRates;
    if (!FTrendValid) {
        FTrend.clear();
        for (std::size_t i = 0; i < FRates.size(); ++i) {
            if (FBlocks[i])
                FTrend.insert(FTrend.end(), FBlocks[i]->Trend.begin(), FBlocks[i]->Trend.end());
            else
                FTrend.push_back(FRates[i]);
        }
        FTrendValid = true;
    }
    return FTrend;
}

QImage THistoryFigures::ScaledWaterfall(const TWaterfallRows& rows, int width) const
{
    const QSize size(width, rows.Height());
    QImage image(size, QImage::Format_RGB32);
    if (size.isEmpty())
        return image;
    image.fill(NoReadingColor);
    const TToneColumns columns = Columns(size.width());
    std::vector<int> toneOf(std::size_t(size.width()));
    for (int x = 0; x < size.width(); ++x)
        toneOf[std::size_t(x)] = columns.ToneAt(x);
    for (int y = 0; y < size.height(); ++y) {
        const int row = rows.At(y);
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        if (row < 0)
            continue; // stays white
        if (!Row(row).Completed) {
            std::fill(line, line + size.width(), IncompleteColor);
            continue;
        }
        const std::uint8_t* bits = RowBits(row);
        if (columns.Binned()) {
            for (int x = 0; x < size.width(); ++x)
                line[x] = BitsColor(ColumnBits(row, columns.FirstTone(x), columns.EndTone(x)).second);
        } else {
            for (int x = 0; x < size.width(); ++x)
                line[x] = BitsColor(bits[toneOf[std::size_t(x)]]);
        }
        // The share of the row's readings that failed, as a grey strip from
        // its left end: at least a pixel for one outage among thousands.
        const float failed = rows.Incomplete[std::size_t(y)];
        if (failed > 0) {
            const int strip = std::max(1, int(std::ceil(failed * float(size.width()) * TWaterfallRows::StripShare)));
            std::fill(line, line + std::min(strip, size.width()), IncompleteColor);
        }
    }
    return image;
}
