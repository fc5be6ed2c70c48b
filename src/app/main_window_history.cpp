// The main window's way into the History window: one window, made the first
// time it is asked for, fed every reading the window records while it lives.
#include "app/main_window.h"

#include "app/start_options.h"
#include "history/window/history_window_maker.h"
#include "history/store/reading_recorder.h"
#include "history/store/reading_store.h"

#include <QLineEdit>
#include <QWidget>

void TForm1::History1Click()
{
    if (FHistoryWindow == nullptr) {
        // The window reads the file the cycles record into. What the writer
        // has not written yet is not waited for (the writer may be converting
        // an old file for seconds): the window takes each reading in as the
        // writer reports it written, also while it reads the file.
        // Its place, view and period are remembered with the window's boxes.
        const THistoryWindowMade made = MakeHistoryWindow(TReadingStore::DefaultPath(), this, SettingsFilePath());
        FHistoryWindow = made.Window;
        connect(this, &TForm1::ReadingRecorded, FHistoryWindow, made.TakeIn);
        // Its deletes go through the writer, behind the readings it is
        // recording, and come back when done.
        TReadingRecorder* recorder = Recorder();
        made.SetDeleter([recorder](std::int64_t before) { recorder->DeleteOlderThan(before); });
        connect(recorder, &TReadingRecorder::Deleted, FHistoryWindow, made.Deleted);
        FShowHostInHistory = made.ShowHost;
    }
    // It opens on the line being plotted.
    const QString host = edHost->text().trimmed();
    if (!host.isEmpty())
        FShowHostInHistory(host);
    FHistoryWindow->show();
    FHistoryWindow->raise();
    FHistoryWindow->activateWindow();
}
