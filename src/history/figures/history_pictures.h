// The History pictures, each drawn by one routine given the figures, a
// painter and a rectangle: the window's views paint through them on screen
// and into saved pictures, and the line report onto its PDF pages, so the
// three never draw a picture differently. No widgets: the report is written
// without a display.
//
// The geometry of a tone picture (TToneViewLayout) and of the line rate
// (TLineRateLayout) is computed once from the area and the font; painting
// walks it and the views' hover reads it.
#pragma once

#include "history/figures/history_figures.h"

#include <QImage>
#include <QRect>

#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

class QFontMetrics;
class QPainter;

enum class THistoryPicture { Waterfall, Envelope, Changes };

// Where a tone picture's parts go in an area: the plot, and room around it
// for the title, the axes and the legend.
struct TToneViewLayout {
    QRect Plot;
    QRect Legend; // empty when the picture has none
    int LineHeight = 0;
    int LeftMargin = 0; // from the area's left edge to the plot's
    int ValueTop = 1; // the value at the plot's top edge
    TToneColumns Columns; // the tones of each pixel column
    // The tones where the direction changes (an upstream band's edges),
    // each marked above the plot, and the words naming the directions
    // beside the marks: a word goes only where it ends before the next
    // mark, so a narrow band's word never runs into its neighbour's.
    std::vector<int> DirectionEdges;
    std::vector<std::pair<QRect, QString>> DirectionWords;

    // The left edge of a tone's column, and the tone under an x; -1 outside.
    double ToneX(int tone) const;
    int ToneAt(int x) const;
    // The left edge of a drawn column: a pixel each on a binned line, a
    // tone's width otherwise.
    double ColumnX(int column) const;
    // The height of a value above the plot's bottom edge.
    double ValueY(double value) const;
};

TToneViewLayout ToneViewLayout(THistoryPicture picture, const THistoryFigures& figures, const QRect& area,
                               const QFontMetrics& metrics);

// The top of the change counts' value axis: a round value a little above
// the highest bar.
int ChangesTop(const THistoryFigures& figures);

// What a waterfall shows besides the figures: the time span of its axis, an
// event marked across it, and the pixel rows and scaled picture made for the
// last plot, kept so a repaint need not make them again.
struct TWaterfallShown {
    std::int64_t FromMs = 0; // ToMs <= FromMs: the readings' own span
    std::int64_t ToMs = 0;
    std::int64_t MarkFromMs = 1; // MarkFromMs > MarkToMs: no mark
    std::int64_t MarkToMs = 0;
    mutable TWaterfallRows Rows;
    mutable QImage Scaled;

    // The figures or the span changed.
    void Forget();
    // Which reading each pixel row of a plot this high shows.
    const TWaterfallRows& RowsFor(const THistoryFigures& figures, int height) const;
};

constexpr QRgb MarkColor = 0xFFFF2020;
constexpr QRgb MaximumColor = 0xFF000000;
constexpr QRgb MinimumColor = 0xFFE00000;

// A tone's colour by the line's band plan: upstream green, every other tone
// blue, as the tones outside both directions' bands are counted with the
// downstream ones in the window's colours.
QColor DirectionColour(const TBandPlan& bands, int tone);

void PaintWaterfall(QPainter& painter, const QRect& area, const THistoryFigures& figures,
                    const TWaterfallShown& shown);
void PaintEnvelope(QPainter& painter, const QRect& area, const THistoryFigures& figures);
void PaintChanges(QPainter& painter, const QRect& area, const THistoryFigures& figures);
// Where the line-rate picture's parts go in an area, and its axes: time
// along the bottom from one round time to another, kbit/s on the left and
// bits per symbol on the right, the two the same line rate. Computed once
// from the figures, the span and the font; painting walks it and the
// window's hover reads it.
struct TLineRateLayout {
    QRect Plot;
    int LineHeight = 0;
    TTimeTicks Ticks; // the time axis runs from Ticks.FirstMs to Ticks.LastMs
    double RateTop = 10; // kbit/s at the plot's top edge; the axis starts at 0
    double RateStep = 2;
    double BitsTop = 1; // bits per symbol at the plot's top edge
    double BitsStep = 1;
    // The complete readings' rates, a point per pixel column at most, a
    // line per run so outages and pauses stay gaps.
    std::vector<std::vector<TRatePoint>> Runs;

    double X(std::int64_t ms) const;
    std::int64_t TimeAt(double x) const;
    double Y(double kbps) const;
};

// The line rate of each direction over fromMs to toMs (a minute at least).
TLineRateLayout LineRateLayout(const THistoryFigures& figures, const QRect& area, std::int64_t fromMs,
                               std::int64_t toMs, const QFontMetrics& metrics);
void PaintLineRate(QPainter& painter, const QRect& area, const THistoryFigures& figures,
                   const TLineRateLayout& layout);
void PaintLineRate(QPainter& painter, const QRect& area, const THistoryFigures& figures, std::int64_t fromMs,
                   std::int64_t toMs);
