// The monitor as a person uses it, on a real X server: a private Xvfb, the
// router simulator on a loopback address, the monitor program itself, the
// keyboard and pointer driven through xdotool, and everything checked from
// screenshots: the lamp's colour, the bars' heights against the bits the
// simulator served, the bar count per range, and the read-out under the
// pointer.
//
// The read-out is read back from its pixels: each line of the panel is
// compared with the expected text and with near misses (a neighbouring tone,
// another bit count, the bare caption), each drawn by this test in the same
// font on the same X server; the expected text must match best. That checks
// what a person sees without any hook inside the monitor.
//
// Run inside a private network namespace as root (the test suite does): the
// simulator binds port 23 on a 127.x.y.z address, and the monitor is told
// that address in its Host box before any cycle runs.
#include "support/router_sim_process.h"
#include "support/screen_reading.h"
#include "support/silent_name_server.h"
#include "support/x_session.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QGuiApplication>

#include <algorithm>
#include <cstdlib>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace support;

namespace {

constexpr char MonitorPath[] = TIRVANE_MONITOR_PATH;
constexpr char Caption[] = "ZyXEL Tirvane";
constexpr char Password[] = "s3cret";

// Client-area places of the controls, as the window is designed.
const QPoint LampAt(36, 387);
const QRect HostBox(88, 248, 153, 22);
const QRect UsernameBox(88, 280, 153, 22);
const QRect PasswordBox(88, 312, 153, 22);
const QPoint PlotAt(88 + 37, 380 + 12);
const QPoint StopAt(168 + 37, 380 + 12);
const QPoint Range1At(352 + 7, 244 + 8);
const QPoint Range2At(448 + 7, 244 + 8);
const QPoint Range3At(544 + 7, 244 + 8);
const QRect ChartRect(0, 0, 696, 237);
// The read-out lines: Panel36 at (5, 8) inside Panel35 at (380, 267), each
// label 12 pixels in, 20 pixels apart; a little taller than the label so the
// text is found wherever the label centres it.
QRect ReadoutLine(int line) { return QRect(397, 281 + 20 * line, 166, 18); }

const QColor Red(255, 0, 0);
const QColor Green(0, 128, 0);

QString FrequencyText(int tone)
{
    return QString::number(static_cast<double>(tone) * 4.3125, 'g', 15);
}


// The Qt application the test needs to draw its candidate texts, made the
// first time it is wanted.
std::unique_ptr<QGuiApplication>& TextApplicationSlot()
{
    static std::unique_ptr<QGuiApplication> app;
    return app;
}

QGuiApplication* TextApplication()
{
    auto& app = TextApplicationSlot();
    if (!app) {
        // Offscreen: drawing text into an image needs no display, and the
        // fonts come from the same fontconfig set-up the monitor uses.
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "monitor_on_screen_test";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QGuiApplication>(argc, argv);
    }
    return app.get();
}

class MonitorOnScreen : public ::testing::Test {
protected:
    // What the monitor's environment gets besides the display's settings.
    virtual Environment MonitorEnvironment() const { return {}; }
    // How the monitor is started; workDir exists by then.
    virtual std::vector<std::string> MonitorCommand() const { return {MonitorPath}; }
    // The X server's screen; a test that wants another one gets a server of
    // its own.
    virtual QSize ScreenSize() const { return {1280, 1024}; }

    void SetUp() override
    {
        if (std::string(MonitorPath).empty())
            GTEST_SKIP() << "the monitor is not built";
        if (FindOnPath("Xvfb").empty() || FindOnPath("xdotool").empty())
            GTEST_SKIP() << "Xvfb or xdotool is not installed";
        if (::geteuid() != 0)
            GTEST_SKIP() << "binding port 23 needs root (run inside unshare -n as root)";

        if (!server || serverSize != ScreenSize()) {
            delete server;
            server = new Xvfb();
            serverSize = ScreenSize();
            if (!server->Start(serverSize.width(), serverSize.height()))
                FAIL() << server->error;
        }
        ASSERT_FALSE(server->Display().empty()) << server->error;
        tool = std::make_unique<XDoTool>(server->Display());
        RouterSimProcess::Options options;
        options.address = RouterSimProcess::UniqueLoopbackAddress();
        options.password = Password;
        ASSERT_NO_THROW(simulator.emplace(options));
        host = simulator->Address();
        char dir[] = "/tmp/tirvane_e2e_XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        workDir = dir;

        // Under the address sanitizer, strict string checks stop the X
        // keyboard library at start-up (its strndup reads a buffer that is
        // not NUL-terminated, within bounds); the monitor's own code is
        // checked as strictly as ever otherwise.
        std::string asan = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
        asan += (asan.empty() ? "" : ":") + std::string("strict_string_checks=0");
        Environment environment = MonitorEnvironment();
        environment.insert({{"DISPLAY", server->Display()}, {"QT_QPA_PLATFORM", "xcb"},
                            {"WAYLAND_DISPLAY", ""}, {"LC_ALL", "C.UTF-8"},
                            {"ASAN_OPTIONS", asan},
                            // The cycles' history and the remembered settings
                            // go to the test's own folders.
                            {"XDG_DATA_HOME", workDir + "/data"},
                            {"XDG_CONFIG_HOME", workDir + "/config"}});
        ASSERT_TRUE(monitor.Start(MonitorCommand(), environment, true)) << monitor.error;
        window = tool->WaitForWindow(Caption, Milliseconds(60000));
        ASSERT_FALSE(window.empty()) << "no window; monitor output:\n" << monitor.Output();

        // The client area's origin on screen, from the red lamp: the menu
        // bar's height is the platform's business, the lamp's place is not.
        int wx = 0, wy = 0, ww = 0, wh = 0;
        ASSERT_TRUE(tool->WindowGeometry(window, &wx, &wy, &ww, &wh));
        std::optional<QPoint> lamp;
        for (int attempt = 0; attempt < 300 && !lamp; ++attempt) {
            lamp = FindLamp(Shot(), QRect(wx, wy, ww, wh), Red);
            if (!lamp)
                std::this_thread::sleep_for(Milliseconds(100));
        }
        ASSERT_TRUE(lamp) << "no red lamp in the window at " << wx << "," << wy;
        origin = *lamp - LampAt;

        // The Host box starts as 192.168.1.1: loopback goes in before any
        // cycle can run.
        ASSERT_EQ(tool->Run({"windowfocus", "--sync", window}).exitCode, 0);
        ASSERT_TRUE(Fill(HostBox, host));
        ASSERT_TRUE(Fill(PasswordBox, Password));
    }

