// The line report: one host's line over a period on A4 pages, to hand to the
// provider. The host and router, the period, the line rate's minimum, median
// and maximum each way, the time in outages and the count of resyncs, the
// line-rate trend, the envelope, the waterfall and the table of events.
// Drawn with QPainter on a QPdfWriter: no widgets, so the History window and
// `tirvane --report` (a scheduled job, without a display) write the same file.
#pragma once

#include "history/figures/history_figures.h"
#include "events/line_events.h"
#include "line/reading.h"

#include <QString>

class TReadingStore;

#include <cstdint>
#include <vector>

// The report's figures, apart from its pictures.
struct TLineReportFigures {
    QString Host;
    QString Router;
    QString Mode;
    std::int64_t FromMs = 0;
    std::int64_t ToMs = 0;
    int Readings = 0;
    int CompleteReadings = 0;
    // kbit/s over the complete readings; all 0 without any.
    double UpMin = 0, UpMedian = 0, UpMax = 0;
    double DownMin = 0, DownMedian = 0, DownMax = 0;
    std::int64_t OutageMs = 0;
    int Outages = 0;
    int Resyncs = 0;
    std::vector<TLineEvent> Events;
};

// The figures of one host's period taken in a reading at a time, oldest
// first, so a long period is never held whole.
class TLineReportCollector {
public:
    TLineReportCollector(const QString& host, std::int64_t fromMs, std::int64_t toMs);
    void Add(const TReading& reading);
    TLineReportFigures Figures() const;

private:
    TLineReportFigures F;
    std::vector<double> FUp, FDown; // kbit/s of each complete reading
    TLineEventCollector FEvents;
};

// The figures of one host's readings (oldest first) over fromMs to toMs.
TLineReportFigures LineReportFigures(const QString& host, std::int64_t fromMs, std::int64_t toMs,
                                     const std::vector<TReading>& readings);

// Writes the report as a PDF; false with *error set when the file cannot be
// written. At most two pages.
bool WriteLineReport(const QString& path, const QString& host, std::int64_t fromMs, std::int64_t toMs,
                     const std::vector<TReading>& readings, QString* error = nullptr);
// The same from the period's figures and the pictures' (a row a reading, or
// a row a block for a long period).
bool WriteLineReport(const QString& path, const TLineReportFigures& figures, const THistoryFigures& pictures,
                     QString* error = nullptr);
// The report of one host's period straight from the store, read a reading at
// a time, its pictures from the blocks' summaries when the period is long: a
// year is never held whole.
bool WriteLineReport(const QString& path, const TReadingStore& store, const QString& host, std::int64_t fromMs,
                     std::int64_t toMs, QString* error = nullptr);
