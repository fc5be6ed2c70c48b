// The chart panel: a widget that can draw its whole picture into any painter,
// with the switches a picture of it needs (screen buffering, the recording
// flag). The concrete chart derives from it and supplies DrawChart; screen,
// image, SVG and printer all go through the same call. The pictures
// themselves are made in output/chart_pictures.h.
#pragma once

#include "chart/color.h"

#include <QImage>
#include <QRect>
#include <QWidget>

class QPainter;

class TChartPanel : public QWidget {
    Q_OBJECT
public:
    explicit TChartPanel(QWidget* parent = nullptr);
    ~TChartPanel() override;

    // Draws the chart into rect on painter. The one drawing routine.
    virtual void DrawChart(QPainter& painter, const QRect& rect) = 0;

    // The colour behind the plot (the back wall); white in this program.
    virtual TColor BackColor() const = 0;

    // The client rectangle, origin (0, 0), in screen pixels.
    QRect GetChartRectangle() const;

    // Screen paints go through an off-screen buffer while this is on (the
    // default). Switching it off discards the buffer.
    bool BufferedPaint() const { return FBufferedPaint; }
    void SetBufferedPaint(bool on);

    // True while the chart is being drawn for a vector picture.
    bool IsMetafiling() const { return FMetafiling; }

    // Set only while the chart is recorded for a vector picture.
    void SetMetafiling(bool on) { FMetafiling = on; }

protected:
    // Paints the widget through DrawChart, buffered or not.
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    // The buffer is stale: the next screen paint redraws it in full.
    void InvalidateBuffer();

private:
    bool FMetafiling = false;
    bool FBufferedPaint = true;
    QImage FBuffer;
    bool FBufferValid = false;
};
