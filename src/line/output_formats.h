// The ways tirvane-read writes readings: a table for people, CSV for
// spreadsheets, one JSON object a line for scripts, and the Prometheus text
// exposition for a node exporter's text-file collector. QtCore only.
#pragma once

#include "line/reading.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

enum class TOutputFormat { Table, Csv, Json, Prometheus };

// "table", "csv", "json" or "prometheus".
std::optional<TOutputFormat> OutputFormatFromName(const QString& name);

// The tones a reader prints; every format but the Prometheus totals keeps to it.
struct TToneSpan {
    int FirstTone = 0;
    int LastTone = ZyxelToneCount - 1;
};

// Time of a reading as ISO 8601 in UTC with milliseconds ("2026-12-07T11:30:00.000Z").
QString ReadingTimeText(std::int64_t timeMs);

// Per reading: a line naming time, host and whether the dialogue completed,
// then tone, frequency in kHz (as the window's read-out writes it) and bits
// in columns; a blank line between readings.
QByteArray FormatTable(const std::vector<TReading>& readings, TToneSpan span = {});
// A header row ("time,host,completed,tone_0,...") and one row per reading;
// quoting and CR LF line ends as RFC 4180.
QByteArray FormatCsv(const std::vector<TReading>& readings, TToneSpan span = {});
// One object per reading, one line each:
// {"time":"...","time_ms":N,"host":"...","completed":true,"first_tone":0,"bits":[...]}
QByteArray FormatJson(const std::vector<TReading>& readings, TToneSpan span = {});
// The latest reading of each host as gauges: bits per tone (labelled host and
// tone), total bits upstream and downstream, whether it completed, and its time.
QByteArray FormatPrometheus(const std::vector<TReading>& readings, TToneSpan span = {});

QByteArray FormatReadings(TOutputFormat format, const std::vector<TReading>& readings,
    TToneSpan span = {});

// The same texts a reading at a time, for readings read as they are written
// out: what FormatReadings gives for all of them is the concatenation of
// Next for each and Finish (the CSV header comes with the first; its tones
// are those of the first reading's line). Memory stays that of one reading
// (and, for Prometheus, the latest of each host).
class TReadingsWriter {
public:
    TReadingsWriter(TOutputFormat format, TToneSpan span);
    QByteArray Next(const TReading& reading);
    QByteArray Finish();

private:
    TOutputFormat FFormat;
    TToneSpan FSpan;
    TToneSpan FClamped;
    bool FFirst = true;
    std::vector<TReading> FLatest; // per host, for Prometheus
    TBandPlan FBands;              // the band plan FBandsText writes, for JSON
    QByteArray FBandsText;
};
