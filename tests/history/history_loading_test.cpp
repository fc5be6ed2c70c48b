// The History window reads its period on a thread of its own. The windows
// are never painted, so the thread checker sees only the window's own thread.
#include "events/line_events.h"
#include "history/store/reading_store.h"
#include "history/window/history_window.h"
#include "support/test_main.h"
#include "support/version1_store.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>
#include <tuple>

namespace {

constexpr std::int64_t Now = 1796644800000; // 2026-12-07 12:00 UTC

// Reading i of a once-a-minute line of `count` up to now; ten failed cycles
// in every thousand.
TReading LineReading(int i, int count)
{
    TReading r = ZyxelReading(Now - std::int64_t(count - i) * 60000, QStringLiteral("127.0.0.1"), i % 1000 >= 10);
    for (int tone = 6; tone < ZyxelToneCount; ++tone)
        r.Bits[std::size_t(tone)] = std::uint8_t(tone < 32 ? 9 : 12 - (tone + i / 500) % 5);
    return r;
}

// What shows once the read is in: the last period asked for, a long one a row
// an hour with its events after the figures, and a reading recorded between
// the two in both. A read overtaken by the window's end leaves nothing behind.
TEST(HistoryLoading, TheLastPeriodAskedForShowsWithEverythingTakenIn)
{
    using P = THistoryWindow;
    const struct {
        const char* name;
        int readings;
        std::vector<P::TPeriod> periods; // asked for one after the other
        int rows;
        bool eventsAfter;
    } cases[] = {
        {"a day, a row a reading", 1440, {P::Last24Hours}, 1440, false},
        {"a month, a row an hour", 30 * 1440, {P::Last30Days}, 30 * 24, true},
        {"a long read overtaken", 40 * 1440, {P::Everything, P::LastHour}, 60, false},
        {"overtaken by a long read", 40 * 1440, {P::LastHour, P::Everything, P::Last7Days}, 7 * 1440, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.sqlite"));
        std::vector<TReading> readings;
        for (int i = 0; i < c.readings; ++i)
            readings.push_back(LineReading(i, c.readings));
        ASSERT_TRUE(WriteVersion1Store(path, readings));
        P window(path, nullptr, dir.filePath(QStringLiteral("w.ini")));
        window.SetClock([] { return Now; });
        for (const auto period : c.periods)
            window.SetPeriod(period);
        window.WaitForLoad(true);
        EXPECT_EQ(window.Figures().Count(), c.rows);
        EXPECT_EQ(window.Loading(), c.eventsAfter);
        const TReading failed = ZyxelReading(Now, QStringLiteral("127.0.0.1"), false);
        window.TakeIn(failed);
        EXPECT_EQ(window.Figures().ReadingCount(), c.rows * (c.eventsAfter ? 60 : 1) + 1);
        window.WaitForLoad();
        ASSERT_FALSE(window.LineEvents().empty());
        EXPECT_TRUE(window.LineEvents().back().Ongoing && window.LineEvents().back().StartMs == Now);

        auto closing = std::make_unique<P>(path, nullptr, dir.filePath(QStringLiteral("w.ini")));
        closing->SetPeriod(P::Everything);
        closing.reset(); // while it reads
    }
}

// A window that is the first to open a file of the first format converts it
// on its reading thread: a timer of no delay fires while that goes on, the
// window saying why it waits, and the period shows from the converted file.
TEST(HistoryLoading, TheWindowAnswersWhileAnOlderFileIsConverted)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    constexpr int Readings = 60 * 1440;
    ASSERT_TRUE(WriteVersion1Store(path, Readings, [](int i) { return LineReading(i, Readings); }));
    THistoryWindow window(path, nullptr, dir.filePath(QStringLiteral("w.ini")));
    window.SetClock([] { return Now; });
    window.SetPeriod(THistoryWindow::LastHour);
    QString shownWhenFired;
    QTimer::singleShot(0, &window, [&] { shownWhenFired = window.Loading() ? window.MessageText() : QStringLiteral("done"); });
    const auto started = std::chrono::steady_clock::now();
    while (shownWhenFired.isEmpty() && std::chrono::steady_clock::now() - started < std::chrono::seconds(60))
        QApplication::processEvents();
    EXPECT_TRUE(shownWhenFired.contains(QStringLiteral("being converted"))) << shownWhenFired.toStdString();
    window.WaitForLoad();
    EXPECT_EQ(window.Figures().Count(), 60);
    TReadingStore after;
    ASSERT_TRUE(after.OpenToRead(path));
    EXPECT_EQ(after.Version(), TReadingStore::SchemaVersion);
}

// The bytes in a file this process is writing in `folder` to take another's
// place: with O_TMPFILE it has no name until then, so it is found among the
// open files. The store's own files are not it.
std::int64_t WrittenBeside(const QString& folder)
{
    std::int64_t most = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        if (target.startsWith(folder + QLatin1Char('/')) && !target.contains(QStringLiteral("history.sqlite")))
            most = std::max<std::int64_t>(most, QFileInfo(fds.filePath(fd)).size());
    }
    return most;
}

