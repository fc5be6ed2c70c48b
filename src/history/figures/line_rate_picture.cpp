// The line rate's picture: rates each way against time, on the same layout
// for painting and for the read-out under the pointer.
#include "history/figures/history_pictures.h"

#include "history/figures/picture_marks.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

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

// A direction's bands as the legend names them: "0-31, 870-1205".
QString BandsText(const std::vector<TToneBand>& bands)
{
    QStringList parts;
    for (const TToneBand& band : bands)
        parts << QStringLiteral("%1-%2").arg(band.First).arg(band.Last);
    return parts.join(QStringLiteral(", "));
}

// Room for a value axis' labels and its title beside the plot.
int RateMarginOf(const QFontMetrics& metrics)
{
    return metrics.horizontalAdvance(QStringLiteral("000000")) + 2 * metrics.height();
}

int TimeLabelWidth(const QFontMetrics& metrics)
{
    return metrics.horizontalAdvance(QStringLiteral("00-00 00:00")) * 3 / 2;
}

// One value axis at the plot's left or right edge: ticks at whole steps
// from 0, grid lines from the left one only, so no two grids cross the plot.
void DrawRateAxis(QPainter& painter, const QRect& area, const TLineRateLayout& layout, bool left)
{
    const QRect& plot = layout.Plot;
    const int lh = layout.LineHeight;
    const double top = left ? layout.RateTop : layout.BitsTop;
    const double step = left ? layout.RateStep : layout.BitsStep;
    const int decimals = StepDecimals(step);
    const int labelWidth = RateMarginOf(painter.fontMetrics()) - lh * 3 / 2;
    for (int i = 0; i * step <= top * (1 + 1e-9); ++i) {
        const int y = int(std::lround(plot.bottom() + 1 - i * step / top * plot.height()));
        if (left && i > 0) {
            painter.setPen(QColor(GridColor));
            painter.drawLine(plot.left(), y, plot.right(), y);
        }
        painter.setPen(QColor(FrameColor));
        const int edge = left ? plot.left() - 1 : plot.right() + 1;
        painter.drawLine(edge, y, left ? edge - lh / 3 : edge + lh / 3, y);
        const QRect label = left ? QRect(plot.left() - lh / 2 - labelWidth, y - lh / 2, labelWidth, lh)
                                 : QRect(plot.right() + lh / 2, y - lh / 2, labelWidth, lh);
        painter.drawText(label, (left ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter,
                         QString::number(i * step, 'f', decimals));
    }
    painter.save();
    painter.translate(left ? area.left() + lh / 4 : area.right() - lh / 4, plot.center().y());
    painter.rotate(left ? -90 : 90);
    painter.drawText(QRect(-plot.height() / 2, 0, plot.height(), lh), Qt::AlignCenter,
                     left ? QStringLiteral("Line rate (kbit/s)") : QStringLiteral("Bits per symbol"));
    painter.restore();
}

// Round local times along the bottom; dates only where the axis spans
// more than a day, seconds only where the ticks are less than a minute apart.
void DrawTimeAxis(QPainter& painter, const TLineRateLayout& layout)
{
    constexpr std::int64_t Minute = 60 * 1000;
    constexpr std::int64_t Day = 24 * 60 * Minute;
    const TTimeTicks& ticks = layout.Ticks;
    const QString format = ticks.StepMs < Minute                 ? QStringLiteral("HH:mm:ss")
                           : ticks.LastMs - ticks.FirstMs <= Day ? QStringLiteral("HH:mm")
                           : ticks.StepMs >= Day                 ? QStringLiteral("MM-dd")
                                                                 : QStringLiteral("MM-dd HH:mm");
    const int lh = layout.LineHeight;
    const int labelWidth = TimeLabelWidth(painter.fontMetrics());
    const int axisY = layout.Plot.bottom() + 1;
    painter.setPen(QColor(FrameColor));
    for (std::int64_t t = ticks.FirstMs; t <= ticks.LastMs; t += ticks.StepMs) {
        const int x = int(std::lround(layout.X(t)));
        painter.drawLine(x, axisY, x, axisY + lh / 3);
        painter.drawText(QRect(x - labelWidth / 2, axisY + lh / 3, labelWidth, lh), Qt::AlignCenter,
                         QDateTime::fromMSecsSinceEpoch(t).toString(format));
    }
}

// A line per run and direction; a run of one or two readings between
// outages is no line to see, so its readings are dots.
void DrawRates(QPainter& painter, const TLineRateLayout& layout)
{
    const int width = 2 * LineWidth(layout.LineHeight);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipRect(layout.Plot.adjusted(-width, -width, width, width));
    for (const bool up : {false, true}) {
        const QColor colour = ToQColor(up ? clGreen : clBlue);
        for (const auto& run : layout.Runs) {
            QPolygonF line;
            for (const TRatePoint& point : run)
                line << QPointF(layout.X(point.TimeMs), layout.Y(up ? point.UpKbps() : point.DownKbps()));
            painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.setBrush(Qt::NoBrush);
            painter.drawPolyline(line);
            if (line.size() < 3) {
                painter.setPen(Qt::NoPen);
                painter.setBrush(colour);
                for (const QPointF& point : line)
                    painter.drawEllipse(point, 2.0 * width, 2.0 * width);
            }
        }
    }
    painter.restore();
}

} // namespace

