// The reading store against real SQLite files: the layout it makes, readings
// in and out again, and every way a file can be unusable, each of which must
// turn history off with a message naming the file and leave the file exactly
// as it was. Read-only and full disks are real mounts in the test's own
// mount namespace (the tests run as root, for whom permission bits mean
// nothing).
#include "history/reading_store.h"
#include "support/private_mounts.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

TReading MakeReading(std::int64_t timeMs, const QString& host, bool completed = true, int seed = 0)
{
    TReading r;
    r.TimeMs = timeMs;
    r.Host = host;
    r.Completed = completed;
    for (int tone = 1; tone < ReadingToneCount; ++tone)
        r.Bits[std::size_t(tone)] = std::uint8_t((tone * 7 + seed) % 16);
    return r;
}

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// A connection of the test's own, as another program would hold it.
struct RawDb {
    explicit RawDb(const QString& path)
    {
        sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
            nullptr);
    }
    ~RawDb() { sqlite3_close(db); }
    int Exec(const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }
    QString Text(const char* sql)
    {
        sqlite3_stmt* s = nullptr;
        QString text;
        if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
            text = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
        sqlite3_finalize(s);
        return text;
    }
    sqlite3* db = nullptr;
};

class ReadingStoreTest : public ::testing::Test {
protected:
    QString PathIn(const QString& relative) const { return FDir.filePath(relative); }
    QTemporaryDir FDir;
};