    void TearDown() override
    {
        monitor.Stop();
        simulator.reset();
        if (!workDir.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(workDir, ignored);
        }
    }

    QImage Shot() const { return GrabScreen(server->Display()); }
    QPoint At(QPoint client) const { return origin + client; }
    QRect At(QRect client) const { return client.translated(origin); }
    bool Click(QPoint client) const { return tool->ClickAt(At(client).x(), At(client).y()); }

    // Whether an edit box shows `text`: drawn in the box's font, it must
    // account for nearly all the ink inside the box's frame.
    bool Shows(QRect box, const std::string& text) const
    {
        TextApplication();
        QFont font(QStringLiteral("Arial"));
        font.setPixelSize(11);
        const QImage shot = Shot();
        const QRect inside = At(box.adjusted(3, 3, -3, -3));
        const double ink = TotalInk(shot, inside);
        const double score = ScoreTexts(shot, inside, {QString::fromStdString(text)}, font).front();
        return ink > 0 && score < 0.25 * ink;
    }

    // Replaces an edit box's text by typing, and checks on screen that it
    // arrived; a keystroke lost while the window was still settling is
    // typed again rather than failing the run later with an empty box.
    bool Fill(QRect box, const std::string& text) const
    {
        const QPoint middle = box.center();
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (!Click(middle) || !tool->Key("ctrl+a") || !tool->Key("BackSpace") || !tool->Type(text))
                return false;
            std::this_thread::sleep_for(Milliseconds(200));
            if (Shows(box, text))
                return true;
        }
        Keep(Shot(), "unfilled");
        return false;
    }

    // With TIRVANE_E2E_SHOTS naming a folder, every settled screenshot is
    // kept there for a person to look at.
    void Keep(const QImage& shot, const char* what) const
    {
        static int serial = 0;
        const char* dir = std::getenv("TIRVANE_E2E_SHOTS");
        if (dir && !shot.isNull()) {
            const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
            shot.save(QStringLiteral("%1/%2_%3_%4.png").arg(QString::fromLocal8Bit(dir), info->name())
                          .arg(++serial).arg(what));
        }
    }

    QColor Lamp() const { return LampColour(Shot(), origin + LampAt); }

    // Waits until the chart differs from `before` and then holds still for
    // two looks in a row; returns the settled screenshot (null on time-out).
    QImage WaitForNewChart(const QImage& before) const
    {
        const QRect chart = At(ChartRect);
        QImage last;
        for (int i = 0; i < 300; ++i) {
            std::this_thread::sleep_for(Milliseconds(200));
            QImage now = Shot();
            if (!before.isNull() && now.copy(chart) == before.copy(chart))
                continue;
            if (!last.isNull() && now.copy(chart) == last.copy(chart)
                && Lamp() == Green)
                return now;
            last = now;
        }
        Keep(last, "unsettled");
        return {};
    }

    // Runs a cycle by clicking `control`, waits for the new bars, and stops
    // the timer at once so no tick redraws them while they are checked.
    QImage Cycle(QPoint control)
    {
        const QImage before = Shot();
        EXPECT_TRUE(Click(control));
        QImage after = WaitForNewChart(before);
        EXPECT_FALSE(after.isNull()) << "the chart never settled; monitor output:\n"
                                     << monitor.Output();
        const std::array<int, 513> tones = simulator->ExpectedTones();
        served.assign(tones.begin(), tones.end());
        EXPECT_TRUE(Click(StopAt));
        Keep(after, "cycle");
        return after;
    }

    // One X server for every test of the run; each test starts its own
    // simulator and monitor on it.
    static void TearDownTestSuite()
    {
        TextApplicationSlot().reset();
        delete server;
        server = nullptr;
    }
    static Xvfb* server;
    static QSize serverSize;
    std::unique_ptr<XDoTool> tool;
    std::optional<RouterSimProcess> simulator;
    std::string workDir;
    ChildProcess monitor;
    std::string window;
    std::string host;
    std::vector<int> served;
    QPoint origin;
};

Xvfb* MonitorOnScreen::server = nullptr;
QSize MonitorOnScreen::serverSize;

// Tone of each bar column: the columns found on screen, matched right to
// left with the tones that have bits; tones below 5 stand left of the axis
// start and may be clipped away, every later one must be there.
struct PlacedBar {
    BarColumn column;
    int tone = 0;
};

