// Layout numbers of the chart without any widget: bar widths, the left
// axis' step, label thinning, value/pixel mapping, the bars drawn for each
// range, minor ticks, and the hit test's edges.
#include "chart/chart21_settings.h"
#include "chart/chart_engine.h"
#include "chart/chart_layout.h"
#include "chart/series.h"

#include <QGuiApplication>
#include <QLocale>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

namespace {

// A font stand-in with a chosen line height and fixed-width digits, so the
// expected pixels can be worked out by hand.
class TFixedMeasure : public TTextMeasure {
public:
    TFixedMeasure(int lineHeight, int charWidth) : FLineHeight(lineHeight), FCharWidth(charWidth) {}
    int LineHeight() const override { return FLineHeight; }
    int TextWidth(const QString& text) const override { return FCharWidth * int(text.size()); }

private:
    int FLineHeight;
    int FCharWidth;
};

// The main window's chart with its designed settings, without the widget.
struct TChart21Model {
    TChartConfig Config;
    TChartAxis Bottom{true};
    TChartAxis Left{false};
    TChartAxis Right{false};
    TChartAxis Top{true};
    TBarSeries Series;

    TChart21Model() { LoadChart21Settings(TChartParts{Config, Bottom, Left, Right, Top, Series}); }

    void Fill(int bars, double bits = 8)
    {
        Series.ClearPoints();
        for (int i = 0; i < bars; ++i)
            Series.AppendBar(bits, QString::number(i), i < 32 ? clGreen : clBlue);
    }

    TChartGeometry Layout(int width, int height, const TTextMeasure& m)
    {
        TChartGeometry g;
        ComputeChartGeometry(g, QRect(0, 0, width, height), Config, Bottom, Left, Series,
                             TChartMeasures{m, m, m, m, m});
        Series.SetDrawState(g.Bars);
        return g;
    }
};

QGuiApplication& App()
{
    static int argc = 1;
    static char name[] = "chart_layout_test";
    static char* argv[] = {name, nullptr};
    // Kept to the end of the process: tearing Qt down among static
    // destructors crashes.
    static QGuiApplication* app = new QGuiApplication(argc, argv);
    return *app;
}

// ---------------------------------------------------------------------------

TEST(Rounding, NearestTiesGoToEven)
{
    const struct { double x; int expected; } cases[] = {
        {0.5, 0}, {1.5, 2}, {2.5, 2}, {-0.5, 0}, {-1.5, -2}, {0.49999, 0}, {0.50001, 1},
        {12.64, 13}, {-2.6, -3}, {1e300, INT_MAX}, {-1e300, INT_MIN},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Nearest(c.x), c.expected) << c.x;
}

// The one MulDiv: the chart's margins and a vector picture's frame.
TEST(Rounding, MarginsRoundHalvesAway)
{
    const struct { int a, b, c, expected; } cases[] = {
        {3, 696, 100, 21}, {1, 696, 100, 7}, {3, 650, 100, 20}, // 19.5 -> 20
        {1, 250, 100, 3},                                       // 2.5 -> 3
        {-1, 250, 100, -3}, {3, 1920, 100, 58},
        {695, 36100, 1366, 18367},                              // a frame: 18367.06
        {1, 3, 2, 2}, {-1, 3, 2, -2}, {7, 1, 3, 2}, {1, 3, -2, -2},
        {5, 5, 0, 0}, {5, 10, 0, 0},                            // nothing to divide by: no size
        {2000000, 2000000, 4000000, 1000000},                   // no overflow in between
        {INT_MAX, 2, 1, INT_MAX}, {INT_MIN, 2, 1, INT_MIN},     // kept to the int range
    };
    for (const auto& c : cases)
        EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.expected) << c.a << "*" << c.b << "/" << c.c;
}

// ---------------------------------------------------------------------------