TEST_F(ReadingStoreTest, MakesFolderAndLayout)
{
    const QString path = PathIn(QStringLiteral("new/folder/history.sqlite"));
    TReadingStore store;
    ASSERT_TRUE(store.Open(path)) << store.ErrorText().toStdString();
    EXPECT_TRUE(store.ErrorText().isEmpty());
    ASSERT_TRUE(store.Record(MakeReading(1000, QStringLiteral("127.0.0.5"))));

    RawDb raw(path);
    const struct {
        const char* sql;
        const char* expected;
    } cases[] = {
        {"PRAGMA user_version", "1"},
        {"PRAGMA journal_mode", "wal"},
        {"SELECT group_concat(name, ',') FROM pragma_table_info('readings')", "id,time_ms,host,completed,bits"},
        {"SELECT group_concat(name, ',') FROM (SELECT name FROM sqlite_schema WHERE type = 'index' ORDER BY name)",
            "readings_by_host,readings_by_time"},
        // Two tones a byte when every value fits in four bits.
        {"SELECT length(bits) FROM readings", "257"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(raw.Text(c.sql), QString::fromLatin1(c.expected)) << c.sql;
}

TEST_F(ReadingStoreTest, RoundTrip)
{
    TReadingStore store;
    ASSERT_TRUE(store.Open(PathIn(QStringLiteral("history.sqlite"))));
    TReading wide = MakeReading(3000, QStringLiteral("router"));
    wide.Bits[500] = 200; // past four bits: kept in a byte a tone, not cut
    const std::vector<TReading> recorded = {
        MakeReading(5000, QStringLiteral("127.0.0.5"), true, 1),
        MakeReading(1000, QStringLiteral("127.0.0.5"), false, 2), // an outage, recorded late
        wide,
        MakeReading(2000, QStringLiteral("r\u00f6uter, \"b\"'; DROP TABLE readings; --"), true, 3),
        MakeReading(5000, QStringLiteral("127.0.0.5"), true, 4), // same time: kept in the order recorded
    };
    for (const TReading& r : recorded)
        ASSERT_TRUE(store.Record(r));

    const struct {
        const char* name;
        std::int64_t since, until;
        QString host;
        std::vector<int> expected; // indexes into recorded, oldest first
    } cases[] = {
        {"every host", 0, 10000, {}, {1, 3, 2, 0, 4}},
        {"one host", 0, 10000, QStringLiteral("127.0.0.5"), {1, 0, 4}},
        {"since inclusive", 2000, 10000, {}, {3, 2, 0, 4}},
        {"until exclusive", 0, 5000, {}, {1, 3, 2}},
        {"quoted host", 0, 10000, recorded[3].Host, {3}},
        {"unknown host", 0, 10000, QStringLiteral("127.0.0.9"), {}},
        {"empty span", 3000, 3000, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<TReading> got = store.Readings(c.since, c.until, c.host);
        ASSERT_EQ(got.size(), c.expected.size());
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(got[i], recorded[std::size_t(c.expected[i])]) << "reading " << i;
    }
    // Sorted by code point: "router" before "r\u00f6uter".
    EXPECT_EQ(store.Hosts(), (QStringList{QStringLiteral("127.0.0.5"), QStringLiteral("router"), recorded[3].Host}));
    EXPECT_EQ(store.CountOlderThan(3000), 2);
    EXPECT_EQ(store.DeleteOlderThan(3000), 2);
    EXPECT_EQ(store.CountOlderThan(3000), 0);
    EXPECT_EQ(store.Readings(0, 10000).size(), 3u);

    // A second store on the same file sees it all, outages still marked.
    TReadingStore again;
    ASSERT_TRUE(again.Open(store.Path()));
    const std::vector<TReading> reread = again.Readings(0, 10000);
    ASSERT_EQ(reread.size(), 3u);
    EXPECT_EQ(reread[0], wide);
    EXPECT_EQ(reread[0].Bits[500], 200);
}

TEST_F(ReadingStoreTest, PackedBits)
{
    std::array<std::uint8_t, ReadingToneCount> bits{};
    const struct {
        int tone, value, size;
    } cases[] = {
        {0, 15, 257}, {511, 9, 257}, {512, 15, 257}, {512, 16, 513}, {1, 255, 513},
    };
    for (const auto& c : cases) {
        bits.fill(3);
        bits[std::size_t(c.tone)] = std::uint8_t(c.value);
        const QByteArray packed = PackToneBits(bits);
        EXPECT_EQ(packed.size(), c.size) << c.tone;
        std::array<std::uint8_t, ReadingToneCount> back{};
        EXPECT_TRUE(UnpackToneBits(packed.constData(), int(packed.size()), back));
        EXPECT_EQ(back, bits) << "tone " << c.tone << " value " << c.value;
    }
    std::array<std::uint8_t, ReadingToneCount> back{};
    EXPECT_FALSE(UnpackToneBits("abc", 3, back));
}

// Each way a store can be unusable: the setup makes the file (and mounts), the
// step is what fails. The file must be left byte for byte as it was.
TEST_F(ReadingStoreTest, FailuresTurnHistoryOff)
{
    const QString dir = PathIn(QStringLiteral("store"));
    const QString path = dir + QStringLiteral("/history.sqlite");
    const auto goodStore = [&] {
        QDir().mkpath(dir);
        TReadingStore store;
        return store.Open(path) && store.Record(MakeReading(1000, QStringLiteral("h")));
    };
    std::unique_ptr<RawDb> blocker;
    struct Case {
        const char* name;
        bool needsMounts;
        std::function<bool()> setup;
        bool failsAtOpen;
        const char* reason;
    };
    const Case cases[] = {
        {"not a database", false,
            [&] {
                QDir().mkpath(dir);
                QFile f(path);
                return f.open(QIODevice::WriteOnly) && f.write(QByteArray(8192, 'x')) == 8192;
            },
            true, "the file is not a database"},
        {"newer layout", false,
            [&] {
                QDir().mkpath(dir);
                RawDb raw(path);
                return raw.Exec("CREATE TABLE readings (x); PRAGMA user_version = 2") == SQLITE_OK;
            },
            true, "newer version"},
        {"another program's database", false,
            [&] {
                QDir().mkpath(dir);
                RawDb raw(path);
                return raw.Exec("CREATE TABLE accounts (name TEXT)") == SQLITE_OK;
            },
            true, "another program's database"},
        {"folder cannot be made", false,
            [&] {
                QFile f(dir);
                return f.open(QIODevice::WriteOnly); // a file where the folder should be
            },
            true, "its folder cannot be made"},
        {"read-only", true, [&] { return goodStore() && MountReadOnly(dir); }, true, "read-only"},
        {"disk full", true,
            [&] {
                QDir().mkpath(dir);
                return MountSmallTmpfs(dir, 256) && goodStore();
            },
            false, "the disk is full"},
        {"locked too long", false,
            [&] {
                if (!goodStore())
                    return false;
                blocker = std::make_unique<RawDb>(path);
                return blocker->Exec("BEGIN IMMEDIATE") == SQLITE_OK;
            },
            false, "locked for longer than 2 s"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsMounts && !HavePrivateMounts()) {
            ADD_FAILURE() << "no private mounts: run the tests as root";
            continue;
        }
        ASSERT_TRUE(c.setup());
        const QByteArray before = FileBytes(path);

        TReadingStore store;
        const bool opened = store.Open(path);
        EXPECT_EQ(opened, !c.failsAtOpen);
        if (opened) {
            if (std::string(c.name) == "disk full") {
                // Whatever room is left goes to another file.
                QFile filler(dir + QStringLiteral("/filler"));
                ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
                const QByteArray block(4096, 'f');
                while (filler.write(block) == block.size() && filler.flush()) {
                }
            }
            EXPECT_FALSE(store.Record(MakeReading(2000, QStringLiteral("h"))));
        }
        EXPECT_FALSE(store.IsOpen());
        EXPECT_TRUE(store.ErrorText().contains(path)) << store.ErrorText().toStdString();
        EXPECT_TRUE(store.ErrorText().contains(QLatin1String(c.reason))) << store.ErrorText().toStdString();
        // Off for good: nothing more is tried.
        EXPECT_FALSE(store.Record(MakeReading(3000, QStringLiteral("h"))));
        EXPECT_TRUE(store.Readings(0, 10000).empty());
        store.Close();
        EXPECT_EQ(FileBytes(path), before);

        blocker.reset();
        if (c.needsMounts)
            Unmount(dir);
        QFile::remove(dir);
        QDir(dir).removeRecursively();
    }
}

// Opening only to read makes nothing, writes nothing, and works on a store
// the user may not write.
TEST_F(ReadingStoreTest, OpenToRead)
{
    const QString dir = PathIn(QStringLiteral("kept"));
    const QString path = dir + QStringLiteral("/history.sqlite");
    {
        TReadingStore store;
        ASSERT_TRUE(store.Open(path));
        ASSERT_TRUE(store.Record(MakeReading(1000, QStringLiteral("h"))));
    }
    const QString empty = PathIn(QStringLiteral("empty.sqlite"));
    QFile(empty).open(QIODevice::WriteOnly);
    const struct {
        const char* name;
        QString path;
        bool readOnlyMount;
        std::size_t readings; // or the reason it fails
        const char* reason;
    } cases[] = {
        {"a store", path, false, 1, ""},
        {"a store on a read-only disk", path, true, 1, ""},
        {"no file", PathIn(QStringLiteral("none/history.sqlite")), false, 0, "there is no such file"},
        {"an empty file", empty, false, 0, "it holds no history"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.readOnlyMount) {
            ASSERT_TRUE(HavePrivateMounts() && MountReadOnly(dir));
        }
        const QByteArray before = FileBytes(c.path);
        TReadingStore store;
        EXPECT_EQ(store.OpenToRead(c.path), *c.reason == '\0') << store.ErrorText().toStdString();
        EXPECT_TRUE(store.ErrorText().contains(QLatin1String(c.reason)));
        EXPECT_EQ(store.Readings(0, 10000).size(), c.readings);
        EXPECT_FALSE(store.Record(MakeReading(2000, QStringLiteral("h"))));
        EXPECT_EQ(store.DeleteOlderThan(10000), 0);
        store.Close();
        EXPECT_EQ(FileBytes(c.path), before);
        EXPECT_FALSE(QFile::exists(PathIn(QStringLiteral("none"))));
        if (c.readOnlyMount)
            Unmount(dir);
    }
}

// Two programs at once, each on a store of its own, both starting on the same
// new file (making it is where they meet hardest) and then recording.
TEST_F(ReadingStoreTest, TwoWritersAtOnceLandEveryReading)
{
    constexpr int Rounds = 10;
    constexpr int PerWriter = 40;
    for (int round = 0; round < Rounds; ++round) {
        SCOPED_TRACE(round);
        const QString path = PathIn(QStringLiteral("shared%1/history.sqlite").arg(round));
        const auto write = [&](const QString& host, TReadingStore& store) {
            bool ok = store.Open(path);
            for (int i = 0; ok && i < PerWriter; ++i)
                ok = store.Record(MakeReading(i, host));
            return ok;
        };
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            TReadingStore store;
            const bool ok = write(QStringLiteral("second"), store);
            if (!ok)
                std::fprintf(stderr, "second writer: %s\n", qPrintable(store.ErrorText()));
            ::_exit(ok ? 0 : 1);
        }
        TReadingStore store;
        const bool ok = write(QStringLiteral("first"), store);
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(ok) << store.ErrorText().toStdString();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(store.Readings(0, PerWriter, QStringLiteral("first")).size(), std::size_t(PerWriter));
        EXPECT_EQ(store.Readings(0, PerWriter, QStringLiteral("second")).size(), std::size_t(PerWriter));
    }
}

} // namespace
