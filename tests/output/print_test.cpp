// Printing: the whole-number enlargement and its place on the page, the
// job rules (one job at a time, no default printer, invalid printer), a PDF
// printer of known resolution read back with pdftoppm, and a real job
// through the CUPS spooler with its PDF printer (TIRVANE_CUPS_PDF_DIR names
// the folder it writes to; the test skips without it).
#include "support/qt_print.h"
#include "support/real_test_chart.h"
#include "support/test_chart.h"

#include "chart/chart.h"
#include "output/chart_commands.h"
#include "output/print_layout.h"
#include "output/printer.h"
#include "output/printer_setup_dialog.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPrintDialog>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <set>

namespace {

TPrinterSettings Named(const QString& name)
{
    TPrinterSettings settings;
    settings.PrinterName = name;
    return settings;
}

// A printer that prints onto a picture of a page with any resolution per
// axis, so a page can be checked pixel by pixel.
class TPicturePrinterSystem : public TPrinterSystem {
public:
    TPicturePrinterSystem(int dpiX, int dpiY, QSize page) : FDpiX(dpiX), FDpiY(dpiY), FPage(page) {}

    QString DefaultPrinterName() override { return DefaultName; }
    std::unique_ptr<QPaintDevice> OpenPrinter(const TPrinterSettings& settings, const QString& documentName) override
    {
        ++Opens;
        OpenedName = settings.PrinterName;
        DocumentName = documentName;
        if (Invalid)
            return nullptr;
        auto page = std::make_unique<QImage>(FPage, QImage::Format_RGB32);
        page->fill(Qt::white);
        page->setDotsPerMeterX(qRound(FDpiX / 0.0254));
        page->setDotsPerMeterY(qRound(FDpiY / 0.0254));
        return page;
    }

