#include "history/history_window_maker.h"

#include "history/history_window.h"

THistoryWindowMade MakeHistoryWindow(TReadingStore& store, QWidget* parent, const QString& settingsFile)
{
    auto* window = new THistoryWindow(store, parent, settingsFile);
    return {window, [window](const TReading& reading) { window->TakeIn(reading); }};
}
