// The vector copy on the clipboard, in-process (Qt's offscreen clipboard):
// one SVG entry of the stated size that draws the chart, replacing what was
// there, with the chart's switches restored however the copy ends.
#include "support/qt_print.h"
#include "support/real_test_chart.h"
#include "support/test_chart.h"

#include "chart/chart.h"
#include "output/clipboard.h"
#include "output/metafile.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QSvgRenderer>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

namespace {

struct TSvgHeader {
    QString Width;
    QString Height;
    QString ViewBox;
};

TSvgHeader ReadHeader(const QByteArray& svg)
{
    QXmlStreamReader xml(svg);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("svg")) {
            const auto a = xml.attributes();
            return TSvgHeader{a.value("width").toString(), a.value("height").toString(),
                              a.value("viewBox").toString()};
        }
    }
    return {};
}

QImage Render(const QByteArray& svg, QSize size)
{
    QSvgRenderer renderer(svg);
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    renderer.render(&painter);
    return image;
}

QByteArray ClipboardSvg()
{
    return QGuiApplication::clipboard()->mimeData()->data(SvgMimeType);
}

} // namespace

TEST(MulDiv, RoundsToTheNearestWholeNumber)
{
    const struct {
        int A, B, C, Expected;
    } cases[] = {
        {695, 36100, 1366, 18367}, // 18367.06
        {1, 3, 2, 2},              // 1.5 rounds up
        {-1, 3, 2, -2},            // and away from zero below it
        {7, 1, 3, 2},
        {5, 10, 0, 0},             // nothing to divide by
        {2000000, 2000000, 4000000, 1000000}, // no overflow in between
    };
    for (const auto& c : cases)
        EXPECT_EQ(MulDiv(c.A, c.B, c.C), c.Expected) << c.A << '*' << c.B << '/' << c.C;
}

TEST(ClipboardCopy, HoldsExactlyOneSvgEntryOfTheStatedSize)
{
    QGuiApplication::clipboard()->setText("text that must go");
    TTestChart chart;
    chart.CopyChartToClipboard(true);
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->formats(), QStringList{SvgMimeType});

    const QByteArray svg = ClipboardSvg();
    EXPECT_TRUE(QSvgRenderer(svg).isValid());
    const TSvgHeader header = ReadHeader(svg);
    EXPECT_EQ(header.ViewBox, "0 0 695 236");
    // The physical size is the picture's pixels at the screen's pixel size,
    // the screen measured in whole millimetres.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double mmPerPixelX = qRound(screen->physicalSize().width()) / double(screen->size().width());
    const double mmPerPixelY = qRound(screen->physicalSize().height()) / double(screen->size().height());
    ASSERT_TRUE(header.Width.endsWith("mm"));
    ASSERT_TRUE(header.Height.endsWith("mm"));
    EXPECT_NEAR(header.Width.chopped(2).toDouble(), 695 * mmPerPixelX, 0.02);
    EXPECT_NEAR(header.Height.chopped(2).toDouble(), 236 * mmPerPixelY, 0.02);
}

TEST(ClipboardCopy, DrawsTheBarsInTheirColours)
{
    TTestChart chart;
    chart.CopyChartToClipboard(true);
    const QImage picture = Render(ClipboardSvg(), QSize(695, 236));
    const QRect r = chart.GetChartRectangle();
    for (const auto& c : TTestChart::KnownPixels(r))
        EXPECT_EQ(picture.pixel(c.Where), c.Expected) << c.Name;
    // The black frame, smoothed by the renderer but plainly dark.
    EXPECT_LT(qGray(picture.pixel(0, 100)), 160);
}

TEST(ClipboardCopy, ASecondCopyReplacesTheFirst)
{
    TTestChart small(300, 100);
    small.CopyChartToClipboard(true);
    EXPECT_EQ(ReadHeader(ClipboardSvg()).ViewBox, "0 0 299 99");
    TTestChart large(800, 300);
    large.CopyChartToClipboard(true);
    EXPECT_EQ(ReadHeader(ClipboardSvg()).ViewBox, "0 0 799 299");
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->formats(), QStringList{SvgMimeType});
}

TEST(ClipboardCopy, RecordsWithTheMetafileFlagAndRestoresBothSwitches)
{
    for (const bool throwing : {false, true}) {
        for (const bool buffered : {true, false}) {
            QGuiApplication::clipboard()->setText("kept");
            TTestChart chart;
            chart.SetBufferedPaint(buffered);
            chart.ThrowOnDraw = throwing;
            if (throwing)
                EXPECT_THROW(chart.CopyChartToClipboard(true), std::runtime_error);
            else
                chart.CopyChartToClipboard(true);
            EXPECT_TRUE(chart.MetafilingWhileDrawing);
            EXPECT_FALSE(chart.BufferedPaintWhileDrawing);
            EXPECT_FALSE(chart.IsMetafiling());
            EXPECT_EQ(chart.BufferedPaint(), buffered);
            // A failed drawing puts nothing on the clipboard.
            EXPECT_EQ(QGuiApplication::clipboard()->text() == "kept", throwing);
        }
    }
}

TEST(ClipboardCopy, TinyChartStillGivesAOnePixelPicture)
{
    TTestChart chart(1, 1);
    const auto metafile = chart.CreateChartMetafile(true, chart.GetChartRectangle());
    EXPECT_EQ(metafile->Width, 1);
    EXPECT_EQ(metafile->Height, 1);
    EXPECT_TRUE(QSvgRenderer(metafile->Data).isValid());
}

TEST(ClipboardCopy, RealChartArrivesWithItsBars)
{
    TChart chart;
    LoadRealTestChart(chart);
    chart.CopyChartToClipboard(true);
    const QByteArray svg = ClipboardSvg();
    EXPECT_EQ(ReadHeader(svg).ViewBox, "0 0 695 236");
    const QImage picture = Render(svg, QSize(695, 236));
    if (qEnvironmentVariableIsSet("TIRVANE_KEEP_PICTURES")) {
        picture.save(qEnvironmentVariable("TIRVANE_KEEP_PICTURES") + "/real_chart_svg.png");
        QFile file(qEnvironmentVariable("TIRVANE_KEEP_PICTURES") + "/real_chart.svg");
        if (file.open(QIODevice::WriteOnly))
            file.write(svg);
    }
    int green = 0;
    int blue = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = picture.pixel(x, y);
            green += p == qRgb(0, 128, 0);
            blue += p == qRgb(0, 0, 255);
        }
    EXPECT_GT(green, 100);
    EXPECT_GT(blue, green);
}
