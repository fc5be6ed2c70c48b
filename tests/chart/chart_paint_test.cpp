// The drawn chart, pixel by pixel, and the widget's wiring: one drawing per
// cycle of appends, the pointer search through the system's cursor, the
// mouse-move and leave signals. Runs on Qt's offscreen platform.
#include "chart/chart.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QCursor>
#include <QElapsedTimer>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QSvgGenerator>
#include <QSvgRenderer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

QApplication& App()
{
    static int argc = 1;
    static char name[] = "chart_paint_test";
    static char* argv[] = {name, nullptr};
    // Kept to the end of the process: tearing Qt down among static
    // destructors crashes.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

const QColor Green(0, 128, 0);
const QColor Blue(0, 0, 255);
const QColor Black(0, 0, 0);
const QColor White(255, 255, 255);
const QColor TickGrey(128, 128, 128);
const QColor GridGrey(229, 229, 229);

// Known bars: most tones 3 bits; a lone 10-bit bar at 100 between silent
// tones; silent tones 38 to 42; 31 and 32 either side of the colour change;
// 200 higher than the axis goes.
double KnownBits(int tone)
{
    if (tone == 31 || tone == 32 || tone == 100)
        return 10;
    if (tone == 99 || tone == 101 || (tone >= 38 && tone <= 42))
        return 0;
    if (tone == 200)
        return 20;
    return 3;
}

void FillKnown(TChart& chart)
{
    chart.BottomAxis().SetMaximum(512);
    chart.Series().ClearPoints();
    for (int tone = 0; tone <= 512; ++tone)
        chart.Series().AppendBar(KnownBits(tone), QString::number(tone), tone < 32 ? clGreen : clBlue);
}

QImage Draw(TChart& chart, int width = 696, int height = 237)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    chart.DrawChart(painter, QRect(0, 0, width, height));
    return image;
}

QColor At(const QImage& image, int x, int y)
{
    return image.pixelColor(x, y);
}

// Makes sure the application exists before any widget member is built.
struct TAppFirst {
    TAppFirst() { App(); }
};

class ChartPaint : public ::testing::Test {
protected:
    void SetUp() override
    {
        LoadChart21Settings(chart);
        chart.resize(696, 237);
    }
    TAppFirst app;
    TChart chart;
};

