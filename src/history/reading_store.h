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
#include "history/sqlite_handle.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

class TReadingStore {
public:
    // The layout this program writes, kept in PRAGMA user_version. A file
    // with a higher number was written by a newer program and is left alone.
    static constexpr int SchemaVersion = 1;
    // How long a write waits for another program's write to finish before
    // the store gives up and turns itself off.
    static constexpr int BusyTimeoutMs = 2000;

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
    // Why the store is off; empty while it works (and before any Open).
    QString ErrorText() const { return FErrorText; }
    // Closes the file; ErrorText() stays as it was.
    void Close();

    // Adds one reading. False: the store has turned itself off (ErrorText()).
    bool Record(const TReading& reading);

    // Oldest first; since inclusive, until exclusive; empty host = every host.
    std::vector<TReading> Readings(std::int64_t sinceMs, std::int64_t untilMs,
        const QString& host = {}) const;
    // Distinct hosts, sorted.
    QStringList Hosts() const;
    std::int64_t CountOlderThan(std::int64_t timeMs) const;
    // The number of readings deleted.
    std::int64_t DeleteOlderThan(std::int64_t timeMs);

private:
    bool Fail(const QString& reason);
    bool Fail(int code);
    bool OpenFile(const QString& path, bool forWriting);
    bool Prepare(TSqliteStatement& statement, const char* sql);
    bool CreateSchema();

    QString FPath;
    QString FErrorText;
    TSqliteDb FDb; // declared before its statements, so it outlives them
    TSqliteStatement FInsert;
    TSqliteStatement FSelectHost;
    TSqliteStatement FSelectAll;
    TSqliteStatement FHosts;
    TSqliteStatement FCountOlder;
    TSqliteStatement FDeleteOlder;
};

// The tone bits as the store keeps them: two tones a byte (tone 2k in the
// high half) when every value fits in four bits, one byte a tone otherwise,
// so nothing a reading holds is ever lost.
QByteArray PackToneBits(const std::vector<std::uint8_t>& bits);
// Bits of a line of toneCount tones. False when the size is neither form;
// the bits are then all 0.
bool UnpackToneBits(const void* data, int size, std::vector<std::uint8_t>& bits, int toneCount = ToneCount);
