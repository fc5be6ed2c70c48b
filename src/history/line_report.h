// The line report: one host's line over a period on A4 pages, to hand to the
// provider. The host and router, the period, the line rate's minimum, median
// and maximum each way, the time in outages and the count of resyncs, the
// line-rate trend, the envelope, the waterfall and the table of events.
// Drawn with QPainter on a QPdfWriter: no widgets, so the History window and
// `tirvane --report` (a scheduled job, without a display) write the same file.
#pragma once

#include "history/line_events.h"
#include "line/reading.h"

#include <QString>

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

// The figures of one host's readings (oldest first) over fromMs to toMs.
TLineReportFigures LineReportFigures(const QString& host, std::int64_t fromMs, std::int64_t toMs,
                                     const std::vector<TReading>& readings);

// Writes the report as a PDF; false with *error set when the file cannot be
// written. At most two pages.
bool WriteLineReport(const QString& path, const QString& host, std::int64_t fromMs, std::int64_t toMs,
                     const std::vector<TReading>& readings, QString* error = nullptr);
