#include "app/shape.h"

#include <QPainter>

TShape::TShape(QWidget* parent)
    : QWidget(parent)
{
}

void TShape::SetBrushColor(const QColor& color)
{
    if (color == FBrushColor)
        return;
    FBrushColor = color;
    update();
}

void TShape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    // The fill covers the whole square; the 1-pixel outline is drawn on its
    // outermost columns and rows.
    painter.fillRect(rect(), FBrushColor);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