::testing::AssertionResult MatchBars(const std::vector<BarColumn>& columns,
                                     const std::vector<int>& served, int firstTone, int lastTone,
                                     std::vector<PlacedBar>* placed)
{
    std::vector<int> tones;
    for (int t = firstTone; t <= lastTone; ++t)
        if (served[static_cast<std::size_t>(t)] > 0)
            tones.push_back(t);
    if (tones.size() < 20)
        return ::testing::AssertionFailure() << "the simulator served only " << tones.size()
                                             << " tones with bits in " << firstTone << "-" << lastTone;
    if (columns.size() > tones.size())
        return ::testing::AssertionFailure() << columns.size() << " bars on screen for "
                                             << tones.size() << " tones with bits";
    const std::size_t skipped = tones.size() - columns.size();
    for (std::size_t i = 0; i < skipped; ++i)
        if (tones[i] - firstTone >= 5)
            return ::testing::AssertionFailure()
                << "the bar of tone " << tones[i] << " is missing (" << columns.size()
                << " bars on screen for " << tones.size() << " tones with bits)";
    placed->clear();
    for (std::size_t i = 0; i < columns.size(); ++i)
        placed->push_back({columns[i], tones[i + skipped]});

    // Bars stand evenly along the axis: a fitted line through (index, x)
    // must pass within a pixel and a half of every bar, which fails as soon
    // as one bar is matched to its neighbour's tone.
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const PlacedBar& p : *placed) {
        const double index = p.tone - firstTone;
        n += 1; sx += index; sy += p.column.x; sxx += index * index; sxy += index * p.column.x;
    }
    const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    const double offset = (sy - slope * sx) / n;
    for (const PlacedBar& p : *placed) {
        const double off = p.column.x - (offset + slope * (p.tone - firstTone));
        if (std::abs(off) > 1.5)
            return ::testing::AssertionFailure() << "the bar of tone " << p.tone << " stands "
                                                 << off << " pixels off the axis' even spacing";
    }
    return ::testing::AssertionSuccess();
}

// Heights in proportion to the bits: the bar of b bits spans b units of
// the left axis from the zero line (its filled rows stop one row short).
::testing::AssertionResult HeightsFollowBits(const std::vector<PlacedBar>& placed,
                                             const std::vector<int>& served)
{
    double sbh = 0, sbb = 0;
    for (const PlacedBar& p : placed) {
        const double b = served[static_cast<std::size_t>(p.tone)];
        sbh += b * (p.column.Height() + 1);
        sbb += b * b;
    }
    const double perBit = sbh / sbb;
    if (perBit < 4 || perBit > 20)
        return ::testing::AssertionFailure() << perBit << " pixels per bit is no chart of 0-16 bits";
    for (const PlacedBar& p : placed) {
        const int b = served[static_cast<std::size_t>(p.tone)];
        const double expected = b * perBit;
        if (std::abs(p.column.Height() + 1 - expected) > 1.5)
            return ::testing::AssertionFailure()
                << "tone " << p.tone << " served " << b << " bits and stands "
                << p.column.Height() << " pixels high; " << expected - 1 << " expected";
        if (p.column.green != (p.tone < 32))
            return ::testing::AssertionFailure() << "tone " << p.tone << " has the wrong colour";
    }
    return ::testing::AssertionSuccess();
}

// Pixels from the first green bar to the last.
int GreenSpan(const std::vector<BarColumn>& bars)
{
    int first = -1, last = -1;
    for (const BarColumn& b : bars)
        if (b.green) {
            if (first < 0)
                first = b.x;
            last = b.x;
        }
    return last - first;
}

// The bar the monitor's hit test picks for a pointer position: the first
// bar, left to right, whose columns x to x + 2 and rows top to the zero
// line hold the point (bars of 0 bits, hit only on the zero line, are never
// aimed at here).
const PlacedBar* HitBar(const std::vector<PlacedBar>& placed, QPoint p)
{
    for (const PlacedBar& b : placed)
        if (p.x() >= b.column.x && p.x() <= b.column.x + 2 && p.y() >= b.column.top
            && p.y() <= b.column.bottom + 2)
            return &b;
    return nullptr;
}

} // namespace

TEST_F(MonitorOnScreen, BeforePlotTheLampIsRedAndTheChartHasNoBars)
{
    const QImage shot = Shot();
    EXPECT_EQ(LampColour(shot, origin + LampAt), Red);
    EXPECT_EQ(CountColouredColumns(shot, At(ChartRect), false), 0);
}

TEST_F(MonitorOnScreen, PlotTurnsTheLampGreenAndDrawsTheServedBits)
{
    const QImage shot = Cycle(PlotAt);
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(LampColour(shot, origin + LampAt), Green);

    std::vector<PlacedBar> placed;
    ASSERT_TRUE(MatchBars(FindBars(shot, At(ChartRect)), served, 0, 255, &placed));
    EXPECT_TRUE(HeightsFollowBits(placed, served));
    EXPECT_EQ(Lamp(), Red) << "Stop leaves the lamp green";
}

// The program loads the History window from its module on first use.
TEST_F(MonitorOnScreen, CtrlHOpensTheHistoryWindow)
{
    ASSERT_TRUE(Click(HostBox.center()) && tool->Key("ctrl+h"));
    EXPECT_FALSE(tool->WaitForWindow("History", Milliseconds(20000)).empty()) << monitor.Output();
    EXPECT_TRUE(monitor.IsRunning());
}

// And its printing commands: Print from the chart's pop-up menu reaches the
// spooler's PDF printer.
TEST_F(MonitorOnScreen, PrintFromThePopUpMenuReachesTheSpooler)
{
    const QString outDir = qEnvironmentVariable("TIRVANE_CUPS_PDF_DIR");
    if (outDir.isEmpty())
        GTEST_SKIP() << "TIRVANE_CUPS_PDF_DIR not set (run scripts/start_cups.sh)";
    const QStringList before = QDir(outDir).entryList({"*.pdf"}, QDir::Files);
    ASSERT_FALSE(Cycle(PlotAt).isNull());
    const QPoint chart = At(ChartRect.center());
    ASSERT_TRUE(tool->MoveTo(chart.x(), chart.y()) && tool->Run({"click", "3"}).exitCode == 0);
    std::this_thread::sleep_for(Milliseconds(700));
    // Save As..., Copy to clipboard, Printer setup..., Print.
    ASSERT_TRUE(tool->Key("Down") && tool->Key("Down") && tool->Key("Down") && tool->Key("Down") && tool->Key("Return"));
    bool printed = false;
    for (int wait = 0; wait < 240 && !printed; ++wait) {
        for (const QFileInfo& pdf : QDir(outDir).entryInfoList({"*.pdf"}, QDir::Files))
            printed = printed || (!before.contains(pdf.fileName()) && pdf.size() > 0);
        if (!printed)
            std::this_thread::sleep_for(Milliseconds(250));
    }
    EXPECT_TRUE(printed) << "no PDF from the spooler in " << outDir.toStdString() << "; monitor output:\n"
                         << monitor.Output();
}

