#include "history/store/reading_store.h"

#include "history/store/block_summary.h"
#include "history/store/reading_blocks.h"
#include "line/output_formats.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Version 1: a row a reading.
constexpr char V1SelectHostSql[] = "SELECT time_ms, host, completed, bits FROM readings"
                                  " WHERE host = ?3 AND time_ms >= ?1 AND time_ms < ?2 ORDER BY time_ms, id";
constexpr char V1SelectAllSql[] = "SELECT time_ms, host, completed, bits FROM readings"
                                 " WHERE time_ms >= ?1 AND time_ms < ?2 ORDER BY time_ms, id";
constexpr char V1HostsSql[] = "SELECT DISTINCT host FROM readings ORDER BY host";

// Version 2: the hosts by number, and blocks of one host's readings of one
// hour (several, when readings come faster than MaxBlockReadings an hour).
// A read of a period touches its hours' blocks only, in time order.
// Version 3 adds each block's summary, for showing long periods. Version 4
// keeps each reading's outcome, figures and spectra inside its block; its
// blocks may still be of the first block format (readings without them), so
// a file of version 3 becomes one of version 4 as it is.
constexpr const char* SchemaStatements[] = {
    "CREATE TABLE IF NOT EXISTS hosts (id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE)",
    "CREATE TABLE IF NOT EXISTS blocks ("
    " id INTEGER PRIMARY KEY,"
    " host_id INTEGER NOT NULL,"
    " span INTEGER NOT NULL,"
    " first_ms INTEGER NOT NULL,"
    " last_ms INTEGER NOT NULL,"
    " count INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " summary BLOB)",
    "CREATE INDEX IF NOT EXISTS blocks_by_host ON blocks (host_id, span)",
    "CREATE INDEX IF NOT EXISTS blocks_by_span ON blocks (span)",
};

constexpr char SelectHostSql[] = "SELECT b.span, b.first_ms, b.last_ms, b.count, b.data, h.name"
                                " FROM blocks b JOIN hosts h ON h.id = b.host_id"
                                " WHERE h.name = ?3 AND b.span >= ?1 AND b.span <= ?2 ORDER BY b.span, b.id";
constexpr char SelectAllSql[] = "SELECT b.span, b.first_ms, b.last_ms, b.count, b.data, h.name"
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

std::int64_t SpanOf(std::int64_t timeMs)
{
    const std::int64_t span = TReadingStore::BlockSpanMs;
    return timeMs >= 0 ? timeMs / span : (timeMs + 1) / span - 1;
}

bool IsBusy(int code)
{
    return (code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED;
}

QString TextAt(sqlite3_stmt* row, int column)
{
    return QString::fromUtf8(
        reinterpret_cast<const char*>(sqlite3_column_text(row, column)), sqlite3_column_bytes(row, column));
}

QByteArray BlobAt(sqlite3_stmt* row, int column)
{
    return QByteArray(static_cast<const char*>(sqlite3_column_blob(row, column)), sqlite3_column_bytes(row, column));
}

QString ReasonFor(sqlite3* db, int code)
{
    // The system's own error says more than SQLite's code when a write hit
    // the disk's limits or permissions.
    const int system = db ? sqlite3_system_errno(db) : 0;
    if (system == ENOSPC || system == EDQUOT)
        return QStringLiteral("the disk is full");
    if (system == EROFS)
        return QStringLiteral("the file is on a read-only file system");
    switch (code & 0xff) {
    case SQLITE_READONLY: return QStringLiteral("the file is read-only");
    case SQLITE_FULL: return QStringLiteral("the disk is full");
    case SQLITE_NOTADB: return QStringLiteral("the file is not a database");
    case SQLITE_CORRUPT: return QStringLiteral("the file is damaged");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("another program has kept it locked for longer than %1 s")
            .arg(TReadingStore::BusyTimeoutMs / 1000.0);
    case SQLITE_PERM:
    case SQLITE_AUTH: return QStringLiteral("permission denied");
    default: break;
    }
    QString text = QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(code));
    if (system != 0)
        text += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(system)));
    return text;
}

