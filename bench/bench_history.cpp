// The line history's store, and the same work done through Qt SQL's SQLite
// driver beside it, on real files on the local disk:
//
// Record:       one reading added to a store that is open (target: median at
//               most 1 ms).
// OpenLastDay:  a store holding a year at one reading a minute (525,600 rows,
//               made by this program before the first run) opened afresh and
//               its last 24 hours for one host read (target: at most 20 ms);
//               the file's size is reported as the counter "MB".
//
// The Qt SQL runs use the same file layout, the same statements and the same
// pragmas, so the two differ only in the layer between the program and SQLite.
#include "history/reading_store.h"
#include "support/bench_main.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QVariant>

#include <sqlite3.h>

#include <memory>
#include <stdexcept>

namespace {

constexpr std::int64_t MinuteMs = 60'000;
constexpr std::int64_t DayMs = 24 * 60 * MinuteMs;
constexpr int YearOfMinutes = 525'600;
constexpr std::int64_t YearStartMs = 1'733'011'200'000; // 2024-12-01 00:00 UTC
const QString YearHost = QStringLiteral("127.0.0.5");

QTemporaryDir& Scratch()
{
    // On the disk, not in memory: the figures are for a user's data folder.
    static QTemporaryDir dir(QStringLiteral("/var/tmp/tirvane-bench-history-XXXXXX"));
    return dir;
}

TReading SampleReading(std::int64_t timeMs, int seed)
{
    TReading r = ZyxelReading();
    r.TimeMs = timeMs;
    r.Host = YearHost;
    r.Completed = seed % 97 != 0;
    for (int tone = 1; tone < ToneCount; ++tone)
        r.Bits[std::size_t(tone)] = std::uint8_t((tone * 3 + seed) % 16);
    return r;
}

// The year store, made once: the layout by TReadingStore, the rows in one
// transaction (a year recorded one by one would take minutes).
const QString& YearStorePath()
{
    static const QString path = [] {
        const QString p = Scratch().filePath(QStringLiteral("year.sqlite"));
        {
            TReadingStore store;
            if (!store.Open(p))
                throw std::runtime_error(store.ErrorText().toStdString());
        }
        sqlite3* db = nullptr;
        sqlite3_open(p.toUtf8().constData(), &db);
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO readings (time_ms, host, completed, bits) VALUES (?1, ?2, ?3, ?4)", -1,
            &insert, nullptr);
        const QByteArray host = YearHost.toUtf8();
        for (int i = 0; i < YearOfMinutes; ++i) {
            const TReading r = SampleReading(YearStartMs + i * MinuteMs, i);
            const QByteArray bits = PackToneBits(r.Bits);
            sqlite3_bind_int64(insert, 1, r.TimeMs);
            sqlite3_bind_text(insert, 2, host.constData(), int(host.size()), SQLITE_STATIC);
            sqlite3_bind_int(insert, 3, r.Completed ? 1 : 0);
            sqlite3_bind_blob(insert, 4, bits.constData(), int(bits.size()), SQLITE_STATIC);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
        sqlite3_close(db);
        return p;
    }();
    return path;
}

double FileMegabytes(const QString& path)
{
    return double(QFileInfo(path).size()) / (1024.0 * 1024.0);
}

void BM_Record(benchmark::State& state)
{
    const QString path = Scratch().filePath(QStringLiteral("record.sqlite"));
    TReadingStore store;
    if (!store.Open(path)) {
        state.SkipWithError(store.ErrorText().toUtf8().constData());
        return;
    }
    int i = 0;
    for (auto _ : state) {
        if (!store.Record(SampleReading(YearStartMs + i * MinuteMs, i))) {
            state.SkipWithError(store.ErrorText().toUtf8().constData());
            break;
        }
        ++i;
    }
}
BENCHMARK(BM_Record)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true)->UseRealTime();

void BM_OpenLastDay(benchmark::State& state)
{
    const QString& path = YearStorePath();
    const std::int64_t end = YearStartMs + YearOfMinutes * MinuteMs;
    std::size_t rows = 0;
    for (auto _ : state) {
        TReadingStore store;
        if (!store.Open(path)) {
            state.SkipWithError(store.ErrorText().toUtf8().constData());
            break;
        }
        rows = store.Readings(end - DayMs, end, YearHost).size();
        benchmark::DoNotOptimize(rows);
    }
    state.counters["rows"] = double(rows);
    state.counters["MB"] = FileMegabytes(path);
}
BENCHMARK(BM_OpenLastDay)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true)->UseRealTime();

