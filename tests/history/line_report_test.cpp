// The line report as its reader gets it: the PDF read back with pdftotext
// (its figures and events) and drawn with pdftoppm (its pictures), written
// by the library and by `tirvane --report`.
#include "history/figures/history_figures.h"
#include "history/report/line_report.h"
#include "history/store/reading_store.h"
#include "support/version1_store.h"
#include "support/test_main.h"

#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TTestMain TestMainSetUp()
{
    TTestMain setUp;
    setUp.MakeApplication = MakeTestApplication<QGuiApplication>; // fonts, on the offscreen platform
    return setUp;
}

namespace {

constexpr std::int64_t T0 = 1'796'601'600'000; // 2026-12-07T00:00:00Z
constexpr std::int64_t Minute = 60'000;
const QString Host = QStringLiteral("127.0.0.1");

// Upstream tones 6-31 at 8 bits, downstream 32-131 at `bits`.
TReading Line(std::int64_t minute, bool completed = true, int bits = 10)
{
    TReading r = ZyxelReading(T0 + minute * Minute, Host, completed);
    std::fill(r.Bits.begin() + 6, r.Bits.begin() + 32, std::uint8_t(8));
    std::fill(r.Bits.begin() + 32, r.Bits.begin() + 132, std::uint8_t(bits));
    return r;
}

// A day: an outage of three cycles at 06:00, a resync to 12 bits at 12:00.
std::vector<TReading> Day()
{
    std::vector<TReading> readings;
    for (int m = 0; m < 1440; ++m)
        readings.push_back(Line(m, m < 360 || m >= 363, m < 720 ? 10 : 12));
    return readings;
}

QString Run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString Local(std::int64_t ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

// Pixels of the page near a colour (the renderer smooths edges).
int PixelsNear(const QImage& image, QColor colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green())
                    + std::abs(c.blue() - colour.blue()) < 24;
        }
    return count;
}

void ExpectReport(const QString& pdf, const QStringList& texts, int pages)
{
    const QString info = Run(QStringLiteral("pdfinfo"), {pdf});
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+%1\\n").arg(pages)))
                && info.contains(QStringLiteral("(A4)")))
        << info.toStdString();
    // Columns are spaced as they fall: one space stands for any.
    const QString text =
        Run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")}).simplified();
    for (const QString& expected : texts)
        EXPECT_TRUE(text.contains(expected.simplified())) << expected.toStdString() << "\nin:\n" << text.toStdString();
}

TEST(LineReport, FiguresAndEventsReadBack)
{
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    QString error;
    ASSERT_TRUE(WriteLineReport(pdf, Host, T0, T0 + 1440 * Minute, Day(), &error)) << error.toStdString();
    // Downstream 1000 bits (4000 kbit/s) in 717 complete readings before the
    // resync, 1200 (4800) in 720 after; upstream always 208 (832).
    ExpectReport(pdf,
        {QStringLiteral("Line report: 127.0.0.1"), QStringLiteral("Router: zyxel"),
         QStringLiteral("Period: %1 to %2").arg(Local(T0), Local(T0 + 1440 * Minute)),
         QStringLiteral("1440 readings, 1437 complete"),
         QStringLiteral("Downstream 4000 4800 4800"), QStringLiteral("Upstream 832 832 832"),
         QStringLiteral("Time in outages: 3 min (1 outage)"), QStringLiteral("Resyncs: 1"),
         QStringLiteral("outage %1 %2 3 min 3 incomplete cycles").arg(Local(T0 + 360 * Minute), Local(T0 + 363 * Minute)),
         QStringLiteral("resync %1 %2 1 min 100 of 126 loaded tones changed")
             .arg(Local(T0 + 719 * Minute), Local(T0 + 720 * Minute))},
        2);

    // The pictures are drawn: each plot's own colours are on the pages.
    ASSERT_EQ(QProcess::execute(QStringLiteral("pdftoppm"),
                  {QStringLiteral("-r"), QStringLiteral("100"), QStringLiteral("-png"), pdf, dir.filePath("page")}),
              0);
    const QImage first(dir.filePath(QStringLiteral("page-1.png")));
    const QImage second(dir.filePath(QStringLiteral("page-2.png")));
    ASSERT_FALSE(first.isNull() || second.isNull());
    const struct {
        const char* what;
        const QImage& page;
        QColor colour;
        int least;
    } colours[] = {
        {"downstream trend and bars", first, ToQColor(ToneColor(FirstDownstreamTone)), 200},
        {"upstream trend and bars", first, ToQColor(ToneColor(0)), 100},
        {"least bits, red", first, QColor::fromRgb(0xFFE00000), 50},
        {"waterfall: 10 bits", second, QColor::fromRgb(BitsColor(10)), 1000},
        {"waterfall: 12 bits", second, QColor::fromRgb(BitsColor(12)), 1000},
        {"waterfall: outage grey", second, QColor::fromRgb(IncompleteColor), 10},
    };
    for (const auto& c : colours)
        EXPECT_GE(PixelsNear(c.page, c.colour), c.least) << c.what;
}

