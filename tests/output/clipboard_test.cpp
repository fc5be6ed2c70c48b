// The copy on the clipboard, in-process (Qt's offscreen clipboard): an SVG
// of the stated size that draws the chart and the same picture as PNG,
// replacing what was there, with the chart's switches restored however the
// copy ends.
#include "support/qt_print.h"
#include "support/real_test_chart.h"
#include "support/test_chart.h"

#include "chart/chart.h"
#include "output/clipboard.h"
#include "output/metafile.h"
#include "output/chart_pictures.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QPainter>
#include <QScreen>
#include <QSvgRenderer>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <cstdlib>
#include <numeric>
#include <vector>

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

// Renders an SVG from outside the program, at the given pixel size.
QImage RenderWithRsvg(const QByteArray& svg, QSize size, const QString& background = {})
{
    QTemporaryDir dir;
    QFile file(dir.filePath("copy.svg"));
    if (!file.open(QIODevice::WriteOnly) || file.write(svg) != svg.size() || !file.flush())
        return QImage();
    QStringList args = {"-w", QString::number(size.width()), "-h", QString::number(size.height()), "-o",
                        dir.filePath("copy.png"), file.fileName()};
    if (!background.isEmpty())
        args << "-b" << background;
    QProcess::execute("rsvg-convert", args);
    return QImage(dir.filePath("copy.png")).convertToFormat(QImage::Format_RGB32);
}

QByteArray ClipboardSvg()
{
    return QGuiApplication::clipboard()->mimeData()->data(SvgMimeType);
}

QImage ClipboardPng()
{
    return QImage::fromData(QGuiApplication::clipboard()->mimeData()->data(PngMimeType), "PNG");
}

const QStringList BothTypes = {SvgMimeType, PngMimeType};

} // namespace

TEST(ClipboardCopy, HoldsAnSvgAndAPngOfTheStatedSize)
{
    QGuiApplication::clipboard()->setText("text that must go");
    TTestChart chart;
    CopyChartToClipboard(chart, true);
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->formats(), BothTypes);
    EXPECT_EQ(ClipboardPng().size(), QSize(695, 236));

    const QByteArray svg = ClipboardSvg();
    EXPECT_TRUE(QSvgRenderer(svg).isValid());
    const TSvgHeader header = ReadHeader(svg);
    EXPECT_EQ(header.ViewBox, "0 0 695 236");
    // The physical size is what the picture covers on the chart's screen:
    // its device pixels at the screen's device pixel size, the screen
    // measured in whole millimetres. (Run again with QT_SCALE_FACTOR=2,
    // where a logical pixel is two device pixels each way.)
    const QScreen* screen = chart.screen();
    const double ratio = screen->devicePixelRatio();
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) {
        EXPECT_EQ(ratio, qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
    }
    const QSize devicePixels = screen->geometry().size() * ratio;
    const double mmPerDevicePixelX = qRound(screen->physicalSize().width()) / double(devicePixels.width());
    const double mmPerDevicePixelY = qRound(screen->physicalSize().height()) / double(devicePixels.height());
    ASSERT_TRUE(header.Width.endsWith("mm"));
    ASSERT_TRUE(header.Height.endsWith("mm"));
    EXPECT_NEAR(header.Width.chopped(2).toDouble(), 695 * ratio * mmPerDevicePixelX, 0.02);
    EXPECT_NEAR(header.Height.chopped(2).toDouble(), 236 * ratio * mmPerDevicePixelY, 0.02);
}

TEST(ClipboardCopy, DrawsTheBarsInTheirColours)
{
    TTestChart chart;
    CopyChartToClipboard(chart, true);
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
    CopyChartToClipboard(small, true);
    EXPECT_EQ(ReadHeader(ClipboardSvg()).ViewBox, "0 0 299 99");
    TTestChart large(800, 300);
    CopyChartToClipboard(large, true);
    EXPECT_EQ(ReadHeader(ClipboardSvg()).ViewBox, "0 0 799 299");
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->formats(), BothTypes);
    EXPECT_EQ(ClipboardPng().size(), QSize(799, 299));
}

