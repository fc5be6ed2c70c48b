#include "history/store/reading_store.h"

#include "history/store/block_row.h"
#include "history/store/block_summary.h"
#include "history/store/reading_blocks.h"
#include "history/store/store_sql.h"
#include "line/output_formats.h"

// The store's older layouts: version 1 (a row a reading), read as it lies
// or converted to blocks on opening to write, and version 2 (blocks without
// summaries), given its summaries on opening to write. Nothing new is ever
// written in them.

using namespace StoreSql;

namespace {

// Version 1: a row a reading.
constexpr char V1SelectHostSql[] = "SELECT time_ms, host, completed, bits FROM readings"
                                  " WHERE host = ?3 AND time_ms >= ?1 AND time_ms < ?2 ORDER BY time_ms, id";
constexpr char V1SelectAllSql[] = "SELECT time_ms, host, completed, bits FROM readings"
                                 " WHERE time_ms >= ?1 AND time_ms < ?2 ORDER BY time_ms, id";
constexpr char V1HostsSql[] = "SELECT DISTINCT host FROM readings ORDER BY host";

// A version-1 row; false when its bits are of neither size.
bool ReadingAt(sqlite3_stmt* row, TReading& reading)
{
    reading = ZyxelReading(sqlite3_column_int64(row, 0), TextAt(row, 1), sqlite3_column_int(row, 2) != 0);
    return UnpackToneBits(sqlite3_column_blob(row, 3), sqlite3_column_bytes(row, 3), reading.Bits);
}

} // namespace

bool TReadingStore::PrepareVersion1Reads()
{
    return Prepare(FSelectHost, V1SelectHostSql) && Prepare(FSelectAll, V1SelectAllSql)
        && Prepare(FHosts, V1HostsSql);
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
            const TBlockRow row = EncodeBlockRow(block);
            const TStatementRun run(addBlock.get());
            sqlite3_bind_int64(run.get(), 1, hostId);
            sqlite3_bind_int64(run.get(), 2, SpanOf(block.front().TimeMs));
            sqlite3_bind_int64(run.get(), 3, block.front().TimeMs);
            sqlite3_bind_int64(run.get(), 4, block.back().TimeMs);
            sqlite3_bind_int64(run.get(), 5, std::int64_t(block.size()));
            sqlite3_bind_blob(run.get(), 6, row.Data.constData(), int(row.Data.size()), SQLITE_STATIC);
            sqlite3_bind_blob(run.get(), 7, row.Summary.constData(), int(row.Summary.size()), SQLITE_STATIC);
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
