#include "output/printer.h"

#include "output/print_layout.h"

#include <QCoreApplication>
#include <QPrinterInfo>

TPrinterSettings SettingsFromQPrinter(const QPrinter& printer)
{
    TPrinterSettings settings;
    settings.PrinterName = printer.printerName();
    settings.PageLayout = printer.pageLayout();
    settings.Copies = printer.copyCount();
    settings.ColorMode = printer.colorMode();
    settings.Duplex = printer.duplex();
    return settings;
}

void ApplySettings(const TPrinterSettings& settings, QPrinter& printer)
{
    printer.setPrinterName(settings.PrinterName);
    if (settings.PageLayout)
        printer.setPageLayout(*settings.PageLayout);
    printer.setCopyCount(settings.Copies);
    printer.setColorMode(settings.ColorMode);
    printer.setDuplex(settings.Duplex);
}

QString TSpoolerPrinterSystem::DefaultPrinterName()
{
    const QString name = QPrinterInfo::defaultPrinterName();
    if (name.isEmpty() || !QPrinterInfo::availablePrinterNames().contains(name))
        return QString();
    return name;
}

std::unique_ptr<QPaintDevice> TSpoolerPrinterSystem::OpenPrinter(const TPrinterSettings& settings,
                                                                 const QString& documentName)
{
    if (!QPrinterInfo::availablePrinterNames().contains(settings.PrinterName))
        return nullptr;
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::NativeFormat);
    ApplySettings(settings, *printer);
    printer->setDocName(documentName);
    if (!printer->isValid() || printer->printerName() != settings.PrinterName)
        return nullptr;
    return printer;
}

std::unique_ptr<QPaintDevice> TPdfPrinterSystem::OpenPrinter(const TPrinterSettings& settings,
                                                             const QString& documentName)
{
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(FOutputFile);
    if (settings.PageLayout)
        printer->setPageLayout(*settings.PageLayout);
    printer->setResolution(FResolution);
    printer->setDocName(documentName);
    return printer;
}

TPrinter::TPrinter(TPrinterSystem& system) : FSystem(system)
{
    AbortProc = [this] {
        QCoreApplication::processEvents();
        return !FAborted;
    };
}

TPrinter::~TPrinter()
{
    if (FCanvas.isActive())
        FCanvas.end();
}

const TPrinterSettings& TPrinter::Current()
{
    if (!FCurrent) {
        const QString name = FSystem.DefaultPrinterName();
        if (name.isEmpty())
            throw EPrinter("There is no default printer currently selected");
        FCurrent = TPrinterSettings{};
        FCurrent->PrinterName = name;
    }
    return *FCurrent;
}

void TPrinter::SetPrinter(const TPrinterSettings& settings)
{
    if (FPrinting)
        throw EPrinter("Printing in progress");
    FDevice.reset();
    FCurrent = settings;
}

void TPrinter::BeginDoc()
{
    if (FPrinting)
        throw EPrinter("Printing in progress");
    const TPrinterSettings& settings = Current();
    // A fresh device per job: a printer device finishes its document when
    // its painter ends and cannot start another.
    FDevice = FSystem.OpenPrinter(settings, Title);
    if (!FDevice)
        throw EPrinter("Printer selected is not valid");
    if (!FCanvas.begin(FDevice.get())) {
        FDevice.reset();
        throw EPrinter("Printer selected is not valid");
    }
    FPrinting = true;
    FAborted = false;
    FPageNumber = 1;
}

void TPrinter::EndDoc()
{
    if (!FPrinting)
        throw EPrinter("Printer is not currently printing");
    // The spooler's call-back while the job is produced: pending window
    // messages run here, and a nested Print meets "Printing in progress".
    if (AbortProc && !AbortProc())
        FAborted = true;
    if (FAborted) {
        if (auto* printer = dynamic_cast<QPrinter*>(FDevice.get()))
            printer->abort();
    }
    if (FCanvas.isActive())
        FCanvas.end();
    FPrinting = false;
    FAborted = false;
    FPageNumber = 0;
}

TPrinter& Printer()
{
    static TSpoolerPrinterSystem system;
    static TPrinter printer(system);
    return printer;
}

void PrintSnapshot(TPrinter& printer, const QImage& snapshot, int windowDpi)
{
    printer.BeginDoc();
    // Ends the job on every path from here on; the job was begun by us, so
    // ending it cannot meet "not currently printing".
    struct TJobEnd {
        TPrinter& P;
        ~TJobEnd()
        {
            try {
                if (P.Printing())
                    P.EndDoc();
            } catch (...) {
                // Ending a job we began has nothing left to report.
            }
        }
    } jobEnd{printer};

    QPaintDevice* device = printer.Handle();
    const TPrintScale scale = PrintScaleFactors(device->logicalDpiX(), device->logicalDpiY(), windowDpi);
    const QRect target = PrintTargetRect(snapshot.size(), scale);
    QPainter& canvas = printer.Canvas();
    // A printer of few colours gets a blended (halftoned) reduction;
    // otherwise each screen pixel becomes a solid block of dots.
    const bool halftone = device->depth() <= 8 && device->depth() < snapshot.depth();
    canvas.setRenderHint(QPainter::SmoothPixmapTransform, halftone);
    if (!target.isEmpty())
        canvas.drawImage(target, snapshot);
}
