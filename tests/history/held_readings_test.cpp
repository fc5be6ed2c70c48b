// Readings held while another program keeps the history file locked for
// longer than SQLite's busy wait: they reach the file once it is free, by
// the writer's retry or its last try as it ends, at most MaxHeld of them,
// and a delete takes the held ones older than its time as well.
#include "history/store/reading_recorder.h"
#include "history/store/reading_store.h"
#include "support/raw_db.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <memory>
#include <string>

namespace {

constexpr std::int64_t T0 = 1'796'644'800'000;

TReading At(int minute)
{
    TReading r = ZyxelReading(T0 + minute * 60'000, QStringLiteral("127.0.0.1"), true);
    r.Bits[100] = std::uint8_t(minute % 16);
    return r;
}

std::vector<int> Minutes(const std::vector<TReading>& readings)
{
    std::vector<int> minutes;
    for (const TReading& r : readings)
        minutes.push_back(int((r.TimeMs - T0) / 60'000));
    return minutes;
}

// SQLite's busy wait sleeps through the connection's file layer. While one
// of these lives, new connections get the default layer with sleeps that
// return at once: the wait runs its whole length in no time, so a test can
// meet it a thousand times over.
class TInstantBusyWait {
public:
    TInstantBusyWait()
        : FDefault(sqlite3_vfs_find(nullptr))
        , FInstant(*FDefault)
    {
        FInstant.zName = "instant-busy-wait";
        FInstant.xSleep = [](sqlite3_vfs*, int microseconds) { return microseconds; };
        sqlite3_vfs_register(&FInstant, 1);
    }
    ~TInstantBusyWait()
    {
        sqlite3_vfs_unregister(&FInstant);
        sqlite3_vfs_register(FDefault, 1);
    }

private:
    sqlite3_vfs* FDefault;
    sqlite3_vfs FInstant;
};

// Another program's write lock; the store's own write is what locks it.
bool Lock(RawDb& other)
{
    return other.Exec("BEGIN EXCLUSIVE") && other.Exec("DELETE FROM hosts WHERE id < 0");
}

TEST(HeldReadings, PastTheCapTheOldestGo)
{
    const TInstantBusyWait instant; // outlives the connections below
    QTemporaryDir dir;
    TReadingStore store;
    ASSERT_TRUE(store.Open(dir.filePath("history.sqlite")));
    RawDb other(store.Path());
    ASSERT_TRUE(Lock(other));
    constexpr int Over = 5;
    int held = 0;
    for (int minute = 0; minute < TReadingStore::MaxHeld + Over; ++minute)
        held += store.Write(At(minute)) == TRecordResult::Held;
    EXPECT_EQ(held, TReadingStore::MaxHeld + Over);
    EXPECT_EQ(store.HeldCount(), TReadingStore::MaxHeld);
    ASSERT_TRUE(other.Exec("COMMIT"));
    std::vector<TReading> written;
    EXPECT_EQ(store.WriteHeld(&written), TRecordResult::Written);
    ASSERT_EQ(written.size(), std::size_t(TReadingStore::MaxHeld));
    EXPECT_EQ(Minutes(written).front(), Over);
    EXPECT_EQ(Minutes(written).back(), TReadingStore::MaxHeld + Over - 1);
    EXPECT_EQ(store.Readings(INT64_MIN, INT64_MAX), written);
}

// A delete is of every reading older than its time, those still held too;
// one that meets the file busy deletes nothing and the held ones go in later.
TEST(HeldReadings, ADeleteTakesTheHeldReadingsOlderThanItsTime)
{
    const TInstantBusyWait instant;
    const struct {
        const char* name;
        bool busyAtDelete;
        std::int64_t deleted;
        std::vector<int> writtenAfter, left;
    } cases[] = {
        {"the file free again", false, 2, {3}, {3}},
        {"the file still busy", true, TReadingStore::DeleteBusy, {1, 3}, {0, 1, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        TReadingStore store;
        ASSERT_TRUE(store.Open(dir.filePath("history.sqlite")) && store.Record(At(0)));
        RawDb other(store.Path());
        ASSERT_TRUE(Lock(other));
        EXPECT_EQ(store.Write(At(1)), TRecordResult::Held);
        EXPECT_EQ(store.Write(At(3)), TRecordResult::Held);
        EXPECT_TRUE(c.busyAtDelete || other.Exec("COMMIT"));
        EXPECT_EQ(store.DeleteOlderThan(At(2).TimeMs), c.deleted);
        EXPECT_TRUE(!c.busyAtDelete || other.Exec("COMMIT"));
        std::vector<TReading> written;
        EXPECT_EQ(store.WriteHeld(&written), TRecordResult::Written);
        EXPECT_EQ(Minutes(written), c.writtenAfter);
        EXPECT_EQ(Minutes(store.Readings(INT64_MIN, INT64_MAX)), c.left);
    }
}

// The recorder's writer with SQLite's own busy wait: the lock outlasts it,
// so the reading is held, and goes in once the lock is let go.
TEST(HeldReadings, TheRecorderWritesWhatItHeldOnceTheFileIsFree)
{
    const struct {
        const char* name;
        bool deleteWhileBusy;
        bool endAtOnce; // the recorder ends as soon as the lock goes
        std::vector<std::string> told;
    } cases[] = {
        {"by its retry", false, false, {"recorded 1"}},
        {"by its last try as it ends", false, true, {}},
        {"behind a delete that met the file busy", true, false, {"deleted -2", "recorded 1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath("history.sqlite");
        {
            TReadingStore made;
            ASSERT_TRUE(made.Open(path) && made.Record(At(0)));
        }
        RawDb other(path);
        ASSERT_TRUE(Lock(other));
        std::vector<std::string> told;
        auto recorder = std::make_unique<TReadingRecorder>(path);
        QObject::connect(recorder.get(), &TReadingRecorder::Recorded,
                         [&](const TReading& r) { told.push_back("recorded " + std::to_string(Minutes({r})[0])); });
        QObject::connect(recorder.get(), &TReadingRecorder::Deleted,
                         [&](std::int64_t, std::int64_t n) { told.push_back("deleted " + std::to_string(n)); });
        recorder->Record(At(1));
        if (c.deleteWhileBusy)
            recorder->DeleteOlderThan(At(2).TimeMs);
        recorder->Flush(); // once the writer has waited the busy wait out
        EXPECT_EQ(told.size(), c.deleteWhileBusy ? 1u : 0u);
        ASSERT_TRUE(other.Exec("COMMIT"));
        if (c.endAtOnce)
            recorder.reset();
        QElapsedTimer waited;
        waited.start();
        while (recorder && told.size() < c.told.size() && waited.elapsed() < 60'000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        EXPECT_EQ(told, c.told);
        recorder.reset();
        TReadingStore store;
        ASSERT_TRUE(store.OpenToRead(path));
        EXPECT_EQ(Minutes(store.Readings(INT64_MIN, INT64_MAX)), (std::vector<int>{0, 1}));
    }
}

} // namespace
