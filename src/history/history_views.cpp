#include "history/history_views.h"

#include "chart/color.h"

#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

namespace {

constexpr QRgb FrameColor = 0xFF000000;
constexpr QRgb GridColor = 0xFFDDDDDD;
// Tone ticks every 32 tones, the width of one upstream band.
constexpr int ToneTick = ZyxelUpstreamToneCount;

// The smallest of 1, 2, 5, 10, 20, 50, ... at least `least`.
int NiceStep(double least)
{
    return std::max(1, int(std::lround(RoundStep(least))));
}

// Local time minus UTC at a moment: the axes tick at round local times.
std::int64_t LocalOffsetMs(std::int64_t ms)
{
    return std::int64_t(QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc()) * 1000;
}

// Seconds only where the ticks are less than a minute apart.
QString TimeText(std::int64_t ms, std::int64_t stepMs)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(stepMs < 60000 ? QStringLiteral("yyyy-MM-dd HH:mm:ss")
                                                                       : QStringLiteral("yyyy-MM-dd HH:mm"));
}

// Digits after the point that labels at this step need.
int StepDecimals(double step)
{
    int decimals = 0;
    while (decimals < 6 && std::abs(step - std::round(step)) > 1e-9) {
        step *= 10;
        ++decimals;
    }
    return decimals;
}

// A direction's bands as the trend's legend names them: "0-31, 870-1205".
QString BandsText(const std::vector<TToneBand>& bands)
{
    QStringList parts;
    for (const TToneBand& band : bands)
        parts << QStringLiteral("%1-%2").arg(band.First).arg(band.Last);
    return parts.join(QStringLiteral(", "));
}

void DrawSwatch(QPainter& painter, int x, int y, int size, QRgb colour, const QString& text)
{
    painter.fillRect(QRect(x, y, size, size - 2), QColor(colour));
    painter.setPen(QColor(FrameColor));
    painter.drawText(QRect(x + size + size / 3, y - size, 1000, 3 * size - 2), Qt::AlignLeft | Qt::AlignVCenter, text);
}

} // namespace

double TToneViewLayout::ToneX(int tone) const
{
    return Plot.left() + double(tone) * Plot.width() / Columns.Tones;
}

int TToneViewLayout::ToneAt(int x) const
{
    return Columns.ToneAt(x - Plot.left());
}

double TToneViewLayout::ColumnX(int column) const
{
    return Columns.Binned() ? double(Plot.left() + column) : ToneX(column);
}

double TToneViewLayout::ValueY(double value) const
{
    return Plot.top() + Plot.height() - value * Plot.height() / std::max(1, ValueTop);
}

THistoryToneView::THistoryToneView(const THistoryFigures& figures, QWidget* parent)
    : QWidget(parent)
    , FFigures(figures)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(400, 250);
    setMouseTracking(true);
}

std::pair<int, int> THistoryToneView::CellAt(QPoint point) const
{
    const TToneViewLayout layout = Layout(rect());
    if (!layout.Plot.contains(point))
        return {-1, -1};
    const int column = point.x() - layout.Plot.left();
    if (layout.Columns.Binned())
        return {-1, ShownTone(layout.Columns, column, -1)};
    return {-1, layout.ToneAt(point.x())};
}

void THistoryToneView::mouseMoveEvent(QMouseEvent* event)
{
    const auto [row, tone] = CellAt(event->position().toPoint());
    emit Hovered(row, tone);
}

void THistoryToneView::leaveEvent(QEvent*)
{
    emit Hovered(-1, -1);
}

int THistoryToneView::LeftMargin(const QFontMetrics& metrics) const
{
    return metrics.horizontalAdvance(QStringLiteral("00000")) + 2 * metrics.height();
}

TToneViewLayout THistoryToneView::Layout(const QRect& area) const
{
    const QFontMetrics metrics = fontMetrics();
    TToneViewLayout layout;
    layout.LineHeight = metrics.height();
    layout.ValueTop = ValueTop();
    const int lh = layout.LineHeight;
    const int left = LeftMargin(metrics);
    const int legend = LegendWidth(metrics);
    const int right = legend > 0 ? legend + 2 * lh : lh;
    layout.Plot = QRect(area.left() + left, area.top() + 3 * lh, std::max(1, area.width() - left - right),
                        std::max(1, area.height() - 6 * lh));
    layout.Columns = FFigures.Columns(layout.Plot.width());
    if (legend > 0)
        layout.Legend = QRect(layout.Plot.right() + 1 + lh, layout.Plot.top(), legend, layout.Plot.height());
    return layout;
}