TEST(LineReport, ThirtyDaysOnTwoPagesAndNoReadings)
{
    QTemporaryDir dir;
    std::vector<TReading> month;
    for (int m = 0; m < 30 * 1440; ++m)
        month.push_back(Line(m, m % 1440 < 300 || m % 1440 >= 302, 10 + (m / 1440) % 3));
    const QString pdf = dir.filePath(QStringLiteral("month.pdf"));
    ASSERT_TRUE(WriteLineReport(pdf, Host, T0, T0 + 30 * 1440 * Minute, month));
    ExpectReport(pdf, {QStringLiteral("Time in outages: 1 h (30 outages)"), QStringLiteral("more events")}, 2);
    // The same month straight from a store: read a reading at a time, its
    // pictures from the blocks' summaries.
    const QString file = dir.filePath(QStringLiteral("history.sqlite"));
    TReadingStore store;
    ASSERT_TRUE(WriteVersion1Store(file, month) && store.Open(file));
    const QString fromStore = dir.filePath(QStringLiteral("store.pdf"));
    ASSERT_TRUE(WriteLineReport(fromStore, store, Host, T0, T0 + 30 * 1440 * Minute));
    ExpectReport(fromStore, {QStringLiteral("43200 readings, 43140 complete"), QStringLiteral("Time in outages: 1 h (30 outages)"),
                  QStringLiteral("more events")}, 2);

    const QString none = dir.filePath(QStringLiteral("none.pdf"));
    ASSERT_TRUE(WriteLineReport(none, Host, T0, T0 + Minute, {}));
    ExpectReport(none, {QStringLiteral("0 readings, 0 complete"), QStringLiteral("No events in this period.")}, 2);

    QString error;
    EXPECT_FALSE(WriteLineReport(QStringLiteral("/nonexistent/r.pdf"), Host, T0, T0 + Minute, {}, &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("/nonexistent/r.pdf: "))) << error.toStdString();
}

// A history of hundreds of minor events: the table leads with the outage
// and the resync, never leaves out a kind for a lesser one, and counts what
// it shows; tone events come summed by band.
TEST(LineReport, EventTableLeadsWithWhatMatters)
{
    using K = TLineEventKind;
    std::vector<TLineEvent> events;
    const auto add = [&](K kind, int minute, int minutes, int firstTone = 0) {
        TLineEvent e;
        e.Kind = kind;
        e.Host = Host;
        e.StartMs = T0 + minute * Minute;
        e.EndMs = e.StartMs + minutes * Minute;
        e.FirstTone = firstTone;
        e.LastTone = firstTone + 15;
        e.Cycles = minutes;
        events.push_back(e);
    };
    for (int i = 0; i < 400; ++i)
        add(K::TonesLostBits, i, 20, 40 + (i % 40) * 20); // 40 bands of 10 events
    for (int i = 0; i < 30; ++i)
        add(K::NoReading, 500 + i * 7, 1 + i % 4);
    add(K::RateDrop, 2000, 30);
    add(K::RateDrop, 2100, 30);
    add(K::Resync, 2400, 1);
    add(K::Outage, 2399, 5);
    std::sort(events.begin(), events.end(), [](const TLineEvent& a, const TLineEvent& b) { return a.StartMs < b.StartMs; });
    const struct {
        int rows;
        std::vector<std::pair<K, int>> kinds; // the rows' kinds, in runs
        const char* shown;
        int left;
    } cases[] = {
        {27, {{K::Outage, 1}, {K::Resync, 1}, {K::RateDrop, 2}, {K::NoReading, 23}},
         "Shown: 1 of 1 outage, 1 of 1 resync, 2 of 2 rate drops, 23 of 30 times without readings, 0 of 40 tone "
         "bands (400 events)",
         407},
        {2, {{K::Outage, 1}, {K::Resync, 1}}, "Shown: 1 of 1 outage, 1 of 1 resync, 0 of 2 rate drops", 432},
        {80, {{K::Outage, 1}, {K::Resync, 1}, {K::RateDrop, 2}, {K::NoReading, 30}, {K::TonesLostBits, 40}},
         "30 of 30 times without readings, 40 of 40 tone bands (400 events)", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rows);
        const TReportEventTable table = ReportEventTable(events, c.rows);
        std::vector<std::pair<K, int>> kinds;
        for (const TReportEventRow& row : table.Rows)
            if (!kinds.empty() && kinds.back().first == row.Kind)
                ++kinds.back().second;
            else
                kinds.emplace_back(row.Kind, 1);
        EXPECT_EQ(kinds, c.kinds);
        EXPECT_TRUE(table.Shown.contains(QLatin1String(c.shown))) << table.Shown.toStdString();
        EXPECT_EQ(table.Left, c.left);
    }
    // Cut short, a kind shows its longest, in time order.
    const TReportEventTable cut = ReportEventTable(events, 10);
    ASSERT_EQ(cut.Rows.size(), 10u);
    for (std::size_t i = 4; i < 10; ++i)
        EXPECT_EQ(cut.Rows[i].DurationMs, 4 * Minute);
    EXPECT_EQ(ReportEventTable(events, 80).Rows.back().Figures, QStringLiteral("tones 820-835: 10 events, all told, 0 bits lost at most"));
}