TEST_F(MonitorOnScreen, RefusedConnectionStillEndsGreenWithFlatBars)
{
    // A loopback address where nothing listens: both logins are refused at
    // once, the cycle runs on with empty replies, and every tone decodes
    // to 0 bits.
    const std::string nobody = host.substr(0, host.rfind('.') + 1) + "1";
    ASSERT_NE(nobody, host);
    ASSERT_TRUE(Fill(HostBox, nobody));
    const QImage shot = Cycle(PlotAt);
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(LampColour(shot, origin + LampAt), Green);
    EXPECT_TRUE(FindBars(shot, At(ChartRect)).empty()) << "bars with bits from no reply";
    // What shows is the zero line's strokes, green and blue.
    EXPECT_GT(CountColouredColumns(shot, At(ChartRect), true), 0);
    EXPECT_GT(CountColouredColumns(shot, At(ChartRect), false),
              CountColouredColumns(shot, At(ChartRect), true));
}

TEST_F(MonitorOnScreen, RangeChoicesRedrawTheirOwnTones)
{
    const QImage first = Cycle(PlotAt);
    ASSERT_FALSE(first.isNull());
    const int greenWide = GreenSpan(FindBars(first, At(ChartRect)));
    const int allWide = CountColouredColumns(first, At(ChartRect), false);

    // "256 - 512": 257 blue bars, tone 256 at the axis' first place.
    const QImage second = Cycle(Range2At);
    ASSERT_FALSE(second.isNull());
    std::vector<PlacedBar> placed;
    ASSERT_TRUE(MatchBars(FindBars(second, At(ChartRect)), served, 256, 512, &placed));
    EXPECT_TRUE(HeightsFollowBits(placed, served));
    EXPECT_EQ(CountColouredColumns(second, At(ChartRect), true), 0) << "green bars above tone 255";

    // "0 - 512": twice the bars on the same axis length, so the green
    // tones take half the width they took in "0 - 255", and bars fill
    // more of the columns.
    const QImage third = Cycle(Range3At);
    ASSERT_FALSE(third.isNull());
    const int greenNarrow = GreenSpan(FindBars(third, At(ChartRect)));
    ASSERT_GT(greenNarrow, 0);
    EXPECT_NEAR(static_cast<double>(greenWide) / greenNarrow, 512.0 / 255.0, 0.35)
        << "green bars span " << greenWide << " pixels in 0 - 255, " << greenNarrow
        << " in 0 - 512";
    EXPECT_GT(CountColouredColumns(third, At(ChartRect), false), allWide);

    // And back: "0 - 255" once more matches its served bits.
    const QImage fourth = Cycle(Range1At);
    ASSERT_FALSE(fourth.isNull());
    ASSERT_TRUE(MatchBars(FindBars(fourth, At(ChartRect)), served, 0, 255, &placed));
    EXPECT_TRUE(HeightsFollowBits(placed, served));
}

TEST_F(MonitorOnScreen, ReadOutShowsTheBarUnderThePointer)
{
    const QImage shot = Cycle(PlotAt);
    ASSERT_FALSE(shot.isNull());
    std::vector<PlacedBar> placed;
    ASSERT_TRUE(MatchBars(FindBars(shot, At(ChartRect)), served, 0, 255, &placed));

    // A bar taller than its left neighbour, so its top row is its own.
    auto taller = [&](bool green, int minTone) -> const PlacedBar* {
        for (std::size_t i = 1; i < placed.size(); ++i)
            if (placed[i].column.green == green && placed[i].tone >= minTone
                && placed[i].column.top < placed[i - 1].column.top)
                return &placed[i];
        return nullptr;
    };
    const PlacedBar* green = taller(true, 6);
    const PlacedBar* blue = taller(false, 100);
    ASSERT_NE(green, nullptr);
    ASSERT_NE(blue, nullptr);
    int highest = placed.front().column.top;
    for (const PlacedBar& p : placed)
        highest = std::min(highest, p.column.top);

    struct Case {
        const char* what;
        QPoint point; // on screen
    };
    const Case cases[] = {
        {"top row of a green bar", {green->column.x, green->column.top}},
        {"top row of a blue bar", {blue->column.x, blue->column.top}},
        {"two columns right of a blue bar, on the zero line's row above",
         {blue->column.x + 2, blue->column.bottom + 1}},
        {"above every bar", {blue->column.x, highest - 4}},
    };

    TextApplication();
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Arrive from outside the chart, so the move is a real one.
        ASSERT_TRUE(tool->MoveTo(c.point.x(), c.point.y() + 300));
        ASSERT_TRUE(tool->MoveTo(c.point.x(), c.point.y()));
        std::this_thread::sleep_for(Milliseconds(400));
        const QImage now = Shot();

        const PlacedBar* hit = HitBar(placed, c.point);
        QStringList toneTexts, frequencyTexts, bitsTexts;
        if (hit) {
            const int tone = hit->tone;
            const int bits = served[static_cast<std::size_t>(tone)];
            toneTexts = {QStringLiteral("Tone number:   %1").arg(tone),
                         QStringLiteral("Tone number:   %1").arg(tone + 1),
                         QStringLiteral("Tone number:   %1").arg(tone - 1),
                         QStringLiteral("Tone number:")};
            frequencyTexts = {QStringLiteral("Frequency:       %1 KHz").arg(FrequencyText(tone)),
                              QStringLiteral("Frequency:       %1 KHz").arg(FrequencyText(tone + 1)),
                              QStringLiteral("Frequency:       %1 KHz").arg(FrequencyText(tone - 1)),
                              QStringLiteral("Frequency:")};
            bitsTexts = {QStringLiteral("Bits:                  %1").arg(bits)};
            for (int other : {bits - 1, bits + 1, bits + 3})
                if (other >= 0)
                    bitsTexts << QStringLiteral("Bits:                  %1").arg(other);
            bitsTexts << QStringLiteral("Bits:");
        } else {
            toneTexts = {QStringLiteral("Tone number:"), QStringLiteral("Tone number:   1")};
            frequencyTexts = {QStringLiteral("Frequency:"), QStringLiteral("Frequency:       4.3125 KHz")};
            bitsTexts = {QStringLiteral("Bits:"), QStringLiteral("Bits:                  1")};
        }

        int line = 0;
        for (const QStringList& texts : {toneTexts, frequencyTexts, bitsTexts}) {
            const QRect area = At(ReadoutLine(line++));
            const std::vector<double> scores = ScoreTexts(now, area, texts, font);
            const double ink = TotalInk(now, area);
            const auto best = std::min_element(scores.begin(), scores.end()) - scores.begin();
            std::ostringstream detail;
            for (int i = 0; i < texts.size(); ++i)
                detail << "  \"" << texts[i].toStdString() << "\": " << scores[static_cast<std::size_t>(i)] << "\n";
            double runnerUp = std::numeric_limits<double>::infinity();
            for (std::size_t i = 1; i < scores.size(); ++i)
                runnerUp = std::min(runnerUp, scores[i]);
            // Drawn the same way, the expected text matches almost to the
            // pixel; a near miss differs by whole glyphs.
            EXPECT_TRUE(best == 0 && scores[0] * 4 < runnerUp)
                << "the read-out does not show \"" << texts[0].toStdString() << "\" (ink " << ink
                << ")\n" << detail.str();
        }
    }
}