void THistoryToneView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    Draw(painter, rect());
}

void THistoryToneView::DrawFrame(QPainter& painter, const QRect& area, const TToneViewLayout& layout,
                                 const QString& title) const
{
    const QRect& plot = layout.Plot;
    const int lh = layout.LineHeight;
    painter.setPen(QColor(FrameColor));
    QFont bold = painter.font();
    bold.setBold(true);
    painter.save();
    painter.setFont(bold);
    painter.drawText(QRect(area.left(), area.top() + lh / 2, area.width(), lh), Qt::AlignCenter, title);
    painter.restore();
    painter.drawRect(plot.adjusted(-1, -1, 0, 0));

    // Tone axis: ticks every 32 tones, labels as often as they fit. A
    // longer line ticks at round tone numbers, each labelled.
    const int tones = layout.Columns.Tones;
    const double perTone = double(plot.width()) / tones;
    const int labelWidth = painter.fontMetrics().horizontalAdvance(QStringLiteral("0000"));
    int tick = ToneTick;
    int labelEvery = ToneTick;
    if (tones > ZyxelToneCount) {
        tick = NiceStep(1.5 * labelWidth / perTone);
        labelEvery = tick;
    }
    while (labelEvery * perTone < labelWidth && labelEvery < tones)
        labelEvery *= 2;
    const int axisY = plot.bottom() + 1;
    for (int tone = 0; tone < tones; tone += tick) {
        const int x = int(std::lround(layout.ToneX(tone) + perTone / 2));
        painter.drawLine(x, axisY, x, axisY + lh / 3);
        if (tone % labelEvery == 0)
            painter.drawText(QRect(x - labelWidth, axisY + lh / 3, 2 * labelWidth, lh), Qt::AlignCenter,
                             QString::number(tone));
    }
    painter.drawText(QRect(plot.left(), axisY + lh * 3 / 2, plot.width(), lh), Qt::AlignCenter,
                     QStringLiteral("Tone (%1 kHz apart; frequency = tone × %1 kHz)").arg(QString::number(FFigures.SpacingKHz())));

    // Where the direction changes from one tone to the next (at an
    // upstream band's edges: tones outside every band count as downstream,
    // as their colour does), a mark above the plot names the direction on
    // its right (and, at the first, the one on its left), and a dashed line
    // runs through the plot.
    const TBandPlan& plan = FFigures.Bands();
    std::vector<int> edges;
    for (const TToneBand& band : plan.Upstream) {
        for (const int tone : {band.First, band.Last + 1}) {
            if (tone > 0 && tone < tones && (plan.DirectionOf(tone) == TToneDirection::Upstream) != (plan.DirectionOf(tone - 1) == TToneDirection::Upstream))
                edges.push_back(tone);
        }
    }
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    const auto directionText = [](bool up) { return up ? QStringLiteral("up") : QStringLiteral("down"); };
    bool first = true;
    for (const int start : edges) {
        const bool up = plan.DirectionOf(start) == TToneDirection::Upstream;
        const int boundary = int(std::lround(layout.ToneX(start)));
        if (first)
            painter.drawText(QRect(boundary - 200 - lh / 4, plot.top() - lh - 2, 200, lh),
                             Qt::AlignRight | Qt::AlignVCenter, directionText(plan.DirectionOf(start - 1) == TToneDirection::Upstream));
        first = false;
        painter.drawText(QRect(boundary + lh / 4, plot.top() - lh - 2, 200, lh), Qt::AlignLeft | Qt::AlignVCenter,
                         directionText(up));
        painter.drawLine(boundary, plot.top() - lh, boundary, plot.top() - 1);
        painter.save();
        painter.setPen(QPen(QColor(0xFF808080), 1, Qt::DashLine));
        painter.drawLine(boundary, plot.top(), boundary, plot.bottom());
        painter.restore();
    }
}