TEST(BarWidth, FollowsAxisLengthNotBarCount)
{
    const struct { int length, maxPerPage, bars, expected; } cases[] = {
        {600, 255, 256, 2},   // step 2 -> 0.8 -> 1 -> made even
        {600, 255, 513, 2},   // the slot count ignores the bars shown
        {600, 255, 0, 2},
        {1300, 255, 257, 2},  // step 5 -> 2
        {2000, 255, 513, 4},  // step 7 -> 2.8 -> 3 -> 4
        {511, 255, 513, 0},   // step 1 -> 0.4 -> 0
        {255, 255, 513, 0},
        {606, 0, 10, 22},     // no page size: slots from the bars, 606 / 11 = 55 -> 22
        {600, 0, 0, 0},       // no slots at all
    };
    for (const auto& c : cases)
        EXPECT_EQ(BarPixelWidthFor(c.length, c.maxPerPage, c.bars, 40, true), c.expected)
            << "length " << c.length << " bars " << c.bars;
}

// ---------------------------------------------------------------------------

TEST(LeftAxisStep, FromPlotHeightWithFourteenPixelLines)
{
    // The axis runs from 1 % to 98 % of the plot height.
    const struct { int plotHeight; double expected; } cases[] = {
        {100, 5}, {180, 2}, {250, 1}, {60, 5}, {40, 5}, {30, 10}, {10, 20}, {1000, 1},
        {5, 1e-12}, // not even one label fits
    };
    for (const auto& c : cases) {
        const int length = Nearest(c.plotHeight * 0.01 * 98) - Nearest(c.plotHeight * 0.01 * 1);
        EXPECT_DOUBLE_EQ(AxisValueStep(length, 14, 16, 0, 10), c.expected) << c.plotHeight;
    }
}

