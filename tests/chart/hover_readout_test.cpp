// The read-out's texts and number form, the range choice's tone offset, and
// the series' and axes' own rules.
#include "chart/chart_engine.h"
#include "chart/hover_readout.h"
#include "chart/series.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

class CLocale : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale::c()); }
    void TearDown() override { QLocale::setDefault(FSaved); }

private:
    QLocale FSaved;
};

using FormatGeneralTest = CLocale;
using HoverTextsTest = CLocale;

TEST_F(FormatGeneralTest, Table)
{
    const struct { long double v; const char* text; } cases[] = {
        {0.0L, "0"},
        {9.0L, "9"},
        {33 * 4.3125L, "142.3125"},
        {300 * 4.3125L, "1293.75"},
        {512 * 4.3125L, "2208"},
        {-2.5L, "-2.5"},
        {0.1L + 0.2L, "0.3"},                 // rounded at 15 digits
        {0.1 + 0.2, "0.3"},                   // the double sum too
        {1.0L / 3, "0.333333333333333"},
        {123456789012345.0L, "123456789012345"},
        {1e15L, "1E15"},                      // too many whole digits
        {1234567890123456.0L, "1.23456789012346E15"},
        {0.00001L, "0.00001"},
        {0.0000015L, "1.5E-6"},
        {-0.0L, "0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatGeneral(c.v), QString::fromLatin1(c.text)) << double(c.v);
}

TEST_F(FormatGeneralTest, NonNumbers)
{
    EXPECT_EQ(FormatGeneral(std::numeric_limits<long double>::infinity()), QStringLiteral("INF"));
    EXPECT_EQ(FormatGeneral(-std::numeric_limits<long double>::infinity()), QStringLiteral("-INF"));
    EXPECT_EQ(FormatGeneral(std::numeric_limits<long double>::quiet_NaN()), QStringLiteral("NAN"));
}

TEST_F(FormatGeneralTest, LocaleDecimalSeparatorNoGrouping)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatGeneral(33 * 4.3125L), QStringLiteral("142,3125"));
    EXPECT_EQ(FormatGeneral(512 * 4.3125L), QStringLiteral("2208"));
    EXPECT_EQ(FormatGeneral(1.5e-6L), QStringLiteral("1,5E-6"));
}

TEST(ToneOffset, RangeChoicesInOrder)
{
    const struct { bool rb1, rb2, rb3; int offset; } cases[] = {
        {true, false, false, 0},   {false, true, false, 256}, {false, false, true, 0},
        {false, false, false, 0},  {true, true, false, 256},  {false, true, true, 0},
        {true, true, true, 0},     {true, false, true, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ToneOffset(c.rb1, c.rb2, c.rb3), c.offset) << c.rb1 << c.rb2 << c.rb3;
}

TEST_F(HoverTextsTest, Table)
{
    const struct { int index, offset; double bits; const char* tone; const char* freq; const char* bitsText; } cases[] = {
        {-1, 256, 7, "Tone number:", "Frequency:", "Bits:"},
        {0, 0, 0, "Tone number:   0", "Frequency:       0 KHz", "Bits:                  0"},
        {33, 0, 9, "Tone number:   33", "Frequency:       142.3125 KHz", "Bits:                  9"},
        {44, 256, 12, "Tone number:   300", "Frequency:       1293.75 KHz", "Bits:                  12"},
        {256, 256, 2, "Tone number:   512", "Frequency:       2208 KHz", "Bits:                  2"},
        {512, 0, 15, "Tone number:   512", "Frequency:       2208 KHz", "Bits:                  15"},
        {1, 0, 2.5, "Tone number:   1", "Frequency:       4.3125 KHz", "Bits:                  2.5"},
    };
    for (const auto& c : cases) {
        const THoverTexts t = HoverTexts(c.index, c.offset, c.bits);
        EXPECT_EQ(t.Tone, QString::fromLatin1(c.tone));
        EXPECT_EQ(t.Frequency, QString::fromLatin1(c.freq));
        EXPECT_EQ(t.Bits, QString::fromLatin1(c.bitsText));
    }
}

// ---------------------------------------------------------------------------

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
