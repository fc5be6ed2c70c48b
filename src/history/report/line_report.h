// The line report: one host's line over a period on A4 pages, to hand to the
// provider. The host and router, the period, the line rate's minimum, median
// and maximum each way, the time in outages and the count of resyncs, the
// line-rate trend, the envelope, the waterfall and the table of events.
// Drawn with QPainter on a QPdfWriter: no widgets, so the History window and
// `tirvane --report` (a scheduled job, without a display) write the same file.
#pragma once

#include "history/figures/history_figures.h"
#include "history/figures/line_figures_history.h"
#include "events/line_events.h"
#include "line/reading.h"

#include <QString>
#include <QStringList>

class TReadingStore;

#include <array>
#include <atomic>
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
    std::array<int, LineEventKindCount> Counts{}; // events of each kind
    std::int64_t NoReadingMs = 0;                 // cycles that read nothing, apart from outages
    std::vector<TLineEvent> Events;
    // The parts of the period the history file could not give, one a line;
    // the report names them on its first page.
    QStringList Unread;
    // Margin, attenuation, errored seconds a day and retrains, where the
    // router printed them.
    TLineFiguresStats Stats;
};

// One row of the report's table of events: an event, or the tone events of
// one band of tones summed.
struct TReportEventRow {
    TLineEventKind Kind = TLineEventKind::Outage;
    std::int64_t StartMs = 0;
    std::int64_t EndMs = 0;
    bool Ongoing = false;
    std::int64_t DurationMs = 0; // a band's: its events' added up
    QString Figures;
    int Events = 1;
};

struct TReportEventTable {
    std::vector<TReportEventRow> Rows;
    QString Shown; // how many of each kind the rows show
    int Left = 0;  // events not shown
};

// The table of at most `rows` rows: the kinds in order of importance, each
// kind's rows oldest first, tone events last and summed by band, so no event
// is left out for a lesser one; where a kind has more than fit, its longest.
TReportEventTable ReportEventTable(const std::vector<TLineEvent>& events, int rows);

// The report's first lines of figures, what matters first: the time the line
// was down, its outages and resyncs; margin, rate and errors; times without
// readings; tone events.
QStringList ReportSummaryLines(const TLineReportFigures& figures);

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

// Writes the report as a PDF, whole or not at all: an earlier file at path
// stays as it was when anything fails, and *error says what ("path: why",
// one line). Two pages; a third with the line's figures and its SNR, QLN and
// Hlog where the router gave them.
bool WriteLineReport(const QString& path, const QString& host, std::int64_t fromMs, std::int64_t toMs,
                     const std::vector<TReading>& readings, QString* error = nullptr);
// The same from the period's figures and the pictures' (a row a reading, or
// a row a block for a long period).
bool WriteLineReport(const QString& path, const TLineReportFigures& figures, const THistoryFigures& pictures,
                     QString* error = nullptr);
// The report of one host's period straight from the store, read a reading at
// a time, its pictures from the blocks' summaries when the period is long: a
// year is never held whole. Setting *stop (from another thread) ends the
// read: nothing is written then, and the earlier file stays.
bool WriteLineReport(const QString& path, const TReadingStore& store, const QString& host, std::int64_t fromMs,
                     std::int64_t toMs, QString* error = nullptr, const std::atomic<bool>* stop = nullptr);
