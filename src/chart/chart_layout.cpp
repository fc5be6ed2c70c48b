#include "chart/chart_layout.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

int TFontMeasure::TextWidth(const QString& text) const
{
    const auto found = FWidths.constFind(text);
    if (found != FWidths.cend())
        return found.value();
    const int width = FMetrics.horizontalAdvance(text);
    // Bounded: a chart only ever shows a few hundred different texts.
    if (FWidths.size() < 4096)
        FWidths.insert(text, width);
    return width;
}

int BarPixelWidthFor(int axisLength, int maxPointsPerPage, int barCount, int barWidthPercent,
                     bool sideMargins)
{
    // The width is worked out as if MaxPointsPerPage bars shared the axis,
    // whatever the number actually shown; only 0 falls back to the count.
    int slotCount = maxPointsPerPage > 0 ? maxPointsPerPage : barCount;
    if (slotCount <= 0)
        return 0;
    if (sideMargins)
        ++slotCount;
    const int step = axisLength / slotCount;
    int width = Nearest(barWidthPercent * 0.01 * step);
    if (width % 2 != 0)
        ++width;
    return width;
}

namespace {

// The next step of the series 1, 2, 5, 10, 20, 50, ...
double NextStep(double step)
{
    double scale = 1.0;
    while (step >= 10.0) {
        step /= 10.0;
        scale *= 10.0;
    }
    while (step < 1.0) {
        step *= 10.0;
        scale /= 10.0;
    }
    if (step < 2.0)
        return 2.0 * scale;
    if (step < 5.0)
        return 5.0 * scale;
    return 10.0 * scale;
}

constexpr double MinStep = 1e-12;

} // namespace

double AxisValueStep(int length, int lineHeight, double range, double increment,
                     int labelsSeparation)
{
    int most = 1;
    if (lineHeight > 0)
        most = Nearest(length / double(lineHeight + Nearest(labelsSeparation * 0.01 * lineHeight)));
    if (most < 1)
        return MinStep;
    double step = increment > 0.0 ? increment : 1.0;
    // An endless or undefined range never settles; it gets no labels anyway.
    if (!std::isfinite(range))
        return MinStep;
    while (std::isfinite(step) && Nearest(range / step) > most)
        step = NextStep(step);
    return std::max(step, MinStep);
}

bool TLabelThinner::Accept(int pos, int size)
{
    if (!FHaveLast) {
        FHaveLast = true;
        FLastPos = pos;
        FLastHalf = size / 2;
        return true;
    }
    const int half = (size + int(std::trunc(size * 0.02 * FSeparation))) / 2;
    const bool fits = pos >= FLastPos ? pos - half >= FLastPos + FLastHalf
                                      : pos + half <= FLastPos - FLastHalf;
    if (!fits)
        return false;
    FLastPos = pos;
    FLastHalf = half;
    return true;
}

void ShownBars(const TAxisScale& bottom, int plotLow, int plotHigh, const TChartValueList& xValues,
               int& first, int& last)
{
    first = -1;
    last = -1;
    const int count = xValues.Count();
    if (count == 0)
        return;
    const double lo = bottom.PixelToValue(plotLow);
    const double hi = bottom.PixelToValue(plotHigh);
    int i = 0;
    while (i < count && xValues.Value(i) < lo)
        ++i;
    if (i == count)
        return;
    first = i;
    if (xValues.Last() <= hi) {
        last = count - 1;
        return;
    }
    int j = first;
    while (j < count && xValues.Value(j) < hi)
        ++j;
    if (j == count)
        j = count - 1;
    if (xValues.Value(j) > hi)
        --j;
    last = j;
    if (last < first) {
        // Nothing lies in the span after all.
        first = -1;
        last = -1;
    }
}

void MinorTickPositions(const std::vector<TAxisLabel>& ticks, int count, int axisStart,
                        int axisEnd, std::vector<int>& out)
{
    out.clear();
    const int n = int(ticks.size());
    if (count <= 0 || n == 0)
        return;
    const int low = std::min(axisStart, axisEnd);
    const int high = std::max(axisStart, axisEnd);
    auto add = [&](long long p) {
        if (p > low && p < high)
            out.push_back(int(p));
    };
    for (int i = 1; i < n; ++i) {
        const double gap = double(ticks[std::size_t(i)].Pos) - ticks[std::size_t(i - 1)].Pos;
        for (int j = 1; j <= count; ++j)
            add(ticks[std::size_t(i)].Pos - (long long)Nearest(j * gap / (count + 1)));
    }
    if (n >= 2) {
        // Beyond the outer ticks, at the spacing of the first pair.
        const double gap = double(ticks[1].Pos) - ticks[0].Pos;
        for (int j = 1; j <= count; ++j) {
            const long long d = Nearest(j * gap / (count + 1));
            add(ticks.front().Pos - d);
            add(ticks.back().Pos + d);
        }
    }
}

