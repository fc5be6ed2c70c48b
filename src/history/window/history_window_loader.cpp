#include "history/window/history_window.h"

#include "history/store/reading_store.h"
#include "history/window/history_window_parts.h"

#include <QComboBox>

#include <chrono>
#include <condition_variable>
#include <deque>

// The window's read of a period: on a thread of its own with a connection of
// its own, handed over to the window's thread as it comes.

using namespace HistoryWindowParts;

namespace {

// Takes a long period's summaries into the figures on a thread of its own
// while the reading thread decodes the next ones: on two cores the two
// halves of the work overlap. The figures are the taker's until Finish.
class TFiguresTaker {
public:
    explicit TFiguresTaker(THistoryFigures& figures)
        : FThread([this, &figures] {
            std::deque<TBlockSummary> batch;
            while (Take(batch)) {
                for (const TBlockSummary& summary : batch)
                    figures.Add(summary);
                batch.clear();
            }
        })
    {
    }
    ~TFiguresTaker() { Finish(); }
    TFiguresTaker(const TFiguresTaker&) = delete;
    TFiguresTaker& operator=(const TFiguresTaker&) = delete;

    // Waits while the taker is a few dozen summaries behind, so what waits
    // stays small. The taker is woken only when it may be waiting.
    void Put(TBlockSummary&& summary)
    {
        std::unique_lock<std::mutex> lock(FLock);
        FRoom.wait(lock, [this] { return FWaiting.size() < MostWaiting; });
        FWaiting.push_back(std::move(summary));
        if (FWaiting.size() == 1)
            FReady.notify_one();
    }
    // Every summary put is in the figures once this returns.
    void Finish()
    {
        {
            const std::lock_guard<std::mutex> lock(FLock);
            FClosed = true;
        }
        FReady.notify_one();
        if (FThread.joinable())
            FThread.join();
    }

private:
    static constexpr std::size_t MostWaiting = 16;

    // Everything waiting at once, so the two threads meet once a batch
    // rather than once a summary.
    bool Take(std::deque<TBlockSummary>& batch)
    {
        std::unique_lock<std::mutex> lock(FLock);
        FReady.wait(lock, [this] { return !FWaiting.empty() || FClosed; });
        if (FWaiting.empty())
            return false;
        batch.swap(FWaiting);
        FRoom.notify_one();
        return true;
    }

    std::mutex FLock;
    std::condition_variable FReady, FRoom;
    std::deque<TBlockSummary> FWaiting;
    bool FClosed = false;
    std::thread FThread; // last: it starts once the rest is made
};

} // namespace

// What a read of the period gives the window, on the thread that read it.
struct THistoryWindow::TLoaded {
    int Generation = 0;
    bool HasFigures = false;
    THistoryFigures Figures;
    QString UnreadText;
    bool HasEvents = false;
    TLineEventDetector Detector;
    std::vector<TLineEvent> Ended;
    std::int64_t EventsUpToMs = std::numeric_limits<std::int64_t>::min(); // the newest reading the detector saw
    bool IsNews = false; // of Follow: only what other programs recorded since
    std::vector<TReading> News;
    bool NewHosts = false; // the file holds hosts the window does not list
};

