// The main window: every control of the monitor, the sampling cycle that
// logs in to the router and plots its line data, the hover read-out, and the
// chart's picture commands. The window owns every control and component;
// the telnet session of a cycle lives only inside Button1Click.
#pragma once

#include "line/capture_buffer.h"
#include "line/reading.h"

#include <QMainWindow>

#include "line/cycle_dialogue.h"
#include "app/window_rules.h"
#include "line/parsed_line.h"
#include "line/tone_values.h"
#include "recorder/router_turn.h"
#include "line/take_reading.h"

#include <array>
#include <optional>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class QCloseEvent;
class QShowEvent;
class QEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QAction;
class QPushButton;
class QRadioButton;
class QTimer;
class QFrame;
class TChart;
class TBarSeries;
class TShape;
class TSavePictureDialog;
class TReadingStore;
class TReadingRecorder;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Controls, named as the window was designed.
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    TShape* Shape1 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Image1 = nullptr;
    TChart* Chart21 = nullptr;
    TBarSeries* LineSeries18 = nullptr; // owned by Chart21
    QLineEdit* edUsername = nullptr;
    QLineEdit* edPassword = nullptr;
    QPushButton* Button1 = nullptr;
    TCaptureBuffer Memo1; // the invisible capture buffer: never shown
    QLineEdit* edHost = nullptr;
    QRadioButton* rb1 = nullptr;
    QRadioButton* rb2 = nullptr;
    QRadioButton* rb3 = nullptr;
    QFrame* Panel35 = nullptr;
    QFrame* Panel36 = nullptr;
    QLabel* Label56 = nullptr;
    QLabel* Label57 = nullptr;
    QLabel* Label58 = nullptr;
    QPushButton* Button2 = nullptr;
    QLineEdit* edPrompt = nullptr;

    // Non-visual components.
    QTimer* Timer1 = nullptr;
    QMenuBar* MainMenu1 = nullptr;
    // The Router menu, before Help: one checkable item per family, in the
    // order of RouterFamilies, the ZyXEL checked at first.
    QMenu* Router1 = nullptr;
    std::array<QAction*, RouterFamilies.size()> RouterItems{};
    QMenu* Help1 = nullptr;
    QAction* Help2 = nullptr;
    QAction* N3 = nullptr;
    QAction* About1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* SaveAs1 = nullptr;
    QAction* N1 = nullptr;
    QAction* Copytoclipboard1 = nullptr;
    QAction* N2 = nullptr;
    QAction* Printersetup1 = nullptr;
    QAction* Print1 = nullptr;
    QAction* N4 = nullptr;
    // Checkable: desktop notices of new line events, remembered in the
    // settings file. The chart's menu has room for it; the designed
    // controls stay as they are.
    QAction* NotifyEvents1 = nullptr;
    QAction* History1 = nullptr; // Ctrl+H in the main window too
    // The chart's quantity, Ctrl+1 to Ctrl+4, one checked, remembered; and
    // the line figures: the window (Ctrl+L) and whether cycles read them
    // (remembered, off at first). Made in main_window_chart.cpp.
    std::array<QAction*, 4> QuantityItems{};
    QAction* LineFigures1 = nullptr;
    QAction* ReadFigures1 = nullptr;
    TSavePictureDialog* SavePictureDialog1 = nullptr; // Qt-owned by this window; made on first use

public slots:
    // The sampling cycle (Plot, the range choices, the credit line, the timer).
    void Button1Click();
    void Timer1Timer();
    void Button2Click();
    void Chart21MouseMove(Qt::KeyboardModifiers shift, int x, int y);
    void Help2Click();
    void About1Click();

    // The chart's pop-up menu: defined in main_window_output.cpp.
    void SaveAs1Click();
    void Copytoclipboard1Click();
    void Printersetup1Click();
    void Print1Click();
    // Opens (or brings up) the History window; defined in
    // main_window_history.cpp.
    void History1Click();
    // Opens (or brings up) the line figures window beside the chart.
    void LineFigures1Click();

signals:
    // The window has accepted a close: the boxes hold what the user left.
    void Closing();

public:
    // Runs Button2Click, drops any error, and always lets the window close.
    void FormCloseQuery(bool& CanClose);

    // Waits until every reading handed to the history has been stored (or
    // has failed) and its ReadingRecorded sent: readings are written on a
    // thread of their own, so that a slow disk never holds the window.
    void FlushHistory();

    // The deadline each cycle gives itself; CycleDeadline unless shortened
    // (by tests, or TIRVANE_CYCLE_DEADLINE_MS in the environment).
    std::chrono::milliseconds CycleDeadlineSpan() const { return FCycleDeadline; }
    void SetCycleDeadlineSpan(std::chrono::milliseconds span) { FCycleDeadline = span; }

    // The screen area the controls are placed in (the window less its menu
    // bar): 699 x 421 at the design size, never smaller than 699 x 410.
    QWidget* ClientArea() const { return FClientArea; }

signals:
    // After each reading of a cycle has been stored.
    void ReadingRecorded(const TReading& reading);

