// What a running recorder tells the user's other programs about each router
// it polls: that it polls it, how often, and how its last cycle went. The
// window reads this before it opens a session of its own, and shows the
// recorder's readings instead of asking the router twice.
//
// A notice is a small file per router beside the history
// (<history folder>/recorder/<host>_<port>.notice); the recorder holds a
// shared lock on a companion .live file for as long as it runs, so a notice
// left by a recorder that has ended (or crashed) is seen as such at once.
#pragma once

#include "line/reading.h"

#include <QString>

#include <cstdint>
#include <map>
#include <optional>

struct TRecorderNotice {
    QString Line; // the line's name in the recorder's configuration
    QString Host;
    int Port = 23;
    int IntervalSeconds = 60;
    // The last cycle: when it ended (0 before the first), its outcome and
    // the failure words the window would have shown for it.
    std::int64_t LastTimeMs = 0;
    TReadingOutcome LastOutcome = TReadingOutcome::Unknown;
    QString LastFailure;
};

// The folder the notices of a history file's recorder go into.
QString RecorderNoticeFolder(const QString& historyPath);

// The recorder's side: announces routers and keeps their notices current.
// Used from one thread.
class TRecorderNoticeBoard {
public:
    explicit TRecorderNoticeBoard(QString folder);
    ~TRecorderNoticeBoard(); // the routers are no longer announced
    TRecorderNoticeBoard(const TRecorderNoticeBoard&) = delete;
    TRecorderNoticeBoard& operator=(const TRecorderNoticeBoard&) = delete;

    // Writes the notice, announcing its router on the first call. False when
    // the folder cannot hold it (the recorder records all the same).
    bool Post(const TRecorderNotice& notice);

private:
    QString FFolder;
    std::map<QString, int> FLive; // router file name -> descriptor holding the shared lock
};

// The notice of host:port when a running recorder polls it; none otherwise.
std::optional<TRecorderNotice> ReadRecorderNotice(const QString& folder, const QString& host, int port);
