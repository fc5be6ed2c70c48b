// The application object. Its notify() is the program's one default error
// handler: an exception escaping any event or slot is shown in an error box
// titled with the application's title, and the program carries on. Qt never
// sees an exception unwind through its event loop.
#pragma once

#include <QApplication>

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows text, full stop rule applied, in a modal error box.
    void ShowException(const QString& text);
};
