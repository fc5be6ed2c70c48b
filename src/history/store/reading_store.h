// The line history: every reading the monitor or the reader takes, kept in
// one SQLite file per user. The store never repairs, truncates or deletes a
// file it cannot use; it turns itself off instead and says why, and whoever
// owns it goes on without history.
//
// Several programs may write one file at once (write-ahead log, a busy
// time-out); each keeps its own TReadingStore. A store is used from one
// thread.
#pragma once

#include "line/reading.h"
#include "history/store/sqlite_handle.h"
#include "history/store/store_format.h"

#include <QByteArray>

struct TBlockSummary;
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

// A stretch of one host's readings a read could not take from the file.
struct TUnreadPeriod {
    QString Host;
    std::int64_t FromMs = 0; // the first and the last reading it held
    std::int64_t ToMs = 0;
    QString Reason;
};

// Whether a read took everything it was asked for. A step of the read that
// failed is an error, never the end of the data: what was read is kept and
// the rest is named here.
struct TReadResult {
    std::vector<TUnreadPeriod> Unread; // damaged blocks, the rest were read
    QString ErrorText;                 // the read broke off: why and where
    bool Complete() const { return Unread.empty() && ErrorText.isEmpty(); }
    // "Could not read the readings of 127.0.0.1 from ... to ...: the block is damaged", one a line.
    QString Text() const;
};

enum class TRecordResult {
    Written, // this reading and every one held before it are in the file
    Held,    // the file was busy: kept in memory, written with the next one
    Off,     // the store has turned itself off (ErrorText())
};

class TReadingStore {
public:
    // The layout this program writes, kept in PRAGMA user_version. A file
    // with a higher number was written by a newer program and is left alone;
    // one of version 1 (a row a reading) or 2 (blocks without summaries) is
    // converted on opening to write.
    static constexpr int SchemaVersion = StoreFormat::SchemaVersion;
    // How long a write waits for another program's write to finish before
    // the reading is held for the next write.
    static constexpr int BusyTimeoutMs = StoreFormat::BusyTimeoutMs;
    // How long opening an older file waits for another program's conversion
    // of it (seconds for a year of readings) before it gives up; it then
    // finds the file converted.
    static constexpr int ConversionWaitMs = 120'000;
    // Readings held while the file is busy; past this the oldest is dropped.
    static constexpr int MaxHeld = 1440;
    // A block holds one host's readings of one hour, at most this many.
    static constexpr std::int64_t BlockSpanMs = StoreFormat::BlockSpanMs;
    static constexpr int MaxBlockReadings = 240;

    TReadingStore();
    ~TReadingStore();
    TReadingStore(const TReadingStore&) = delete;
    TReadingStore& operator=(const TReadingStore&) = delete;

    // The user's own store: <AppDataLocation>/history.sqlite.
    static QString DefaultPath();

    // Opens (or makes) the store at path, making its folder on demand.
    // False: the store is off and ErrorText() names the file and the reason.
    bool Open(const QString& path);
    // Opens an existing store only to read it: nothing is made, nothing is
    // written (the file may be read-only); Record and DeleteOlderThan do nothing.
    bool OpenToRead(const QString& path);
    bool IsOpen() const { return FDb != nullptr; }
    QString Path() const { return FPath; }
    // The file's layout: 1 to 3 for an old file opened only to read, else 4.
    int Version() const { return FVersion; }
    // Why the store is off; empty while it works (and before any Open).
    QString ErrorText() const { return FErrorText; }
    // Closes the file; ErrorText() stays as it was.
    void Close();

    // Adds one reading; a busy file holds it for the next write. written,
    // when given, receives the readings that reached the file, oldest first.
    TRecordResult Write(const TReading& reading, std::vector<TReading>* written = nullptr);
    // As Write; false only when the store has turned itself off.
    bool Record(const TReading& reading) { return Write(reading) != TRecordResult::Off; }
    // Tries the held readings again, with nothing new.
    TRecordResult WriteHeld(std::vector<TReading>* written = nullptr);
    int HeldCount() const { return int(FHeld.size()); }

    // Every reading of the period, oldest first, to `each` (which returns
    // false to stop); since inclusive, until exclusive; empty host = every
    // host. The memory it takes is a block's, whatever the period.
    TReadResult ReadEach(std::int64_t sinceMs, std::int64_t untilMs, const QString& host,
        const std::function<bool(const TReading&)>& each) const;
    // The period as summaries, oldest first, a block's readings of one host
    // each (every host's when host is empty): a block partly in the period is
    // summarised from its readings in it, one without a summary from its
    // readings. A long period costs its blocks' summaries, not its readings.
    // Each summary is the caller's to keep (move from) if it wants it.
    TReadResult ReadSummaries(std::int64_t sinceMs, std::int64_t untilMs, const QString& host,
        const std::function<bool(const QString& host, TBlockSummary&)>& each) const;
    std::vector<TReading> Readings(std::int64_t sinceMs, std::int64_t untilMs,
        const QString& host = {}, TReadResult* result = nullptr) const;
    // Distinct hosts, sorted.
    QStringList Hosts() const;
    // A number that changes whenever another connection has changed the file
    // since it was last asked (SQLite's data_version): a cheap look for news.
    // -1 while the store is off.
    std::int64_t DataVersion() const;
    std::int64_t CountOlderThan(std::int64_t timeMs) const;
    // About how many readings the period holds (of the blocks it touches), for
    // making room ahead of a read.
    std::int64_t CountBetween(std::int64_t sinceMs, std::int64_t untilMs, const QString& host = {}) const;
    // The number of readings deleted, held ones included; the file gives
    // the space back. -1
    // when the store is off, -2 when another program kept the file busy
    // (nothing deleted, the store stays on: a passing state).
    static constexpr std::int64_t DeleteBusy = -2;
    std::int64_t DeleteOlderThan(std::int64_t timeMs);

private:
    bool Fail(const QString& reason);
    bool Fail(int code);
    bool OpenFile(const QString& path, bool forWriting);
    bool Prepare(TSqliteStatement& statement, const char* sql);
    bool CreateSchema();
    // The older layouts (old_formats.cpp).
    bool PrepareVersion1Reads();
    bool MigrateFromVersion1();
    bool MigrateFromVersion2();
    bool MigrateFromVersion3();
    // One transaction: every held reading; SQLite's code.
    int WriteHeldNow();
    int AddToBlock(const TReading& reading);
    std::int64_t HostId(const QString& host, int* rc);
    TReadResult ReadEachV1(std::int64_t sinceMs, std::int64_t untilMs, const QString& host,
        const std::function<bool(const TReading&)>& each) const;

    QString FPath;
    QString FErrorText;
    int FVersion = 0;
    std::vector<TReading> FHeld;
    TSqliteDb FDb; // declared before its statements, so it outlives them
    TSqliteStatement FSelectHost;
    TSqliteStatement FSelectAll;
    TSqliteStatement FHosts;
    TSqliteStatement FSummaries;
    TSqliteStatement FFindHost;
    TSqliteStatement FAddHost;
    TSqliteStatement FLastBlock;
    TSqliteStatement FUpdateBlock;
    TSqliteStatement FInsertBlock;
};

// The tone bits as the store keeps them: two tones a byte (tone 2k in the
// high half) when every value fits in four bits, one byte a tone otherwise,
// so nothing a reading holds is ever lost.
QByteArray PackToneBits(const std::vector<std::uint8_t>& bits);
// Bits of a line of toneCount tones. False when the size is neither form;
// the bits are then all 0.
bool UnpackToneBits(const void* data, int size, std::vector<std::uint8_t>& bits, int toneCount = ZyxelToneCount);
