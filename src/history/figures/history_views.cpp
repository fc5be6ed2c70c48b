#include "history/figures/history_views.h"

#include "chart/color.h"

#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace {

// Local time minus UTC at a moment: the axes tick at round local times.
std::int64_t LocalOffsetMs(std::int64_t ms)
{
    return std::int64_t(QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc()) * 1000;
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

} // namespace

THistoryToneView::THistoryToneView(const THistoryFigures& figures, QWidget* parent)
    : QWidget(parent)
    , FFigures(figures)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(400, 250);
    setMouseTracking(true);
}

TToneViewLayout THistoryToneView::Layout(const QRect& area) const
{
    return ToneViewLayout(Picture(), FFigures, area, fontMetrics());
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

void THistoryToneView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    Draw(painter, rect());
}

// --- waterfall ---

void TWaterfallView::FiguresChanged()
{
    FShown.Forget();
    update();
}

void TWaterfallView::SetSpan(std::int64_t fromMs, std::int64_t toMs)
{
    FShown.FromMs = fromMs;
    FShown.ToMs = toMs;
    FiguresChanged();
}

const TWaterfallRows& TWaterfallView::Rows(int height) const
{
    return FShown.RowsFor(FFigures, height);
}

void TWaterfallView::SetMark(std::int64_t fromMs, std::int64_t toMs)
{
    FShown.MarkFromMs = fromMs;
    FShown.MarkToMs = toMs;
    update();
}

void TWaterfallView::Draw(QPainter& painter, const QRect& area) const
{
    PaintWaterfall(painter, area, FFigures, FShown);
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

void TEnvelopeView::Draw(QPainter& painter, const QRect& area) const
{
    PaintEnvelope(painter, area, FFigures);
}

int TEnvelopeView::ShownTone(const TToneColumns& columns, int column, int) const
{
    return FFigures.ColumnValue(THistoryFigures::TFigure::Latest, columns.FirstTone(column), columns.EndTone(column)).first;
}

// --- change counts ---

void TChangesView::Draw(QPainter& painter, const QRect& area) const
{
    PaintChanges(painter, area, FFigures);
}

int TChangesView::ShownTone(const TToneColumns& columns, int column, int) const
{
    return FFigures.ColumnValue(THistoryFigures::TFigure::Changes, columns.FirstTone(column), columns.EndTone(column)).first;
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
