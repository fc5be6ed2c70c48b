// The pictures made of a chart: the raster snapshot that Save As and Print
// use, the vector recording, and the clipboard copy made of it. Each takes
// the chart to draw and goes through its one drawing routine; the chart
// itself knows nothing of files, clipboards or printers.
#pragma once

#include "chart/color.h"

#include <QImage>
#include <QRect>

#include <memory>

class QPainter;
class QScreen;
class TChartPanel;
class TMetafile;
struct TScreenMetrics;

// A new snapshot of the chart as it draws itself on screen: rect's size,
// white, filled with backColor first when that is not white. Screen
// buffering is off while it is drawn and restored on every path.
QImage CreateChartBitmap(TChartPanel& chart, TColor backColor, const QRect& rect);

// Puts the chart on the clipboard as a vector picture and that picture in
// pixels, replacing what the clipboard held. Throws "Cannot open clipboard" when it
// cannot.
void CopyChartToClipboard(TChartPanel& chart, bool enhanced);

// The chart recorded as a vector picture one pixel smaller than rect in
// each direction, its frame at the physical pixel size of the screen the
// chart is on.
std::unique_ptr<TMetafile> CreateChartMetafile(TChartPanel& chart, bool enhanced, const QRect& rect);

// Draws the chart for a recording: the metafile flag is set and screen
// buffering off while it draws, both restored on every path.
void DrawToMetafileCanvas(TChartPanel& chart, QPainter& canvas, const QRect& rect);

// The physical size of a screen in millimetres and in the logical pixels
// the chart is drawn in; a standard 96-pixels-per-inch screen when there is
// none to ask.
TScreenMetrics ScreenMetrics(const QScreen* screen);
