// Files of the layouts before today's, made from today's: their blocks stood
// alone, while today's start from their summaries. A test or benchmark that
// turns today's file into an earlier layout makes its blocks stand alone
// first, as they would have been written then.
#pragma once

#include "history/store/block_row.h"
#include "history/store/reading_blocks.h"

#include <QFile>

#include <sqlite3.h>

#include <utility>
#include <vector>

inline bool BlocksStandAlone(const QString& path)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    sqlite3_stmt* rows = nullptr;
    sqlite3_prepare_v2(db, "SELECT id, data, summary FROM blocks", -1, &rows, nullptr);
    std::vector<std::pair<sqlite3_int64, QByteArray>> blocks;
    std::vector<TReading> readings;
    bool whole = rows != nullptr;
    while (whole && sqlite3_step(rows) == SQLITE_ROW) {
        const auto blob = [rows](int column) {
            return QByteArray(static_cast<const char*>(sqlite3_column_blob(rows, column)), sqlite3_column_bytes(rows, column));
        };
        whole = DecodeBlockRow(blob(1), blob(2), {}, readings);
        blocks.emplace_back(sqlite3_column_int64(rows, 0), EncodeBlock(readings));
    }
    sqlite3_finalize(rows);
    sqlite3_stmt* update = nullptr;
    whole = whole && sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK
        && sqlite3_prepare_v2(db, "UPDATE blocks SET data = ?2 WHERE id = ?1", -1, &update, nullptr) == SQLITE_OK;
    for (const auto& [id, data] : blocks) {
        sqlite3_bind_int64(update, 1, id);
        sqlite3_bind_blob(update, 2, data.constData(), int(data.size()), SQLITE_TRANSIENT);
        whole = whole && sqlite3_step(update) == SQLITE_DONE;
        sqlite3_reset(update);
    }
    sqlite3_finalize(update);
    whole = whole && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return whole;
}
