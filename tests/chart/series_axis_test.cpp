// The bar series' and the axes' own rules: appending after a clear, and a
// maximum below the minimum refused.
#include "chart/chart_engine.h"
#include "chart/series.h"

#include <gtest/gtest.h>

namespace {

TEST(BarSeries, AppendAfterClearStartsAgainAtZero)
{
    TBarSeries series;
    int changes = 0;
    series.OnChange = [&changes] { ++changes; };
    for (int i = 0; i < 513; ++i)
        ASSERT_EQ(series.AppendBar(i, QString::number(i), clBlue), i);
    series.ClearPoints();
    EXPECT_EQ(series.Count(), 0);
    const struct { double bits; const char* label; TColor color; } bars[] = {
        {7, "256", clBlue}, {0, "257", clBlue}, {15, "258", clGreen},
    };
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(series.AppendBar(bars[i].bits, QString::fromLatin1(bars[i].label), bars[i].color), i);
        EXPECT_DOUBLE_EQ(series.XValues().Value(i), i);
        EXPECT_DOUBLE_EQ(series.YValues()[i], bars[i].bits);
        EXPECT_EQ(series.Label(i), QString::fromLatin1(bars[i].label));
        EXPECT_EQ(series.ValueColor(i), bars[i].color);
    }
    // Every change asked for a repaint; none drew.
    EXPECT_EQ(changes, 513 + 1 + 3);
}

TEST(Axis, MaximumBelowMinimumIsRefusedAndRangeKept)
{
    TChartAxis axis;
    int changes = 0;
    axis.OnChange = [&changes] { ++changes; };
    axis.SetMaximum(512);
    axis.SetMinimum(5);
    changes = 0;
    const struct { double maximum; bool refused; } cases[] = {
        {4.999, true}, {-1, true}, {5, false}, {255, false}, {256, false}, {512, false},
    };
    for (const auto& c : cases) {
        const double before = axis.Maximum();
        if (c.refused) {
            try {
                axis.SetMaximum(c.maximum);
                ADD_FAILURE() << c.maximum << " was accepted";
            } catch (const AxisException& e) {
                EXPECT_STREQ(e.what(), "Axis Maximum Value must be >= Minimum");
            }
            EXPECT_DOUBLE_EQ(axis.Maximum(), before);
        } else {
            axis.SetMaximum(c.maximum);
            EXPECT_DOUBLE_EQ(axis.Maximum(), c.maximum);
        }
        EXPECT_DOUBLE_EQ(axis.Minimum(), 5);
    }
    // Only real changes ask for a repaint: 5, 255, 256, 512 from 512.
    EXPECT_EQ(changes, 4);
    axis.SetMaximum(512);
    EXPECT_EQ(changes, 4);
}

} // namespace