double TLineRateLayout::X(std::int64_t ms) const
{
    return Plot.left() + double(ms - Ticks.FirstMs) / double(std::max<std::int64_t>(1, Ticks.LastMs - Ticks.FirstMs))
                             * Plot.width();
}

std::int64_t TLineRateLayout::TimeAt(double x) const
{
    return Ticks.FirstMs + std::llround((x - Plot.left()) / std::max(1, Plot.width())
                                        * double(Ticks.LastMs - Ticks.FirstMs));
}

double TLineRateLayout::Y(double kbps) const
{
    return Plot.bottom() + 1 - kbps / RateTop * Plot.height();
}

TLineRateLayout LineRateLayout(const THistoryFigures& figures, const QRect& area, std::int64_t fromMs,
                               std::int64_t toMs, const QFontMetrics& metrics)
{
    TLineRateLayout layout;
    const int lh = metrics.height();
    layout.LineHeight = lh;
    // The title above; below, the time labels and the legend.
    const int margin = RateMarginOf(metrics);
    layout.Plot = QRect(area.left() + margin, area.top() + 2 * lh, std::max(1, area.width() - 2 * margin),
                        std::max(1, area.height() - 2 * lh - lh / 3 - 3 * lh));
    toMs = std::max(toMs, fromMs + 60 * 1000);
    layout.Ticks = RoundTimeTicks(fromMs, toMs, std::max(3, layout.Plot.width() / TimeLabelWidth(metrics) + 1),
                                  LocalOffsetMs(fromMs));
    // More than a point per pixel column cannot be told apart. A pause in
    // sampling is a gap as an outage is, as on the waterfall.
    layout.Runs = RateRuns(figures.TrendPoints(), (toMs - fromMs) / layout.Plot.width(), figures.TrendGapMs());
    double highest = 0;
    double spacing = ZyxelToneSpacingKHz; // the latest line's, for the bits axis
    for (const auto& run : layout.Runs) {
        for (const TRatePoint& point : run) {
            highest = std::max({highest, point.UpKbps(), point.DownKbps()});
            spacing = point.SpacingKHz;
        }
    }
    // Each value axis ticks at round steps of its own, the two ranges the
    // same line rate.
    const double top = std::max(10.0, highest * 1.1);
    layout.RateStep = RoundStep(top / 6);
    layout.RateTop = std::ceil(top / layout.RateStep) * layout.RateStep;
    layout.BitsTop = layout.RateTop / LineRateKbps(1, spacing);
    layout.BitsStep = RoundStep(layout.BitsTop / 6);
    return layout;
}

void PaintLineRate(QPainter& painter, const QRect& area, const THistoryFigures& figures,
                   const TLineRateLayout& layout)
{
    const QRect& plot = layout.Plot;
    const int lh = layout.LineHeight;
    painter.fillRect(area, Qt::white);
    DrawRateAxis(painter, area, layout, true);
    DrawRateAxis(painter, area, layout, false);
    DrawTimeAxis(painter, layout);
    DrawRates(painter, layout);
    painter.setPen(QColor(FrameColor));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot.adjusted(-1, -1, 0, 0));
    QFont bold = painter.font();
    bold.setBold(true);
    painter.save();
    painter.setFont(bold);
    painter.drawText(QRect(area.left(), area.top() + lh / 2, area.width(), lh), Qt::AlignCenter,
                     QStringLiteral("Line rate of each complete reading (bits per symbol × 4,000 symbols/s); "
                                    "gaps: outages"));
    painter.restore();

    // The legend under the time labels: each direction with its tones.
    const QString texts[] = {QStringLiteral("Upstream (tones %1)").arg(BandsText(figures.Bands().Upstream)),
                             QStringLiteral("Downstream (tones %1)").arg(BandsText(figures.Bands().Downstream))};
    const QFontMetrics metrics = painter.fontMetrics();
    const int entry = 2 * lh + std::max(metrics.horizontalAdvance(texts[0]), metrics.horizontalAdvance(texts[1]));
    int x = plot.center().x() - entry;
    const int y = plot.bottom() + 1 + lh / 3 + lh + lh / 2;
    for (int i = 0; i < 2; ++i, x += entry) {
        painter.setPen(QPen(ToQColor(i == 0 ? clGreen : clBlue), 2 * LineWidth(lh)));
        painter.drawLine(x, y + lh / 2, x + lh, y + lh / 2);
        painter.setPen(QColor(FrameColor));
        painter.drawText(QRect(x + lh + lh / 3, y, entry - lh, lh), Qt::AlignLeft | Qt::AlignVCenter, texts[i]);
    }
}

void PaintLineRate(QPainter& painter, const QRect& area, const THistoryFigures& figures, std::int64_t fromMs,
                   std::int64_t toMs)
{
    PaintLineRate(painter, area, figures, LineRateLayout(figures, area, fromMs, toMs, painter.fontMetrics()));
}
