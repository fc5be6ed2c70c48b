// The second layout of the history file on real SQLite files: readings of
// any line kept exactly, the conversion of a first-layout file (whole, or
// not at all when killed part-way), damaged blocks named instead of shown as
// zeros, and a busy file that holds a reading for the next write and turns
// no delete into lasting failure.
#include "history/store/block_row.h"
#include "history/store/block_summary.h"
#include "history/store/reading_blocks.h"
#include "history/store/reading_store.h"
#include "support/older_layouts.h"
#include "support/private_mounts.h"
#include "support/raw_db.h"
#include "support/version1_store.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <map>
#include <thread>

namespace {

constexpr std::int64_t Minute = 60'000;
constexpr std::int64_t Hour = 60 * Minute;

// Today's line, a few tones moving each minute, an outage now and then.
TReading LineReading(std::int64_t minute, const QString& host = QStringLiteral("127.0.0.1"))
{
    TReading r = ZyxelReading(1'700'000'000'000 + minute * Minute, host, minute % 97 != 13);
    for (int tone = 6; tone < ZyxelToneCount; ++tone)
        r.Bits[std::size_t(tone)] = std::uint8_t((tone / 20 + (tone % 7 == minute % 7 ? 1 : 0)) % 16);
    return r;
}

// A VDSL2 line of 4096 tones, 8.625 kHz apart, three bands a side.
TReading VdslReading(std::int64_t minute)
{
    TReading r;
    r.TimeMs = 1'700'000'000'000 + minute * Minute;
    r.Host = QStringLiteral("127.0.0.2");
    r.Completed = true;
    r.Bits.assign(4096, 0);
    for (int tone = 33; tone < 4096; ++tone)
        r.Bits[std::size_t(tone)] = std::uint8_t((tone * 5 + minute) % 16);
    r.SpacingKHz = 8.625;
    r.Bands = {{{6, 31}, {870, 1205}, {1972, 2782}}, {{33, 859}, {1216, 1961}, {2793, 4095}}};
    r.Router = QStringLiteral("broadcom");
    r.Mode = QStringLiteral("VDSL2 17a");
    return r;
}

// The VDSL2 line with what a cycle reads besides its bits: its outcome, figures
// and SNR of 512 groups a direction, minute by minute moving a little.
TReading VdslWithExtras(std::int64_t minute)
{
    TReading r = VdslReading(minute);
    r.Outcome = TReadingOutcome::LineUp;
    r.Figures.State = QStringLiteral("Showtime");
    r.Figures.Down.RateKbps = 68000;
    r.Figures.Down.MarginDb = 6.1 + double(minute % 3) / 10;
    r.Figures.Up.AttenuationDb = 0.0; // printed as 0.0, which is not "not measured"
    r.Figures.Down.Crc = 4'294'967'000ULL + std::uint64_t(minute) * 7; // wraps past 2^32 within the block
    r.Figures.SinceLinkS = 3600 + minute * 60;
    r.Spectra.Snr.Down.GroupSize = 8;
    r.Spectra.Snr.Down.Groups.assign(512, NotMeasured);
    for (std::size_t g = 4; g < 500; ++g)
        r.Spectra.Snr.Down.Groups[g] = float(30 + (g + std::size_t(minute)) % 9) + 0.5f;
    r.Spectra.Qln.Up = {16, {-140.5f, NotMeasured, 1.0f / 3.0f}}; // a value finer than a tenth
    return r;
}

// A ZyXEL line's few minutes with what a new layout could get wrong: a
// figure of 0 beside absent ones, a value finer than a tenth, a counter that
// starts over, a reading that answered nothing between, SNR groups not measured.
std::vector<TReading> TrickyMinutes()
{
    std::vector<TReading> readings;
    for (std::int64_t minute = 0; minute < 4; ++minute) {
        TReading r = LineReading(minute);
        r.Completed = minute != 2;
        r.Outcome = r.Completed ? TReadingOutcome::LineUp : TReadingOutcome::NoAnswer;
        if (r.Completed) {
            r.Figures.State = QStringLiteral("Showtime");
            r.Figures.Down.RateKbps = 8000;
            r.Figures.Down.MarginDb = 12.3 + double(minute) / 10;
            r.Figures.Down.AttenuationDb = 0.0;
            r.Figures.Down.PowerDbm = 12.05;
            r.Figures.Down.Crc = minute == 1 ? 2 : 10 + std::uint64_t(minute);
            if (minute != 1)
                r.Figures.Up.Fec = 5 + std::uint64_t(minute) * 3;
            r.Figures.SinceLinkS = 600 + minute * 61;
            r.Spectra.Snr.Down = {8, {30.5f, NotMeasured, 1.0f / 3.0f, float(minute)}};
        }
        readings.push_back(r);
    }
    return readings;
}

// An hour of a line as the store keeps it, a reading every minute or so: a
// rate that holds, a margin moving a tenth now and then, attenuation every
// third reading, counters growing each minute and one starting over, and
// one cycle that answered nothing.
std::vector<TReading> AnHour()
{
    std::vector<TReading> readings = TrickyMinutes();
    for (std::int64_t minute = 4; minute < 60; ++minute) {
        TReading r = readings[1];
        r.TimeMs = readings[1].TimeMs + (minute - 1) * Minute + (minute * 337) % 900;
        r.Figures.Down.MarginDb = minute % 20 == 0 ? 12.5 : 12.4;
        r.Figures.Up.AttenuationDb = 20.0 + double(minute / 3) / 10;
        r.Figures.Down.Crc = minute < 40 ? std::uint64_t(minute * 3 + minute % 3) : std::uint64_t(minute - 40);
        r.Figures.SinceLinkS = minute < 40 ? 600 + (r.TimeMs - readings[1].TimeMs) / 1000 : minute - 40;
        readings.push_back(r);
    }
    readings[30].Outcome = TReadingOutcome::NoAnswer;
    readings[30].Figures = {};
    readings[30].Spectra = {};
    return readings;
}

// Blocks keep every reading's outcome, figures and spectra exactly, as the
// changes from the reading before, through readings that have none.
TEST(ReadingBlocks, KeepExtrasExactly)
{
    const auto changed = [](std::int64_t minute, auto&& change) {
        TReading r = VdslWithExtras(minute);
        change(r);
        return r;
    };
    const struct {
        const char* name;
        std::vector<TReading> readings;
    } cases[] = {
        {"moving figures and SNR", {VdslWithExtras(0), VdslWithExtras(1), VdslWithExtras(2)}},
        {"a reading without any between", {VdslWithExtras(0), VdslReading(1), VdslWithExtras(2)}},
        {"figures gone, state kept", {VdslWithExtras(0), changed(1, [](TReading& r) { r.Figures.Down = {}; })}},
        {"line down in its words", {VdslWithExtras(0), changed(1, [](TReading& r) {
             r.Outcome = TReadingOutcome::LineDown;
             r.Completed = false;
             r.Figures = {};
             r.Figures.State = QStringLiteral("G.994 Training");
             r.Spectra = {};
         })}},
        {"group size changes", {VdslWithExtras(0), changed(1, [](TReading& r) {
             r.Spectra.Snr.Down.GroupSize = 16;
             r.Spectra.Snr.Down.Groups.resize(256);
         })}},
        {"every outcome", {changed(0, [](TReading& r) { r.Outcome = TReadingOutcome::NoAnswer; }),
             changed(1, [](TReading& r) { r.Outcome = TReadingOutcome::LoginRefused; }),
             changed(2, [](TReading& r) { r.Outcome = TReadingOutcome::NotUnderstood; })}},
        {"0 beside absent, finer than a tenth, a counter reset", TrickyMinutes()},
        {"changes listed, marked and in every reading", AnHour()},
        {"counters at their ends", {changed(0, [](TReading& r) { r.Figures.Down.Crc = 0; }),
             changed(1, [](TReading& r) { r.Figures.Down.Crc = 1; }),
             changed(2, [](TReading& r) { r.Figures.Down.Crc = (1ULL << 63) + 1; }),
             changed(3, [](TReading& r) { r.Figures.Down.Crc = ~0ULL; r.Figures.SinceLinkS = -1; })}},
        {"spectra past a reading with figures only", {VdslWithExtras(0),
             changed(1, [](TReading& r) { r.Spectra = {}; }), changed(2, [](TReading& r) { r.Figures = {}; })}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TReading> read, fromRow;
        ASSERT_TRUE(DecodeBlock(EncodeBlock(c.readings), c.readings.front().Host, read));
        ASSERT_EQ(read.size(), c.readings.size());
        for (std::size_t i = 0; i < read.size(); ++i)
            EXPECT_TRUE(read[i] == c.readings[i]) << "reading " << i;
        // The same as a row, the block starting from its summary's first complete reading.
        const TBlockRow row = EncodeBlockRow(c.readings);
        ASSERT_TRUE(DecodeBlockRow(row.Data, row.Summary, c.readings.front().Host, fromRow));
        EXPECT_TRUE(fromRow == c.readings);
    }
}

// A block that starts from its summary is read with that summary only: never
// without it, with a damaged one, or with another block's.
TEST(ReadingBlocks, ABlockIsReadWithItsOwnSummaryOnly)
{
    const std::vector<TReading> hour = AnHour();
    const TBlockRow row = EncodeBlockRow(hour), other = EncodeBlockRow({LineReading(100)});
    const struct {
        const char* name;
        QByteArray summary;
        bool read;
    } cases[] = {
        {"its own", row.Summary, true},
        {"none", QByteArray(), false},
        {"damaged", row.Summary.left(row.Summary.size() / 2), false},
        {"another hour's", other.Summary, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TReading> read;
        EXPECT_EQ(DecodeBlockRow(row.Data, c.summary, hour.front().Host, read), c.read);
    }
}

// A block cut short anywhere is damaged, never read as fewer readings or
// as figures that stop part-way.
TEST(ReadingBlocks, ABlockCutShortIsDamaged)
{
    QByteArray raw;
    ASSERT_TRUE(Inflate(EncodeBlock(AnHour()), raw));
    std::vector<TReading> read;
    for (qsizetype size = 1; size < raw.size(); ++size)
        EXPECT_FALSE(DecodeBlock(Deflate(raw.left(size)), QStringLiteral("127.0.0.1"), read)) << size;
}

// TrickyMinutes as a block of format 2, as the last release wrote it: such
// blocks are on users' disks and are read as they are.
TEST(ReadingBlocks, ReadFormat2Blocks)
{
    const QByteArray block = QByteArray::fromBase64(
        "8BF4nNWWO07DQBCG9+X4bQuFBsQBoIY68hGQuAFSJJBANEg8qnABeigQLUnDESg4DgUVEg1idjZKdmfmAvmL/byOHWV+/TsT"
        "4/rZ6+Lv9/TBKa9ha9BqoodZkd3f3U4v1FI6hjYaFcMYa1ARrLXOotZwoMy5BJnXKEsQlCcoclSCoixQMcqyKlERqqqqK9Qa"
        "Naip6wSNV9skCOoS9B0qQa96VAxiHYJYhyDWIYh1CGIdilgX1pw7SKxDEOsQiXXtx1supUCoQQs1GKEGK9SQCTVkQg0joYZc"
        "qKEohRRUQgpqIQWNkIJOSEEnpKAXUkAPkAc9QB70AIUzxB2kBwhXIQX0AOUYAu4gPUAeiXVNFIKNTfISlZCCWkhBK6SgFVLQ"
        "CSnohRSwNgpgbTTYxxxkbdSvQgpYGw2tlDnI2iiAtdFg39q6uBNsbJKXoKPAi44CXIUU0FHQYQh4Cugo8ODDNGSAOsiHKaxC"
        "CvgwxVbKHOTDNB/xYRoyQB1MrIOfpq0qTs6ubq7PL6dQw+raKj37HPtAAJRT+gvufFv8w3B06HUwWB96LB2uzPMTaGd/8HdW"
        "G3hxW2nsmbsqErxQebf2cAdPvZfwln/spTGFs+pxrN1iPp+oEWy1PTbwtekHP/ofQGpdLg==");
    const std::vector<TReading> expected = TrickyMinutes();
    std::vector<TReading> read;
    ASSERT_TRUE(DecodeBlock(block, expected.front().Host, read));
    EXPECT_EQ(read, expected);
}

// A summary as files written before kept them: the first and latest
// readings compressed apart, then every tone's least and most bits below and
// above the latest reading's and every tone's changes (format 1), or six
// bytes a tone for the tones where one of them says something (format 2).
QByteArray EarlierSummary(const TBlockSummary& s, quint8 format)
{
    QByteArray raw;
    QDataStream out(&raw, QIODevice::WriteOnly);
    out << format << qint64(s.FirstMs) << qint64(s.LastMs) << qint32(s.Count) << qint32(s.CompleteCount)
        << quint32(s.FailedMs.size());
    for (const std::int64_t t : s.FailedMs)
        out << qint64(t);
    if (s.CompleteCount == 0)
        return Deflate(raw);
    out << EncodeBlock({s.FirstComplete, s.LatestComplete}) << quint32(s.Min.size());
    const auto below = [&](std::size_t tone) { return quint8(ToneBitsAt(s.LatestComplete, int(tone)) - s.Min[tone]); };
    const auto above = [&](std::size_t tone) { return quint8(s.Max[tone] - ToneBitsAt(s.LatestComplete, int(tone))); };
    if (format == 1) {
        for (std::size_t tone = 0; tone < s.Min.size(); ++tone)
            out << below(tone) << above(tone);
        for (const std::uint16_t changes : s.Changes)
            out << changes;
    } else {
        QByteArray entries;
        for (std::size_t tone = 0; tone < s.Min.size(); ++tone) {
            if (below(tone) == 0 && above(tone) == 0 && s.Changes[tone] == 0)
                continue;
            const char entry[] = {char(tone >> 8), char(tone), char(below(tone)), char(above(tone)),
                char(s.Changes[tone] >> 8), char(s.Changes[tone])};
            entries.append(entry, sizeof entry);
        }
        out << quint32(entries.size() / 6);
        out.writeRawData(entries.constData(), int(entries.size()));
    }
    for (const TRatePoint& p : s.Extremes)
        out << qint64(p.TimeMs) << qint32(p.UpBits) << qint32(p.DownBits);
    return Deflate(raw);
}

// A summary reads back as it was, in today's form and the earlier ones; so
// does its first complete reading alone, the base of the block beside it,
// read from as little of the summary as holds it.
TEST(BlockSummaries, TodaysAndEarlierFormRead)
{
    const auto minutes = [](int count, auto&& make) {
        std::vector<TReading> readings;
        for (int minute = 0; minute < count; ++minute)
            readings.push_back(make(minute));
        return readings;
    };
    TReading noTones = LineReading(0);
    noTones.Bits.clear();
    const struct {
        const char* name;
        std::vector<TReading> readings;
    } cases[] = {
        {"an hour of today's line", minutes(60, [](int m) { return LineReading(m); })},
        {"a VDSL2 line with its figures and SNR", minutes(60, [](int m) { return VdslWithExtras(m); })},
        {"failed cycles first", minutes(50, [](int m) {
             TReading r = LineReading(m);
             r.Completed = m >= 45;
             return r;
         })},
        {"every cycle failed", minutes(5, [](int m) { return ZyxelReading(1'700'000'000'000 + m * Minute); })},
        {"a line of no tones, shorter than the head", {noTones}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TBlockSummary summary = SummaryOf(c.readings);
        for (const QByteArray& data : {EncodeSummary(summary), EarlierSummary(summary, 1), EarlierSummary(summary, 2)}) {
            TBlockSummary read;
            TReading first;
            EXPECT_TRUE(DecodeSummary(data, c.readings.front().Host, read));
            EXPECT_TRUE(read == summary);
            EXPECT_EQ(DecodeSummaryFirst(data, c.readings.front().Host, first), summary.CompleteCount > 0);
            EXPECT_TRUE(summary.CompleteCount == 0 || first == summary.FirstComplete);
        }
    }
}

// Compression keeps one stream a thread: whatever the block before left of
// it (a damaged block, one inflated only in part), the next comes back whole.
TEST(ReadingBlocks, EachBlockInflatesAfresh)
{
    const QByteArray whole = EncodeBlockBytes(AnHour()), packed = Deflate(whole);
    QByteArray raw;
    for (const bool damaged : {true, false}) {
        if (damaged)
            EXPECT_FALSE(Inflate(packed.left(packed.size() / 2), raw));
        else
            EXPECT_EQ(TInflatingStart(packed, raw).Upto(10), 10u);
        ASSERT_TRUE(Inflate(packed, raw));
        EXPECT_EQ(raw, whole) << (damaged ? "after a damaged block" : "after a start only");
    }
}

std::vector<TReading> Everything(const QString& path, TReadResult* result = nullptr)
{
    TReadingStore store;
    if (!store.OpenToRead(path))
        return {};
    return store.Readings(INT64_MIN, INT64_MAX, {}, result);
}

class StoreLayoutTest : public ::testing::Test {
protected:
    QTemporaryDir FDir;
    const QString FPath = FDir.filePath("history.sqlite");
};

// Readings of lines of every kind come back exactly, also when the line
// changes inside a block and readings arrive out of time order.
TEST_F(StoreLayoutTest, ReadingsOfAnyLineComeBackExactly)
{
    TReading wide = LineReading(3);
    wide.Bits[500] = 255;
    TReading eightK = VdslReading(7);
    eightK.Bits.assign(MaxToneCount, 9);
    eightK.Mode = QStringLiteral("VDSL2 35b");
    TReading unknown = VdslReading(8);
    unknown.Mode.clear();
    unknown.Router = QStringLiteral("lantiq");
    const struct {
        const char* name;
        std::vector<TReading> recorded;
    } cases[] = {
        {"today's line", {LineReading(0), LineReading(1), LineReading(2), wide, LineReading(4)}},
        {"4096 tones, another plan", {VdslReading(0), VdslReading(1), VdslReading(2)}},
        {"the line changes in the hour", {VdslReading(5), eightK, unknown, VdslReading(9)}},
        {"out of order", {LineReading(30), LineReading(10), LineReading(20), LineReading(10)}},
        {"two hosts, across hours", {LineReading(50), LineReading(59, "b"), LineReading(61), LineReading(65, "b")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(FPath);
        TReadingStore store;
        ASSERT_TRUE(store.Open(FPath)) << store.ErrorText().toStdString();
        for (const TReading& r : c.recorded)
            ASSERT_EQ(store.Write(r), TRecordResult::Written);
        std::vector<TReading> expected = c.recorded;
        std::stable_sort(expected.begin(), expected.end(),
                         [](const TReading& a, const TReading& b) { return a.TimeMs < b.TimeMs; });
        TReadResult result;
        EXPECT_EQ(store.Readings(INT64_MIN, INT64_MAX, {}, &result), expected);
        EXPECT_TRUE(result.Complete()) << result.Text().toStdString();
        store.Close();
        EXPECT_EQ(Everything(FPath), expected);
        RawDb raw(FPath);
        EXPECT_EQ(raw.Text("PRAGMA user_version"), QString::number(TReadingStore::SchemaVersion));
        EXPECT_EQ(raw.Text("PRAGMA auto_vacuum"), "2"); // incremental
    }
}

// A first-layout file is converted on opening to write, every reading kept;
// opened only to read (or on a read-only disk) it is read as it is.
TEST_F(StoreLayoutTest, Version1FilesConvertBitForBit)
{
    std::vector<TReading> year;
    for (int m = 0; m < 3000; m += 1)
        year.push_back(LineReading(m, m % 3 ? "127.0.0.1" : "router \"north\""));
    year[40].Bits[100] = 200; // a byte a tone in the old file
    std::vector<TReading> burst; // more readings in an hour than a block holds
    for (int s = 0; s < 700; ++s) {
        burst.push_back(LineReading(0));
        burst.back().TimeMs += s * 1000;
    }
    const struct {
        const char* name;
        std::vector<TReading> readings;
        bool readOnlyDisk;
    } cases[] = {
        {"two hosts, two days", year, false},
        {"a burst of Plot clicks", burst, false},
        {"no readings", {}, false},
        {"read-only disk", {LineReading(1), LineReading(2)}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(FDir.filePath("v1")).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(FDir.filePath("v1")));
        const QString path = FDir.filePath("v1/history.sqlite");
        ASSERT_TRUE(WriteVersion1Store(path, c.readings));
        if (c.readOnlyDisk) {
            ASSERT_TRUE(HavePrivateMounts() && MountReadOnly(FDir.filePath("v1")));
        }
        TReadResult before;
        EXPECT_EQ(Everything(path, &before), c.readings);
        EXPECT_TRUE(before.Complete());
        TReadingStore store;
        EXPECT_EQ(store.Open(path), !c.readOnlyDisk) << store.ErrorText().toStdString();
        store.Close();
        EXPECT_EQ(Everything(path), c.readings);
        if (c.readOnlyDisk) {
            Unmount(FDir.filePath("v1"));
            EXPECT_EQ(RawDb(path).Text("PRAGMA user_version"), "1");
            continue;
        }
        RawDb raw(path);
        EXPECT_EQ(raw.Text("PRAGMA user_version"), QString::number(TReadingStore::SchemaVersion));
        EXPECT_EQ(raw.Text("SELECT count(*) FROM sqlite_schema WHERE name LIKE 'readings%'"), "0");
        EXPECT_EQ(raw.Text("PRAGMA auto_vacuum"), "2");
    }
}

// Whether a connection of another process holds the file's write lock, as
// a transaction that writes does until it ends. Asked without waiting, and
// let go at once.
bool WriteLockHeld(const QString& path)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    sqlite3_busy_timeout(db, 0);
    const int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return rc == SQLITE_BUSY;
}

// A conversion killed part-way leaves the first layout, whole; the next
// opening converts it.
TEST_F(StoreLayoutTest, AConversionKilledPartWayLeavesTheOldFile)
{
    std::vector<TReading> readings;
    for (int m = 0; m < 60'000; ++m)
        readings.push_back(LineReading(m));
    const QString original = FDir.filePath("original.sqlite");
    ASSERT_TRUE(WriteVersion1Store(original, readings));
    int killedPartWay = 0, killedInTransaction = 0;
    for (const int delayMs : {0, 5, 20, 60, 150, 400, 1000}) {
        SCOPED_TRACE(delayMs);
        QFile::remove(FPath);
        QFile::remove(FPath + "-wal");
        QFile::remove(FPath + "-shm");
        ASSERT_TRUE(QFile::copy(original, FPath));
        const pid_t child = ::fork();
        if (child == 0) {
            TReadingStore store;
            ::_exit(store.Open(FPath) ? 0 : 1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        // The write lock held by someone else at the kill: the conversion's
        // transaction was open.
        const bool openAtKill = WriteLockHeld(FPath);
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        // Killed before its commit the file is still of the first layout;
        // after it (while giving space back, or ending) of the second.
        const QString version = RawDb(FPath).Text("PRAGMA user_version");
        EXPECT_TRUE(version == "1" || version == QString::number(TReadingStore::SchemaVersion)) << version.toStdString();
        killedPartWay += WIFSIGNALED(status) && version == "1";
        killedInTransaction += WIFSIGNALED(status) && version == "1" && openAtKill;
        EXPECT_EQ(Everything(FPath), readings);
        TReadingStore store;
        ASSERT_TRUE(store.Open(FPath)) << store.ErrorText().toStdString();
        EXPECT_EQ(store.Readings(INT64_MIN, INT64_MAX), readings);
    }
    EXPECT_GT(killedPartWay, 0);
    // Not only killed before it opened the file: at least once with its
    // transaction open.
    EXPECT_GT(killedInTransaction, 0);
}

// Another program converting the file holds its write lock for seconds: a
// store opened meanwhile waits for it past the usual busy wait, instead of
// turning itself off.
TEST_F(StoreLayoutTest, AnOpeningWaitsForAnotherProgramsConversion)
{
    const std::vector<TReading> readings{LineReading(1), LineReading(2)};
    ASSERT_TRUE(WriteVersion1Store(FPath, readings));
    RawDb converting(FPath);
    ASSERT_TRUE(converting.Exec("BEGIN IMMEDIATE"));
    std::thread ending([&converting] {
        std::this_thread::sleep_for(std::chrono::milliseconds(TReadingStore::BusyTimeoutMs + 1000));
        converting.Exec("ROLLBACK");
    });
    TReadingStore store;
    EXPECT_TRUE(store.Open(FPath)) << store.ErrorText().toStdString();
    ending.join();
    EXPECT_EQ(store.Readings(INT64_MIN, INT64_MAX), readings);
}

// A conversion empties the file's log when it ends, with the store still
// open: the old layout's size never stays on disk beside the new file.
TEST_F(StoreLayoutTest, AConversionLeavesAnEmptyLog)
{
    std::vector<TReading> readings;
    for (int m = 0; m < 4'000; ++m)
        readings.push_back(LineReading(m));
    const struct {
        const char* name;
        const char* sql; // turns today's file into the old one; nullptr: the first layout
    } cases[] = {
        {"version 1", nullptr},
        {"version 2", "ALTER TABLE blocks DROP COLUMN summary; PRAGMA user_version = 2"},
        {"version 3", "PRAGMA user_version = 3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* end : {"", "-wal", "-shm"})
            QFile::remove(FPath + end);
        if (c.sql) {
            {
                TReadingStore store;
                ASSERT_TRUE(store.Open(FPath));
                for (const TReading& reading : readings)
                    ASSERT_TRUE(store.Record(reading));
            }
            ASSERT_TRUE(BlocksStandAlone(FPath));
            ASSERT_TRUE(RawDb(FPath).Exec(c.sql));
        } else {
            ASSERT_TRUE(WriteVersion1Store(FPath, readings));
        }
        TReadingStore store;
        ASSERT_TRUE(store.Open(FPath)) << store.ErrorText().toStdString();
        EXPECT_EQ(RawDb(FPath).Text("PRAGMA user_version"), QString::number(TReadingStore::SchemaVersion));
        EXPECT_EQ(QFileInfo(FPath + "-wal").size(), 0);
        EXPECT_EQ(store.Readings(INT64_MIN, INT64_MAX), readings);
    }
}

// A damaged block is named with its host and period; the rest is read.
TEST_F(StoreLayoutTest, ADamagedBlockIsNamedNotZeros)
{
    const struct {
        const char* name;
        const char* damage; // to the block of 127.0.0.1's second hour
    } cases[] = {
        {"bytes overwritten", "UPDATE blocks SET data = zeroblob(length(data)) WHERE id = 2"},
        {"cut short", "UPDATE blocks SET data = substr(data, 1, length(data) / 2) WHERE id = 2"},
        {"count wrong", "UPDATE blocks SET count = count + 1 WHERE id = 2"},
        {"empty", "UPDATE blocks SET data = x'' WHERE id = 2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(FPath);
        std::vector<TReading> recorded, expected;
        {
            TReadingStore store;
            ASSERT_TRUE(store.Open(FPath));
            for (int m = 0; m < 180; m += 10) {
                recorded.push_back(LineReading(m));
                ASSERT_TRUE(store.Record(recorded.back()));
            }
        }
        const std::int64_t hourOf = recorded[0].TimeMs / Hour;
        for (const TReading& r : recorded)
            if (r.TimeMs / Hour != hourOf + 1)
                expected.push_back(r);
        ASSERT_TRUE(RawDb(FPath).Exec(c.damage));
        TReadResult result;
        EXPECT_EQ(Everything(FPath, &result), expected);
        ASSERT_EQ(result.Unread.size(), 1u);
        EXPECT_EQ(result.Unread[0].Host, "127.0.0.1");
        EXPECT_EQ(result.Unread[0].FromMs / Hour, hourOf + 1);
        EXPECT_EQ(result.Unread[0].ToMs / Hour, hourOf + 1);
        EXPECT_TRUE(result.Text().contains("Could not read the readings of 127.0.0.1 from")) << result.Text().toStdString();
        // Recording goes on past it, into a block of its own.
        TReadingStore store;
        ASSERT_TRUE(store.Open(FPath));
        TReading later = LineReading(70);
        EXPECT_EQ(store.Write(later), TRecordResult::Written);
        EXPECT_EQ(store.Readings(later.TimeMs, later.TimeMs + 1), std::vector<TReading>{later});
    }
}

// Another program holding the file: the reading is held, not lost, and
// goes in with the next write; history stays on.
TEST_F(StoreLayoutTest, ABusyFileHoldsTheReadingForTheNextWrite)
{
    const struct {
        const char* name;
        const char* hold;
        bool retryAlone; // the held reading goes by itself, not with a new one
    } cases[] = {
        {"write lock, then the next reading", "BEGIN IMMEDIATE", false},
        {"exclusive lock, then a retry", "BEGIN EXCLUSIVE", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(FPath);
        TReadingStore store;
        ASSERT_TRUE(store.Open(FPath));
        ASSERT_TRUE(store.Record(LineReading(0)));
        RawDb other(FPath);
        ASSERT_TRUE(other.Exec(c.hold) && other.Exec("DELETE FROM hosts WHERE id < 0"));
        std::vector<TReading> written;
        EXPECT_EQ(store.Write(LineReading(1), &written), TRecordResult::Held);
        EXPECT_TRUE(written.empty());
        EXPECT_EQ(store.HeldCount(), 1);
        EXPECT_EQ(store.DeleteOlderThan(INT64_MAX), TReadingStore::DeleteBusy); // deletes nothing, stays on
        EXPECT_TRUE(store.IsOpen() && store.ErrorText().isEmpty());
        ASSERT_TRUE(other.Exec("COMMIT"));
        std::vector<TReading> expected = {LineReading(0), LineReading(1)};
        if (c.retryAlone) {
            EXPECT_EQ(store.WriteHeld(&written), TRecordResult::Written);
        } else {
            EXPECT_EQ(store.Write(LineReading(2), &written), TRecordResult::Written);
            expected.push_back(LineReading(2));
        }
        EXPECT_EQ(written, std::vector<TReading>(expected.begin() + 1, expected.end()));
        EXPECT_EQ(store.HeldCount(), 0);
        EXPECT_EQ(store.Readings(INT64_MIN, INT64_MAX), expected);
    }
}

// Deleting old readings keeps the newer part of a block and gives the space back.
TEST_F(StoreLayoutTest, DeletingGivesTheSpaceBack)
{
    TReadingStore store;
    ASSERT_TRUE(store.Open(FPath));
    std::vector<TReading> recorded;
    std::uint32_t noise = 1;
    for (int m = 0; m < 600; ++m) {
        recorded.push_back(VdslReading(m));
        for (std::uint8_t& bits : recorded.back().Bits) { // barely compressible
            noise = noise * 1664525u + 1013904223u;
            bits = std::uint8_t(noise >> 28);
        }
    }
    for (const TReading& r : recorded)
        ASSERT_TRUE(store.Record(r));
    RawDb raw(FPath);
    raw.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    const int pagesBefore = raw.Text("PRAGMA page_count").toInt();
    const std::int64_t cut = recorded[570].TimeMs + 1; // in the middle of an hour
    EXPECT_EQ(store.CountOlderThan(cut), 571);
    EXPECT_EQ(store.DeleteOlderThan(cut), 571);
    EXPECT_EQ(store.Readings(INT64_MIN, INT64_MAX), std::vector<TReading>(recorded.begin() + 571, recorded.end()));
    raw.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    EXPECT_LT(raw.Text("PRAGMA page_count").toInt(), pagesBefore / 4);
}

} // namespace

// A long period is read as its blocks' summaries: each equals the summary of
// the block's readings in the period, however the file holds it.
TEST_F(StoreLayoutTest, SummariesAreThoseOfTheBlocksReadings)
{
    std::vector<TReading> readings;
    for (int minute = 0; minute < 150; minute += 3)
        readings.push_back(minute < 100 ? LineReading(minute) : VdslReading(minute));
    readings.push_back(LineReading(110, QStringLiteral("b")));
    const std::int64_t start = readings.front().TimeMs;
    const char* const secondLayout = "ALTER TABLE blocks DROP COLUMN summary; PRAGMA user_version = 2";
    const char* const damagedSummaries = "UPDATE blocks SET summary = x'0102'";
    const struct {
        const char* sql;  // done to the file before it is read
        bool standAlone;  // its blocks first made to stand alone, as earlier layouts wrote them
        bool toWrite;     // opened to write (a second-layout file is converted)
        int version;
        std::int64_t since, until;
        int unread;
    } cases[] = {
        {nullptr, false, false, TReadingStore::SchemaVersion, INT64_MIN, INT64_MAX, 0},
        {nullptr, false, false, TReadingStore::SchemaVersion, start + 20 * Minute, start + 130 * Minute, 0}, // blocks cut by the period
        {damagedSummaries, true, false, TReadingStore::SchemaVersion, INT64_MIN, INT64_MAX, 0},
        // Today's blocks start from their summaries: each block goes with its summary, named.
        {damagedSummaries, false, false, TReadingStore::SchemaVersion, INT64_MIN, INT64_MAX, 4},
        {secondLayout, true, false, 2, INT64_MIN, INT64_MAX, 0},
        {secondLayout, true, true, TReadingStore::SchemaVersion, INT64_MIN, INT64_MAX, 0},
        {"UPDATE blocks SET data = x'00', summary = NULL WHERE id = 1", false, false, TReadingStore::SchemaVersion, INT64_MIN, INT64_MAX, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.sql ? c.sql : "") + (c.toWrite ? ", to write" : ""));
        QFile::remove(FPath);
        {
            TReadingStore store;
            ASSERT_TRUE(store.Open(FPath));
            for (const TReading& r : readings)
                ASSERT_TRUE(store.Record(r));
        }
        if (c.standAlone) {
            ASSERT_TRUE(BlocksStandAlone(FPath));
        }
        if (c.sql) {
            ASSERT_TRUE(RawDb(FPath).Exec(c.sql));
        }
        TReadingStore store;
        ASSERT_TRUE(c.toWrite ? store.Open(FPath) : store.OpenToRead(FPath));
        EXPECT_EQ(store.Version(), c.version);
        // What the summaries should be: the period's readings an hour of a host at a time.
        std::map<std::pair<QString, std::int64_t>, TBlockSummary> expected;
        store.ReadEach(c.since, c.until, {}, [&](const TReading& r) {
            expected[{r.Host, r.TimeMs / Hour}].Add(r);
            return true;
        });
        std::map<std::pair<QString, std::int64_t>, TBlockSummary> read;
        const TReadResult result = store.ReadSummaries(c.since, c.until, {}, [&](const QString& host, const TBlockSummary& s) {
            EXPECT_TRUE(read.emplace(std::pair(host, s.FirstMs / Hour), s).second);
            return true;
        });
        EXPECT_EQ(int(result.Unread.size()), c.unread);
        EXPECT_TRUE(read == expected);
    }
}

// Readings recorded one by one, each added to its hour's block, come back
// with their outcome, figures and spectra.
TEST_F(StoreLayoutTest, FourthLayoutKeepsExtrasThroughTheFile)
{
    std::vector<TReading> readings;
    for (std::int64_t minute = 0; minute < 150; ++minute)
        readings.push_back(VdslWithExtras(minute));
    {
        TReadingStore store;
        ASSERT_TRUE(store.Open(FPath));
        for (const TReading& r : readings)
            ASSERT_TRUE(store.Record(r));
    }
    EXPECT_EQ(Everything(FPath), readings);
}
