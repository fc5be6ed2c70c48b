#include "history/report/line_report.h"

#include "history/figures/history_figures.h"
#include "history/figures/history_pictures.h"
#include "history/figures/line_pictures.h"
#include "history/figures/snr_history.h"
#include "history/store/reading_store.h"
#include "output/safe_write.h"

#include <QBuffer>
#include <QDateTime>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <cmath>

namespace {

constexpr int Dpi = 150;
// Parts of the period the file could not give, named one a line.
constexpr int MaxUnreadLines = 6;

QString LocalText(std::int64_t ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

// Minimum, median and maximum of values (sorted in a copy of their own).
std::array<double, 3> Spread(std::vector<double> values)
{
    if (values.empty())
        return {0, 0, 0};
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {values.front(), median, values.back()};
}

QString Kbps(double value)
{
    return QString::number(value, 'f', 0);
}

// The events as a table from y on, as many rows as fit above bottom.
void DrawEvents(QPainter& p, int left, int width, int y, int bottom, const std::vector<TLineEvent>& events)
{
    const int lh = p.fontMetrics().height();
    const int columns[] = {0, 9 * lh, 18 * lh, 27 * lh, 33 * lh};
    const auto row = [&](const QStringList& cells, bool bold) {
        QFont font = p.font();
        font.setBold(bold);
        p.setFont(font);
        for (int i = 0; i < cells.size(); ++i) {
            const int x = left + columns[i];
            const int right = i + 1 < cells.size() ? left + columns[i + 1] : left + width;
            p.drawText(QRect(x, y, right - x - lh / 2, lh), Qt::AlignLeft | Qt::AlignVCenter, cells[i]);
        }
        y += lh;
    };
    p.setPen(Qt::black);
    // Room for the heading, the rows, and the lines of what is shown.
    const TReportEventTable table = ReportEventTable(events, std::max(0, (bottom - y) / lh - 3));
    row({QStringLiteral("Event"), QStringLiteral("Start"), QStringLiteral("End"), QStringLiteral("Duration"),
         QStringLiteral("Figures")},
        true);
    if (events.empty())
        row({QStringLiteral("No events in this period.")}, false);
    for (const TReportEventRow& e : table.Rows)
        row({LineEventKindText(e.Kind), LocalText(e.StartMs), LocalText(e.EndMs) + (e.Ongoing ? QStringLiteral(" +") : QString()),
             DurationText(e.DurationMs), e.Figures},
            false);
    if (!table.Shown.isEmpty())
        row({table.Shown}, false);
    if (table.Left > 0)
        row({QStringLiteral("... and %1 more events (tirvane-read --events lists them all)").arg(table.Left)}, false);
}

// A count and its noun, "1 outage", "3 outages".
QString Counted(int n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

constexpr const char* KindNouns[LineEventKindCount][2] = {
    {"outage", "outages"}, {"resync", "resyncs"}, {"margin low", "margin lows"}, {"rate drop", "rate drops"},
    {"error burst", "error bursts"}, {"time without readings", "times without readings"}, {"tone band", "tone bands"}};

// Tone events summed by band: events whose tones overlap are one band.
std::vector<TReportEventRow> ToneBandRows(const std::vector<TLineEvent>& events)
{
    std::vector<const TLineEvent*> tones;
    for (const TLineEvent& e : events)
        if (e.Kind == TLineEventKind::TonesLostBits)
            tones.push_back(&e);
    std::sort(tones.begin(), tones.end(), [](const TLineEvent* a, const TLineEvent* b) { return a->FirstTone < b->FirstTone; });
    std::vector<TReportEventRow> rows;
    for (std::size_t i = 0; i < tones.size();) {
        int first = tones[i]->FirstTone, last = tones[i]->LastTone, count = 0, most = 0;
        TReportEventRow row;
        row.Kind = TLineEventKind::TonesLostBits;
        row.StartMs = tones[i]->StartMs;
        for (; i < tones.size() && tones[i]->FirstTone <= last; ++i, ++count) {
            const TLineEvent& e = *tones[i];
            last = std::max(last, e.LastTone);
            most = std::max(most, e.MostBitsLost);
            row.StartMs = std::min(row.StartMs, e.StartMs);
            row.EndMs = std::max(row.EndMs, e.EndMs);
            row.Ongoing = row.Ongoing || e.Ongoing;
            row.DurationMs += e.DurationMs();
        }
        row.Events = count;
        row.Figures = QStringLiteral("tones %1-%2: %3, %4 bits lost at most")
                          .arg(first)
                          .arg(last)
                          .arg(count == 1 ? QStringLiteral("1 event") : QStringLiteral("%1 events, all told").arg(count))
                          .arg(most);
        rows.push_back(row);
    }
    return rows;
}

// The report's pages: the figures, the line rate and the envelope on the
// first, the waterfall and the events on the second; the pictures drawn by
// the History window's own routines.
// The margin's and attenuation's least, median and most each way, the
// errored and severely errored seconds of each day, and the retrains the
// router reported; nothing where it printed none of them.
QStringList FiguresSummaryLines(const TLineFiguresStats& stats)
{
    QStringList lines;
    if (!stats.HasFigures())
        return lines;
    const auto spread = [](const TLineFiguresStats::TSpread& s) {
        return s.Known ? QStringLiteral("%1 / %2 / %3").arg(s.Min, 0, 'f', 1).arg(s.Median, 0, 'f', 1).arg(s.Max, 0, 'f', 1)
                       : QStringLiteral("not measured");
    };
    lines << QStringLiteral("SNR margin, dB (least / median / most): downstream %1, upstream %2")
                 .arg(spread(stats.MarginDown()), spread(stats.MarginUp()));
    lines << QStringLiteral("Attenuation, dB (least / median / most): downstream %1, upstream %2")
                 .arg(spread(stats.AttenuationDown()), spread(stats.AttenuationUp()));
    lines << QStringLiteral("Retrains the router reported: %1").arg(stats.Retrains());
    // The last week's days at most: the table of events needs the room.
    QStringList days;
    const auto& all = stats.Days();
    auto it = all.size() > 7 ? std::prev(all.end(), 7) : all.begin();
    for (; it != all.end(); ++it)
        days << QStringLiteral("%1: %2/%3 ES, %4/%5 SES")
                    .arg(QDate(1970, 1, 1).addDays(it->first).toString(QStringLiteral("MM-dd")))
                    .arg(it->second.EsDown)
                    .arg(it->second.EsUp)
                    .arg(it->second.SesDown)
                    .arg(it->second.SesUp);
    if (!days.isEmpty())
        lines << QStringLiteral("Errored seconds a day (down/up): ") + days.join(QStringLiteral("; "));
    return lines;
}

void DrawReport(QPainter& p, QPdfWriter& writer, const TLineReportFigures& f, const THistoryFigures& figures)
{
    const int width = writer.width();
    const int height = writer.height();
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSizeF(9);
    p.setFont(font);
    const int lh = p.fontMetrics().height();
    int y = 0;
    const auto line = [&](const QString& text, bool bold = false, double points = 9) {
        QFont f2 = font;
        f2.setBold(bold);
        f2.setPointSizeF(points);
        p.setFont(f2);
        const int h = p.fontMetrics().height();
        p.drawText(QRect(0, y, width, h), Qt::AlignLeft | Qt::AlignVCenter, text);
        y += h;
        p.setFont(font);
    };

    p.setPen(Qt::black);
    line(QStringLiteral("Line report: %1").arg(f.Host), true, 16);
    line(QStringLiteral("Router: %1%2").arg(f.Router.isEmpty() ? QStringLiteral("unknown") : f.Router,
                                            f.Mode.isEmpty() ? QString() : QStringLiteral(", mode %1").arg(f.Mode)));
    line(QStringLiteral("Period: %1 to %2 (local time), %3 readings, %4 complete")
             .arg(LocalText(f.FromMs), LocalText(f.ToMs))
             .arg(f.Readings)
             .arg(f.CompleteReadings));
    line(QStringLiteral("Written %1 by Tirvane").arg(LocalText(QDateTime::currentMSecsSinceEpoch())));
    // What the history file could not give is said before any figure, so
    // no reader takes a gap in the figures for a quiet line.
    if (!f.Unread.isEmpty()) {
        p.setPen(QColor::fromRgb(0xFFC00000));
        line(QStringLiteral("Not in this report, for the history file could not be read there:"), true);
        const int shown = std::min<int>(int(f.Unread.size()), MaxUnreadLines);
        for (int i = 0; i < shown; ++i)
            line(f.Unread[i]);
        if (shown < int(f.Unread.size()))
            line(QStringLiteral("... and %1 more").arg(f.Unread.size() - shown));
        p.setPen(Qt::black);
    }
    y += lh / 2;
    const int c1 = 14 * lh, c2 = 20 * lh, c3 = 26 * lh;
    const auto rateRow = [&](const QString& name, const QString& a, const QString& b, const QString& c, bool bold) {
        QFont f2 = font;
        f2.setBold(bold);
        p.setFont(f2);
        p.drawText(QRect(0, y, c1, lh), Qt::AlignLeft | Qt::AlignVCenter, name);
        p.drawText(QRect(c1, y, c2 - c1, lh), Qt::AlignRight | Qt::AlignVCenter, a);
        p.drawText(QRect(c2, y, c3 - c2, lh), Qt::AlignRight | Qt::AlignVCenter, b);
        p.drawText(QRect(c3, y, 6 * lh, lh), Qt::AlignRight | Qt::AlignVCenter, c);
        y += lh;
        p.setFont(font);
    };
    rateRow(QStringLiteral("Line rate, kbit/s"), QStringLiteral("minimum"), QStringLiteral("median"),
            QStringLiteral("maximum"), true);
    rateRow(QStringLiteral("Downstream"), Kbps(f.DownMin), Kbps(f.DownMedian), Kbps(f.DownMax), false);
    rateRow(QStringLiteral("Upstream"), Kbps(f.UpMin), Kbps(f.UpMedian), Kbps(f.UpMax), false);
    y += lh / 2;
    for (const QString& text : ReportSummaryLines(f))
        line(text);
    for (const QString& text : FiguresSummaryLines(f.Stats))
        line(text);
    y += lh;

    const int trendHeight = (height - y) * 4 / 10;
    PaintLineRate(p, QRect(0, y, width, trendHeight), figures, f.FromMs, f.ToMs);
    y += trendHeight + lh;
    PaintEnvelope(p, QRect(0, y, width, height - y), figures);

    writer.newPage();
    p.setFont(font);
    const int waterfallHeight = height * 60 / 100;
    TWaterfallShown shown;
    shown.FromMs = f.FromMs;
    shown.ToMs = f.ToMs;
    PaintWaterfall(p, QRect(0, 0, width, waterfallHeight), figures, shown);
    p.setPen(Qt::black);
    DrawEvents(p, 0, width, waterfallHeight + lh, height, f.Events);

    // The line's figures over the period and its SNR, QLN and Hlog, drawn as
    // the History window draws them; a line that gave none has no such page.
    if (!figures.LineFigures().HasFigures() && !figures.Snr().HasSnr())
        return;
    writer.newPage();
    p.setFont(font);
    const int half = height / 2;
    PaintLineFigures(p, LineFiguresLayout(QRect(0, 0, width, half), p.fontMetrics(), f.FromMs, f.ToMs),
        figures.LineFigures());
    PaintSnrEnvelope(p, QRect(0, half, width, height / 4), figures.Snr());
    PaintTraining(p, QRect(0, half + height / 4, width, height - half - height / 4), figures.Snr());
}

} // namespace

TReportEventTable ReportEventTable(const std::vector<TLineEvent>& events, int rows)
{
    std::array<std::vector<TReportEventRow>, LineEventKindCount> kinds;
    for (const TLineEvent& e : events)
        if (e.Kind != TLineEventKind::TonesLostBits)
            kinds[std::size_t(e.Kind)].push_back({e.Kind, e.StartMs, e.EndMs, e.Ongoing, e.DurationMs(), e.FiguresText()});
    kinds[std::size_t(TLineEventKind::TonesLostBits)] = ToneBandRows(events);

    TReportEventTable table;
    int room = rows;
    for (int k = 0; k < LineEventKindCount; ++k) {
        std::vector<TReportEventRow>& all = kinds[std::size_t(k)];
        if (all.empty())
            continue;
        const std::size_t fit = std::min(all.size(), std::size_t(std::max(room, 0)));
        if (fit < all.size()) {
            // The longest of the kind, then in time order again.
            std::stable_sort(all.begin(), all.end(),
                [](const TReportEventRow& a, const TReportEventRow& b) { return a.DurationMs > b.DurationMs; });
            all.resize(fit);
        }
        std::stable_sort(all.begin(), all.end(),
            [](const TReportEventRow& a, const TReportEventRow& b) { return a.StartMs < b.StartMs; });
        room -= int(fit);
        table.Rows.insert(table.Rows.end(), all.begin(), all.end());
    }
    // Counted from the events themselves: a kind cut short says so.
    std::array<int, LineEventKindCount> counts{}, rowsOf{}, bandsOf{};
    for (const TLineEvent& e : events)
        ++counts[std::size_t(e.Kind)];
    bandsOf[std::size_t(TLineEventKind::TonesLostBits)] = int(ToneBandRows(events).size());
    int represented = 0;
    for (const TReportEventRow& row : table.Rows) {
        ++rowsOf[std::size_t(row.Kind)];
        represented += row.Events;
    }
    QStringList shown;
    for (int k = 0; k < LineEventKindCount; ++k) {
        const bool tone = k == int(TLineEventKind::TonesLostBits);
        const int total = tone ? bandsOf[std::size_t(k)] : counts[std::size_t(k)];
        if (total > 0)
            shown << QStringLiteral("%1 of %2").arg(rowsOf[std::size_t(k)]).arg(Counted(total, KindNouns[k][0], KindNouns[k][1]))
                    + (tone ? QStringLiteral(" (%1)").arg(Counted(counts[std::size_t(k)], "event", "events")) : QString());
    }
    if (!shown.isEmpty())
        table.Shown = QStringLiteral("Shown: ") + shown.join(QStringLiteral(", "));
    table.Left = int(events.size()) - represented;
    return table;
}

QStringList ReportSummaryLines(const TLineReportFigures& f)
{
    const auto count = [&](TLineEventKind kind) { return f.Counts[std::size_t(kind)]; };
    QStringList lines;
    lines << QStringLiteral("Time in outages: %1 (%2)    Resyncs: %3")
                 .arg(DurationText(f.OutageMs), Counted(f.Outages, "outage", "outages"))
                 .arg(f.Resyncs);
    lines << QStringLiteral("Margin low: %1    Rate drops: %2    Error bursts: %3")
                 .arg(count(TLineEventKind::MarginLow))
                 .arg(count(TLineEventKind::RateDrop))
                 .arg(count(TLineEventKind::ErrorBurst));
    lines << QStringLiteral("No reading (the router did not answer or refused the login; not outages): %1 (%2)")
                 .arg(DurationText(f.NoReadingMs), Counted(count(TLineEventKind::NoReading), "time", "times"));
    lines << QStringLiteral("Tone events: %1 in %2")
                 .arg(count(TLineEventKind::TonesLostBits))
                 .arg(Counted(int(ToneBandRows(f.Events).size()), "band", "bands"));
    return lines;
}

TLineReportCollector::TLineReportCollector(const QString& host, std::int64_t fromMs, std::int64_t toMs)
{
    F.Host = host;
    F.FromMs = fromMs;
    F.ToMs = toMs;
    // Days as the reader of the report counts them.
    F.Stats = TLineFiguresStats(std::int64_t(QDateTime::fromMSecsSinceEpoch(fromMs).offsetFromUtc()) * 1000);
}

void TLineReportCollector::Add(const TReading& r)
{
    ++F.Readings;
    if (F.Router.isEmpty())
        F.Router = r.Router;
    if (!r.Mode.isEmpty())
        F.Mode = r.Mode;
    FEvents.Add(r);
    F.Stats.Add(r);
    if (!r.Completed)
        return;
    ++F.CompleteReadings;
    FUp.push_back(UpstreamKbps(r));
    FDown.push_back(DownstreamKbps(r));
}

TLineReportFigures TLineReportCollector::Figures() const
{
    TLineReportFigures f = F;
    const auto u = Spread(FUp);
    const auto d = Spread(FDown);
    f.UpMin = u[0], f.UpMedian = u[1], f.UpMax = u[2];
    f.DownMin = d[0], f.DownMedian = d[1], f.DownMax = d[2];
    f.Events = FEvents.Events();
    for (const TLineEvent& e : f.Events) {
        ++f.Counts[std::size_t(e.Kind)];
        if (e.Kind == TLineEventKind::Outage)
            f.OutageMs += e.DurationMs();
        else if (e.Kind == TLineEventKind::NoReading)
            f.NoReadingMs += e.DurationMs();
    }
    f.Outages = f.Counts[std::size_t(TLineEventKind::Outage)];
    f.Resyncs = f.Counts[std::size_t(TLineEventKind::Resync)];
    return f;
}

TLineReportFigures LineReportFigures(const QString& host, std::int64_t fromMs, std::int64_t toMs,
                                     const std::vector<TReading>& readings)
{
    TLineReportCollector collector(host, fromMs, toMs);
    for (const TReading& r : readings)
        collector.Add(r);
    return collector.Figures();
}

bool WriteLineReport(const QString& path, const QString& host, std::int64_t fromMs, std::int64_t toMs,
                     const std::vector<TReading>& readings, QString* error)
{
    THistoryFigures figures;
    figures.Reset(readings);
    return WriteLineReport(path, LineReportFigures(host, fromMs, toMs, readings), figures, error);
}

bool WriteLineReport(const QString& path, const TReadingStore& store, const QString& host, std::int64_t fromMs,
                     std::int64_t toMs, QString* error, const std::atomic<bool>* stop)
{
    const auto going = [stop] { return stop == nullptr || !stop->load(); };
    TLineReportCollector collector(host, fromMs, toMs);
    THistoryFigures pictures;
    const bool summarise = store.CountBetween(fromMs, toMs, host) > THistoryFigures::SummariseAbove;
    const TReadResult read = store.ReadEach(fromMs, toMs, host, [&](const TReading& reading) {
        collector.Add(reading);
        if (!summarise)
            pictures.Add(reading);
        return going();
    });
    if (summarise && going())
        store.ReadSummaries(fromMs, toMs, host, [&](const QString&, const TBlockSummary& summary) {
            pictures.Add(summary);
            return going();
        });
    if (!going()) {
        if (error)
            *error = QStringLiteral("%1: stopped before it was written").arg(path);
        return false;
    }
    TLineReportFigures figures = collector.Figures();
    if (!read.Complete())
        figures.Unread = read.Text().split(QLatin1Char('\n'));
    return WriteLineReport(path, figures, pictures, error);
}

bool WriteLineReport(const QString& path, const TLineReportFigures& f, const THistoryFigures& figures, QString* error)
{
    const auto fail = [&](const QString& reason) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, reason);
        return false;
    };
    // Written whole or not at all (a report written earlier stays whole
    // when anything fails). The pages are drawn in memory first, for the
    // PDF writer does not look at what its writes returned.
    QByteArray pdf;
    {
        QBuffer buffer(&pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setResolution(Dpi);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter));
        writer.setTitle(QStringLiteral("Line report: %1").arg(f.Host));
        writer.setCreator(QStringLiteral("Tirvane"));
        QPainter p;
        if (!p.begin(&writer))
            return fail(QStringLiteral("the PDF could not be started"));
        DrawReport(p, writer, f, figures);
        if (!p.end())
            return fail(QStringLiteral("the PDF could not be finished"));
    }
    QString reason;
    if (!WriteFileWhole(path, pdf, &reason))
        return fail(reason);
    return true;
}
