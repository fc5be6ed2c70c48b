#include "history/store/reading_store.h"

#include "history/store/block_row.h"
#include "history/store/block_summary.h"
#include "history/store/reading_blocks.h"
#include "history/store/store_sql.h"
#include "line/output_formats.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <cstring>

using namespace StoreSql;

namespace {

// A block is read with its summary, which may hold the block's base; a
// version-2 file read as it is has no summaries, nor blocks that need them.
constexpr char SelectHostSql[] = "SELECT b.span, b.first_ms, b.last_ms, b.count, b.data, h.name, b.summary"
                                " FROM blocks b JOIN hosts h ON h.id = b.host_id"
                                " WHERE h.name = ?3 AND b.span >= ?1 AND b.span <= ?2 ORDER BY b.span, b.id";
constexpr char SelectAllSql[] = "SELECT b.span, b.first_ms, b.last_ms, b.count, b.data, h.name, b.summary"
                               " FROM blocks b JOIN hosts h ON h.id = b.host_id"
                               " WHERE b.span >= ?1 AND b.span <= ?2 ORDER BY b.span, b.id";
constexpr char V2SelectHostSql[] = "SELECT b.span, b.first_ms, b.last_ms, b.count, b.data, h.name, NULL"
                                  " FROM blocks b JOIN hosts h ON h.id = b.host_id"
                                  " WHERE h.name = ?3 AND b.span >= ?1 AND b.span <= ?2 ORDER BY b.span, b.id";
constexpr char V2SelectAllSql[] = "SELECT b.span, b.first_ms, b.last_ms, b.count, b.data, h.name, NULL"
                                 " FROM blocks b JOIN hosts h ON h.id = b.host_id"
                                 " WHERE b.span >= ?1 AND b.span <= ?2 ORDER BY b.span, b.id";
constexpr char HostsSql[] = "SELECT name FROM hosts ORDER BY name";
// A version-2 file read as it is has no summaries: they are made from the blocks.
constexpr char SummariesSql[] = "SELECT b.span, b.first_ms, b.last_ms, b.count, b.data, h.name, b.summary"
                                " FROM blocks b JOIN hosts h ON h.id = b.host_id"
                                " WHERE (?3 = '' OR h.name = ?3) AND b.span >= ?1 AND b.span <= ?2 ORDER BY b.span, b.id";
constexpr char V2SummariesSql[] = "SELECT b.span, b.first_ms, b.last_ms, b.count, b.data, h.name, NULL"
                                  " FROM blocks b JOIN hosts h ON h.id = b.host_id"
                                  " WHERE (?3 = '' OR h.name = ?3) AND b.span >= ?1 AND b.span <= ?2 ORDER BY b.span, b.id";

// Names a file of ours may hold; anything else means another program's database.
bool IsOwnObject(const QByteArray& name)
{
    static const QByteArray own[] = {"readings", "readings_by_host", "readings_by_time", "hosts",
        "blocks", "blocks_by_host", "blocks_by_span", "sqlite_autoindex_hosts_1"};
    return std::find(std::begin(own), std::end(own), name) != std::end(own);
}

bool IsBusy(int code)
{
    return (code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED;
}

// Switching a new file to the log needs it to itself. Two programs making the
// same file at once may each hold a read lock while asking for that, and
// SQLite then answers one of them "busy" at once instead of waiting (waiting
// could never end); that one tries again until the busy time-out has passed.
void ExecUntilFree(sqlite3* db, const char* sql, int* rc)
{
    constexpr int PauseMs = 10;
    for (int waited = 0;; waited += PauseMs) {
        ExecInteger(db, sql, rc);
        if ((*rc & 0xff) != SQLITE_BUSY || waited >= TReadingStore::BusyTimeoutMs)
            return;
        sqlite3_sleep(PauseMs);
    }
}

} // namespace

QByteArray PackToneBits(const std::vector<std::uint8_t>& bits)
{
    const int toneCount = int(bits.size());
    bool fitsNibbles = true;
    for (std::uint8_t b : bits)
        fitsNibbles = fitsNibbles && b <= 15;
    if (!fitsNibbles)
        return QByteArray(reinterpret_cast<const char*>(bits.data()), toneCount);
    QByteArray packed((toneCount + 1) / 2, '\0');
    char* bytes = packed.data(); // one detach, not one a tone
    for (int tone = 0; tone < toneCount; ++tone) {
        const int shift = tone % 2 == 0 ? 4 : 0;
        bytes[tone / 2] = char(std::uint8_t(bytes[tone / 2]) | (bits[std::size_t(tone)] << shift));
    }
    return packed;
}

bool UnpackToneBits(const void* data, int size, std::vector<std::uint8_t>& bits, int toneCount)
{
    bits.assign(std::size_t(std::max(toneCount, 0)), 0);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (size == toneCount && bytes) {
        std::memcpy(bits.data(), bytes, std::size_t(toneCount));
        return true;
    }
    if (size != (toneCount + 1) / 2 || !bytes)
        return false;
    for (int tone = 0; tone < toneCount; ++tone)
        bits[std::size_t(tone)] = tone % 2 == 0 ? bytes[tone / 2] >> 4 : bytes[tone / 2] & 0x0f;
    return true;
}

TReadingStore::TReadingStore() = default;

TReadingStore::~TReadingStore() = default;

QString TReadingStore::DefaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
        + QStringLiteral("/history.sqlite");
}

