// The History window over a store of 30 days at one reading a minute (43,200
// readings, made by this program in a folder of its own).
//
// BM_OpenSevenDays: a new window on the last 7 days (10,080 readings) up to
// its first paint (the store read, the figures, the waterfall drawn).
// BM_SwitchToThirtyDays: the period changed from 7 to 30 days, up to the
// view painted again. BM_TakeInOneReading: one new reading taken in with 30
// days open and the shown view painted. BM_Hover: one pointer move over the
// waterfall and its read-out. BM_OpenSevenDays also reports the process's
// resident memory with a 30-day window open (rss_30d_MiB) and before any
// window was made (rss_before_MiB).
// BM_EverythingYear/1, /2 and /3: "Everything" over a year at one reading a
// minute (525,600 readings, a few tones changing each minute, 0.2 %
// incomplete) from the window's making, as Ctrl+H makes it, up to the first
// paint of the year's figures, the file in its first layout (read as it is),
// its second (blocks, read as it is) and its third (blocks with summaries);
// rss_growth_MiB is the resident memory the open window adds, the
// period's events still being found on the window's reading thread
// (targets: 500 ms, 80 MB). events_ms: until the events are in too.
// BM_EverythingYear/4: the same over a year of a VDSL2 17a line of 4096
// tones with its figures and its SNR in groups of 8 each way, in the
// fourth layout (targets: 500 ms, 80 MB).
// BM_FollowLook: what an open window's look for readings other programs
// recorded costs its reading thread every 2 s over that year (third layout)
// when the file has changed: the file's data version, its hosts and the
// readings after the newest one shown (the last minute's), through the
// thread's one connection; beside BM_EverythingYear/3, the year read afresh.
#include "history/figures/history_views.h"
#include "history/window/history_window.h"
#include "history/store/reading_store.h"
#include "support/older_layouts.h"
#include "support/version1_store.h"
#include "history_year.h"
#include "year_store.h"

#include <QApplication>
#include <QDateTime>
#include <QMouseEvent>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QFile>

#include <benchmark/benchmark.h>

#include <sqlite3.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <limits>
#include <memory>