// ---- the other routers' families ----

namespace {

struct ToneBand {
    int first, last;
};

bool InBands(const std::vector<ToneBand>& bands, int tone)
{
    return std::any_of(bands.begin(), bands.end(),
                       [tone](ToneBand b) { return tone >= b.first && tone <= b.last; });
}

// One pixel column of a long line as the screen shows it: the height of its
// fill above the zero line (0 for a stroke on it) and the colour of its top.
struct ShownColumn {
    int x = 0;
    int height = 0;
    bool green = false;
};

bool IsBar(QRgb p, bool* green)
{
    // A long line's columns are paler above their lowest tone: bar all the
    // same. Matched closely, so the grey of antialiased text never is one.
    *green = IsColour(p, Green, 40) || IsColour(p, QColor(127, 191, 127), 12);
    return *green || IsColour(p, QColor(0, 0, 255), 40) || IsColour(p, QColor(127, 127, 255), 12);
}

// Every column of `plot` with a bar: filled from `zero` (the lowest row of
// bars with bits) upwards, black marks inside the fill included, or only a
// stroke on the row below.
std::vector<ShownColumn> ReadColumns(const QImage& shot, const QRect& plot, int zero)
{
    const auto black = [&](int x, int y) { return IsColour(shot.pixel(x, y), Qt::black, 40); };
    std::vector<ShownColumn> columns;
    for (int x = plot.left(); x <= plot.right(); ++x) {
        bool green = false;
        if (!IsBar(shot.pixel(x, zero), &green) && !black(x, zero)) {
            if (IsBar(shot.pixel(x, zero + 1), &green))
                columns.push_back({x, 0, green});
            continue;
        }
        int top = zero;
        bool above = false;
        while (top > plot.top()
               && (IsBar(shot.pixel(x, top - 1), &above)
                   || (black(x, top - 1) && top > plot.top() + 1 && IsBar(shot.pixel(x, top - 2), &above))))
            --top;
        if (!IsBar(shot.pixel(x, top), &green))
            continue; // a lone mark: no column of bars
        columns.push_back({x, zero - top + 1, green});
    }
    return columns;
}

// Whether the columns show, column for column, the highest bits of the tones
// first..last that fall in each and that tone's band colour. Tone t stands
// in column floor(a + t * s); a and s are searched around the line through
// the outer columns with bits, so nothing of the monitor's own arithmetic is
// borrowed. Heights are in bits at the tallest column's pixels per bit.
::testing::AssertionResult ColumnsShowTheirHighestTones(const std::vector<ShownColumn>& shown,
                                                        const std::vector<int>& served, int first,
                                                        int last, const std::vector<ToneBand>& up)
{
    int t0 = -1, t1 = -1, most = 0;
    for (int t = first; t <= last; ++t)
        if (served[static_cast<std::size_t>(t)] > 0) {
            t0 = t0 < 0 ? t : t0;
            t1 = t;
            most = std::max(most, served[static_cast<std::size_t>(t)]);
        }
    std::vector<const ShownColumn*> withBits;
    int tallest = 0;
    for (const ShownColumn& c : shown)
        if (c.height > 0) {
            withBits.push_back(&c);
            tallest = std::max(tallest, c.height);
        }
    if (t1 - t0 < 100 || withBits.size() < 100)
        return ::testing::AssertionFailure() << withBits.size() << " columns with bits on screen for tones "
                                             << t0 << "-" << t1;
    const double perBit = double(tallest) / most;
    const int x0 = withBits.front()->x, x1 = withBits.back()->x;
    const double s0 = double(x1 - x0) / (t1 - t0);
    int best = std::numeric_limits<int>::max();
    std::string bestDetail;
    for (int si = -20; si <= 20; ++si) {
        const double s = s0 * (1 + si * 0.0002);
        for (int ai = -20; ai <= 20; ++ai) {
            const double a = x0 - t0 * s + ai * 0.05;
            // Per column the bits it may show: at least those of the tones
            // surely in it, at most those of the tones that may round into it
            // (a hair from its edge), and the colours of those tones' bits.
            struct Expected {
                int sure = -1, any = -1;
                unsigned green = 0, blue = 0;
            };
            const int base = x0 - 50;
            std::vector<Expected> columns(static_cast<std::size_t>(x1 - x0 + 100));
            const auto add = [&](int x, int bits, bool green, bool sure) {
                if (x < base || x - base >= static_cast<int>(columns.size()))
                    return;
                Expected& e = columns[static_cast<std::size_t>(x - base)];
                e.any = std::max(e.any, bits);
                if (sure)
                    e.sure = std::max(e.sure, bits);
                (green ? e.green : e.blue) |= 1u << bits;
            };
            for (int t = first; t <= last; ++t) {
                const double pos = a + t * s;
                const int x = static_cast<int>(std::floor(pos));
                const double edge = pos - x;
                const int bits = served[static_cast<std::size_t>(t)];
                const bool green = InBands(up, t);
                add(x, bits, green, edge >= 0.15 && edge <= 0.85);
                if (edge < 0.15)
                    add(x - 1, bits, green, false);
                if (edge > 0.85)
                    add(x + 1, bits, green, false);
            }
            int wrong = 0;
            std::ostringstream detail;
            for (const ShownColumn& c : shown) {
                const int bits = static_cast<int>(std::lround(c.height / perBit));
                const bool inside = c.x >= base && c.x - base < static_cast<int>(columns.size());
                const Expected e = inside ? columns[static_cast<std::size_t>(c.x - base)] : Expected{};
                if (bits < e.sure || bits > e.any || bits >= 32
                    || !((c.green ? e.green : e.blue) & (1u << bits))) {
                    ++wrong;
                    detail << " column " << c.x << " shows " << bits << (c.green ? " green" : " blue")
                           << " where " << e.sure << " to " << e.any << " bits stand;";
                }
            }
            if (wrong < best) {
                best = wrong;
                bestDetail = detail.str();
            }
        }
    }
    if (best > 0)
        return ::testing::AssertionFailure() << best << " of " << shown.size() << " columns differ from what was served:"
                                             << bestDetail.substr(0, 2000);
    return ::testing::AssertionSuccess();
}

// The Router menu, first in the menu bar just above the client area: its
// entry `item` (0 the ZyXEL) is chosen from the keyboard once the menu is
// open; the window's caption then names the family.
bool ChooseRouter(const XDoTool& tool, QPoint menuAt, int item, const std::string& caption)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!tool.ClickAt(menuAt.x(), menuAt.y()))
            return false;
        std::this_thread::sleep_for(Milliseconds(500));
        for (int i = 0; i <= item; ++i)
            tool.Key("Down");
        tool.Key("Return");
        if (!tool.WaitForWindow(caption, Milliseconds(3000)).empty())
            return true;
        tool.Key("Escape");
    }
    return false;
}

} // namespace