QString FormatAxisValue(double value)
{
    const QLocale locale;
    // Three decimals at most, trailing zeros dropped, thousands grouped.
    QString digits = QString::number(std::fabs(value), 'f', 3);
    QString fraction;
    const int dot = digits.indexOf(QLatin1Char('.'));
    if (dot >= 0) {
        fraction = digits.mid(dot + 1);
        digits.truncate(dot);
        while (fraction.endsWith(QLatin1Char('0')))
            fraction.chop(1);
    }
    QString whole;
    const QString group = locale.groupSeparator();
    for (int i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            whole += group;
        whole += digits[i];
    }
    QString out = whole;
    if (!fraction.isEmpty())
        out += locale.decimalPoint() + fraction;
    if (value < 0 && out != QLatin1String("0"))
        out.prepend(QLatin1Char('-'));
    return out;
}

bool BarsAreBinned(int first, int last, int insideWidth)
{
    // Today's 513 tones keep their bar-by-bar drawing at every size.
    const int shown = last - first + 1;
    return first >= 0 && shown > insideWidth && shown > DesignedBarCount;
}

int RoundToneStep(double pixelsPerTone, int labelWidth)
{
    if (!(pixelsPerTone > 0))
        return 0;
    double step = 1.0;
    while (step * pixelsPerTone < 2.0 * labelWidth && step < 1e9)
        step = NextStep(step);
    return int(step);
}

void BinBarColumns(const TBarDrawState& bars, const TBarSeries& series, double origin, int first,
                   int last, std::vector<TBarColumn>& out)
{
    out.clear();
    // Per bar only its column and value are looked at; the rows are worked
    // out once a column, for its highest and its lowest bar.
    int highest = -1;
    double high = 0, low = 0;
    TBarColumn column;
    const auto flush = [&] {
        if (highest < 0)
            return;
        const double x = series.XValues().Value(highest);
        const TWinRect top = BarRectangleFor(bars, x, high, origin, series.OffsetPercent);
        column.Top = std::min(top.Top, top.Bottom);
        // A flat bar still shows as one row on the zero line.
        column.Bottom = column.Top + std::max(1, std::abs(top.Bottom - top.Top));
        column.Highest = highest;
        column.Color = series.ValueColor(highest);
        column.Marked = low < high;
        if (column.Marked) {
            const TWinRect bottom = BarRectangleFor(bars, x, low, origin, series.OffsetPercent);
            column.Mark = std::min(bottom.Top, bottom.Bottom - 1);
        }
        out.push_back(column);
    };
    for (int i = first; i <= last; ++i) {
        if (series.ValueColor(i) == clNone)
            continue;
        const int left = BarLeftFor(bars, series.XValues().Value(i), series.OffsetPercent);
        const double y = series.YValues().Value(i);
        if (highest < 0 || left != column.X) {
            flush();
            column.X = left;
            highest = i;
            high = low = y;
            continue;
        }
        if (y > high) {
            high = y;
            highest = i;
        }
        low = std::min(low, y);
    }
    flush();
}

