#include "history/store/store_sql.h"

#include "history/store/store_format.h"

#include <cerrno>
#include <cstring>

namespace {

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

} // namespace

namespace StoreSql {

std::int64_t SpanOf(std::int64_t timeMs)
{
    const std::int64_t span = StoreFormat::BlockSpanMs;
    return timeMs >= 0 ? timeMs / span : (timeMs + 1) / span - 1;
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
            .arg(StoreFormat::BusyTimeoutMs / 1000.0);
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
    const QByteArray setVersion = "PRAGMA user_version = " + QByteArray::number(StoreFormat::SchemaVersion);
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

} // namespace StoreSql
