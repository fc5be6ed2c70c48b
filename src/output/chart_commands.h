// The chart's picture commands, as the pop-up menu runs them: each takes
// the snapshot first, owns everything it makes for the length of the
// command, and lets its errors travel to the caller as exceptions whose
// what() is the text the user sees.
#pragma once

class QWidget;
class TChartPanel;
class TPictureFileChooser;
class TPrinter;

// Snapshot, ask for a name, write the JPEG. Cancel writes nothing.
void SaveChartAsJpeg(TChartPanel& chart, TPictureFileChooser& chooser);

// Snapshot, then one page on printer at whole-number enlargement. Defined
// with the printing commands (printing_commands.cpp), so that saving and
// copying do not pull in Qt's printing library.
void PrintChart(TChartPanel& chart, TPrinter& printer);

// The pixels per inch of the window the chart sits in.
int WindowPixelsPerInch(const QWidget& widget);
