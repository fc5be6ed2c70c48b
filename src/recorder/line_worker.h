// One line's schedule on a thread of its own: a router that does not answer
// holds only its own line's thread for the cycle's deadline, never another
// line's reading. Readings are counted from the start (every interval from
// the first), a reading that could not start on time is taken at once and
// the missed ones are skipped; after a refused login the line waits as
// login_backoff.h says.
#pragma once

#include "recorder/recorder_config.h"
#include "recorder/recorder_cycle.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <optional>

class QTimer;

class TLineWorker : public QObject {
    Q_OBJECT
public:
    using TClock = std::chrono::steady_clock;
    // Called on the worker's thread with each reading, as soon as it is taken.
    using TTaken = std::function<void(const TRecorderReading&)>;

    TLineWorker(TRecorderLine line, std::chrono::milliseconds deadline, TTaken taken);

    // Both run on the worker's thread (queue them there).
    void Start();
    // No reading after the one in hand, which is handed over first.
    void Stop();

private:
    void Arm();
    void Tick();

    TRecorderLine FLine;
    std::chrono::milliseconds FDeadline;
    TTaken FTaken;
    QTimer* FTimer = nullptr;
    TClock::time_point FFirst;
    TClock::time_point FNext;
    int FRefusedInRow = 0;
    std::optional<TReading> FPrevious; // for QLN and Hlog, read again only after a retrain
    bool FStopped = false;
};
