// The History window: the stored readings of a period and host as a
// waterfall, an envelope, bit changes per tone and a line-rate trend, with
// export, picture and clean-up commands. Not modal: it takes in each reading
// the main window records while it is open, and, while it shows, what other
// programs (the recorder, the reader) record into its file. It reads the store; the main
// window's writer records into the same file, and deletes in it for the
// window when the window is given it (else the window deletes itself).
//
// A period is read on a thread of its own, so both windows answer while a
// year is summarised: the figures come first, the period's events after
// them; meanwhile the window says what it is reading. A long period is read
// as its blocks' summaries, a row a block. A file of an older format is
// converted on that thread too, before the first read, for a year of it
// takes seconds.
#pragma once

#include "history/figures/history_figures.h"
#include "history/figures/picture_views.h"
#include "events/line_events.h"

#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QSettings;
class QStackedWidget;
class QTabBar;
class QTimer;
class QTableWidget;
class TReadingStore;
class TWaterfallView;
class TEnvelopeView;
class TChangesView;
class TTrendView;

class THistoryWindow : public QWidget {
    Q_OBJECT
public:
    enum TPeriod { LastHour, Last24Hours, Last7Days, Last30Days, Everything };
    enum TView { Waterfall, Envelope, Changes, Trend, Events, LineFigures, SnrWaterfall, SnrEnvelope, QlnHlog };

    // settingsFile: the INI file that remembers the window's place, view and
    // period, beside the main window's remembered boxes; empty: the
    // application's default settings.
    explicit THistoryWindow(TReadingStore& store, QWidget* parent = nullptr, const QString& settingsFile = {});
    // With a store of its own, opened on storePath and kept while the window lives.
    THistoryWindow(const QString& storePath, QWidget* parent, const QString& settingsFile);
    ~THistoryWindow() override;

    // The clock the periods are counted back from, UTC ms; the system
    // clock unless a test or benchmark sets another.
    void SetClock(std::function<std::int64_t()> now);

    // Whether the file is being converted, or the period's figures or its
    // events are still being read: a window on a store's path reads on a
    // thread of its own, one on a store object (tests) on the window's thread.
    bool Loading() const { return FConverting || FLoadingFigures || FLoadingEvents; }
    // Waits for what is being read and shows it: the figures, or everything.
    void WaitForLoad(bool figuresOnly = false);

    TPeriod Period() const;
    void SetPeriod(TPeriod period);
    TView View() const;
    void SetView(TView view);
    QString Host() const { return FHost; }
    void SetHost(const QString& host);

    const THistoryFigures& Figures() const { return FFigures; }
    // The text shown instead of the views, or the note above them; empty
    // when there is none.
    QString MessageText() const;
    QString NoteText() const;
    QWidget* CurrentView() const;
    TWaterfallView* WaterfallView() const { return FWaterfall; }
    TEnvelopeView* EnvelopeView() const { return FEnvelope; }
    TChangesView* ChangesView() const { return FChanges; }
    TTrendView* TrendView() const { return FTrend; }
    // The views of the line's figures and SNR, in the order of TView from LineFigures.
    THistoryPictureView* PictureView(TView view) const;
    QTableWidget* EventsTable() const { return FEventsTable; }
    // The period's events of the host shown, oldest first; those still going
    // on end at the newest reading.
    const std::vector<TLineEvent>& LineEvents() const { return FEvents; }
    // Shows the event's time on the waterfall.
    void ShowEvent(int index);

    // The commands without their dialogs; false with a message box shown
    // when the file cannot be written. ExportCsv and WriteReport wait for the
    // writing, which runs as StartCommand's does.
    bool ExportCsv(const QString& path);
    bool SavePicture(const QString& path);
    // The line report (PDF) of the shown period and host.
    bool WriteReport(const QString& path);
    // Starts the CSV export or the line report without waiting: a window on
    // a store's path reads the period on a thread of its own, saying so in
    // its note with a Cancel button, and both windows answer meanwhile; a
    // window on a store object writes at once. Another command waits for
    // this one to end.
    enum class TCommand { Export, Report };
    void StartCommand(TCommand command, const QString& path);
    bool CommandRunning() const { return FCommandRunning; }
    // Stops the command: the file it was writing is left as it was before.
    void CancelCommand();
    // Waits for the command and takes in how it ended.
    void WaitForCommand();
    // What a saved picture says in its corner: the host and the period, from
    // its start (the oldest reading for "Everything") to now.
    QString PictureCaption() const;
    // The names the save dialogs offer: the host, the period and, for a
    // picture, the view, so files saved of different lines and days do not
    // overwrite each other.
    QString DefaultCsvName() const;
    QString DefaultPictureName() const;
    // Hands what the delete command confirms to the history's writer, which
    // answers with Deleted; without one the window deletes on its own store.
    void SetDeleter(std::function<void(std::int64_t)> deleteThrough);
    // The confirmation the delete command asks, for `count` readings.
    static QString DeleteQuestion(std::int64_t count, std::int64_t timeMs, int hostCount);

public slots:
    // Reads the period again from the store.
    void Reload();
    // A reading the main window has just recorded.
    void TakeIn(const TReading& reading);
    // The read-out under the views for what the pointer is over in the
    // current view: a reading row, a tone or both; (-1, -1) clears it.
    void ShowCell(int row, int tone);