TEST(LeftAxisStep, StepSeriesAndLimits)
{
    const struct { int length, lineHeight; double range, increment, expected; } cases[] = {
        {150, 14, 160, 0, 20},       // scaled by ten
        {150, 14, 1.6, 0, 1},        // starts at 1, never goes below
        {150, 14, 16, 3, 3},         // an increment starts the search
        {150, 14, 160, 3, 20},       // 3 -> 5 -> 10 -> 20
        {150, 0, 16, 0, 20},         // no line height: room for one label
        {-20, 14, 16, 0, 1e-12},     // an inverted plot has no room
        {150, 14, 0, 0, 1},          // empty range
        {150, 14, INFINITY, 0, 1e-12}, // would never settle
        {150, 14, NAN, 0, 1e-12},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(AxisValueStep(c.length, c.lineHeight, c.range, c.increment, 10), c.expected)
            << c.length << " " << c.range;
}

TEST(LeftAxisStep, RealFontGivesTheSameSteps)
{
    App();
    TChartFont font;
    const TFontMeasure measure(font.ToQFont());
    const int lh = measure.LineHeight();
    ASSERT_GE(lh, 10);
    ASSERT_LE(lh, 16);
    // Heights chosen so the number of labels that fit lands well inside each
    // step's band for any line height of the font between 12 and 14.
    const struct { int plotHeight; double expected; } cases[] = {{80, 5}, {180, 2}, {280, 1}};
    for (const auto& c : cases) {
        const int length = Nearest(c.plotHeight * 0.98) - Nearest(c.plotHeight * 0.01);
        EXPECT_DOUBLE_EQ(AxisValueStep(length, lh, 16, 0, 10), c.expected) << c.plotHeight;
    }
}

// ---------------------------------------------------------------------------

TEST(LabelThinning, SpacingWithFourteenPixelLines)
{
    // pos -> drawn?
    const struct { int pos; bool drawn; } walk[] = {
        {100, true},   // the first is always drawn, half 7
        {114, false},  // needs 100 + 7 + 8
        {115, true},   // now half 8
        {130, false},  // needs 115 + 8 + 8
        {131, true},
        {146, false},
        {147, true},
        {140, false},  // to the left: needs 147 - 8 - 8
        {131, true},
    };
    TLabelThinner thinner(10);
    for (const auto& w : walk)
        EXPECT_EQ(thinner.Accept(w.pos, 14), w.drawn) << w.pos;
}

TEST(LabelThinning, BottomAxisLabelsOfEachRange)
{
    TChart21Model model;
    const TFixedMeasure m(14, 6);
    const struct { double maximum; int bars; int width; } cases[] = {
        {255, 256, 696}, {256, 257, 696}, {512, 513, 696}, {512, 513, 1920}, {255, 256, 400},
    };
    for (const auto& c : cases) {
        model.Bottom.SetMaximum(c.maximum);
        model.Fill(c.bars);
        const TChartGeometry g = model.Layout(c.width, 237, m);
        ASSERT_GE(g.Bottom.Labels.size(), 2u);
        // The first label is tone 5's bar, at the axis start.
        EXPECT_EQ(g.Bottom.Labels[0].Text, QStringLiteral("5"));
        EXPECT_EQ(g.Bottom.Labels[0].Pos, g.Bottom.Scale.StartPixel);
        EXPECT_GE(g.Bottom.Labels[1].Pos - g.Bottom.Labels[0].Pos, 15);
        for (std::size_t i = 2; i < g.Bottom.Labels.size(); ++i)
            EXPECT_GE(g.Bottom.Labels[i].Pos - g.Bottom.Labels[i - 1].Pos, 16) << i;
        // Thinning keeps every label that fits: no gap could take one more.
        for (std::size_t i = 2; i < g.Bottom.Labels.size(); ++i)
            EXPECT_LE(g.Bottom.Labels[i].Pos - g.Bottom.Labels[i - 1].Pos, 18) << i;
        EXPECT_LE(g.Bottom.Labels.back().Text.toDouble(), c.maximum);
    }
}

// ---------------------------------------------------------------------------

TEST(Layout, PlotRectangleAndAxesAt696x237)
{
    TChart21Model model;
    model.Fill(513);
    const TChartGeometry g = model.Layout(696, 237, TFixedMeasure(14, 6));
    // Margins 21 and 7; title line 14 + 5; bottom bands 14 + 29 + 2; left
    // bands 14 + ("16" + blank = 18) + 4.
    EXPECT_EQ(g.Plot.Left, 21 + 14 + 18 + 4);
    EXPECT_EQ(g.Plot.Top, 19);
    EXPECT_EQ(g.Plot.Right, 689);
    EXPECT_EQ(g.Plot.Bottom, 237 - 45);
    EXPECT_EQ(g.Bottom.TitlePosition, 223);
    EXPECT_EQ(g.Bottom.LabelPosition, 194);
    EXPECT_EQ(g.Bottom.Position, 192);
    EXPECT_EQ(g.Left.TitlePosition, 35);
    EXPECT_EQ(g.Left.LabelPosition, 53);
    EXPECT_EQ(g.Left.Position, 57);
    // Left axis: 173 high, from 19 + 2 to 19 + 170.
    EXPECT_EQ(g.Left.Scale.StartPixel, 21);
    EXPECT_EQ(g.Left.Scale.EndPixel, 189);
    EXPECT_DOUBLE_EQ(g.Left.Step, 2);
    EXPECT_EQ(g.Bars.BarPixelWidth, 2);
}

TEST(Layout, LeftLabelsFromTopDown)
{
    TChart21Model model;
    const TFixedMeasure m(14, 6);
    const struct { int height; double step; std::vector<int> values; } cases[] = {
        {237, 2, {16, 14, 12, 10, 8, 6, 4, 2, 0}},
        {160, 5, {15, 10, 5, 0}},   // the top label is 15, not 16
        {330, 1, {16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}},
    };
    for (const auto& c : cases) {
        const TChartGeometry g = model.Layout(696, c.height, m);
        EXPECT_DOUBLE_EQ(g.Left.Step, c.step) << c.height;
        ASSERT_EQ(g.Left.Labels.size(), c.values.size()) << c.height;
        for (std::size_t i = 0; i < c.values.size(); ++i) {
            EXPECT_EQ(g.Left.Labels[i].Text, QString::number(c.values[i]));
            EXPECT_EQ(g.Left.Labels[i].Pos, g.Left.Scale.ValueToPixel(c.values[i]));
        }
    }
}

TEST(Layout, DegenerateSizesAndRangesStayBounded)
{
    TChart21Model model;
    model.Fill(513);
    const TFixedMeasure m(14, 6);
    for (const QSize size : {QSize(0, 0), QSize(30, 20), QSize(20, 600)}) {
        const TChartGeometry g = model.Layout(size.width(), size.height(), m);
        EXPECT_LE(int(g.Left.Labels.size()), MaxAxisTicks);
    }
    // A step lost against the value's magnitude would never move the value;
    // a huge range must not run away either.
    const struct { double minimum, maximum; } ranges[] = {{1e20, 1e20}, {-1e300, 1e300}};
    for (const auto& r : ranges) {
        model.Left.SetMinimum(r.minimum);
        model.Left.SetMaximum(r.maximum);
        EXPECT_LE(int(model.Layout(696, 237, m).Left.Labels.size()), MaxAxisTicks);
    }
}

// ---------------------------------------------------------------------------

TEST(ValueToPixel, RoundTripsOnBothAxes)
{
    const TAxisScale bottom{5, 512, 70, 676, true};
    const TAxisScale left{0, 16, 21, 189, false};
    const struct { const TAxisScale* axis; double value; int pixel; } cases[] = {
        {&bottom, 5, 70}, {&bottom, 512, 676}, {&bottom, 0, 64},   // -5.98 -> -6
        {&bottom, 300, 70 + Nearest(295 * 606 / 507.0)},
        {&left, 16, 21}, {&left, 0, 189}, {&left, 8, 105}, {&left, 1, 179}, // 178.5 ties to 178? 189 - 10.5 -> 10
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.axis->ValueToPixel(c.value), c.pixel) << c.value;
        // Back from the pixel: within half a pixel's worth of value.
        const double perPixel = c.axis->Range() / c.axis->Length();
        EXPECT_NEAR(c.axis->PixelToValue(c.pixel), c.value, perPixel / 2 + 1e-9) << c.value;
    }
    for (int pixel = 21; pixel <= 189; ++pixel)
        EXPECT_EQ(left.ValueToPixel(left.PixelToValue(pixel)), pixel);
    for (int pixel = 70; pixel <= 676; ++pixel)
        EXPECT_EQ(bottom.ValueToPixel(bottom.PixelToValue(pixel)), pixel);
}