TEST_F(ChartPaint, BarsColumnsRowsAndColours)
{
    FillKnown(chart);
    const QImage image = Draw(chart);
    const TChartGeometry& g = chart.LastGeometry();
    const TBarSeries& s = chart.Series();
    ASSERT_EQ(g.Bars.BarPixelWidth, 2);
    ASSERT_EQ(g.Bars.FirstShownIndex, 0);
    ASSERT_EQ(g.Bars.LastShownIndex, 512);
    const int zero = g.Left.Scale.ValueToPixel(0);

    // Tone 31 is the last green bar, tone 32 the first blue one.
    const TWinRect r31 = s.BarRectangle(31);
    const TWinRect r32 = s.BarRectangle(32);
    ASSERT_LT(r31.Left, r32.Left);
    const int mid = (r31.Top + zero) / 2;
    EXPECT_EQ(At(image, r31.Left, mid), Green);
    EXPECT_EQ(At(image, r32.Left, mid), Blue);

    // The lone bar fills one column (width 2 leaves out the last) and the
    // rows from its top down to two above the zero line.
    const TWinRect r = s.BarRectangle(100);
    const struct { int x, y; QColor colour; bool same; } cases[] = {
        {r.Left, (r.Top + r.Bottom) / 2, Blue, true},
        {r.Left + 1, (r.Top + r.Bottom) / 2, Blue, false},
        {r.Left - 1, (r.Top + r.Bottom) / 2, Blue, false},
        {r.Left, r.Top, Blue, true},
        {r.Left, r.Top - 1, Blue, false},
        {r.Left, r.Bottom - 2, Blue, true},
        {r.Left, r.Bottom - 1, Blue, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(At(image, c.x, c.y) == c.colour, c.same) << c.x << "," << c.y;
    EXPECT_EQ(r.Bottom, zero);
}

TEST_F(ChartPaint, SilentToneIsAStrokeOnTheZeroLine)
{
    FillKnown(chart);
    const QImage image = Draw(chart);
    const TWinRect r = chart.Series().BarRectangle(40);
    const int zero = chart.LastGeometry().Left.Scale.ValueToPixel(0);
    ASSERT_EQ(r.Top, zero);
    ASSERT_EQ(r.Bottom, zero);
    EXPECT_EQ(At(image, r.Left, zero), Blue);
    EXPECT_EQ(At(image, r.Left + 1, zero), Blue);
    EXPECT_NE(At(image, r.Left, zero - 1), Blue);
    EXPECT_NE(At(image, r.Left, zero + 1), Blue);
}

TEST_F(ChartPaint, BarsStayInsideTheWall)
{
    FillKnown(chart);
    const QImage image = Draw(chart);
    const TChartGeometry& g = chart.LastGeometry();
    // Tone 200 reaches above the axis' 16: cut at the row under the frame.
    const TWinRect r = chart.Series().BarRectangle(200);
    ASSERT_LT(r.Top, g.Plot.Top);
    EXPECT_EQ(At(image, r.Left, g.Plot.Top + 1), Blue);
    EXPECT_NE(At(image, r.Left, g.Plot.Top), Blue);
    EXPECT_EQ(At(image, r.Left, g.Plot.Top - 1), White);
    // The wall's frame: right column, bottom row.
    EXPECT_EQ(At(image, g.Plot.Right, (g.Plot.Top + g.Plot.Bottom) / 2), Black);
    EXPECT_EQ(At(image, (g.Plot.Left + g.Plot.Right) / 2, g.Plot.Bottom), Black);
    // Nothing of any bar outside the plot.
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (x < g.Plot.Left || x > g.Plot.Right || y < g.Plot.Top || y > g.Plot.Bottom) {
                const QColor c = At(image, x, y);
                ASSERT_FALSE(c == Blue || c == Green) << x << "," << y;
            }
}

TEST_F(ChartPaint, BarsLeftOfTheAxisAreClippedAtThePlotEdge)
{
    // Wide bars without the right shift put bar 0 across the plot's left
    // edge: the part outside stays white, the frame black.
    chart.Config().SetMaxPointsPerPage(10);
    chart.Series().OffsetPercent = 0;
    FillKnown(chart);
    const QImage image = Draw(chart);
    const TChartGeometry& g = chart.LastGeometry();
    const TWinRect r = chart.Series().BarRectangle(0);
    ASSERT_EQ(g.Bars.FirstShownIndex, 0);
    ASSERT_LT(r.Left, g.Plot.Left);
    ASSERT_GT(r.Right - 2, g.Plot.Left + 1);
    const int y = r.Top + 1;
    for (int x = r.Left; x < g.Plot.Left; ++x)
        EXPECT_EQ(At(image, x, y), White) << x;
    EXPECT_NE(At(image, g.Plot.Left, y), Green);
    EXPECT_EQ(At(image, g.Plot.Left + 1, y), Green);
    // And bar 0 gets no label: the first label is tone 5's.
    ASSERT_FALSE(g.Bottom.Labels.empty());
    EXPECT_EQ(g.Bottom.Labels.front().Text, QStringLiteral("5"));
}

TEST_F(ChartPaint, EmptyChartHasLeftTicksAndGridOnly)
{
    const QImage image = Draw(chart);
    const TChartGeometry& g = chart.LastGeometry();
    ASSERT_TRUE(g.Bottom.Labels.empty());
    ASSERT_EQ(g.Left.Labels.size(), 9u);
    // No tick, minor tick or label below the plot.
    for (int x = g.Plot.Left + 1; x < g.Plot.Right; ++x)
        for (int y = g.Plot.Bottom + 1; y < g.Bottom.TitlePosition; ++y)
            ASSERT_EQ(At(image, x, y), White) << x << "," << y;
    // Left ticks four pixels long, one off the plot edge; grid across.
    for (const TAxisLabel& l : g.Left.Labels) {
        for (int x = g.Left.Position - 4; x <= g.Left.Position - 1; ++x)
            EXPECT_EQ(At(image, x, l.Pos), TickGrey) << l.Text.toStdString();
        EXPECT_NE(At(image, g.Left.Position - 5, l.Pos), TickGrey);
        EXPECT_EQ(At(image, (g.Plot.Left + g.Plot.Right) / 2, l.Pos), GridGrey);
    }
    // Minor ticks between them, two pixels long.
    for (int p : g.Left.MinorTicks) {
        EXPECT_EQ(At(image, g.Left.Position - 1, p), TickGrey);
        EXPECT_EQ(At(image, g.Left.Position - 2, p), TickGrey);
        EXPECT_NE(At(image, g.Left.Position - 3, p), TickGrey);
    }
    // The labels are written left of the ticks: some dark pixels there.
    const TAxisLabel& top = g.Left.Labels.front();
    int dark = 0;
    for (int x = g.Left.TitlePosition; x < g.Left.LabelPosition; ++x)
        for (int y = top.Pos - 5; y <= top.Pos + 5; ++y)
            dark += qGray(image.pixel(x, y)) < 128;
    EXPECT_GT(dark, 5);
}

TEST_F(ChartPaint, BottomTicksAndTurnedLabels)
{
    FillKnown(chart);
    const QImage image = Draw(chart);
    const TChartGeometry& g = chart.LastGeometry();
    ASSERT_GE(g.Bottom.Labels.size(), 10u);
    for (const TAxisLabel& l : g.Bottom.Labels) {
        EXPECT_EQ(At(image, l.Pos, g.Bottom.Position + 1), TickGrey) << l.Text.toStdString();
        EXPECT_EQ(At(image, l.Pos, g.Bottom.Position + 2), TickGrey) << l.Text.toStdString();
    }
    // A three-digit label turned upright: its ink in the band is taller than
    // wide, centred across its pixel, and starts at the band's top.
    const TAxisLabel* longLabel = nullptr;
    for (const TAxisLabel& l : g.Bottom.Labels)
        if (l.Text.size() == 3)
            longLabel = &l;
    ASSERT_NE(longLabel, nullptr);
    int minX = INT_MAX, maxX = INT_MIN, minY = INT_MAX, maxY = INT_MIN;
    for (int x = longLabel->Pos - 7; x <= longLabel->Pos + 7; ++x)
        for (int y = g.Bottom.LabelPosition; y < g.Bottom.TitlePosition; ++y)
            if (qGray(image.pixel(x, y)) < 100) {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
    ASSERT_LE(minX, maxX);
    EXPECT_GT(maxY - minY, maxX - minX); // reads upwards, not across
    EXPECT_LE(std::abs((minX + maxX) / 2 - longLabel->Pos), 2);
    EXPECT_LE(minY - g.Bottom.LabelPosition, 3); // hangs from the band's top
}

TEST_F(ChartPaint, SamePictureThroughSvgAndPdf)
{
    FillKnown(chart);
    const QImage raster = Draw(chart);
    const TWinRect r = chart.Series().BarRectangle(100);

    QBuffer svg;
    svg.open(QIODevice::WriteOnly);
    {
        QSvgGenerator generator;
        generator.setOutputDevice(&svg);
        generator.setSize(QSize(696, 237));
        generator.setViewBox(QRect(0, 0, 696, 237));
        QPainter painter(&generator);
        chart.DrawChart(painter, QRect(0, 0, 696, 237));
    }
    QSvgRenderer renderer(svg.data());
    ASSERT_TRUE(renderer.isValid());
    QImage fromSvg(696, 237, QImage::Format_RGB32);
    fromSvg.fill(Qt::white);
    {
        QPainter painter(&fromSvg);
        renderer.render(&painter, QRectF(0, 0, 696, 237));
    }
    const int mid = (r.Top + r.Bottom) / 2;
    EXPECT_EQ(At(fromSvg, r.Left, mid), At(raster, r.Left, mid));
    EXPECT_EQ(At(fromSvg, r.Left, mid), Blue);
    EXPECT_EQ(At(fromSvg, chart.Series().BarRectangle(31).Left, mid), Green);

    QTemporaryDir dir;
    QFile pdf(dir.filePath("chart.pdf"));
    ASSERT_TRUE(pdf.open(QIODevice::WriteOnly));
    {
        QPdfWriter writer(&pdf);
        writer.setResolution(96);
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter(&writer);
        chart.DrawChart(painter, QRect(0, 0, 696, 237));
    }
    pdf.close();
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_EQ(pdf.read(4), "%PDF");
    EXPECT_GT(pdf.size(), 2000);
    pdf.close();
    // Read back from outside at the drawing's resolution: the page's
    // top-left corner shows what the raster shows, bars and background.
    if (QStandardPaths::findExecutable("pdftoppm").isEmpty())
        GTEST_SKIP() << "pdftoppm missing";
    QProcess::execute("pdftoppm", {"-r", "96", "-png", "-singlefile", "-W", "696", "-H", "237",
                                   pdf.fileName(), dir.filePath("page")});
    const QImage page = QImage(dir.filePath("page.png")).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(page.size(), QSize(696, 237));
    const int silent = chart.Series().BarRectangle(40).Left;
    const int bar31 = chart.Series().BarRectangle(31).Left;
    const int leftOfPlot = chart.LastGeometry().Plot.Left - 2;
    for (const QPoint p : {QPoint(r.Left, mid), QPoint(bar31, mid), QPoint(r.Left, r.Top - 3),
                           QPoint(silent, mid), QPoint(leftOfPlot, mid)}) {
        const QColor c = At(page, p.x(), p.y());
        const QColor expected = At(raster, p.x(), p.y());
        EXPECT_LE(std::abs(c.red() - expected.red()) + std::abs(c.green() - expected.green()) +
                      std::abs(c.blue() - expected.blue()), 6) << p.x() << ',' << p.y();
    }
}

// A notice is part of the one drawing, so every picture of the chart says
// it: written over the plot's top left on a white box framed in dark red,
// above the bars, and gone again once cleared.
TEST_F(ChartPaint, ANoticeIsDrawnOverThePlotInEveryPicture)
{
    FillKnown(chart);
    const QImage plain = Draw(chart);
    const TWinRect plot = chart.LastGeometry().Plot;
    const QColor Ink(160, 0, 0);
    const auto inkIn = [&](const QImage& image, const QRect& area) {
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                count += image.pixelColor(x, y) == Ink;
        return count;
    };
    const QRect corner(plot.Left, plot.Top, plot.Width() / 2, plot.Height() / 3);
    EXPECT_EQ(inkIn(plain, corner), 0);

    chart.SetNotice(QStringLiteral("20:15:03  The router did not accept the password"));
    const struct {
        const char* size;
        QSize image;
    } cases[] = {{"the window's", {696, 237}}, {"a larger picture", {1000, 400}}, {"a narrow one", {320, 237}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        const QImage noticed = Draw(chart, c.image.width(), c.image.height());
        const TWinRect p = chart.LastGeometry().Plot;
        const QRect top(p.Left, p.Top, p.Width(), std::min(p.Height(), 60));
        EXPECT_GT(inkIn(noticed, top), 150); // frame and letters
        // The box's white covers the bars under it; the box stays inside the plot.
        EXPECT_EQ(noticed.pixelColor(p.Left + 3, p.Top + 8), White);
        EXPECT_EQ(inkIn(noticed, QRect(0, 0, p.Left, noticed.height())), 0);
        EXPECT_EQ(inkIn(noticed, QRect(0, p.Bottom + 1, noticed.width(), noticed.height() - p.Bottom - 1)), 0);
    }
    chart.SetNotice(QString());
    EXPECT_EQ(Draw(chart), plain);
}

TEST_F(ChartPaint, DrawingRespectsThePaintersClip)
{
    FillKnown(chart);
    Draw(chart); // where the bars go
    QImage image(696, 237, QImage::Format_RGB32);
    image.fill(Qt::white);
    const TWinRect r = chart.Series().BarRectangle(100);
    {
        QPainter painter(&image);
        painter.setClipRect(QRect(0, 0, r.Left, 237));
        chart.DrawChart(painter, QRect(0, 0, 696, 237));
    }
    EXPECT_EQ(At(image, r.Left, (r.Top + r.Bottom) / 2), White);
    EXPECT_EQ(At(image, chart.Series().BarRectangle(32).Left, (r.Top + r.Bottom) / 2), Blue);
}

// ---------------------------------------------------------------------------

class TCountingChart : public TChart {
public:
    int Drawings = 0;
    void DrawChart(QPainter& painter, const QRect& rect) override
    {
        ++Drawings;
        TChart::DrawChart(painter, rect);
    }
};

// Runs events until done() or a generous deadline.
bool ProcessUntil(const std::function<bool()>& done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}

// Runs everything that is pending, several rounds over.
void Settle()
{
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

class ChartWidget : public ::testing::Test {
protected:
    void SetUp() override
    {
        LoadChart21Settings(chart);
        chart.setGeometry(40, 30, 696, 237);
        chart.show();
        ASSERT_TRUE(ProcessUntil([this] { return chart.Drawings > 0; }));
        Settle();
    }
    TAppFirst app;
    TCountingChart chart;
};

TEST_F(ChartWidget, OneCycleOfAppendsIsOneDrawing)
{
    const struct { double maximum; int first, last; } ranges[] = {
        {512, 0, 512}, {255, 0, 255}, {256, 256, 512},
    };
    for (const auto& range : ranges) {
        chart.Drawings = 0;
        chart.BottomAxis().SetMaximum(range.maximum);
        chart.Series().ClearPoints();
        for (int tone = range.first; tone <= range.last; ++tone)
            chart.Series().AppendBar(KnownBits(tone), QString::number(tone), tone < 32 ? clGreen : clBlue);
        EXPECT_EQ(chart.Drawings, 0); // nothing drawn while appending
        ASSERT_TRUE(ProcessUntil([this] { return chart.Drawings > 0; }));
        Settle();
        EXPECT_EQ(chart.Drawings, 1) << range.maximum;
    }
}

TEST_F(ChartWidget, PointerSearchUsesTheSystemCursor)
{
    FillKnown(chart);
    chart.Drawings = 0;
    ASSERT_TRUE(ProcessUntil([this] { return chart.Drawings > 0; }));
    const TWinRect r = chart.Series().BarRectangle(100);
    const struct { QPoint at; int index; } cases[] = {
        {{r.Left, (r.Top + r.Bottom) / 2}, 100},
        {{r.Right, r.Top}, 100},
        {{r.Right + 1, r.Top}, -1},
        {{r.Left, r.Top - 1}, -1},
    };
    for (const auto& c : cases) {
        QCursor::setPos(chart.mapToGlobal(c.at));
        if (chart.mapFromGlobal(QCursor::pos()) != c.at)
            GTEST_SKIP() << "this platform does not move the pointer";
        EXPECT_EQ(chart.Series().PointIndexAtCursor(), c.index) << c.at.x() << "," << c.at.y();
    }
}

TEST_F(ChartWidget, MouseMoveAndLeaveSignals)
{
    EXPECT_TRUE(chart.hasMouseTracking());
    std::vector<std::tuple<Qt::KeyboardModifiers, int, int>> moves;
    int leaves = 0;
    QObject::connect(&chart, &TChart::MouseMove, [&](Qt::KeyboardModifiers shift, int x, int y) {
        moves.emplace_back(shift, x, y);
        // The chart's own cursor is back to its initial one by now.
        EXPECT_EQ(chart.cursor().shape(), Qt::ArrowCursor);
    });
    QObject::connect(&chart, &TChart::MouseLeave, [&] { ++leaves; });
    chart.setCursor(Qt::CrossCursor);
    const struct { QPoint at; Qt::KeyboardModifiers shift; } cases[] = {
        {{10, 20}, Qt::NoModifier}, {{695, 236}, Qt::ShiftModifier | Qt::ControlModifier},
    };
    for (const auto& c : cases) {
        QMouseEvent move(QEvent::MouseMove, QPointF(c.at), chart.mapToGlobal(QPointF(c.at)), Qt::NoButton,
                         Qt::NoButton, c.shift);
        QApplication::sendEvent(&chart, &move);
    }
    ASSERT_EQ(moves.size(), std::size(cases));
    for (std::size_t i = 0; i < moves.size(); ++i) {
        EXPECT_EQ(std::get<0>(moves[i]), cases[i].shift);
        EXPECT_EQ(std::get<1>(moves[i]), cases[i].at.x());
        EXPECT_EQ(std::get<2>(moves[i]), cases[i].at.y());
    }
    EXPECT_EQ(leaves, 0);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&chart, &leave);
    EXPECT_EQ(leaves, 1);
}

} // namespace

namespace {

TEST(ChartSettings, LoadingSkipsTheMaximumCheckAndUsesTheRealFont)
{
    App();
    TChart chart;
    // A minimum left over above the stored maximum must not stop loading.
    chart.BottomAxis().SetMaximum(1000);
    chart.BottomAxis().SetMinimum(600);
    EXPECT_NO_THROW(LoadChart21Settings(chart));
    EXPECT_DOUBLE_EQ(chart.BottomAxis().Minimum(), 5);
    EXPECT_DOUBLE_EQ(chart.BottomAxis().Maximum(), 512);
    // After loading the check is back.
    EXPECT_THROW(chart.BottomAxis().SetMaximum(4), AxisException);
    EXPECT_DOUBLE_EQ(chart.BottomAxis().Maximum(), 512);

    // The title band is one line of the 11-pixel Arial (Liberation Sans) plus 5.
    QFont arial(QStringLiteral("Arial"));
    arial.setPixelSize(11);
    const QFontMetrics fm(arial);
    Draw(chart);
    const TChartGeometry& g = chart.LastGeometry();
    EXPECT_EQ(g.Plot.Top, fm.height() + 5);
    EXPECT_EQ(g.Bottom.Position, 237 - fm.height() - 29 - 2);
    EXPECT_EQ(g.Left.LabelPosition - g.Left.TitlePosition,
              fm.horizontalAdvance(QStringLiteral("16")) + fm.horizontalAdvance(QStringLiteral(" ")));
    EXPECT_EQ(chart.BackColor(), clWhite);
}

} // namespace

namespace {

// A line of 4096 tones on a chart 696 pixels wide: every pixel column holds
// several tones. Most load 12 bits; a one-tone notch (0 bits), a two-tone
// dip to 4 and one 15-bit spike stand among them; tones below 32 green.
// A column's highest shows, paler above where its lowest ends.
TEST_F(ChartPaint, LongLinesShowEachColumnsHighestPalerAboveItsLowest)
{
    const int tones = 4096;
    const QColor paleBlue(127, 127, 255);
    const struct {
        const char* name;
        int tone;      // the odd tone
        double bits;   // its bits
        bool marked;   // the column has a lower tone than its highest
        bool spike;    // the column's highest is this tone
    } cases[] = {
        {"notch", 1500, 0, true, false},
        {"dip", 2500, 4, true, false},
        {"spike", 3000, 15, true, true},
        {"plain", 3500, 12, false, false},
    };
    chart.BottomAxis().SetMaximum(tones - 1);
    chart.Series().ClearPoints();
    for (int tone = 0; tone < tones; ++tone) {
        double bits = 12;
        for (const auto& c : cases)
            if (tone == c.tone || (std::string(c.name) == "dip" && tone == c.tone + 1))
                bits = c.bits;
        chart.Series().AppendBar(bits, QString::number(tone), tone < 32 ? clGreen : clBlue);
    }
    const QImage image = Draw(chart);
    const TBarSeries& series = chart.Series();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TWinRect odd = series.BarRectangle(c.tone);
        const TWinRect usual = series.BarRectangle(c.tone + 8 < tones ? c.tone - 8 : c.tone);
        const int column = odd.Left;
        // The column's top is the highest of its tones, in its colour.
        const int top = c.spike ? odd.Top : usual.Top;
        EXPECT_EQ(At(image, column, top), c.marked ? paleBlue : Blue);
        EXPECT_EQ(At(image, column, top - 1), White);
        // Full colour from where the lowest tone's bar ends, paler above.
        if (c.marked && !c.spike) {
            const int lowEnd = std::min(odd.Top, odd.Bottom - 1);
            EXPECT_EQ(At(image, column, lowEnd), Blue);
            EXPECT_EQ(At(image, column, lowEnd - 1), paleBlue);
        }
        if (!c.marked) {
            for (int y = top; y < usual.Bottom; ++y)
                ASSERT_EQ(At(image, column, y), Blue) << y;
        }
    }
    // Green where the upstream tones stand.
    EXPECT_EQ(At(image, series.BarRectangle(20).Left, series.BarRectangle(20).Top), Green);
}

} // namespace

namespace {

// Long lines of many shapes drawn as the chart draws them must show, pixel
// for pixel, what filling each column on its own shows: per column of bars
// (found here from each bar's own rectangle) its highest in its colour from
// the zero line, half way to white above where its lowest ends.
TEST_F(ChartPaint, LongLinesDrawExactlyTheirColumns)
{
    const struct {
        const char* name;
        int tones, width, height;
        std::function<double(int)> bits;
        std::function<TColor(int)> color;
    } cases[] = {
        {"random bits", 4096, 696, 237, [](int t) { return double((t * 7919 + t / 13) % 16); },
         [](int t) { return t < 32 ? clGreen : clBlue; }},
        {"stairs up and down", 4096, 696, 237, [](int t) { return double(std::abs(t % 600 - 300) / 20); },
         [](int t) { return t < 32 ? clGreen : clBlue; }},
        {"silent stretches", 8192, 900, 300, [](int t) { return (t / 500) % 2 ? 0.0 : double(3 + t % 11); },
         [](int t) { return t < 32 ? clGreen : clBlue; }},
        {"bands alternate", 4096, 696, 237, [](int t) { return double(8 + (t / 3) % 5); },
         [](int t) { return (t / 700) % 2 ? clGreen : clBlue; }},
        {"some bars undrawn", 2048, 400, 200, [](int t) { return double(t % 14); },
         [](int t) { return t % 5 == 0 ? clNone : clBlue; }},
        {"values past the axis", 3000, 500, 237, [](int t) { return double(t % 40); },
         [](int t) { return t < 32 ? clGreen : clBlue; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        chart.BottomAxis().SetMaximum(c.tones - 1);
        chart.Series().ClearPoints();
        for (int tone = 0; tone < c.tones; ++tone)
            chart.Series().AppendBar(c.bits(tone), QString::number(tone), c.color(tone));
        const QImage drawn = Draw(chart, c.width, c.height);
        ASSERT_FALSE(chart.LastGeometry().Columns.empty());

        // The same chart without bars, and the columns filled on it.
        TBarSeries& series = chart.Series();
        const TWinRect p = chart.LastGeometry().Plot;
        struct Column {
            int x, highest, lowest;
        };
        std::vector<Column> columns;
        for (int i = 0; i < series.Count(); ++i) {
            if (series.ValueColor(i) == clNone)
                continue;
            const int x = series.BarRectangle(i).Left;
            const double y = series.YValues().Value(i);
            if (columns.empty() || columns.back().x != x)
                columns.push_back({x, i, i});
            Column& col = columns.back();
            if (y > series.YValues().Value(col.highest))
                col.highest = i;
            if (y < series.YValues().Value(col.lowest))
                col.lowest = i;
        }
        std::vector<TColor> colors;
        for (int i = 0; i < series.Count(); ++i)
            colors.push_back(series.ValueColor(i));
        chart.Series().ClearPoints();
        for (int tone = 0; tone < c.tones; ++tone)
            chart.Series().AppendBar(c.bits(tone), QString::number(tone), clNone);
        QImage expected = Draw(chart, c.width, c.height);
        {
            QPainter painter(&expected);
            painter.setClipRect(QRect(p.Left + 1, p.Top + 1, p.Width() - 1, p.Height() - 2));
            for (const Column& col : columns) {
                const TWinRect high = series.BarRectangle(col.highest);
                const QColor color = ToQColor(colors[std::size_t(col.highest)]);
                painter.fillRect(QRect(col.x, high.Top, 1, std::max(1, high.Bottom - high.Top)), color);
                const TWinRect low = series.BarRectangle(col.lowest);
                const int lowEnd = std::min(low.Top, low.Bottom - 1);
                if (series.YValues().Value(col.lowest) < series.YValues().Value(col.highest) && lowEnd > high.Top)
                    painter.fillRect(QRect(col.x, high.Top, 1, lowEnd - high.Top),
                        QColor((color.red() + 255) / 2, (color.green() + 255) / 2, (color.blue() + 255) / 2));
            }
        }
        int differing = 0;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                differing += drawn.pixel(x, y) != expected.pixel(x, y);
        EXPECT_EQ(differing, 0);
    }
}

} // namespace
