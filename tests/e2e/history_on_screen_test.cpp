// The History window on a real X server (a private Xvfb), fed by the monitor's
// own cycles against the router simulator, whose line drifts from reading to
// reading and drops one connection halfway: what the screen shows must be
// what the simulator served. The history file and settings live in a private
// home folder. The simulators listen on port 23 of loopback addresses of
// their own, so this runs inside a private network namespace as root.
#include "app/main_window.h"
#include "chart/chart.h"
#include "chart/series.h"
#include "history/figures/history_views.h"
#include "history/window/history_window.h"
#include "history/store/reading_store.h"
#include "line/output_formats.h"
#include "support/modal_catcher.h"
#include "support/router_sim_process.h"
#include "support/screen_reading.h"
#include "support/test_main.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

std::string ScreenName; // the private server's display, ":N"

class HistoryOnScreenTest : public testing::Test {
protected:
    // Four readings of a drifting line, one cycle that loses the connection
    // halfway through the near-end table, two more readings; each as the
    // served record says the monitor should have recorded it.
    static void SetUpTestSuite()
    {
        Form = new TForm1;
        Form->show();
        Form->edHost->setText(QString::fromStdString(RouterSimProcess::UniqueLoopbackAddress()));
        Form->edPassword->setText(QStringLiteral("1234"));
        const struct {
            unsigned seed;
            std::vector<std::string> faults;
            int cycles;
        } runs[] = {{3, {}, 4}, {3, {"--drop", "near"}, 1}, {5, {}, 2}};
        std::vector<TReading> served;
        for (const auto& run : runs) {
            RouterSimProcess sim({Form->edHost->text().toStdString(), 23, "1234", "", false, run.seed, run.faults});
            for (int i = 0; i < run.cycles; ++i) {
                ModalCatcher catcher; // the dropped connection's error box
                served.empty() ? Form->Button1->click() : Form->Timer1Timer();
                TReading reading = ZyxelReading(std::int64_t(served.size()), {}, run.faults.empty());
                const auto tones = sim.ExpectedTones();
                std::copy(tones.begin(), tones.end(), reading.Bits.begin());
                served.push_back(reading);
            }
        }
        Expected.Reset(served);
    }

    static void TearDownTestSuite() { delete Form; }

    static THistoryWindow* Window() { return Form->findChild<THistoryWindow*>(); }

    // The window open on `view`, settled on screen, and the screen.
    static QImage ShowView(THistoryWindow::TView view)
    {
        Form->History1Click();
        Window()->SetView(view);
        Window()->resize(1900, 700); // three pixels and more a tone
        EXPECT_TRUE(QTest::qWaitForWindowExposed(Window()));
        QTest::qWait(300);
        return support::GrabScreen(ScreenName);
    }

    // x on screen of the middle column of a tone's cell, clear of the lines
    // drawn on its edges and of the up/down boundary mark; -1 when there is
    // no such column.
    static int ColumnOf(const THistoryToneView* view, const TToneViewLayout& layout, int tone)
    {
        const int x = int((layout.ToneX(tone) + layout.ToneX(tone + 1)) / 2);
        const bool clear = x > std::lround(layout.ToneX(tone)) && x < std::lround(layout.ToneX(tone + 1))
            && std::abs(x - std::lround(layout.ToneX(ZyxelUpstreamToneCount))) > 1;
        return clear ? view->mapToGlobal(QPoint(x, 0)).x() : -1;
    }

    // Each bar on screen stands as high as value(tone) says, within a pixel:
    // its highest pixel of bar colour, since the envelope's lines cross bars.
    template <typename Value>
    static void ExpectBars(THistoryToneView* view, const QImage& shot, Value value)
    {
        const TToneViewLayout layout = view->Layout(view->rect());
        const int top = view->mapToGlobal(layout.Plot.topLeft()).y();
        const int bottom = view->mapToGlobal(layout.Plot.bottomLeft()).y();
        int checked = 0;
        for (int tone = 0; tone < ZyxelToneCount; ++tone) {
            const int x = ColumnOf(view, layout, tone);
            if (x < 0)
                continue;
            const QRgb colour = tone < ZyxelUpstreamToneCount ? 0xFF008000 : 0xFF0000FF;
            int y = top;
            while (y <= bottom && shot.pixel(x, y) != colour)
                ++y;
            ASSERT_NEAR(bottom + 1 - y, layout.ValueY(0) - layout.ValueY(value(tone)), 1.5) << "tone " << tone;
            ++checked;
        }
        EXPECT_GT(checked, 480);
    }

    static inline TForm1* Form = nullptr;
    static inline THistoryFigures Expected;
};