// "Export CSV..." and "Line report..." read on a thread of their own: the
// window answers meanwhile and says what it writes, and Cancel stops them
// part-way with the earlier file left as it was and nothing beside it.
TEST(HistoryLoading, ACancelledCommandLeavesTheEarlierFile)
{
    using P = THistoryWindow;
    const struct {
        const char* name;
        P::TCommand command;
        const char* file;
        const char* note;
    } cases[] = {
        {"export", P::TCommand::Export, "out.csv", "Exporting the readings to "},
        {"report", P::TCommand::Report, "out.pdf", "Writing the line report to "},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    constexpr int Readings = 40 * 1440;
    ASSERT_TRUE(WriteVersion1Store(path, Readings, [](int i) { return LineReading(i, Readings); }));
    P window(path, nullptr, dir.filePath(QStringLiteral("w.ini")));
    window.SetClock([] { return Now; });
    window.SetPeriod(P::Everything);
    window.WaitForLoad();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString target = dir.filePath(QString::fromLatin1(c.file));
        const QByteArray earlier = "an earlier file";
        QFile before(target);
        ASSERT_TRUE(before.open(QIODevice::WriteOnly) && before.write(earlier) == earlier.size());
        before.close();
        const auto beside = [&] {
            return QDir(dir.path()).entryList({QString::fromLatin1(c.file) + QStringLiteral(".*")}, QDir::Files);
        };
        window.StartCommand(c.command, target);
        EXPECT_TRUE(window.CommandRunning());
        EXPECT_TRUE(window.NoteText().startsWith(QString::fromLatin1(c.note) + target)) << window.NoteText().toStdString();
        if (c.command == P::TCommand::Export) {
            // Part-way: rows are already in the file that would replace it.
            const auto started = std::chrono::steady_clock::now();
            while (window.CommandRunning() && WrittenBeside(dir.path()) == 0
                   && std::chrono::steady_clock::now() - started < std::chrono::seconds(60))
                QApplication::processEvents();
            EXPECT_GT(WrittenBeside(dir.path()), 0);
        }
        ASSERT_TRUE(window.CommandRunning());
        auto* cancel = window.findChild<QPushButton*>(QStringLiteral("btCancel"));
        ASSERT_TRUE(cancel != nullptr && cancel->isVisibleTo(&window));
        cancel->click();
        window.WaitForCommand();
        EXPECT_FALSE(window.CommandRunning() || cancel->isVisibleTo(&window));
        EXPECT_TRUE(window.findChildren<QMessageBox*>().isEmpty());
        QFile after(target);
        ASSERT_TRUE(after.open(QIODevice::ReadOnly));
        EXPECT_EQ(after.readAll(), earlier);
        EXPECT_TRUE(beside().isEmpty()) << beside().join(QLatin1Char(' ')).toStdString();
    }
}

