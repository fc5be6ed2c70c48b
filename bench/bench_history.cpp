// The line history's store on real files on the local disk, the file's
// second layout (blocks) beside its first (a row a reading) in one run, and
// the same first-layout work done through Qt SQL's SQLite driver:
//
// Record:        one reading added to a store that is open (target: median at
//                most 1 ms).
// OpenLastDay:   a store holding a year at one reading a minute (525,600
//                readings of one host, a few tones changing each minute, 0.2 %
//                incomplete; made by this program before the first run)
//                opened afresh and its last 24 hours read (target: at most
//                20 ms); the file's size is reported as the counter "MB"
//                (target: the year in at most 20 MB).
// ExportYear:    the whole year written out as CSV or JSON as it is read
//                (target: 50,000 readings a second or more), with the growth
//                of resident memory meanwhile ("rss_growth_MiB"; under 64).
// Convert:       the first-layout year converted to the second on opening.
//
// The Qt SQL runs use the first layout, its statements and pragmas, so they
// differ from the first-layout runs only in the layer between the program
// and SQLite.
#include "history/reading_store.h"
#include "line/output_formats.h"
#include "support/bench_main.h"
#include "history_year.h"
#include "support/version1_store.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QVariant>

#include <sqlite3.h>
#include <unistd.h>

#include <fstream>
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

// The year's line, reading number seed of it.
TReading SampleReading(std::int64_t timeMs, int seed)
{
    return YearLineReading(timeMs, YearHost, seed);
}

// The year in the first layout, written in one transaction as that program
// would have had it after a year.
const QString& YearStoreV1Path()
{
    static const QString path = [] {
        const QString p = Scratch().filePath(QStringLiteral("year-v1.sqlite"));
        if (!WriteVersion1Store(p, YearOfMinutes, [](int i) { return SampleReading(YearStartMs + i * MinuteMs, i); }))
            throw std::runtime_error("cannot write the first-layout year");
        return p;
    }();
    return path;
}

// The same year in the second layout: the first converted, as a user's file
// is on the first opening by this program.
double ConvertSeconds = 0;
const QString& YearStorePath()
{
    static const QString path = [] {
        const QString p = Scratch().filePath(QStringLiteral("year.sqlite"));
        QFile::copy(YearStoreV1Path(), p);
        QElapsedTimer clock;
        clock.start();
        TReadingStore store;
        if (!store.Open(p))
            throw std::runtime_error(store.ErrorText().toStdString());
        ConvertSeconds = double(clock.elapsed()) / 1000.0;
        store.Close();
        sqlite3* db = nullptr;
        sqlite3_open(p.toUtf8().constData(), &db);
        sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
        sqlite3_close(db);
        return p;
    }();
    return path;
}

const QString& PathOf(int layout)
{
    return layout == 1 ? YearStoreV1Path() : YearStorePath();
}

double FileMegabytes(const QString& path)
{
    return double(QFileInfo(path).size()) / (1024.0 * 1024.0);
}

