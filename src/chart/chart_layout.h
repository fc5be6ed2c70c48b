// Where everything of one drawing goes: the plot rectangle, the axes' pixels
// and bands, which labels survive, the tick and minor-tick positions, the bar
// width and the range of bars drawn. It is computed once per drawing as a
// plain value; painting walks it and the hover hit test reads what it left
// in the series. No widgets here, so every number can be checked in tests.
#pragma once

#include "chart/chart_engine.h"
#include "chart/series.h"

#include <QFontMetrics>
#include <QHash>
#include <QRect>
#include <QString>

#include <vector>

// The text measures layout needs from a font.
class TTextMeasure {
public:
    virtual ~TTextMeasure() = default;
    virtual int LineHeight() const = 0;
    virtual int TextWidth(const QString& text) const = 0;
};

// Measures with a real font's metrics. Widths are remembered: the chart
// measures the same few hundred tone numbers at every drawing.
class TFontMeasure : public TTextMeasure {
public:
    explicit TFontMeasure(const QFont& font) : FFont(font), FMetrics(font) {}
    int LineHeight() const override { return FMetrics.height(); }
    int TextWidth(const QString& text) const override;

    const QFont& Font() const { return FFont; }
    const QFontMetrics& Metrics() const { return FMetrics; }

private:
    QFont FFont;
    QFontMetrics FMetrics;
    mutable QHash<QString, int> FWidths;
};

// One label that is drawn: its pixel along the axis and its text.
struct TAxisLabel {
    int Pos = 0;
    QString Text;
};

struct TAxisGeometry {
    TAxisScale Scale;
    int Position = 0;      // the plot edge the axis stands on
    int LabelPosition = 0; // outer edge of the tick band
    int TitlePosition = 0; // outer edge of the label band
    int TitleSize = 0;     // the title band's depth
    int LabelSize = 0;     // the label band's depth
    double Step = 0.0;     // value step (value labels only)
    bool Turned = false;   // labels read upwards
    std::vector<TAxisLabel> Labels; // also the tick list, in the order drawn
    std::vector<int> MinorTicks;
};

// One pixel column of a line with more bars than the plot has columns: the
// lowest bar of its tones filled from the zero line, and from there up to
// the highest a paler fill of the same colour, so a notch among its tones
// shows as a pale column and bars of neighbouring heights as a pale edge.
struct TBarColumn {
    int X = 0;
    int Top = 0;    // first row filled
    int Bottom = 0; // first row past the fill
    bool Marked = false; // a bar of the column is lower than the highest
    int Mark = 0;        // the row where the lowest ends: paler above it
    int Highest = -1; // the bar shown
    TColor Color = 0;
};

struct TChartGeometry {
    TWinRect Bounds;
    TWinRect Plot;
    TAxisGeometry Bottom;
    TAxisGeometry Left;
    TBarDrawState Bars;
    // Empty unless the bars shown outnumber the plot's pixel columns (and
    // the line is longer than 513 tones, whose drawing stays bar by bar).
    std::vector<TBarColumn> Columns;
};

// The fonts' measures a layout uses.
struct TChartMeasures {
    const TTextMeasure& ChartTitle;
    const TTextMeasure& BottomTitle;
    const TTextMeasure& BottomLabels;
    const TTextMeasure& LeftTitle;
    const TTextMeasure& LeftLabels;
};

// The tick list never holds more than this many positions.
constexpr int MaxAxisTicks = 2000;

// The line the chart was designed for: up to this many bars keep their
// drawing, their turned labels and their hit test as designed.
constexpr int DesignedBarCount = 513;

// The tone step of a longer line's labels: the smallest of 1, 2, 5, 10, 20,
// ... that leaves twice a label's width between neighbours.
int RoundToneStep(double pixelsPerTone, int labelWidth);

// Bar width for a bottom axis length: the slots (MaxPointsPerPage, or the bar
// count when that is 0), one more for the side margins, the percentage of one
// slot, made even.
int BarPixelWidthFor(int axisLength, int maxPointsPerPage, int barCount, int barWidthPercent,
                     bool sideMargins);

// The value step of a value-labelled axis: the smallest of 1, 2, 5, 10, 20,
// ... (or from increment when above 0) that leaves no more labels than fit
// along length pixels at one line height plus separation percent each.
double AxisValueStep(int length, int lineHeight, double range, double increment,
                     int labelsSeparation);

// The thinning of text labels along an axis: the first label is always kept,
// later ones only with a gap of separation percent of the label size.
class TLabelThinner {
public:
    explicit TLabelThinner(int labelsSeparation) : FSeparation(labelsSeparation) {}
    // Whether a label of size pixels along the axis at pos is drawn;
    // remembers it when it is.
    bool Accept(int pos, int size);
    void Reset() { FHaveLast = false; }

private:
    int FSeparation;
    bool FHaveLast = false;
    int FLastPos = 0;
    int FLastHalf = 0;
};

// First and last index of the bars whose X lies in the plot's value span
// from plotLow to plotHigh pixels; -1, -1 when none. xValues ascend.
void ShownBars(const TAxisScale& bottom, int plotLow, int plotHigh, const TChartValueList& xValues,
               int& first, int& last);

// Minor ticks between and around the ticks, only strictly inside the axis.
void MinorTickPositions(const std::vector<TAxisLabel>& ticks, int count, int axisStart,
                        int axisEnd, std::vector<int>& out);

// "#,##0.###": thousands grouped, at most three decimals, the locale's
// separators.
QString FormatAxisValue(double value);

// Whether the bars first..last go a pixel column at a time in a plot this
// many columns wide inside its frame.
bool BarsAreBinned(int first, int last, int insideWidth);

// The pixel columns of bars first..last, in the order the bars come: per
// column its highest bar (the first of equals) and the row where its lowest
// ends. out is reused.
void BinBarColumns(const TBarDrawState& bars, const TBarSeries& series, double origin, int first,
                   int last, std::vector<TBarColumn>& out);

// Computes the whole geometry of one drawing into out (its lists are reused,
// so repeated drawings allocate nothing once warmed up).
void ComputeChartGeometry(TChartGeometry& out, const QRect& rect, const TChartConfig& config,
                          const TChartAxis& bottomAxis, const TChartAxis& leftAxis,
                          const TBarSeries& series, const TChartMeasures& measures);
