// The hover read-out wired to the chart: a mouse move over the chart runs
// Chart21MouseMove, which names the bar under the pointer, or shows the bare
// captions, and sets the application-wide cursor. The pointer position comes
// from the system (QCursor), as it does on screen.
#include "app/help_window.h"
#include "app/main_window.h"
#include "chart/chart.h"
#include "chart/color.h"
#include "chart/tone_quantity_plot.h"

#include <QCursor>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Bits for bar i: a recognisable, varied loading with a few empty tones.
double BitsOf(int index)
{
    return index % 9 == 4 ? 0.0 : double(2 + index % 13);
}

class HoverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FForm.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&FForm));
    }
    void TearDown() override
    {
        // No override of ours may outlive a test.
        while (QGuiApplication::overrideCursor())
            QGuiApplication::restoreOverrideCursor();
    }

    // Chooses a range without running a cycle, then fills the bars as a cycle
    // would and has the chart drawn so the hit test knows where they are.
    void ShowBars(QRadioButton* choice, int firstTone, int lastTone, double maximum,
        double (*bits)(int) = BitsOf)
    {
        {
            const QSignalBlocker blocker(choice);
            choice->setChecked(true);
        }
        FForm.Chart21->BottomAxis().SetMaximum(maximum);
        FForm.LineSeries18->ClearPoints();
        for (int tone = firstTone; tone <= lastTone; ++tone) {
            const int index = tone - firstTone;
            FForm.LineSeries18->AppendBar(bits(index), QString::number(tone), tone < 32 ? clGreen : clBlue);
        }
        FForm.Chart21->repaint();
    }

    // Puts the system pointer on a chart pixel and delivers the move there.
    void MoveTo(const QPoint& chartPoint)
    {
        const QPoint global = FForm.Chart21->mapToGlobal(chartPoint);
        QCursor::setPos(global);
        QMouseEvent move(QEvent::MouseMove, QPointF(chartPoint), QPointF(global), Qt::NoButton,
            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(FForm.Chart21, &move);
    }

    QPoint BarMiddle(int index) const
    {
        const TWinRect r = FForm.LineSeries18->BarRectangle(index);
        return QPoint((r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2);
    }

    bool CrossHair() const
    {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        return cursor && cursor->shape() == Qt::CrossCursor;
    }

    std::string Readout() const
    {
        return (FForm.Label56->text() + u'|' + FForm.Label57->text() + u'|' + FForm.Label58->text())
            .toStdString();
    }

    TForm1 FForm;
};

TEST_F(HoverTest, TheSystemPointerPositionIsWhatTheChartSees)
{
    const QPoint global = FForm.Chart21->mapToGlobal(QPoint(123, 45));
    QCursor::setPos(global);
    EXPECT_EQ(QCursor::pos(), global);
    EXPECT_EQ(FForm.Chart21->mapFromGlobal(QCursor::pos()), QPoint(123, 45));
}

TEST_F(HoverTest, OverABarTheReadoutNamesItsToneFrequencyAndBits)
{
    struct Case {
        QRadioButton* choice;
        int first, last;
        double maximum;
        int index;
        const char* expected;
    };
    const Case cases[] = {
        // The bar labelled 300 stands at index 44 in the range 256 - 512.
        {FForm.rb2, 256, 512, 256.0, 44,
            "Tone number:   300|Frequency:       1293.75 KHz|Bits:                  7"},
        {FForm.rb1, 0, 255, 255.0, 33,
            "Tone number:   33|Frequency:       142.3125 KHz|Bits:                  9"},
        {FForm.rb3, 0, 512, 512.0, 512,
            "Tone number:   512|Frequency:       2208 KHz|Bits:                  7"},
        {FForm.rb3, 0, 512, 512.0, 100,
            "Tone number:   100|Frequency:       431.25 KHz|Bits:                  11"},
        {FForm.rb3, 0, 512, 512.0, 4, "Tone number:   4|Frequency:       17.25 KHz|Bits:                  0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        ShowBars(c.choice, c.first, c.last, c.maximum);
        // The bar's last column of its hit area: with 513 bars the hit areas
        // of neighbours overlap and the lower index wins, so this is the one
        // column that is this bar's alone. Its zero line row finds 0-bit bars.
        const TWinRect r = FForm.LineSeries18->BarRectangle(c.index);
        MoveTo(QPoint(r.Right, r.Bottom));
        EXPECT_EQ(Readout(), c.expected);
        EXPECT_TRUE(FForm.Panel35->isVisible());
        EXPECT_TRUE(CrossHair());
    }
}

TEST_F(HoverTest, AwayFromTheBarsTheCaptionsAreBareAndThePointerAnArrow)
{
    ShowBars(FForm.rb2, 256, 512, 256.0);
    MoveTo(BarMiddle(44));
    ASSERT_TRUE(CrossHair());

    // Neighbouring hit areas touch at this density, so "between bars" is
    // above a bar, in the middle column that is its alone.
    const TWinRect bar = FForm.LineSeries18->BarRectangle(44);
    MoveTo(QPoint(BarMiddle(44).x(), bar.Top - 3));
    EXPECT_EQ(Readout(), "Tone number:|Frequency:|Bits:");
    EXPECT_FALSE(CrossHair());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(HoverTest, AnEmptyToneIsFoundOnlyOnTheZeroLine)
{
    ShowBars(FForm.rb1, 0, 255, 255.0, [](int) { return 0.0; });
    const TWinRect bar = FForm.LineSeries18->BarRectangle(120);
    ASSERT_EQ(bar.Top, bar.Bottom);
    const struct {
        int dy;
        bool found;
    } rows[] = {{0, true}, {-1, false}, {-5, false}, {1, false}};
    for (const auto& row : rows) {
        MoveTo(QPoint(BarMiddle(120).x(), bar.Bottom + row.dy));
        EXPECT_EQ(CrossHair(), row.found) << "row " << row.dy;
        EXPECT_EQ(FForm.Label58->text().startsWith(QStringLiteral("Bits: ")), row.found);
    }
}

TEST_F(HoverTest, BeforeAnyCycleEveryMoveShowsTheBareCaptions)
{
    FForm.Chart21->repaint();
    for (const QPoint p : {QPoint(5, 5), QPoint(100, 150), QPoint(348, 200), QPoint(690, 230)}) {
        MoveTo(p);
        EXPECT_EQ(Readout(), "Tone number:|Frequency:|Bits:") << p.x() << "," << p.y();
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }
}

TEST_F(HoverTest, LeavingTheChartStraightFromABarRestoresTheArrow)
{
    ShowBars(FForm.rb1, 0, 255, 255.0);
    MoveTo(BarMiddle(120));
    ASSERT_TRUE(CrossHair());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(FForm.Chart21, &leave);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(HoverTest, MovingAlongBarsKeepsOneOverrideOnTheStack)
{
    ShowBars(FForm.rb1, 0, 255, 255.0);
    for (int index : {40, 41, 42, 90, 200}) {
        MoveTo(BarMiddle(index));
        ASSERT_TRUE(CrossHair());
    }
    // One restore empties the stack: there was only one override.
    QGuiApplication::restoreOverrideCursor();
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(HoverTest, ToneNumbersFollowTheChoiceNotTheBarsOnShow)
{
    // "0 - 255" bars on show, then "256 - 512" chosen without new bars (as
    // after a cycle that stopped for a missing password).
    ShowBars(FForm.rb1, 0, 255, 255.0);
    {
        const QSignalBlocker blocker(FForm.rb2);
        FForm.rb2->setChecked(true);
    }
    MoveTo(BarMiddle(10));
    EXPECT_EQ(FForm.Label56->text(), QStringLiteral("Tone number:   266"));
}

// Switching the quantity with the keys leaves the pointer where it was: the
// read-out then names that tone's value of the new quantity, never the tone
// beside an empty value, and off the chart no tone at all.
TEST_F(HoverTest, ASwitchOfQuantityNamesTheToneUnderThePointerAnew)
{
    TReading line = ZyxelReading(0, QStringLiteral("127.0.0.1"), true);
    std::fill(line.Bits.begin() + 1, line.Bits.end(), std::uint8_t(9));
    line.Spectra.Snr.Up = {1, std::vector<float>(32, 30.5f)};
    line.Spectra.Snr.Down = {1, std::vector<float>(513, 41.5f)};
    const struct {
        const char* name;
        bool onChart;
        const char* readout; // after Bits, then SNR chosen with the keys
    } cases[] = {
        {"pointer kept on the chart", true, "Tone number:   40|Frequency:   172.5 KHz|SNR:   41.5 dB"},
        {"pointer off the chart", false, "Tone number:|Frequency:|SNR:"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FForm.SetQuantity(TToneQuantity::Bits);
        FForm.ShowLine(line, TToneRange{0, 255, 255.0});
        FForm.Chart21->repaint();
        MoveTo(BarMiddle(40));
        if (!c.onChart)
            QCursor::setPos(FForm.Chart21->mapToGlobal(QPoint(-20, -20)));
        FForm.SetQuantity(TToneQuantity::Snr);
        EXPECT_EQ(QString::fromStdString(Readout()).simplified(), QString::fromLatin1(c.readout).simplified());
    }
}

} // namespace
