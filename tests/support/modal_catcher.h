// Closes the modal boxes a handler opens and records what they said. It looks
// for QApplication::activeModalWidget() from a short repeating timer, so a
// handler that opens a box is answered from inside that box's own event loop.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QRect>
#include <QTimer>

#include <string>
#include <vector>

struct TModalSeen {
    std::string Title;
    std::string Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QRect Frame; // where the box or dialog stood when it was seen
};

class ModalCatcher {
public:
    ModalCatcher()
    {
        FTimer.setInterval(20);
        QObject::connect(&FTimer, &QTimer::timeout, [this] { CloseActive(); });
        FTimer.start();
    }

    const std::vector<TModalSeen>& Seen() const { return FSeen; }

private:
    void CloseActive()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        TModalSeen seen;
        seen.Title = modal->windowTitle().toStdString();
        seen.Frame = modal->frameGeometry();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen.Text = box->text().toStdString();
            seen.Icon = box->icon();
        }
        FSeen.push_back(seen);
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->done(QDialog::Accepted);
        else
            modal->close();
    }

    QTimer FTimer;
    std::vector<TModalSeen> FSeen;
};
