#include "history/window/history_window.h"

#include "line/hover_readout.h"
#include "history/figures/history_views.h"
#include "events/line_events.h"
#include "history/figures/host_order.h"
#include "history/store/reading_store.h"
#include "history/window/history_window_parts.h"
#include "line/output_formats.h"
#include "recorder/recorder_config.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QStackedWidget>
#include <QTabBar>
#include <QHeaderView>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <limits>
#include <memory>

using namespace HistoryWindowParts;

namespace {

const char* const SettingsGroup = "HistoryWindow";

// A store that cannot be opened stays closed and says why: the window shows
// that in place of the figures. A file of an older format is only read here:
// opening it to write would convert it on the window's thread.
std::unique_ptr<TReadingStore> OpenedStore(const QString& path)
{
    auto store = std::make_unique<TReadingStore>();
    if (!store->OpenToRead(path) || store->Version() == TReadingStore::SchemaVersion)
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
    if (FOwnStore && FOwnStore->IsOpen() && FOwnStore->Version() < TReadingStore::SchemaVersion)
        StartConversion();
    FFollowTimer = new QTimer(this);
    FFollowTimer->setInterval(FollowIntervalMs);
    connect(FFollowTimer, &QTimer::timeout, this, &THistoryWindow::Follow);
    Reload();
}

THistoryWindow::~THistoryWindow()
{
    CancelLoad();
    // A conversion is one transaction: cut short, it would have to start
    // over at the next opening.
    if (FConverter.joinable())
        FConverter.join();
    CancelCommand();
    if (FCommandThread.joinable())
        FCommandThread.join();
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
    using TPicture = THistoryPictureView::TPicture;
    for (const auto& [picture, name] : {std::pair{TPicture::LineFigures, "LineFigures"},
             std::pair{TPicture::SnrWaterfall, "SnrWaterfall"}, std::pair{TPicture::SnrEnvelope, "SnrEnvelope"},
             std::pair{TPicture::Training, "QlnHlog"}}) {
        FPictures.push_back(new THistoryPictureView(picture, FFigures, FPages));
        FPictures.back()->setObjectName(QString::fromLatin1(name));
    }
    // In the order of TView, the message last.
    for (QWidget* page : {static_cast<QWidget*>(FWaterfall), static_cast<QWidget*>(FEnvelope),
                          static_cast<QWidget*>(FChanges), static_cast<QWidget*>(FTrend),
                          static_cast<QWidget*>(FEventsTable)})
        FPages->addWidget(page);
    for (THistoryPictureView* view : FPictures)
        FPages->addWidget(view);
    FPages->addWidget(lbMessage);
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
    // Stops an export or a report being written; shown only then.
    btCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btCancel->setObjectName(QStringLiteral("btCancel"));
    btCancel->hide();
    buttons->addWidget(btCancel);
    buttons->addStretch();
    buttons->addWidget(btDelete);
    layout->addLayout(buttons);

    connect(cbPeriod, &QComboBox::currentIndexChanged, this, [this] {
        SaveSettings();
        Reload();
    });
    connect(cbHost, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0 && cbHost->itemData(index).toString() != FHost) {
            FHost = cbHost->itemData(index).toString();
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
    // These views say what the pointer is over in a sentence of their own.
    for (THistoryPictureView* view : FPictures) {
        connect(view, &THistoryPictureView::Readout, this, [this](const QString& text) {
            ShowCell(-1, -1);
            if (!text.isEmpty()) {
                // The sentence is longer than a quarter of the row: the
                // empty labels step aside so it is read whole.
                lbTime->setText(text);
                for (QLabel* label : {lbTone, lbFrequency, lbBits})
                    label->hide();
            }
        });
    }
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
    connect(btCancel, &QPushButton::clicked, this, &THistoryWindow::CancelCommand);
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

THistoryPictureView* THistoryWindow::PictureView(TView view) const
{
    const int at = int(view) - int(LineFigures);
    return at >= 0 && at < int(FPictures.size()) ? FPictures[std::size_t(at)] : nullptr;
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
    const int index = cbHost->findData(host);
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
    // A line the recorder keeps goes by the name its configuration gives it;
    // the address stays beside it, for that is what the readings hold.
    const std::map<QString, QString> names = ConfiguredLineNames(DefaultRecorderConfigPath());
    const QSignalBlocker blocker(cbHost);
    cbHost->clear();
    for (const QString& host : hosts) {
        const auto named = names.find(host);
        cbHost->addItem(named == names.end() ? host : QStringLiteral("%1 (%2)").arg(named->second, host), host);
    }
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
    btCancel->setVisible(FCommandRunning);
    btDelete->setEnabled(FStore.IsOpen() && !FHost.isEmpty() && !FDeleting && !FConverting);
    ShowCell(-1, -1);
}

void THistoryWindow::ShowFigures()
{
    if (!FStore.IsOpen() || FHost.isEmpty())
        return;
    if (FFigures.Count() == 0 && FLoadingFigures) {
        ShowMessage(QStringLiteral("Reading the history of %1...").arg(FHost)
                    + (FConverting ? QStringLiteral("\nThe file is being converted to this version's format first; "
                                                    "a year of readings takes some seconds.")
                                   : QString()));
        return;
    }
    if (FFigures.Count() == 0) {
        ShowMessage(QStringLiteral("No readings of %1 in %2.\nChoose a longer period, or \"Everything\".")
                        .arg(FHost, QString::fromLatin1(PeriodChoices[Period()].phrase))
                    + (FUnreadText.isEmpty() ? QString() : QLatin1Char('\n') + FUnreadText));
        return;
    }
    QStringList notes;
    if (FCommandRunning)
        notes << (FJob.Command == TCommand::Report ? QStringLiteral("Writing the line report to %1...")
                                                   : QStringLiteral("Exporting the readings to %1..."))
                     .arg(FJob.Path);
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
                     .arg(cbHost->currentText());
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
    btReport->setEnabled(!FCommandRunning);
    btExport->setEnabled(!FCommandRunning);
    btCancel->setVisible(FCommandRunning);
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
    for (THistoryPictureView* view : FPictures)
        view->SetSpan(oldest, std::max(end, newest + FFigures.UsualIntervalMs()));
    FPages->setCurrentIndex(View());
}

void THistoryWindow::TakeIn(const TReading& reading)
{
    if (!FStore.IsOpen())
        return;
    const bool newHost = cbHost->findData(reading.Host) < 0;
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
    if (FFigures.Count() > 0 && reading.TimeMs == FFigures.NewestMs())
        return; // read from the file before its writer's word came
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
        break;
    case Events:
    case LineFigures:
    case SnrWaterfall:
    case SnrEnvelope:
    case QlnHlog:
        break;
    }
    lbTime->setText(time);
    lbTone->setText(toneText);
    lbFrequency->setText(frequency);
    lbBits->setText(bits);
    for (QLabel* label : {lbTone, lbFrequency, lbBits})
        label->show();
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
    if (view >= Waterfall && view <= QlnHlog)
        tbView->setCurrentIndex(view);
    if (period >= LastHour && period <= Everything)
        cbPeriod->setCurrentIndex(period);
}

void THistoryWindow::closeEvent(QCloseEvent* event)
{
    SaveSettings();
    QWidget::closeEvent(event);
}

void THistoryWindow::showEvent(QShowEvent* event)
{
    // Shown again, it takes in at once what was recorded while it was hidden.
    Follow();
    FFollowTimer->start();
    QWidget::showEvent(event);
}

void THistoryWindow::hideEvent(QHideEvent* event)
{
    FFollowTimer->stop();
    SaveSettings();
    QWidget::hideEvent(event);
}
