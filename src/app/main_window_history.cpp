// The main window's way into the History window: one window, made the first
// time it is asked for, fed every reading the window records while it lives.
#include "app/main_window.h"

#include "history/history_window.h"

void TForm1::History1Click()
{
    if (FHistoryWindow == nullptr) {
        FHistoryWindow = new THistoryWindow(*History(), this);
        connect(this, &TForm1::ReadingRecorded, FHistoryWindow, &THistoryWindow::TakeIn);
    }
    FHistoryWindow->show();
    FHistoryWindow->raise();
    FHistoryWindow->activateWindow();
}
