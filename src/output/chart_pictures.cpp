#include "output/chart_pictures.h"

#include "chart/chart_engine.h"
#include "chart/chart_panel.h"
#include "output/clipboard.h"
#include "output/metafile.h"

#include <QPainter>
#include <QScreen>

#include <algorithm>

namespace {

// Switches screen buffering off for one off-screen drawing and puts it back
// however the drawing ends.
class TBufferedPaintOff {
public:
    explicit TBufferedPaintOff(TChartPanel& chart) : FChart(chart), FWas(chart.BufferedPaint())
    {
        FChart.SetBufferedPaint(false);
    }
    ~TBufferedPaintOff() { FChart.SetBufferedPaint(FWas); }
    TBufferedPaintOff(const TBufferedPaintOff&) = delete;
    TBufferedPaintOff& operator=(const TBufferedPaintOff&) = delete;

private:
    TChartPanel& FChart;
    bool FWas;
};

class TMetafilingOn {
public:
    explicit TMetafilingOn(TChartPanel& chart) : FChart(chart) { FChart.SetMetafiling(true); }
    ~TMetafilingOn() { FChart.SetMetafiling(false); }
    TMetafilingOn(const TMetafilingOn&) = delete;
    TMetafilingOn& operator=(const TMetafilingOn&) = delete;

private:
    TChartPanel& FChart;
};

} // namespace

QImage CreateChartBitmap(TChartPanel& chart, TColor backColor, const QRect& rect)
{
    QImage bitmap(rect.width(), rect.height(), QImage::Format_RGB32);
    bitmap.fill(Qt::white);
    if (bitmap.isNull())
        return bitmap;
    {
        QPainter canvas(&bitmap);
        // Compared as stored: a white chart gets no extra fill.
        if (backColor != clWhite)
            canvas.fillRect(rect, ToQColor(backColor));
        TBufferedPaintOff unbuffered(chart);
        chart.DrawChart(canvas, rect);
    }
    return bitmap;
}

void CopyChartToClipboard(TChartPanel& chart, bool enhanced)
{
    const std::unique_ptr<TMetafile> metafile =
        CreateChartMetafile(chart, enhanced, chart.GetChartRectangle());
    Clipboard().Assign(*metafile);
}

std::unique_ptr<TMetafile> CreateChartMetafile(TChartPanel& chart, bool enhanced, const QRect& rect)
{
    auto metafile = std::make_unique<TMetafile>();
    metafile->Width = std::max(1, rect.width() - 1);
    metafile->Height = std::max(1, rect.height() - 1);
    metafile->Enhanced = enhanced;
    {
        // The recording is finished when the canvas goes, also after a
        // failed drawing.
        TMetafileCanvas canvas(*metafile, ScreenMetrics(chart.screen()));
        DrawToMetafileCanvas(chart, canvas.Canvas(), rect);
    }
    return metafile;
}

void DrawToMetafileCanvas(TChartPanel& chart, QPainter& canvas, const QRect& rect)
{
    TMetafilingOn metafiling(chart);
    TBufferedPaintOff unbuffered(chart);
    chart.DrawChart(canvas, rect);
}

TScreenMetrics ScreenMetrics(const QScreen* screen)
{
    if (screen == nullptr || screen->physicalSize().isEmpty() || screen->size().isEmpty())
        return TScreenMetrics{MulDiv(1024, 254, 960), MulDiv(768, 254, 960), 1024, 768};
    // The chart is drawn in logical pixels, and the screen's size is given
    // in them too: on a screen of pixel ratio 2 a logical pixel covers two
    // device pixels each way, and the picture keeps the size it has there.
    return TScreenMetrics{qRound(screen->physicalSize().width()), qRound(screen->physicalSize().height()),
                          screen->size().width(), screen->size().height()};
}
