// The chart's building blocks that carry no widget: value lists, axes with
// their settings, the chart-wide settings, and the mapping between axis values
// and pixels that painting and the hover hit test share.
//
// Settings are plain members named as the chart was designed. Most of them
// are set once while the main window loads its stored settings; only an
// axis' Minimum and Maximum change at run time, so only those go through
// setters that check the range and ask for a repaint.
#pragma once

#include "chart/color.h"

#include <QFont>
#include <QString>
#include <QStringList>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// Raised when an axis would end below its start.
class AxisException : public std::runtime_error {
public:
    explicit AxisException(const std::string& message) : std::runtime_error(message) {}
};

// Raised for chart settings out of their range (MaxPointsPerPage).
class ChartException : public std::runtime_error {
public:
    explicit ChartException(const std::string& message) : std::runtime_error(message) {}
};

// x brought to the nearest integer, ties to the even one (0.5 -> 0, 1.5 -> 2).
int Nearest(double x);

// a * b / c rounded to the nearest integer, halves away from zero, with no
// overflow in between: the chart's margins and font sizes and a vector
// picture's frame. c == 0 gives 0 (no size rather than a negative one), and
// a result past the int range stops at its edge.
int MulDiv(int a, int b, int c);

enum TPanelBevel { bvNone, bvLowered, bvRaised };
enum TPanningMode { pmNone, pmHorizontal, pmVertical, pmBoth };
enum TLegendAlignment { laLeft, laRight, laTop, laBottom };
enum TAxisLabelStyle { talAuto, talNone, talValue, talMark, talText };
enum TMultiBar { mbNone, mbSide, mbStacked, mbStacked100 };
enum TChartListOrder { loNone, loAscending, loDescending };
enum TBarStyle { bsRectangle, bsPyramid, bsInvPyramid, bsCilinder, bsEllipse, bsArrow };
enum TSeriesMarksStyle { smsValue, smsPercent, smsLabel, smsLabelPercent };
enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear };

// A font as the chart keeps it: face name and size in points. Text is drawn
// at the screen's 96 pixels per inch, so 8 points are 11 pixels.
struct TChartFont {
    QString Name = QStringLiteral("Arial");
    int Size = 8;
    TColor Color = clBlack;
    bool Bold = false;

    QFont ToQFont() const;
    bool operator==(const TChartFont&) const = default;
};

struct TChartPen {
    bool Visible = true;
    TColor Color = clBlack;
    int Width = 1;
    TPenStyle Style = psSolid;
};

// One list of series values. Values read back are the stored value times
// Multiplier.
class TChartValueList {
public:
    explicit TChartValueList(QString name = QString()) : Name(std::move(name)) {}

    QString Name;
    TChartListOrder Order = loNone;
    double Multiplier = 1.0;
    bool DateTime = false;

    int Count() const { return int(FValues.size()); }
    double Value(int index) const { return FValues[std::size_t(index)] * Multiplier; }
    double operator[](int index) const { return Value(index); }
    double Last() const { return Value(Count() - 1); }

    void Append(double value) { FValues.push_back(value); }
    void Clear() { FValues.clear(); }

private:
    std::vector<double> FValues;
};

// Where an axis lies on the target after a drawing, and the mapping between
// its values and pixels. Horizontal axes grow to the right; vertical ones
// grow upwards (Maximum at StartPixel, the top).
struct TAxisScale {
    double Minimum = 0.0;
    double Maximum = 0.0;
    int StartPixel = 0;
    int EndPixel = 0;
    bool Horizontal = true;

    int Length() const { return EndPixel - StartPixel; }
    int Centre() const { return (StartPixel + EndPixel) / 2; }
    double Range() const { return Maximum - Minimum; }

    // Falls back to the axis centre when the range is empty or the value
    // lies so far outside that its pixel would not fit an int.
    int ValueToPixel(double value) const;
    // 0 for an axis shorter than one pixel.
    double PixelToValue(int pixel) const;
};

// One axis of the chart with every setting it was designed with, kept even
// where the drawing never looks at it.
class TChartAxis {
public:
    explicit TChartAxis(bool horizontal = true);

    double Minimum() const { return FMinimum; }
    double Maximum() const { return FMaximum; }
    void SetMinimum(double value);
    // Throws AxisException "Axis Maximum Value must be >= Minimum" for a
    // value below Minimum (not while settings load) and keeps the range.
    void SetMaximum(double value);

    bool Horizontal() const { return FHorizontal; }

    // Range
    bool Automatic = true;
    bool AutomaticMaximum = true;
    bool AutomaticMinimum = true;
    bool Visible = true;

    // Title
    QString TitleCaption;
    int TitleAngle = 0;
    TChartFont TitleFont;

    // Labels
    bool Labels = true;
    TAxisLabelStyle LabelStyle = talAuto;
    int LabelsAngle = 0;
    int LabelsSize = 0; // 0: sized from the texts
    int LabelsSeparation = 10;
    bool LabelsOnAxis = true;
    bool RoundFirstLabel = true;
    double Increment = 0.0;
    QString AxisValuesFormat = QStringLiteral("#,##0.###");
    TChartFont LabelsFont;

    // Lines
    TChartPen Axis;
    TChartPen Grid{true, 0x808080, 1, psDot};
    TChartPen Ticks{true, 0x808080, 1, psSolid};
    TChartPen TicksInner{true, 0x808080, 1, psSolid};
    TChartPen MinorTicks{true, 0x808080, 1, psSolid};
    TChartPen MinorGrid{false, 0x808080, 1, psSolid};
    int TickLength = 4;
    int TickInnerLength = 0;
    int MinorTickCount = 3;
    int MinorTickLength = 2;

    // Placement, in percent of the plot's width or height.
    double StartPosition = 0.0;
    double EndPosition = 100.0;
    bool OtherSide = false;

    // Called whenever a change needs a repaint; only asks, never draws.
    std::function<void()> OnChange;
    // While true the Maximum check is skipped (stored settings loading).
    bool Loading = false;

private:
    void Changed() const;

    bool FHorizontal;
    double FMinimum = 0.0;
    double FMaximum = 0.0;
};

// Settings of the chart as a whole.
struct TChartConfig {
    TColor Color = clWhite;
    TPanelBevel BevelInner = bvNone;
    TPanelBevel BevelOuter = bvRaised;
    int BevelWidth = 1;

    TColor BackWallColor = clWhite; // BackColor
    TColor BackWallBrushColor = clWhite;
    TChartPen BackWallPen;

    bool View3D = true;
    int Chart3DPercent = 15;
    int Perspective = 15;

    bool TitleVisible = true;
    QStringList TitleText{QStringLiteral("TChart")};
    bool TitleAdjustFrame = true;
    TChartFont TitleFont;

    bool LegendVisible = true;
    TLegendAlignment LegendAlignment = laRight;
    int LegendTopPos = 10;
    TChartFont LegendFont;

    bool AllowZoom = true;
    TPanningMode AllowPanning = pmBoth;

    int MarginLeft = 3;
    int MarginTop = 4;
    int MarginRight = 3;
    int MarginBottom = 4;

    bool ShowHint = false;
    bool ParentShowHint = true;

    int MaxPointsPerPage() const { return FMaxPointsPerPage; }
    // Throws ChartException "MaxPointsPerPage must be >= 0" for a negative count.
    void SetMaxPointsPerPage(int value);
    bool ScaleLastPage = true;
    int Page = 1;

private:
    int FMaxPointsPerPage = 0;
};
