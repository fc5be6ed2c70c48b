// The recorder at work: a worker thread per line, every reading written to
// the line history on the history's own writer thread, the routers it polls
// announced to the user's other programs, and the latest reading of each
// line kept for /metrics. Lives on the main thread; its workers hand their
// readings over through the main thread's event queue.
#pragma once

#include "recorder/recorder_config.h"
#include "recorder/recorder_cycle.h"

#include <QByteArray>
#include <QObject>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

class QThread;
class TLineWorker;
class TReadingRecorder;
class TRecorderNoticeBoard;

class TRecorderService : public QObject {
    Q_OBJECT
public:
    // toneSeries: /metrics also holds every tone's bit load (a series per
    // tone and line: thousands for each VDSL line); otherwise the totals per
    // band stand for them, and the history keeps every tone.
    TRecorderService(TRecorderConfig config, QString historyPath, std::chrono::milliseconds deadline,
        bool toneSeries = false, QObject* parent = nullptr);
    ~TRecorderService() override;

    void Start();
    // Asks every line for no further reading, waits for the readings in hand
    // (each within its cycle's deadline) and writes them all. Blocks.
    void Stop();

    // The Prometheus text exposition of every line's latest reading, labelled
    // with the line's name, and of the recorder's own health.
    QByteArray MetricsText() const;

private:
    struct TFamilyText {
        QByteArray Name;
        QByteArray Header;  // its # HELP and # TYPE lines
        QByteArray Samples; // with the line's label
    };
    struct TLine {
        TRecorderLine Config;
        QThread* Thread = nullptr;
        TLineWorker* Worker = nullptr;
        std::vector<TFamilyText> Latest; // the latest reading's families
        std::uint64_t Taken = 0;
        std::uint64_t Failed = 0;
        std::int64_t LastSuccessMs = 0;
        bool LoginRefused = false;
    };

    void Take(std::size_t index, const TRecorderReading& taken);
    void Announce(const TLine& line, const TRecorderReading* taken);

    std::vector<TLine> FLines;
    QString FHistoryPath;
    std::chrono::milliseconds FDeadline;
    TReadingRecorder* FRecorder = nullptr;
    std::unique_ptr<TRecorderNoticeBoard> FNotices;
    std::int64_t FStartMs = 0;
    bool FToneSeries = false;
    bool FStopped = false;
    bool FStoreErrorShown = false;
};

// The text exposition of `reading` with line="name" as each sample's first
// label, cut into its families (in their order), for exposing many lines'
// readings under one header per family; the bit load per tone only when
// asked for.
std::vector<std::pair<QByteArray, QByteArray>> LabelledFamilies(const QString& line, const TReading& reading,
    bool toneSeries);
