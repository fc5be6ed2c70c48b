#include "history/line_report.h"

#include "history/history_figures.h"
#include "history/reading_store.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>

#include <algorithm>
#include <cmath>

namespace {

constexpr int Dpi = 150;

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

// A plot's frame, its title above and the value axis' ticks on the left.
void DrawPlotFrame(QPainter& p, const QRect& plot, const QString& title, double top, const QString& unit)
{
    const int lh = p.fontMetrics().height();
    p.setPen(Qt::black);
    p.setBrush(Qt::NoBrush);
    p.drawText(QRect(plot.left(), plot.top() - lh - lh / 4, plot.width(), lh), Qt::AlignLeft | Qt::AlignBottom, title);
    p.drawRect(plot.adjusted(0, 0, -1, -1));
    if (top <= 0)
        return;
    const double step = RoundStep(top / 4);
    for (double v = 0; v <= top + step / 1000; v += step) {
        const int y = plot.bottom() - int(std::lround(v / top * plot.height()));
        p.drawLine(plot.left() - lh / 3, y, plot.left(), y);
        p.drawText(QRect(0, y - lh / 2, plot.left() - lh / 2, lh), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(v));
    }
    p.save();
    p.translate(lh / 4, plot.center().y());
    p.rotate(-90);
    p.drawText(QRect(-plot.height() / 2, 0, plot.height(), lh), Qt::AlignCenter, unit);
    p.restore();
}

// Tones along the bottom of a tone plot.
void DrawToneAxis(QPainter& p, const QRect& plot, int toneCount)
{
    const int lh = p.fontMetrics().height();
    p.setPen(Qt::black);
    for (int tone = 0; tone < toneCount; tone += 64) {
        const int x = plot.left() + int(double(tone) / toneCount * plot.width());
        p.drawLine(x, plot.bottom(), x, plot.bottom() + lh / 3);
        p.drawText(QRect(x - 2 * lh, plot.bottom() + lh / 3, 4 * lh, lh), Qt::AlignCenter, QString::number(tone));
    }
    p.drawText(QRect(plot.left(), plot.bottom() + lh + lh / 3, plot.width(), lh), Qt::AlignCenter,
               QStringLiteral("Tone"));
}

// Times along the bottom of the trend, or the left of the waterfall.
void DrawTimeTicks(QPainter& p, const QRect& plot, std::int64_t fromMs, std::int64_t toMs, bool vertical)
{
    const int lh = p.fontMetrics().height();
    const int room = vertical ? plot.height() / (3 * lh) : plot.width() / (9 * lh);
    const std::int64_t offset = QDateTime::fromMSecsSinceEpoch(fromMs).offsetFromUtc() * 1000LL;
    const TTimeTicks ticks = RoundTimeTicks(fromMs, toMs, std::max(2, room), offset);
    const bool days = ticks.StepMs >= 24LL * 3600 * 1000;
    for (std::int64_t t = ticks.FirstMs; t <= ticks.LastMs; t += ticks.StepMs) {
        if (t < fromMs || t > toMs)
            continue;
        const double share = double(t - fromMs) / double(std::max<std::int64_t>(toMs - fromMs, 1));
        const QString text = QDateTime::fromMSecsSinceEpoch(t).toString(
            days ? QStringLiteral("MM-dd") : QStringLiteral("MM-dd HH:mm"));
        if (vertical) {
            const int y = plot.bottom() - int(share * plot.height());
            p.drawLine(plot.left() - lh / 3, y, plot.left(), y);
            p.drawText(QRect(0, y - lh / 2, plot.left() - lh / 2, lh), Qt::AlignRight | Qt::AlignVCenter, text);
        } else {
            const int x = plot.left() + int(share * plot.width());
            p.drawLine(x, plot.bottom(), x, plot.bottom() + lh / 3);
            p.drawText(QRect(x - 4 * lh, plot.bottom() + lh / 3, 8 * lh, lh), Qt::AlignCenter, text);
        }
    }
}

void DrawTrend(QPainter& p, const QRect& plot, const THistoryFigures& figures, const TLineReportFigures& f)
{
    const double top = std::max(1.0, std::max(f.DownMax, f.UpMax) * 1.1);
    DrawPlotFrame(p, plot, QStringLiteral("Line rate (downstream blue, upstream green; gaps: outages)"), top,
                  QStringLiteral("kbit/s"));
    DrawTimeTicks(p, plot, f.FromMs, f.ToMs, false);
    const double span = double(std::max<std::int64_t>(f.ToMs - f.FromMs, 1));
    const std::int64_t bucket = std::int64_t(span / std::max(1, plot.width()));
    const auto runs = RateRuns(figures.TrendPoints(), bucket, figures.TrendGapMs());
    for (const bool up : {false, true}) {
        p.setPen(QPen(ToQColor(DirectionColor(up ? TToneDirection::Upstream : TToneDirection::Downstream)), 2));
        for (const auto& run : runs) {
            QPolygonF line;
            for (const TRatePoint& point : run) {
                const double x = plot.left() + double(point.TimeMs - f.FromMs) / span * plot.width();
                const double v = up ? point.UpKbps() : point.DownKbps();
                line << QPointF(x, plot.bottom() - v / top * plot.height());
            }
            if (line.size() == 1)
                p.drawPoint(line.front());
            else
                p.drawPolyline(line);
        }
    }
}

void DrawEnvelope(QPainter& p, const QRect& plot, const THistoryFigures& figures)
{
    DrawPlotFrame(p, plot, QStringLiteral("Envelope: most (bars) and least (red) bits per tone over the period"),
                  MaxToneBits, QStringLiteral("bits"));
    DrawToneAxis(p, plot, ZyxelToneCount);
    if (figures.CompleteCount() == 0)
        return;
    const double w = double(plot.width()) / ZyxelToneCount;
    for (int tone = 0; tone < ZyxelToneCount; ++tone) {
        const double h = double(figures.Max(tone)) / MaxToneBits * plot.height();
        p.fillRect(QRectF(plot.left() + tone * w, plot.bottom() + 1 - h, std::max(w, 1.0), h),
                   ToQColor(ToneColor(figures.Bands(), tone)));
    }
    p.setPen(QPen(QColor::fromRgb(0xFFE00000), 2));
    QPolygonF least;
    for (int tone = 0; tone < ZyxelToneCount; ++tone) {
        const double y = plot.bottom() - double(figures.Min(tone)) / MaxToneBits * plot.height();
        least << QPointF(plot.left() + tone * w, y) << QPointF(plot.left() + (tone + 1) * w, y);
    }
    p.drawPolyline(least);
}

void DrawWaterfall(QPainter& p, const QRect& plot, const THistoryFigures& figures, const TLineReportFigures& f)
{
    DrawPlotFrame(p, plot, QStringLiteral("Waterfall: bits per tone, newest at the top (grey: outages)"), 0,
                  QString());
    DrawToneAxis(p, plot, ZyxelToneCount);
    if (figures.Count() == 0)
        return;
    const TWaterfallRows rows = figures.WaterfallRows(plot.height(), f.FromMs, f.ToMs);
    p.drawImage(plot.topLeft(), figures.ScaledWaterfall(rows, plot.width()));
    DrawTimeTicks(p, plot, rows.FromMs, rows.ToMs, true);
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
    row({QStringLiteral("Event"), QStringLiteral("Start"), QStringLiteral("End"), QStringLiteral("Duration"),
         QStringLiteral("Figures")},
        true);
    if (events.empty())
        row({QStringLiteral("No events in this period.")}, false);
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (y + 2 * lh > bottom && i + 1 < events.size()) {
            row({QStringLiteral("... and %1 more events (tirvane-read --events lists them all)")
                     .arg(events.size() - i)},
                false);
            break;
        }
        const TLineEvent& e = events[i];
        row({LineEventKindText(e.Kind), LocalText(e.StartMs), LocalText(e.EndMs) + (e.Ongoing ? QStringLiteral(" +") : QString()),
             DurationText(e.DurationMs()), e.FiguresText()},
            false);
    }
}

} // namespace