// Another family's line, read through the window: the Router menu set, the
// simulator of that family serving its profile, and on screen the bars of
// the range chosen equal to what was served, upstream bands green and the
// rest blue. A long line shows a column per pixel, each its tones' highest.
TEST_F(MonitorOnScreen, AnotherRoutersLineIsDrawnAsServedInItsBandColours)
{
    const std::vector<ToneBand> up17a = {{7, 31}, {870, 1205}, {1972, 2782}};
    const std::vector<ToneBand> upAdsl = {{6, 31}};
    const struct {
        const char* family;
        const char* profile;
        int item; // in the Router menu
        const char* caption;
        QPoint control; // Plot, or the range button that changes the range
        int first, last;
        const std::vector<ToneBand>* up;
        bool columns; // more tones than pixel columns
    } cases[] = {
        {"broadcom", "17a", 1, "Broadcom Tirvane", PlotAt, 0, 2047, &up17a, true},
        {"broadcom", "17a", 1, "Broadcom Tirvane", Range2At, 2048, 4095, &up17a, true},
        {"lantiq", "adsl2+", 2, "Lantiq Tirvane", Range1At, 0, 255, &upAdsl, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.family) + " " + c.profile + " tones " + std::to_string(c.first) + "-"
                     + std::to_string(c.last));
        RouterSimProcess::Options options;
        options.address = RouterSimProcess::UniqueLoopbackAddress();
        options.password = Password;
        options.extraArgs = {"--router", c.family, "--profile", c.profile};
        std::optional<RouterSimProcess> router;
        ASSERT_NO_THROW(router.emplace(options));
        ASSERT_TRUE(Fill(HostBox, router->Address()));
        ASSERT_TRUE(ChooseRouter(*tool, At(QPoint(20, -10)), c.item, c.caption)) << "no " << c.caption;

        const QImage before = Shot();
        ASSERT_TRUE(Click(c.control));
        const QImage shot = WaitForNewChart(before);
        ASSERT_FALSE(shot.isNull()) << "the chart never settled; monitor output:\n" << monitor.Output();
        EXPECT_TRUE(Click(StopAt));
        Keep(shot, c.family);
        const std::optional<std::vector<int>> served = router->LastServedLine();
        ASSERT_TRUE(served && static_cast<int>(served->size()) > c.last);

        const std::vector<BarColumn> bars = FindBars(shot, At(ChartRect));
        ASSERT_FALSE(bars.empty());
        if (c.columns) {
            EXPECT_TRUE(ColumnsShowTheirHighestTones(ReadColumns(shot, At(ChartRect), bars.front().bottom), *served,
                                                     c.first, c.last, *c.up));
        } else {
            std::vector<PlacedBar> placed;
            ASSERT_TRUE(MatchBars(bars, *served, c.first, c.last, &placed));
            EXPECT_TRUE(HeightsFollowBits(placed, *served));
            for (const PlacedBar& p : placed)
                EXPECT_EQ(p.column.green, InBands(*c.up, p.tone)) << "tone " << p.tone;
        }
    }
}

// ---- a router that misbehaves ----

