// Ownership of SQLite's C handles: a connection and its prepared statements
// close themselves on every path, so the store never leaks a file lock.
//
// The store speaks to SQLite's own library rather than through Qt SQL: both
// record and read as fast (bench_history runs them side by side), but only
// the library itself says why a write failed (the system's error behind a
// full disk), whether a file was opened read-only behind the caller's back,
// and opens a file only to read it; and no driver plugin can go missing.
#pragma once

#include <sqlite3.h>

#include <memory>

struct TSqliteCloser {
    // close_v2 defers the close until the last statement is finalised, so
    // the order in which owners go away does not matter.
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

struct TSqliteFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

using TSqliteDb = std::unique_ptr<sqlite3, TSqliteCloser>;
using TSqliteStatement = std::unique_ptr<sqlite3_stmt, TSqliteFinalizer>;

// A statement that rewinds itself when the caller is done with one run, so
// the next run starts fresh and no read transaction is left open.
class TStatementRun {
public:
    explicit TStatementRun(sqlite3_stmt* statement)
        : FStatement(statement)
    {
    }
    ~TStatementRun()
    {
        sqlite3_reset(FStatement);
        sqlite3_clear_bindings(FStatement);
    }
    TStatementRun(const TStatementRun&) = delete;
    TStatementRun& operator=(const TStatementRun&) = delete;

    sqlite3_stmt* get() const { return FStatement; }

private:
    sqlite3_stmt* FStatement;
};
