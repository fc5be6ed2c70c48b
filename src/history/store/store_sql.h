// The SQLite steps the store's files share: the current layout
// (reading_store.cpp) and the older ones it converts or reads as they lie
// (old_formats.cpp). Only the store includes this.
#pragma once

#include "history/store/sqlite_handle.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

namespace StoreSql {

// The hour a reading's block belongs to.
std::int64_t SpanOf(std::int64_t timeMs);
QString TextAt(sqlite3_stmt* row, int column);
QByteArray BlobAt(sqlite3_stmt* row, int column);
// Why a step failed, in words a user can act on.
QString ReasonFor(sqlite3* db, int code);
// Runs one statement that returns nothing or one integer; code in *rc.
std::int64_t ExecInteger(sqlite3* db, const char* sql, int* rc);
// Runs `work` in one write transaction; anything but SQLITE_OK rolls it back.
int InTransaction(sqlite3* db, const std::function<int()>& work);
int SetCurrentVersion(sqlite3* db);
// The tables and indexes of the current layout, and its version.
int CreateTables(sqlite3* db);

} // namespace StoreSql