void THistoryWindow::LoadPeriod(const TReadingStore& store, std::int64_t sinceMs, const QString& filter,
    int generation, const std::atomic<int>& current, const std::function<void(std::shared_ptr<TLoaded>)>& deliver)
{
    const auto going = [&current, generation] { return current.load() == generation; };
    auto loaded = std::make_shared<TLoaded>();
    loaded->Generation = generation;
    loaded->HasFigures = true;
    const std::int64_t count = store.CountBetween(sinceMs, Forever, filter);
    const bool summarise = count > THistoryFigures::SummariseAbove;
    const auto findEvents = [going](TLoaded& into) {
        into.HasEvents = true;
        return [&into, going](const TReading& reading) {
            const TLineEventNews news = into.Detector.Add(reading);
            into.Ended.insert(into.Ended.end(), news.Ended.begin(), news.Ended.end());
            into.EventsUpToMs = reading.TimeMs;
            return going();
        };
    };
    TReadResult read;
    if (summarise) {
        // A row a block: what is held follows the blocks, and the figures
        // show before the readings are gone through for the events.
        loaded->Figures.Reset(int(count / 64 + 64));
        TFiguresTaker taker(loaded->Figures);
        read = store.ReadSummaries(sinceMs, Forever, filter, [&](const QString&, TBlockSummary& summary) {
            taker.Put(std::move(summary));
            return going();
        });
        taker.Finish();
    } else {
        // Straight from the file into the figures and the events: the
        // readings themselves are never held all at once.
        loaded->Figures.Reset(int(std::min<std::int64_t>(count, 1 << 24)));
        const auto events = findEvents(*loaded);
        read = store.ReadEach(sinceMs, Forever, filter, [&](const TReading& reading) {
            loaded->Figures.Add(reading);
            return events(reading);
        });
    }
    loaded->UnreadText = read.Complete() ? QString() : read.Text();
    if (!going())
        return;
    deliver(loaded);
    if (!summarise)
        return;
    auto events = std::make_shared<TLoaded>();
    events->Generation = generation;
    // A block whose summary stood in for its damaged readings is named now.
    const TReadResult eventsRead = store.ReadEach(sinceMs, Forever, filter, findEvents(*events));
    events->UnreadText = eventsRead.Complete() ? QString() : eventsRead.Text();
    if (going())
        deliver(events);
}

void THistoryWindow::CancelLoad()
{
    ++FGeneration;
    if (FLoader.joinable())
        FLoader.join();
    const std::lock_guard<std::mutex> dropping(FArrivedLock);
    FArrived.clear();
    FLoadingFigures = FLoadingEvents = false;
    FFollowing = false;
    FTakenWhileLoading.clear();
    unsetCursor();
}

void THistoryWindow::Follow()
{
    // A window on a store object is the tests' own; what is being read
    // already holds the news, and the next look comes soon.
    if (!FOwnStore || !FStore.IsOpen() || Loading() || FFollowing)
        return;
    if (FLoader.joinable())
        FLoader.join(); // the last read, done
    FFollowing = true;
    const std::int64_t sinceMs = FFigures.Count() > 0 ? FFigures.NewestMs() + 1 : PeriodStart();
    const QString filter = cbHost->count() > 1 ? FHost : QString();
    QStringList listed;
    for (int i = 0; i < cbHost->count(); ++i)
        listed << cbHost->itemData(i).toString();
    FLoader = std::thread([this, path = FStore.Path(), sinceMs, filter, listed, generation = FGeneration.load()] {
        auto news = std::make_shared<TLoaded>();
        news->Generation = generation;
        news->IsNews = true;
        if (!FWatch)
            FWatch = std::make_unique<TReadingStore>();
        if (!FWatch->IsOpen())
            FWatch->OpenToRead(path);
        const std::int64_t version = FWatch->DataVersion();
        if (version != FWatchedVersion) {
            FWatchedVersion = version;
            // The other hosts' readings are not read, only whether there are new hosts.
            for (const QString& host : FWatch->Hosts())
                news->NewHosts = news->NewHosts || !listed.contains(host);
            FWatch->ReadEach(sinceMs, Forever, filter, [&news](const TReading& reading) {
                news->News.push_back(reading);
                return true;
            });
        }
        HandOver(news);
    });
}

void THistoryWindow::StartConversion()
{
    FConverting = true;
    FConversion = Converting;
    FConverter = std::thread([this, path = FStore.Path()] {
        TReadingStore store;
        FConversion = store.Open(path) ? Converted : NotConverted;
        QMetaObject::invokeMethod(this, [this] { TakeArrived(); }, Qt::QueuedConnection);
    });
}

void THistoryWindow::EndConversion()
{
    FConverter.join();
    FConverting = false;
    // Reopened on what the file is now: converted, it is quick to open for
    // the window's deletes; else it is read as it lies (another program may
    // have converted it meanwhile, or the folder is read-only).
    if (FConversion.load() == Converted)
        FOwnStore->Open(FStore.Path());
    else
        FOwnStore->OpenToRead(FStore.Path());
    Reload();
}