TEST(ValueToPixel, EmptyRangeAndOverflowGiveTheCentre)
{
    const TAxisScale flat{5, 5, 70, 676, true};
    EXPECT_EQ(flat.ValueToPixel(5), 373);
    EXPECT_EQ(flat.ValueToPixel(1e9), 373);
    const TAxisScale bottom{5, 512, 70, 676, true};
    EXPECT_EQ(bottom.ValueToPixel(1e12), 373);
    EXPECT_EQ(bottom.ValueToPixel(-1e12), 373);
    EXPECT_EQ(bottom.ValueToPixel(NAN), 373);
    const TAxisScale left{0, 16, 21, 189, false};
    EXPECT_EQ(left.ValueToPixel(1e15), 105);
    // Short axes give 0 back from any pixel.
    const TAxisScale point{5, 512, 100, 100, true};
    EXPECT_DOUBLE_EQ(point.PixelToValue(100), 0.0);
    const TAxisScale inverted{5, 512, 100, 90, true};
    EXPECT_DOUBLE_EQ(inverted.PixelToValue(95), 0.0);
}

// ---------------------------------------------------------------------------

TEST(ShownBars, EveryRangeAt696)
{
    TChart21Model model;
    const TFixedMeasure m(14, 6);
    const struct { double maximum; int bars; int first, last; } cases[] = {
        {255, 256, 0, 255}, {256, 257, 0, 256}, {512, 513, 0, 512},
        // "0 - 255" chosen while the bars of "0 - 512" are still on show:
        // the bars past the plot's right edge are left out.
        {255, 513, 0, 260},
    };
    for (const auto& c : cases) {
        model.Bottom.SetMaximum(c.maximum);
        model.Fill(c.bars);
        const TChartGeometry g = model.Layout(696, 237, m);
        EXPECT_EQ(g.Bars.FirstShownIndex, c.first) << c.maximum << " " << c.bars;
        EXPECT_EQ(g.Bars.LastShownIndex, c.last) << c.maximum << " " << c.bars;
    }
}

