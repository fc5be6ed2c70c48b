#include "output/dialog_placement.h"

#include <QApplication>
#include <QEvent>
#include <QScreen>
#include <QWidget>

QScreen* ActiveMonitor(const QWidget& fallback)
{
    if (const QWidget* active = QApplication::activeWindow())
        if (QScreen* screen = active->screen())
            return screen;
    if (QScreen* screen = fallback.screen())
        return screen;
    return QGuiApplication::primaryScreen();
}

namespace {

// Places the dialog after it has been laid out, that is, when it shows.
class TDialogPlacer : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show)
            if (auto* widget = qobject_cast<QWidget*>(watched))
                if (QScreen* screen = ActiveMonitor(*widget))
                    widget->move(DialogPosition(screen->availableGeometry(), widget->frameGeometry().size()));
        return false;
    }
};

} // namespace

void PlaceOnActiveMonitor(QWidget& dialog)
{
    dialog.installEventFilter(new TDialogPlacer(&dialog));
}

