#include "app/main_window.h"

#include "app/application.h"
#include "app/event_notifier.h"
#include "app/start_options.h"
#include "line/cycle_dialogue.h"
#include "app/help_window.h"
#include "app/line_figures_table.h"
#include "line/line_data.h"
#include "line/line_options.h"
#include "line/take_reading.h"
#include "app/shape.h"
#include "app/window_rules.h"
#include "chart/chart.h"
#include "chart/tone_quantity_plot.h"
#include "line/hover_readout.h"
#include "chart/series.h"
#include "history/figures/history_figures.h"
#include "history/store/reading_recorder.h"
#include "history/store/reading_store.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTime>
#include <QFrame>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QResource>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

#include <algorithm>
#include <new>

namespace {

// The client area the controls were placed in, and the least it may become.
constexpr int DesignClientWidth = 699;
constexpr int DesignClientHeight = 421;
constexpr int MinimumClientHeight = 410;
constexpr QPoint DesignPosition(382, 403);
constexpr QRect DesignChartRect(0, 0, 696, 237);

constexpr int TimerInterval = 60000;
// How often a waiting cycle lets the window handle its events, at most.
constexpr int HeartbeatPumpMs = 20;

const QColor LampRed(255, 0, 0);
const QColor LampGreen(0, 128, 0);

template <typename W>
W* Make(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* widget = new W(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QRect& geometry, const QString& text)
{
    auto* label = Make<QLabel>(parent, name, geometry);
    label->setText(text);
    // Labels size themselves to their text: the designed widths were measured
    // with another font's widths, and a caption must never be cut off.
    label->resize(std::max(geometry.width(), label->sizeHint().width()), geometry.height());
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, const QRect& geometry, const QString& text)
{
    auto* edit = Make<QLineEdit>(parent, name, geometry);
    edit->setText(text);
    return edit;
}

// A handler as a slot: errors it raises go to the application's error box
// from here instead of travelling through Qt's signal code.
auto Guarded(TForm1* form, void (TForm1::*handler)())
{
    return [form, handler] { RunHandler([&] { (form->*handler)(); }); };
}

} // namespace

// The banner lives in a resource of this static library; the linker would
// drop it unless it is registered by name.
static void InitAppResources()
{
    Q_INIT_RESOURCE(app);
}

// The banner's pixels, kept raw (rows of red, green and blue bytes) so that
// no image decoder, and with it no image format plugin, is loaded at start-up.
constexpr int BannerWidth = 278;
constexpr int BannerHeight = 36;

static QPixmap BannerPicture()
{
    const QByteArray rgb = QResource(QStringLiteral(":/app/banner.rgb")).uncompressedData();
    if (rgb.size() != BannerWidth * BannerHeight * 3)
        return {};
    const QImage rows(reinterpret_cast<const uchar*>(rgb.constData()), BannerWidth, BannerHeight, BannerWidth * 3,
        QImage::Format_RGB888);
    // The conversion copies the pixels out of `rgb`, which dies here.
    return QPixmap::fromImage(rows.convertToFormat(QImage::Format_RGB32));
}

TForm1::TForm1(QWidget* parent)
    : QMainWindow(parent)
{
    InitAppResources();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(WindowCaption));
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    setFont(font);

    FClientArea = new QWidget(this);
    FClientArea->setObjectName(QStringLiteral("ClientArea"));
    FClientArea->setMinimumSize(DesignClientWidth, MinimumClientHeight);
    FClientArea->resize(DesignClientWidth, DesignClientHeight);
    setCentralWidget(FClientArea);

    CreateControls();
    CreateMenus();
    SetTabOrder();

    // The memo the capture buffer stands in for started with its own name.
    Memo1.SetText("Memo1\r\n");

