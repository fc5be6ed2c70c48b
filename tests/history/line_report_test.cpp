// The line report as its reader gets it: the PDF read back with pdftotext
// (its figures and events) and drawn with pdftoppm (its pictures), written
// by the library and by `tirvane --report`.
#include "history/figures/history_figures.h"
#include "history/report/line_report.h"
#include "history/store/reading_store.h"
#include "support/raw_db.h"
#include "support/version1_store.h"
#include "support/test_main.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>

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

// A long VDSL2 line: `tones` tones at 10 bits in the downstream bands from
// 1206 on and in the upstream band 870-1205, none elsewhere.
TReading LongLine(std::int64_t minute, int tones, double spacingKHz)
{
    TReading r = Line(minute);
    r.Bits.assign(std::size_t(tones), 0);
    std::fill(r.Bits.begin() + 870, r.Bits.end(), std::uint8_t(10));
    r.SpacingKHz = spacingKHz;
    r.Bands = {{{0, 31}, {870, 1205}}, {{33, 859}, {1206, tones - 1}}};
    return r;
}

// Pixels near a colour in the part of a page right of xShare and below yShare.
int PixelsNearIn(const QImage& image, QColor colour, double xShare, double yShare)
{
    return PixelsNear(image.copy(int(image.width() * xShare), int(image.height() * yShare),
                                 image.width(), image.height()),
                      colour);
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

// A line with its figures and SNR gets their spreads on the first page and
// a third page of their pictures; a line without keeps its two pages (the
// case above).
TEST(LineReport, TheLinesFiguresAndSnrGetTheirPage)
{
    std::vector<TReading> readings = Day();
    for (std::size_t m = 0; m < readings.size(); ++m) {
        TReading& r = readings[m];
        r.Outcome = r.Completed ? TReadingOutcome::LineUp : TReadingOutcome::LineDown;
        if (!r.Completed)
            continue;
        r.Figures.Down.MarginDb = m < 600 ? 6.0 : 2.5;
        r.Figures.Down.AttenuationDb = 21.4;
        r.Figures.Down.Es = m / 10;
        r.Figures.Retrains = m < 720 ? 3 : 4;
        r.Spectra.Snr.Down = {8, std::vector<float>(65, 30.0f)};
    }
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    QString error;
    ASSERT_TRUE(WriteLineReport(pdf, Host, T0, T0 + 1440 * Minute, readings, &error)) << error.toStdString();
    ExpectReport(pdf,
        {QStringLiteral("SNR margin, dB (least / median / most): downstream 2.5 / 2.5 / 6.0, upstream not measured"),
         QStringLiteral("Retrains the router reported: 1"), QStringLiteral("Line figures"),
         QStringLiteral("SNR envelope"), QStringLiteral("Quiet line noise")},
        3);
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

// A line of thousands of tones is drawn whole: the tone axes run to its last
// tone, and the bars take their colours from its band plan (an upstream band
// far from tone 0 green, the downstream tones above it blue).
TEST(LineReport, LongLinesWholeInBandColours)
{
    const struct {
        const char* what;
        int tones;
        double spacingKHz;
    } cases[] = {{"17a", 4096, 4.3125}, {"35b", 8192, 4.3125}, {"30a", 4096, 8.625}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("long.pdf"));
        std::vector<TReading> readings;
        for (int m = 0; m < 60; ++m)
            readings.push_back(LongLine(m, c.tones, c.spacingKHz));
        QString error;
        ASSERT_TRUE(WriteLineReport(pdf, Host, T0, T0 + 60 * Minute, readings, &error)) << error.toStdString();
        ExpectReport(pdf, {QString::number(c.tones - 1)}, 2);
        ASSERT_EQ(QProcess::execute(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("100"),
                      QStringLiteral("-png"), QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"),
                      QStringLiteral("1"), pdf, dir.filePath("page")}),
                  0);
        const QImage first(dir.filePath(QStringLiteral("page-1.png")));
        ASSERT_FALSE(first.isNull());
        // The envelope fills the page's lower half; the tones of its right
        // half are all above tone 1206, downstream.
        EXPECT_GE(PixelsNearIn(first, ToQColor(clBlue), 0.6, 0.6), 2000);
        EXPECT_GE(PixelsNearIn(first, ToQColor(clGreen), 0.0, 0.6), 200);
    }
}

// A report that cannot be written whole leaves what was at its path as it
// was and says why in one line; root ignores permissions, so the failures
// are made real: a folder that is a file, and a file size limit that stops
// the write part-way.
TEST(LineReport, AFailedWriteKeepsTheEarlierReport)
{
    QTemporaryDir dir;
    QFile plain(dir.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly) && plain.write("not a folder") > 0);
    plain.close();
    const struct {
        const char* what;
        QString path;
        rlim_t sizeLimit; // RLIM_INFINITY: none
    } cases[] = {
        {"its folder is a file", dir.filePath(QStringLiteral("plain/report.pdf")), RLIM_INFINITY},
        {"the disk takes no more", dir.filePath(QStringLiteral("earlier.pdf")), 2048},
    };
    const QByteArray earlier = "an earlier report";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile before(c.path);
        const bool hadEarlier = before.open(QIODevice::WriteOnly) && before.write(earlier) == earlier.size();
        before.close();
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead
        rlimit limit = old;
        limit.rlim_cur = c.sizeLimit;
        setrlimit(RLIMIT_FSIZE, &limit);
        QString error;
        const bool written = WriteLineReport(c.path, Host, T0, T0 + 1440 * Minute, Day(), &error);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldSignal);
        EXPECT_FALSE(written);
        EXPECT_TRUE(error.startsWith(c.path + QStringLiteral(": ")) && !error.contains(QLatin1Char('\n')))
            << error.toStdString();
        if (hadEarlier) {
            QFile after(c.path);
            ASSERT_TRUE(after.open(QIODevice::ReadOnly));
            EXPECT_EQ(after.readAll(), earlier);
        }
    }
    // Nothing half-written is left beside them.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);
}

