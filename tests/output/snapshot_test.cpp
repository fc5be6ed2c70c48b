// The raster snapshot Save As and Print take of the chart: its size, format
// and back colour, and the screen buffering switched off while it is drawn
// and restored however the drawing ends.
#include "support/test_chart.h"

#include "output/chart_pictures.h"

#include <gtest/gtest.h>

#include <stdexcept>


struct BackCase {
    const char* Name;
    TColor Back;
    QRgb Corner; // a pixel the chart leaves undrawn
};

class SnapshotBackTest : public ::testing::TestWithParam<BackCase> {};

TEST_P(SnapshotBackTest, FillsOnlyANonWhiteBackColour)
{
    TTestChart chart;
    chart.Back = GetParam().Back;
    const QImage snapshot = CreateChartBitmap(chart, chart.BackColor(), chart.GetChartRectangle());
    EXPECT_EQ(snapshot.format(), QImage::Format_RGB32);
    EXPECT_EQ(snapshot.size(), QSize(696, 237));
    EXPECT_EQ(snapshot.pixel(5, 5), GetParam().Corner);
}

INSTANTIATE_TEST_SUITE_P(Backs, SnapshotBackTest,
                         ::testing::Values(BackCase{"White", clWhite, 0xFFFFFFFF},
                                           BackCase{"Red", clRed, 0xFFFF0000},
                                           BackCase{"Blue", clBlue, 0xFF0000FF}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(Snapshot, DrawsUnbufferedAndRestoresBufferingEvenWhenDrawingFails)
{
    for (const bool throwing : {false, true}) {
        for (const bool buffered : {true, false}) {
            TTestChart chart;
            chart.SetBufferedPaint(buffered);
            chart.ThrowOnDraw = throwing;
            if (throwing)
                EXPECT_THROW(CreateChartBitmap(chart, clWhite, chart.GetChartRectangle()), std::runtime_error);
            else
                CreateChartBitmap(chart, clWhite, chart.GetChartRectangle());
            EXPECT_FALSE(chart.BufferedPaintWhileDrawing);
            EXPECT_EQ(chart.BufferedPaint(), buffered) << "throwing " << throwing;
        }
    }
}
