// Records readings into a store on a thread of its own, so that a slow or
// busy disk never holds the window that took them: Record returns at once,
// and Recorded or Failed follow on the recorder's own thread, in order.
// Deleting old readings goes the same way, behind the readings handed in
// before it, so the file has one writer in this program and no window waits
// for a long delete. The store is opened at the first reading or delete; one
// that cannot be opened or written is off for good, and every later reading
// fails with the same reason.
#pragma once

#include "line/reading.h"

#include <QObject>
#include <QString>

class QThread;
class TReadingWriter;

class TReadingRecorder : public QObject {
    Q_OBJECT
public:
    explicit TReadingRecorder(QString path, QObject* parent = nullptr);
    // Stores whatever has been handed in before it returns.
    ~TReadingRecorder() override;

    void Record(const TReading& reading);
    // Deletes every reading taken before timeMs, once every reading handed in
    // before this call is written; the file gives the space back. Deleted
    // answers every call: with the number deleted, with -1 after Failed
    // when the store is off, or with TReadingStore::DeleteBusy.
    void DeleteOlderThan(std::int64_t timeMs);
    // Waits until every reading and delete handed in is done or has failed,
    // and delivers their Recorded, Deleted and Failed here and now.
    void Flush();

signals:
    void Recorded(const TReading& reading);
    // The store's ErrorText(): which file, and why.
    void Failed(const QString& errorText);
    void Deleted(std::int64_t timeMs, std::int64_t count);

private:
    // The writer and its thread, made by the first call that needs them.
    TReadingWriter* Writer();
    // Returns once every call queued to the writer before it has run.
    void WaitForWriter();

    QString FPath;
    QThread* FThread = nullptr; // started by the first reading or delete
    TReadingWriter* FWriter = nullptr; // lives on FThread
};