TEST(ShownBars, SpanEdgesFromPixels)
{
    TChartValueList x;
    for (int i = 0; i < 300; ++i)
        x.Append(i);
    const struct { TAxisScale axis; int low, high; int first, last; } cases[] = {
        // The plot's left edge lands just above X 0: bar 0 is left out.
        {{5, 255, 11, 563, true}, 0, 574, 1, 259},
        // Left edge exactly at X 0 keeps it, right edge exactly at X 260 too.
        {{5, 255, 12, 612, true}, 0, 624, 0, 260},
        // Right edge exactly on a bar keeps that bar.
        {{0, 100, 0, 100, true}, 0, 100, 0, 100},
        // Everything left of the span: nothing shown.
        {{400, 500, 0, 100, true}, 0, 100, -1, -1},
        // Span between two bars.
        {{10.2, 10.6, 0, 100, true}, 0, 100, -1, -1},
    };
    for (const auto& c : cases) {
        int first = -2, last = -2;
        ShownBars(c.axis, c.low, c.high, x, first, last);
        EXPECT_EQ(first, c.first) << c.axis.Minimum << ".." << c.axis.Maximum;
        EXPECT_EQ(last, c.last) << c.axis.Minimum << ".." << c.axis.Maximum;
    }
    TChartValueList empty;
    int first = 7, last = 7;
    ShownBars(TAxisScale{5, 255, 12, 612, true}, 0, 624, empty, first, last);
    EXPECT_EQ(first, -1);
    EXPECT_EQ(last, -1);
}

// ---------------------------------------------------------------------------

TEST(MinorTicks, BetweenAndAroundTicksStrictlyInside)
{
    const auto ticks = [](std::initializer_list<int> ps) {
        std::vector<TAxisLabel> v;
        for (int p : ps)
            v.push_back({p, QString()});
        return v;
    };
    const struct { std::vector<TAxisLabel> ticks; int count, start, end; std::vector<int> expected; } cases[] = {
        // Left axis 21..189, step 2: 21 pixels a step, 5.25 / 10.5 / 15.75.
        {ticks({21, 42, 63}), 3, 21, 189, {37, 32, 26, 58, 53, 47, 68, 73, 79}},
        // Ticks at the axis ends: nothing beyond them, nothing on them.
        {ticks({20, 40}), 3, 20, 40, {35, 30, 25}},
        // A single tick has no spacing to repeat.
        {ticks({100}), 4, 0, 200, {}},
        // Bottom axis, 4 between: 16 pixels -> 3.2, 6.4, 9.6, 12.8.
        {ticks({70, 86}), 4, 70, 676, {83, 80, 76, 73, 89, 92, 96, 99}},
    };
    for (const auto& c : cases) {
        std::vector<int> out{999};
        MinorTickPositions(c.ticks, c.count, c.start, c.end, out);
        EXPECT_EQ(out, c.expected);
    }
}

// ---------------------------------------------------------------------------