void THistoryToneView::DrawValueAxis(QPainter& painter, const TToneViewLayout& layout, const QString& title) const
{
    const QRect& plot = layout.Plot;
    const int lh = layout.LineHeight;
    const double perUnit = double(plot.height()) / std::max(1, layout.ValueTop);
    const int step = NiceStep(1.5 * lh / perUnit);
    for (int value = 0; value <= layout.ValueTop; value += step) {
        const int y = int(std::lround(layout.ValueY(value)));
        if (value > 0) {
            painter.setPen(QColor(GridColor));
            painter.drawLine(plot.left(), y, plot.right(), y);
        }
        painter.setPen(QColor(FrameColor));
        painter.drawLine(plot.left() - lh / 3, y, plot.left() - 1, y);
        painter.drawText(QRect(plot.left() - 5 * lh, y - lh / 2, 5 * lh - lh / 2, lh), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(value));
    }
    painter.save();
    painter.translate(plot.left() - LeftMargin(painter.fontMetrics()) + lh / 4, plot.center().y());
    painter.rotate(-90);
    painter.drawText(QRect(-plot.height() / 2, 0, plot.height(), lh), Qt::AlignCenter, title);
    painter.restore();
}

int THistoryToneView::DrawToneLegend(QPainter& painter, const TToneViewLayout& layout) const
{
    const int lh = layout.LineHeight;
    const int x = layout.Legend.left();
    int y = layout.Legend.top();
    DrawSwatch(painter, x, y, lh, ToQColor(DirectionColor(TToneDirection::Upstream)).rgb(), QStringLiteral("upstream"));
    y += 3 * lh / 2;
    DrawSwatch(painter, x, y, lh, ToQColor(DirectionColor(TToneDirection::Downstream)).rgb(), QStringLiteral("downstream"));
    return y + 3 * lh / 2;
}

void THistoryToneView::DrawBars(QPainter& painter, const TToneViewLayout& layout, THistoryFigures::TFigure figure) const
{
    const QColor up = ToQColor(DirectionColor(TToneDirection::Upstream));
    const QColor down = ToQColor(DirectionColor(TToneDirection::Downstream));
    const double base = layout.ValueY(0);
    const TToneColumns& columns = layout.Columns;
    for (int c = 0; c < columns.Count(); ++c) {
        const auto [tone, v] = FFigures.ColumnValue(figure, columns.FirstTone(c), columns.EndTone(c));
        if (v <= 0)
            continue;
        const double top = layout.ValueY(v);
        const QRectF bar(QPointF(layout.ColumnX(c), top), QPointF(layout.ColumnX(c + 1), base));
        painter.fillRect(bar, FFigures.Bands().DirectionOf(tone) == TToneDirection::Upstream ? up : down);
    }
}

// --- waterfall ---

int TWaterfallView::LeftMargin(const QFontMetrics& metrics) const
{
    return metrics.horizontalAdvance(QStringLiteral("2026-12-07 00:00:00")) + 2 * metrics.height();
}

int TWaterfallView::LegendWidth(const QFontMetrics& metrics) const
{
    return metrics.height() * 2 + std::max(metrics.horizontalAdvance(QStringLiteral("incomplete")),
                                           metrics.horizontalAdvance(QStringLiteral("no reading")));
}

void TWaterfallView::FiguresChanged()
{
    FRows = TWaterfallRows();
    FScaled = QImage();
    update();
}

void TWaterfallView::SetSpan(std::int64_t fromMs, std::int64_t toMs)
{
    FFromMs = fromMs;
    FToMs = toMs;
    FiguresChanged();
}

const TWaterfallRows& TWaterfallView::Rows(int height) const
{
    if (FRows.Height() != height || FRows.Shown.empty()) {
        // Without a span of its own the view shows the readings' span.
        FRows = FToMs > FFromMs ? FFigures.WaterfallRows(height, FFromMs, FToMs) : FFigures.WaterfallRows(height);
        FScaled = QImage();
    }
    return FRows;
}

void TWaterfallView::SetMark(std::int64_t fromMs, std::int64_t toMs)
{
    FMarkFromMs = fromMs;
    FMarkToMs = toMs;
    update();
}

