#include "recorder/recorder_service.h"

#include "history/store/reading_recorder.h"
#include "line/output_formats.h"
#include "recorder/line_worker.h"
#include "recorder/recorder_notice.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QThread>

#include <cstdio>

namespace {

QByteArray LabelValue(const QString& text)
{
    QByteArray value = text.toUtf8();
    value.replace("\\", "\\\\").replace("\"", "\\\"").replace("\n", "\\n");
    return value;
}

QByteArray Seconds(std::int64_t ms)
{
    return QByteArray::number(double(ms) / 1000.0, 'f', 3);
}

} // namespace

std::vector<std::pair<QByteArray, QByteArray>> LabelledFamilies(const QString& line, const TReading& reading,
    bool toneSeries)
{
    // Every tone the line has: the whole reading, as tirvane-read prints it.
    const QByteArray text = FormatPrometheus({reading}, TToneSpan{0, MaxToneCount - 1});
    constexpr char ToneFamily[] = "# HELP tirvane_tone_bit_load ";
    bool skipping = false;
    const QByteArray label = "line=\"" + LabelValue(line) + '"';
    std::vector<std::pair<QByteArray, QByteArray>> families; // header with name first, samples
    qsizetype at = 0;
    while (at < text.size()) {
        qsizetype end = text.indexOf('\n', at);
        if (end < 0)
            end = text.size();
        const QByteArrayView row(text.constData() + at, end - at);
        if (row.startsWith("# HELP ")) {
            skipping = !toneSeries && row.startsWith(ToneFamily);
            if (!skipping)
                families.emplace_back(row.toByteArray() + '\n', QByteArray());
        } else if (skipping) {
            // a sample or comment of the tone family left out
        } else if (row.startsWith('#')) {
            if (!families.empty())
                families.back().first += row.toByteArray() + '\n';
        } else if (!row.isEmpty() && !families.empty()) {
            QByteArray sample = row.toByteArray();
            const qsizetype brace = sample.indexOf('{');
            const qsizetype space = sample.indexOf(' ');
            if (brace >= 0 && brace < space)
                sample.insert(brace + 1, label + (sample.at(brace + 1) == '}' ? "" : ","));
            else
                sample.insert(space, '{' + label + '}');
            families.back().second += sample + '\n';
        }
        at = end + 1;
    }
    return families;
}

TRecorderService::TRecorderService(TRecorderConfig config, QString historyPath, std::chrono::milliseconds deadline,
    bool toneSeries, QObject* parent)
    : QObject(parent)
    , FHistoryPath(std::move(historyPath))
    , FDeadline(deadline)
    , FToneSeries(toneSeries)
{
    for (TRecorderLine& line : config.Lines)
        FLines.emplace_back().Config = std::move(line);
    FRecorder = new TReadingRecorder(FHistoryPath, this);
    connect(FRecorder, &TReadingRecorder::Failed, this, [this](const QString& error) {
        // Said once: the store is off for good, and the recorder goes on
        // serving /metrics so the alert on failed writes can fire.
        if (!FStoreErrorShown)
            std::fprintf(stderr, "tirvane-recorder: %s\n", qUtf8Printable(error));
        FStoreErrorShown = true;
    });
    FNotices = std::make_unique<TRecorderNoticeBoard>(RecorderNoticeFolder(FHistoryPath));
}

TRecorderService::~TRecorderService()
{
    Stop();
}

void TRecorderService::Start()
{
    FStartMs = QDateTime::currentMSecsSinceEpoch();
    for (std::size_t i = 0; i < FLines.size(); ++i) {
        TLine& line = FLines[i];
        Announce(line, nullptr);
        line.Thread = new QThread(this);
        line.Thread->setObjectName(QStringLiteral("line ") + line.Config.Name);
        line.Worker = new TLineWorker(line.Config, FDeadline, [this, i](const TRecorderReading& taken) {
            QMetaObject::invokeMethod(this, [this, i, taken] { Take(i, taken); }, Qt::QueuedConnection);
        });
        line.Worker->moveToThread(line.Thread);
        connect(line.Thread, &QThread::finished, line.Worker, &QObject::deleteLater);
        line.Thread->start();
        TLineWorker* worker = line.Worker;
        QMetaObject::invokeMethod(worker, [worker] { worker->Start(); }, Qt::QueuedConnection);
    }
}

