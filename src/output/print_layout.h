// The arithmetic of putting the chart on paper, kept apart from any widget
// so it can be checked with numbers.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// Whole-number factors from the window's pixels per inch to the printer's:
// the snapshot is enlarged by an exact multiple so every screen pixel becomes
// the same block of dots. A printer coarser than the screen gives 0.
struct TPrintScale {
    int X;
    int Y;
};

constexpr TPrintScale PrintScaleFactors(int printerDpiX, int printerDpiY, int windowDpi)
{
    if (windowDpi <= 0)
        return TPrintScale{0, 0};
    return TPrintScale{printerDpiX / windowDpi, printerDpiY / windowDpi};
}

// Where the snapshot goes on the page: at the printable area's top-left.
constexpr QRect PrintTargetRect(QSize snapshot, TPrintScale scale)
{
    return QRect(0, 0, snapshot.width() * scale.X, snapshot.height() * scale.Y);
}
