// A history file as the first layout kept it (a row a reading), written the
// way that program wrote it, for the tests and benchmarks of its conversion.
// Header only: its users link the history library anyway.
#pragma once

#include "history/store/reading_store.h"

#include <QFile>

#include <sqlite3.h>

#include <functional>
#include <vector>

// True when every reading is in the file, one transaction, the log folded
// in; reading(i) makes the i-th of count.
inline bool WriteVersion1Store(const QString& path, int count, const std::function<TReading(int)>& reading)
{
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(QFile::encodeName(path).constData(), &db) == SQLITE_OK;
    const auto exec = [&](const char* sql) { ok = ok && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; };
    exec("PRAGMA journal_mode = WAL");
    exec("BEGIN");
    exec("CREATE TABLE IF NOT EXISTS readings (id INTEGER PRIMARY KEY, time_ms INTEGER NOT NULL,"
         " host TEXT NOT NULL, completed INTEGER NOT NULL, bits BLOB NOT NULL)");
    exec("CREATE INDEX IF NOT EXISTS readings_by_host ON readings (host, time_ms)");
    exec("CREATE INDEX IF NOT EXISTS readings_by_time ON readings (time_ms)");
    exec("PRAGMA user_version = 1");
    sqlite3_stmt* insert = nullptr;
    ok = ok
        && sqlite3_prepare_v2(db, "INSERT INTO readings (time_ms, host, completed, bits) VALUES (?1, ?2, ?3, ?4)", -1,
                              &insert, nullptr)
            == SQLITE_OK;
    for (int i = 0; ok && i < count; ++i) {
        const TReading r = reading(i);
        const QByteArray host = r.Host.toUtf8();
        const QByteArray bits = PackToneBits(r.Bits);
        sqlite3_bind_int64(insert, 1, r.TimeMs);
        sqlite3_bind_text(insert, 2, host.constData(), int(host.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 3, r.Completed ? 1 : 0);
        sqlite3_bind_blob(insert, 4, bits.constData(), int(bits.size()), SQLITE_TRANSIENT);
        ok = sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    exec("COMMIT");
    ok = ok && sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

inline bool WriteVersion1Store(const QString& path, const std::vector<TReading>& readings)
{
    return WriteVersion1Store(path, int(readings.size()), [&readings](int i) { return readings[std::size_t(i)]; });
}
