// The sampling cycle against the router simulator on loopback, on Qt's
// offscreen platform: each range plots what the router served, the dialogue
// copes with every fault the simulator can stage, and Stop, close and a
// second Plot queued during the cycle take effect where they should. Each
// simulator listens on port 23 of an address of its own, so these tests run
// inside a private network namespace (unshare -n) as root.
#include "app/help_window.h"
#include "line/line_data.h"
#include "app/main_window.h"
#include "app/shape.h"
#include "chart/chart.h"
#include "chart/color.h"
#include "support/loopback_peer.h"
#include "support/modal_catcher.h"
#include "support/router_sim_process.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTime>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>

namespace {

const QColor LampRed(255, 0, 0);
const QColor LampGreen(0, 128, 0);

// Open sockets of this process. Other descriptors come and go with Qt's own
// lazily opened files (the MIME cache, for one), which are no leak.
int OpenDescriptors()
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (!error && target.rfind("socket:", 0) == 0)
            ++count;
    }
    return count;
}

// How many replies of a kind the simulator has served so far.
int ServedCount(const RouterSimProcess& sim, const std::string& kind)
{
    std::ifstream in(sim.ServedPath());
    int count = 0;
    for (std::string line; std::getline(in, line);)
        if (line.rfind(kind + " ", 0) == 0)
            ++count;
    return count;
}

RouterSimProcess::Options SimOn(const std::string& address, std::vector<std::string> extra = {})
{
    RouterSimProcess::Options options;
    options.address = address;
    options.extraArgs = std::move(extra);
    return options;
}

class CycleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FForm.show();
        // Never the router's factory address: every cycle here stays on
        // loopback.
        FForm.edHost->setText(QStringLiteral("127.0.0.1"));
        FForm.edPassword->setText(QStringLiteral("1234"));
    }

    void PointAt(const std::string& address) { FForm.edHost->setText(QString::fromStdString(address)); }

    // The bars of the last cycle: count, labels, colours and heights against
    // the tones the simulator served.
    void ExpectBars(int firstTone, int lastTone, const std::array<int, 513>& tones)
    {
        TBarSeries& series = *FForm.LineSeries18;
        ASSERT_EQ(series.Count(), lastTone - firstTone + 1);
        for (int i = 0; i < series.Count(); ++i) {
            const int tone = firstTone + i;
            SCOPED_TRACE(testing::Message() << "tone " << tone);
            ASSERT_EQ(series.Label(i), QString::number(tone));
            ASSERT_EQ(series.XValues().Value(i), double(i));
            ASSERT_EQ(series.ValueColor(i), tone < 32 ? clGreen : clBlue);
            ASSERT_EQ(series.YValues().Value(i), double(tones[std::size_t(tone)]));
        }
    }

    void ExpectMonitoring()
    {
        EXPECT_EQ(FForm.Shape1->BrushColor(), LampGreen);
        EXPECT_TRUE(FForm.Timer1->isActive());
    }

    TForm1 FForm;
};

TEST_F(CycleTest, EachRangePlotsTheTonesTheRouterServed)
{
    RouterSimProcess sim(SimOn(RouterSimProcess::UniqueLoopbackAddress()));
    PointAt(sim.Address());
    const struct {
        QRadioButton* choice;
        int first, last;
        double maximum;
    } cases[] = {
        {FForm.rb1, 0, 255, 255.0}, // already selected: Plot runs the cycle
        {FForm.rb2, 256, 512, 256.0},
        {FForm.rb3, 0, 512, 512.0},
        {FForm.rb1, 0, 255, 255.0},
    };
    bool first = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.choice->text().toStdString());
        ModalCatcher catcher;
        const int served = ServedCount(sim, "near");
        if (first)
            FForm.Button1->click();
        else
            c.choice->click();
        first = false;
        EXPECT_TRUE(catcher.Seen().empty());
        EXPECT_EQ(ServedCount(sim, "near"), served + 1);
        EXPECT_EQ(FForm.Chart21->BottomAxis().Maximum(), c.maximum);
        EXPECT_EQ(FForm.Chart21->BottomAxis().Minimum(), 5.0);
        const std::array<int, 513> expected = sim.ExpectedTones();
        EXPECT_EQ(expected[0], 0);
        EXPECT_GT(*std::max_element(expected.begin() + 1, expected.begin() + 32), 0)
            << "the simulator served no upstream bits";
        ExpectBars(c.first, c.last, expected);
        ExpectMonitoring();
    }
}

