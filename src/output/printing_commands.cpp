#include "output/printing_commands.h"

#include "chart/chart_panel.h"
#include "output/chart_commands.h"
#include "output/chart_pictures.h"
#include "output/printer.h"
#include "output/printer_setup_dialog.h"

#include <QWidget>

void PrintChart(TChartPanel& chart, TPrinter& printer)
{
    const QRect rect = chart.GetChartRectangle();
    const QImage snapshot = CreateChartBitmap(chart, chart.BackColor(), rect);
    PrintSnapshot(printer, snapshot, WindowPixelsPerInch(chart));
}

namespace {

void SetUpPrinter(QWidget* window)
{
    const QString name = QStringLiteral("PrinterSetupDialog1");
    auto* dialog = window->findChild<TPrinterSetupDialog*>(name, Qt::FindDirectChildrenOnly);
    if (!dialog) {
        dialog = new TPrinterSetupDialog(Printer(), window);
        dialog->setObjectName(name);
    }
    dialog->Execute();
}

void PrintOnPrinter(TChartPanel& chart)
{
    PrintChart(chart, Printer());
}

} // namespace

const TPrintingCommands& PrintingCommands()
{
    static const TPrintingCommands commands{&SetUpPrinter, &PrintOnPrinter};
    return commands;
}
