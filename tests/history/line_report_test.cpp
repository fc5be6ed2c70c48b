// The line report as its reader gets it: the PDF read back with pdftotext
// (its figures and events) and drawn with pdftoppm (its pictures), written
// by the library and by `tirvane --report`.
#include "history/history_figures.h"
#include "history/line_report.h"
#include "history/reading_store.h"
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
        {"downstream trend and bars", first, ToQColor(ToneColor(ZyxelFirstDownstreamTone)), 200},
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