void TRecorderService::Stop()
{
    if (FStopped)
        return;
    FStopped = true;
    for (TLine& line : FLines) {
        if (!line.Thread)
            continue;
        TLineWorker* worker = line.Worker;
        QMetaObject::invokeMethod(worker, [worker] { worker->Stop(); }, Qt::QueuedConnection);
        line.Thread->quit();
    }
    for (TLine& line : FLines)
        if (line.Thread)
            line.Thread->wait();
    // The readings the workers handed over on their way out, then the file.
    QCoreApplication::sendPostedEvents(this);
    FRecorder->Flush();
}

void TRecorderService::Take(std::size_t index, const TRecorderReading& taken)
{
    TLine& line = FLines[index];
    FRecorder->Record(taken.Reading);
    ++line.Taken;
    if (taken.Reading.Completed)
        line.LastSuccessMs = taken.Reading.TimeMs;
    else
        ++line.Failed;
    line.LoginRefused = taken.LoginRefused;
    line.Latest.clear();
    for (auto& [header, samples] : LabelledFamilies(line.Config.Name, taken.Reading, FToneSeries)) {
        const QByteArray name = header.mid(7, header.indexOf(' ', 7) - 7);
        line.Latest.push_back({name, std::move(header), std::move(samples)});
    }
    Announce(line, &taken);
}

void TRecorderService::Announce(const TLine& line, const TRecorderReading* taken)
{
    TRecorderNotice notice;
    notice.Line = line.Config.Name;
    notice.Host = line.Config.Host;
    notice.Port = line.Config.Port;
    notice.IntervalSeconds = line.Config.IntervalSeconds;
    if (taken) {
        notice.LastTimeMs = taken->Reading.TimeMs;
        notice.LastOutcome = taken->Reading.Outcome;
        notice.LastFailure = taken->Failure;
    }
    FNotices->Post(notice);
}

QByteArray TRecorderService::MetricsText() const
{
    QByteArray out;
    out.reserve(64 * 1024);
    // The latest readings, one header per family whatever the lines.
    std::vector<const TFamilyText*> order;
    for (const TLine& line : FLines)
        for (const TFamilyText& family : line.Latest)
            if (std::none_of(order.begin(), order.end(), [&](const TFamilyText* f) { return f->Name == family.Name; }))
                order.push_back(&family);
    for (const TFamilyText* family : order) {
        out += family->Header;
        for (const TLine& line : FLines)
            for (const TFamilyText& own : line.Latest)
                if (own.Name == family->Name)
                    out += own.Samples;
    }

    struct THealth {
        const char* Name;
        const char* Type;
        const char* Help;
        QByteArray (*Value)(const TLine&);
    };
    static const THealth health[] = {
        {"tirvane_recorder_readings_total", "counter", "Readings the recorder took of the line, complete or not.",
            [](const TLine& l) { return QByteArray::number(qulonglong(l.Taken)); }},
        {"tirvane_recorder_failed_readings_total", "counter", "Readings of the line that did not complete.",
            [](const TLine& l) { return QByteArray::number(qulonglong(l.Failed)); }},
        {"tirvane_recorder_last_success_timestamp_seconds", "gauge",
            "Time of the line's last complete reading, seconds since 1970 (UTC); 0 before the first.",
            [](const TLine& l) { return Seconds(l.LastSuccessMs); }},
        {"tirvane_recorder_interval_seconds", "gauge", "The line's configured interval between readings.",
            [](const TLine& l) { return QByteArray::number(l.Config.IntervalSeconds); }},
        {"tirvane_recorder_login_refused", "gauge",
            "1 while the router refuses the login and the recorder waits longer between tries.",
            [](const TLine& l) { return QByteArray(l.LoginRefused ? "1" : "0"); }},
    };
    for (const THealth& family : health) {
        out += QByteArray("# HELP ") + family.Name + ' ' + family.Help + "\n# TYPE " + family.Name + ' ' + family.Type + '\n';
        for (const TLine& line : FLines)
            out += QByteArray(family.Name) + "{line=\"" + LabelValue(line.Config.Name) + "\",host=\""
                + LabelValue(line.Config.Host) + "\"} " + family.Value(line) + '\n';
    }
    out += "# HELP tirvane_recorder_start_time_seconds When the recorder started, seconds since 1970 (UTC).\n"
           "# TYPE tirvane_recorder_start_time_seconds gauge\n"
           "tirvane_recorder_start_time_seconds "
        + Seconds(FStartMs) + '\n';
    return out;
}