    void ExportCsvClick();
    void SavePictureClick();
    void LineReportClick();
    void DeleteOlderClick();
    // The writer has deleted what was taken before timeMs; count < 0: it
    // could not, for its store is off.
    void Deleted(std::int64_t timeMs, std::int64_t count);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void CreateControls();
    void RefreshHosts();
    void ShowFigures();
    void ShowMessage(const QString& text);
    // No events: nothing is shown.
    void ClearEvents();
    void ShowEvents();
    std::unique_ptr<QSettings> Settings() const;
    void SaveSettings() const;
    void RestoreSettings();
    std::int64_t PeriodStart() const;
    // The period as shown: its start, or the oldest reading shown when it
    // has none, to now.
    std::pair<std::int64_t, std::int64_t> ShownPeriod() const;
    QString FileNameStem() const;

    struct TLoaded;
    // Reads the period of the host filter (empty: every host) from
    // `sinceMs` on, giving what it read to `deliver`: the figures, then the
    // events (at once when the period is read a reading at a time).
    static void LoadPeriod(const TReadingStore& store, std::int64_t sinceMs, const QString& filter, int generation,
        const std::atomic<int>& current, const std::function<void(std::shared_ptr<TLoaded>)>& deliver);
    void StartLoad(std::int64_t sinceMs, const QString& filter);
    void CancelLoad();
    void TakeLoaded(const std::shared_ptr<TLoaded>& loaded);
    // From the reading thread to the window's.
    void HandOver(const std::shared_ptr<TLoaded>& loaded);
    void TakeArrived();
    // Looks, on the reading thread, whether another connection has changed
    // the file, and reads only what came after the newest reading shown.
    void Follow();
    // An older file is converted by a connection of the conversion's thread;
    // reads asked for meanwhile wait for it, and the window's own connection,
    // which only reads it until then, takes the converted file.
    void StartConversion();
    void EndConversion();

    THistoryWindow(std::unique_ptr<TReadingStore> own, TReadingStore* store, QWidget* parent,
        const QString& settingsFile);

    // How a command ended, on the thread that ran it.
    struct TCommandEnd {
        bool Written = false;
        bool Stopped = false;
        QString Error;  // why nothing was written
        QString Unread; // what the export could not read of the period
    };
    // Writes the export or the report from `store`; `stop` ends it early.
    struct TCommandJob {
        TCommand Command = TCommand::Export;
        QString Path;
        QString Host;
        QString Filter; // the export's host filter: empty with a single host
        std::int64_t SinceMs = 0;
        std::int64_t FromMs = 0, ToMs = 0; // the report's period
    };
    static TCommandEnd RunCommand(const TReadingStore& store, const TCommandJob& job, const std::atomic<bool>& stop);
    // From the command's thread to the window's.
    void TakeCommandEnd();
    void EndCommand(const TCommandEnd& end);

    std::unique_ptr<TReadingStore> FOwnStore; // before FStore, which may refer to it
    std::atomic<int> FGeneration{0}; // of the newest read; an older one stops
    std::thread FLoader;
    std::mutex FArrivedLock;
    std::vector<std::shared_ptr<TLoaded>> FArrived; // handed over, not yet taken
    bool FLoadingFigures = false;
    bool FLoadingEvents = false;
    std::vector<TReading> FTakenWhileLoading; // of the shown host
    QTimer* FFollowTimer = nullptr; // runs while the window shows
    bool FFollowing = false; // a look for news is on the reading thread
    // The reading thread's connection that looks for news, and what it last
    // saw; only ever used by that thread, one read after the other.
    std::unique_ptr<TReadingStore> FWatch;
    std::int64_t FWatchedVersion = -1;
    enum TConversion { Converting, Converted, NotConverted };
    std::thread FConverter;
    std::atomic<int> FConversion{Converted}; // a TConversion, set by FConverter
    bool FConverting = false; // FConverter is running, or has not been joined
    TReadingStore& FStore;
    QString FSettingsFile;
    std::function<std::int64_t()> FNow;
    THistoryFigures FFigures;
    QString FHost;
    std::function<void(std::int64_t)> FDeleteThrough; // empty: deletes on FStore
    bool FDeleting = false; // handed to the writer, not yet answered
    std::thread FCommandThread;
    std::atomic<bool> FStopCommand{false};
    std::mutex FCommandLock;
    std::vector<TCommandEnd> FCommandEnded; // handed over, not yet taken
    bool FCommandRunning = false;
    bool FCommandWritten = false; // how the last command ended
    TCommandJob FJob;

    QComboBox* cbPeriod = nullptr;
    QLabel* lbHost = nullptr;
    QComboBox* cbHost = nullptr;
    QTabBar* tbView = nullptr;
    QString FUnreadText; // what the period's read could not take from the file
    QLabel* lbNote = nullptr;
    QStackedWidget* FPages = nullptr;
    QLabel* lbMessage = nullptr;
    TWaterfallView* FWaterfall = nullptr;
    TEnvelopeView* FEnvelope = nullptr;
    TChangesView* FChanges = nullptr;
    TTrendView* FTrend = nullptr;
    std::vector<THistoryPictureView*> FPictures; // LineFigures to QlnHlog
    QTableWidget* FEventsTable = nullptr;
    TLineEventDetector FEventDetector; // of the host shown, fed as readings come in
    std::vector<TLineEvent> FEndedEvents;
    std::vector<TLineEvent> FEvents;
    QLabel* lbTime = nullptr;
    QLabel* lbTone = nullptr;
    QLabel* lbFrequency = nullptr;
    QLabel* lbBits = nullptr;
    QPushButton* btExport = nullptr;
    QPushButton* btSavePicture = nullptr;
    QPushButton* btReport = nullptr;
    QPushButton* btDelete = nullptr;
    QPushButton* btCancel = nullptr;
};