// The monitor with a short cycle deadline, so each stuck cycle costs a few
// seconds; the production deadline is checked by the cycle's own tests.
class MonitorAgainstAStuckRouter : public MonitorOnScreen {
protected:
    static constexpr Milliseconds Deadline{3000};
    virtual Milliseconds CycleDeadline() const { return Deadline; }
    Environment MonitorEnvironment() const override
    {
        return {{"TIRVANE_CYCLE_DEADLINE_MS", std::to_string(CycleDeadline().count())}};
    }
    // The monitor's resolver asks only a name server that never answers.
    SilentNameServer nameServer;
    std::vector<std::string> MonitorCommand() const override
    {
        EXPECT_TRUE(nameServer.Listening() && nameServer.WriteResolverFiles(workDir));
        return WithResolverFiles(workDir, MonitorPath);
    }

    // The monitor's open sockets.
    int MonitorSockets() const
    {
        int count = 0;
        const std::string dir = "/proc/" + std::to_string(monitor.Pid()) + "/fd";
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
            std::error_code unreadable;
            if (std::filesystem::read_symlink(entry.path(), unreadable).string().rfind("socket:", 0) == 0)
                ++count;
        }
        return count;
    }
};

// However the router (or the name server) misbehaves, a person who clicks
// Plot and then types into the Username box sees the key within the cycle's
// deadline and five seconds, the program lives on without a socket more than
// before (but for a given-up lookup's own), and Stop still works.
TEST_F(MonitorAgainstAStuckRouter, TheWindowAnswersAKeyWhateverTheRouterDoes)
{
    const struct {
        const char* what;
        std::vector<std::string> args;
        bool byName = false; // Host names the router instead of its address
    } faults[] = {
        {"the far reply trickles in, a byte every 1.9 s", {"--trickle", "far"}},
        {"the far reply never ends", {"--endless", "far"}},
        {"bytes keep coming after the last prompt", {"--flood-after", "near"}},
        {"option requests without end, never reading", {"--option-flood"}},
        {"a sub-negotiation that never ends", {"--endless-subnegotiation"}},
        {"the listener's queue is full", {"--full-queue"}},
        // Last: the given-up lookup's thread keeps its query socket open
        // until the resolver gives up by itself, minutes later.
        {"Host is a name and the name server never answers", {}, true},
    };
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.what);
        RouterSimProcess::Options options;
        options.address = RouterSimProcess::UniqueLoopbackAddress();
        options.password = Password;
        options.extraArgs = fault.args;
        options.extraArgs.insert(options.extraArgs.end(), {"--fault-seconds", "60"});
        std::optional<RouterSimProcess> router;
        ASSERT_NO_THROW(router.emplace(options));
        ASSERT_TRUE(Fill(HostBox, fault.byName ? UnansweredName : router->Address()));
        const int sockets = MonitorSockets();

        const auto plotted = Clock::now();
        ASSERT_TRUE(Click(PlotAt));
        std::this_thread::sleep_for(Milliseconds(1000));
        ASSERT_TRUE(Click(UsernameBox.center()));
        ASSERT_TRUE(tool->Type("k"));
        bool shown = false;
        while (!shown && Clock::now() - plotted < Deadline + Milliseconds(5000)) {
            std::this_thread::sleep_for(Milliseconds(200));
            shown = Shows(UsernameBox, "k");
        }
        EXPECT_TRUE(shown) << "no key after " << (Deadline + Milliseconds(5000)).count() << " ms";
        Keep(Shot(), "answered");
        ASSERT_TRUE(monitor.IsRunning()) << monitor.Output();
        const int lookupSocket = fault.byName ? 1 : 0;
        int now = MonitorSockets();
        for (int look = 0; look < 20 && now != sockets + lookupSocket; ++look) {
            std::this_thread::sleep_for(Milliseconds(100));
            now = MonitorSockets();
        }
        EXPECT_EQ(now, sockets + lookupSocket) << "sockets left open";

        // The key came while the cycle still waited; the cycle then ends
        // by its deadline, green.
        QColor ended = Lamp();
        while (ended != Green && Clock::now() - plotted < Deadline + Milliseconds(5000)) {
            std::this_thread::sleep_for(Milliseconds(100));
            ended = Lamp();
        }
        EXPECT_EQ(ended, Green);
        ASSERT_TRUE(Click(StopAt));
        QColor lamp = Lamp();
        for (int look = 0; look < 20 && lamp != Red; ++look) {
            std::this_thread::sleep_for(Milliseconds(100));
            lamp = Lamp();
        }
        EXPECT_EQ(lamp, Red);
        // The next cycle asks no user name.
        ASSERT_TRUE(Click(UsernameBox.center()) && tool->Key("ctrl+a") && tool->Key("BackSpace"));
    }
}

