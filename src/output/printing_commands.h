// The chart's two printing commands behind one seam. The monitor loads them
// from a module the first time they are used, since Qt's printing library
// would otherwise be loaded, and paid for, at every start; programs that
// drive the main window in process link them instead.
#pragma once

class QWidget;
class TChartPanel;

struct TPrintingCommands {
    // "Printer setup...": the set-up dialog of the application printer, made
    // the first time as a child of window.
    void (*SetUp)(QWidget* window);
    // "Print": the chart, one page on the application printer.
    void (*Print)(TChartPanel& chart);
};

// Throws std::runtime_error with a sentence for the user when the commands
// cannot be had.
const TPrintingCommands& PrintingCommands();

// The module's one entry point, by this name, returns the commands it holds.
inline constexpr char PrintingModuleEntry[] = "TirvanePrintingCommands";
