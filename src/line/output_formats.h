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

// The tones a reader prints; every format but the Prometheus totals keeps to
// it. By default every tone a reading holds; with a range, that range of
// each reading's own line (the upper half of a 4096-tone line is 2048 to
// 4095), whatever the tones given.
struct TToneSpan {
    TToneSpan() = default;
    TToneSpan(int firstTone, int lastTone, std::optional<TRangeChoice> range = std::nullopt)
        : FirstTone(firstTone), LastTone(lastTone), Range(range) {}
    int FirstTone = 0;
    int LastTone = MaxToneCount - 1;
    std::optional<TRangeChoice> Range;
};

// Time of a reading as ISO 8601 in UTC with milliseconds ("2026-12-07T11:30:00.000Z").
QString ReadingTimeText(std::int64_t timeMs);

// Per reading: a line naming time, host and whether the dialogue completed,
// the line's figures and counters where the router printed any, then tone,
// frequency in kHz (as the window's read-out writes it) and bits in columns;
// a blank line between readings.
QByteArray FormatTable(const std::vector<TReading>& readings, TToneSpan span = {});
// A header row ("time,host,completed,tone_0,...") and one row per reading;
// quoting and CR LF line ends as RFC 4180. The values are the quantity's:
// bits, or SNR, QLN or Hlog per tone, empty where not measured. With
// figures, the columns of CsvFigureColumns follow the tones, empty where the
// router printed nothing: a file's columns are the same for every row, so
// they are asked for.
QByteArray FormatCsv(const std::vector<TReading>& readings, TToneSpan span = {},
    TToneQuantity quantity = TToneQuantity::Bits, bool figures = false);
// "downstream_rate_kbps", ..., "retrains", "since_link_s".
QByteArray CsvFigureColumns();
// One object per reading, one line each:
// {"time":"...","time_ms":N,"host":"...","completed":true,"first_tone":0,"bits":[...]}
// and, with only what the router printed, "figures" (state, and per direction
// rate_kbps, attainable_kbps, margin_db, attenuation_db,
// signal_attenuation_db, power_dbm) and "counters" (per direction crc, fec,
// es, ses, uas, bit_swaps; retrains, since_link_s); for the quantities the
// reading has, "snr_db", "qln_dbm_hz", "hlog_db" over the same tones (null
// where not measured) and "group_size".
QByteArray FormatJson(const std::vector<TReading>& readings, TToneSpan span = {});
// The latest reading of each host as gauges: bits per tone (labelled host and
// tone), total bits upstream and downstream, whether it completed, and its
// time; the line's figures as gauges labelled by direction and its counters
// as counters ("..._total"), each only where the router printed it; per
// direction the lowest and the median SNR over the loaded tones.
QByteArray FormatPrometheus(const std::vector<TReading>& readings, TToneSpan span = {});

QByteArray FormatReadings(TOutputFormat format, const std::vector<TReading>& readings,
    TToneSpan span = {}, TToneQuantity quantity = TToneQuantity::Bits, bool figures = false);

// "bits", "snr", "qln" or "hlog", as --quantity names them.
std::optional<TToneQuantity> ToneQuantityFromName(const QString& name);

// A tone's value of a quantity: its group's, in the direction the band plan
// gives the tone; NaN where not measured or in neither direction's bands.
float SpectrumAtTone(const TToneSpectrum& spectrum, const TBandPlan& bands, int tone);

// The same texts a reading at a time, for readings read as they are written
// out: what FormatReadings gives for all of them is the concatenation of
// Next for each and Finish (the CSV header comes with the first; its tones
// are those of the first reading's line). Memory stays that of one reading
// (and, for Prometheus, the latest of each host).
class TReadingsWriter {
public:
    TReadingsWriter(TOutputFormat format, TToneSpan span, TToneQuantity quantity = TToneQuantity::Bits,
        bool figures = false);
    QByteArray Next(const TReading& reading);
    QByteArray Finish();

private:
    TOutputFormat FFormat;
    TToneSpan FSpan;
    TToneSpan FClamped;
    TToneQuantity FQuantity;
    bool FFigures; // the CSV's figure columns
    bool FFirst = true;
    bool FHeader = false;         // the CSV header is out
    std::vector<TReading> FHeld;  // tone-less readings before it
    std::vector<TReading> FLatest; // per host, for Prometheus
    TBandPlan FBands;              // the band plan FBandsText writes, for JSON
    QByteArray FBandsText;
};
