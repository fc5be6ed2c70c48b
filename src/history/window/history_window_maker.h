// What the main window needs of the History window: the window itself and
// where each newly recorded reading goes. The window opens a store of its own
// on the file the main window records into (the write-ahead log lets several
// connections share it): the module carries its own copy of the store code,
// so no object of one copy is ever handed to the other. The monitor loads the window from a
// module the first time it is asked for, since its views, its report and
// its PDF writing would otherwise be loaded, and paid for, at every start; programs that drive the
// main window in process (tests, tools) link it instead.
#pragma once

#include "line/reading.h"

#include <QString>

#include <functional>

class QWidget;

struct THistoryWindowMade {
    QWidget* Window = nullptr; // owned by the parent given
    std::function<void(const TReading&)> TakeIn;
    // Hands the window's deletes to the writer the main window records
    // through; the writer's answers (time, count; -1: not deleted) go to Deleted.
    std::function<void(std::function<void(std::int64_t)>)> SetDeleter;
    std::function<void(std::int64_t, std::int64_t)> Deleted;
    // Shows the history of a host where it has readings (the one the main
    // window plots); otherwise the window stays on the host it shows.
    std::function<void(const QString&)> ShowHost;
};

// Makes the window; throws std::runtime_error with a sentence for the user
// when it cannot be had.
THistoryWindowMade MakeHistoryWindow(const QString& storePath, QWidget* parent, const QString& settingsFile);

// The module's one entry point, by this name, returns the maker it holds.
using THistoryWindowMaker = THistoryWindowMade (*)(const QString&, QWidget*, const QString&);
inline constexpr char HistoryModuleEntry[] = "TirvaneHistoryWindowMaker";
