// The reading store on real SQLite files. Every way a file can be unusable
// turns history off, names the file and leaves it byte for byte as it was;
// read-only and full disks are real mounts in a mount namespace of the test's own.
#include "history/store/reading_recorder.h"
#include "history/store/reading_store.h"
#include "support/private_mounts.h"
#include "support/raw_db.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>

namespace {

TReading MakeReading(std::int64_t timeMs, const QString& host, bool completed = true)
{
    TReading r = ZyxelReading(timeMs, host, completed);
    for (int tone = 1; tone < ZyxelToneCount; ++tone)
        r.Bits[std::size_t(tone)] = std::uint8_t((tone * 7 + timeMs) % 16);
    return r;
}

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}


class ReadingStoreTest : public ::testing::Test {
protected:
    QTemporaryDir FDir;
    const QString FDirPath = FDir.filePath("store"), FPath = FDirPath + "/history.sqlite";
};

TEST_F(ReadingStoreTest, LayoutAndRoundTrip)
{
    TReadingStore store;
    ASSERT_TRUE(store.Open(FPath)) << store.ErrorText().toStdString(); // its folder made on demand
    TReading wide = MakeReading(3000, "router");
    wide.Bits[500] = 200; // past four bits: kept whole, a byte a tone
    const QString quoted = QString::fromUtf8("r\xc3\xb6uter', \"b\"); DROP TABLE readings; --");
    const std::vector<TReading> recorded = {MakeReading(5000, "127.0.0.5"), MakeReading(1000, "127.0.0.5", false),
        wide, MakeReading(2000, quoted), MakeReading(5000, "127.0.0.5", false)};
    for (const TReading& r : recorded)
        ASSERT_TRUE(store.Record(r));

    RawDb raw(FPath);
    EXPECT_EQ(raw.Text("PRAGMA user_version"), QString::number(TReadingStore::SchemaVersion));
    EXPECT_EQ(raw.Text("PRAGMA journal_mode"), "wal");
    // A block per host and hour, each host named once.
    EXPECT_EQ(raw.Text("SELECT group_concat(count) FROM (SELECT count FROM blocks ORDER BY host_id)"), "3,1,1");
    EXPECT_EQ(raw.Text("SELECT count(*) FROM hosts"), "3");

    const struct {
        std::int64_t since, until;
        QString host;
        std::vector<int> expected; // oldest first; the same time in the order recorded
    } cases[] = {
        {0, 10000, {}, {1, 3, 2, 0, 4}},
        {0, 10000, "127.0.0.5", {1, 0, 4}},
        {2000, 5000, {}, {3, 2}}, // since inclusive, until exclusive
        {0, 10000, quoted, {3}},
        {0, 10000, "127.0.0.9", {}},
    };
    for (const auto& c : cases) {
        std::vector<TReading> expected;
        for (int i : c.expected)
            expected.push_back(recorded[std::size_t(i)]);
        EXPECT_EQ(store.Readings(c.since, c.until, c.host), expected) << c.since << " " << c.host.toStdString();
    }
    EXPECT_EQ(store.Hosts(), (QStringList{"127.0.0.5", "router", quoted})); // by code point
    EXPECT_EQ(store.CountOlderThan(3000), 2);
    EXPECT_EQ(store.DeleteOlderThan(3000), 2);
    EXPECT_EQ(store.Readings(0, 10000), (std::vector<TReading>{wide, recorded[0], recorded[4]}));
}

