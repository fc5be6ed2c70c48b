// The History window's views of one period. Each only paints what
// THistoryFigures computed; the window owns the figures and tells the views
// when they changed. Waterfall, envelope and change counts draw themselves
// through one Draw routine over a layout computed from the area and the font;
// the line-rate trend is a chart with a time axis.
#pragma once

#include "history/figures/history_figures.h"

#include <QChartView>
#include <QImage>
#include <QRect>
#include <QWidget>

class QChart;
class QDateTimeAxis;
class QValueAxis;

// Where a tone view's parts go in an area: the plot, and room around it for
// the title, the axes and (in the waterfall) the legend.
struct TToneViewLayout {
    QRect Plot;
    QRect Legend; // empty when the view has none
    int LineHeight = 0;
    int ValueTop = 1; // the value at the plot's top edge
    TToneColumns Columns; // the tones of each pixel column

    // The left edge of a tone's column, and the tone under an x; -1 outside.
    double ToneX(int tone) const;
    int ToneAt(int x) const;
    // The left edge of a drawn column: a pixel each on a binned line, a
    // tone's width otherwise.
    double ColumnX(int column) const;
    // The height of a value above the plot's bottom edge.
    double ValueY(double value) const;
};

// The base of the painted views: a white area drawn by Draw, which saving a
// picture uses too (through QWidget::grab).
class THistoryToneView : public QWidget {
    Q_OBJECT
public:
    explicit THistoryToneView(const THistoryFigures& figures, QWidget* parent = nullptr);

    virtual void Draw(QPainter& painter, const QRect& area) const = 0;
    TToneViewLayout Layout(const QRect& area) const;
    // The figures changed: paint again when next shown.
    virtual void FiguresChanged() { update(); }
    // The reading row and the tone under a point of the widget; -1 where
    // the view has none (the bar views show no single reading).
    virtual std::pair<int, int> CellAt(QPoint point) const;

signals:
    // The pointer is over a cell (row, tone) of the plot, or left it (-1, -1).
    void Hovered(int row, int tone);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    virtual int ValueTop() const { return 1; }
    virtual int LeftMargin(const QFontMetrics& metrics) const;
    virtual int LegendWidth(const QFontMetrics& /*metrics*/) const { return 0; }
    // Title, tone axis and the mark between upstream and downstream tones.
    void DrawFrame(QPainter& painter, const QRect& area, const TToneViewLayout& layout, const QString& title) const;
    // The value axis from 0 to the layout's top, labelled at a step that
    // leaves room between labels.
    void DrawValueAxis(QPainter& painter, const TToneViewLayout& layout, const QString& title) const;
    // Swatches for upstream and downstream bars; returns where the next
    // legend entry goes.
    int DrawToneLegend(QPainter& painter, const TToneViewLayout& layout) const;
    // One bar per column from 0 to the figure's value, in the colour of
    // the direction of the tone whose value it shows.
    void DrawBars(QPainter& painter, const TToneViewLayout& layout, THistoryFigures::TFigure figure) const;
    // The tone a binned column shows in a row (-1: the view has no rows):
    // the hover read-out names it.
    virtual int ShownTone(const TToneColumns& columns, int column, int /*row*/) const
    {
        return columns.FirstTone(column);
    }

    const THistoryFigures& FFigures;
};

class TWaterfallView : public THistoryToneView {
    Q_OBJECT
public:
    using THistoryToneView::THistoryToneView;

    void Draw(QPainter& painter, const QRect& area) const override;
    void FiguresChanged() override;
    // The time span the time axis shows, UTC ms: fromMs at the bottom,
    // toMs at the top.
    void SetSpan(std::int64_t fromMs, std::int64_t toMs);
    // The reading row and tone under a point of the widget; -1 outside, and
    // row -1 where no reading was taken.
    std::pair<int, int> CellAt(QPoint point) const override;
    // Which reading each pixel row of the plot shows, for a plot this high.
    const TWaterfallRows& Rows(int height) const;
    // A time span marked across the plot (an event chosen in the Events
    // view); fromMs > toMs: none.
    void SetMark(std::int64_t fromMs, std::int64_t toMs);
    std::pair<std::int64_t, std::int64_t> Mark() const { return {FMarkFromMs, FMarkToMs}; }
    static constexpr QRgb MarkColor = 0xFFFF2020;

protected:
    int LeftMargin(const QFontMetrics& metrics) const override;
    int LegendWidth(const QFontMetrics& metrics) const override;
    int ShownTone(const TToneColumns& columns, int column, int row) const override;

private:
    std::int64_t FFromMs = 0;
    std::int64_t FToMs = 0;
    std::int64_t FMarkFromMs = 1;
    std::int64_t FMarkToMs = 0;
    // The pixel rows and the scaled waterfall, made again only when the
    // figures, the span or the plot's size changed.
    mutable TWaterfallRows FRows;
    mutable QImage FScaled;
};

class TEnvelopeView : public THistoryToneView {
    Q_OBJECT
public:
    using THistoryToneView::THistoryToneView;
    void Draw(QPainter& painter, const QRect& area) const override;
    static constexpr QRgb MaximumColor = 0xFF000000;
    static constexpr QRgb MinimumColor = 0xFFE00000;

protected:
    int ValueTop() const override { return MaxToneBits; }
    int LegendWidth(const QFontMetrics& metrics) const override;
    int ShownTone(const TToneColumns& columns, int column, int row) const override;
};

class TChangesView : public THistoryToneView {
    Q_OBJECT
public:
    using THistoryToneView::THistoryToneView;
    void Draw(QPainter& painter, const QRect& area) const override;
    static QString Title(int total);

protected:
    int ValueTop() const override;
    int LegendWidth(const QFontMetrics& metrics) const override;
    int ShownTone(const TToneColumns& columns, int column, int row) const override;
};

// The line-rate trend: upstream and downstream rate over time, kbit/s on the
// left and bits per symbol on the right, one line per run of complete
// readings so outages stay gaps.
class TTrendView : public QChartView {
    Q_OBJECT
public:
    explicit TTrendView(const THistoryFigures& figures, QWidget* parent = nullptr);

    // The time span the axis shows, UTC ms.
    void SetSpan(std::int64_t fromMs, std::int64_t toMs);
    void FiguresChanged();

    QChart* Chart() const { return FChart; }
    // The reading row nearest in time to a point of the plot; -1 off it.
    int RowAt(QPoint point) const;

signals:
    // The pointer is near a reading (row, -1), or left the plot (-1, -1).
    void Hovered(int row, int tone);

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    void Rebuild();
    // Round times as many as the width has room for.
    void UpdateTimeAxis();

    const THistoryFigures& FFigures;
    QChart* FChart = nullptr;
    QDateTimeAxis* FTime = nullptr;
    QValueAxis* FRate = nullptr;
    QValueAxis* FBits = nullptr;
    std::int64_t FFromMs = 0;
    std::int64_t FToMs = 0;
    bool FDirty = true;
};
