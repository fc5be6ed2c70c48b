#include "recorder/line_worker.h"

#include "recorder/login_backoff.h"
#include "recorder/router_turn.h"

#include <QDateTime>
#include <QTimer>

#include <cstdio>
#include <exception>

TLineWorker::TLineWorker(TRecorderLine line, std::chrono::milliseconds deadline, TTaken taken)
    : FLine(std::move(line))
    , FDeadline(deadline)
    , FTaken(std::move(taken))
{
}

void TLineWorker::Start()
{
    FTimer = new QTimer(this);
    FTimer->setSingleShot(true);
    FTimer->setTimerType(Qt::PreciseTimer);
    connect(FTimer, &QTimer::timeout, this, &TLineWorker::Tick);
    FFirst = FNext = TClock::now();
    Arm();
}

void TLineWorker::Stop()
{
    FStopped = true;
    if (FTimer)
        FTimer->stop();
}

void TLineWorker::Arm()
{
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(FNext - TClock::now());
    FTimer->start(std::max<std::chrono::milliseconds::rep>(0, wait.count()));
}

void TLineWorker::Tick()
{
    if (FStopped)
        return;
    // Another of the user's programs in a session with this router finishes
    // it first; the wait is bounded by that session's own deadline.
    const std::optional<TRouterTurn> turn = TRouterTurn::Take(FLine.Host, FLine.Port, TClock::now() + FDeadline);
    TRecorderReading taken;
    if (turn) {
        try {
            taken = TakeRecorderReading(FLine, FDeadline, FPrevious ? &*FPrevious : nullptr);
            FPrevious = taken.Reading;
        } catch (const std::exception& error) {
            // Raised while the session was made or a reply decoded: this
            // reading failed, the line's next one comes as planned.
            taken.Reading = ZyxelReading(QDateTime::currentMSecsSinceEpoch(), FLine.Host);
            taken.Reading.Router = RouterFamilyName(FLine.Router);
            taken.Reading.Outcome = TReadingOutcome::NoAnswer;
            taken.Failure = QString::fromLocal8Bit(error.what());
        }
        FTaken(taken);
    } else {
        // Not a reading of the line: nothing is recorded for this slot.
        std::fprintf(stderr, "tirvane-recorder: line \"%s\": another Tirvane program kept its session with %s open; "
                             "this reading is skipped\n",
            qUtf8Printable(FLine.Name), qUtf8Printable(FLine.Host));
    }

    const auto interval = std::chrono::seconds(FLine.IntervalSeconds);
    if (taken.LoginRefused) {
        ++FRefusedInRow;
        std::fprintf(stderr, "tirvane-recorder: line \"%s\" (%s port %d): %s\n", qUtf8Printable(FLine.Name),
            qUtf8Printable(FLine.Host), FLine.Port, qUtf8Printable(LoginBackoffText(FRefusedInRow)));
        FNext = TClock::now() + LoginBackoff(FRefusedInRow).count() * BackoffMinute();
        FFirst = FNext; // the rhythm starts again from the next try
    } else {
        FRefusedInRow = 0;
        const auto now = TClock::now();
        // The next slot of the rhythm that has not passed yet.
        const auto passed = (now - FFirst) / interval + 1;
        FNext = FFirst + passed * interval;
    }
    if (!FStopped)
        Arm();
}
