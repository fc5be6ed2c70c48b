#include "output/chart_commands.h"

#include "chart/chart_panel.h"
#include "output/jpeg.h"
#include "output/save_picture_dialog.h"
#include "output/chart_pictures.h"

void SaveChartAsJpeg(TChartPanel& chart, TPictureFileChooser& chooser)
{
    TJPEGImage jpeg;
    const QRect rect = chart.GetChartRectangle();
    // Taken before the dialog: a cycle that redraws the chart meanwhile does
    // not change what is saved.
    const QImage snapshot = CreateChartBitmap(chart, chart.BackColor(), rect);
    if (!chooser.Execute())
        return;
    jpeg.Assign(snapshot);
    jpeg.SaveToFile(chooser.FileName());
}

int WindowPixelsPerInch(const QWidget& widget)
{
    return widget.window()->logicalDpiY();
}
