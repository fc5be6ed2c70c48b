#include "chart/series.h"

#include <algorithm>
#include <cmath>

TBarSeries::TBarSeries()
{
    FXValues.Order = loAscending;
    FYValues.Order = loNone;
}

void TBarSeries::Changed() const
{
    if (OnChange)
        OnChange();
}

void TBarSeries::ClearPoints()
{
    FXValues.Clear();
    FYValues.Clear();
    FLabels.clear();
    FColors.clear();
    Changed();
}

int TBarSeries::AppendBar(double value, const QString& label, TColor color)
{
    // X is the count before the call: the list stays ascending and every new
    // bar lands at the end, so its index equals its X.
    const int index = Count();
    FXValues.Append(double(index));
    FYValues.Append(value);
    FLabels.push_back(label);
    FColors.push_back(color);
    Changed();
    return index;
}

TColor TBarSeries::ValueColor(int index) const
{
    const TColor color = FColors[std::size_t(index)];
    return color == clTeeColor ? SeriesColor : color;
}

int BarLeftFor(const TBarDrawState& state, double x, int offsetPercent)
{
    const int width = state.BarPixelWidth;
    return state.Bottom.ValueToPixel(x) - width / 2 + Nearest(offsetPercent * width * 0.01);
}

TWinRect BarRectangleFor(const TBarDrawState& state, double x, double y, double origin,
                         int offsetPercent)
{
    TWinRect r;
    r.Left = BarLeftFor(state, x, offsetPercent);
    r.Right = r.Left + state.BarPixelWidth;
    const int valueEnd = state.Left.ValueToPixel(y);
    const int originEnd = state.Left.ValueToPixel(origin);
    r.Top = std::min(valueEnd, originEnd);
    r.Bottom = std::max(valueEnd, originEnd);
    return r;
}

TWinRect TBarSeries::BarRectangle(int index) const
{
    return BarRectangleFor(FDrawState, FXValues.Value(index), FYValues.Value(index),
                           UseYOrigin ? YOrigin : FDrawState.Left.Minimum, OffsetPercent);
}

bool TBarSeries::BarContainsPoint(int index, const QPoint& point) const
{
    if (index < 0 || index >= Count())
        return false;
    // Columns first: most bars are ruled out without the value axis.
    const int left = BarLeftFor(FDrawState, FXValues.Value(index), OffsetPercent);
    // Every edge counts: the hit area is one column and one row wider on the
    // far sides than what is filled.
    if (point.x() < left || point.x() > left + FDrawState.BarPixelWidth)
        return false;
    const TWinRect r = BarRectangle(index);
    return point.y() >= r.Top && point.y() <= r.Bottom;
}

int TBarSeries::PointIndexAtCursor() const
{
    const int first = FDrawState.FirstShownIndex;
    const int last = FDrawState.LastShownIndex;
    if (first < 0 || last < 0 || !CursorPosition)
        return -1;
    const QPoint point = CursorPosition();
    // The bars may have been replaced since the last drawing; indices past
    // the current count are never answered.
    for (int i = first; i <= last && i < Count(); ++i)
        if (BarContainsPoint(i, point))
            return i;
    return -1;
}

int TBarSeries::PointIndexAtColumn() const
{
    return CursorPosition ? IndexAtColumn(CursorPosition()) : -1;
}

int TBarSeries::IndexAtColumn(const QPoint& point) const
{
    const int first = FDrawState.FirstShownIndex;
    const int last = std::min(FDrawState.LastShownIndex, Count() - 1);
    if (first < 0 || last < first)
        return -1;
    const TAxisScale& rows = FDrawState.Left;
    if (point.y() < std::min(rows.StartPixel, rows.EndPixel) || point.y() > std::max(rows.StartPixel, rows.EndPixel))
        return -1;
    // The pointer's column as a value of X, less the bars' shift; X ascends.
    const int shift = BarLeftFor(FDrawState, 0.0, OffsetPercent) - FDrawState.Bottom.ValueToPixel(0.0)
                      + FDrawState.BarPixelWidth / 2;
    const double x = FDrawState.Bottom.PixelToValue(point.x() - shift);
    int lo = first, hi = last;
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (FXValues.Value(mid) < x)
            lo = mid + 1;
        else
            hi = mid;
    }
    int index = lo;
    if (index > first && std::abs(FXValues.Value(index - 1) - x) <= std::abs(FXValues.Value(index) - x))
        --index;
    // Past the first or the last bar by more than half a pitch: no bar.
    const double pitch = last > first ? (FXValues.Value(last) - FXValues.Value(first)) / (last - first) : 1.0;
    return std::abs(FXValues.Value(index) - x) <= std::max(pitch / 2, 0.5) ? index : -1;
}