TEST(AxisLabels, NumberFormat)
{
    const QLocale saved;
    QLocale::setDefault(QLocale::c());
    const struct { double v; const char* text; } cases[] = {
        {16, "16"}, {0.1234, "0.123"}, {1234567, "1,234,567"}, {-1500.25, "-1,500.25"},
        {-0.0001, "0"}, {999.9996, "1,000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatAxisValue(c.v), QString::fromLatin1(c.text)) << c.v;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatAxisValue(1234.5), QStringLiteral("1.234,5"));
    QLocale::setDefault(saved);
}

// ---------------------------------------------------------------------------

// The bar at X 5 on the 696 x 237 layout: axis pixel 70, so the bar's left
// is 69 and the filled column 69 only; 8 bits reach row 105, zero is row 189.
class HitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        model.Series.ClearPoints();
        for (int i = 0; i < 513; ++i)
            model.Series.AppendBar(i == 5 ? 8 : (i == 7 ? 0 : 3), QString::number(i), clBlue);
        model.Layout(696, 237, TFixedMeasure(14, 6));
        ASSERT_EQ(model.Series.DrawState().BarPixelWidth, 2);
        ASSERT_EQ(model.Series.BarRectangle(5).Left, 69);
    }
    TChart21Model model;
};

TEST_F(HitTest, EdgesOfABar)
{
    const struct { int x, y; bool hit; } cases[] = {
        {69, 150, true},   // the filled column
        {70, 150, true},   // one column right of it
        {71, 150, true},   // two columns right: still the bar
        {72, 150, false},
        {68, 150, false},
        {69, 105, true},   // the top row
        {69, 104, false},
        {69, 189, true},   // the zero line, below the filled rows
        {69, 190, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(model.Series.BarContainsPoint(5, QPoint(c.x, c.y)), c.hit) << c.x << "," << c.y;
}

TEST_F(HitTest, ZeroBitBarOnlyOnTheZeroRow)
{
    const TWinRect r = model.Series.BarRectangle(7);
    EXPECT_EQ(r.Top, 189);
    EXPECT_EQ(r.Bottom, 189);
    EXPECT_TRUE(model.Series.BarContainsPoint(7, QPoint(r.Left, 189)));
    EXPECT_TRUE(model.Series.BarContainsPoint(7, QPoint(r.Right, 189)));
    EXPECT_FALSE(model.Series.BarContainsPoint(7, QPoint(r.Left, 188)));
    EXPECT_FALSE(model.Series.BarContainsPoint(7, QPoint(r.Left, 190)));
}

TEST_F(HitTest, PointerSearchFirstHitWinsAndMissesGiveMinusOne)
{
    QPoint pointer;
    model.Series.CursorPosition = [&pointer] { return pointer; };
    const struct { QPoint at; int index; } cases[] = {
        {{69, 110}, 5},      // only bar 5 reaches up there
        {{72, 110}, -1},     // right of it, above the 3-bit bars
        {{71, 180}, 5},      // bars 5 and 6 overlap here: the lower index wins
        {{10, 180}, -1},     // left of the plot
        {{300, 230}, -1},    // below the zero line
        {{680, 180}, -1},    // right of the last bar
    };
    for (const auto& c : cases) {
        pointer = c.at;
        EXPECT_EQ(model.Series.PointIndexAtCursor(), c.index) << c.at.x() << "," << c.at.y();
    }
}

TEST_F(HitTest, StaleDrawingNeverAnswersPastTheBars)
{
    // The far edge of bar 300's hit area, clear of bar 299's.
    QPoint pointer(model.Series.BarRectangle(300).Right, 170);
    model.Series.CursorPosition = [&pointer] { return pointer; };
    EXPECT_EQ(model.Series.PointIndexAtCursor(), 300);
    // New, fewer bars since the last drawing.
    model.Series.ClearPoints();
    for (int i = 0; i < 256; ++i)
        model.Series.AppendBar(3, QString::number(i), clBlue);
    EXPECT_EQ(model.Series.PointIndexAtCursor(), -1);
    EXPECT_FALSE(model.Series.BarContainsPoint(300, pointer));
    // Before any drawing nothing is found.
    TBarSeries fresh;
    fresh.CursorPosition = [&pointer] { return pointer; };
    fresh.AppendBar(3, QStringLiteral("0"), clBlue);
    EXPECT_EQ(fresh.PointIndexAtCursor(), -1);
}

} // namespace
