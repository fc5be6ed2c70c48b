// The copy as another program sees it: a private X server (Xvfb) started
// for this binary, the copy made through Qt's X11 clipboard, read back by
// xclip, the SVG drawn by rsvg-convert and the PNG decoded as it came.
// Skips when Xvfb or the tools are missing.
#include "support/test_chart.h"
#include "support/test_main.h"

#include "output/clipboard.h"
#include "output/chart_pictures.h"

#include <QApplication>
#include <QClipboard>
#include <QEventLoop>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>

namespace {

bool HaveX = false;

struct TToolResult {
    bool Finished = false;
    int ExitCode = -1;
    QByteArray Output;
};

// Runs a tool while our event loop keeps going: the tool's request for the
// clipboard is answered by this very process.
TToolResult RunTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    process.start(program, arguments);
    if (process.state() != QProcess::NotRunning || process.error() == QProcess::UnknownError)
        loop.exec();
    TToolResult result;
    result.Finished = process.state() == QProcess::NotRunning && process.exitStatus() == QProcess::NormalExit;
    if (!result.Finished) {
        process.kill();
        process.waitForFinished(5000);
        return result;
    }
    result.ExitCode = process.exitCode();
    result.Output = process.readAllStandardOutput();
    return result;
}

class X11ClipboardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveX)
            GTEST_SKIP() << "no X server (Xvfb) available";
        for (const char* tool : {"xclip", "rsvg-convert"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                GTEST_SKIP() << tool << " missing";
    }

    static QByteArray ReadClipboard(const char* target)
    {
        const TToolResult r = RunTool("xclip", {"-selection", "clipboard", "-t", target, "-o"});
        EXPECT_TRUE(r.Finished);
        EXPECT_EQ(r.ExitCode, 0);
        return r.Output;
    }
};

} // namespace

TEST_F(X11ClipboardTest, AnotherProgramReadsAndRendersTheChart)
{
    TTestChart chart;
    CopyChartToClipboard(chart, true);

    const QList<QByteArray> targets = ReadClipboard("TARGETS").split('\n');
    EXPECT_TRUE(targets.contains(SvgMimeType));
    EXPECT_TRUE(targets.contains(PngMimeType));
    // Our one picture; no text was offered beside it.
    EXPECT_FALSE(targets.contains("UTF8_STRING"));
    EXPECT_FALSE(targets.contains("text/plain"));

    const QByteArray svg = ReadClipboard(SvgMimeType);
    ASSERT_TRUE(svg.contains("<svg"));
    EXPECT_TRUE(svg.contains("viewBox=\"0 0 695 236\""));

    QTemporaryDir dir;
    QFile file(dir.filePath("chart.svg"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(svg);
    file.close();
    const TToolResult render =
        RunTool("rsvg-convert", {"-w", "695", "-h", "236", "-o", dir.filePath("chart.png"), dir.filePath("chart.svg")});
    ASSERT_TRUE(render.Finished);
    ASSERT_EQ(render.ExitCode, 0);
    const QImage png(dir.filePath("chart.png"));
    ASSERT_EQ(png.size(), QSize(695, 236));
    if (qEnvironmentVariableIsSet("TIRVANE_KEEP_PICTURES"))
        png.save(qEnvironmentVariable("TIRVANE_KEEP_PICTURES") + "/clipboard_chart.png");
    const QRect r = chart.GetChartRectangle();
    for (const auto& c : TTestChart::KnownPixels(r))
        EXPECT_EQ(png.pixel(c.Where) | 0xFF000000U, c.Expected) << c.Name;
}

TEST_F(X11ClipboardTest, ACopyReplacesTextAndTheEarlierCopy)
{
    // Another program owns the clipboard with text first. The tool's first
    // process may end before the server has heard its claim (the copy that
    // stays behind makes it), so what counts is the change of owner the
    // server reports, not the end of that process: a claim arriving after
    // our copies would take the clipboard back from them.
    bool taken = false;
    QEventLoop loop;
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::changed, &loop, [&](QClipboard::Mode mode) {
        taken = taken || mode == QClipboard::Clipboard;
        if (taken)
            loop.quit();
    });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    QProcess other;
    other.start("xclip", {"-selection", "clipboard", "-i"});
    ASSERT_TRUE(other.waitForStarted(10000));
    other.write("text from another program");
    other.closeWriteChannel();
    if (!taken)
        loop.exec();
    ASSERT_TRUE(taken) << "the other program never took the clipboard";
    other.waitForFinished(10000);
    EXPECT_EQ(ReadClipboard("UTF8_STRING"), QByteArray("text from another program"));

    TTestChart first(300, 100);
    CopyChartToClipboard(first, true);
    TTestChart second(500, 200);
    CopyChartToClipboard(second, true);
    EXPECT_TRUE(ReadClipboard(SvgMimeType).contains("viewBox=\"0 0 499 199\""));
    EXPECT_EQ(QImage::fromData(ReadClipboard(PngMimeType), "PNG").size(), QSize(499, 199));
    const QList<QByteArray> targets = ReadClipboard("TARGETS").split('\n');
    EXPECT_FALSE(targets.contains("UTF8_STRING"));
}

// A program that pastes no SVG asks for the PNG: it gets the chart's pixels.
TEST_F(X11ClipboardTest, AnotherProgramReadsThePng)
{
    const QSize sizes[] = {{696, 237}, {420, 150}};
    for (const QSize size : sizes) {
        SCOPED_TRACE(size.width());
        TTestChart chart(size.width(), size.height());
        CopyChartToClipboard(chart, true);
        const QImage png = QImage::fromData(ReadClipboard(PngMimeType), "PNG");
        // One pixel smaller each way, as the vector picture.
        ASSERT_EQ(png.size(), size - QSize(1, 1));
        for (const auto& c : TTestChart::KnownPixels(chart.GetChartRectangle()))
            EXPECT_EQ(png.pixel(c.Where) | 0xFF000000U, c.Expected) << c.Name;
        // The black frame at the edge, smoothed but plainly dark.
        EXPECT_LT(qGray(png.pixel(0, size.height() / 2)), 160);
    }
}

TTestMain TestMainSetUp()
{
    TTestMain setUp;
    setUp.Screen = TTestMain::XServerIfAny;
    setUp.ScreenWidth = 1024;
    setUp.ScreenHeight = 768;
    setUp.MakeApplication = MakeTestApplication<QApplication>;
    setUp.AfterApplication = [] { HaveX = !TestScreenName().empty(); };
    return setUp;
}
