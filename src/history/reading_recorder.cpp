#include "history/reading_recorder.h"

#include "history/reading_store.h"

#include <QCoreApplication>
#include <QThread>

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
        if (!FOpened) {
            FOpened = true;
            FStore.Open(FPath);
        }
        const bool stored = FStore.IsOpen() && FStore.Record(reading);
        // Back to the recorder's thread: its signals are meant to arrive there.
        TReadingRecorder* recorder = &FRecorder;
        if (stored)
            QMetaObject::invokeMethod(recorder, [recorder, reading] { emit recorder->Recorded(reading); },
                Qt::QueuedConnection);
        else
            QMetaObject::invokeMethod(recorder, [recorder, error = FStore.ErrorText()] { emit recorder->Failed(error); },
                Qt::QueuedConnection);
    }

private:
    QString FPath;
    TReadingRecorder& FRecorder;
    TReadingStore FStore;
    bool FOpened = false;
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
    QMetaObject::invokeMethod(FWriter, [] {}, Qt::BlockingQueuedConnection);
    FThread->quit();
    FThread->wait();
    delete FWriter; // the thread has ended: nothing else touches the store
    delete FThread;
}

void TReadingRecorder::Record(const TReading& reading)
{
    if (!FThread) {
        FThread = new QThread;
        FThread->setObjectName(QStringLiteral("history writer"));
        FWriter = new TReadingWriter(FPath, *this);
        FWriter->moveToThread(FThread);
        // Storing a reading can wait a minute without harm; the window and the
        // dialogue with the router cannot. Idle priority runs the writer only on
        // processor time nothing else wants, so even on a single processor a
        // write never preempts the window that handed the reading in.
        FThread->start(QThread::IdlePriority);
    }
    TReadingWriter* writer = FWriter;
    QMetaObject::invokeMethod(writer, [writer, reading] { writer->Write(reading); }, Qt::QueuedConnection);
}

void TReadingRecorder::Flush()
{
    if (!FThread)
        return;
    QMetaObject::invokeMethod(FWriter, [] {}, Qt::BlockingQueuedConnection);
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}
