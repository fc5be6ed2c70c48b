// Files of the layouts before today's, made from today's: their blocks stood
// alone, while today's start from their summaries. A test or benchmark that
// turns today's file into an earlier layout makes its blocks stand alone
// first, as they would have been written then.
#pragma once

#include "history/store/block_row.h"
#include "history/store/reading_blocks.h"
#include "support/raw_db.h"

inline bool BlocksStandAlone(const QString& path)
{
    RawDb raw(path);
    sqlite3_stmt *rows = nullptr, *update = nullptr;
    sqlite3_prepare_v2(raw.db, "SELECT id, data, summary FROM blocks", -1, &rows, nullptr);
    sqlite3_prepare_v2(raw.db, "UPDATE blocks SET data = ?2 WHERE id = ?1", -1, &update, nullptr);
    const auto blob = [&](int column) {
        return QByteArray(static_cast<const char*>(sqlite3_column_blob(rows, column)), sqlite3_column_bytes(rows, column));
    };
    bool whole = rows && update && raw.Exec("BEGIN");
    std::vector<TReading> readings;
    while (whole && sqlite3_step(rows) == SQLITE_ROW) {
        const QByteArray data = DecodeBlockRow(blob(1), blob(2), {}, readings) ? EncodeBlock(readings) : QByteArray();
        sqlite3_bind_int64(update, 1, sqlite3_column_int64(rows, 0));
        sqlite3_bind_blob(update, 2, data.constData(), int(data.size()), SQLITE_TRANSIENT);
        whole = !data.isEmpty() && sqlite3_step(update) == SQLITE_DONE && sqlite3_reset(update) == SQLITE_OK;
    }
    sqlite3_finalize(rows);
    sqlite3_finalize(update);
    return whole && raw.Exec("COMMIT");
}