TEST_F(HistoryOnScreenTest, CtrlHAndTheMenuEntryOpenTheWindow)
{
    ASSERT_EQ(Window(), nullptr);
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form));
    QTest::keyClick(Form->edHost, Qt::Key_H, Qt::ControlModifier); // the focus in a text box
    ASSERT_NE(Window(), nullptr);
    EXPECT_TRUE(Window()->isVisible());
    EXPECT_FALSE(Window()->isModal());
    Window()->close();

    Form->PopupMenu1->popup(Form->Chart21->mapToGlobal(QPoint(50, 50)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form->PopupMenu1));
    QTest::mouseClick(Form->PopupMenu1, Qt::LeftButton, {}, Form->PopupMenu1->actionGeometry(Form->History1).center());
    EXPECT_TRUE(Window()->isVisible());
    EXPECT_EQ(Form->findChildren<THistoryWindow*>().size(), 1); // the same window again
}

TEST_F(HistoryOnScreenTest, WaterfallRowsDecodeToTheServedBits)
{
    const QImage shot = ShowView(THistoryWindow::Waterfall);
    const int rows = Expected.Count();
    ASSERT_EQ(Window()->Figures().Count(), rows) << Window()->MessageText().toStdString();
    TWaterfallView* view = Window()->WaterfallView();
    const TToneViewLayout layout = view->Layout(view->rect());
    // The rows stand as tall as the time each reading stands for: the middle
    // of the pixel rows that show a reading.
    const TWaterfallRows& shown = view->Rows(layout.Plot.height());
    for (int row = 0; row < rows; ++row) {
        std::vector<int> at;
        for (int y = 0; y < shown.Height(); ++y) {
            if (shown.At(y) == row)
                at.push_back(y);
        }
        ASSERT_FALSE(at.empty()) << "row " << row << " has no pixel row";
        const int y = view->mapToGlobal(QPoint(0, layout.Plot.top() + at[at.size() / 2])).y();
        for (int tone = 0; tone < ZyxelToneCount; ++tone) {
            const int x = ColumnOf(view, layout, tone);
            if (x < 0)
                continue;
            ASSERT_EQ(BitsOfColor(shot.pixel(x, y)), Expected.Bits(row, tone)) << "row " << row << " tone " << tone;
        }
    }
}

TEST_F(HistoryOnScreenTest, EnvelopeAndChangeBarsMatchTheServedRecord)
{
    QImage shot = ShowView(THistoryWindow::Envelope);
    const THistoryFigures& shown = Window()->Figures();
    EXPECT_GT(Expected.TotalChanges(), 0) << "the simulator's line did not drift";
    ASSERT_EQ(shown.TotalChanges(), Expected.TotalChanges());
    for (int tone = 0; tone < ZyxelToneCount; ++tone) {
        ASSERT_EQ(shown.Max(tone), Expected.Max(tone)) << tone;
        ASSERT_EQ(shown.Min(tone), Expected.Min(tone)) << tone;
    }
    ExpectBars(Window()->EnvelopeView(), shot, [](int tone) { return Expected.Latest(tone); });
    shot = ShowView(THistoryWindow::Changes);
    ExpectBars(Window()->ChangesView(), shot, [](int tone) { return Expected.Changes(tone); });
}

// Also: the exported file is the store, outage and all.
TEST_F(HistoryOnScreenTest, MainWindowKeepsPlottingWhileTheWindowIsOpen)
{
    ShowView(THistoryWindow::Waterfall);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("history.csv")));
    ASSERT_TRUE(Window()->ExportCsv(file.fileName()) && file.open(QIODevice::ReadOnly));
    TReadingStore store;
    ASSERT_TRUE(store.OpenToRead(TReadingStore::DefaultPath())) << store.ErrorText().toStdString();
    const auto stored = store.Readings(0, std::numeric_limits<std::int64_t>::max());
    ASSERT_EQ(int(stored.size()), Expected.Count());
    EXPECT_EQ(file.readAll(), FormatCsv(stored));

    RouterSimProcess sim({Form->edHost->text().toStdString(), 23, "1234", "", false, 9, {}});
    const int before = Window()->Figures().Count();
    Form->Timer1Timer();
    Form->FlushHistory();
    const auto tones = sim.ExpectedTones();
    ASSERT_EQ(Form->LineSeries18->Count(), 256);
    for (int i = 0; i < Form->LineSeries18->Count(); ++i)
        ASSERT_EQ(Form->LineSeries18->YValues().Value(i), double(tones[std::size_t(i)])) << i;
    EXPECT_TRUE(Window()->isVisible());
    ASSERT_EQ(Window()->Figures().Count(), before + 1);
    for (int tone = 0; tone < ZyxelToneCount; ++tone)
        ASSERT_EQ(Window()->Figures().Bits(0, tone), tones[std::size_t(tone)]) << tone;
}

} // namespace

TTestMain TestMainSetUp()
{
    TTestMain setUp;
    setUp.Screen = TTestMain::XServer;
    setUp.MakeApplication = MakeTestApplication<QApplication>;
    setUp.AfterApplication = [] { ScreenName = TestScreenName(); };
    return setUp;
}