namespace {

// A deadline long enough that the measuring below, slowed by a loaded
// machine, still ends before the trickling cycle would end by itself.
class MonitorAgainstATricklingRouter : public MonitorAgainstAStuckRouter {
protected:
    Milliseconds CycleDeadline() const override { return Milliseconds(8000); }
};

// While the router trickles its reply, a key typed shows and Stop turns the
// lamp red within half a second; the lamp stays red and the router is left
// alone once the stopped cycle would have ended by its deadline.
TEST_F(MonitorAgainstATricklingRouter, AKeyAndStopTakeEffectAtOnceDuringATricklingReply)
{
    // Monitoring first, so the lamp is green when the slow cycle starts.
    ASSERT_TRUE(Click(PlotAt));
    QColor lamp = Lamp();
    for (int look = 0; look < 100 && lamp != Green; ++look) {
        std::this_thread::sleep_for(Milliseconds(100));
        lamp = Lamp();
    }
    ASSERT_EQ(lamp, Green);

    RouterSimProcess::Options options;
    options.address = RouterSimProcess::UniqueLoopbackAddress();
    options.password = Password;
    options.extraArgs = {"--trickle", "far", "--trickle-ms", "300", "--fault-seconds", "60"};
    std::optional<RouterSimProcess> router;
    ASSERT_NO_THROW(router.emplace(options));
    ASSERT_TRUE(Fill(HostBox, router->Address()));
    const int sockets = MonitorSockets();
    const auto plotted = Clock::now();
    ASSERT_TRUE(Click(PlotAt));
    std::this_thread::sleep_for(Milliseconds(800)); // logged in, the far reply trickling

    ASSERT_TRUE(Click(UsernameBox.center()));
    // Timed from the key's sending to the letter's ink in the box (the text
    // check itself is too slow to time with; it follows). The caret blinks
    // meanwhile: the ink before counts it at its most, over a whole blink.
    const QRect inside = At(UsernameBox.adjusted(3, 3, -3, -3));
    const auto darkIn = [&](const QImage& shot) {
        int dark = 0;
        for (int y = inside.top(); y <= inside.bottom(); ++y)
            for (int x = inside.left(); x <= inside.right(); ++x)
                dark += qGray(shot.pixel(x, y)) < 128;
        return dark;
    };
    int caret = 0;
    for (const auto start = Clock::now(); Clock::now() - start < Milliseconds(1200);)
        caret = std::max(caret, darkIn(Shot()));
    const auto typed = Clock::now();
    ASSERT_TRUE(tool->Type("W"));
    bool changed = false;
    while (!changed && Clock::now() - typed < Milliseconds(2000)) {
        std::this_thread::sleep_for(Milliseconds(5));
        changed = darkIn(Shot()) > caret + 10;
    }
    const auto keyMs = std::chrono::duration_cast<Milliseconds>(Clock::now() - typed).count();
    EXPECT_TRUE(changed);
    // The caret leaves the box, so only the letter is read there.
    ASSERT_TRUE(Click(PasswordBox.center()));
    bool shown = false;
    for (int look = 0; look < 10 && !shown; ++look)
        shown = Shows(UsernameBox, "W");
    EXPECT_TRUE(shown);
    Keep(Shot(), "typed");
    EXPECT_LT(keyMs, 500) << "the key took " << keyMs << " ms";

    const auto stopped = Clock::now();
    ASSERT_TRUE(Click(StopAt));
    lamp = Lamp();
    while (lamp != Red && Clock::now() - stopped < Milliseconds(2000))
        lamp = Lamp();
    const auto stopMs = std::chrono::duration_cast<Milliseconds>(Clock::now() - stopped).count();
    EXPECT_EQ(lamp, Red);
    EXPECT_LT(stopMs, 500) << "Stop took " << stopMs << " ms";
    EXPECT_LT(Clock::now() - plotted, CycleDeadline()) << "measured after the cycle's own end";
    RecordProperty("key_shown_ms", int(keyMs));
    RecordProperty("stop_red_ms", int(stopMs));
    std::printf("key shown after %lld ms, lamp red after Stop in %lld ms\n", (long long)keyMs, (long long)stopMs);

    // Past the point where the cycle would have ended by its deadline: still
    // red, and the trickling connection is closed.
    std::this_thread::sleep_for(CycleDeadline() + Milliseconds(1000) - (Clock::now() - plotted));
    EXPECT_EQ(Lamp(), Red);
    EXPECT_EQ(MonitorSockets(), sockets);
    Keep(Shot(), "stopped");
}

// A screen of 1366 x 768: the window, whose designed place would put its
// lower part below the screen's edge, opens wholly on screen; made larger,
// every control stays visible and the chart covers none of them.
class MonitorOnASmallScreen : public MonitorOnScreen {
protected:
    QSize ScreenSize() const override { return {1366, 768}; }
};

TEST_F(MonitorOnASmallScreen, EveryControlIsOnScreenAndUncoveredAtAnySize)
{
    const QRect PromptBox(88, 344, 153, 22);
    const QRect BannerRect(344, 356, 278, 36);
    const auto expectAllThere = [&](const char* when) {
        SCOPED_TRACE(when);
        int x = 0, y = 0, w = 0, h = 0;
        ASSERT_TRUE(tool->WindowGeometry(window, &x, &y, &w, &h));
        EXPECT_TRUE(QRect(0, 0, 1366, 768).contains(QRect(x, y, w, h))) << x << "," << y << " " << w << "x" << h;
        const QImage shot = Shot();
        Keep(shot, when);
        // The lamp follows the bottom edge: from it, where every control is.
        const std::optional<QPoint> found = FindLamp(shot, QRect(x, y, w, h), Lamp() == Green ? Green : Red);
        ASSERT_TRUE(found);
        origin = *found - LampAt;
        EXPECT_TRUE(Shows(HostBox, host));
        EXPECT_TRUE(Shows(PromptBox, ">"));
        for (const QPoint control : {PlotAt, StopAt, Range3At, BannerRect.bottomRight()})
            EXPECT_TRUE(QRect(0, 0, 1366, 768).contains(At(control))) << control.x() << "," << control.y();
        // The banner's blue stands where the banner is, not under the chart.
        int blue = 0;
        for (int dx = 0; dx < 100; ++dx) {
            const QColor c = shot.pixelColor(At(BannerRect).topLeft() + QPoint(dx, 18));
            blue += c.blue() > 150 && c.red() < 120;
        }
        EXPECT_GT(blue, 50);
    };
    expectAllThere("opened");
    // Larger, as far as the screen allows: 1100 x 700 from its top.
    ASSERT_EQ(tool->Run({"windowmove", "--sync", window, "0", "0"}).exitCode, 0);
    ASSERT_EQ(tool->Run({"windowsize", "--sync", window, "1100", "700"}).exitCode, 0);
    std::this_thread::sleep_for(Milliseconds(500));
    expectAllThere("enlarged");
    // Plot, where it now stands, still reads the line.
    ASSERT_TRUE(Click(PlotAt));
    QColor lamp = Lamp();
    for (int look = 0; look < 100 && lamp != Green; ++look) {
        std::this_thread::sleep_for(Milliseconds(100));
        lamp = Lamp();
    }
    EXPECT_EQ(lamp, Green);
}

} // namespace
