// The help window: a fixed dialog with a few lines of help and an OK button.
// It is made, hidden, the first time the Help menu asks for it and shown
// modally; each showing reuses the same window, placed anew by the main
// window.
#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    QPushButton* Button1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;

public slots:
    // OK: closes the window, which ends its modal showing.
    void Button1Click();
};

// The program's one help window; the main window makes it on first use.
extern TForm2* Form2;