TEST_F(CycleTest, EveryStartOfACycleRunsOneAndTheSelectedRangeRunsNone)
{
    RouterSimProcess sim(SimOn(RouterSimProcess::UniqueLoopbackAddress()));
    PointAt(sim.Address());
    const struct {
        const char* what;
        std::function<void()> start;
        int cycles;
    } cases[] = {
        {"Plot", [this] { FForm.Button1->click(); }, 1},
        {"the credit line", [this] {
             const QPoint p = FForm.Label4->rect().center();
             QMouseEvent press(QEvent::MouseButtonPress, p, FForm.Label4->mapToGlobal(p), Qt::LeftButton,
                 Qt::LeftButton, Qt::NoModifier);
             QMouseEvent release(QEvent::MouseButtonRelease, p, FForm.Label4->mapToGlobal(p),
                 Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
             QCoreApplication::sendEvent(FForm.Label4, &press);
             QCoreApplication::sendEvent(FForm.Label4, &release);
         },
            1},
        {"the range already selected", [this] { FForm.rb1->click(); }, 0},
        {"another range", [this] { FForm.rb3->click(); }, 1},
        {"that range again", [this] { FForm.rb3->click(); }, 0},
        {"the timer", [this] { FForm.Timer1Timer(); }, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int before = ServedCount(sim, "far");
        c.start();
        EXPECT_EQ(ServedCount(sim, "far"), before + c.cycles);
    }
}

TEST_F(CycleTest, AnEmptyPasswordChangesOnlyTheAxisMaximum)
{
    RouterSimProcess sim(SimOn(RouterSimProcess::UniqueLoopbackAddress()));
    PointAt(sim.Address());
    FForm.Button1->click();
    const std::array<int, 513> earlier = sim.ExpectedTones();
    ASSERT_EQ(FForm.LineSeries18->Count(), 256);

    for (bool monitoring : {true, false}) {
        SCOPED_TRACE(monitoring ? "while monitoring" : "while stopped");
        if (!monitoring)
            FForm.Button2->click();
        FForm.edPassword->clear();
        ModalCatcher catcher;
        const int served = ServedCount(sim, "far");
        FForm.rb2->click(); // a new range: the cycle runs and stops at once
        ASSERT_EQ(catcher.Seen().size(), 1u);
        EXPECT_EQ(catcher.Seen()[0].Text, "Password required!");
        EXPECT_EQ(catcher.Seen()[0].Title, "Tirvane");
        EXPECT_EQ(FForm.Chart21->BottomAxis().Maximum(), 256.0);
        EXPECT_EQ(ServedCount(sim, "far"), served);
        // The bars of the earlier range stay, as do the lamp and the timer.
        ExpectBars(0, 255, earlier);
        EXPECT_EQ(FForm.Timer1->isActive(), monitoring);
        EXPECT_EQ(FForm.Shape1->BrushColor(), monitoring ? LampGreen : LampRed);

        const QSignalBlocker blocker(FForm.rb1);
        FForm.rb1->setChecked(true);
        FForm.Chart21->BottomAxis().SetMaximum(255.0);
    }
}

TEST_F(CycleTest, UserNameIsAnsweredOnlyWhenOneIsGiven)
{
    const struct {
        const char* simUser; // "": the router asks for the password only
        const char* typed;
        bool plotsTheLine;
    } cases[] = {
        {"", "", true},
        {"admin", "admin", true},
        // Without a name typed nothing answers "Username:": the password
        // goes in as the name and no data comes back.
        {"admin", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "router user '" << c.simUser << "', typed '" << c.typed << "'");
        RouterSimProcess::Options options = SimOn(RouterSimProcess::UniqueLoopbackAddress());
        options.username = c.simUser;
        RouterSimProcess sim(options);
        PointAt(sim.Address());
        FForm.edUsername->setText(QString::fromLatin1(c.typed));
        FForm.Button1->click();
        std::array<int, 513> expected{};
        if (c.plotsTheLine)
            expected = sim.ExpectedTones();
        EXPECT_EQ(ServedCount(sim, "near"), c.plotsTheLine ? 1 : 0);
        ExpectBars(0, 255, expected);
        ExpectMonitoring();
    }
}

TEST_F(CycleTest, AnEmptyPromptGivesZeroBars)
{
    RouterSimProcess sim(SimOn(RouterSimProcess::UniqueLoopbackAddress()));
    PointAt(sim.Address());
    FForm.Button1->click(); // some bits in the table first
    FForm.edPrompt->clear();
    {
        const QSignalBlocker blocker(FForm.rb3);
        FForm.rb3->setChecked(true);
    }
    FForm.Button1->click();
    ExpectBars(0, 512, std::array<int, 513>{});
    ExpectMonitoring();
}

TEST_F(CycleTest, ARefusedConnectionEndsTheCycleQuietlyWithZeroBars)
{
    // Nothing listens on this address: both connection attempts are refused.
    PointAt(RouterSimProcess::UniqueLoopbackAddress());
    ModalCatcher catcher;
    const int descriptors = OpenDescriptors();
    FForm.Button1->click();
    EXPECT_TRUE(catcher.Seen().empty());
    ExpectBars(0, 255, std::array<int, 513>{});
    ExpectMonitoring();
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

// A Plot clicked while a cycle waits on the router ends that cycle and runs
// one in its place: the click itself runs no second dialogue inside the
// first, and only the cycle run in its place reads the line.
TEST_F(CycleTest, APlotDuringACycleEndsItAndRunsOneInItsPlace)
{
    RouterSimProcess sim(SimOn(RouterSimProcess::UniqueLoopbackAddress()));
    PointAt(sim.Address());
    bool clickDone = false;
    int servedAtClick = -1, servedAfterClick = -1;
    // Handled at the cycle's first heartbeat, while it logs in.
    QTimer::singleShot(0, &FForm, [&] {
        servedAtClick = ServedCount(sim, "far");
        EXPECT_TRUE(FForm.CycleRunning());
        FForm.Button1->click();
        servedAfterClick = ServedCount(sim, "far");
        clickDone = true;
    });
    FForm.Button1Click();
    EXPECT_TRUE(clickDone);
    EXPECT_EQ(servedAtClick, 0);
    EXPECT_EQ(servedAfterClick, 0);
    EXPECT_EQ(ServedCount(sim, "far"), 1);
    EXPECT_EQ(ServedCount(sim, "near"), 1);
    EXPECT_FALSE(FForm.CycleRunning());
    ExpectBars(0, 255, sim.ExpectedTones());
    ExpectMonitoring();
    EXPECT_TRUE(FForm.Chart21->Notice().isEmpty());
}

// A range chosen while a cycle waits ends it; the cycle run in its place
// draws the range now selected, under its axis maximum, so the read-out
// over a bar names that bar's tone.
TEST_F(CycleTest, ARangeChosenDuringACycleIsTheRangeItDraws)
{
    RouterSimProcess sim(SimOn(RouterSimProcess::UniqueLoopbackAddress()));
    PointAt(sim.Address());
    ASSERT_TRUE(FForm.rb1->isChecked());
    int nested = -1;
    QTimer::singleShot(0, &FForm, [&] {
        FForm.rb2->click();
        nested = ServedCount(sim, "near");
    });
    FForm.Button1Click();
    EXPECT_EQ(nested, 0);
    EXPECT_EQ(ServedCount(sim, "near"), 1);
    EXPECT_EQ(FForm.Chart21->BottomAxis().Maximum(), 256.0);
    ExpectBars(256, 512, sim.ExpectedTones());

    FForm.Chart21->repaint();
    const TWinRect bar = FForm.LineSeries18->BarRectangle(44);
    const QPoint at(bar.Right, bar.Bottom);
    const QPoint global = FForm.Chart21->mapToGlobal(at);
    QCursor::setPos(global);
    QMouseEvent move(QEvent::MouseMove, QPointF(at), QPointF(global), Qt::NoButton, Qt::NoButton,
        Qt::NoModifier);
    QCoreApplication::sendEvent(FForm.Chart21, &move);
    EXPECT_EQ(FForm.Label56->text(), QStringLiteral("Tone number:   300"));
    EXPECT_EQ(FForm.Label58->text(),
        QStringLiteral("Bits:                  %1").arg(sim.ExpectedTones()[300]));
}

// Stop while a cycle waits on the router ends the cycle at its next beat,
// whatever it waits for, and stays in force: nothing the ending cycle does
// turns the lamp green or the timer on again.
TEST_F(CycleTest, StopDuringACycleEndsItAtOnceAndStaysInForce)
{
    const struct {
        const char* name;
        std::vector<std::string> args;
        int stopAfterMs;
    } cases[] = {
        {"while it logs in", {}, 0},
        {"while the router does not answer the connection", {"--full-queue"}, 300},
        {"while the far reply trickles", {"--trickle", "far", "--trickle-ms", "100"}, 800},
        {"while the near reply stalls", {"--stall", "near"}, 500},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RouterSimProcess sim(SimOn(RouterSimProcess::UniqueLoopbackAddress(), c.args));
        PointAt(sim.Address());
        FForm.Timer1->start(); // monitoring: the lamp's tooltip says green
        FForm.Shape1->SetBrushColor(LampGreen);
        bool stopped = false;
        QElapsedTimer cycle;
        QTimer::singleShot(c.stopAfterMs, &FForm, [&] {
            FForm.Button2->click();
            stopped = !FForm.Timer1->isActive() && FForm.Shape1->BrushColor() == LampRed;
            cycle.start();
        });
        const int served = ServedCount(sim, "near");
        FForm.Button1Click();
        EXPECT_TRUE(stopped);
        EXPECT_LT(cycle.elapsed(), 250);
        EXPECT_FALSE(FForm.Timer1->isActive());
        EXPECT_EQ(FForm.Shape1->BrushColor(), LampRed);
        EXPECT_EQ(ServedCount(sim, "near"), served);
        EXPECT_TRUE(FForm.Chart21->Notice().endsWith(QStringLiteral("Stopped before the reading was complete")))
            << FForm.Chart21->Notice().toStdString();
        EXPECT_TRUE(FForm.Shape1->toolTip().contains(QStringLiteral("Now red")));
        // Nothing comes back later either.
        QTest::qWait(100);
        EXPECT_FALSE(FForm.Timer1->isActive());
        EXPECT_EQ(FForm.Shape1->BrushColor(), LampRed);
    }
}

// The chart says in words why a reading failed, with its time, until the
// next reading; the lamp's tooltip names the same outcome. The bars of what
// was decoded are drawn all the same.
TEST_F(CycleTest, AFailedReadingSaysWhyOnTheChartUntilTheNextOne)
{
    const std::string nobody = RouterSimProcess::UniqueLoopbackAddress();
    RouterSimProcess refusing(SimOn(RouterSimProcess::UniqueLoopbackAddress(), {"--wrong-password"}));
    RouterSimProcess asking(SimOn(RouterSimProcess::UniqueLoopbackAddress(), {}));
    RouterSimProcess::Options withUser = SimOn(RouterSimProcess::UniqueLoopbackAddress());
    withUser.username = "admin";
    RouterSimProcess named(withUser);
    RouterSimProcess good(SimOn(RouterSimProcess::UniqueLoopbackAddress()));
    const struct {
        std::string host;
        std::string reason; // empty: no notice
        bool stops = false; // a refused password is not tried again: sampling stops
    } cases[] = {
        {nobody, "Nothing answers at " + nobody + " port 23"},
        {good.Address(), ""},
        {refusing.Address(), "The router did not accept the password: sampling stopped", true},
        {named.Address(), "The router asked for a user name: fill in Username"},
        {"", "Host is empty: type the router's address in Host"},
        {good.Address(), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        PointAt(c.host);
        FForm.Button1->click();
        const QString notice = FForm.Chart21->Notice();
        EXPECT_EQ(FForm.LineSeries18->Count(), 256);
        if (!c.stops)
            ExpectMonitoring();
        else
            EXPECT_FALSE(FForm.Timer1->isActive());
        if (c.reason.empty()) {
            EXPECT_TRUE(notice.isEmpty()) << notice.toStdString();
            EXPECT_TRUE(FForm.Shape1->toolTip().contains(QStringLiteral(": complete")));
            continue;
        }
        // "20:15:03  The router did not accept the password"
        EXPECT_TRUE(QTime::fromString(notice.left(8), QStringLiteral("HH:mm:ss")).isValid()) << notice.toStdString();
        EXPECT_EQ(notice.mid(10).toStdString(), c.reason);
        EXPECT_TRUE(FForm.Shape1->toolTip().contains(QString::fromStdString(c.reason)));
        EXPECT_TRUE(FForm.Shape1->toolTip().contains(c.stops ? QStringLiteral("Now red") : QStringLiteral("Now green")));
    }
}

TEST_F(CycleTest, ATimerThatRunsKeepsItsRhythmAcrossCycles)
{
    RouterSimProcess sim(SimOn(RouterSimProcess::UniqueLoopbackAddress()));
    PointAt(sim.Address());
    FForm.Button1->click();
    ASSERT_TRUE(FForm.Timer1->isActive());
    QElapsedTimer since;
    since.start();
    const int left = FForm.Timer1->remainingTime();
    // A second cycle, a while later, must not restart the 60-second count:
    // what is left goes down by the time that passed, to the millisecond (a
    // restart would put it back near 60000).
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    FForm.Button1->click();
    ASSERT_TRUE(FForm.Timer1->isActive());
    EXPECT_LE(FForm.Timer1->remainingTime(), left - int(since.elapsed()) + 20);
    EXPECT_EQ(FForm.Timer1->interval(), 60000);
}

TEST_F(CycleTest, ClosingTheWindowWhileMonitoringStopsIt)
{
    RouterSimProcess sim(SimOn(RouterSimProcess::UniqueLoopbackAddress()));
    PointAt(sim.Address());
    FForm.Button1->click();
    ExpectMonitoring();
    EXPECT_TRUE(FForm.close());
    EXPECT_FALSE(FForm.isVisible());
    EXPECT_FALSE(FForm.Timer1->isActive());
    EXPECT_EQ(FForm.Shape1->BrushColor(), LampRed);
}

// Closing stops the monitor, as Stop does: the cycle that waits on the
// router ends at once instead of holding the closing program.
TEST_F(CycleTest, AWindowClosedDuringTheCycleEndsIt)
{
    RouterSimProcess sim(SimOn(RouterSimProcess::UniqueLoopbackAddress()));
    PointAt(sim.Address());
    QTimer::singleShot(0, &FForm, [&] { FForm.close(); });
    FForm.Button1Click();
    EXPECT_FALSE(FForm.isVisible());
    EXPECT_EQ(ServedCount(sim, "far"), 0);
    ExpectBars(0, 255, sim.ExpectedTones());
    EXPECT_FALSE(FForm.Timer1->isActive());
    EXPECT_EQ(FForm.Shape1->BrushColor(), LampRed);
}

// The deadline every cycle gets unless a test shortens it: a router that
// never answers the connection holds the window fifteen seconds, no more,
// and the cycle then ends as after any other failure.
TEST_F(CycleTest, AStuckCycleEndsAtItsFifteenSecondDeadline)
{
    RouterSimProcess sim(SimOn(RouterSimProcess::UniqueLoopbackAddress(), {"--full-queue"}));
    PointAt(sim.Address());
    ASSERT_EQ(FForm.CycleDeadlineSpan(), CycleDeadline);
    QElapsedTimer cycle;
    cycle.start();
    FForm.Button1->click();
    EXPECT_GE(cycle.elapsed(), 14900);
    EXPECT_LT(cycle.elapsed(), 17000);
    ExpectBars(0, 255, std::array<int, 513>{});
    ExpectMonitoring();
}

struct FaultCase {
    const char* name;
    std::vector<std::string> args;
    bool plotsTheLine; // the replies arrive whole despite the fault
    bool stuck = false; // only the cycle's deadline ends it
};

TEST_F(CycleTest, EveryRouterFaultEndsTheCycleWithoutACrashOrALeak)
{
    const FaultCase cases[] = {
        {"a byte per packet", {"--chunk", "1"}, true},
        {"a few bytes per packet with pauses", {"--chunk", "7", "--pause-ms", "5"}, true},
        {"telnet commands split across packets", {"--split-commands"}, true},
        {"byte 255 inside the data", {"--iac-data"}, true},
        {"terminal type asked", {"--ttype"}, true},
        {"wrong password", {"--wrong-password"}, false},
        {"login refused", {"--refuse-login"}, false},
        {"dropped in the far reply", {"--drop", "far"}, false},
        {"dropped in the near reply", {"--drop", "near"}, false},
        {"far reply stalls", {"--stall", "far"}, false},
        {"garbage among the digits", {"--garbage"}, false},
        {"far reply trickles", {"--trickle", "far", "--trickle-ms", "300"}, false, true},
        {"far reply never ends", {"--endless", "far"}, false, true},
        {"option requests without end", {"--option-flood"}, false, true},
        {"a full queue", {"--full-queue"}, false, true},
        {"a flood after the last prompt", {"--flood-after", "near"}, true},
    };
    const std::chrono::milliseconds deadline(2000);
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        RouterSimProcess sim(SimOn(RouterSimProcess::UniqueLoopbackAddress(), c.args));
        PointAt(sim.Address());
        FForm.SetCycleDeadlineSpan(c.stuck ? deadline : CycleDeadline);
        ModalCatcher catcher;
        const int descriptors = OpenDescriptors();
        QElapsedTimer cycle;
        cycle.start();
        FForm.Button1->click();
        if (c.stuck) {
            EXPECT_LT(cycle.elapsed(), (deadline + std::chrono::milliseconds(1500)).count());
        }
        EXPECT_EQ(OpenDescriptors(), descriptors);
        EXPECT_TRUE(catcher.Seen().empty());
        EXPECT_EQ(FForm.LineSeries18->Count(), 256);
        // A refused password stops the sampling: the same one is refused again.
        if (c.args != std::vector<std::string>{"--wrong-password"})
            ExpectMonitoring();
        else
            EXPECT_FALSE(FForm.Timer1->isActive());
        for (int i = 0; i < FForm.LineSeries18->Count(); ++i) {
            const double bits = FForm.LineSeries18->YValues().Value(i);
            ASSERT_TRUE(bits >= 0 && bits <= 15) << "tone " << i << ": " << bits;
        }
        if (c.plotsTheLine)
            ExpectBars(0, 255, sim.ExpectedTones());
        if (c.args == std::vector<std::string>{"--ttype"}) {
            EXPECT_EQ(sim.TerminalType(), "TIRVANE");
        }
        FForm.Button2->click();
    }
}

// A peer that logs the cycle in and then answers the first command with
// bytes that never end, as fast as the connection takes them. It stops
// after sending FloodCap bytes, or when the client closes the connection.
constexpr std::size_t FloodCap = 64u << 20;

std::vector<Script> FloodingScripts()
{
    return {
        {CloseConnection()}, // the cycle's first connection is closed again at once
        {SendBytes("Password: "), ExpectBytes("\n"), SendBytes("\r\nras> "), ExpectBytes("\n"),
         FloodWith(std::string(64 * 1024, '7'), FloodCap)},
    };
}

TEST_F(CycleTest, AReplyThatNeverReachesThePromptIsCutOffAndTheCycleEnds)
{
    const std::string address = RouterSimProcess::UniqueLoopbackAddress();
    const int descriptors = OpenDescriptors();
    {
        ScriptServer peer(FloodingScripts(), address, false, 23);
        PointAt(address);
        FForm.Button1->click();
        peer.Received(); // waits until the peer has stopped flooding
        // The cycle gave up on the reply long before the peer ran out.
        // It dropped the connection with the flood unread: a reset.
        EXPECT_TRUE(peer.SawClientReset()[1]);
        EXPECT_LT(peer.Flooded()[1], FloodCap);
    }
    EXPECT_EQ(OpenDescriptors(), descriptors);
    EXPECT_EQ(FForm.LineSeries18->Count(), 256);
    ExpectMonitoring();
}

} // namespace
