// The application object. Its notify() is the program's one default error
// handler: an exception escaping any event or slot is shown in an error box
// titled with the application's title, and the program carries on. Qt never
// sees an exception unwind through its event loop.
#pragma once

#include <QApplication>

#include <exception>
#include <utility>

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows text, full stop rule applied, in a modal error box.
    void ShowException(const QString& text);
};

// Shows the error the way the application's error handling does: in the
// error box titled with the application's title, full stop rule applied.
void HandleException(const std::exception_ptr& error);

// Runs an event handler and hands any error it raises to HandleException
// right here, so no exception ever unwinds through Qt's own frames (which
// are not built to be unwound: their guards would be skipped).
template <typename Handler>
void RunHandler(Handler&& handler)
{
    try {
        std::forward<Handler>(handler)();
    } catch (...) {
        HandleException(std::current_exception());
    }
}
