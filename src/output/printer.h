// The application printer: which printer the next job goes to, with what
// settings, and the state of the one job that may be open. Jobs are drawn
// with a QPainter on the device the printer system opens; the printer
// system is an interface so the same job can go to the real spooler or to a
// PDF file of a chosen resolution.
//
// Ownership: TPrinter owns the device of its current printer, which stays
// open after a job until the printer changes or the program ends.
#pragma once

#include <QImage>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

// A printer failure the user is told about ("Printing in progress", ...).
class EPrinter : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Which printer, and its device settings.
struct TPrinterSettings {
    QString PrinterName;
    std::optional<QPageLayout> PageLayout; // the printer's own when unset
    int Copies = 1;
    QPrinter::ColorMode ColorMode = QPrinter::Color;
    QPrinter::DuplexMode Duplex = QPrinter::DuplexNone;
};

// Reads a printer's settings off a QPrinter (after the set-up dialog), and
// puts them on one (before a job or a dialog).
TPrinterSettings SettingsFromQPrinter(const QPrinter& printer);
void ApplySettings(const TPrinterSettings& settings, QPrinter& printer);

// What the platform offers: the default printer, and a device to draw a job
// on. A device's logical dots per inch are the printer's resolution.
class TPrinterSystem {
public:
    virtual ~TPrinterSystem() = default;
    // The default printer's name, empty when the system names none or the
    // named one is not installed.
    virtual QString DefaultPrinterName() = 0;
    // A device for the printer with those settings and that document name,
    // or null when the printer cannot be opened.
    virtual std::unique_ptr<QPaintDevice> OpenPrinter(const TPrinterSettings& settings,
                                                      const QString& documentName) = 0;
};

// The system's spooler through Qt's printer support, at full resolution.
class TSpoolerPrinterSystem : public TPrinterSystem {
public:
    QString DefaultPrinterName() override;
    std::unique_ptr<QPaintDevice> OpenPrinter(const TPrinterSettings& settings,
                                              const QString& documentName) override;
};

// Every job becomes a PDF file of the given resolution.
class TPdfPrinterSystem : public TPrinterSystem {
public:
    TPdfPrinterSystem(QString outputFile, int resolution) : FOutputFile(std::move(outputFile)), FResolution(resolution) {}
    QString DefaultPrinterName() override { return QStringLiteral("PDF file"); }
    std::unique_ptr<QPaintDevice> OpenPrinter(const TPrinterSettings& settings,
                                              const QString& documentName) override;

private:
    QString FOutputFile;
    int FResolution;
};

class TPrinter {
public:
    explicit TPrinter(TPrinterSystem& system);
    ~TPrinter();
    TPrinter(const TPrinter&) = delete;
    TPrinter& operator=(const TPrinter&) = delete;

    // The current printer and settings; the system's default on first use.
    // Throws "There is no default printer currently selected".
    const TPrinterSettings& Current();
    // Makes another printer (and settings) current. Throws
    // "Printing in progress" while a job is open, changing nothing.
    void SetPrinter(const TPrinterSettings& settings);

    // Opens a job of one page on the current printer. Throws
    // "Printing in progress", "There is no default printer currently
    // selected" or "Printer selected is not valid"; no job is open then.
    void BeginDoc();
    // Ends the page and the document. Throws "Printer is not currently
    // printing" when no job is open.
    void EndDoc();

    bool Printing() const { return FPrinting; }
    int PageNumber() const { return FPageNumber; }
    // The job's canvas and the device under it; valid during a job.
    QPainter& Canvas() { return FCanvas; }
    QPaintDevice* Handle() const { return FDevice.get(); }

    // The document name; never set by the program, so empty.
    QString Title;
    // Called while the job is being produced; returns false to abort it.
    // The default lets pending window messages run and carries on.
    std::function<bool()> AbortProc;

private:
    TPrinterSystem& FSystem;
    std::optional<TPrinterSettings> FCurrent;
    std::unique_ptr<QPaintDevice> FDevice;
    QPainter FCanvas;
    bool FPrinting = false;
    bool FAborted = false;
    int FPageNumber = 0;
};

// The application printer on the system spooler, created on first use.
TPrinter& Printer();

// Prints snapshot as the one page of a new job on printer: enlarged by whole
// factors from windowDpi to the printer's resolution, at the top-left of the
// printable area. The job is ended whatever happens once it has begun.
void PrintSnapshot(TPrinter& printer, const QImage& snapshot, int windowDpi);