    // Tests of the whole program shorten the deadline, so that each stuck
    // cycle they stage costs a few seconds instead of fifteen.
    bool deadlineSet = false;
    const int deadlineMs = qEnvironmentVariableIntValue("TIRVANE_CYCLE_DEADLINE_MS", &deadlineSet);
    if (deadlineSet && deadlineMs > 0)
        FCycleDeadline = std::chrono::milliseconds(deadlineMs);

    FClientArea->installEventFilter(this);
    resize(DesignClientWidth, DesignClientHeight + MainMenu1->sizeHint().height());
    move(DesignPosition);
    AnchorControls();
}

TForm1::~TForm1()
{
    SetCrossCursor(false);
    // A help window this window made for itself goes with it.
    if (Form2 && Form2->parent() == this)
        Form2 = nullptr;
}

void TForm1::CreateControls()
{
    QWidget* area = FClientArea;

    // Created in the order the window was designed, so later controls lie
    // above earlier ones where they overlap (the growing chart covers the
    // prompt box and the banner).
    Label1 = MakeLabel(area, "Label1", {24, 284, 49, 14}, QStringLiteral("Username"));
    Label2 = MakeLabel(area, "Label2", {24, 316, 50, 14}, QStringLiteral("Password"));
    Label3 = MakeLabel(area, "Label3", {24, 252, 22, 14}, QStringLiteral("Host"));

    Label4 = MakeLabel(area, "Label4", {376, 399, 206, 14}, QString::fromUtf8(CreditLine));
    QFont creditFont = Label4->font();
    creditFont.setBold(true);
    Label4->setFont(creditFont);
    Label4->resize(std::max(Label4->width(), Label4->sizeHint().width()), Label4->height());
    QPalette creditPalette = Label4->palette();
    creditPalette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    Label4->setPalette(creditPalette);
    Label4->installEventFilter(this);

    Shape1 = Make<TShape>(area, "Shape1", {36, 387, 13, 13});
    Shape1->SetBrushColor(LampRed);

    Label5 = MakeLabel(area, "Label5", {28, 348, 33, 14}, QStringLiteral("Prompt"));

    Image1 = Make<QLabel>(area, "Image1", {344, 356, BannerWidth, BannerHeight});
    Image1->setPixmap(BannerPicture());

    Chart21 = Make<TChart>(area, "Chart21", DesignChartRect);
    LoadChart21Settings(*Chart21);
    LineSeries18 = &Chart21->Series();
    Chart21->setFocusPolicy(Qt::NoFocus);
    connect(Chart21, &TChart::MouseMove, this, [this](Qt::KeyboardModifiers shift, int x, int y) {
        RunHandler([&] { Chart21MouseMove(shift, x, y); });
    });
    connect(Chart21, &TChart::MouseLeave, this, Guarded(this, &TForm1::Chart21MouseLeave));

    edUsername = MakeEdit(area, "edUsername", {88, 280, 153, 22}, QString());
    // The password is shown as typed: the router's password is no secret
    // from the person sitting at this screen.
    edPassword = MakeEdit(area, "edPassword", {88, 312, 153, 22}, QString());

    Button1 = Make<QPushButton>(area, "Button1", {88, 380, 75, 25});
    Button1->setText(QStringLiteral("Plot"));
    connect(Button1, &QPushButton::clicked, this, Guarded(this, &TForm1::Button1Click));

    edHost = MakeEdit(area, "edHost", {88, 248, 153, 22}, QStringLiteral("192.168.1.1"));

    rb1 = Make<QRadioButton>(area, "rb1", {352, 244, 65, 17});
    rb1->setText(RangeCaption(TRangeChoice::rc0To255));
    rb1->setChecked(true);
    rb2 = Make<QRadioButton>(area, "rb2", {448, 244, 73, 17});
    rb2->setText(RangeCaption(TRangeChoice::rc256To512));
    rb3 = Make<QRadioButton>(area, "rb3", {544, 244, 69, 17});
    rb3->setText(RangeCaption(TRangeChoice::rc0To512));
    // A range choice fetches fresh data, but only when the selection moves:
    // clicking the button that is already selected does nothing.
    for (QRadioButton* rb : {rb1, rb2, rb3}) {
        connect(rb, &QRadioButton::toggled, this, [this](bool checked) {
            if (checked)
                RunHandler([this] { Button1Click(); });
        });
    }

    Panel35 = Make<QFrame>(area, "Panel35", {380, 267, 189, 81});
    Panel35->setFrameShape(QFrame::NoFrame);
    Panel36 = Make<QFrame>(Panel35, "Panel36", {5, 8, 180, 69});
    Panel36->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel36->setLineWidth(1);
    Panel36->setAutoFillBackground(true);
    QPalette tipPalette = Panel36->palette();
    tipPalette.setColor(QPalette::Window, tipPalette.color(QPalette::ToolTipBase));
    tipPalette.setColor(QPalette::WindowText, tipPalette.color(QPalette::ToolTipText));
    Panel36->setPalette(tipPalette);
    Label56 = MakeLabel(Panel36, "Label56", {12, 8, 69, 14}, QStringLiteral("Tone number: "));
    Label57 = MakeLabel(Panel36, "Label57", {12, 28, 55, 14}, QStringLiteral("Frequency:"));
    Label58 = MakeLabel(Panel36, "Label58", {12, 48, 21, 14}, QStringLiteral("Bits:"));
    // The read-out texts grow well past the captions' designed widths.
    for (QLabel* label : {Label56, Label57, Label58})
        label->resize(Panel36->width() - label->x() - 2, label->height());

    Button2 = Make<QPushButton>(area, "Button2", {168, 380, 75, 25});
    Button2->setText(QStringLiteral("Stop"));
    connect(Button2, &QPushButton::clicked, this, Guarded(this, &TForm1::Button2Click));

    edPrompt = MakeEdit(area, "edPrompt", {88, 344, 153, 22}, QString::fromLatin1(DesignedPrompt));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(TimerInterval);
    // Counted to the millisecond: Qt would otherwise round a timer this long
    // to whole seconds, and its rhythm could not be told from a restart.
    Timer1->setTimerType(Qt::PreciseTimer);
    connect(Timer1, &QTimer::timeout, this, Guarded(this, &TForm1::Timer1Timer));

    // Each control's place is stated once, where it is made above. From
    // there every control keeps its distance from the bottom edge, Prompt's
    // box, its label and the banner as well as their neighbours (left at
    // their places, the growing chart would cover them); the chart follows
    // all four edges.
    for (QWidget* widget : area->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (widget != Chart21)
            FBottomAnchored.push_back({widget, widget->pos()});
    }

    // Enter in any of the boxes reads the line, as Plot does.
    for (QLineEdit* edit : {edHost, edUsername, edPassword, edPrompt})
        connect(edit, &QLineEdit::returnPressed, this, Guarded(this, &TForm1::Button1Click));
    DescribeControls();
}