    QString DefaultName = "Picture";
    bool Invalid = false;
    int Opens = 0;
    QString OpenedName;
    QString DocumentName = "unset";

private:
    int FDpiX;
    int FDpiY;
    QSize FPage;
};

QImage PrintedPage(TPrinter& printer)
{
    return *static_cast<QImage*>(printer.Handle());
}

std::string PrintError(TChartPanel& chart, TPrinter& printer)
{
    try {
        PrintChart(chart, printer);
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

// The box holding every pixel that is not (nearly) white.
QRect InkBox(const QImage& page)
{
    int left = page.width(), top = page.height(), right = -1, bottom = -1;
    for (int y = 0; y < page.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(page.constScanLine(y));
        for (int x = 0; x < page.width(); ++x)
            if (qGray(line[x]) < 235) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

int PdfPages(const QString& pdf)
{
    QProcess info;
    info.start("pdfinfo", {pdf});
    if (!info.waitForFinished(60000))
        return -1;
    for (const QByteArray& line : info.readAllStandardOutput().split('\n'))
        if (line.startsWith("Pages:"))
            return line.mid(6).trimmed().toInt();
    return -1;
}

// Renders the first page, or only its top-left part when crop is given.
QImage RenderPdf(const QString& pdf, int dpi, const QString& outputStem, QSize crop = QSize())
{
    QStringList arguments{"-r", QString::number(dpi), "-png", "-singlefile"};
    if (crop.isValid())
        arguments << "-x" << "0" << "-y" << "0" << "-W" << QString::number(crop.width()) << "-H"
                  << QString::number(crop.height());
    QProcess render;
    render.start("pdftoppm", arguments << pdf << outputStem);
    if (!render.waitForFinished(120000) || render.exitCode() != 0)
        return QImage();
    return QImage(outputStem + ".png").convertToFormat(QImage::Format_RGB32);
}

} // namespace

// ---------------------------------------------------------- the numbers

TEST(PrintScale, WholeNumberFactorsFromThePrinterToTheWindow)
{
    const struct {
        int PrinterX, PrinterY, Window, X, Y;
        QSize Target; // of a 696 x 237 snapshot
    } cases[] = {
        {300, 300, 96, 3, 3, {2088, 711}},     // not 3.125
        {600, 600, 96, 6, 6, {4176, 1422}},    // not 6.25
        {1200, 1200, 96, 12, 12, {8352, 2844}}, // not 12.5
        {360, 360, 96, 3, 3, {2088, 711}},     // not 3.75
        {600, 1200, 96, 6, 12, {4176, 2844}},
        {600, 600, 120, 5, 5, {3480, 1185}},
        {72, 72, 96, 0, 0, {0, 0}},            // coarser than the screen
        {600, 600, 0, 0, 0, {0, 0}},
    };
    for (const auto& c : cases) {
        const TPrintScale scale = PrintScaleFactors(c.PrinterX, c.PrinterY, c.Window);
        EXPECT_EQ(scale.X, c.X) << c.PrinterX << " at " << c.Window;
        EXPECT_EQ(scale.Y, c.Y) << c.PrinterY << " at " << c.Window;
        EXPECT_EQ(PrintTargetRect(QSize(696, 237), scale), QRect(QPoint(0, 0), c.Target));
    }
}

// ------------------------------------------------------------- the page

TEST(Print, SnapshotLandsEnlargedByWholeFactorsAtTheTopLeft)
{
    TPicturePrinterSystem system(600, 1200, QSize(4400, 3000));
    TPrinter printer(system);
    TTestChart chart;
    PrintChart(chart, printer);
    EXPECT_FALSE(printer.Printing());
    EXPECT_EQ(system.Opens, 1);
    EXPECT_EQ(system.DocumentName, "");
    const QImage page = PrintedPage(printer);
    const int window = WindowPixelsPerInch(chart);
    const int sx = 600 / window;
    const int sy = 1200 / window;
    ASSERT_GT(sx, 0);
    // The frame's corner pixel becomes an sx by sy block at (0, 0).
    EXPECT_EQ(page.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(page.pixel(sx - 1, sy - 1), qRgb(0, 0, 0));
    EXPECT_EQ(page.pixel(sx, sy), qRgb(255, 255, 255));
    // The picture ends exactly at 696 sx by 237 sy.
    EXPECT_EQ(InkBox(page), QRect(0, 0, 696 * sx, 237 * sy));
    const QRect r = chart.GetChartRectangle();
    const QPoint up = TTestChart::UpstreamBar(r).center();
    const QPoint down = TTestChart::DownstreamBar(r).center();
    EXPECT_EQ(page.pixel(up.x() * sx, up.y() * sy), TTestChart::Upstream);
    EXPECT_EQ(page.pixel(down.x() * sx, down.y() * sy), TTestChart::Downstream);
}

TEST(Print, APrinterCoarserThanTheScreenPrintsAnEmptyPage)
{
    TPicturePrinterSystem system(72, 72, QSize(600, 800));
    TPrinter printer(system);
    TTestChart chart;
    PrintChart(chart, printer);
    EXPECT_FALSE(printer.Printing());
    EXPECT_EQ(InkBox(PrintedPage(printer)), QRect());
}

struct JobErrorCase {
    const char* Name;
    QString DefaultName;
    bool Invalid;
    const char* Message;
    int Opens;
};

class PrintJobErrorTest : public ::testing::TestWithParam<JobErrorCase> {};

TEST_P(PrintJobErrorTest, ReportsAndStartsNoJob)
{
    TPicturePrinterSystem system(600, 600, QSize(100, 100));
    system.DefaultName = GetParam().DefaultName;
    system.Invalid = GetParam().Invalid;
    TPrinter printer(system);
    TTestChart chart;
    EXPECT_EQ(PrintError(chart, printer), GetParam().Message);
    EXPECT_EQ(system.Opens, GetParam().Opens);
    EXPECT_FALSE(printer.Printing());
    EXPECT_EQ(chart.Draws, 1); // the snapshot came first
    EXPECT_TRUE(chart.BufferedPaint());
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, PrintJobErrorTest,
    ::testing::Values(JobErrorCase{"NoDefaultPrinter", "", false,
                                   "There is no default printer currently selected", 0},
                      JobErrorCase{"InvalidPrinter", "Broken", true, "Printer selected is not valid", 1}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Print, APrintDuringAJobIsRefusedAndTheJobCarriesOn)
{
    TPicturePrinterSystem system(600, 600, QSize(4500, 1500));
    TPrinter printer(system);
    TTestChart chart;
    std::string nested;
    std::string setup;
    printer.AbortProc = [&] {
        // What a click during the spooler's call-back would do.
        nested = PrintError(chart, printer);
        try {
            printer.SetPrinter(Named("Other"));
        } catch (const EPrinter& error) {
            setup = error.what();
        }
        EXPECT_EQ(printer.PageNumber(), 1);
        return true;
    };
    PrintChart(chart, printer);
    EXPECT_EQ(nested, "Printing in progress");
    EXPECT_EQ(setup, "Printing in progress");
    EXPECT_EQ(system.Opens, 1);
    EXPECT_EQ(printer.Current().PrinterName, "Picture");
    EXPECT_EQ(InkBox(PrintedPage(printer)), QRect(0, 0, 696 * 6, 237 * 6));
    EXPECT_FALSE(printer.Printing());
    EXPECT_EQ(printer.PageNumber(), 0);
}

TEST(Print, EndingAJobThatIsNotOpenIsAnError)
{
    TPicturePrinterSystem system(600, 600, QSize(10, 10));
    TPrinter printer(system);
    try {
        printer.EndDoc();
        ADD_FAILURE() << "ended a job that was never begun";
    } catch (const EPrinter& error) {
        EXPECT_STREQ(error.what(), "Printer is not currently printing");
    }
}

TEST(Print, TheNextJobGoesToTheChosenPrinter)
{
    TPicturePrinterSystem system(600, 600, QSize(100, 100));
    TPrinter printer(system);
    TTestChart chart(10, 10);
    PrintChart(chart, printer);
    EXPECT_EQ(system.OpenedName, "Picture");
    printer.SetPrinter(Named("Second"));
    PrintChart(chart, printer);
    EXPECT_EQ(system.OpenedName, "Second");
}

TEST(PrinterSetup, NoPrinterFailsBeforeAnyDialogAndCancelChangesNothing)
{
    TPicturePrinterSystem none(600, 600, QSize(10, 10));
    none.DefaultName = "";
    TPrinter empty(none);
    TPrinterSetupDialog noDialog(empty, nullptr);
    int dialogsSeen = 0;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            ++dialogsSeen;
            qobject_cast<QDialog*>(modal)->reject();
        }
    });
    watcher.start(50);
    try {
        noDialog.Execute();
        ADD_FAILURE() << "set-up ran without a printer";
    } catch (const EPrinter& error) {
        EXPECT_STREQ(error.what(), "There is no default printer currently selected");
    }
    EXPECT_EQ(dialogsSeen, 0);

    TPicturePrinterSystem system(600, 600, QSize(10, 10));
    TPrinter printer(system);
    TPrinterSetupDialog setup(printer, nullptr);
    EXPECT_FALSE(setup.Execute());
    EXPECT_EQ(dialogsSeen, 1);
    EXPECT_EQ(printer.Current().PrinterName, "Picture");
}

// --------------------------------------------------- through a PDF file

TEST(PrintPdf, A600DotPrinterGetsTheChartAs4176By1422DotsAtTheTopLeft)
{
    if (QStandardPaths::findExecutable("pdftoppm").isEmpty())
        GTEST_SKIP() << "pdftoppm missing";
    QTemporaryDir dir;
    const QString pdf = dir.filePath("chart.pdf");
    TPdfPrinterSystem system(pdf, 600);
    TPrinter printer(system);
    TTestChart chart;
    ASSERT_EQ(WindowPixelsPerInch(chart), 96) << "the 4176 x 1422 figure assumes a 96 ppi window";
    PrintChart(chart, printer);
    auto* qprinter = dynamic_cast<QPrinter*>(printer.Handle());
    ASSERT_NE(qprinter, nullptr);
    EXPECT_EQ(qprinter->docName(), "");
    const QPoint printable = qprinter->pageRect(QPrinter::DevicePixel).topLeft().toPoint() -
                             qprinter->paperRect(QPrinter::DevicePixel).topLeft().toPoint();
    EXPECT_EQ(PdfPages(pdf), 1);
    // The top of the page is enough, and a whole page at 600 dpi is big.
    const QImage page = RenderPdf(pdf, 600, dir.filePath("page"), QSize(4800, 2000));
    ASSERT_FALSE(page.isNull());
    if (qEnvironmentVariableIsSet("TIRVANE_KEEP_PICTURES"))
        page.save(qEnvironmentVariable("TIRVANE_KEEP_PICTURES") + "/printed_pdf_page.png");
    const QRect ink = InkBox(page);
    // One dot of slack for the renderer's edges.
    EXPECT_NEAR(ink.left(), printable.x(), 1);
    EXPECT_NEAR(ink.top(), printable.y(), 1);
    EXPECT_NEAR(ink.width(), 4176, 2);
    EXPECT_NEAR(ink.height(), 1422, 2);
    const QPoint up = TTestChart::UpstreamBar(chart.GetChartRectangle()).center() * 6 + printable;
    const QRgb green = page.pixel(up);
    EXPECT_LE(qRed(green), 3);
    EXPECT_NEAR(qGreen(green), 128, 3);
    EXPECT_LE(qBlue(green), 3);
}

TEST(PrintPdf, RealChartPrints)
{
    if (QStandardPaths::findExecutable("pdftoppm").isEmpty())
        GTEST_SKIP() << "pdftoppm missing";
    QTemporaryDir dir;
    const QString pdf = dir.filePath("real.pdf");
    TPdfPrinterSystem system(pdf, 300);
    TPrinter printer(system);
    TChart chart;
    LoadRealTestChart(chart);
    PrintChart(chart, printer);
    EXPECT_EQ(PdfPages(pdf), 1);
    const QImage page = RenderPdf(pdf, 300, dir.filePath("page"));
    ASSERT_FALSE(page.isNull());
    if (qEnvironmentVariableIsSet("TIRVANE_KEEP_PICTURES"))
        page.save(qEnvironmentVariable("TIRVANE_KEEP_PICTURES") + "/real_chart_printed.png");
    const QRect ink = InkBox(page);
    EXPECT_NEAR(ink.width(), 696 * 3, 4);
    EXPECT_NEAR(ink.height(), 237 * 3, 4);
}

// ------------------------------------------------- through the spooler

TEST(PrintSpooler, OnePagePdfWithTheChartAtTheTopLeft)
{
    const QString outDir = qEnvironmentVariable("TIRVANE_CUPS_PDF_DIR");
    if (outDir.isEmpty())
        GTEST_SKIP() << "TIRVANE_CUPS_PDF_DIR not set (run scripts/start_cups.sh)";
    TSpoolerPrinterSystem system;
    if (system.DefaultPrinterName().isEmpty())
        GTEST_SKIP() << "the spooler names no default printer";
    std::set<QString> before;
    for (const QString& f : QDir(outDir).entryList({"*.pdf"}, QDir::Files))
        before.insert(f);

    TPrinter printer(system);
    TTestChart chart;
    PrintChart(chart, printer);
    EXPECT_FALSE(printer.Printing());

    // The spooler works on its own time; nothing tells us when the file is
    // complete except its appearing and pdfinfo reading it.
    QString produced;
    QElapsedTimer clock;
    clock.start();
    while (produced.isEmpty() && clock.elapsed() < 120000) {
        for (const QString& f : QDir(outDir).entryList({"*.pdf"}, QDir::Files))
            if (!before.count(f) && PdfPages(QDir(outDir).filePath(f)) > 0)
                produced = QDir(outDir).filePath(f);
        if (produced.isEmpty())
            QThread::msleep(250);
    }
    ASSERT_FALSE(produced.isEmpty()) << "no PDF from the spooler in " << outDir.toStdString();
    EXPECT_EQ(PdfPages(produced), 1);
    QTemporaryDir dir;
    const QImage page = RenderPdf(produced, 150, dir.filePath("spooled"));
    ASSERT_FALSE(page.isNull());
    if (qEnvironmentVariableIsSet("TIRVANE_KEEP_PICTURES"))
        page.save(qEnvironmentVariable("TIRVANE_KEEP_PICTURES") + "/spooled_page.png");
    const QRect ink = InkBox(page);
    // 6.96 x 2.37 inches at 150 dpi, within the page's top-left inch.
    EXPECT_NEAR(ink.width(), 1044, 12);
    EXPECT_NEAR(ink.height(), 356, 6);
    EXPECT_LT(ink.left(), 150);
    EXPECT_LT(ink.top(), 150);
    const QPoint up = TTestChart::UpstreamBar(chart.GetChartRectangle()).center();
    const QRgb green = page.pixel(ink.left() + up.x() * 150 / 96, ink.top() + up.y() * 150 / 96);
    EXPECT_GT(qGreen(green), qRed(green) + 60);
    EXPECT_GT(qGreen(green), qBlue(green) + 60);
    QFile::remove(produced);
}
