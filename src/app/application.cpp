#include "app/application.h"

#include "app/window_rules.h"

#include <QMessageBox>

#include <exception>

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    // The title is the application's name, which applicationDisplayName()
    // returns while no display name is set. A display name would be appended
    // to every window caption on X ("Kestrine Monitor Help — Tirvane").
    setApplicationName(QString::fromLatin1(ApplicationTitle));
}

namespace {

QString ErrorText(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

void ShowErrorBox(const QString& text)
{
    QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(),
        WithFullStop(text), QMessageBox::Ok, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    // The last line of defence: the window's handlers are run through
    // RunHandler and never get here with an error.
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        HandleException(std::current_exception());
    }
    // The event counts as handled: whatever raised has given up on it.
    return true;
}

void TApplication::ShowException(const QString& text)
{
    ShowErrorBox(text);
}

void HandleException(const std::exception_ptr& error)
{
    if (!error)
        return;
    const QString text = ErrorText(error);
    if (auto* application = qobject_cast<TApplication*>(QCoreApplication::instance()))
        application->ShowException(text);
    else
        ShowErrorBox(text);
}
