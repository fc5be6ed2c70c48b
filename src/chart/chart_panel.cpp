#include "chart/chart_panel.h"

#include <QPaintEvent>
#include <QPainter>

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
