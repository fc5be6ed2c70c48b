// The History window reads its period on a thread of its own: what it shows
// once the read is in equals the store, a long period comes as block rows
// and its events after them, and a read overtaken by another, or by the
// window's end, leaves nothing behind. The windows are never painted.
#include "history/history_window.h"
#include "history/line_events.h"
#include "history/reading_store.h"
#include "support/test_main.h"
#include "support/version1_store.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr std::int64_t Now = 1796644800000; // 2026-12-07 12:00 UTC
constexpr std::int64_t Minute = 60000;

// Reading i of count, once a minute up to now; an outage of ten minutes
// every thousand readings.
TReading LineReading(int i, int count)
{
    TReading r = ZyxelReading(Now - std::int64_t(count - i) * Minute, QStringLiteral("127.0.0.1"), i % 1000 >= 10);
    for (int tone = 6; tone < ToneCount; ++tone)
        r.Bits[std::size_t(tone)] = std::uint8_t(tone < 32 ? 9 : 12 - (tone + i / 500) % 5);
    return r;
}

TEST(HistoryLoading, TheReadPeriodEqualsTheStore)
{
    const struct {
        const char* name;
        int readings;
        THistoryWindow::TPeriod period;
        int rows; // shown
        bool blocks;
    } cases[] = {
        {"a day, a row a reading", 1440, THistoryWindow::Last24Hours, 1440, false},
        {"a month, a row an hour", 30 * 1440, THistoryWindow::Last30Days, 30 * 24, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.sqlite"));
        std::vector<TReading> readings;
        for (int i = 0; i < c.readings; ++i)
            readings.push_back(LineReading(i, c.readings));
        ASSERT_TRUE(WriteVersion1Store(path, readings));
        THistoryWindow window(path, nullptr, dir.filePath(QStringLiteral("w.ini")));
        window.SetClock([] { return Now; });
        window.SetPeriod(c.period);
        ASSERT_TRUE(window.Loading());
        window.WaitForLoad(true);
        EXPECT_EQ(window.Figures().Count(), c.rows);
        EXPECT_EQ(window.Figures().ReadingCount(), c.readings);
        // A long period's events are still being found after its figures
        // show; a reading recorded meanwhile reaches both.
        EXPECT_EQ(window.Loading(), c.blocks);
        readings.push_back(LineReading(c.readings, c.readings));
        readings.back().Completed = false;
        window.TakeIn(readings.back());
        EXPECT_EQ(window.Figures().ReadingCount(), c.readings + 1);
        window.WaitForLoad();
        EXPECT_FALSE(window.Loading());
        EXPECT_EQ(window.LineEvents().size(), FindLineEvents(readings).size());
        EXPECT_TRUE(window.LineEvents().back().Ongoing);
    }
}

// A read overtaken by the next one, or by the window's end, is dropped: what
// shows is the last period asked for.
TEST(HistoryLoading, AnOvertakenReadLeavesNothing)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    ASSERT_TRUE(WriteVersion1Store(path, 40 * 1440, [](int i) { return LineReading(i, 40 * 1440); }));
    const THistoryWindow::TPeriod steps[][3] = {
        {THistoryWindow::Everything, THistoryWindow::LastHour, THistoryWindow::LastHour},
        {THistoryWindow::LastHour, THistoryWindow::Everything, THistoryWindow::Last7Days},
    };
    const int rows[] = {60, 7 * 1440};
    for (std::size_t s = 0; s < std::size(steps); ++s) {
        THistoryWindow window(path, nullptr, dir.filePath(QStringLiteral("w.ini")));
        window.SetClock([] { return Now; });
        for (const auto period : steps[s])
            window.SetPeriod(period);
        window.WaitForLoad();
        EXPECT_EQ(window.Figures().Count(), rows[s]) << s;
    }
    for (int k = 0; k < 3; ++k) {
        auto window = std::make_unique<THistoryWindow>(path, nullptr, dir.filePath(QStringLiteral("w.ini")));
        window->SetPeriod(THistoryWindow::Everything);
        window.reset(); // while it reads
    }
}

} // namespace

TTestMain TestMainSetUp()
{
    TTestMain setUp;
    setUp.MakeApplication = MakeTestApplication<QApplication>;
    return setUp;
}