// Runs one statement that returns nothing or one integer; code in *rc.
std::int64_t ExecInteger(sqlite3* db, const char* sql, int* rc)
{
    sqlite3_stmt* raw = nullptr;
    *rc = sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
    TSqliteStatement statement(raw);
    if (*rc != SQLITE_OK)
        return 0;
    std::int64_t value = 0;
    *rc = sqlite3_step(raw);
    if (*rc == SQLITE_ROW) {
        value = sqlite3_column_int64(raw, 0);
        while ((*rc = sqlite3_step(raw)) == SQLITE_ROW) {
        }
    }
    if (*rc == SQLITE_DONE)
        *rc = SQLITE_OK;
    return value;
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

// A version-1 row; false when its bits are of neither size.
bool ReadingAt(sqlite3_stmt* row, TReading& reading)
{
    reading = ZyxelReading(sqlite3_column_int64(row, 0), TextAt(row, 1), sqlite3_column_int(row, 2) != 0);
    return UnpackToneBits(sqlite3_column_blob(row, 3), sqlite3_column_bytes(row, 3), reading.Bits);
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
            return Prepare(FSelectHost, V1SelectHostSql) && Prepare(FSelectAll, V1SelectAllSql)
                && Prepare(FHosts, V1HostsSql);
        return Prepare(FSelectHost, SelectHostSql) && Prepare(FSelectAll, SelectAllSql) && Prepare(FHosts, HostsSql)
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
    if (version == 1 && !MigrateFromVersion1())
        return false;
    if (version == 2 && !MigrateFromVersion2())
        return false;
    if (version == 3 && !MigrateFromVersion3())
        return false;
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

namespace {

// Runs `work` in one write transaction; anything but SQLITE_OK rolls it back.
int InTransaction(sqlite3* db, const std::function<int()>& work)
{
    int rc = SQLITE_OK;
    ExecInteger(db, "BEGIN IMMEDIATE", &rc);
    if (rc != SQLITE_OK)
        return rc;
    rc = work();
    if (rc == SQLITE_OK)
        ExecInteger(db, "COMMIT", &rc);
    if (rc != SQLITE_OK) {
        int ignored = SQLITE_OK;
        ExecInteger(db, "ROLLBACK", &ignored);
    }
    return rc;
}

int SetCurrentVersion(sqlite3* db)
{
    int rc = SQLITE_OK;
    const QByteArray setVersion = "PRAGMA user_version = " + QByteArray::number(TReadingStore::SchemaVersion);
    ExecInteger(db, setVersion.constData(), &rc);
    return rc;
}

int CreateTables(sqlite3* db)
{
    int rc = SQLITE_OK;
    for (const char* sql : SchemaStatements) {
        ExecInteger(db, sql, &rc);
        if (rc != SQLITE_OK)
            return rc;
    }
    return SetCurrentVersion(db);
}

} // namespace

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

bool TReadingStore::MigrateFromVersion1()
{
    // All in one transaction: a crash, a kill or a full disk part-way leaves
    // the file as it was, a row a reading, and the next opening starts over.
    sqlite3* db = FDb.get();
    QString damaged;
    const int rc = InTransaction(db, [&]() -> int {
        int code = SQLITE_OK;
        const std::int64_t version = ExecInteger(db, "PRAGMA user_version", &code);
        if (code != SQLITE_OK || version != 1)
            return code; // another program converted it meanwhile
        if ((code = CreateTables(db)) != SQLITE_OK)
            return code;
        sqlite3_stmt* raw = nullptr;
        sqlite3_prepare_v2(db, "SELECT time_ms, host, completed, bits FROM readings ORDER BY host, time_ms, id", -1,
                           &raw, nullptr);
        const TSqliteStatement rows(raw);
        sqlite3_prepare_v2(db, "INSERT INTO hosts (name) VALUES (?1)", -1, &raw, nullptr);
        const TSqliteStatement addHost(raw);
        sqlite3_prepare_v2(db,
                           "INSERT INTO blocks (host_id, span, first_ms, last_ms, count, data, summary)"
                           " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
                           -1, &raw, nullptr);
        const TSqliteStatement addBlock(raw);
        if (!rows || !addHost || !addBlock)
            return sqlite3_errcode(db);

        std::vector<TReading> block;
        std::int64_t hostId = 0;
        const auto flush = [&]() -> int {
            if (block.empty())
                return SQLITE_OK;
            const QByteArray data = EncodeBlock(block);
            const QByteArray summary = EncodeSummary(SummaryOf(block));
            const TStatementRun run(addBlock.get());
            sqlite3_bind_int64(run.get(), 1, hostId);
            sqlite3_bind_int64(run.get(), 2, SpanOf(block.front().TimeMs));
            sqlite3_bind_int64(run.get(), 3, block.front().TimeMs);
            sqlite3_bind_int64(run.get(), 4, block.back().TimeMs);
            sqlite3_bind_int64(run.get(), 5, std::int64_t(block.size()));
            sqlite3_bind_blob(run.get(), 6, data.constData(), int(data.size()), SQLITE_STATIC);
            sqlite3_bind_blob(run.get(), 7, summary.constData(), int(summary.size()), SQLITE_STATIC);
            const int step = sqlite3_step(run.get());
            block.clear();
            return step == SQLITE_DONE ? SQLITE_OK : step;
        };
        TReading reading;
        while ((code = sqlite3_step(rows.get())) == SQLITE_ROW) {
            if (!ReadingAt(rows.get(), reading)) {
                damaged = QStringLiteral("the reading of %1 at %2 is damaged")
                              .arg(reading.Host, ReadingTimeText(reading.TimeMs));
                return SQLITE_CORRUPT;
            }
            const bool newHost = block.empty() || reading.Host != block.back().Host;
            if (newHost || SpanOf(reading.TimeMs) != SpanOf(block.back().TimeMs)
                || int(block.size()) >= MaxBlockReadings) {
                if ((code = flush()) != SQLITE_OK)
                    return code;
            }
            if (newHost) {
                const QByteArray host = reading.Host.toUtf8();
                const TStatementRun run(addHost.get());
                sqlite3_bind_text(run.get(), 1, host.constData(), int(host.size()), SQLITE_STATIC);
                if ((code = sqlite3_step(run.get())) != SQLITE_DONE)
                    return code;
                hostId = sqlite3_last_insert_rowid(db);
            }
            block.push_back(reading);
        }
        if (code != SQLITE_DONE || (code = flush()) != SQLITE_OK)
            return code;
        ExecInteger(db, "DROP TABLE readings", &code);
        return code;
    });
    if (rc != SQLITE_OK)
        return damaged.isEmpty() ? Fail(rc) : Fail(damaged);
    // The old rows' pages go back to the disk, and the file learns to give
    // space back from now on; a failure here costs space, not readings.
    int ignored = SQLITE_OK;
    ExecInteger(db, "PRAGMA auto_vacuum = INCREMENTAL", &ignored);
    ExecInteger(db, "VACUUM", &ignored);
    return true;
}

bool TReadingStore::MigrateFromVersion2()
{
    // Every block gains its summary in one transaction; a damaged block keeps
    // none and is reported as before when read.
    sqlite3* db = FDb.get();
    const int rc = InTransaction(db, [db]() -> int {
        int code = SQLITE_OK;
        const std::int64_t version = ExecInteger(db, "PRAGMA user_version", &code);
        if (code != SQLITE_OK || version != 2)
            return code;
        ExecInteger(db, "ALTER TABLE blocks ADD COLUMN summary BLOB", &code);
        if (code != SQLITE_OK)
            return code;
        sqlite3_stmt* raw = nullptr;
        sqlite3_prepare_v2(db, "SELECT id, data FROM blocks", -1, &raw, nullptr);
        const TSqliteStatement blocks(raw);
        sqlite3_prepare_v2(db, "UPDATE blocks SET summary = ?2 WHERE id = ?1", -1, &raw, nullptr);
        const TSqliteStatement update(raw);
        if (!blocks || !update)
            return sqlite3_errcode(db);
        std::vector<TReading> readings;
        while ((code = sqlite3_step(blocks.get())) == SQLITE_ROW) {
            if (!DecodeBlock(BlobAt(blocks.get(), 1), {}, readings))
                continue;
            const QByteArray summary = EncodeSummary(SummaryOf(readings));
            const TStatementRun run(update.get());
            sqlite3_bind_int64(run.get(), 1, sqlite3_column_int64(blocks.get(), 0));
            sqlite3_bind_blob(run.get(), 2, summary.constData(), int(summary.size()), SQLITE_STATIC);
            if ((code = sqlite3_step(run.get())) != SQLITE_DONE)
                return code;
        }
        return code == SQLITE_DONE ? SetCurrentVersion(db) : code;
    });
    return rc == SQLITE_OK || Fail(rc);
}

bool TReadingStore::MigrateFromVersion3()
{
    // Every block of version 3 is a block of version 4 whose readings say
    // nothing of their outcome, figures or spectra; a block takes the new
    // form when a reading is next added to it.
    sqlite3* db = FDb.get();
    const int rc = InTransaction(db, [db]() -> int {
        int code = SQLITE_OK;
        const std::int64_t version = ExecInteger(db, "PRAGMA user_version", &code);
        if (code != SQLITE_OK || version != 3)
            return code;
        return SetCurrentVersion(db);
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
            && DecodeBlock(BlobAt(run.get(), 2), reading.Host, readings)
            && std::int64_t(readings.size()) == sqlite3_column_int64(run.get(), 1)) {
            blockId = sqlite3_column_int64(run.get(), 0);
            // A reading after the others only adds to the summary.
            summaryHeld = reading.TimeMs >= readings.back().TimeMs
                && DecodeSummary(BlobAt(run.get(), 3), reading.Host, summary)
                && summary.Count == std::int64_t(readings.size());
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
    const QByteArray data = EncodeBlock(readings);
    if (summaryHeld)
        summary.Add(reading);
    const QByteArray summaryData = EncodeSummary(summaryHeld ? summary : SummaryOf(readings));
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
    sqlite3_bind_blob(run.get(), first + 3, data.constData(), int(data.size()), SQLITE_STATIC);
    sqlite3_bind_blob(run.get(), first + 4, summaryData.constData(), int(summaryData.size()), SQLITE_STATIC);
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

QString TReadResult::Text() const
{
    QStringList lines;
    for (const TUnreadPeriod& period : Unread)
        lines << QStringLiteral("Could not read the readings of %1 from %2 to %3: %4")
                     .arg(period.Host, ReadingTimeText(period.FromMs), ReadingTimeText(period.ToMs), period.Reason);
    if (!ErrorText.isEmpty())
        lines << ErrorText;
    return lines.join(QLatin1Char('\n'));
}

TReadResult TReadingStore::ReadEachV1(std::int64_t sinceMs, std::int64_t untilMs, const QString& host,
    const std::function<bool(const TReading&)>& each) const
{
    TReadResult result;
    const TStatementRun run(host.isEmpty() ? FSelectAll.get() : FSelectHost.get());
    const QByteArray hostBytes = host.toUtf8();
    sqlite3_bind_int64(run.get(), 1, sinceMs);
    sqlite3_bind_int64(run.get(), 2, untilMs);
    if (!host.isEmpty())
        sqlite3_bind_text(run.get(), 3, hostBytes.constData(), int(hostBytes.size()), SQLITE_STATIC);
    int rc = SQLITE_OK;
    TReading reading;
    std::int64_t lastMs = sinceMs;
    while ((rc = sqlite3_step(run.get())) == SQLITE_ROW) {
        if (!ReadingAt(run.get(), reading)) {
            result.Unread.push_back({reading.Host, reading.TimeMs, reading.TimeMs,
                QStringLiteral("the reading is damaged")});
            continue;
        }
        lastMs = reading.TimeMs;
        if (!each(reading))
            return result;
    }
    if (rc != SQLITE_DONE)
        result.ErrorText = QStringLiteral("Could not read the history past %1: %2")
                               .arg(ReadingTimeText(lastMs), ReasonFor(FDb.get(), rc));
    return result;
}

TReadResult TReadingStore::ReadEach(std::int64_t sinceMs, std::int64_t untilMs, const QString& host,
    const std::function<bool(const TReading&)>& each) const
{
    if (!FDb || untilMs <= sinceMs)
        return {};
    if (FVersion == 1)
        return ReadEachV1(sinceMs, untilMs, host, each);
    TReadResult result;
    const TStatementRun run(host.isEmpty() ? FSelectAll.get() : FSelectHost.get());
    const QByteArray hostBytes = host.toUtf8();
    sqlite3_bind_int64(run.get(), 1, SpanOf(sinceMs));
    sqlite3_bind_int64(run.get(), 2, SpanOf(untilMs - 1));
    if (!host.isEmpty())
        sqlite3_bind_text(run.get(), 3, hostBytes.constData(), int(hostBytes.size()), SQLITE_STATIC);

    // One hour's blocks at a time (every host's, or one host's several),
    // merged into time order; a block that cannot be decoded is named.
    std::vector<TReading> hour, block;
    std::int64_t hourSpan = 0;
    bool going = true;
    const auto flush = [&] {
        std::stable_sort(hour.begin(), hour.end(),
                         [](const TReading& a, const TReading& b) { return a.TimeMs < b.TimeMs; });
        for (const TReading& reading : hour) {
            if (going && reading.TimeMs >= sinceMs && reading.TimeMs < untilMs)
                going = each(reading);
        }
        hour.clear();
    };
    int rc = SQLITE_OK;
    while (going && (rc = sqlite3_step(run.get())) == SQLITE_ROW) {
        const std::int64_t span = sqlite3_column_int64(run.get(), 0);
        if (span != hourSpan)
            flush();
        hourSpan = span;
        const QString blockHost = TextAt(run.get(), 5);
        if (!DecodeBlock(BlobAt(run.get(), 4), blockHost, block)
            || std::int64_t(block.size()) != sqlite3_column_int64(run.get(), 3)) {
            result.Unread.push_back({blockHost, sqlite3_column_int64(run.get(), 1), sqlite3_column_int64(run.get(), 2),
                QStringLiteral("the block is damaged")});
            continue;
        }
        hour.insert(hour.end(), std::make_move_iterator(block.begin()), std::make_move_iterator(block.end()));
    }
    flush();
    if (going && rc != SQLITE_DONE)
        result.ErrorText = QStringLiteral("Could not read the history past %1: %2")
                               .arg(ReadingTimeText(hourSpan * BlockSpanMs), ReasonFor(FDb.get(), rc));
    return result;
}

TReadResult TReadingStore::ReadSummaries(std::int64_t sinceMs, std::int64_t untilMs, const QString& host,
    const std::function<bool(const QString&, const TBlockSummary&)>& each) const
{
    if (!FDb || untilMs <= sinceMs)
        return {};
    if (FVersion == 1) {
        // A row a reading: summarised an hour of a host at a time as read.
        TBlockSummary summary;
        QString summaryHost;
        bool going = true;
        TReadResult result = ReadEach(sinceMs, untilMs, host, [&](const TReading& reading) {
            if (summary.Count > 0 && (reading.Host != summaryHost || SpanOf(reading.TimeMs) != SpanOf(summary.LastMs))) {
                going = each(summaryHost, summary);
                summary = {};
            }
            summaryHost = reading.Host;
            summary.Add(reading);
            return going;
        });
        if (going && summary.Count > 0)
            each(summaryHost, summary);
        return result;
    }
    TReadResult result;
    const TStatementRun run(FSummaries.get());
    const QByteArray hostBytes = host.toUtf8();
    sqlite3_bind_int64(run.get(), 1, SpanOf(sinceMs));
    sqlite3_bind_int64(run.get(), 2, SpanOf(untilMs - 1));
    sqlite3_bind_text(run.get(), 3, hostBytes.constData(), int(hostBytes.size()), SQLITE_STATIC);
    int rc = SQLITE_OK;
    std::int64_t span = SpanOf(sinceMs);
    std::vector<TReading> block;
    TBlockSummary summary;
    bool going = true;
    while (going && (rc = sqlite3_step(run.get())) == SQLITE_ROW) {
        span = sqlite3_column_int64(run.get(), 0);
        const std::int64_t first = sqlite3_column_int64(run.get(), 1);
        const std::int64_t last = sqlite3_column_int64(run.get(), 2);
        const QString blockHost = TextAt(run.get(), 5);
        const bool whole = first >= sinceMs && last < untilMs;
        if (whole && sqlite3_column_type(run.get(), 6) == SQLITE_BLOB
            && DecodeSummary(BlobAt(run.get(), 6), blockHost, summary)
            && summary.Count == sqlite3_column_int64(run.get(), 3)) {
            going = each(blockHost, summary);
            continue;
        }
        if (!DecodeBlock(BlobAt(run.get(), 4), blockHost, block)
            || std::int64_t(block.size()) != sqlite3_column_int64(run.get(), 3)) {
            result.Unread.push_back({blockHost, first, last, QStringLiteral("the block is damaged")});
            continue;
        }
        summary = {};
        for (const TReading& reading : block)
            if (reading.TimeMs >= sinceMs && reading.TimeMs < untilMs)
                summary.Add(reading);
        if (summary.Count > 0)
            going = each(blockHost, summary);
    }
    if (going && rc != SQLITE_DONE)
        result.ErrorText = QStringLiteral("Could not read the history past %1: %2")
                               .arg(ReadingTimeText(span * BlockSpanMs), ReasonFor(FDb.get(), rc));
    return result;
}

std::vector<TReading> TReadingStore::Readings(std::int64_t sinceMs, std::int64_t untilMs,
    const QString& host, TReadResult* result) const
{
    std::vector<TReading> readings;
    TReadResult read = ReadEach(sinceMs, untilMs, host, [&readings](const TReading& reading) {
        readings.push_back(reading);
        return true;
    });
    if (result)
        *result = std::move(read);
    return readings;
}

QStringList TReadingStore::Hosts() const
{
    QStringList hosts;
    if (!FDb)
        return hosts;
    const TStatementRun run(FHosts.get());
    while (sqlite3_step(run.get()) == SQLITE_ROW)
        hosts << TextAt(run.get(), 0);
    return hosts;
}

std::int64_t TReadingStore::CountOlderThan(std::int64_t timeMs) const
{
    if (!FDb)
        return 0;
    if (FVersion == 1) {
        sqlite3_stmt* raw = nullptr;
        sqlite3_prepare_v2(FDb.get(), "SELECT count(*) FROM readings WHERE time_ms < ?1", -1, &raw, nullptr);
        const TSqliteStatement count(raw);
        sqlite3_bind_int64(raw, 1, timeMs);
        return raw && sqlite3_step(raw) == SQLITE_ROW ? sqlite3_column_int64(raw, 0) : 0;
    }
    std::int64_t count = 0;
    sqlite3_stmt* raw = nullptr;
    sqlite3_prepare_v2(FDb.get(), "SELECT first_ms, last_ms, count, data FROM blocks WHERE first_ms < ?1", -1, &raw,
                       nullptr);
    const TSqliteStatement blocks(raw);
    sqlite3_bind_int64(raw, 1, timeMs);
    std::vector<TReading> readings;
    while (raw && sqlite3_step(raw) == SQLITE_ROW) {
        if (sqlite3_column_int64(raw, 1) < timeMs) {
            count += sqlite3_column_int64(raw, 2);
        } else if (DecodeBlock(BlobAt(raw, 3), {}, readings)) {
            count += std::count_if(readings.begin(), readings.end(),
                                   [timeMs](const TReading& r) { return r.TimeMs < timeMs; });
        }
    }
    return count;
}

std::int64_t TReadingStore::CountBetween(std::int64_t sinceMs, std::int64_t untilMs, const QString& host) const
{
    if (!FDb || untilMs <= sinceMs)
        return 0;
    sqlite3_stmt* raw = nullptr;
    if (FVersion == 1)
        sqlite3_prepare_v2(FDb.get(),
                           "SELECT count(*) FROM readings WHERE time_ms >= ?1 AND time_ms < ?2 AND (?3 = '' OR host = ?3)",
                           -1, &raw, nullptr);
    else
        sqlite3_prepare_v2(FDb.get(),
                           "SELECT sum(b.count) FROM blocks b JOIN hosts h ON h.id = b.host_id"
                           " WHERE b.last_ms >= ?1 AND b.first_ms < ?2 AND (?3 = '' OR h.name = ?3)",
                           -1, &raw, nullptr);
    const TSqliteStatement count(raw);
    const QByteArray name = host.toUtf8();
    sqlite3_bind_int64(raw, 1, sinceMs);
    sqlite3_bind_int64(raw, 2, untilMs);
    sqlite3_bind_text(raw, 3, name.constData(), int(name.size()), SQLITE_STATIC);
    return raw && sqlite3_step(raw) == SQLITE_ROW ? sqlite3_column_int64(raw, 0) : 0;
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
        sqlite3_prepare_v2(db, "SELECT id, last_ms, count, data, host_id FROM blocks WHERE first_ms < ?1", -1, &raw,
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
            if (!DecodeBlock(BlobAt(raw, 3), {}, readings))
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
            const QByteArray data = EncodeBlock(block.readings);
            const QByteArray summary = EncodeSummary(SummaryOf(block.readings));
            const TStatementRun run(FUpdateBlock.get());
            sqlite3_bind_int64(run.get(), 1, block.id);
            sqlite3_bind_int64(run.get(), 2, block.readings.front().TimeMs);
            sqlite3_bind_int64(run.get(), 3, block.readings.back().TimeMs);
            sqlite3_bind_int64(run.get(), 4, std::int64_t(block.readings.size()));
            sqlite3_bind_blob(run.get(), 5, data.constData(), int(data.size()), SQLITE_STATIC);
            sqlite3_bind_blob(run.get(), 6, summary.constData(), int(summary.size()), SQLITE_STATIC);
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
    // The freed pages go back to the disk.
    int ignored = SQLITE_OK;
    ExecInteger(db, "PRAGMA incremental_vacuum", &ignored);
    return deleted;
}