TLineReportCollector::TLineReportCollector(const QString& host, std::int64_t fromMs, std::int64_t toMs)
{
    F.Host = host;
    F.FromMs = fromMs;
    F.ToMs = toMs;
}

void TLineReportCollector::Add(const TReading& r)
{
    ++F.Readings;
    if (F.Router.isEmpty())
        F.Router = r.Router;
    if (!r.Mode.isEmpty())
        F.Mode = r.Mode;
    FEvents.Add(r);
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
        if (e.Kind == TLineEventKind::Outage) {
            ++f.Outages;
            f.OutageMs += e.DurationMs();
        } else if (e.Kind == TLineEventKind::Resync) {
            ++f.Resyncs;
        }
    }
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
                     std::int64_t toMs, QString* error)
{
    TLineReportCollector collector(host, fromMs, toMs);
    THistoryFigures pictures;
    const bool summarise = store.CountBetween(fromMs, toMs, host) > THistoryFigures::SummariseAbove;
    store.ReadEach(fromMs, toMs, host, [&](const TReading& reading) {
        collector.Add(reading);
        if (!summarise)
            pictures.Add(reading);
        return true;
    });
    if (summarise)
        store.ReadSummaries(fromMs, toMs, host, [&](const QString&, const TBlockSummary& summary) {
            pictures.Add(summary);
            return true;
        });
    return WriteLineReport(path, collector.Figures(), pictures, error);
}

