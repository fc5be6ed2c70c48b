#include "history/reading_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// The table and its two indexes: one for a host's readings in time order,
// one for every host's (and for thinning out old readings).
constexpr const char* SchemaStatements[] = {
    "CREATE TABLE IF NOT EXISTS readings ("
    " id INTEGER PRIMARY KEY,"
    " time_ms INTEGER NOT NULL,"
    " host TEXT NOT NULL,"
    " completed INTEGER NOT NULL,"
    " bits BLOB NOT NULL)",
    "CREATE INDEX IF NOT EXISTS readings_by_host ON readings (host, time_ms)",
    "CREATE INDEX IF NOT EXISTS readings_by_time ON readings (time_ms)",
};

constexpr char SelectHostSql[] = "SELECT time_ms, host, completed, bits FROM readings"
                                " WHERE host = ?3 AND time_ms >= ?1 AND time_ms < ?2 ORDER BY time_ms, id";
constexpr char SelectAllSql[] = "SELECT time_ms, host, completed, bits FROM readings"
                               " WHERE time_ms >= ?1 AND time_ms < ?2 ORDER BY time_ms, id";
constexpr char HostsSql[] = "SELECT DISTINCT host FROM readings ORDER BY host";
constexpr char CountOlderSql[] = "SELECT count(*) FROM readings WHERE time_ms < ?1";

// Names a file of ours may hold; anything else means another program's database.
bool IsOwnObject(const QByteArray& name)
{
    return name == "readings" || name == "readings_by_host" || name == "readings_by_time";
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

TReading ReadingAt(sqlite3_stmt* row)
{
    TReading reading = ZyxelReading();
    reading.TimeMs = sqlite3_column_int64(row, 0);
    reading.Host = QString::fromUtf8(
        reinterpret_cast<const char*>(sqlite3_column_text(row, 1)), sqlite3_column_bytes(row, 1));
    reading.Completed = sqlite3_column_int(row, 2) != 0;
    UnpackToneBits(sqlite3_column_blob(row, 3), sqlite3_column_bytes(row, 3), reading.Bits);
    return reading;
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
    FInsert.reset();
    FSelectHost.reset();
    FSelectAll.reset();
    FHosts.reset();
    FCountOlder.reset();
    FDeleteOlder.reset();
    FDb.reset();
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
    const std::int64_t version = ExecInteger(FDb.get(), "PRAGMA user_version", &rc);
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
        return Prepare(FSelectHost, SelectHostSql) && Prepare(FSelectAll, SelectAllSql)
            && Prepare(FHosts, HostsSql) && Prepare(FCountOlder, CountOlderSql);
    }

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

    return Prepare(FInsert, "INSERT INTO readings (time_ms, host, completed, bits) VALUES (?1, ?2, ?3, ?4)")
        && Prepare(FSelectHost, SelectHostSql) && Prepare(FSelectAll, SelectAllSql) && Prepare(FHosts, HostsSql)
        && Prepare(FCountOlder, CountOlderSql)
        && Prepare(FDeleteOlder, "DELETE FROM readings WHERE time_ms < ?1");
}

bool TReadingStore::CreateSchema()
{
    // Two programs may make the same new file at once: the write lock is
    // taken first and the version looked at again under it.
    int rc = SQLITE_OK;
    ExecInteger(FDb.get(), "BEGIN IMMEDIATE", &rc);
    if (rc != SQLITE_OK)
        return Fail(rc);
    const std::int64_t version = ExecInteger(FDb.get(), "PRAGMA user_version", &rc);
    if (rc == SQLITE_OK && version == 0) {
        for (const char* sql : SchemaStatements) {
            ExecInteger(FDb.get(), sql, &rc);
            if (rc != SQLITE_OK)
                break;
        }
        if (rc == SQLITE_OK) {
            const QByteArray setVersion = "PRAGMA user_version = " + QByteArray::number(SchemaVersion);
            ExecInteger(FDb.get(), setVersion.constData(), &rc);
        }
    }
    if (rc == SQLITE_OK)
        ExecInteger(FDb.get(), "COMMIT", &rc);
    if (rc != SQLITE_OK) {
        int ignored = SQLITE_OK;
        const int failure = rc;
        const QString reason = ReasonFor(FDb.get(), failure);
        ExecInteger(FDb.get(), "ROLLBACK", &ignored);
        return Fail(reason);
    }
    return true;
}

bool TReadingStore::Record(const TReading& reading)
{
    if (!FInsert)
        return false;
    const QByteArray host = reading.Host.toUtf8();
    const QByteArray bits = PackToneBits(reading.Bits);
    int rc = SQLITE_OK;
    {
        const TStatementRun run(FInsert.get());
        sqlite3_bind_int64(run.get(), 1, reading.TimeMs);
        sqlite3_bind_text(run.get(), 2, host.constData(), int(host.size()), SQLITE_STATIC);
        sqlite3_bind_int(run.get(), 3, reading.Completed ? 1 : 0);
        sqlite3_bind_blob(run.get(), 4, bits.constData(), int(bits.size()), SQLITE_STATIC);
        rc = sqlite3_step(run.get());
    }
    // Failing closes the statements, so only after the run has let go of its own.
    return rc == SQLITE_DONE || Fail(rc);
}

std::vector<TReading> TReadingStore::Readings(std::int64_t sinceMs, std::int64_t untilMs,
    const QString& host) const
{
    std::vector<TReading> readings;
    if (!FDb)
        return readings;
    const TStatementRun run(host.isEmpty() ? FSelectAll.get() : FSelectHost.get());
    const QByteArray hostBytes = host.toUtf8();
    sqlite3_bind_int64(run.get(), 1, sinceMs);
    sqlite3_bind_int64(run.get(), 2, untilMs);
    if (!host.isEmpty())
        sqlite3_bind_text(run.get(), 3, hostBytes.constData(), int(hostBytes.size()), SQLITE_STATIC);
    while (sqlite3_step(run.get()) == SQLITE_ROW)
        readings.push_back(ReadingAt(run.get()));
    return readings;
}

QStringList TReadingStore::Hosts() const
{
    QStringList hosts;
    if (!FDb)
        return hosts;
    const TStatementRun run(FHosts.get());
    while (sqlite3_step(run.get()) == SQLITE_ROW) {
        hosts << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(run.get(), 0)),
            sqlite3_column_bytes(run.get(), 0));
    }
    return hosts;
}

std::int64_t TReadingStore::CountOlderThan(std::int64_t timeMs) const
{
    if (!FDb)
        return 0;
    const TStatementRun run(FCountOlder.get());
    sqlite3_bind_int64(run.get(), 1, timeMs);
    return sqlite3_step(run.get()) == SQLITE_ROW ? sqlite3_column_int64(run.get(), 0) : 0;
}

std::int64_t TReadingStore::DeleteOlderThan(std::int64_t timeMs)
{
    if (!FDeleteOlder)
        return 0;
    int rc = SQLITE_OK;
    {
        const TStatementRun run(FDeleteOlder.get());
        sqlite3_bind_int64(run.get(), 1, timeMs);
        rc = sqlite3_step(run.get());
    }
    if (rc != SQLITE_DONE) {
        Fail(rc);
        return 0;
    }
    return sqlite3_changes64(FDb.get());
}
