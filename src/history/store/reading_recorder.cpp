#include "history/store/reading_recorder.h"

#include "history/store/reading_store.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <condition_variable>
#include <mutex>

namespace {

// A queued call reaches the other thread through Qt's event queue. Its
// locks order the call after everything its sender did before queueing it,
// the making of the call itself included, but the thread sanitizer cannot
// see them while Qt is not built with it. In that build this lock states the
// same order where the checker sees it: held while a call is queued, passed
// through by the call before it touches anything, never held while waiting.
// Other builds leave it out: the window must never wait for a lock the
// writer's thread holds.
#if defined(__SANITIZE_THREAD__)
#define TIRVANE_SHOW_HAND_OVERS 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TIRVANE_SHOW_HAND_OVERS 1
#endif
#endif

#ifdef TIRVANE_SHOW_HAND_OVERS
std::mutex HandOver;

template <typename Call>
void Queue(QObject* to, Call call)
{
    const std::lock_guard<std::mutex> queueing(HandOver);
    QMetaObject::invokeMethod(to, std::move(call), Qt::QueuedConnection);
}

void PassHandOver()
{
    const std::lock_guard<std::mutex> passing(HandOver);
}
#else
template <typename Call>
void Queue(QObject* to, Call call)
{
    QMetaObject::invokeMethod(to, std::move(call), Qt::QueuedConnection);
}

void PassHandOver() {}
#endif

} // namespace

// The writer's side: owns the store and is only ever used on the thread.
class TReadingWriter : public QObject {
public:
    TReadingWriter(QString path, TReadingRecorder& recorder)
        : FPath(std::move(path))
        , FRecorder(recorder)
    {
    }

    void Write(const TReading& reading)
    {
        OpenOnce();
        std::vector<TReading> written;
        Report(FStore.IsOpen() ? FStore.Write(reading, &written) : TRecordResult::Off, written);
    }

    void Delete(std::int64_t timeMs)
    {
        OpenOnce();
        // Readings held while the file was busy were handed in before this
        // delete: they go first, so that those older than the time go with it.
        TRecordResult result = FStore.IsOpen() ? TRecordResult::Written : TRecordResult::Off;
        std::vector<TReading> written;
        if (result == TRecordResult::Written && FStore.HeldCount() > 0)
            result = FStore.WriteHeld(&written);
        std::int64_t count = -1;
        if (result != TRecordResult::Off) {
            count = FStore.DeleteOlderThan(timeMs);
            if (!FStore.IsOpen()) {
                result = TRecordResult::Off;
                count = -1;
            }
        }
        Report(result, written);
        TReadingRecorder* recorder = &FRecorder;
        Queue(recorder, [recorder, timeMs, count] {
            PassHandOver();
            emit recorder->Deleted(timeMs, count);
        });
    }

    // Readings held while another program kept the file busy go with the
    // next one, or with this retry when no next one comes.
    void Retry()
    {
        FRetrying = false;
        std::vector<TReading> written;
        if (FStore.HeldCount() > 0)
            Report(FStore.WriteHeld(&written), written);
    }

private:
    void Report(TRecordResult result, const std::vector<TReading>& written)
    {
        // Back to the recorder's thread: its signals are meant to arrive there.
        TReadingRecorder* recorder = &FRecorder;
        for (const TReading& stored : written)
            Queue(recorder, [recorder, stored] {
                PassHandOver();
                emit recorder->Recorded(stored);
            });
        if (result == TRecordResult::Off)
            Queue(recorder, [recorder, error = FStore.ErrorText()] {
                PassHandOver();
                emit recorder->Failed(error);
            });
        if (result == TRecordResult::Held && !FRetrying) {
            FRetrying = true;
            QTimer::singleShot(RetryMs, this, [this] { Retry(); });
        }
    }

public:
    static constexpr int RetryMs = 1000;
    // Called on the thread before it ends: one last try for what is held.
    void Finish() { Retry(); }

private:
    void OpenOnce()
    {
        if (!FOpened) {
            FOpened = true;
            FStore.Open(FPath);
        }
    }

    QString FPath;
    TReadingRecorder& FRecorder;
    TReadingStore FStore;
    bool FOpened = false;
    bool FRetrying = false;
};

TReadingRecorder::TReadingRecorder(QString path, QObject* parent)
    : QObject(parent)
    , FPath(std::move(path))
{
}

TReadingRecorder::~TReadingRecorder()
{
    if (!FThread)
        return;
    // Calls queued to one thread run in order: once this empty one has run,
    // every reading handed in before it has been written.
    TReadingWriter* writer = FWriter;
    Queue(writer, [writer] {
        PassHandOver();
        writer->Finish();
    });
    WaitForWriter();
    FThread->quit();
    FThread->wait();
    delete FWriter; // the thread has ended: nothing else touches the store
    delete FThread;
}

TReadingWriter* TReadingRecorder::Writer()
{
    if (!FThread) {
        FThread = new QThread;
        FThread->setObjectName(QStringLiteral("history writer"));
        FWriter = new TReadingWriter(FPath, *this);
        FWriter->moveToThread(FThread);
        // Normal priority: at idle priority a busy machine could starve the
        // writer while it holds the file's write lock, and every other
        // program writing the history would wait on it. The window never
        // waits for the writer, so it loses nothing by sharing the processor.
        FThread->start(QThread::NormalPriority);
    }
    return FWriter;
}

void TReadingRecorder::Record(const TReading& reading)
{
    TReadingWriter* writer = Writer();
    Queue(writer, [writer, reading] {
        PassHandOver();
        writer->Write(reading);
    });
}

void TReadingRecorder::DeleteOlderThan(std::int64_t timeMs)
{
    // Queued behind the readings handed in before it: calls queued to one
    // thread run in order.
    TReadingWriter* writer = Writer();
    Queue(writer, [writer, timeMs] {
        PassHandOver();
        writer->Delete(timeMs);
    });
}

void TReadingRecorder::Flush()
{
    if (!FThread)
        return;
    WaitForWriter();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void TReadingRecorder::WaitForWriter()
{
    // Not Qt's blocking call: the thread sanitizer could not see its wait
    // end either, and the call would be freed here after the writer read it.
    struct {
        std::mutex Mutex;
        std::condition_variable Ended;
        bool Ran = false;
    } done;
    Queue(FWriter, [&done] {
        PassHandOver();
        // Told while the lock is held: once it is let go, done may be gone.
        const std::lock_guard<std::mutex> telling(done.Mutex);
        done.Ran = true;
        done.Ended.notify_one();
    });
    std::unique_lock<std::mutex> waiting(done.Mutex);
    done.Ended.wait(waiting, [&done] { return done.Ran; });
}