namespace {

void ScaleFor(TAxisScale& scale, const TChartAxis& axis, int low, int size)
{
    scale.Minimum = axis.Minimum();
    scale.Maximum = axis.Maximum();
    scale.Horizontal = axis.Horizontal();
    scale.StartPixel = low + Nearest(size * 0.01 * axis.StartPosition);
    scale.EndPixel = low + Nearest(size * 0.01 * axis.EndPosition);
}

int TickBand(const TChartAxis& axis)
{
    int band = axis.Ticks.Visible ? axis.TickLength : 0;
    if (axis.MinorTicks.Visible)
        band = std::max(band, axis.MinorTickLength);
    if (axis.Axis.Visible)
        band += axis.Axis.Width;
    return band;
}

// A line longer than the designed one is labelled upright at round tone
// numbers from 0: its bars' own texts, one every few bars, would fall on
// tones such as 5, 47, 94 and crowd each other. The bars are consecutive
// tones, the first one's number in its text; false when it holds none.
bool RoundToneLabels(TAxisGeometry& geometry, const TBarSeries& series,
                     const TBarDrawState& bars, const TTextMeasure& measure)
{
    bool numbered = false;
    const int firstTone = series.Label(bars.FirstShownIndex).toInt(&numbered);
    if (!numbered)
        return false;
    const TAxisScale& scale = geometry.Scale;
    const double firstX = series.XValues().Value(bars.FirstShownIndex);
    const int lastTone = firstTone + (bars.LastShownIndex - bars.FirstShownIndex);
    const double perTone = scale.Range() > 0 ? std::abs(scale.Length()) / scale.Range() : 0.0;
    const int step = RoundToneStep(perTone, measure.TextWidth(QString::number(lastTone)));
    if (step <= 0)
        return false;
    geometry.Step = step;
    for (int tone = (firstTone + step - 1) / step * step; tone <= lastTone; tone += step) {
        const double x = firstX + (tone - firstTone);
        if (x < scale.Minimum || x > scale.Maximum)
            continue;
        geometry.Labels.push_back({scale.ValueToPixel(x), QString::number(tone)});
        if (int(geometry.Labels.size()) >= MaxAxisTicks)
            break;
    }
    return true;
}

// Value labels from the top value down, at the given step.
void ValueLabels(TAxisGeometry& geometry, const TChartAxis& axis)
{
    const TAxisScale& scale = geometry.Scale;
    const double step = geometry.Step;
    const double range = scale.Range();
    if (!(std::fabs(range / step) < 10000.0))
        return;
    double value = axis.RoundFirstLabel ? std::trunc(scale.Maximum / step) * step : scale.Maximum;
    while (value > scale.Maximum)
        value -= step;
    // A hair below the minimum, so its own label is drawn: below a negative
    // one (QLN, Hlog) the hair is added, not divided in.
    const double lowest = scale.Minimum >= 0 ? (scale.Minimum - MinStep) / 1.000000000001
                                             : (scale.Minimum - MinStep) * 1.000000000001;
    const int low = std::min(scale.StartPixel, scale.EndPixel);
    const int high = std::max(scale.StartPixel, scale.EndPixel);
    while (value >= lowest && int(geometry.Labels.size()) < MaxAxisTicks) {
        const int pos = scale.ValueToPixel(value);
        if (axis.LabelsOnAxis || (pos > low && pos < high))
            geometry.Labels.push_back({pos, FormatAxisValue(value)});
        const double next = value - step;
        if (next == value)
            break; // the step is lost against the value's magnitude
        value = next;
    }
}

} // namespace