TEST_F(ReadingStoreTest, FailuresTurnHistoryOffAndLeaveTheFile)
{
    const auto goodStore = [&] {
        TReadingStore store;
        return store.Open(FPath) && store.Record(MakeReading(1000, "h"));
    };
    const auto file = [&](const QByteArray& bytes) {
        QDir().mkpath(FDirPath);
        QFile f(FPath);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    std::unique_ptr<RawDb> other;
    const struct {
        const char* reason;
        std::function<bool()> setup;
        bool failsAtOpen;
        bool toRead = false; // opened only to read
    } cases[] = {
        {"the file is not a database", [&] { return file(QByteArray(8192, 'x')); }, true},
        {"newer version", [&] { return file({}) && RawDb(FPath).Exec("CREATE TABLE readings (x); PRAGMA user_version = 5"); }, true},
        {"another program's database", [&] { return file({}) && RawDb(FPath).Exec("CREATE TABLE accounts (name)"); }, true},
        {"its folder cannot be made", [&] { return QFile(FDirPath).open(QIODevice::WriteOnly); }, true},
        {"the file is read-only", [&] { return goodStore() && MountReadOnly(FDirPath); }, true},
        {"the disk is full", [&] { return QDir().mkpath(FDirPath) && MountSmallTmpfs(FDirPath, 256) && goodStore(); }, false},
        {"there is no such file", [] { return true; }, true, true},
        {"it holds no history", [&] { return file({}); }, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        ASSERT_TRUE(HavePrivateMounts() && c.setup());
        const QByteArray before = FileBytes(FPath);
        TReadingStore store;
        EXPECT_EQ(c.toRead ? store.OpenToRead(FPath) : store.Open(FPath), !c.failsAtOpen);
        if (std::string(c.reason) == "the disk is full") { // what room is left goes to another file
            QFile filler(FDirPath + "/filler");
            filler.open(QIODevice::WriteOnly);
            while (filler.write(QByteArray(4096, 'f')) == 4096 && filler.flush()) {
            }
        }
        EXPECT_FALSE(store.Record(MakeReading(2000, "h")));
        EXPECT_FALSE(store.IsOpen());
        EXPECT_TRUE(store.ErrorText().contains(FPath) && store.ErrorText().contains(c.reason)) << store.ErrorText().toStdString();
        store.Close();
        EXPECT_EQ(FileBytes(FPath), before);
        if (std::string(c.reason) == "the file is read-only") { // still open to read
            EXPECT_TRUE(store.OpenToRead(FPath)) << store.ErrorText().toStdString();
        }
        other.reset();
        Unmount(FDirPath);
        QFile::remove(FDirPath);
        QDir(FDirPath).removeRecursively();
    }
}

// Two programs, each with a store of its own, start on the same new file
// (making it is where they meet hardest) and record at once.
TEST_F(ReadingStoreTest, TwoWritersAtOnceLandEveryReading)
{
    constexpr int Rounds = 10, PerWriter = 40;
    for (int round = 0; round < Rounds; ++round) {
        const QString path = FDir.filePath(QStringLiteral("shared%1/history.sqlite").arg(round));
        const auto write = [&](const QString& host) {
            TReadingStore store;
            bool ok = store.Open(path);
            for (int i = 0; ok && i < PerWriter; ++i)
                ok = store.Record(MakeReading(i, host));
            return ok;
        };
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(write("second") ? 0 : 1);
        int status = -1;
        EXPECT_TRUE(write("first") && ::waitpid(child, &status, 0) == child && status == 0) << round;
        TReadingStore store;
        EXPECT_TRUE(store.Open(path) && store.Readings(0, PerWriter).size() == 2u * PerWriter) << round;
    }
}

} // namespace

namespace {

// The recorder writes on a thread of its own: what it was handed must all be
// in the file, in order, once Flush returns or the recorder is gone; a store
// that cannot be had fails every reading with its reason.
TEST_F(ReadingStoreTest, RecorderStoresEverythingHandedInBeforeItEnds)
{
    const struct {
        const char* name;
        bool usable;
        bool flushInstead; // Flush, and count the signals, instead of ending the recorder
    } cases[] = {{"ended at once", true, false}, {"flushed", true, true}, {"unusable file", false, true}};
    for (const auto& c : cases) {
        const QString path = FDir.filePath(QString::fromLatin1(c.name) + ".sqlite");
        if (!c.usable) {
            QFile junk(path);
            ASSERT_TRUE(junk.open(QIODevice::WriteOnly) && junk.write(QByteArray(4096, 'x')) == 4096);
        }
        std::vector<TReading> handed, recorded;
        QStringList failures;
        {
            TReadingRecorder recorder(path);
            QObject::connect(&recorder, &TReadingRecorder::Recorded, [&](const TReading& r) { recorded.push_back(r); });
            QObject::connect(&recorder, &TReadingRecorder::Failed, [&](const QString& e) { failures << e; });
            for (int i = 0; i < 20; ++i) {
                handed.push_back(MakeReading(1000 + i, "192.168.1.1"));
                recorder.Record(handed.back());
            }
            if (c.flushInstead) {
                recorder.Flush();
                EXPECT_EQ(recorded, c.usable ? handed : std::vector<TReading>{}) << c.name;
                EXPECT_EQ(failures.size(), c.usable ? 0 : 20) << c.name;
                if (!c.usable) {
                    EXPECT_TRUE(failures.value(0).contains(path)) << failures.value(0).toStdString();
                }
            }
        }
        if (!c.usable) {
            EXPECT_EQ(FileBytes(path), QByteArray(4096, 'x')) << c.name;
            continue;
        }
        TReadingStore store;
        ASSERT_TRUE(store.OpenToRead(path)) << c.name;
        EXPECT_EQ(store.Readings(0, INT64_MAX), handed) << c.name;
    }
}

// A delete goes through the writer behind what was handed in before it: an
// older reading handed in before goes with it, one handed in after stays.
// Deleted answers every delete, after Failed when the store is off.
TEST_F(ReadingStoreTest, RecorderDeletesInTheOrderHandedIn)
{
    const struct {
        const char* name;
        std::vector<std::int64_t> stored, before, after; // around a delete of what is older than 2500
        std::vector<std::string> told;
        std::vector<std::int64_t> left;
    } cases[] = {
        {"the older, of each host", {1000, 2000, 3000, 4000}, {}, {}, {"deleted 2"}, {3000, 4000}},
        {"handed in before", {3000}, {1500}, {}, {"recorded 1500", "deleted 1"}, {3000}},
        {"handed in after", {1000, 3000}, {}, {2000}, {"deleted 1", "recorded 2000"}, {2000, 3000}},
        {"off", {}, {}, {}, {"failed", "deleted -1"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Off: a folder where the file should be.
        const QString path = c.stored.empty() ? FDir.path() : FDir.filePath(QString::fromLatin1(c.name));
        TReadingStore store;
        for (std::size_t i = 0; i < c.stored.size(); ++i)
            ASSERT_TRUE((i > 0 || store.Open(path)) && store.Record(MakeReading(c.stored[i], i % 2 ? "b" : "a")));
        std::vector<std::string> told;
        TReadingRecorder recorder(path);
        const auto tell = [&told](std::string what, std::int64_t n) { told.push_back(what + std::to_string(n)); };
        QObject::connect(&recorder, &TReadingRecorder::Recorded, [&](const TReading& r) { tell("recorded ", r.TimeMs); });
        QObject::connect(&recorder, &TReadingRecorder::Deleted, [&](std::int64_t, std::int64_t n) { tell("deleted ", n); });
        QObject::connect(&recorder, &TReadingRecorder::Failed, [&] { told.push_back("failed"); });
        for (const std::int64_t time : c.before)
            recorder.Record(MakeReading(time, "a"));
        recorder.DeleteOlderThan(2500);
        for (const std::int64_t time : c.after)
            recorder.Record(MakeReading(time, "a"));
        recorder.Flush();
        EXPECT_EQ(told, c.told);
        std::vector<std::int64_t> left;
        for (const TReading& r : store.Readings(0, INT64_MAX))
            left.push_back(r.TimeMs);
        EXPECT_EQ(left, c.left);
    }
}

} // namespace