bool TReadingStore::Fail(const QString& reason)
{
    FErrorText = QStringLiteral("Cannot use the line history in %1: %2")
                     .arg(QDir::toNativeSeparators(FPath), reason);
    Close();
    return false;
}

bool TReadingStore::Fail(int code)
{
    return Fail(ReasonFor(FDb.get(), code));
}

void TReadingStore::Close()
{
    FSelectHost.reset();
    FSelectAll.reset();
    FHosts.reset();
    FSummaries.reset();
    FFindHost.reset();
    FAddHost.reset();
    FLastBlock.reset();
    FUpdateBlock.reset();
    FInsertBlock.reset();
    FDb.reset();
    FVersion = 0;
}

bool TReadingStore::Prepare(TSqliteStatement& statement, const char* sql)
{
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v3(FDb.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
    statement.reset(raw);
    return rc == SQLITE_OK || Fail(rc);
}

bool TReadingStore::Open(const QString& path)
{
    return OpenFile(path, true);
}

bool TReadingStore::OpenToRead(const QString& path)
{
    return OpenFile(path, false);
}

bool TReadingStore::OpenFile(const QString& path, bool forWriting)
{
    Close();
    FPath = path;
    FErrorText.clear();
    FHeld.clear();

    const QFileInfo info(path);
    if (forWriting && !QDir().mkpath(info.absolutePath()))
        return Fail(QStringLiteral("its folder cannot be made"));
    if (info.isDir())
        return Fail(QStringLiteral("it is a folder"));
    if (!forWriting && !info.exists())
        return Fail(QStringLiteral("there is no such file"));

    const auto openDb = [&](const QByteArray& name, int flags) {
        sqlite3* raw = nullptr;
        const int code = sqlite3_open_v2(name.constData(), &raw, flags, nullptr);
        FDb.reset(raw);
        sqlite3_extended_result_codes(FDb.get(), 1);
        sqlite3_busy_timeout(FDb.get(), BusyTimeoutMs);
        return code;
    };
    int rc = openDb(QFile::encodeName(path),
        forWriting ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY);
    if (rc != SQLITE_OK)
        return Fail(rc);
    // Reading a logged store needs its shared-memory file, which a read-only
    // folder cannot hold when no writer has left one; nobody can be writing
    // there, so the file is read as it lies.
    if (!forWriting) {
        ExecInteger(FDb.get(), "PRAGMA user_version", &rc);
        if ((rc & 0xff) == SQLITE_CANTOPEN)
            rc = openDb(QUrl::fromLocalFile(info.absoluteFilePath()).toEncoded() + "?immutable=1",
                SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
        if (rc != SQLITE_OK)
            return Fail(rc);
    }

    // A file that cannot be written is opened for reading instead; a store
    // for recording counts that as a failure.
    if (forWriting && sqlite3_db_readonly(FDb.get(), "main") == 1)
        return Fail(QStringLiteral("the file is read-only"));

    // Everything up to the schema only reads, so a file that is not ours is
    // left exactly as it was.
    std::int64_t version = ExecInteger(FDb.get(), "PRAGMA user_version", &rc);
    if (rc != SQLITE_OK)
        return Fail(rc);
    if (version > SchemaVersion) {
        return Fail(QStringLiteral("it was written by a newer version of this program "
                                   "(history format %1; this one knows up to %2)")
                        .arg(version)
                        .arg(SchemaVersion));
    }
    if (version == 0) {
        sqlite3_stmt* objects = nullptr;
        rc = sqlite3_prepare_v2(FDb.get(), "SELECT name FROM sqlite_schema", -1, &objects, nullptr);
        TSqliteStatement owned(objects);
        if (rc != SQLITE_OK)
            return Fail(rc);
        while ((rc = sqlite3_step(objects)) == SQLITE_ROW) {
            const QByteArray name(reinterpret_cast<const char*>(sqlite3_column_text(objects, 0)));
            if (!IsOwnObject(name))
                return Fail(QStringLiteral("it is another program's database"));
        }
        if (rc != SQLITE_DONE)
            return Fail(rc);
        if (!forWriting)
            return Fail(QStringLiteral("it holds no history"));
    }

    if (!forWriting) {
        FVersion = int(version);
        if (version == 1)
            return PrepareVersion1Reads();
        return Prepare(FSelectHost, version == 2 ? V2SelectHostSql : SelectHostSql)
            && Prepare(FSelectAll, version == 2 ? V2SelectAllSql : SelectAllSql) && Prepare(FHosts, HostsSql)
            && Prepare(FSummaries, version == 2 ? V2SummariesSql : SummariesSql);
    }

    // A new file gives the space of deleted readings back on request; this
    // has to be said before its first table.
    if (version == 0)
        ExecInteger(FDb.get(), "PRAGMA auto_vacuum = INCREMENTAL", &rc);
    // The log lets a reader and several writers share the file; a commit
    // then needs no flush of its own, so recording never holds up a cycle.
    ExecUntilFree(FDb.get(), "PRAGMA journal_mode = WAL", &rc);
    if (rc != SQLITE_OK)
        return Fail(rc);
    ExecInteger(FDb.get(), "PRAGMA synchronous = NORMAL", &rc);
    if (rc != SQLITE_OK)
        return Fail(rc);
    if (version == 0 && !CreateSchema())
        return false;
    if (version >= 1 && version < SchemaVersion)
        sqlite3_busy_timeout(FDb.get(), ConversionWaitMs);
    if (version == 1 && !MigrateFromVersion1())
        return false;
    if (version == 2 && !MigrateFromVersion2())
        return false;
    if (version == 3 && !MigrateFromVersion3())
        return false;
    sqlite3_busy_timeout(FDb.get(), BusyTimeoutMs);
    // A conversion leaves the old layout's pages in the log, which would keep
    // the old size on disk beside the new file until the program closes
    // cleanly; they go now. A failure costs space, not readings.
    if (version >= 1 && version < SchemaVersion) {
        int ignored = SQLITE_OK;
        ExecInteger(FDb.get(), "PRAGMA wal_checkpoint(TRUNCATE)", &ignored);
    }
    FVersion = SchemaVersion;

    return Prepare(FSelectHost, SelectHostSql) && Prepare(FSelectAll, SelectAllSql) && Prepare(FHosts, HostsSql)
        && Prepare(FSummaries, SummariesSql)
        && Prepare(FFindHost, "SELECT id FROM hosts WHERE name = ?1")
        && Prepare(FAddHost, "INSERT INTO hosts (name) VALUES (?1)")
        && Prepare(FLastBlock,
            "SELECT id, count, data, summary FROM blocks WHERE host_id = ?1 AND span = ?2 ORDER BY id DESC LIMIT 1")
        && Prepare(FUpdateBlock,
            "UPDATE blocks SET first_ms = ?2, last_ms = ?3, count = ?4, data = ?5, summary = ?6 WHERE id = ?1")
        && Prepare(FInsertBlock, "INSERT INTO blocks (host_id, span, first_ms, last_ms, count, data, summary)"
                                 " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
}

bool TReadingStore::CreateSchema()
{
    // Two programs may make the same new file at once: the write lock is
    // taken first and the version looked at again under it.
    sqlite3* db = FDb.get();
    const int rc = InTransaction(db, [db] {
        int code = SQLITE_OK;
        const std::int64_t version = ExecInteger(db, "PRAGMA user_version", &code);
        return code != SQLITE_OK || version != 0 ? code : CreateTables(db);
    });
    return rc == SQLITE_OK || Fail(rc);
}

std::int64_t TReadingStore::HostId(const QString& host, int* rc)
{
    const QByteArray name = host.toUtf8();
    {
        const TStatementRun run(FFindHost.get());
        sqlite3_bind_text(run.get(), 1, name.constData(), int(name.size()), SQLITE_STATIC);
        *rc = sqlite3_step(run.get());
        if (*rc == SQLITE_ROW) {
            *rc = SQLITE_OK;
            return sqlite3_column_int64(run.get(), 0);
        }
        if (*rc != SQLITE_DONE)
            return 0;
    }
    const TStatementRun run(FAddHost.get());
    sqlite3_bind_text(run.get(), 1, name.constData(), int(name.size()), SQLITE_STATIC);
    *rc = sqlite3_step(run.get());
    *rc = *rc == SQLITE_DONE ? SQLITE_OK : *rc;
    return sqlite3_last_insert_rowid(FDb.get());
}

int TReadingStore::AddToBlock(const TReading& reading)
{
    int rc = SQLITE_OK;
    const std::int64_t hostId = HostId(reading.Host, &rc);
    if (rc != SQLITE_OK)
        return rc;
    const std::int64_t span = SpanOf(reading.TimeMs);
    std::vector<TReading> readings;
    std::int64_t blockId = 0;
    TBlockSummary summary;
    bool summaryHeld = false;
    {
        const TStatementRun run(FLastBlock.get());
        sqlite3_bind_int64(run.get(), 1, hostId);
        sqlite3_bind_int64(run.get(), 2, span);
        rc = sqlite3_step(run.get());
        // A full block, or a damaged one (left as it is, for its readings to
        // be reported), is followed by a new one.
        if (rc == SQLITE_ROW && sqlite3_column_int(run.get(), 1) < MaxBlockReadings
            && DecodeBlockRow(BlobAt(run.get(), 2), BlobAt(run.get(), 3), reading.Host, readings, &summary)
            && std::int64_t(readings.size()) == sqlite3_column_int64(run.get(), 1)) {
            blockId = sqlite3_column_int64(run.get(), 0);
            // A reading after the others only adds to the summary.
            summaryHeld = reading.TimeMs >= readings.back().TimeMs && summary.Count == std::int64_t(readings.size());
        }
        else if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            return rc;
    }
    if (blockId == 0)
        readings.clear();
    // In time order; a reading of the same time as others goes after them.
    const auto at = std::upper_bound(readings.begin(), readings.end(), reading.TimeMs,
                                     [](std::int64_t t, const TReading& r) { return t < r.TimeMs; });
    readings.insert(at, reading);
    if (summaryHeld)
        summary.Add(reading);
    else
        summary = SummaryOf(readings);
    const TBlockRow row = EncodeBlockRow(readings, summary);
    const TStatementRun run(blockId ? FUpdateBlock.get() : FInsertBlock.get());
    if (blockId) {
        sqlite3_bind_int64(run.get(), 1, blockId);
    } else {
        sqlite3_bind_int64(run.get(), 1, hostId);
        sqlite3_bind_int64(run.get(), 2, span);
    }
    const int first = blockId ? 2 : 3;
    sqlite3_bind_int64(run.get(), first, readings.front().TimeMs);
    sqlite3_bind_int64(run.get(), first + 1, readings.back().TimeMs);
    sqlite3_bind_int64(run.get(), first + 2, std::int64_t(readings.size()));
    sqlite3_bind_blob(run.get(), first + 3, row.Data.constData(), int(row.Data.size()), SQLITE_STATIC);
    sqlite3_bind_blob(run.get(), first + 4, row.Summary.constData(), int(row.Summary.size()), SQLITE_STATIC);
    rc = sqlite3_step(run.get());
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int TReadingStore::WriteHeldNow()
{
    return InTransaction(FDb.get(), [this] {
        for (const TReading& reading : FHeld) {
            const int rc = AddToBlock(reading);
            if (rc != SQLITE_OK)
                return rc;
        }
        return SQLITE_OK;
    });
}

TRecordResult TReadingStore::Write(const TReading& reading, std::vector<TReading>* written)
{
    if (!FInsertBlock)
        return TRecordResult::Off;
    FHeld.push_back(reading);
    if (int(FHeld.size()) > MaxHeld)
        FHeld.erase(FHeld.begin());
    return WriteHeld(written);
}

TRecordResult TReadingStore::WriteHeld(std::vector<TReading>* written)
{
    if (!FInsertBlock)
        return TRecordResult::Off;
    if (FHeld.empty())
        return TRecordResult::Written;
    const int rc = WriteHeldNow();
    if (rc == SQLITE_OK) {
        if (written)
            written->insert(written->end(), FHeld.begin(), FHeld.end());
        FHeld.clear();
        return TRecordResult::Written;
    }
    // Another program writing at length is a passing state; everything else
    // (not a database, no space, no permission) lasts.
    if (IsBusy(rc))
        return TRecordResult::Held;
    FHeld.clear();
    Fail(rc);
    return TRecordResult::Off;
}

std::int64_t TReadingStore::DeleteOlderThan(std::int64_t timeMs)
{
    if (!FInsertBlock)
        return -1;
    sqlite3* db = FDb.get();
    std::int64_t deleted = 0;
    const int rc = InTransaction(db, [&]() -> int {
        // Blocks wholly older go at once; one that straddles the time keeps
        // its newer readings.
        sqlite3_stmt* raw = nullptr;
        sqlite3_prepare_v2(db, "SELECT id, last_ms, count, data, summary FROM blocks WHERE first_ms < ?1", -1, &raw,
                           nullptr);
        const TSqliteStatement blocks(raw);
        if (!raw)
            return sqlite3_errcode(db);
        sqlite3_bind_int64(raw, 1, timeMs);
        struct TKept {
            std::int64_t id;
            std::vector<TReading> readings;
        };
        std::vector<TKept> kept;
        std::vector<std::int64_t> gone;
        int code = SQLITE_OK;
        while ((code = sqlite3_step(raw)) == SQLITE_ROW) {
            const std::int64_t id = sqlite3_column_int64(raw, 0);
            if (sqlite3_column_int64(raw, 1) < timeMs) {
                deleted += sqlite3_column_int64(raw, 2);
                gone.push_back(id);
                continue;
            }
            std::vector<TReading> readings;
            if (!DecodeBlockRow(BlobAt(raw, 3), BlobAt(raw, 4), {}, readings))
                continue; // damaged: left for the reads to report
            const auto newer = std::find_if(readings.begin(), readings.end(),
                                            [timeMs](const TReading& r) { return r.TimeMs >= timeMs; });
            deleted += newer - readings.begin();
            readings.erase(readings.begin(), newer);
            kept.push_back({id, std::move(readings)});
        }
        if (code != SQLITE_DONE)
            return code;
        sqlite3_prepare_v2(db, "DELETE FROM blocks WHERE id = ?1", -1, &raw, nullptr);
        const TSqliteStatement remove(raw);
        for (const std::int64_t id : gone) {
            const TStatementRun run(remove.get());
            sqlite3_bind_int64(run.get(), 1, id);
            if ((code = sqlite3_step(run.get())) != SQLITE_DONE)
                return code;
        }
        for (const TKept& block : kept) {
            const TBlockRow row = EncodeBlockRow(block.readings);
            const TStatementRun run(FUpdateBlock.get());
            sqlite3_bind_int64(run.get(), 1, block.id);
            sqlite3_bind_int64(run.get(), 2, block.readings.front().TimeMs);
            sqlite3_bind_int64(run.get(), 3, block.readings.back().TimeMs);
            sqlite3_bind_int64(run.get(), 4, std::int64_t(block.readings.size()));
            sqlite3_bind_blob(run.get(), 5, row.Data.constData(), int(row.Data.size()), SQLITE_STATIC);
            sqlite3_bind_blob(run.get(), 6, row.Summary.constData(), int(row.Summary.size()), SQLITE_STATIC);
            if ((code = sqlite3_step(run.get())) != SQLITE_DONE)
                return code;
        }
        ExecInteger(db, "DELETE FROM hosts WHERE id NOT IN (SELECT host_id FROM blocks)", &code);
        return code;
    });
    if (IsBusy(rc))
        return DeleteBusy;
    if (rc != SQLITE_OK) {
        Fail(rc);
        return -1;
    }
    // Readings held for the next write were taken before this delete: the
    // older ones go with it rather than reach the file after it.
    deleted += std::int64_t(std::erase_if(FHeld, [timeMs](const TReading& r) { return r.TimeMs < timeMs; }));
    // The freed pages go back to the disk.
    int ignored = SQLITE_OK;
    ExecInteger(db, "PRAGMA incremental_vacuum", &ignored);
    return deleted;
}
