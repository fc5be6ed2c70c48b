#include "history/figures/history_views.h"

#include <QMouseEvent>
#include <QPainter>

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
    : QWidget(parent)
    , FFigures(figures)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(400, 250);
    setMouseTracking(true);
}

void TTrendView::SetSpan(std::int64_t fromMs, std::int64_t toMs)
{
    FFromMs = fromMs;
    FToMs = toMs;
    FiguresChanged();
}

void TTrendView::FiguresChanged()
{
    FLayout.reset();
    update();
}

const TLineRateLayout& TTrendView::Layout() const
{
    if (!FLayout)
        FLayout = LineRateLayout(FFigures, rect(), FFromMs, FToMs, fontMetrics());
    return *FLayout;
}

int TTrendView::RowAt(QPoint point) const
{
    const TLineRateLayout& layout = Layout();
    if (!layout.Plot.contains(point))
        return -1;
    return FFigures.RowNearest(layout.TimeAt(point.x()));
}

void TTrendView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    PaintLineRate(painter, rect(), FFigures, Layout());
}

void TTrendView::resizeEvent(QResizeEvent* event)
{
    FLayout.reset();
    QWidget::resizeEvent(event);
}

void TTrendView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        FLayout.reset();
    QWidget::changeEvent(event);
}

void TTrendView::mouseMoveEvent(QMouseEvent* event)
{
    emit Hovered(RowAt(event->position().toPoint()), -1);
}

void TTrendView::leaveEvent(QEvent*)
{
    emit Hovered(-1, -1);
}
