#include "history/window/history_window.h"

#include "line/hover_readout.h"
#include "history/figures/history_views.h"
#include "events/line_events.h"
#include "history/report/line_report.h"
#include "history/figures/host_order.h"
#include "history/store/reading_store.h"
#include "line/output_formats.h"

#include <QCloseEvent>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QSettings>
#include <QShortcut>
#include <QStackedWidget>
#include <QTabBar>
#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

#include <chrono>
#include <cmath>
#include <limits>
#include <memory>

namespace {

constexpr std::int64_t MinuteMs = 60 * 1000;
constexpr std::int64_t HourMs = 60 * MinuteMs;
constexpr std::int64_t DayMs = 24 * HourMs;
constexpr std::int64_t Forever = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t Always = std::numeric_limits<std::int64_t>::min();

const char* const SettingsGroup = "HistoryWindow";

struct TPeriodChoice {
    const char* caption;
    const char* phrase; // "No readings ... in <phrase>"
    std::int64_t length; // 0: everything
};

constexpr TPeriodChoice PeriodChoices[] = {
    {"Last hour", "the last hour", HourMs},
    {"Last 24 hours", "the last 24 hours", DayMs},
    {"Last 7 days", "the last 7 days", 7 * DayMs},
    {"Last 30 days", "the last 30 days", 30 * DayMs},
    {"Everything", "the store", 0},
};

const char* const ViewCaptions[] = {"Waterfall", "Envelope", "Bit changes", "Line rate", "Events"};
const char* const DeleteCaption = "Delete readings older than...";

QString TimeText(std::int64_t ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// Minutes are enough to tell periods apart.
QString PeriodTimeText(std::int64_t ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

// A host as part of a file name: what a file name cannot hold, or would
// read as a folder, becomes '_'.
QString FileNamePart(const QString& text)
{
    QString part;
    for (const QChar c : text)
        part += c.isLetterOrNumber() || c == u'.' || c == u'-' ? c : QChar(u'_');
    return part;
}

QString ReadingsText(std::int64_t count)
{
    return count == 1 ? QStringLiteral("1 reading") : QStringLiteral("%1 readings").arg(count);
}

// Writes a file whole or not at all; false with the reason in `error`.
bool WriteWhole(const QString& path, const std::function<bool(QIODevice&)>& write, QString& error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !write(file) || !file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

// The pointer says the program is at work while a command reads a long
// period on the window's thread (an export, a report).
class TWaitCursor {
public:
    TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

// A store that cannot be opened stays closed and says why: the window shows
// that in place of the figures.
std::unique_ptr<TReadingStore> OpenedStore(const QString& path)
{
    auto store = std::make_unique<TReadingStore>();
    store->Open(path);
    return store;
}

} // namespace

THistoryWindow::THistoryWindow(TReadingStore& store, QWidget* parent, const QString& settingsFile)
    : THistoryWindow(nullptr, &store, parent, settingsFile)
{
}

THistoryWindow::THistoryWindow(const QString& storePath, QWidget* parent, const QString& settingsFile)
    : THistoryWindow(OpenedStore(storePath), nullptr, parent, settingsFile)
{
}

THistoryWindow::THistoryWindow(std::unique_ptr<TReadingStore> own, TReadingStore* store, QWidget* parent,
    const QString& settingsFile)
    : QWidget(parent, Qt::Window)
    , FOwnStore(std::move(own))
    , FStore(store ? *store : *FOwnStore)
    , FSettingsFile(settingsFile)
    , FNow([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(QStringLiteral("History"));
    CreateControls();
    resize(960, 640);
    RestoreSettings();
    Reload();
}

THistoryWindow::~THistoryWindow()
{
    CancelLoad();
}

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
        read = store.ReadSummaries(sinceMs, Forever, filter, [&](const QString&, const TBlockSummary& summary) {
            loaded->Figures.Add(summary);
            return going();
        });
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
    FTakenWhileLoading.clear();
    unsetCursor();
}

void THistoryWindow::StartLoad(std::int64_t sinceMs, const QString& filter)
{
    CancelLoad();
    const int generation = FGeneration.load();
    FLoadingFigures = FLoadingEvents = true;
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
    while (figuresOnly ? FLoadingFigures : Loading()) {
        TakeArrived();
        if (figuresOnly ? FLoadingFigures : Loading())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void THistoryWindow::CreateControls()
{
    auto* layout = new QVBoxLayout(this);

    auto* controls = new QHBoxLayout;
    auto* lbPeriod = new QLabel(QStringLiteral("Period:"), this);
    cbPeriod = new QComboBox(this);
    cbPeriod->setObjectName(QStringLiteral("cbPeriod"));
    for (const auto& choice : PeriodChoices)
        cbPeriod->addItem(QString::fromLatin1(choice.caption));
    cbPeriod->setCurrentIndex(Last24Hours);
    lbPeriod->setBuddy(cbPeriod);
    lbHost = new QLabel(QStringLiteral("Host:"), this);
    cbHost = new QComboBox(this);
    cbHost->setObjectName(QStringLiteral("cbHost"));
    lbHost->setBuddy(cbHost);
    // Shown once the store holds more than one host.
    lbHost->hide();
    cbHost->hide();
    tbView = new QTabBar(this);
    tbView->setObjectName(QStringLiteral("tbView"));
    for (const char* caption : ViewCaptions)
        tbView->addTab(QString::fromLatin1(caption));
    controls->addWidget(lbPeriod);
    controls->addWidget(cbPeriod);
    controls->addSpacing(12);
    controls->addWidget(lbHost);
    controls->addWidget(cbHost);
    controls->addSpacing(12);
    controls->addWidget(tbView);
    controls->addStretch();
    layout->addLayout(controls);

    lbNote = new QLabel(this);
    lbNote->setObjectName(QStringLiteral("lbNote"));
    lbNote->setWordWrap(true);
    layout->addWidget(lbNote);

    FPages = new QStackedWidget(this);
    FWaterfall = new TWaterfallView(FFigures, FPages);
    FWaterfall->setObjectName(QStringLiteral("Waterfall"));
    FWaterfall->setMouseTracking(true);
    FEnvelope = new TEnvelopeView(FFigures, FPages);
    FEnvelope->setObjectName(QStringLiteral("Envelope"));
    FChanges = new TChangesView(FFigures, FPages);
    FChanges->setObjectName(QStringLiteral("Changes"));
    FTrend = new TTrendView(FFigures, FPages);
    FTrend->setObjectName(QStringLiteral("Trend"));
    FEventsTable = new QTableWidget(0, 4, FPages);
    FEventsTable->setObjectName(QStringLiteral("EventsTable"));
    FEventsTable->setHorizontalHeaderLabels({QStringLiteral("Kind"), QStringLiteral("Start"),
        QStringLiteral("Duration"), QStringLiteral("Figures")});
    FEventsTable->horizontalHeader()->setStretchLastSection(true);
    FEventsTable->verticalHeader()->hide();
    FEventsTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FEventsTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    FEventsTable->setSelectionMode(QAbstractItemView::SingleSelection);
    lbMessage = new QLabel(FPages);
    lbMessage->setObjectName(QStringLiteral("lbMessage"));
    lbMessage->setAlignment(Qt::AlignCenter);
    lbMessage->setWordWrap(true);
    // In the order of TView, the message last.
    for (QWidget* page : {static_cast<QWidget*>(FWaterfall), static_cast<QWidget*>(FEnvelope),
                          static_cast<QWidget*>(FChanges), static_cast<QWidget*>(FTrend),
                          static_cast<QWidget*>(FEventsTable), static_cast<QWidget*>(lbMessage)})
        FPages->addWidget(page);
    layout->addWidget(FPages, 1);

    // The read-out of what the pointer is over, written as the main
    // window's; each view fills it in its own terms.
    auto* readout = new QHBoxLayout;
    lbTime = new QLabel(this);
    lbTime->setObjectName(QStringLiteral("lbTime"));
    lbTone = new QLabel(this);
    lbTone->setObjectName(QStringLiteral("lbTone"));
    lbFrequency = new QLabel(this);
    lbFrequency->setObjectName(QStringLiteral("lbFrequency"));
    lbBits = new QLabel(this);
    lbBits->setObjectName(QStringLiteral("lbBits"));
    for (QLabel* label : {lbTime, lbTone, lbFrequency, lbBits}) {
        label->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("Time:   2026-12-07 00:00:00   ")));
        readout->addWidget(label);
    }
    readout->addStretch();
    layout->addLayout(readout);
    ShowCell(-1, -1);

    auto* buttons = new QHBoxLayout;
    btExport = new QPushButton(QStringLiteral("Export CSV..."), this);
    btExport->setObjectName(QStringLiteral("btExport"));
    btSavePicture = new QPushButton(QStringLiteral("Save picture..."), this);
    btSavePicture->setObjectName(QStringLiteral("btSavePicture"));
    btDelete = new QPushButton(QString::fromLatin1(DeleteCaption), this);
    btDelete->setObjectName(QStringLiteral("btDelete"));
    buttons->addWidget(btExport);
    buttons->addWidget(btSavePicture);
    btReport = new QPushButton(QStringLiteral("Line report..."), this);
    btReport->setObjectName(QStringLiteral("btReport"));
    buttons->addWidget(btReport);
    buttons->addStretch();
    buttons->addWidget(btDelete);
    layout->addLayout(buttons);

    connect(cbPeriod, &QComboBox::currentIndexChanged, this, [this] {
        SaveSettings();
        Reload();
    });
    connect(cbHost, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0 && cbHost->itemText(index) != FHost) {
            FHost = cbHost->itemText(index);
            Reload();
        }
    });
    connect(tbView, &QTabBar::currentChanged, this, [this] {
        ShowCell(-1, -1); // what the read-out said was of the other view
        ShowFigures();
        SaveSettings();
    });
    for (THistoryToneView* view : {static_cast<THistoryToneView*>(FWaterfall), static_cast<THistoryToneView*>(FEnvelope),
                                   static_cast<THistoryToneView*>(FChanges)})
        connect(view, &THistoryToneView::Hovered, this, &THistoryWindow::ShowCell);
    connect(FTrend, &TTrendView::Hovered, this, &THistoryWindow::ShowCell);
    // Choosing an event (a double click or Enter) shows its time on the waterfall.
    connect(FEventsTable, &QTableWidget::cellActivated, this, [this](int row, int) { ShowEvent(row); });
    // A window of its own, closed as such windows are.
    for (const QKeySequence& keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, &QWidget::close);
    }
    connect(btExport, &QPushButton::clicked, this, &THistoryWindow::ExportCsvClick);
    connect(btSavePicture, &QPushButton::clicked, this, &THistoryWindow::SavePictureClick);
    connect(btReport, &QPushButton::clicked, this, &THistoryWindow::LineReportClick);
    connect(btDelete, &QPushButton::clicked, this, &THistoryWindow::DeleteOlderClick);
}

void THistoryWindow::SetClock(std::function<std::int64_t()> now)
{
    FNow = std::move(now);
    Reload();
}

THistoryWindow::TPeriod THistoryWindow::Period() const
{
    return TPeriod(cbPeriod->currentIndex());
}

void THistoryWindow::SetPeriod(TPeriod period)
{
    cbPeriod->setCurrentIndex(period);
}

THistoryWindow::TView THistoryWindow::View() const
{
    return TView(tbView->currentIndex());
}

void THistoryWindow::SetView(TView view)
{
    tbView->setCurrentIndex(view);
}

void THistoryWindow::SetHost(const QString& host)
{
    const int index = cbHost->findText(host);
    if (index >= 0)
        cbHost->setCurrentIndex(index);
}

QString THistoryWindow::MessageText() const
{
    return FPages->currentWidget() == lbMessage ? lbMessage->text() : QString();
}

QString THistoryWindow::NoteText() const
{
    return lbNote->isVisibleTo(this) ? lbNote->text() : QString();
}

QWidget* THistoryWindow::CurrentView() const
{
    return FPages->currentWidget() == lbMessage ? nullptr : FPages->currentWidget();
}

std::int64_t THistoryWindow::PeriodStart() const
{
    const std::int64_t length = PeriodChoices[Period()].length;
    return length == 0 ? Always : FNow() - length;
}

void THistoryWindow::RefreshHosts()
{
    const QStringList hosts = SortedHosts(FStore.Hosts());
    if (!hosts.contains(FHost))
        FHost = hosts.isEmpty() ? QString() : hosts.first();
    const QSignalBlocker blocker(cbHost);
    cbHost->clear();
    cbHost->addItems(hosts);
    cbHost->setCurrentIndex(int(hosts.indexOf(FHost)));
    lbHost->setVisible(hosts.size() > 1);
    cbHost->setVisible(hosts.size() > 1);
}

void THistoryWindow::Reload()
{
    CancelLoad();
    if (!FStore.IsOpen()) {
        FFigures.Reset({});
        ClearEvents();
        ShowMessage(QStringLiteral("History is turned off for this run: %1\n"
                                   "Readings are not being kept, so there is nothing to show.")
                        .arg(FStore.ErrorText()));
        return;
    }
    RefreshHosts();
    if (FHost.isEmpty()) {
        FFigures.Reset({});
        ClearEvents();
        ShowMessage(QStringLiteral("No readings are stored yet.\n"
                                   "Every reading the main window plots is kept here; press Plot to take the first."));
        return;
    }
    // With one host every reading is that host's; asking for all of them
    // spares the store a comparison per row.
    StartLoad(PeriodStart(), cbHost->count() > 1 ? FHost : QString());
}

void THistoryWindow::ClearEvents()
{
    FEventDetector = TLineEventDetector();
    FEndedEvents.clear();
    ShowEvents();
}

void THistoryWindow::ShowEvents()
{
    FEvents = FEndedEvents;
    const std::vector<TLineEvent> ongoing = FEventDetector.Ongoing();
    FEvents.insert(FEvents.end(), ongoing.begin(), ongoing.end());
    std::stable_sort(FEvents.begin(), FEvents.end(),
        [](const TLineEvent& a, const TLineEvent& b) { return a.StartMs < b.StartMs; });
    FEventsTable->setRowCount(int(FEvents.size()));
    for (int row = 0; row < int(FEvents.size()); ++row) {
        const TLineEvent& e = FEvents[std::size_t(row)];
        const QString cells[] = {LineEventKindText(e.Kind), TimeText(e.StartMs),
            DurationText(e.DurationMs()) + (e.Ongoing ? QStringLiteral(" so far") : QString()), e.FiguresText()};
        for (int column = 0; column < 4; ++column)
            FEventsTable->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    FEventsTable->resizeColumnsToContents();
}

void THistoryWindow::ShowEvent(int index)
{
    if (index < 0 || index >= int(FEvents.size()))
        return;
    FWaterfall->SetMark(FEvents[std::size_t(index)].StartMs, FEvents[std::size_t(index)].EndMs);
    SetView(Waterfall);
}

void THistoryWindow::ShowMessage(const QString& text)
{
    lbMessage->setText(text);
    FPages->setCurrentWidget(lbMessage);
    lbNote->hide();
    btSavePicture->setEnabled(false);
    btReport->setEnabled(false);
    btExport->setEnabled(false);
    btDelete->setEnabled(FStore.IsOpen() && !FHost.isEmpty() && !FDeleting);
    ShowCell(-1, -1);
}

void THistoryWindow::ShowFigures()
{
    if (!FStore.IsOpen() || FHost.isEmpty())
        return;
    if (FFigures.Count() == 0 && FLoadingFigures) {
        ShowMessage(QStringLiteral("Reading the history of %1...").arg(FHost));
        return;
    }
    if (FFigures.Count() == 0) {
        ShowMessage(QStringLiteral("No readings of %1 in %2.\nChoose a longer period, or \"Everything\".")
                        .arg(FHost, QString::fromLatin1(PeriodChoices[Period()].phrase))
                    + (FUnreadText.isEmpty() ? QString() : QLatin1Char('\n') + FUnreadText));
        return;
    }
    QStringList notes;
    if (FLoadingFigures)
        notes << QStringLiteral("Reading the history of %1...").arg(FHost);
    else if (FLoadingEvents)
        notes << QStringLiteral("Finding the events of this period...");
    // A part of the period the file could not give is said, not drawn as
    // a line that held nothing.
    if (!FUnreadText.isEmpty())
        notes << FUnreadText;
    if (cbHost->count() > 1)
        notes << QStringLiteral("The store holds readings of %1 hosts; this shows those of %2 (choose another under Host).")
                     .arg(cbHost->count())
                     .arg(FHost);
    if (FFigures.ReadingCount() == 1)
        notes << QStringLiteral("One reading so far (%1): the waterfall has one row, no tone can have changed yet, "
                                "and the line rate has one point.")
                     .arg(TimeText(FFigures.Row(0).TimeMs));
    else if (FFigures.CompleteCount() == 0)
        notes << QStringLiteral("Every cycle of this period was incomplete: the waterfall is grey, and there is no "
                                "envelope, change or line rate to show.");
    lbNote->setText(notes.join(QLatin1Char(' ')));
    lbNote->setVisible(!notes.isEmpty());
    btSavePicture->setEnabled(true);
    btReport->setEnabled(true);
    btExport->setEnabled(true);
    btDelete->setEnabled(!FDeleting);

    // The time axis runs from the oldest reading shown, not from the period's
    // start: a day's axis with the last ten minutes filled shows nothing.
    // A period counted back from now ends now, so the time since the last
    // reading shows; "Everything" ends at the newest reading, or readings of
    // long ago would shrink to nothing. On the waterfall the newest reading
    // has at least its usual share of time: a reading just taken gets a row.
    const std::int64_t oldest = FFigures.Rates().front().TimeMs;
    const std::int64_t newest = FFigures.Rates().back().TimeMs;
    const std::int64_t end = Period() == Everything ? newest : std::max(FNow(), newest);
    FTrend->SetSpan(oldest, end);
    FWaterfall->SetSpan(oldest, std::max(end, newest + FFigures.UsualIntervalMs()));
    FEnvelope->FiguresChanged();
    FChanges->FiguresChanged();
    FPages->setCurrentIndex(View());
}

void THistoryWindow::TakeIn(const TReading& reading)
{
    if (!FStore.IsOpen())
        return;
    const bool newHost = cbHost->findText(reading.Host) < 0;
    if (newHost) {
        const bool first = FHost.isEmpty();
        RefreshHosts();
        if (first) {
            // The very first reading: the store has it already.
            Reload();
            return;
        }
    }
    if (reading.Host != FHost) {
        // Another host's reading leaves this one's figures as they are; a
        // host seen for the first time brings the host choice and its note.
        if (newHost)
            ShowFigures();
        return;
    }
    // What is being read takes it in once it is here; the figures may be
    // here before the period's events are.
    if (Loading())
        FTakenWhileLoading.push_back(reading);
    if (FLoadingFigures)
        return;
    if (FFigures.Count() > 0 && reading.TimeMs < FFigures.NewestMs()) {
        Reload(); // the clock went back: take the period afresh
        return;
    }
    FFigures.Add(reading);
    FFigures.DropOlderThan(PeriodStart());
    if (FLoadingEvents) {
        ShowFigures();
        return;
    }
    const TLineEventNews news = FEventDetector.Add(reading);
    FEndedEvents.insert(FEndedEvents.end(), news.Ended.begin(), news.Ended.end());
    std::erase_if(FEndedEvents, [start = PeriodStart()](const TLineEvent& e) { return e.StartMs < start; });
    ShowEvents();
    ShowFigures();
}

void THistoryWindow::ShowCell(int row, int tone)
{
    const THoverTexts captions = HoverTexts(-1, 0, 0);
    QString time = QStringLiteral("Time:");
    QString toneText = captions.Tone;
    QString frequency = captions.Frequency;
    QString bits = captions.Bits;
    const bool haveRow = row >= 0 && row < FFigures.Count();
    const bool haveTone = tone >= 0 && tone < FFigures.ToneCount();
    const double spacing = FFigures.SpacingKHz();
    const auto timeOf = [this](int r) { return QStringLiteral("Time:   ") + TimeText(FFigures.Row(r).TimeMs); };
    if (haveTone) {
        toneText = HoverTexts(tone, 0, 0, spacing).Tone;
        frequency = HoverTexts(tone, 0, 0, spacing).Frequency;
    }
    switch (View()) {
    case Waterfall:
        if (haveRow)
            time = timeOf(row);
        if (haveRow && haveTone)
            bits = FFigures.Bits(row, tone) < 0 ? QStringLiteral("Bits:   none, the cycle was incomplete")
                                                : HoverTexts(tone, 0, FFigures.Bits(row, tone)).Bits;
        else if (haveTone)
            bits = QStringLiteral("Bits:   no reading was taken then");
        break;
    case Envelope:
        if (haveTone && FFigures.CompleteCount() > 0) {
            // The bars are the newest complete reading's.
            for (int r = 0; r < FFigures.Count(); ++r) {
                if (FFigures.Row(r).Completed) {
                    time = QStringLiteral("Latest:   ") + TimeText(FFigures.Row(r).TimeMs);
                    break;
                }
            }
            bits = HoverTexts(tone, 0, FFigures.Latest(tone)).Bits
                   + QStringLiteral(" (least %1, most %2)").arg(FFigures.Min(tone)).arg(FFigures.Max(tone));
        }
        break;
    case Changes:
        if (haveTone)
            bits = QStringLiteral("Changes:   %1").arg(FFigures.Changes(tone));
        break;
    case Trend:
        if (haveRow) {
            const TRatePoint& p = FFigures.Row(row);
            time = timeOf(row);
            if (p.Completed) {
                toneText = QStringLiteral("Upstream:   %1 kbit/s").arg(p.UpKbps());
                frequency = QStringLiteral("Downstream:   %1 kbit/s").arg(p.DownKbps());
                bits = QStringLiteral("Bits:   %1 up, %2 down").arg(p.UpBits).arg(p.DownBits);
            } else {
                toneText = QStringLiteral("Upstream:   none");
                frequency = QStringLiteral("Downstream:   none");
                bits = QStringLiteral("Bits:   none, the cycle was incomplete");
            }
        }
        break;    case Events:
        break;
    }
    lbTime->setText(time);
    lbTone->setText(toneText);
    lbFrequency->setText(frequency);
    lbBits->setText(bits);
}

bool THistoryWindow::ExportCsv(const QString& path)
{
    const QString filter = cbHost->count() > 1 ? FHost : QString();
    // Written as read: a year goes out in the memory of one block.
    TReadResult read;
    QString error;
    auto busy = std::make_unique<TWaitCursor>();
    const bool written = WriteWhole(path, [&](QIODevice& file) {
        TReadingsWriter writer(TOutputFormat::Csv, {});
        bool ok = true;
        read = FStore.ReadEach(PeriodStart(), Forever, filter, [&](const TReading& reading) {
            const QByteArray row = writer.Next(reading);
            ok = file.write(row) == row.size();
            return ok;
        });
        const QByteArray end = writer.Finish();
        return ok && file.write(end) == end.size();
    }, error);
    busy.reset();
    if (written && !read.Complete()) {
        QMessageBox::warning(this, windowTitle(), QStringLiteral("%1 holds every reading but these:\n%2").arg(path, read.Text()));
        return false;
    }
    if (written)
        return true;
    QMessageBox::critical(this, windowTitle(), QStringLiteral("Cannot write %1: %2").arg(path, error));
    return false;
}

bool THistoryWindow::SavePicture(const QString& path)
{
    QWidget* view = CurrentView();
    if (view == nullptr)
        return false;
    const QImage shot = view->grab().toImage();
    // A band below the view says whose line and which period: a picture
    // passed on keeps its context.
    const qreal ratio = shot.devicePixelRatio();
    const QFontMetrics metrics = fontMetrics();
    const int band = metrics.height() * 3 / 2;
    QImage picture(shot.width(), shot.height() + int(std::lround(band * ratio)), QImage::Format_RGB32);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::white);
    {
        QPainter painter(&picture);
        painter.setFont(font());
        painter.drawImage(QPoint(0, 0), shot);
        painter.setPen(Qt::black);
        const int top = int(std::lround(shot.height() / ratio));
        painter.drawText(QRect(metrics.height() / 2, top, int(shot.width() / ratio), band),
                         Qt::AlignLeft | Qt::AlignVCenter, PictureCaption());
    }
    QString error;
    if (WriteWhole(path, [&picture](QIODevice& file) { return picture.save(&file, "PNG"); }, error))
        return true;
    QMessageBox::critical(this, windowTitle(), QStringLiteral("Cannot write %1: %2").arg(path, error));
    return false;
}

namespace {

// A file name from a save dialog, with `suffix` added when none was typed.
QString AskSavePath(QWidget* parent, const QString& caption, const QString& name, const QString& filter,
                    const QString& suffix)
{
    QFileDialog dialog(parent, caption, name, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(suffix);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

} // namespace

std::pair<std::int64_t, std::int64_t> THistoryWindow::ShownPeriod() const
{
    const std::int64_t now = FNow();
    std::int64_t from = PeriodStart();
    if (from == Always)
        from = FFigures.Count() > 0 ? FFigures.Rates().front().TimeMs : now;
    return {from, now};
}

QString THistoryWindow::PictureCaption() const
{
    const auto [from, to] = ShownPeriod();
    return QStringLiteral("%1, %2: %3 to %4")
        .arg(FHost, QString::fromLatin1(PeriodChoices[Period()].caption).toLower(), PeriodTimeText(from),
             PeriodTimeText(to));
}

QString THistoryWindow::FileNameStem() const
{
    const auto [from, to] = ShownPeriod();
    const auto stamp = [](std::int64_t ms) {
        return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd_HHmm"));
    };
    return QStringLiteral("tirvane-%1-%2-to-%3").arg(FileNamePart(FHost), stamp(from), stamp(to));
}

QString THistoryWindow::DefaultCsvName() const
{
    return FileNameStem() + QStringLiteral(".csv");
}

QString THistoryWindow::DefaultPictureName() const
{
    const QString view = QString::fromLatin1(ViewCaptions[View()]).toLower().replace(QLatin1Char(' '), QLatin1Char('-'));
    return FileNameStem() + QLatin1Char('-') + view + QStringLiteral(".png");
}

void THistoryWindow::ExportCsvClick()
{
    const QString path = AskSavePath(this, QStringLiteral("Export CSV"), DefaultCsvName(),
                                     QStringLiteral("CSV files (*.csv);;All files (*)"), QStringLiteral("csv"));
    if (!path.isEmpty())
        ExportCsv(path);
}

bool THistoryWindow::WriteReport(const QString& path)
{
    const auto [from, to] = ShownPeriod();
    QString error;
    bool written = false;
    {
        const TWaitCursor busy;
        // The period ends now, the reading taken this very millisecond with it.
        written = WriteLineReport(path, FStore, FHost, from, to + 1, &error);
    }
    if (written)
        return true;
    QMessageBox::critical(this, windowTitle(), QStringLiteral("Cannot write the line report: %1").arg(error));
    return false;
}

void THistoryWindow::LineReportClick()
{
    const QString path = AskSavePath(this, QStringLiteral("Line report"), FileNameStem() + QStringLiteral("-report.pdf"),
                                     QStringLiteral("PDF files (*.pdf);;All files (*)"), QStringLiteral("pdf"));
    if (!path.isEmpty())
        WriteReport(path);
}

void THistoryWindow::SavePictureClick()
{
    const QString path = AskSavePath(this, QStringLiteral("Save picture"), DefaultPictureName(),
                                     QStringLiteral("PNG pictures (*.png);;All files (*)"), QStringLiteral("png"));
    if (!path.isEmpty())
        SavePicture(path);
}

QString THistoryWindow::DeleteQuestion(std::int64_t count, std::int64_t timeMs, int hostCount)
{
    return QStringLiteral("%1 taken before %2%3 will be deleted for good.\nDelete %4?")
        .arg(ReadingsText(count), TimeText(timeMs),
             hostCount > 1 ? QStringLiteral(" (of every host)") : QString(),
             count == 1 ? QStringLiteral("it") : QStringLiteral("them"));
}

void THistoryWindow::DeleteOlderClick()
{
    QDialog ask(this);
    ask.setWindowTitle(QStringLiteral("Delete readings older than"));
    auto* layout = new QVBoxLayout(&ask);
    layout->addWidget(new QLabel(QStringLiteral("Delete every reading taken before:"), &ask));
    auto* when = new QDateTimeEdit(QDateTime::fromMSecsSinceEpoch(FNow() - 30 * DayMs), &ask);
    when->setObjectName(QStringLiteral("edBefore"));
    when->setCalendarPopup(true);
    when->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    layout->addWidget(when);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &ask);
    connect(buttons, &QDialogButtonBox::accepted, &ask, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &ask, &QDialog::reject);
    layout->addWidget(buttons);
    if (ask.exec() != QDialog::Accepted)
        return;

    const std::int64_t before = when->dateTime().toMSecsSinceEpoch();
    const std::int64_t count = FStore.CountOlderThan(before);
    if (count <= 0) {
        QMessageBox::information(this, windowTitle(),
                                 QStringLiteral("No readings were taken before %1: nothing to delete.").arg(TimeText(before)));
        return;
    }
    if (QMessageBox::question(this, windowTitle(), DeleteQuestion(count, before, int(FStore.Hosts().size())),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        != QMessageBox::Yes)
        return;
    if (FDeleteThrough) {
        // The history's writer deletes behind the readings it is recording:
        // the window does not wait for a long delete, nor fight the writer
        // for the file. Deleted says when it is done.
        FDeleting = true;
        btDelete->setEnabled(false);
        btDelete->setText(QStringLiteral("Deleting readings taken before %1...").arg(TimeText(before)));
        FDeleteThrough(before);
        return;
    }
    FStore.DeleteOlderThan(before);
    Reload();
}

void THistoryWindow::SetDeleter(std::function<void(std::int64_t)> deleteThrough)
{
    FDeleteThrough = std::move(deleteThrough);
}

void THistoryWindow::Deleted(std::int64_t, std::int64_t count)
{
    FDeleting = false;
    btDelete->setText(QString::fromLatin1(DeleteCaption));
    Reload();
    if (count >= 0)
        return;
    // Not modal: the answer comes while the monitor goes on plotting.
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(),
        count == TReadingStore::DeleteBusy
            ? QStringLiteral("No readings were deleted: another program kept the history file busy. Try again later.")
            : QStringLiteral("No readings were deleted: the history cannot be written in this run."),
        QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

std::unique_ptr<QSettings> THistoryWindow::Settings() const
{
    if (FSettingsFile.isEmpty())
        return std::make_unique<QSettings>();
    return std::make_unique<QSettings>(FSettingsFile, QSettings::IniFormat);
}

void THistoryWindow::SaveSettings() const
{
    const auto held = Settings();
    QSettings& settings = *held;
    settings.beginGroup(QLatin1String(SettingsGroup));
    settings.setValue(QStringLiteral("geometry"), saveGeometry());
    settings.setValue(QStringLiteral("view"), int(View()));
    settings.setValue(QStringLiteral("period"), int(Period()));
}

void THistoryWindow::RestoreSettings()
{
    const auto held = Settings();
    QSettings& settings = *held;
    settings.beginGroup(QLatin1String(SettingsGroup));
    restoreGeometry(settings.value(QStringLiteral("geometry")).toByteArray());
    const int view = settings.value(QStringLiteral("view"), int(Waterfall)).toInt();
    const int period = settings.value(QStringLiteral("period"), int(Last24Hours)).toInt();
    const QSignalBlocker viewBlocker(tbView);
    const QSignalBlocker periodBlocker(cbPeriod);
    if (view >= Waterfall && view <= Events)
        tbView->setCurrentIndex(view);
    if (period >= LastHour && period <= Everything)
        cbPeriod->setCurrentIndex(period);
}

void THistoryWindow::closeEvent(QCloseEvent* event)
{
    SaveSettings();
    QWidget::closeEvent(event);
}

void THistoryWindow::hideEvent(QHideEvent* event)
{
    SaveSettings();
    QWidget::hideEvent(event);
}