bool WriteLineReport(const QString& path, const TLineReportFigures& f, const THistoryFigures& figures, QString* error)
{
    const QString& host = f.Host;
    const std::int64_t fromMs = f.FromMs;
    const std::int64_t toMs = f.ToMs;

    {
        // QPdfWriter says nothing of a file it cannot open: ask first.
        QFile probe(path);
        if (!probe.open(QIODevice::WriteOnly)) {
            if (error)
                *error = QStringLiteral("%1: %2").arg(path, probe.errorString());
            return false;
        }
    }
    QPdfWriter writer(path);
    writer.setResolution(Dpi);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(15, 15, 15, 15),
                                     QPageLayout::Millimeter));
    writer.setTitle(QStringLiteral("Line report: %1").arg(host));
    writer.setCreator(QStringLiteral("Tirvane"));
    QPainter p;
    if (!p.begin(&writer)) {
        if (error)
            *error = QStringLiteral("%1: the PDF could not be started").arg(path);
        return false;
    }
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
    line(QStringLiteral("Line report: %1").arg(host), true, 16);
    line(QStringLiteral("Router: %1%2").arg(f.Router.isEmpty() ? QStringLiteral("unknown") : f.Router,
                                            f.Mode.isEmpty() ? QString() : QStringLiteral(", mode %1").arg(f.Mode)));
    line(QStringLiteral("Period: %1 to %2 (local time), %3 readings, %4 complete")
             .arg(LocalText(fromMs), LocalText(toMs))
             .arg(f.Readings)
             .arg(f.CompleteReadings));
    line(QStringLiteral("Written %1 by Tirvane").arg(LocalText(QDateTime::currentMSecsSinceEpoch())));
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
    line(QStringLiteral("Time in outages: %1 (%2 outage%3)    Resyncs: %4    Events: %5")
             .arg(DurationText(f.OutageMs))
             .arg(f.Outages)
             .arg(f.Outages == 1 ? "" : "s")
             .arg(f.Resyncs)
             .arg(f.Events.size()));
    y += 2 * lh;

    const int left = 6 * lh;
    const int plotWidth = width - left - lh;
    const int trendHeight = (height - y) * 4 / 10;
    DrawTrend(p, QRect(left, y, plotWidth, trendHeight), figures, f);
    y += trendHeight + 4 * lh;
    DrawEnvelope(p, QRect(left, y, plotWidth, height - y - 3 * lh), figures);

    writer.newPage();
    y = lh + lh / 4;
    const int waterfallHeight = height * 55 / 100;
    DrawWaterfall(p, QRect(left + 2 * lh, y, plotWidth - 2 * lh, waterfallHeight), figures, f);
    y += waterfallHeight + 3 * lh;
    DrawEvents(p, 0, width, y, height, f.Events);
    p.end();
    return true;
}
