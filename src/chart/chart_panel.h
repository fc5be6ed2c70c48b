// The chart panel: a widget that can draw its whole picture into any painter,
// and the picture operations built on that one drawing routine (the raster
// snapshot, the vector picture for the clipboard). The concrete chart derives
// from it and supplies DrawChart; screen, image, SVG and printer all go
// through the same call.
#pragma once

#include "chart/color.h"

#include <QImage>
#include <QRect>
#include <QWidget>

#include <memory>

class QPainter;
class TMetafile;

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

    // A new snapshot of the chart as it draws itself on screen: rect's size,
    // white, filled with backColor first when that is not white. Screen
    // buffering is off while it is drawn and restored on every path.
    QImage CreateChartBitmap(TColor backColor, const QRect& rect);

    // Puts the chart on the clipboard as a vector picture, replacing what
    // the clipboard held. Throws "Cannot open clipboard" when it cannot.
    void CopyChartToClipboard(bool enhanced);

    // The chart recorded as a vector picture one pixel smaller than rect in
    // each direction, its frame at the screen's physical pixel size.
    std::unique_ptr<TMetafile> CreateChartMetafile(bool enhanced, const QRect& rect);

    // Draws the chart for a recording: the metafile flag is set and screen
    // buffering off while it draws, both restored on every path.
    void DrawToMetafileCanvas(QPainter& canvas, const QRect& rect);

protected:
    // Paints the widget through DrawChart, buffered or not.
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    // The buffer is stale: the next screen paint redraws it in full.
    void InvalidateBuffer();

    bool FMetafiling = false;

private:
    bool FBufferedPaint = true;
    QImage FBuffer;
    bool FBufferValid = false;
};
