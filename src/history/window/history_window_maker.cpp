#include "history/window/history_window_maker.h"

#include "history/window/history_window.h"

THistoryWindowMade MakeHistoryWindow(const QString& storePath, QWidget* parent, const QString& settingsFile)
{
    auto* window = new THistoryWindow(storePath, parent, settingsFile);
    return {window, [window](const TReading& reading) { window->TakeIn(reading); },
        [window](std::function<void(std::int64_t)> deleteThrough) { window->SetDeleter(std::move(deleteThrough)); },
        [window](std::int64_t timeMs, std::int64_t count) { window->Deleted(timeMs, count); },
        [window](const QString& host) { window->SetHost(host); }};
}