// A line of a cycle every minute whose `length`-minute round holds one of
// each event: an outage, a resync, a band of tones losing bits with the
// rate dropping, and, where the file keeps figures, a low margin, an error
// burst and cycles that read nothing. `shift` moves the round.
TReading EventfulReading(const QString& host, int minute, int minutes, int length, int shift)
{
    const int m = (minute + shift) % length;
    const bool down = m >= 100 && m < 104, silent = m >= 600 && m < 603;
    TReading r = ZyxelReading(Now - std::int64_t(minutes - minute) * 60000, host, !down && !silent);
    for (int tone = 6; tone < ZyxelToneCount; ++tone)
        r.Bits[std::size_t(tone)] = std::uint8_t(tone < 32 ? 8 : m >= 200 ? 11 : 10);
    if (m >= 330 && m < 370)
        std::fill(r.Bits.begin() + 32, r.Bits.begin() + 200, std::uint8_t(2));
    r.Outcome = down ? TReadingOutcome::LineDown : silent ? TReadingOutcome::NoAnswer : TReadingOutcome::LineUp;
    if (r.Completed) {
        r.Figures.Down.MarginDb = m >= 450 && m < 460 ? 2.0 : 8.0;
        r.Figures.Down.Es = std::uint64_t(minute + 3 * (15 * ((minute + shift) / length) + std::clamp(m - 500, 0, 15)));
    }
    return r;
}

// The window's reading thread finds the events the detector finds when fed
// the same readings of the period straight from the store: a period read a
// reading at a time, and one shown from its summaries with the events after.
TEST(HistoryLoading, EventsAreThoseTheDetectorFindsInTheSameReadings)
{
    using P = THistoryWindow;
    const struct {
        const char* name;
        bool firstLayout; // written fast as the first layout, which keeps no figures
        int length, rounds; // minutes of a round
        P::TPeriod period;
        std::size_t atLeast;
    } cases[] = {
        {"a day, a reading at a time", false, 720, 2, P::Last24Hours, 12},
        {"a month, summaries then events", true, 1440, 35, P::Last30Days, 100},
    };
    const QString hosts[] = {QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.2")};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.sqlite"));
        std::vector<TReading> readings;
        const int minutes = c.length * c.rounds;
        for (int minute = 0; minute < minutes; ++minute)
            for (int h = 0; h < (c.firstLayout ? 1 : 2); ++h)
                readings.push_back(EventfulReading(hosts[h], minute, minutes, c.length, h * 37));
        if (c.firstLayout) {
            ASSERT_TRUE(WriteVersion1Store(path, readings));
        } else {
            TReadingStore store;
            ASSERT_TRUE(store.Open(path));
            for (const TReading& r : readings)
                ASSERT_TRUE(store.Record(r));
        }
        P window(path, nullptr, dir.filePath(QStringLiteral("w.ini")));
        window.SetClock([] { return Now; });
        window.SetPeriod(c.period);
        window.WaitForLoad();
        ASSERT_EQ(window.Host(), hosts[0]);

        TReadingStore store;
        ASSERT_TRUE(store.OpenToRead(path));
        TLineEventCollector detector;
        const std::int64_t since = Now - (c.period == P::Last24Hours ? 1440 : 30 * 1440) * std::int64_t(60000);
        EXPECT_TRUE(store.ReadEach(since, INT64_MAX, hosts[0], [&](const TReading& r) {
            detector.Add(r);
            return true;
        }).Complete());
        const auto sorted = [](std::vector<TLineEvent> events) {
            std::stable_sort(events.begin(), events.end(), [](const TLineEvent& a, const TLineEvent& b) {
                return std::tie(a.StartMs, a.Kind) < std::tie(b.StartMs, b.Kind);
            });
            return events;
        };
        const std::vector<TLineEvent> shown = sorted(window.LineEvents()), found = sorted(detector.Events());
        EXPECT_GE(found.size(), c.atLeast);
        std::set<TLineEventKind> kinds;
        for (const TLineEvent& e : found)
            kinds.insert(e.Kind);

        EXPECT_EQ(kinds.size(), c.firstLayout ? 4u : 7u);
        ASSERT_EQ(shown.size(), found.size());
        for (std::size_t i = 0; i < found.size(); ++i) {
            EXPECT_TRUE(shown[i] == found[i]) << i << ": " << LineEventKindText(shown[i].Kind).toStdString() << " at "
                                              << shown[i].StartMs << " " << shown[i].FiguresText().toStdString()
                                              << ", found " << LineEventKindText(found[i].Kind).toStdString() << " at "
                                              << found[i].StartMs << " " << found[i].FiguresText().toStdString();
        }
    }
}

} // namespace

TTestMain TestMainSetUp()
{
    TTestMain setUp;
    setUp.MakeApplication = MakeTestApplication<QApplication>;
    return setUp;
}
