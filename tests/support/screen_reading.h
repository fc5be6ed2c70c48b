// Reading what a person sees from a screenshot: the screenshot itself, the
// status lamp, the bars of the chart, and short lines of text. Pure functions
// over QImage; the text matcher draws its candidates with QPainter, so it
// needs a QGuiApplication.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <vector>

namespace support {

// The whole screen of `display` as an RGB32 image (null on failure).
QImage GrabScreen(const std::string& display);

// Whether a pixel is within `tolerance` of a colour in each channel.
bool IsColour(QRgb pixel, QColor colour, int tolerance = 24);

// The top-left corner of the first 13 x 13 lamp (an 11 x 11 fill of `fill`
// inside a one-pixel outline) found in `area`, scanning rows top to bottom.
std::optional<QPoint> FindLamp(const QImage& shot, const QRect& area, QColor fill);

// The fill colour in the middle of the lamp whose top-left corner is given.
QColor LampColour(const QImage& shot, QPoint lampTopLeft);

// One bar as the screen shows it: a column of bar colour rising from the
// zero line.
struct BarColumn {
    int x = 0;        // the filled column
    int top = 0;      // highest filled row
    int bottom = 0;   // lowest filled row (the same for every bar)
    bool green = false;
    int Height() const { return bottom - top + 1; }
};

// The bars standing on the common zero line inside `plot`: every column
// that holds a vertical run of green or blue at least two pixels long,
// whose run ends on the most common bottom row. Zero-bit strokes (a single
// row below that) are left out. Columns in order, left to right.
std::vector<BarColumn> FindBars(const QImage& shot, const QRect& plot);

// Columns of `plot` that hold any bar colour at all; with `greenOnly`, only
// green ones.
int CountColouredColumns(const QImage& shot, const QRect& plot, bool greenOnly);

// How well each candidate text matches the text drawn in `area` of the
// screenshot (dark text on a plain background): the smallest difference of
// "ink" over the whole area, the candidate drawn in `font` at any offset.
// Lower is better; a candidate that leaves drawn ink unmatched, or puts ink
// where there is none, scores worse. Also tries the font one pixel smaller
// and larger, since pixel sizes round differently between set-ups.
std::vector<double> ScoreTexts(const QImage& shot, const QRect& area, const QStringList& candidates,
                               const QFont& font);

// The total ink in `area`, to put scores in proportion.
double TotalInk(const QImage& shot, const QRect& area);

} // namespace support