void TForm1::DescribeControls()
{
    // Each box is named by its label, for screen readers, and the label
    // knows its box (no mnemonic letters: the captions stay as designed).
    const std::pair<QLabel*, QLineEdit*> labelled[] = {
        {Label3, edHost}, {Label1, edUsername}, {Label2, edPassword}, {Label5, edPrompt}};
    for (const auto& [label, edit] : labelled) {
        label->setBuddy(edit);
        edit->setAccessibleName(label->text());
    }
    Shape1->setAccessibleName(QStringLiteral("Status"));
    UpdateLampTip();
    const std::pair<QRadioButton*, const char*> ranges[] = {
        {rb1, "Plot tones 0 to 255: the upstream tones and the lower downstream tones"},
        {rb2, "Plot tones 256 to 512: the upper downstream tones"},
        {rb3, "Plot all tones, 0 to 512"},
    };
    for (const auto& [rb, text] : ranges) {
        rb->setToolTip(QString::fromLatin1(text) + QStringLiteral(" (reads the line again)"));
        rb->setAccessibleDescription(rb->toolTip());
    }
    Button1->setToolTip(QStringLiteral("Read the line now, then every 60 s"));
    Button1->setAccessibleDescription(Button1->toolTip());
    Button2->setToolTip(QStringLiteral("Stop reading the line"));
    Button2->setAccessibleDescription(Button2->toolTip());
    Chart21->setAccessibleName(QStringLiteral("Bits per tone"));
}