// --- the same through Qt SQL ---

// One connection of Qt SQL's driver, set up as the store sets up its own.
class QtSqlStore {
public:
    explicit QtSqlStore(const QString& path)
        : FName(QStringLiteral("bench%1").arg(++FCount))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), FName);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
        if (!db.open())
            throw std::runtime_error("Qt SQL cannot open the file");
        QSqlQuery q(db);
        q.exec(QStringLiteral("PRAGMA user_version"));
        q.exec(QStringLiteral("PRAGMA journal_mode = WAL"));
        q.exec(QStringLiteral("PRAGMA synchronous = NORMAL"));
        q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS readings (id INTEGER PRIMARY KEY, time_ms INTEGER NOT NULL,"
                              " host TEXT NOT NULL, completed INTEGER NOT NULL, bits BLOB NOT NULL)"));
        q.exec(QStringLiteral("CREATE INDEX IF NOT EXISTS readings_by_host ON readings (host, time_ms)"));
        q.exec(QStringLiteral("CREATE INDEX IF NOT EXISTS readings_by_time ON readings (time_ms)"));
        FInsert = std::make_unique<QSqlQuery>(db);
        FInsert->prepare(QStringLiteral("INSERT INTO readings (time_ms, host, completed, bits) VALUES (?, ?, ?, ?)"));
        FSelect = std::make_unique<QSqlQuery>(db);
        FSelect->setForwardOnly(true);
        FSelect->prepare(QStringLiteral("SELECT time_ms, host, completed, bits FROM readings"
                                        " WHERE host = ? AND time_ms >= ? AND time_ms < ? ORDER BY time_ms, id"));
    }
    ~QtSqlStore()
    {
        FInsert.reset();
        FSelect.reset();
        QSqlDatabase::database(FName, false).close();
        QSqlDatabase::removeDatabase(FName);
    }

    bool Record(const TReading& r)
    {
        FInsert->bindValue(0, qint64(r.TimeMs));
        FInsert->bindValue(1, r.Host);
        FInsert->bindValue(2, r.Completed ? 1 : 0);
        FInsert->bindValue(3, PackToneBits(r.Bits));
        return FInsert->exec();
    }

    std::vector<TReading> Readings(std::int64_t since, std::int64_t until, const QString& host)
    {
        std::vector<TReading> readings;
        FSelect->bindValue(0, host);
        FSelect->bindValue(1, qint64(since));
        FSelect->bindValue(2, qint64(until));
        FSelect->exec();
        while (FSelect->next()) {
            TReading r = ZyxelReading();
            r.TimeMs = FSelect->value(0).toLongLong();
            r.Host = FSelect->value(1).toString();
            r.Completed = FSelect->value(2).toInt() != 0;
            const QByteArray bits = FSelect->value(3).toByteArray();
            UnpackToneBits(bits.constData(), int(bits.size()), r.Bits);
            readings.push_back(r);
        }
        return readings;
    }

private:
    static inline int FCount = 0;
    QString FName;
    std::unique_ptr<QSqlQuery> FInsert;
    std::unique_ptr<QSqlQuery> FSelect;
};

void BM_QtSqlRecord(benchmark::State& state)
{
    QtSqlStore store(Scratch().filePath(QStringLiteral("record-qtsql.sqlite")));
    int i = 0;
    for (auto _ : state) {
        if (!store.Record(SampleReading(YearStartMs + i * MinuteMs, i))) {
            state.SkipWithError("Qt SQL insert failed");
            break;
        }
        ++i;
    }
}
BENCHMARK(BM_QtSqlRecord)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true)->UseRealTime();

void BM_QtSqlOpenLastDay(benchmark::State& state)
{
    const QString& path = YearStorePath();
    const std::int64_t end = YearStartMs + YearOfMinutes * MinuteMs;
    std::size_t rows = 0;
    for (auto _ : state) {
        QtSqlStore store(path);
        rows = store.Readings(end - DayMs, end, YearHost).size();
        benchmark::DoNotOptimize(rows);
    }
    state.counters["rows"] = double(rows);
    state.counters["MB"] = FileMegabytes(path);
}
BENCHMARK(BM_QtSqlOpenLastDay)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    // The test locations keep the user's own folders out of reach as well.
    QStandardPaths::setTestModeEnabled(true);
    return RunBenchmarksWithPrivateData<QCoreApplication>(argc, argv);
}
