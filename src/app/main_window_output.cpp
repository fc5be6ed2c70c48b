// The chart's pop-up menu: Save As, Copy to clipboard, Printer setup and
// Print. Thin handlers over the picture-output library, whose printing
// commands come from a module loaded on first use; every error leaves as an
// exception carrying the text the user sees, and the application's error
// handler shows it.
#include "app/main_window.h"

#include "chart/chart.h"
#include "output/chart_commands.h"
#include "output/printing_commands.h"
#include "output/save_picture_dialog.h"
#include "output/chart_pictures.h"

void TForm1::SaveAs1Click()
{
    if (!SavePictureDialog1) {
        SavePictureDialog1 = new TSavePictureDialog(this);
        SavePictureDialog1->setObjectName(QStringLiteral("SavePictureDialog1"));
    }
    SaveChartAsJpeg(*Chart21, *SavePictureDialog1);
}

void TForm1::Copytoclipboard1Click()
{
    CopyChartToClipboard(*Chart21, true);
}

void TForm1::Printersetup1Click()
{
    PrintingCommands().SetUp(this);
}

void TForm1::Print1Click()
{
    PrintingCommands().Print(*Chart21);
}
