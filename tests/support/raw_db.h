// Another program's connection to a history file, for tests that hold it
// busy, damage it or read its layout behind the store's back.
#pragma once

#include <QFile>
#include <QString>

#include <sqlite3.h>

struct RawDb {
    explicit RawDb(const QString& path) { sqlite3_open(QFile::encodeName(path).constData(), &db); }
    ~RawDb() { sqlite3_close(db); }
    bool Exec(const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }
    QString Text(const char* sql)
    {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
        const QString text = sqlite3_step(s) == SQLITE_ROW ? QString::fromUtf8((const char*)sqlite3_column_text(s, 0)) : "";
        sqlite3_finalize(s);
        return text;
    }
    sqlite3* db = nullptr;
};
