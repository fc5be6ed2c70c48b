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

namespace {

constexpr QRgb FrameColor = 0xFF000000;
constexpr QRgb GridColor = 0xFFDDDDDD;
// Tone ticks every 32 tones, the width of one upstream band.
constexpr int ToneTick = UpstreamToneCount;

// The smallest of 1, 2, 5, 10, 20, 50, ... at least `least`.
int NiceStep(double least)
{
    for (int decade = 1;; decade *= 10) {
        for (int f : {1, 2, 5}) {
            if (f * decade >= least)
                return f * decade;
        }
    }
}

// Seconds only where the readings shown are close enough together to need
// them.
QString TimeText(std::int64_t ms, std::int64_t spanMs)
{
    const bool seconds = spanMs < 2 * 3600 * 1000;
    return QDateTime::fromMSecsSinceEpoch(ms).toString(seconds ? QStringLiteral("yyyy-MM-dd HH:mm:ss")
                                                                : QStringLiteral("yyyy-MM-dd HH:mm"));
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
    return Plot.left() + double(tone) * Plot.width() / ToneCount;
}

int TToneViewLayout::ToneAt(int x) const
{
    return THistoryFigures::ToneAt(x - Plot.left(), Plot.width());
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

    // Tone axis: ticks every 32 tones, labels as often as they fit.
    const double perTone = double(plot.width()) / ToneCount;
    const int labelWidth = painter.fontMetrics().horizontalAdvance(QStringLiteral("0000"));
    int labelEvery = ToneTick;
    while (labelEvery * perTone < labelWidth && labelEvery < ToneCount)
        labelEvery *= 2;
    const int axisY = plot.bottom() + 1;
    for (int tone = 0; tone < ToneCount; tone += ToneTick) {
        const int x = int(std::lround(layout.ToneX(tone) + perTone / 2));
        painter.drawLine(x, axisY, x, axisY + lh / 3);
        if (tone % labelEvery == 0)
            painter.drawText(QRect(x - labelWidth, axisY + lh / 3, 2 * labelWidth, lh), Qt::AlignCenter,
                             QString::number(tone));
    }
    painter.drawText(QRect(plot.left(), axisY + lh * 3 / 2, plot.width(), lh), Qt::AlignCenter,
                     QStringLiteral("Tone (%1 kHz apart; frequency = tone × %1 kHz)").arg(QString::number(ToneSpacingKHz)));

    // The boundary between upstream and downstream tones, marked above the
    // plot and as a dashed line through it.
    const int boundary = int(std::lround(layout.ToneX(UpstreamToneCount)));
    painter.drawText(QRect(boundary - 200 - lh / 4, plot.top() - lh - 2, 200, lh), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("up"));
    painter.drawText(QRect(boundary + lh / 4, plot.top() - lh - 2, 200, lh), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("down"));
    painter.drawLine(boundary, plot.top() - lh, boundary, plot.top() - 1);
    painter.save();
    painter.setPen(QPen(QColor(0xFF808080), 1, Qt::DashLine));
    painter.drawLine(boundary, plot.top(), boundary, plot.bottom());
    painter.restore();
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
    DrawSwatch(painter, x, y, lh, ToQColor(ToneColor(0)).rgb(), QStringLiteral("upstream"));
    y += 3 * lh / 2;
    DrawSwatch(painter, x, y, lh, ToQColor(ToneColor(UpstreamToneCount)).rgb(), QStringLiteral("downstream"));
    return y + 3 * lh / 2;
}

template <typename Value>
void THistoryToneView::DrawBars(QPainter& painter, const TToneViewLayout& layout, Value value) const
{
    const QColor up = ToQColor(ToneColor(0));
    const QColor down = ToQColor(ToneColor(UpstreamToneCount));
    const double base = layout.ValueY(0);
    for (int tone = 0; tone < ToneCount; ++tone) {
        const int v = value(tone);
        if (v <= 0)
            continue;
        const double top = layout.ValueY(v);
        const QRectF bar(QPointF(layout.ToneX(tone), top), QPointF(layout.ToneX(tone + 1), base));
        painter.fillRect(bar, tone < UpstreamToneCount ? up : down);
    }
}

// --- waterfall ---

int TWaterfallView::LeftMargin(const QFontMetrics& metrics) const
{
    return metrics.horizontalAdvance(QStringLiteral("2026-12-07 00:00:00")) + 2 * metrics.height();
}

int TWaterfallView::LegendWidth(const QFontMetrics& metrics) const
{
    return metrics.height() * 2 + metrics.horizontalAdvance(QStringLiteral("incomplete"));
}

void TWaterfallView::FiguresChanged()
{
    FScaled = QImage();
    update();
}

void TWaterfallView::Draw(QPainter& painter, const QRect& area) const
{
    const TToneViewLayout layout = Layout(area);
    const QRect& plot = layout.Plot;
    const int lh = layout.LineHeight;
    painter.fillRect(area, Qt::white);
    if (FScaled.size() != plot.size())
        FScaled = FFigures.ScaledWaterfall(plot.size());
    painter.drawImage(plot.topLeft(), FScaled);
    DrawFrame(painter, area, layout, QStringLiteral("Waterfall: bits per tone, one row per reading, newest at the top"));

    // Time of the reading at a row every few lines.
    painter.setPen(QColor(FrameColor));
    const int count = FFigures.Count();
    const std::int64_t span = count > 0 ? FFigures.Row(0).TimeMs - FFigures.Row(count - 1).TimeMs : 0;
    const int every = std::max(2 * lh, count > 0 ? plot.height() / std::max(1, std::min(count, 12)) : plot.height());
    for (int y = 0; y < plot.height() && count > 0; y += every) {
        const int row = FFigures.RowAt(y, plot.height());
        const int at = plot.top() + y;
        painter.drawLine(plot.left() - lh / 3, at, plot.left() - 1, at);
        painter.drawText(QRect(area.left(), at - lh / 2, plot.left() - lh / 2 - area.left(), lh),
                         Qt::AlignRight | Qt::AlignVCenter, TimeText(FFigures.Row(row).TimeMs, span));
    }
    painter.save();
    painter.translate(area.left() + lh / 4, plot.center().y());
    painter.rotate(-90);
    painter.drawText(QRect(-plot.height() / 2, 0, plot.height(), lh), Qt::AlignCenter,
                     QStringLiteral("Time of reading (newest at the top)"));
    painter.restore();

    // The legend: the colour of each number of bits, and the outage grey.
    const QRect& legend = layout.Legend;
    painter.drawText(QRect(legend.left(), legend.top() - lh - 2, legend.width(), lh), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Bits"));
    const int cell = std::max(4, std::min(lh, legend.height() / (MaxToneBits + 3)));
    for (int bits = MaxToneBits; bits >= 0; --bits) {
        const int y = legend.top() + (MaxToneBits - bits) * cell;
        painter.fillRect(QRect(legend.left(), y, lh, cell), QColor(BitsColor(bits)));
        if (cell >= lh * 2 / 3 || bits % 5 == 0)
            painter.drawText(QRect(legend.left() + lh + lh / 3, y - lh / 2 + cell / 2, legend.width(), lh),
                             Qt::AlignLeft | Qt::AlignVCenter, QString::number(bits));
    }
    const int greyY = legend.top() + (MaxToneBits + 2) * cell;
    painter.fillRect(QRect(legend.left(), greyY, lh, cell), QColor(IncompleteColor));
    painter.drawText(QRect(legend.left() + lh + lh / 3, greyY - lh / 2 + cell / 2, legend.width(), lh),
                     Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("incomplete"));
}

std::pair<int, int> TWaterfallView::CellAt(QPoint point) const
{
    const TToneViewLayout layout = Layout(rect());
    if (!layout.Plot.contains(point))
        return {-1, -1};
    return {FFigures.RowAt(point.y() - layout.Plot.top(), layout.Plot.height()), layout.ToneAt(point.x())};
}

void TWaterfallView::mouseMoveEvent(QMouseEvent* event)
{
    const auto [row, tone] = CellAt(event->position().toPoint());
    emit Hovered(row, tone);
}

void TWaterfallView::leaveEvent(QEvent*)
{
    emit Hovered(-1, -1);
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
        DrawBars(painter, layout, [this](int tone) { return FFigures.Latest(tone); });
        // Maximum and minimum as steps across each tone's column.
        QPainterPath maximum;
        QPainterPath minimum;
        for (int tone = 0; tone < ToneCount; ++tone) {
            const double x0 = layout.ToneX(tone);
            const double x1 = layout.ToneX(tone + 1);
            const double yMax = layout.ValueY(FFigures.Max(tone));
            const double yMin = layout.ValueY(FFigures.Min(tone));
            if (tone == 0) {
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

// --- change counts ---

QString TChangesView::Title(int total)
{
    return QStringLiteral("Bit changes per tone between consecutive complete readings: %1 in total").arg(total);
}

int TChangesView::ValueTop() const
{
    int most = 0;
    for (int tone = 0; tone < ToneCount; ++tone)
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
    DrawBars(painter, layout, [this](int tone) { return FFigures.Changes(tone); });
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
    const auto runs = RateRuns(FFigures.Rates(), bucket);
    int highest = 0;
    for (const auto& run : runs) {
        for (const TRatePoint& p : run)
            highest = std::max({highest, p.UpBits, p.DownBits});
    }
    const struct {
        QString name;
        QColor colour;
        bool up;
    } directions[] = {{QStringLiteral("Upstream (tones 0-%1)").arg(FirstDownstreamTone - 1), ToQColor(ToneColor(0)), true},
                      {QStringLiteral("Downstream (tones %1-%2)").arg(FirstDownstreamTone).arg(LastTone),
                       ToQColor(ToneColor(FirstDownstreamTone)), false}};
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
    const double top = std::max(10.0, LineRateKbps(highest) * 1.1);
    const double step = NiceStep(top / 6);
    const double rounded = std::ceil(top / step) * step;
    FRate->setRange(0, rounded);
    FRate->setTickCount(int(rounded / step) + 1);
    FBits->setRange(0, rounded / LineRateKbps(1));
    FBits->setTickCount(int(rounded / step) + 1);
    constexpr std::int64_t Hour = 3600 * 1000;
    FTime->setFormat(span <= 2 * Hour ? QStringLiteral("HH:mm:ss")
                     : span <= 24 * Hour ? QStringLiteral("HH:mm") : QStringLiteral("MM-dd HH:mm"));
    FTime->setRange(QDateTime::fromMSecsSinceEpoch(FFromMs), QDateTime::fromMSecsSinceEpoch(FToMs));
}