void THistoryWindow::StartLoad(std::int64_t sinceMs, const QString& filter)
{
    CancelLoad();
    const int generation = FGeneration.load();
    FLoadingFigures = FLoadingEvents = true;
    if (FConverting) {
        // Read once the conversion is done.
        setCursor(Qt::BusyCursor);
        ShowFigures();
        return;
    }
    if (!FOwnStore || FStore.Path().isEmpty()) {
        LoadPeriod(FStore, sinceMs, filter, generation, FGeneration,
                   [this](const std::shared_ptr<TLoaded>& loaded) { TakeLoaded(loaded); });
        return;
    }
    setCursor(Qt::BusyCursor);
    ShowFigures(); // says what is being read
    // A connection of the thread's own: an SQLite connection is used from one thread.
    FLoader = std::thread([this, path = FStore.Path(), sinceMs, filter, generation] {
        TReadingStore store;
        if (!store.OpenToRead(path)) {
            auto failed = std::make_shared<TLoaded>();
            failed->Generation = generation;
            failed->HasFigures = failed->HasEvents = true;
            failed->UnreadText = store.ErrorText();
            HandOver(failed);
            return;
        }
        LoadPeriod(store, sinceMs, filter, generation, FGeneration,
                   [this](const std::shared_ptr<TLoaded>& loaded) { HandOver(loaded); });
    });
}

void THistoryWindow::HandOver(const std::shared_ptr<TLoaded>& loaded)
{
    // Through a lock of our own rather than inside the queued call: what the
    // thread made is then plainly the window's once it takes it, to any
    // checker too. The call only says there is something to take.
    {
        const std::lock_guard<std::mutex> handing(FArrivedLock);
        FArrived.push_back(loaded);
    }
    QMetaObject::invokeMethod(this, [this] { TakeArrived(); }, Qt::QueuedConnection);
}

void THistoryWindow::TakeArrived()
{
    if (FConverting && FConversion.load() != Converting) {
        EndConversion();
        return;
    }
    std::vector<std::shared_ptr<TLoaded>> arrived;
    {
        const std::lock_guard<std::mutex> taking(FArrivedLock);
        arrived.swap(FArrived);
    }
    for (const auto& loaded : arrived)
        TakeLoaded(loaded);
}

void THistoryWindow::TakeLoaded(const std::shared_ptr<TLoaded>& loaded)
{
    if (loaded->Generation != FGeneration.load())
        return; // a newer read has begun
    if (loaded->IsNews) {
        FFollowing = false;
        if (loaded->NewHosts && !FHost.isEmpty()) {
            RefreshHosts();
            ShowFigures();
        }
        // Those this window took in from its own program are here already.
        for (const TReading& reading : loaded->News) {
            if (reading.Host != FHost || FFigures.Count() == 0 || reading.TimeMs > FFigures.NewestMs())
                TakeIn(reading);
        }
        return;
    }
    if (loaded->HasFigures) {
        FFigures = std::move(loaded->Figures);
        FUnreadText = loaded->UnreadText;
        FLoadingFigures = false;
        // What was recorded while the file was being read, and is not in it.
        for (const TReading& reading : FTakenWhileLoading) {
            if (FFigures.Count() == 0 || reading.TimeMs > FFigures.NewestMs())
                FFigures.Add(reading);
        }
        FFigures.DropOlderThan(PeriodStart());
    }
    if (loaded->HasEvents) {
        if (!loaded->HasFigures && !loaded->UnreadText.isEmpty())
            FUnreadText = loaded->UnreadText;
        FEventDetector = std::move(loaded->Detector);
        FEndedEvents = std::move(loaded->Ended);
        for (const TReading& reading : FTakenWhileLoading) {
            if (reading.TimeMs > loaded->EventsUpToMs) {
                const TLineEventNews news = FEventDetector.Add(reading);
                FEndedEvents.insert(FEndedEvents.end(), news.Ended.begin(), news.Ended.end());
            }
        }
        FLoadingEvents = false;
        FTakenWhileLoading.clear();
        ShowEvents();
    }
    if (!Loading())
        unsetCursor();
    ShowFigures();
}

void THistoryWindow::WaitForLoad(bool figuresOnly)
{
    const auto waiting = [this, figuresOnly] { return figuresOnly ? FConverting || FLoadingFigures : Loading(); };
    while (waiting()) {
        TakeArrived();
        if (waiting())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
