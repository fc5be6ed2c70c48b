#include "output/printer_setup_dialog.h"

#include "output/dialog_placement.h"
#include "output/printer.h"

#include <QPrintDialog>
#include <QPrinter>

TPrinterSetupDialog::TPrinterSetupDialog(TPrinter& printer, QWidget* parent)
    : QObject(parent), FPrinter(printer), FParent(parent)
{
}

bool TPrinterSetupDialog::Execute()
{
    // The dialog works on a copy, so Cancel leaves the printer untouched.
    QPrinter scratch(QPrinter::HighResolution);
    ApplySettings(FPrinter.Current(), scratch);
    QPrintDialog dialog(&scratch, FParent);
    // Only the choice of printer and its properties: nothing to print yet.
    dialog.setOptions(QAbstractPrintDialog::PrintShowPageSize);
    dialog.setWindowModality(Qt::ApplicationModal);
    PlaceOnActiveMonitor(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    FPrinter.SetPrinter(SettingsFromQPrinter(scratch));
    return true;
}