// Argument: the layout, 1 or 2.
void BM_Record(benchmark::State& state)
{
    const int layout = int(state.range(0));
    static int run = 0;
    const QString path = Scratch().filePath(QStringLiteral("record-v%1-%2.sqlite").arg(layout).arg(++run));
    int i = 0;
    if (layout == 1) {
        // The first layout's one insert a reading, as its program ran it.
        WriteVersion1Store(path, 0, {});
        sqlite3* db = nullptr;
        sqlite3_open(path.toUtf8().constData(), &db);
        sqlite3_exec(db, "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO readings (time_ms, host, completed, bits) VALUES (?1, ?2, ?3, ?4)", -1,
                           &insert, nullptr);
        for (auto _ : state) {
            const TReading r = SampleReading(YearStartMs + i * MinuteMs, i);
            const QByteArray host = r.Host.toUtf8(), bits = PackToneBits(r.Bits);
            sqlite3_bind_int64(insert, 1, r.TimeMs);
            sqlite3_bind_text(insert, 2, host.constData(), int(host.size()), SQLITE_STATIC);
            sqlite3_bind_int(insert, 3, r.Completed ? 1 : 0);
            sqlite3_bind_blob(insert, 4, bits.constData(), int(bits.size()), SQLITE_STATIC);
            if (sqlite3_step(insert) != SQLITE_DONE)
                state.SkipWithError("insert failed");
            sqlite3_reset(insert);
            ++i;
        }
        sqlite3_finalize(insert);
        sqlite3_close(db);
        return;
    }
    TReadingStore store;
    if (!store.Open(path)) {
        state.SkipWithError(store.ErrorText().toUtf8().constData());
        return;
    }
    for (auto _ : state) {
        if (!store.Record(SampleReading(YearStartMs + i * MinuteMs, i))) {
            state.SkipWithError(store.ErrorText().toUtf8().constData());
            break;
        }
        ++i;
    }
}
BENCHMARK(BM_Record)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true)->UseRealTime();

void BM_OpenLastDay(benchmark::State& state)
{
    const QString& path = PathOf(int(state.range(0)));
    const std::int64_t end = YearStartMs + YearOfMinutes * MinuteMs;
    std::size_t rows = 0;
    for (auto _ : state) {
        TReadingStore store;
        if (!store.OpenToRead(path)) {
            state.SkipWithError(store.ErrorText().toUtf8().constData());
            break;
        }
        rows = store.Readings(end - DayMs, end, YearHost).size();
        benchmark::DoNotOptimize(rows);
    }
    state.counters["rows"] = double(rows);
    state.counters["MB"] = FileMegabytes(path);
}
BENCHMARK(BM_OpenLastDay)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true)->UseRealTime();

// Arguments: the layout, and 0 for CSV or 1 for JSON.
void BM_ExportYear(benchmark::State& state)
{
    const QString& path = PathOf(int(state.range(0)));
    const TOutputFormat format = state.range(1) == 0 ? TOutputFormat::Csv : TOutputFormat::Json;
    std::int64_t readings = 0;
    double bytes = 0, growth = 0;
    for (auto _ : state) {
        TReadingStore store;
        if (!store.OpenToRead(path)) {
            state.SkipWithError(store.ErrorText().toUtf8().constData());
            break;
        }
        const double before = ResidentMiB();
        TReadingsWriter writer(format, {});
        QFile out(QStringLiteral("/dev/null"));
        out.open(QIODevice::WriteOnly);
        QByteArray pending;
        readings = 0;
        const TReadResult read = store.ReadEach(INT64_MIN, INT64_MAX, YearHost, [&](const TReading& r) {
            pending += writer.Next(r);
            if (pending.size() >= 256 * 1024) {
                bytes += double(out.write(pending));
                pending.clear();
                growth = std::max(growth, ResidentMiB() - before);
            }
            return ++readings > 0;
        });
        bytes += double(out.write(pending + writer.Finish()));
        if (!read.Complete())
            state.SkipWithError(read.Text().toUtf8().constData());
    }
    state.counters["readings_per_s"] = benchmark::Counter(double(readings), benchmark::Counter::kIsRate);
    state.counters["rss_growth_MiB"] = growth;
    state.counters["out_MB"] = bytes / 1e6;
}
BENCHMARK(BM_ExportYear)->Args({1, 0})->Args({2, 0})->Args({1, 1})->Args({2, 1})->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

void BM_Convert(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(YearStorePath());
    state.counters["convert_s"] = ConvertSeconds;
    state.counters["MB_v1"] = FileMegabytes(YearStoreV1Path());
    state.counters["MB_v2"] = FileMegabytes(YearStorePath());
}
BENCHMARK(BM_Convert)->Iterations(1);

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
    const QString& path = YearStoreV1Path();
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