// Pixels further apart than anti-aliasing puts two renderers, of all.
double FarPixels(const QImage& a, const QImage& b)
{
    if (a.size() != b.size() || a.isNull())
        return 1.0;
    int far = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            far += std::abs(qRed(p) - qRed(q)) > 64 || std::abs(qGreen(p) - qGreen(q)) > 64
                || std::abs(qBlue(p) - qBlue(q)) > 64;
        }
    return double(far) / double(a.width() * a.height());
}

// The PNG is the SVG beside it drawn at its own size: a program that pastes
// no SVG gets the same picture, as another program draws that SVG.
TEST(ClipboardCopy, ThePngIsTheSvgInPixels)
{
    const bool rsvg = !QStandardPaths::findExecutable(QStringLiteral("rsvg-convert")).isEmpty();
    // {chart, picture}: one pixel smaller each way, as the vector picture.
    const std::pair<QSize, QSize> cases[] = {
        {{696, 237}, {695, 236}}, {{400, 160}, {399, 159}}, {{1400, 300}, {1399, 299}}, {{1, 1}, {1, 1}}};
    for (const auto& [size, picture] : cases) {
        SCOPED_TRACE(size.width());
        TTestChart chart(size.width(), size.height());
        CopyChartToClipboard(chart, true);
        const QImage png = ClipboardPng().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(png.size(), picture);
        if (rsvg) {
            EXPECT_LT(FarPixels(png, RenderWithRsvg(ClipboardSvg(), picture, "white")), 0.01);
        }
        if (size.width() < 400)
            continue;
        for (const auto& k : TTestChart::KnownPixels(chart.GetChartRectangle()))
            EXPECT_EQ(png.pixel(k.Where), k.Expected) << k.Name;
        EXPECT_LT(qGray(png.pixel(0, picture.height() / 2)), 160); // the frame
    }
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
                EXPECT_THROW(CopyChartToClipboard(chart, true), std::runtime_error);
            else
                CopyChartToClipboard(chart, true);
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
    const auto metafile = CreateChartMetafile(chart, true, chart.GetChartRectangle());
    EXPECT_EQ(metafile->Width, 1);
    EXPECT_EQ(metafile->Height, 1);
    EXPECT_TRUE(QSvgRenderer(metafile->Data).isValid());
}

TEST(ClipboardCopy, RealChartArrivesWithItsBars)
{
    TChart chart;
    LoadRealTestChart(chart);
    CopyChartToClipboard(chart, true);
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

// Tones 0 to 4 of "0 - 255" lie left of the axis start; the screen clips
// them at the plot's left edge. Another program's renderer must show that
// strip of the pasted picture as the screen does.
TEST(ClipboardCopy, TheStripLeftOfTheAxisIsClippedAsOnScreen)
{
    if (QStandardPaths::findExecutable("rsvg-convert").isEmpty())
        GTEST_SKIP() << "rsvg-convert missing";
    TChart chart;
    LoadRealTestChart(chart);
    const QImage screen = chart.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const TChartGeometry& g = chart.LastGeometry();
    const QImage pasted = RenderWithRsvg(CreateChartMetafile(chart, true, chart.GetChartRectangle())->Data,
                                         QSize(695, 236));
    ASSERT_FALSE(pasted.isNull());
    // Bar-coloured pixels per column of the strip, on screen and pasted.
    const auto barPixels = [&g](const QImage& image) {
        std::vector<int> counts;
        for (int x = 0; x < g.Bottom.Scale.StartPixel; ++x) {
            counts.push_back(0);
            for (int y = g.Plot.Top; y <= g.Plot.Bottom; ++y) {
                const QRgb p = image.pixel(x, y);
                counts.back() += std::max(qGreen(p), qBlue(p)) > qRed(p) + 60;
            }
        }
        return counts;
    };
    const std::vector<int> onScreen = barPixels(screen);
    EXPECT_EQ(barPixels(pasted), onScreen);
    // Clipped bars show inside the plot, nothing of them on its left edge.
    EXPECT_GT(std::accumulate(onScreen.begin() + g.Plot.Left + 1, onScreen.end(), 0), 0);
    EXPECT_EQ(std::accumulate(onScreen.begin(), onScreen.begin() + g.Plot.Left + 1, 0), 0);
}
