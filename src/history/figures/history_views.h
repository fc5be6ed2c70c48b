// The History window's views of one period. Each only paints what
// THistoryFigures computed; the window owns the figures and tells the views
// when they changed. Waterfall, envelope and change counts draw themselves
// through the pictures' painting routines (history_pictures.h), which the
// line report draws with too, over a layout computed from the area and the
// font; so does the line-rate trend.
#pragma once

#include "history/figures/history_figures.h"
#include "history/figures/history_pictures.h"

#include <QImage>
#include <QRect>
#include <QWidget>

#include <optional>

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
    virtual THistoryPicture Picture() const = 0;
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
    std::pair<std::int64_t, std::int64_t> Mark() const { return {FShown.MarkFromMs, FShown.MarkToMs}; }
    static constexpr QRgb MarkColor = ::MarkColor;

protected:
    THistoryPicture Picture() const override { return THistoryPicture::Waterfall; }
    int ShownTone(const TToneColumns& columns, int column, int row) const override;

private:
    // The span, the mark, and the pixel rows and scaled waterfall, made
    // again only when the figures, the span or the plot's size changed.
    TWaterfallShown FShown;
};

class TEnvelopeView : public THistoryToneView {
    Q_OBJECT
public:
    using THistoryToneView::THistoryToneView;
    void Draw(QPainter& painter, const QRect& area) const override;
    static constexpr QRgb MaximumColor = ::MaximumColor;
    static constexpr QRgb MinimumColor = ::MinimumColor;

protected:
    THistoryPicture Picture() const override { return THistoryPicture::Envelope; }
    int ShownTone(const TToneColumns& columns, int column, int row) const override;
};

class TChangesView : public THistoryToneView {
    Q_OBJECT
public:
    using THistoryToneView::THistoryToneView;
    void Draw(QPainter& painter, const QRect& area) const override;

protected:
    THistoryPicture Picture() const override { return THistoryPicture::Changes; }
    int ShownTone(const TToneColumns& columns, int column, int row) const override;
};

// The line-rate trend: upstream and downstream rate over time, kbit/s on the
// left and bits per symbol on the right, one line per run of complete
// readings so outages stay gaps; painted by the line report's routine.
class TTrendView : public QWidget {
    Q_OBJECT
public:
    explicit TTrendView(const THistoryFigures& figures, QWidget* parent = nullptr);

    // The time span the axis shows, UTC ms.
    void SetSpan(std::int64_t fromMs, std::int64_t toMs);
    void FiguresChanged();

    // The picture's geometry at the view's size, made again only when the
    // figures, the span or the size changed.
    const TLineRateLayout& Layout() const;
    // The reading row nearest in time to a point of the plot; -1 off it.
    int RowAt(QPoint point) const;

signals:
    // The pointer is near a reading (row, -1), or left the plot (-1, -1).
    void Hovered(int row, int tone);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    const THistoryFigures& FFigures;
    std::int64_t FFromMs = 0;
    std::int64_t FToMs = 0;
    mutable std::optional<TLineRateLayout> FLayout;
};