void TForm1::UpdateLampTip()
{
    // What the colours mean, which one is on, and the last reading's time
    // and outcome: the lamp alone cannot tell a failed reading from a good one.
    QString tip = QStringLiteral("Green: the line is read every 60 s. Red: it is not read (Plot starts, Stop ends).");
    tip += Timer1 && Timer1->isActive() ? QStringLiteral("\nNow green.") : QStringLiteral("\nNow red.");
    tip += FLastReading.isEmpty() ? QStringLiteral("\nNo reading yet.")
                                  : QStringLiteral("\nLast reading ") + FLastReading;
    if (!FMarginTip.isEmpty())
        tip += QLatin1Char('\n') + FMarginTip;
    Shape1->setToolTip(tip);
    Shape1->setAccessibleDescription(tip);
}

void TForm1::CreateMenus()
{
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    Router1 = MainMenu1->addMenu(QStringLiteral("Router"));
    Router1->setObjectName(QStringLiteral("Router1"));
    auto* routers = new QActionGroup(this);
    routers->setExclusive(true);
    for (std::size_t i = 0; i < RouterFamilies.size(); ++i) {
        QAction* item = Router1->addAction(QString::fromLatin1(RouterFamilies[i].Caption));
        item->setObjectName(QStringLiteral("Router") + QString::number(i + 2));
        item->setCheckable(true);
        item->setChecked(i == 0);
        routers->addAction(item);
        RouterItems[i] = item;
        // Another router's line is another line: the bars of the last one
        // and its captions go until the next reading.
        connect(item, &QAction::triggered, this, [this] {
            setWindowTitle(RouterWindowCaption(Router()));
            if (FShownLine) {
                FShownLine.reset();
                LineSeries18->ClearPoints();
                UpdateRangeCaptions();
            }
        });
    }
    Help1 = MainMenu1->addMenu(QStringLiteral("Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    Help2 = Help1->addAction(QStringLiteral("Help..."), this, Guarded(this, &TForm1::Help2Click));
    Help2->setObjectName(QStringLiteral("Help2"));
    N3 = Help1->addSeparator();
    N3->setObjectName(QStringLiteral("N3"));
    About1 = Help1->addAction(QStringLiteral("About..."), this, Guarded(this, &TForm1::About1Click));
    About1->setObjectName(QStringLiteral("About1"));

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    SaveAs1 = PopupMenu1->addAction(QStringLiteral("Save As..."), this, Guarded(this, &TForm1::SaveAs1Click));
    SaveAs1->setObjectName(QStringLiteral("SaveAs1"));
    N1 = PopupMenu1->addSeparator();
    N1->setObjectName(QStringLiteral("N1"));
    Copytoclipboard1 = PopupMenu1->addAction(
        QStringLiteral("Copy to clipboard"), this, Guarded(this, &TForm1::Copytoclipboard1Click));
    Copytoclipboard1->setObjectName(QStringLiteral("Copytoclipboard1"));
    N2 = PopupMenu1->addSeparator();
    N2->setObjectName(QStringLiteral("N2"));
    Printersetup1 = PopupMenu1->addAction(
        QStringLiteral("Printer setup..."), this, Guarded(this, &TForm1::Printersetup1Click));
    Printersetup1->setObjectName(QStringLiteral("Printersetup1"));
    Print1 = PopupMenu1->addAction(QStringLiteral("Print"), this, Guarded(this, &TForm1::Print1Click));
    Print1->setObjectName(QStringLiteral("Print1"));
    N4 = PopupMenu1->addSeparator();
    N4->setObjectName(QStringLiteral("N4"));
    History1 = PopupMenu1->addAction(QStringLiteral("History..."), this, Guarded(this, &TForm1::History1Click));
    History1->setObjectName(QStringLiteral("History1"));
    History1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    // The shortcut works in the whole window, not only while the menu is up.
    addAction(History1);
    NotifyEvents1 = PopupMenu1->addAction(QStringLiteral("Notify of line events"));
    NotifyEvents1->setObjectName(QStringLiteral("NotifyEvents1"));
    NotifyEvents1->setCheckable(true);
    NotifyEvents1->setChecked(ReadNotifyEvents(SettingsFilePath()));
    connect(NotifyEvents1, &QAction::toggled, this, [this](bool on) {
        if (FNotifier)
            FNotifier->SetEnabled(on);
        WriteNotifyEvents(SettingsFilePath(), on);
    });

    CreateChartMenus();

    Chart21->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Chart21, &QWidget::customContextMenuRequested, this,
        [this](const QPoint& pos) { PopupMenu1->popup(Chart21->mapToGlobal(pos)); });
}

void TForm1::SetTabOrder()
{
    // The chart comes first in the designed order but never takes the focus;
    // the capture buffer and the read-out panel are not focusable either.
    QWidget* const order[] = {edUsername, edPassword, Button1, edHost, rb1, rb2, rb3, Button2,
        edPrompt};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void TForm1::AnchorControls()
{
    if (!FClientArea)
        return;
    const int dx = FClientArea->width() - DesignClientWidth;
    const int dy = FClientArea->height() - DesignClientHeight;

    for (const TDesignPlace& placed : FBottomAnchored)
        placed.Widget->move(placed.Place.x(), placed.Place.y() + dy);

    // The chart keeps its distance from all four edges.
    Chart21->setGeometry(DesignChartRect.x(), DesignChartRect.y(),
        DesignChartRect.width() + dx, DesignChartRect.height() + dy);
}

void TForm1::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // The designed place (or a remembered one) when the window fits there
    // on the screen it opens on, else the nearest place where it does.
    if (FPlacedOnScreen || event->spontaneous())
        return;
    FPlacedOnScreen = true;
    if (const QScreen* onScreen = screen()) {
        const QRect frame = frameGeometry();
        const QPoint place = PlaceOnScreen(frame, onScreen->availableGeometry());
        if (place != frame.topLeft())
            move(place);
    }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == FClientArea && event->type() == QEvent::Resize) {
        AnchorControls();
    } else if (watched == Label4 && event->type() == QEvent::MouseButtonRelease) {
        // The credit line is clickable: a release over it is a click.
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && Label4->rect().contains(mouse->position().toPoint())) {
            RunHandler([this] { Button1Click(); });
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::ShowMessage(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), text,
        QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

// Plot, a range choice, the credit line, Enter in a box and the timer all
// come here. Only one cycle talks to the router at a time: a click while a
// cycle waits ends that cycle at its next heartbeat and runs the one asked
// for in its place, so two dialogues never share the capture buffer.
void TForm1::Button1Click()
{
    if (FCycleRunning) {
        FEndCycle = true;
        FCycleAgain = true;
        FCycleStopped = false;
        return;
    }
    FCycleRunning = true;
    struct TRunning {
        TForm1* Form;
        ~TRunning() { Form->FCycleRunning = false; }
    } running{this};
    do {
        FEndCycle = false;
        FCycleAgain = false;
        FCycleStopped = false;
        RunCycle();
    } while (FCycleAgain);
}

// One sampling cycle: log in, fetch both line-data replies, decode them and
// plot the chosen range. Network failures never raise; they leave empty
// replies, which decode to zero bars, and the chart says what went wrong.
void TForm1::RunCycle()
{
    const auto deadline = std::chrono::steady_clock::now() + FCycleDeadline;

    // The axis maximum follows the choice at once, even when the cycle then
    // stops for a missing password.
    const std::optional<TToneRange> range
        = SelectedToneRange(rb1->isChecked(), rb2->isChecked(), rb3->isChecked());
    if (range)
        Chart21->BottomAxis().SetMaximum(range->AxisMaximum);

    // A router the recorder polls is not asked again.
    if (ShowRecorderReadings(edHost->text()))
        return;

    if (edPassword->text().isEmpty()) {
        ShowMessage(QString::fromLatin1(PasswordRequired));
        // Where the missing text goes.
        edPassword->setFocus(Qt::OtherFocusReason);
        return;
    }

    TReadingRequest request;
    // "router:2323" or "[::1]:2323" names a telnet port other than 23.
    const THostAndPort target = SplitHostPort(edHost->text());
    request.Host = target.Host;
    if (target.Port)
        request.Port = *target.Port;
    request.User = edUsername->text();
    request.Password = edPassword->text();
    request.Prompt = edPrompt->text();
    request.Text = TWireText::Latin1;
    request.Family = Router();
    request.ReadFigures = ReadFigures();
    // However the router behaves, no step of this cycle waits past its
    // deadline.
    request.Deadline = deadline;
    const std::optional<TRouterTurn> turn = TakeRouterTurn(edHost->text(), deadline);
    if (!turn)
        return;
    request.DeadlineSpan = FCycleDeadline;
    request.Capture = &Memo1;
    request.Tones = &ZyxelToneTable();
    if (FLastTaken && FLastTaken->Host == request.Host && FLastTaken->Router == RouterFamilyName(request.Family))
        request.Previous = &*FLastTaken;
    TDialogueHooks hooks;
    hooks.PumpEvents = [] { QCoreApplication::processEvents(); };
    // The window answers while the router is slow: typing, menus, Stop and
    // a new Plot are handled at every beat of the socket's waits.
    // The beat also comes before every read of a packet; a reply that
    // arrives in many small packets is not slowed by a pump per packet.
    QElapsedTimer sincePump;
    sincePump.start();
    hooks.Heartbeat = [this, &sincePump] {
        if (sincePump.elapsed() >= HeartbeatPumpMs) {
            QCoreApplication::processEvents();
            sincePump.restart();
        }
        return FEndCycle;
    };
    // The lamp turns green whether the dialogue went through or not: green
    // says that readings repeat. A cycle ended by Stop leaves it red.
    hooks.DialogueOver = [this] {
        if (!FEndCycle)
            Shape1->SetBrushColor(LampGreen);
    };
    TTakenReading taken = TakeReading(request, hooks);
    // Ended for a new cycle: that one plots, says and records.
    if (FCycleAgain)
        return;
    ShowReading(taken.Reading);
    TakeFigures(taken.Reading);

    // The bars alone cannot tell a dead line from a typo: a reading that
    // did not complete says why on the chart until the next one.
    const QString when = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    const QString reason = taken.FailureText();
    Chart21->SetNotice(taken.Complete() ? QString() : when + QStringLiteral("  ") + reason);
    FLastReading = when + QStringLiteral(": ") + (taken.Complete() ? QStringLiteral("complete") : reason);

    // Stop during the cycle stays in force: no timer, a red lamp.
    if (!FCycleStopped) {
        // Enabling a running timer must not restart its 60-second rhythm.
        if (!Timer1->isActive())
            Timer1->start();
        if (taken.Recordable()) {
            FLastTaken = taken.Reading;
            RecordReading(std::move(taken.Reading));
        }
    }
    StopAfterRefusedPassword(taken);
    UpdateLampTip();
}

void TForm1::ShowReading(const TReading& reading)
{
    // No tones (another family's line that is no reading): no bars, never
    // zero bars as if the line were dead.
    if (reading.Bits.empty())
        FShownLine.reset();
    else
        FShownLine = reading;
    UpdateRangeCaptions();
    // The range is looked at again: the bars drawn must be the range now
    // selected, under its axis maximum, or the read-out would name tones of
    // one range over the bars of another.
    PlotShownLine(PlotRange());
}

void TForm1::RecordReading(TReading reading)
{
    // Nothing the store does may end or change the cycle that called it: its
    // own failures come back as Failed. Here only memory for the reading or
    // the writer can run out, and then this one reading is dropped. Any
    // other error is a fault, for the cycle's guard to show.
    try {
        TReadingRecorder* recorder = Recorder();
        recorder->Record(reading);
        TakeFigures(reading);
        if (!FNotifier) {
            FNotifier = new TEventNotifier(TEventNotifier::SessionBusIfAny(), this);
            FNotifier->SetEnabled(NotifyEvents1->isChecked());
        }
        FNotifier->Take(reading);
    } catch (const std::bad_alloc&) {
    }
}

TReadingRecorder* TForm1::Recorder()
{
    if (!FRecorder) {
        FRecorder = new TReadingRecorder(TReadingStore::DefaultPath(), this);
        connect(FRecorder, &TReadingRecorder::Recorded, this, &TForm1::ReadingRecorded);
        connect(FRecorder, &TReadingRecorder::Failed, this, &TForm1::ShowHistoryOff);
    }
    return FRecorder;
}

void TForm1::FlushHistory()
{
    if (FRecorder)
        FRecorder->Flush();
}

void TForm1::ShowHistoryOff(const QString& errorText)
{
    if (FHistoryOffShown)
        return;
    FHistoryOffShown = true;
    // Not modal: the monitor keeps plotting while the message stands, and a
    // tick meanwhile must not run inside the message's own event loop.
    auto* box = new QMessageBox(QMessageBox::Warning, QGuiApplication::applicationDisplayName(),
        errorText + QStringLiteral(".\n\nThe monitor goes on without a history for this run."),
        QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("HistoryOffMessage"));
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

void TForm1::Timer1Timer()
{
    // A tick while a cycle runs has its reading already on the way.
    if (FCycleRunning)
        return;
    Button1Click();
}

void TForm1::Button2Click()
{
    Timer1->stop();
    if (FRecorderWatch)
        FRecorderWatch->stop();
    Shape1->SetBrushColor(LampRed);
    // A cycle that waits on the router ends at its next beat, and nothing
    // it does on its way out turns the lamp or the timer back on.
    if (FCycleRunning) {
        FEndCycle = true;
        FCycleStopped = true;
        FCycleAgain = false;
    }
    UpdateLampTip();
}

void TForm1::FormCloseQuery(bool& CanClose)
{
    (void)CanClose; // the window always closes
    // Stop only stops the timer and repaints the lamp: running out of memory
    // for the repaint must not keep the window open. Any other error is a
    // fault and goes on to the caller's guard.
    try {
        Button2Click();
    } catch (const std::bad_alloc&) {
    }
}

void TForm1::closeEvent(QCloseEvent* event)
{
    bool canClose = true;
    // Shown like any handler's error; the window closes all the same.
    RunHandler([&] { FormCloseQuery(canClose); });
    if (canClose) {
        SetCrossCursor(false);
        event->accept();
        emit Closing();
    } else {
        event->ignore();
    }
}

void TForm1::Chart21MouseMove(Qt::KeyboardModifiers, int, int)
{
    // The tone number follows the current range choice, not the range of the
    // bars on show.
    const std::optional<TToneRange> range = PlotRange();
    const int toneOffset = range ? range->FirstTone : 0;
    const double spacing = FShownLine ? FShownLine->SpacingKHz : ZyxelToneSpacingKHz;
    // A long line's tones, and gaps where a quantity was not measured, are
    // found by the pointer's column; today's bits by their bars, as designed.
    const TToneQuantity quantity = Quantity();
    const bool byColumn = quantity != TToneQuantity::Bits || LineSeries18->Count() > DesignedBarCount;
    const int index = byColumn ? LineSeries18->PointIndexAtColumn() : LineSeries18->PointIndexAtCursor();
    if (index >= 0) {
        // Running out of memory while the read-out is written leaves it half
        // done; the pointer still gets its cross-hair. Any other error is a
        // fault, shown by the guard the mouse handler runs under.
        try {
            const THoverTexts texts
                = QuantityHoverTexts(quantity, index, toneOffset, LineSeries18->YValues().Value(index), spacing);
            Label56->setText(texts.Tone);
            Label57->setText(texts.Frequency);
            Label58->setText(texts.Bits);
            Panel35->setVisible(true);
        } catch (const std::bad_alloc&) {
        }
    } else {
        const THoverTexts bare = QuantityHoverTexts(quantity, -1, toneOffset, 0.0, spacing);
        Label56->setText(bare.Tone);
        Label57->setText(bare.Frequency);
        Label58->setText(bare.Bits);
    }
    SetCrossCursor(index >= 0);
}

void TForm1::Chart21MouseLeave()
{
    // Leaving the chart straight from a bar would otherwise keep the
    // cross-hair over the whole application.
    SetCrossCursor(false);
}

void TForm1::SetCrossCursor(bool on)
{
    if (on == FCrossCursor)
        return;
    if (on)
        QGuiApplication::setOverrideCursor(Qt::CrossCursor);
    else
        QGuiApplication::restoreOverrideCursor();
    FCrossCursor = on;
}

void TForm1::Help2Click()
{
    if (!Form2)
        Form2 = new TForm2(this);
    const QRect frame = frameGeometry();
    Form2->move(HelpWindowLeft(frame.left(), frame.width()), HelpWindowTop(frame.top()));
    Form2->exec();
}

void TForm1::About1Click()
{
    QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), AboutText(),
        QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

TRouterFamily TForm1::Router() const
{
    for (std::size_t i = 0; i < RouterItems.size(); ++i)
        if (RouterItems[i] && RouterItems[i]->isChecked())
            return RouterFamilies[i].Family;
    return TRouterFamily::Zyxel;
}

void TForm1::SetRouter(TRouterFamily family)
{
    for (std::size_t i = 0; i < RouterItems.size(); ++i)
        if (RouterFamilies[i].Family == family && RouterItems[i])
            RouterItems[i]->setChecked(true);
    setWindowTitle(RouterWindowCaption(Router()));
}

std::optional<TToneRange> TForm1::PlotRange() const
{
    return SelectedLineRange(rb1->isChecked(), rb2->isChecked(), rb3->isChecked(), ShownToneCount());
}

void TForm1::UpdateRangeCaptions()
{
    const int tones = ShownToneCount();
    rb1->setText(LineRangeCaption(TRangeChoice::rc0To255, tones));
    rb2->setText(LineRangeCaption(TRangeChoice::rc256To512, tones));
    rb3->setText(LineRangeCaption(TRangeChoice::rc0To512, tones));
    // A longer line's captions ("2048 - 4095") are wider than the designed
    // buttons: those grow into the room before the next one, so no caption
    // is cut; today's line keeps the designed widths.
    constexpr int DesignedWidths[] = {65, 73, 69};
    constexpr int Pitch = 96; // from one button's left edge to the next one's
    int i = 0;
    for (QRadioButton* rb : {rb1, rb2, rb3}) {
        const int width = tones > ZyxelToneCount ? std::clamp(rb->sizeHint().width(), DesignedWidths[i], Pitch - 4)
                                            : DesignedWidths[i];
        rb->resize(width, rb->height());
        ++i;
    }
}
