#include "chart/chart_panel.h"

#include "output/clipboard.h"
#include "output/metafile.h"

#include <QPaintEvent>
#include <QPainter>

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

} // namespace

TChartPanel::TChartPanel(QWidget* parent) : QWidget(parent)
{
    // The chart paints every pixel itself.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

TChartPanel::~TChartPanel() = default;

QRect TChartPanel::GetChartRectangle() const
{
    return QRect(0, 0, width(), height());
}

void TChartPanel::SetBufferedPaint(bool on)
{
    FBufferedPaint = on;
    InvalidateBuffer();
}

void TChartPanel::InvalidateBuffer()
{
    FBufferValid = false;
    if (!FBufferedPaint)
        FBuffer = QImage();
}

void TChartPanel::resizeEvent(QResizeEvent* event)
{
    InvalidateBuffer();
    QWidget::resizeEvent(event);
}

void TChartPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!FBufferedPaint) {
        DrawChart(painter, GetChartRectangle());
        return;
    }
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = size() * ratio;
    if (!FBufferValid || FBuffer.size() != pixels) {
        FBuffer = QImage(pixels, QImage::Format_RGB32);
        FBuffer.setDevicePixelRatio(ratio);
        FBuffer.fill(Qt::white);
        QPainter bufferPainter(&FBuffer);
        DrawChart(bufferPainter, GetChartRectangle());
        FBufferValid = true;
    }
    painter.drawImage(0, 0, FBuffer);
}

QImage TChartPanel::CreateChartBitmap(TColor backColor, const QRect& rect)
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
        TBufferedPaintOff unbuffered(*this);
        DrawChart(canvas, rect);
    }
    return bitmap;
}

void TChartPanel::CopyChartToClipboard(bool enhanced)
{
    const std::unique_ptr<TMetafile> metafile = CreateChartMetafile(enhanced, GetChartRectangle());
    Clipboard().Assign(*metafile);
}

std::unique_ptr<TMetafile> TChartPanel::CreateChartMetafile(bool enhanced, const QRect& rect)
{
    auto metafile = std::make_unique<TMetafile>();
    metafile->Width = std::max(1, rect.width() - 1);
    metafile->Height = std::max(1, rect.height() - 1);
    metafile->Enhanced = enhanced;
    {
        // The recording is finished when the canvas goes, also after a
        // failed drawing.
        TMetafileCanvas canvas(*metafile, PrimaryScreenMetrics());
        DrawToMetafileCanvas(canvas.Canvas(), rect);
    }
    return metafile;
}

void TChartPanel::DrawToMetafileCanvas(QPainter& canvas, const QRect& rect)
{
    struct TMetafilingFlag {
        bool& Flag;
        explicit TMetafilingFlag(bool& flag) : Flag(flag) { Flag = true; }
        ~TMetafilingFlag() { Flag = false; }
    } metafiling(FMetafiling);
    TBufferedPaintOff unbuffered(*this);
    DrawChart(canvas, rect);
}