public:
    // True from the start of a cycle's dialogue to its end: the window keeps
    // handling its events meanwhile, and a Plot or range click then ends the
    // cycle and runs the one asked for in its place.
    bool CycleRunning() const { return FCycleRunning; }

    // The quantity the chart shows; setting it checks its item and draws
    // the line on show again.
    TToneQuantity Quantity() const;
    void SetQuantity(TToneQuantity quantity);
    // Whether cycles ask the router for the line's figures.
    bool ReadFigures() const;
    void SetReadFigures(bool on);
    // The line figures window once made, else null.
    class TLineFiguresWindow* FiguresWindow() const { return FFiguresWindow; }

    // The family checked in the Router menu; setting it checks its item.
    TRouterFamily Router() const;
    void SetRouter(TRouterFamily family);
    // The reading whose bars are on show (its tone count, spacing and band
    // plan); none before the first and after one without tones.
    const std::optional<TReading>& ShownLine() const { return FShownLine; }
    // Puts a line on the chart in the range and quantity chosen; none
    // empties it.
    void ShowLine(std::optional<TReading> line, const std::optional<TToneRange>& range);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    // The pointer left the chart: no bar is under it any more.
    void Chart21MouseLeave();

private:
    void CreateControls();
    void CreateMenus();
    void SetTabOrder();
    // Moves and sizes the anchored controls for the client area's size.
    void AnchorControls();
    // The application-wide cross-hair: at most one override of ours is on
    // Qt's cursor stack at any time.
    void SetCrossCursor(bool on);
    void ShowMessage(const QString& text);
    // One cycle as Button1Click runs it; Button1Click repeats it while a
    // click during it asked for another.
    void RunCycle();
    // The lamp's tooltip: what green and red mean, and the last reading.
    void UpdateLampTip();
    // Labels, tooltips and accessible names for the controls.
    void DescribeControls();

    // Plots the reading's bars in the range chosen, coloured by its bands.
    void ShowReading(const TReading& reading);
    // Stores what a cycle read; a store that fails turns history off for the
    // run with one message, and the cycle goes on as if nothing happened.
    void RecordReading(TReading reading);
    void ShowHistoryOff(const QString& errorText);
    // The history's writer, made (not yet started) on first use.
    TReadingRecorder* Recorder();

    QWidget* FClientArea = nullptr;
    // The controls that keep their distance from the client area's bottom
    // edge, each with its designed place.
    struct TDesignPlace {
        QWidget* Widget;
        QPoint Place;
    };
    std::vector<TDesignPlace> FBottomAnchored;
    QWidget* FHistoryWindow = nullptr; // Qt-owned by this window; made on first use
    std::function<void(const QString&)> FShowHostInHistory; // of FHistoryWindow
    bool FCrossCursor = false;
    TReadingRecorder* FRecorder = nullptr; // Qt-owned; made by the first reading or the History window
    class TEventNotifier* FNotifier = nullptr; // Qt-owned; made by the first cycle's reading
    bool FHistoryOffShown = false;

    std::chrono::milliseconds FCycleDeadline = CycleDeadline;

    bool FCycleRunning = false;
    bool FEndCycle = false;        // the running cycle's dialogue is to end at its next beat
    bool FCycleStopped = false;    // ...because of Stop: nothing may turn the lamp or timer back
    bool FCycleAgain = false;      // ...because of a Plot or range click: run a new one afterwards
    bool FPlacedOnScreen = false;
    QString FLastReading;          // the last reading's time and outcome, for the lamp's tooltip
    std::optional<TReading> FShownLine;
    std::optional<TReading> FLastTaken; // the last reading recorded, for the next one's training

    // The chart's and the figures' part of the window (main_window_chart.cpp).
    void CreateChartMenus();
    void PlotShownLine(const std::optional<TToneRange>& range);
    // Every reading taken: the figures window follows it, the lamp's
    // tooltip names its margin.
    void TakeFigures(const TReading& reading);
    // The figures of the host's last 24 hours from the history, when it
    // has them and they reach as far as the readings taken since the start.
    void LoadFiguresFromHistory();
    std::unique_ptr<class TLineFiguresTable> FFigures;
    class TLineFiguresWindow* FFiguresWindow = nullptr; // Qt-owned; made on first use
    QString FMarginTip;

    // The range buttons' captions for the line on show (designed up to 513 tones).
    void UpdateRangeCaptions();
    // The range of the selected button on the line on show.
    std::optional<TToneRange> PlotRange() const;
    int ShownToneCount() const { return FShownLine ? int(FShownLine->Bits.size()) : ZyxelToneCount; }
    // One poller per router (main_window_recorder.cpp). True when a running
    // recorder polls the host: its latest reading is on show instead of a
    // session of the window's own, and its notice is watched for the next.
    bool ShowRecorderReadings(const QString& host);
    // The router's turn for this cycle's session, waited for with the window
    // answering; none (and said on the chart) when another program kept it.
    std::optional<TRouterTurn> TakeRouterTurn(const QString& host, std::chrono::steady_clock::time_point deadline);
    // After a password the router refused: no more tries until Plot.
    void StopAfterRefusedPassword(const TTakenReading& taken);
    QTimer* FRecorderWatch = nullptr; // while the recorder's readings are on show
    std::int64_t FRecorderShownMs = -1; // the time of the recorder's reading on show
};
