// The main window's way into the History window: one window, made the first
// time it is asked for, fed every reading the window records while it lives.
#include "app/main_window.h"

#include "app/start_options.h"
#include "history/history_window.h"

void TForm1::History1Click()
{
    if (FHistoryWindow == nullptr) {
        // Its place, view and period are remembered with the window's boxes.
        FHistoryWindow = new THistoryWindow(*History(), this, SettingsFilePath());
        connect(this, &TForm1::ReadingRecorded, FHistoryWindow, &THistoryWindow::TakeIn);
    }
    FHistoryWindow->show();
    FHistoryWindow->raise();
    FHistoryWindow->activateWindow();
}
