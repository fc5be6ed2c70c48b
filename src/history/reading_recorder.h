// Records readings into a store on a thread of its own, so that a slow or
// busy disk never holds the window that took them: Record returns at once,
// and Recorded or Failed follow on the recorder's own thread, in order. The
// store is opened at the first reading; one that cannot be opened or written
// is off for good, and every later reading fails with the same reason.
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
    // Waits until every reading handed in is stored or has failed, and
    // delivers their Recorded and Failed here and now.
    void Flush();

signals:
    void Recorded(const TReading& reading);
    // The store's ErrorText(): which file, and why.
    void Failed(const QString& errorText);

private:
    // Returns once every call queued to the writer before it has run.
    void WaitForWriter();

    QString FPath;
    QThread* FThread = nullptr; // started by the first reading
    TReadingWriter* FWriter = nullptr; // lives on FThread
};
