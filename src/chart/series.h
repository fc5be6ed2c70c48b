// The bar series: one bar per tone, kept as four parallel lists (X, Y,
// label, colour), and the bar hit test the hover read-out uses. The series
// lives inside the chart; it never draws itself, it only tells where each bar
// lies after the chart's last drawing.
#pragma once

#include "chart/chart_engine.h"

#include <QPoint>
#include <QString>

#include <functional>
#include <vector>

// Colour of a bar appended without one: the series colour is used.
constexpr TColor clTeeColor = 0x20000000;
// The reserved "no colour": such a bar is not drawn.
constexpr TColor clNone = 0x1FFFFFFF;

// A rectangle as the window system keeps it (a bar's, the chart's bounds,
// its plot): right and bottom are the first column and row past it.
struct TWinRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
};

// What the last drawing left for the hit test: both axes' pixel mapping, the
// bar width and the range of bars drawn (-1, -1 when none).
struct TBarDrawState {
    TAxisScale Bottom;
    TAxisScale Left;
    int BarPixelWidth = 0;
    int FirstShownIndex = -1;
    int LastShownIndex = -1;
};

// A bar's left edge for a draw state: X centred on its axis pixel, shifted
// right by offsetPercent of the bar width.
int BarLeftFor(const TBarDrawState& state, double x, int offsetPercent);

// A bar's rectangle for a draw state: X centred on its axis pixel, shifted
// right by offsetPercent of the bar width, from the origin value to the value.
TWinRect BarRectangleFor(const TBarDrawState& state, double x, double y, double origin,
                         int offsetPercent);

class TBarSeries {
public:
    TBarSeries();

    // Removes every bar and asks for a repaint.
    void ClearPoints();
    // Appends a bar at X = the number of bars before the call, which is also
    // the index returned, and asks for a repaint.
    int AppendBar(double value, const QString& label, TColor color = clTeeColor);

    int Count() const { return FXValues.Count(); }
    const TChartValueList& XValues() const { return FXValues; }
    const TChartValueList& YValues() const { return FYValues; }
    const QString& Label(int index) const { return FLabels[std::size_t(index)]; }
    // The bar's fill colour, the series colour standing in for clTeeColor.
    TColor ValueColor(int index) const;

    // The bar under the mouse pointer in the last drawing, or -1. The pointer
    // position is asked from the system, not taken from any event.
    int PointIndexAtCursor() const;
    // The bar whose column the pointer is in, at any height inside the
    // plot, or -1: long lines and quantities with gaps are read this way, so
    // a tone of 0 bits or of no value is named too. The nearest bar to the
    // pointer's column answers, within half a bar's pitch.
    int PointIndexAtColumn() const;
    int IndexAtColumn(const QPoint& point) const;
    // Whether the bar at index covers point (chart client coordinates), all
    // four edges included.
    bool BarContainsPoint(int index, const QPoint& point) const;
    // The bar's rectangle in the last drawing: painting fills it and the hit
    // test reads it, so both agree to the pixel.
    TWinRect BarRectangle(int index) const;

    // Set by the chart after each drawing.
    void SetDrawState(const TBarDrawState& state) { FDrawState = state; }
    const TBarDrawState& DrawState() const { return FDrawState; }

    // Where the pointer is, in chart client coordinates; the chart supplies
    // it. Without it the hit test finds nothing.
    std::function<QPoint()> CursorPosition;
    // Asks the chart for a repaint; never draws.
    std::function<void()> OnChange;

    // Settings, as designed.
    int BarWidthPercent = 70;
    int OffsetPercent = 0;
    TMultiBar MultiBar = mbSide;
    TBarStyle BarStyle = bsRectangle;
    TChartPen BarPen;
    TColor BarBrushColor = clWhite;
    bool MarksVisible = true;
    TSeriesMarksStyle MarksStyle = smsLabel;
    int MarksArrowLength = 8;
    bool MarksTransparent = false;
    TColor SeriesColor = clTeeColor;
    bool UseYOrigin = true;
    double YOrigin = 0.0;
    bool SideMargins = true;
    bool AutoBarSize = false;
    int CustomBarWidth = 0;
    bool Active = true;
    bool ColorEachPoint = false;

private:
    void Changed() const;

    TChartValueList FXValues{QStringLiteral("X")};
    TChartValueList FYValues{QStringLiteral("Bar")};
    std::vector<QString> FLabels;
    std::vector<TColor> FColors;
    TBarDrawState FDrawState;
};