void ComputeChartGeometry(TChartGeometry& out, const QRect& rect, const TChartConfig& config,
                          const TChartAxis& bottomAxis, const TChartAxis& leftAxis,
                          const TBarSeries& series, const TChartMeasures& measures)
{
    TWinRect& b = out.Bounds;
    b.Left = rect.left();
    b.Top = rect.top();
    b.Right = rect.left() + rect.width();
    b.Bottom = rect.top() + rect.height();
    const int w = b.Width();
    const int h = b.Height();

    TWinRect& p = out.Plot;
    p.Left = b.Left + MulDiv(config.MarginLeft, w, 100);
    p.Top = b.Top + MulDiv(config.MarginTop, h, 100);
    p.Right = b.Right - MulDiv(config.MarginRight, w, 100);
    p.Bottom = b.Bottom - MulDiv(config.MarginBottom, h, 100);

    // An empty title still keeps its lines' room at the top.
    if (config.TitleVisible && !config.TitleText.isEmpty())
        p.Top += int(config.TitleText.size()) * measures.ChartTitle.LineHeight() + 5;

    // Bottom axis bands, from the outside in: title, labels, ticks.
    TAxisGeometry& bottom = out.Bottom;
    bottom.Labels.clear();
    bottom.MinorTicks.clear();
    bottom.TitleSize = bottomAxis.TitleCaption.isEmpty() ? 0 : measures.BottomTitle.LineHeight();
    bottom.LabelSize = bottomAxis.LabelsSize > 0 ? bottomAxis.LabelsSize
                                                 : measures.BottomLabels.LineHeight();
    bottom.TitlePosition = p.Bottom - bottom.TitleSize;
    bottom.LabelPosition = bottom.TitlePosition - bottom.LabelSize;
    p.Bottom = bottom.LabelPosition - TickBand(bottomAxis);
    bottom.Position = p.Bottom;

    // The left axis' height is final now; its step decides its label band.
    TAxisGeometry& left = out.Left;
    left.Labels.clear();
    left.MinorTicks.clear();
    ScaleFor(left.Scale, leftAxis, p.Top, p.Height());
    left.Step = AxisValueStep(left.Scale.Length(), measures.LeftLabels.LineHeight(),
                              left.Scale.Range(), leftAxis.Increment, leftAxis.LabelsSeparation);
    left.TitleSize = leftAxis.TitleCaption.isEmpty() ? 0 : measures.LeftTitle.LineHeight();
    if (leftAxis.LabelsSize > 0) {
        left.LabelSize = leftAxis.LabelsSize;
    } else {
        const double lowest = std::trunc(leftAxis.Minimum() / left.Step) * left.Step;
        const double highest = std::trunc(leftAxis.Maximum() / left.Step) * left.Step;
        left.LabelSize = std::max(measures.LeftLabels.TextWidth(FormatAxisValue(lowest)),
                                  measures.LeftLabels.TextWidth(FormatAxisValue(highest)))
                         + measures.LeftLabels.TextWidth(QStringLiteral(" "));
    }
    left.TitlePosition = p.Left + left.TitleSize;
    left.LabelPosition = left.TitlePosition + left.LabelSize;
    p.Left = left.LabelPosition + TickBand(leftAxis);
    left.Position = p.Left;

    ScaleFor(bottom.Scale, bottomAxis, p.Left, p.Width());

    TBarDrawState& bars = out.Bars;
    bars.Bottom = bottom.Scale;
    bars.Left = left.Scale;
    bars.BarPixelWidth = BarPixelWidthFor(bottom.Scale.Length(), config.MaxPointsPerPage(),
                                          series.Count(), series.BarWidthPercent,
                                          series.SideMargins);
    ShownBars(bottom.Scale, p.Left, p.Right, series.XValues(), bars.FirstShownIndex,
              bars.LastShownIndex);
    // The columns of a long line, once: painting walks them.
    out.Columns.clear();
    const int lastBar = std::min(bars.LastShownIndex, series.Count() - 1);
    if (p.Width() > 1 && p.Height() > 2 && BarsAreBinned(bars.FirstShownIndex, lastBar, p.Width() - 1))
        BinBarColumns(bars, series, series.UseYOrigin ? series.YOrigin : bars.Left.Minimum,
                      bars.FirstShownIndex, lastBar, out.Columns);

    // Bottom labels: the bars' texts, only for X inside the axis range.
    const bool turned = bottomAxis.LabelsAngle == 90 || bottomAxis.LabelsAngle == 270;
    bottom.Turned = turned;
    left.Turned = leftAxis.LabelsAngle == 90 || leftAxis.LabelsAngle == 270;
    const bool longLine = series.Count() > DesignedBarCount;
    if (bottomAxis.Labels && bottomAxis.LabelStyle == talText && bars.FirstShownIndex >= 0 && longLine
        && RoundToneLabels(bottom, series, bars, measures.BottomLabels)) {
        bottom.Turned = false;
    } else if (bottomAxis.Labels && bottomAxis.LabelStyle == talText && bars.FirstShownIndex >= 0) {
        TLabelThinner thinner(bottomAxis.LabelsSeparation);
        const int lineHeight = measures.BottomLabels.LineHeight();
        for (int i = bars.FirstShownIndex; i <= bars.LastShownIndex; ++i) {
            const double x = series.XValues().Value(i);
            if (x < bottom.Scale.Minimum || x > bottom.Scale.Maximum)
                continue;
            const int pos = bottom.Scale.ValueToPixel(x);
            // A label turned upright takes its line height along the axis.
            const int size = turned ? lineHeight : measures.BottomLabels.TextWidth(series.Label(i));
            if (thinner.Accept(pos, size)) {
                bottom.Labels.push_back({pos, series.Label(i)});
                if (int(bottom.Labels.size()) >= MaxAxisTicks)
                    break;
            }
        }
    } else if (bottomAxis.Labels && bottomAxis.LabelStyle != talText
               && bottomAxis.LabelStyle != talNone) {
        bottom.Step = AxisValueStep(bottom.Scale.Length(), measures.BottomLabels.LineHeight(),
                                    bottom.Scale.Range(), bottomAxis.Increment,
                                    bottomAxis.LabelsSeparation);
        ValueLabels(bottom, bottomAxis);
    }
    if (leftAxis.Labels && leftAxis.LabelStyle != talNone)
        ValueLabels(left, leftAxis);

    if (bottomAxis.MinorTicks.Visible)
        MinorTickPositions(bottom.Labels, bottomAxis.MinorTickCount, bottom.Scale.StartPixel,
                           bottom.Scale.EndPixel, bottom.MinorTicks);
    if (leftAxis.MinorTicks.Visible)
        MinorTickPositions(left.Labels, leftAxis.MinorTickCount, left.Scale.StartPixel,
                           left.Scale.EndPixel, left.MinorTicks);
}