// An hour the history file cannot give is named on the first page, not
// left as a quiet gap in the figures.
TEST(LineReport, AnUnreadHourIsNamedOnTheFirstPage)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("history.sqlite"));
    {
        TReadingStore writing;
        ASSERT_TRUE(writing.Open(file));
        for (const TReading& r : Day())
            ASSERT_TRUE(writing.Record(r));
    }
    ASSERT_TRUE(RawDb(file).Exec("UPDATE blocks SET data = zeroblob(length(data)) WHERE id = 2"));
    TReadingStore store;
    ASSERT_TRUE(store.OpenToRead(file));
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    ASSERT_TRUE(WriteLineReport(pdf, store, Host, T0, T0 + 1440 * Minute));
    ExpectReport(pdf, {QStringLiteral("Not in this report, for the history file could not be read there:"),
                       QStringLiteral("Could not read the readings of 127.0.0.1 from"), QStringLiteral("1380 readings")},
                 2);
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
// tirvane --report on histories that give it no line, or a target it cannot
// write: it exits 1 with one line on standard error and writes nothing (2 for
// a --line the recorder's configuration does not hold); without --host it
// reports on the first host, with --line on the host of that line.
TEST(LineReport, TheMonitorSaysWhyItWroteNoReport)
{
    QTemporaryDir dir;
    const QString store = QStringLiteral("/Tirvane/history.sqlite");
    const QString twoHosts = dir.filePath(QStringLiteral("two"));
    {
        TReadingStore two;
        ASSERT_TRUE(two.Open(twoHosts + store));
        for (const QString& host : {QStringLiteral("127.0.0.2"), Host}) {
            TReading r = Line(5);
            r.Host = host;
            ASSERT_TRUE(two.Record(r));
        }
        TReadingStore empty;
        ASSERT_TRUE(empty.Open(dir.filePath(QStringLiteral("empty")) + store));
    }
    const QString plain = dir.filePath(QStringLiteral("plain"));
    QFile(plain).open(QIODevice::WriteOnly);
    const QString config = dir.filePath(QStringLiteral("config"));
    ASSERT_TRUE(QDir().mkpath(config + QStringLiteral("/Tirvane")));
    QFile lines(config + QStringLiteral("/Tirvane/recorder.conf"));
    ASSERT_TRUE(lines.open(QIODevice::WriteOnly) && lines.write("[home]\nhost = 127.0.0.2\npassword_file = p\n") > 0);
    lines.close();
    const struct {
        const char* what;
        QString data;
        QStringList host;
        QString pdf;
        int status;
        QString says; // on standard error, or in the report
    } cases[] = {
        {"no --host: the first host", twoHosts, {}, dir.filePath(QStringLiteral("first.pdf")), 0,
         QStringLiteral("Line report: 127.0.0.1")},
        {"a host never read", twoHosts, {QStringLiteral("--host"), QStringLiteral("127.0.0.9")},
         dir.filePath(QStringLiteral("none.pdf")), 1, QStringLiteral("holds no readings of 127.0.0.9")},
        {"an empty history", dir.filePath(QStringLiteral("empty")), {}, dir.filePath(QStringLiteral("empty.pdf")), 1,
         QStringLiteral("holds no readings")},
        {"no history file", dir.filePath(QStringLiteral("nothing")), {}, dir.filePath(QStringLiteral("nothing.pdf")), 1,
         QStringLiteral("history.sqlite")},
        {"a folder that is a file", twoHosts, {}, plain + QStringLiteral("/r.pdf"), 1, plain + QStringLiteral("/r.pdf: ")},
        {"a configured line", twoHosts, {QStringLiteral("--line"), QStringLiteral("home")},
         dir.filePath(QStringLiteral("home.pdf")), 0, QStringLiteral("Line report: 127.0.0.2")},
        {"a line not configured", twoHosts, {QStringLiteral("--line"), QStringLiteral("office")},
         dir.filePath(QStringLiteral("office.pdf")), 2, QStringLiteral("--line office: no such line in ") + config},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QProcess monitor;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), c.data);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        monitor.setProcessEnvironment(env);
        monitor.start(QStringLiteral(TIRVANE_MONITOR), QStringList{QStringLiteral("--report"), c.pdf,
            QStringLiteral("--since"), QStringLiteral("2026-12-07T00:00:00Z"), QStringLiteral("--until"),
            QStringLiteral("2026-12-07T01:00:00Z")} + c.host);
        ASSERT_TRUE(monitor.waitForFinished(60000));
        const QString errors = QString::fromUtf8(monitor.readAllStandardError()).remove(
            QRegularExpression(QStringLiteral("QStandardPaths: [^\n]*\n")));
        EXPECT_EQ(monitor.exitCode(), c.status) << errors.toStdString();
        if (c.status == 0) {
            ExpectReport(c.pdf, {c.says}, 2);
            continue;
        }
        EXPECT_TRUE(errors.startsWith(QStringLiteral("tirvane: ")) && errors.contains(c.says)
                    && errors.count(QLatin1Char('\n')) == 1)
            << errors.toStdString();
        EXPECT_FALSE(QFile::exists(c.pdf));
    }
}
#endif

} // namespace