namespace {

// The newest reading is taken now, so the window's own clock finds the
// periods full.
std::int64_t Now = 0;
constexpr std::int64_t Minute = 60000;
constexpr int ThirtyDays = 30 * 24 * 60;

TReadingStore* Store = nullptr;
double RssBeforeMiB = 0;

// A line that drifts a little each minute, with an outage every few hours.
TReading LineReading(int minute)
{
    TReading r = ZyxelReading();
    r.TimeMs = Now - std::int64_t(ThirtyDays - 1 - minute) * Minute;
    r.Host = QStringLiteral("127.0.0.1");
    r.Completed = minute % 300 != 299;
    for (int tone = 6; tone < 420; ++tone) {
        const int base = tone < 32 ? 10 : 14 - tone / 40;
        r.Bits[std::size_t(tone)] = std::uint8_t(std::max(0, base - int((unsigned(tone * 7 + minute * 13) % 23) == 0)));
    }
    return r;
}

std::unique_ptr<THistoryWindow> OpenWindow(THistoryWindow::TPeriod period)
{
    // The period is remembered, so the window reads the store once, on the
    // period asked for.
    QSettings().setValue(QStringLiteral("HistoryWindow/period"), int(period));
    QSettings().setValue(QStringLiteral("HistoryWindow/view"), int(THistoryWindow::Waterfall));
    auto window = std::make_unique<THistoryWindow>(*Store);
    window->resize(1000, 640);
    return window;
}

void BM_OpenSevenDays(benchmark::State& state)
{
    for (auto _ : state) {
        auto window = OpenWindow(THistoryWindow::Last7Days);
        window->show();
        benchmark::DoNotOptimize(window->grab());
        state.PauseTiming();
        if (window->Figures().Count() < 7 * 24 * 60 - 1)
            state.SkipWithError("the window did not read 7 days");
        window.reset();
        state.ResumeTiming();
    }
    auto month = OpenWindow(THistoryWindow::Last30Days);
    month->show();
    month->grab();
    state.counters["rss_before_MiB"] = RssBeforeMiB;
    state.counters["rss_30d_MiB"] = ResidentMiB();
}

void BM_SwitchToThirtyDays(benchmark::State& state)
{
    auto window = OpenWindow(THistoryWindow::Last7Days);
    window->SetClock([] { return Now; });
    window->show();
    for (auto _ : state) {
        window->SetPeriod(THistoryWindow::Last30Days);
        benchmark::DoNotOptimize(window->CurrentView()->grab());
        state.PauseTiming();
        window->SetPeriod(THistoryWindow::Last7Days);
        state.ResumeTiming();
    }
}

void BM_TakeInOneReading(benchmark::State& state)
{
    auto window = OpenWindow(THistoryWindow::Last30Days);
    std::int64_t now = Now;
    window->SetClock([&now] { return now; });
    window->show();
    window->grab();
    int minute = ThirtyDays;
    for (auto _ : state) {
        state.PauseTiming();
        const TReading reading = LineReading(minute++);
        now = reading.TimeMs;
        state.ResumeTiming();
        window->TakeIn(reading);
        benchmark::DoNotOptimize(window->CurrentView()->grab());
    }
}

void BM_Hover(benchmark::State& state)
{
    auto window = OpenWindow(THistoryWindow::Last30Days);
    window->SetClock([] { return Now; });
    window->show();
    window->grab();
    TWaterfallView* view = window->WaterfallView();
    const QRect plot = view->Layout(view->rect()).Plot;
    int step = 0;
    for (auto _ : state) {
        const QPoint at(plot.left() + step % plot.width(), plot.top() + (step * 7) % plot.height());
        ++step;
        QMouseEvent move(QEvent::MouseMove, at, view->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(view, &move);
    }
}

QString YearPaths[5];

// A third-layout file turned back into the second: no summaries, version 2.
bool WithoutSummaries(const QString& path)
{
    sqlite3* db = nullptr;
    const bool done = BlocksStandAlone(path) && sqlite3_open(QFile::encodeName(path).constData(), &db) == SQLITE_OK
        && sqlite3_exec(db, "ALTER TABLE blocks DROP COLUMN summary; PRAGMA user_version = 2; VACUUM", nullptr,
                        nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return done;
}

TReading YearReading(int minute)
{
    return YearLineReading(Now - std::int64_t(525'600 - 1 - minute) * Minute, QStringLiteral("127.0.0.1"), minute);
}

void BM_EverythingYear(benchmark::State& state)
{
    const int layout = int(state.range(0));
    // Opened as the program's module opens it: on the file's path, each
    // layout read as it lies.
    const QString path = YearPaths[layout];
    double growth = 0;
    double eventsMs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const double before = ResidentMiB();
        QSettings().setValue(QStringLiteral("HistoryWindow/period"), int(THistoryWindow::Everything));
        QSettings().setValue(QStringLiteral("HistoryWindow/view"), int(THistoryWindow::Waterfall));
        QElapsedTimer clock;
        clock.start();
        state.ResumeTiming();
        auto window = std::make_unique<THistoryWindow>(path, nullptr, QString());
        window->resize(1000, 640);
        window->show();
        window->WaitForLoad(true);
        benchmark::DoNotOptimize(window->grab());
        state.PauseTiming();
        growth = std::max(growth, ResidentMiB() - before);
        if (window->Figures().ReadingCount() < 525'000)
            state.SkipWithError("the window did not read the year");
        window->WaitForLoad();
        eventsMs = std::max(eventsMs, double(clock.elapsed()));
        growth = std::max(growth, ResidentMiB() - before);
        window.reset();
        state.ResumeTiming();
    }
    state.counters["rss_growth_MiB"] = growth;
    state.counters["events_ms"] = eventsMs;
}

void BM_FollowLook(benchmark::State& state)
{
    TReadingStore watch;
    if (!watch.OpenToRead(YearPaths[3])) {
        state.SkipWithError("cannot open the year");
        return;
    }
    int read = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(watch.DataVersion());
        benchmark::DoNotOptimize(watch.Hosts());
        read = 0;
        watch.ReadEach(Now - Minute + 1, std::numeric_limits<std::int64_t>::max(), {}, [&read](const TReading&) {
            ++read;
            return true;
        });
    }
    if (read != 1)
        state.SkipWithError("the look did not find the newest reading");
}

} // namespace

BENCHMARK(BM_FollowLook)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EverythingYear)->Arg(1)->Arg(2)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OpenSevenDays)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_SwitchToThirtyDays)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_TakeInOneReading)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Hover)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home; // never the user's settings
    qputenv("HOME", home.path().toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("bench_history_window"));
    benchmark::Initialize(&argc, argv);

    Now = QDateTime::currentMSecsSinceEpoch();
    QTemporaryDir folder;
    TReadingStore store;
    if (!store.Open(folder.filePath(QStringLiteral("history.sqlite")))) {
        std::fprintf(stderr, "%s\n", qPrintable(store.ErrorText()));
        return 1;
    }
    for (int minute = 0; minute < ThirtyDays; ++minute) {
        if (!store.Record(LineReading(minute))) {
            std::fprintf(stderr, "%s\n", qPrintable(store.ErrorText()));
            return 1;
        }
    }
    Store = &store;
    // The year, written in the first layout and converted to the third; the
    // second is the third without its summaries.
    YearPaths[1] = folder.filePath(QStringLiteral("year-v1.sqlite"));
    YearPaths[2] = folder.filePath(QStringLiteral("year-v2.sqlite"));
    YearPaths[3] = folder.filePath(QStringLiteral("year.sqlite"));
    if (!WriteVersion1Store(YearPaths[1], 525'600, YearReading) || !QFile::copy(YearPaths[1], YearPaths[3])) {
        std::fprintf(stderr, "cannot write the year\n");
        return 1;
    }
    {
        TReadingStore converting;
        if (!converting.Open(YearPaths[3])) {
            std::fprintf(stderr, "%s\n", qPrintable(converting.ErrorText()));
            return 1;
        }
    }
    if (!QFile::copy(YearPaths[3], YearPaths[2]) || !WithoutSummaries(YearPaths[2])) {
        std::fprintf(stderr, "cannot write the second layout\n");
        return 1;
    }
    YearPaths[4] = folder.filePath(QStringLiteral("year-17a.sqlite"));
    if (!WriteYearStore(YearPaths[4], QStringLiteral("127.0.0.1"), 525'600, [](int minute) {
            return Year17aReading(Now - std::int64_t(525'600 - 1 - minute) * Minute, QStringLiteral("127.0.0.1"), minute);
        })) {
        std::fprintf(stderr, "cannot write the 17a year\n");
        return 1;
    }
    RssBeforeMiB = ResidentMiB();

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