// A line whose router refused logins: no outage, the time apart; the
// outage and resync of the line itself on the first page.
TEST(LineReport, OutagesApartFromCyclesThatReadNothing)
{
    std::vector<TReading> readings;
    for (int m = 0; m < 1440; ++m) {
        TReading r = Line(m, true, m < 720 ? 10 : 12);
        r.Outcome = TReadingOutcome::LineUp;
        if (m >= 300 && m < 305)
            r.Completed = false, r.Outcome = TReadingOutcome::LoginRefused;
        if (m >= 700 && m < 703)
            r.Completed = false, r.Outcome = TReadingOutcome::LineDown;
        readings.push_back(r);
    }
    const TLineReportFigures f = LineReportFigures(Host, T0, T0 + 1440 * Minute, readings);
    EXPECT_EQ(ReportSummaryLines(f),
        (QStringList{QStringLiteral("Time in outages: 3 min (1 outage)    Resyncs: 1"),
            QStringLiteral("Margin low: 0    Rate drops: 0    Error bursts: 0"),
            QStringLiteral("No reading (the router did not answer or refused the login; not outages): 5 min (1 time)"),
            QStringLiteral("Tone events: 0 in 0 bands")}));
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("refused.pdf"));
    ASSERT_TRUE(WriteLineReport(pdf, Host, T0, T0 + 1440 * Minute, readings));
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"), {QStringLiteral("-l"), QStringLiteral("1"), pdf, QStringLiteral("-")});
    ASSERT_TRUE(pdftotext.waitForFinished(60000));
    const QString first = QString::fromUtf8(pdftotext.readAllStandardOutput()).simplified();
    EXPECT_TRUE(first.contains(QStringLiteral("Time in outages: 3 min (1 outage)"))) << first.toStdString();
}

#ifdef TIRVANE_MONITOR
// tirvane --report writes the same report from the user's history, with no
// display, for the host and period asked for.
TEST(LineReport, WrittenByTheMonitorWithoutAWindow)
{
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    {
        TReadingStore store;
        ASSERT_TRUE(store.Open(data + QStringLiteral("/Tirvane/history.sqlite")));
        for (const TReading& r : Day())
            ASSERT_TRUE(store.Record(r));
        TReading other = Line(5);
        other.Host = QStringLiteral("127.0.0.2");
        ASSERT_TRUE(store.Record(other));
    }
    const QString pdf = dir.filePath(QStringLiteral("job.pdf"));
    QProcess monitor; // no display, no platform named: it must find its own way
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), data);
    for (const char* name : {"DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    monitor.setProcessEnvironment(env);
    monitor.start(QStringLiteral(TIRVANE_MONITOR),
        {QStringLiteral("--report"), pdf, QStringLiteral("--since"), QStringLiteral("2026-12-07T05:00:00Z"),
         QStringLiteral("--until"), QStringLiteral("2026-12-07T08:00:00Z"), QStringLiteral("--host"), Host});
    ASSERT_TRUE(monitor.waitForFinished(60000));
    EXPECT_EQ(monitor.exitCode(), 0) << monitor.readAllStandardError().toStdString();
    ExpectReport(pdf,
        {QStringLiteral("Line report: 127.0.0.1"), QStringLiteral("180 readings, 177 complete"),
         QStringLiteral("Time in outages: 3 min (1 outage)"), QStringLiteral("Resyncs: 0")},
        2);
}
#endif

} // namespace
