#include "app/application.h"

#include "app/window_rules.h"

#include <QMessageBox>

#include <exception>

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setApplicationName(QString::fromLatin1(ApplicationTitle));
    setApplicationDisplayName(QString::fromLatin1(ApplicationTitle));
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowException(QString::fromUtf8(error.what()));
    } catch (...) {
        ShowException(QStringLiteral("Unknown error"));
    }
    // The event counts as handled: whatever raised has given up on it.
    return true;
}

void TApplication::ShowException(const QString& text)
{
    const QString shown = WithFullStop(text);
    QMessageBox box(QMessageBox::Critical, applicationDisplayName(), shown, QMessageBox::Ok,
        activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
