// The printer set-up dialog: Qt's print dialog used only to pick a printer
// and its settings for the next Print. OK hands the choice to the
// application printer; Cancel changes nothing.
#pragma once

#include <QObject>

class QWidget;
class TPrinter;

class TPrinterSetupDialog : public QObject {
    Q_OBJECT
public:
    TPrinterSetupDialog(TPrinter& printer, QWidget* parent);

    // Shows the dialog on the current printer's settings; true on OK.
    // Throws "There is no default printer currently selected" before any
    // dialog when there is no printer, and "Printing in progress" on OK
    // during a job (the printer stays as it was).
    bool Execute();

private:
    TPrinter& FPrinter;
    QWidget* FParent;
};