void TWaterfallView::Draw(QPainter& painter, const QRect& area) const
{
    const TToneViewLayout layout = Layout(area);
    const QRect& plot = layout.Plot;
    const int lh = layout.LineHeight;
    painter.fillRect(area, Qt::white);
    const TWaterfallRows& rows = Rows(plot.height());
    if (FScaled.size() != plot.size())
        FScaled = FFigures.ScaledWaterfall(rows, plot.width());
    painter.drawImage(plot.topLeft(), FScaled);
    if (FMarkFromMs <= FMarkToMs && FMarkToMs >= rows.FromMs && FMarkFromMs <= rows.ToMs) {
        // The chosen event: a band from its start to its end, at least a
        // line's height so an event of one moment shows too.
        const int top = plot.top() + int(std::lround(rows.Y(std::min(FMarkToMs, rows.ToMs))));
        const int bottom = plot.top() + int(std::lround(rows.Y(std::max(FMarkFromMs, rows.FromMs))));
        const int middle = (top + bottom) / 2;
        const int half = std::max((bottom - top) / 2, lh / 4);
        painter.setPen(QPen(QColor::fromRgb(MarkColor), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRect(plot.left(), middle - half, plot.width() - 1, 2 * half));
    }
    // A long period's rows are the store's hour blocks, each drawn as its
    // latest complete reading.
    DrawFrame(painter, area, layout,
              FFigures.BlockCount() > 0
                  ? QStringLiteral("Waterfall: bits per tone, each hour as its latest complete reading, newest at the top")
                  : QStringLiteral("Waterfall: bits per tone, one row per reading, newest at the top"));

    // Round times down the time axis, as many as fit two lines apart; the
    // rows between them are as tall as the time they stand for.
    painter.setPen(QColor(FrameColor));
    const TTimeTicks ticks = RoundTimeTicks(rows.FromMs, rows.ToMs, std::max(2, plot.height() / (2 * lh)),
                                            LocalOffsetMs(rows.FromMs));
    // Rows stretched for readings close together push ticks apart, never
    // together; where they still crowd, a label is left out.
    int lastLabel = std::numeric_limits<int>::min() / 2;
    for (std::int64_t t = ticks.FirstMs; t <= ticks.LastMs && FFigures.Count() > 0; t += ticks.StepMs) {
        if (t < rows.FromMs || t > rows.ToMs)
            continue;
        const int at = plot.top() + int(std::lround(rows.Y(t)));
        if (std::abs(at - lastLabel) < 3 * lh / 2)
            continue;
        lastLabel = at;
        painter.drawLine(plot.left() - lh / 3, at, plot.left() - 1, at);
        painter.drawText(QRect(area.left(), at - lh / 2, plot.left() - lh / 2 - area.left(), lh),
                         Qt::AlignRight | Qt::AlignVCenter, TimeText(t, ticks.StepMs));
    }
    painter.save();
    painter.translate(area.left() + lh / 4, plot.center().y());
    painter.rotate(-90);
    painter.drawText(QRect(-plot.height() / 2, 0, plot.height(), lh), Qt::AlignCenter,
                     QStringLiteral("Time of reading (newest at the top)"));
    painter.restore();

    // The legend: the colour of each number of bits, the outage grey and
    // the white of times without readings.
    const QRect& legend = layout.Legend;
    painter.drawText(QRect(legend.left(), legend.top() - lh - 2, legend.width(), lh), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Bits"));
    const int cell = std::max(4, std::min(lh, legend.height() / (MaxToneBits + 5)));
    for (int bits = MaxToneBits; bits >= 0; --bits) {
        const int y = legend.top() + (MaxToneBits - bits) * cell;
        painter.fillRect(QRect(legend.left(), y, lh, cell), QColor(BitsColor(bits)));
        if (cell >= lh * 2 / 3 || bits % 5 == 0)
            painter.drawText(QRect(legend.left() + lh + lh / 3, y - lh / 2 + cell / 2, legend.width(), lh),
                             Qt::AlignLeft | Qt::AlignVCenter, QString::number(bits));
    }
    const std::pair<QRgb, QString> others[] = {{IncompleteColor, QStringLiteral("incomplete")},
                                               {NoReadingColor, QStringLiteral("no reading")}};
    int y = legend.top() + (MaxToneBits + 2) * cell;
    for (const auto& [colour, text] : others) {
        painter.fillRect(QRect(legend.left(), y, lh, cell), QColor(colour));
        if (colour == NoReadingColor)
            painter.drawRect(QRect(legend.left(), y, lh - 1, cell - 1));
        painter.drawText(QRect(legend.left() + lh + lh / 3, y - lh / 2 + cell / 2, legend.width(), lh),
                         Qt::AlignLeft | Qt::AlignVCenter, text);
        y += cell * 3 / 2;
    }
}

std::pair<int, int> TWaterfallView::CellAt(QPoint point) const
{
    const TToneViewLayout layout = Layout(rect());
    if (!layout.Plot.contains(point))
        return {-1, -1};
    const int row = Rows(layout.Plot.height()).At(point.y() - layout.Plot.top());
    if (layout.Columns.Binned())
        return {row, ShownTone(layout.Columns, point.x() - layout.Plot.left(), row)};
    return {row, layout.ToneAt(point.x())};
}

int TWaterfallView::ShownTone(const TToneColumns& columns, int column, int row) const
{
    if (row < 0)
        return columns.FirstTone(column);
    return FFigures.ColumnBits(row, columns.FirstTone(column), columns.EndTone(column)).first;
}

// --- envelope ---

int TEnvelopeView::LegendWidth(const QFontMetrics& metrics) const
{
    return metrics.height() * 2 + metrics.horizontalAdvance(QStringLiteral("downstream"));
}

void TEnvelopeView::Draw(QPainter& painter, const QRect& area) const
{
    const TToneViewLayout layout = Layout(area);
    const QRect& plot = layout.Plot;
    const int lh = layout.LineHeight;
    painter.fillRect(area, Qt::white);
    DrawValueAxis(painter, layout, QStringLiteral("Bits per tone"));
    if (FFigures.CompleteCount() > 0) {
        DrawBars(painter, layout, THistoryFigures::TFigure::Latest);
        // Maximum and minimum as steps across each column: on a binned line
        // its highest maximum and its lowest minimum.
        QPainterPath maximum;
        QPainterPath minimum;
        const TToneColumns& columns = layout.Columns;
        for (int c = 0; c < columns.Count(); ++c) {
            const int first = columns.FirstTone(c);
            const int end = columns.EndTone(c);
            const double x0 = layout.ColumnX(c);
            const double x1 = layout.ColumnX(c + 1);
            const double yMax = layout.ValueY(FFigures.ColumnValue(THistoryFigures::TFigure::Max, first, end).second);
            const double yMin = layout.ValueY(FFigures.ColumnValue(THistoryFigures::TFigure::Min, first, end).second);
            if (c == 0) {
                maximum.moveTo(x0, yMax);
                minimum.moveTo(x0, yMin);
            }
            maximum.lineTo(x0, yMax);
            maximum.lineTo(x1, yMax);
            minimum.lineTo(x0, yMin);
            minimum.lineTo(x1, yMin);
        }
        painter.setPen(QPen(QColor(MaximumColor), 1));
        painter.drawPath(maximum);
        painter.setPen(QPen(QColor(MinimumColor), 1));
        painter.drawPath(minimum);
    } else {
        painter.setPen(QColor(FrameColor));
        painter.drawText(plot, Qt::AlignCenter, QStringLiteral("No complete reading in this period"));
    }
    DrawFrame(painter, area, layout,
              QStringLiteral("Envelope: latest bits (bars), maximum (outline) and minimum (line) over the period"));
    int y = DrawToneLegend(painter, layout);
    const int x = layout.Legend.left();
    for (const auto& [colour, text] : {std::pair{MaximumColor, QStringLiteral("maximum")},
                                       std::pair{MinimumColor, QStringLiteral("minimum")}}) {
        painter.setPen(QPen(QColor(colour), 2));
        painter.drawLine(x, y + lh / 2, x + lh, y + lh / 2);
        painter.setPen(QColor(FrameColor));
        painter.drawText(QRect(x + lh + lh / 3, y, 1000, lh), Qt::AlignLeft | Qt::AlignVCenter, text);
        y += 3 * lh / 2;
    }
}

int TEnvelopeView::ShownTone(const TToneColumns& columns, int column, int) const
{
    return FFigures.ColumnValue(THistoryFigures::TFigure::Latest, columns.FirstTone(column), columns.EndTone(column)).first;
}

// --- change counts ---

int TChangesView::ShownTone(const TToneColumns& columns, int column, int) const
{
    return FFigures.ColumnValue(THistoryFigures::TFigure::Changes, columns.FirstTone(column), columns.EndTone(column)).first;
}

QString TChangesView::Title(int total)
{
    return QStringLiteral("Bit changes per tone between consecutive complete readings: %1 in total").arg(total);
}

int TChangesView::ValueTop() const
{
    int most = 0;
    for (int tone = 0; tone < FFigures.ToneCount(); ++tone)
        most = std::max(most, FFigures.Changes(tone));
    // A round top a little above the highest bar.
    if (most < 5)
        return 5;
    const int step = NiceStep(most / 5.0);
    return (most / step + 1) * step;
}

int TChangesView::LegendWidth(const QFontMetrics& metrics) const
{
    return metrics.height() * 2 + metrics.horizontalAdvance(QStringLiteral("downstream"));
}

void TChangesView::Draw(QPainter& painter, const QRect& area) const
{
    const TToneViewLayout layout = Layout(area);
    painter.fillRect(area, Qt::white);
    DrawValueAxis(painter, layout, QStringLiteral("Changes"));
    DrawBars(painter, layout, THistoryFigures::TFigure::Changes);
    DrawFrame(painter, area, layout, Title(FFigures.TotalChanges()));
    DrawToneLegend(painter, layout);
}

// --- line-rate trend ---

TTrendView::TTrendView(const THistoryFigures& figures, QWidget* parent)
    : QChartView(new QChart, parent) // the view owns the chart; made with one, it makes no other
    , FFigures(figures)
    , FChart(chart())
{
    setRenderHint(QPainter::Antialiasing);
    FChart->setTitle(QStringLiteral("Line rate of each complete reading (bits per symbol × 4,000 symbols/s)"));
    QFont title = FChart->titleFont();
    title.setBold(true);
    FChart->setTitleFont(title);
    FChart->legend()->setAlignment(Qt::AlignBottom);
    FChart->setAnimationOptions(QChart::NoAnimation);

    FTime = new QDateTimeAxis;
    FTime->setTitleText(QStringLiteral("Time"));
    FTime->setTickCount(7);
    FRate = new QValueAxis;
    FRate->setTitleText(QStringLiteral("Line rate (kbit/s)"));
    FRate->setLabelFormat(QStringLiteral("%.0f"));
    FBits = new QValueAxis;
    FBits->setTitleText(QStringLiteral("Bits per symbol"));
    FBits->setLabelFormat(QStringLiteral("%.0f"));
    FChart->addAxis(FTime, Qt::AlignBottom);
    FChart->addAxis(FRate, Qt::AlignLeft);
    FChart->addAxis(FBits, Qt::AlignRight);
    setMinimumSize(400, 250);
    viewport()->setMouseTracking(true);
}

void TTrendView::SetSpan(std::int64_t fromMs, std::int64_t toMs)
{
    FFromMs = fromMs;
    FToMs = std::max(toMs, fromMs + 60000);
    FiguresChanged();
}

void TTrendView::FiguresChanged()
{
    FDirty = true;
    if (isVisible())
        Rebuild();
}

void TTrendView::resizeEvent(QResizeEvent* event)
{
    QChartView::resizeEvent(event);
    UpdateTimeAxis();
}

void TTrendView::showEvent(QShowEvent* event)
{
    if (FDirty)
        Rebuild();
    QChartView::showEvent(event);
}

void TTrendView::Rebuild()
{
    FDirty = false;
    FChart->removeAllSeries();
    // More than a few points per pixel column cannot be told apart.
    const std::int64_t span = FToMs - FFromMs;
    const std::int64_t bucket = span / std::max(200, width() / 2);
    // A pause in sampling is a gap as an outage is, as on the waterfall.
    const auto runs = RateRuns(FFigures.TrendPoints(), bucket, FFigures.TrendGapMs());
    double highest = 0;
    double spacing = ZyxelToneSpacingKHz; // the latest line's, for the bits axis
    for (const auto& run : runs) {
        for (const TRatePoint& p : run) {
            highest = std::max({highest, p.UpKbps(), p.DownKbps()});
            spacing = p.SpacingKHz;
        }
    }
    const struct {
        QString name;
        QColor colour;
        bool up;
    } directions[] = {{QStringLiteral("Upstream (tones %1)").arg(BandsText(FFigures.Bands().Upstream)), ToQColor(DirectionColor(TToneDirection::Upstream)), true},
                      {QStringLiteral("Downstream (tones %1)").arg(BandsText(FFigures.Bands().Downstream)),
                       ToQColor(DirectionColor(TToneDirection::Downstream)), false}};
    for (const auto& direction : directions) {
        // One line per run; only the first names the direction in the legend.
        for (std::size_t r = 0; r < std::max<std::size_t>(1, runs.size()); ++r) {
            auto* series = new QLineSeries;
            series->setName(direction.name);
            series->setPen(QPen(direction.colour, 2));
            if (r < runs.size()) {
                QList<QPointF> points;
                points.reserve(qsizetype(runs[r].size()));
                for (const TRatePoint& p : runs[r])
                    points.append(QPointF(double(p.TimeMs), direction.up ? p.UpKbps() : p.DownKbps()));
                series->replace(points);
                // A lone reading between outages is no line: show it as a dot.
                series->setPointsVisible(points.size() < 3);
            }
            FChart->addSeries(series);
            series->attachAxis(FTime);
            series->attachAxis(FRate);
            if (r > 0) {
                for (QLegendMarker* marker : FChart->legend()->markers(series))
                    marker->setVisible(false);
            }
        }
    }
    // Each value axis ticks at round steps of its own: kbit/s on the left,
    // bits per symbol on the right, the two ranges the same line rate. Only
    // the left one draws grid lines, so no two grids cross the plot.
    const double top = std::max(10.0, highest * 1.1);
    const double rateStep = RoundStep(top / 6);
    const double rounded = std::ceil(top / rateStep) * rateStep;
    const double bitsTop = rounded / LineRateKbps(1, spacing);
    const double bitsStep = RoundStep(bitsTop / 6);
    for (const auto& [axis, range, step] : {std::tuple{FRate, rounded, rateStep}, std::tuple{FBits, bitsTop, bitsStep}}) {
        axis->setRange(0, range);
        axis->setTickType(QValueAxis::TicksDynamic);
        axis->setTickAnchor(0);
        axis->setTickInterval(step);
        axis->setLabelFormat(QStringLiteral("%.") + QString::number(StepDecimals(step)) + QStringLiteral("f"));
    }
    FBits->setGridLineVisible(false);
    UpdateTimeAxis();
}

void TTrendView::UpdateTimeAxis()
{
    // The time axis from the round time before the first reading to the one
    // after the span's end, ticked at round times as many as fit.
    const int labelWidth = fontMetrics().horizontalAdvance(QStringLiteral("00-00 00:00")) * 3 / 2;
    const int plotWidth = width() - 10 * fontMetrics().height(); // less the value axes on both sides
    const TTimeTicks ticks =
        RoundTimeTicks(FFromMs, FToMs, std::max(3, plotWidth / labelWidth + 1), LocalOffsetMs(FFromMs));
    constexpr std::int64_t Minute = 60 * 1000;
    constexpr std::int64_t Day = 24 * 60 * Minute;
    // Dates only where the axis spans more than a day.
    if (ticks.StepMs < Minute)
        FTime->setFormat(QStringLiteral("HH:mm:ss"));
    else if (ticks.LastMs - ticks.FirstMs <= Day)
        FTime->setFormat(QStringLiteral("HH:mm"));
    else
        FTime->setFormat(QStringLiteral("MM-dd HH:mm"));
    FTime->setRange(QDateTime::fromMSecsSinceEpoch(ticks.FirstMs), QDateTime::fromMSecsSinceEpoch(ticks.LastMs));
    FTime->setTickCount(ticks.Count());
}

int TTrendView::RowAt(QPoint point) const
{
    const QPointF inChart = FChart->mapFromScene(mapToScene(point));
    if (!FChart->plotArea().contains(inChart) || FChart->series().isEmpty())
        return -1;
    const double timeMs = FChart->mapToValue(inChart, FChart->series().first()).x();
    return FFigures.RowNearest(std::int64_t(std::llround(timeMs)));
}

void TTrendView::mouseMoveEvent(QMouseEvent* event)
{
    emit Hovered(RowAt(event->position().toPoint()), -1);
    QChartView::mouseMoveEvent(event);
}

bool TTrendView::viewportEvent(QEvent* event)
{
    // The pointer moves over the view's viewport: leaving it leaves the plot.
    if (event->type() == QEvent::Leave)
        emit Hovered(-1, -1);
    return QChartView::viewportEvent(event);
}
