// Where the common dialogs (the save dialog, the printer set-up dialog)
// appear: on the monitor of the active window, centred across and a third
// of the way down. The arithmetic needs no widget; the placing does.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QScreen;
class QWidget;

// A common dialog is centred horizontally on the monitor and its top placed
// at a third of the height left free, integer arithmetic throughout (a
// dialog taller than the monitor goes up, as the division truncates).
constexpr QPoint DialogPosition(const QRect& monitor, QSize dialog)
{
    return QPoint(monitor.left() + (monitor.width() - dialog.width()) / 2,
                  monitor.top() + (monitor.height() - dialog.height()) / 3);
}

// The monitor of the active window; else the one fallback is on; else the
// primary one.
QScreen* ActiveMonitor(const QWidget& fallback);

// Moves a dialog, each time it shows (that is, once it has been laid out),
// to DialogPosition on the active window's monitor.
void PlaceOnActiveMonitor(QWidget& dialog);
