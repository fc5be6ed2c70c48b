// The chart's four quantities drawn offscreen through the chart's one
// drawing: each axis' title and round steps, gaps where nothing was
// measured, the band colours, the note of a line without the quantity; a
// long line's tone labels; the read-out's tone under the pointer's column.
#include "chart/chart.h"
#include "chart/tone_quantity_plot.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cmath>

namespace {

QApplication& App()
{
    static int argc = 1;
    static char name[] = "quantity_plot_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

struct TAppFirst {
    TAppFirst() { App(); }
};

// 513 tones of the ZyXEL plan; downstream groups of 8, group 10 (tones 80
// to 87) not measured; upstream one value a tone.
TReading Line513()
{
    TReading reading = ZyxelReading(0, QStringLiteral("127.0.0.1"), true);
    for (int tone = 0; tone < ZyxelToneCount; ++tone)
        reading.Bits[std::size_t(tone)] = std::uint8_t(tone % 12);
    const auto fill = [](TToneSpectrum& spectrum, float up, float down) {
        spectrum.Up.Groups.assign(32, up);
        spectrum.Down.GroupSize = 8;
        spectrum.Down.Groups.assign(65, down);
        spectrum.Down.Groups[10] = NotMeasured;
    };
    fill(reading.Spectra.Snr, 31.5f, 44.0f);
    fill(reading.Spectra.Qln, -141.5f, -122.0f);
    fill(reading.Spectra.Hlog, -9.5f, -57.3f);
    return reading;
}

class QuantityPlot : public ::testing::Test {
protected:
    void SetUp() override
    {
        LoadChart21Settings(chart);
        chart.resize(696, 237);
    }
    bool Plot(const TReading& reading, int first, int last, TToneQuantity quantity)
    {
        chart.BottomAxis().SetMaximum(last - first);
        return PlotToneQuantity({chart.Series(), chart.BottomAxis(), chart.LeftAxis()}, reading, first, last, quantity);
    }
    QImage Draw()
    {
        QImage image(696, 237, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        chart.DrawChart(painter, QRect(0, 0, 696, 237));
        return image;
    }
    TAppFirst app;
    TChart chart;
};

TEST_F(QuantityPlot, EachQuantityHasItsAxisGapsAndBandColours)
{
    const struct {
        TToneQuantity quantity;
        const char* title;
        double minimum, maximum;
        bool gaps;
    } cases[] = {
        {TToneQuantity::Bits, "Bits ", 0, 16, false},
        {TToneQuantity::Snr, "SNR (dB)", 0, 50, true},
        {TToneQuantity::Qln, "QLN (dBm/Hz)", -150, -120, true},
        {TToneQuantity::Hlog, "Hlog (dB)", -60, 0, true},
    };
    const TReading reading = Line513();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        EXPECT_TRUE(Plot(reading, 0, 512, c.quantity));
        const QImage image = Draw();
        EXPECT_EQ(chart.LeftAxis().TitleCaption.toStdString(), c.title);
        EXPECT_EQ(chart.LeftAxis().Minimum(), c.minimum);
        EXPECT_EQ(chart.LeftAxis().Maximum(), c.maximum);
        // Labels at a round step, the top one the axis' maximum.
        const TAxisGeometry& left = chart.LastGeometry().Left;
        ASSERT_FALSE(left.Labels.empty());
        EXPECT_EQ(left.Labels.front().Text, FormatAxisValue(c.maximum));
        EXPECT_EQ(left.Labels.back().Text, FormatAxisValue(c.minimum));
        const double mantissa = left.Step / std::pow(10.0, std::floor(std::log10(left.Step)));
        EXPECT_TRUE(mantissa == 1 || mantissa == 2 || mantissa == 5) << left.Step;
        // A group not measured leaves its tones' columns bare; bars keep the
        // band colours: upstream green, downstream blue.
        const TBarSeries& series = chart.Series();
        const int foot = chart.LastGeometry().Left.Scale.EndPixel - 2;
        const int gapColumn = series.BarRectangle(83).Left;
        EXPECT_EQ(image.pixelColor(gapColumn, foot), c.gaps ? QColor(Qt::white) : QColor(0, 0, 255));
        EXPECT_EQ(image.pixelColor(series.BarRectangle(20).Left, foot), QColor(0, 128, 0));
        EXPECT_EQ(image.pixelColor(series.BarRectangle(301).Left, foot), QColor(0, 0, 255));
        EXPECT_EQ(std::isnan(series.YValues().Value(83)), c.gaps);
    }
}

TEST_F(QuantityPlot, ALineWithoutTheQuantitySaysSoOnTheChart)
{
    const TReading plain = ZyxelReading(0, QStringLiteral("127.0.0.1"), true);
    for (TToneQuantity quantity : ToneQuantities) {
        SCOPED_TRACE(ToneQuantityName(quantity).toStdString());
        const bool measured = Plot(plain, 0, 512, quantity);
        EXPECT_EQ(measured, quantity == TToneQuantity::Bits);
        chart.SetEmptyNote(measured ? QString() : NotMeasuredOnLine());
        const QImage image = Draw();
        // Grey writing across the plot's middle, or none.
        const TWinRect p = chart.LastGeometry().Plot;
        int grey = 0;
        for (int x = p.Left + 1; x < p.Right; ++x) {
            const QColor c = image.pixelColor(x, (p.Top + p.Bottom) / 2);
            grey += c.red() == c.green() && c.green() == c.blue() && c.red() < 200;
        }
        EXPECT_EQ(grey > 5, !measured) << grey;
    }
}

TEST_F(QuantityPlot, LongLinesAreLabelledAtRoundTonesFromZero)
{
    for (const int tones : {2048, 4096, 8192}) {
        SCOPED_TRACE(tones);
        TReading reading;
        reading.Bits.assign(std::size_t(tones), 9);
        reading.Bands = {{{0, 31}}, {{32, tones - 1}}};
        Plot(reading, 0, tones - 1, TToneQuantity::Bits);
        Draw();
        const TAxisGeometry& bottom = chart.LastGeometry().Bottom;
        EXPECT_FALSE(bottom.Turned);
        ASSERT_GE(bottom.Labels.size(), 4u);
        ASSERT_LE(bottom.Labels.size(), 25u);
        EXPECT_EQ(bottom.Labels.front().Text, QStringLiteral("0"));
        const int step = bottom.Labels[1].Text.toInt();
        EXPECT_TRUE(QString::number(step).contains(QRegularExpression(QStringLiteral("^[125]0+$")))) << step;
        for (std::size_t i = 1; i < bottom.Labels.size(); ++i) {
            EXPECT_EQ(bottom.Labels[i].Text.toInt(), int(i) * step);
            // Room for a label between neighbours: never crowded.
            EXPECT_GT(bottom.Labels[i].Pos - bottom.Labels[i - 1].Pos, 40);
        }
        EXPECT_LE(bottom.Labels.back().Text.toInt(), tones - 1);
    }
}

TEST_F(QuantityPlot, TheReadOutNamesTheToneUnderThePointersColumn)
{
    // A long line of 0 bits, and a 513-tone SNR chart at its gap: nothing
    // stands at the pointer's height, the tone is named all the same.
    TReading silent;
    silent.Bits.assign(4096, 0);
    silent.Bands = {{{0, 31}}, {{32, 4095}}};
    const struct {
        const char* name;
        TReading reading;
        int last, tone;
        TToneQuantity quantity;
        const char* value;
    } cases[] = {
        {"0 bits on a long line", silent, 4095, 2000, TToneQuantity::Bits, "Bits:                  0"},
        {"SNR not measured", Line513(), 512, 84, TToneQuantity::Snr, "SNR:                  not measured"},
        {"SNR of an upstream tone", Line513(), 512, 20, TToneQuantity::Snr, "SNR:                  31.5 dB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Plot(c.reading, 0, c.last, c.quantity);
        Draw();
        const TBarSeries& series = chart.Series();
        const TWinRect plot = chart.LastGeometry().Plot;
        const int centre = series.BarRectangle(c.tone).Left + series.DrawState().BarPixelWidth / 2;
        const QPoint pointer(centre, (plot.Top + plot.Bottom) / 2);
        const int index = series.IndexAtColumn(pointer);
        // Within the tones one pixel column holds.
        EXPECT_LE(std::abs(index - c.tone), c.last / 600) << index;
        // No bar reaches up there: the bars' own hit test finds none.
        if (c.last > 600) {
            EXPECT_FALSE(series.BarContainsPoint(index, pointer));
        }
        const THoverTexts texts = QuantityHoverTexts(c.quantity, index, 0, series.YValues().Value(index), 4.3125);
        EXPECT_EQ(texts.Tone, QStringLiteral("Tone number:   ") + QString::number(index));
        EXPECT_EQ(texts.Bits.toStdString(), c.value);
        // Outside the plot's height: no tone.
        EXPECT_EQ(series.IndexAtColumn(QPoint(pointer.x(), plot.Bottom + 20)), -1);
    }
}

} // namespace
