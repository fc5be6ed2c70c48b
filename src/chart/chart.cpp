#include "chart/chart.h"

#include <QCursor>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {

// The window system's 3-D frame colours.
constexpr TColor BevelHighlight = clWhite;
constexpr TColor BevelShadow = RGBColor(160, 160, 160);

// A line of one pixel's width from (x0, y0) up to, not including, (x1, y1);
// only horizontal and vertical lines occur. Filled as a rectangle so every
// target gets exactly those pixels.
void PixelLine(QPainter& painter, int x0, int y0, int x1, int y1, const QColor& color)
{
    if (y0 == y1 && x0 != x1)
        painter.fillRect(QRect(std::min(x0, x1 + 1), y0, std::abs(x1 - x0), 1), color);
    else if (x0 == x1 && y0 != y1)
        painter.fillRect(QRect(x0, std::min(y0, y1 + 1), 1, std::abs(y1 - y0)), color);
}

// The pixels of a one-pixel line from a bar's (left, top) to its (right,
// bottom), as PixelLine draws it.
QRect StrokeRect(const TWinRect& r)
{
    if (r.Top == r.Bottom && r.Left != r.Right)
        return QRect(std::min(r.Left, r.Right + 1), r.Top, std::abs(r.Right - r.Left), 1);
    if (r.Left == r.Right && r.Top != r.Bottom)
        return QRect(r.Left, std::min(r.Top, r.Bottom + 1), 1, std::abs(r.Bottom - r.Top));
    return QRect();
}

// Fills what of r lies inside clip. The painter clips as well; cutting the
// rectangle itself keeps the clip in pictures whose format drops clip
// regions (the SVG recording), so they show what the screen shows.
void FillInside(QPainter& painter, const QRect& r, const QRect& clip, const QColor& color)
{
    const QRect shown = r.intersected(clip);
    if (!shown.isEmpty())
        painter.fillRect(shown, color);
}

// The paler fill of a column between its lowest and its highest bar: half
// way to white, so it reads as the same band and never as a line of its own.
QColor PaleOf(TColor color)
{
    const QColor c = ToQColor(color);
    return QColor((c.red() + 255) / 2, (c.green() + 255) / 2, (c.blue() + 255) / 2);
}

// A long line's pixel columns. Filled one column at a time, every row of
// every column is a span of its own; neighbouring columns of one colour on
// one zero line are filled instead as the fewest rectangles that stack up to
// their outline (left to right, a rectangle is opened where the outline
// rises and closed where it falls), so most rows become one wide span. Over
// them, each column's rows above its lowest bar go paler, neighbouring
// columns of one such stretch as one rectangle.
void PaintBarColumns(QPainter& painter, const std::vector<TBarColumn>& columns, const QRect& inside)
{
    struct Open {
        int top;   // first row of its band; the band ends where the one below begins
        int start; // its first column
    };
    std::vector<Open> open;
    open.reserve(64);
    std::size_t i = 0;
    while (i < columns.size()) {
        // One run: adjacent columns of one colour standing on one row.
        const TBarColumn& first = columns[i];
        const int bottom = first.Bottom;
        const QColor fill = ToQColor(first.Color);
        const auto close = [&](int x, int top) {
            // Bands higher than top end before column x.
            int start = x;
            while (!open.empty() && open.back().top < top) {
                const Open band = open.back();
                open.pop_back();
                const int below = open.empty() ? bottom : open.back().top;
                FillInside(painter, QRect(band.start, band.top, x - band.start, std::min(top, below) - band.top),
                    inside, fill);
                start = band.start;
            }
            if (top < bottom && (open.empty() || open.back().top > top))
                open.push_back({top, start});
        };
        int x = first.X;
        std::size_t j = i;
        for (; j < columns.size() && columns[j].X == x && columns[j].Color == first.Color
               && columns[j].Bottom == bottom;
             ++j, ++x)
            close(x, columns[j].Top);
        close(x, bottom);
        i = j;
    }
    for (i = 0; i < columns.size(); ++i) {
        const TBarColumn& c = columns[i];
        if (!c.Marked || c.Mark <= c.Top)
            continue;
        std::size_t j = i + 1;
        while (j < columns.size() && columns[j].Marked && columns[j].Top == c.Top && columns[j].Mark == c.Mark
               && columns[j].Color == c.Color && columns[j].X == c.X + int(j - i))
            ++j;
        FillInside(painter, QRect(c.X, c.Top, int(j - i), c.Mark - c.Top), inside, PaleOf(c.Color));
        i = j - 1;
    }
}

// Raised or lowered frame of one pixel on the edge of r; r shrinks by one.
void Frame3D(QPainter& painter, TWinRect& r, TColor topLeft, TColor bottomRight)
{
    const QColor tl = ToQColor(topLeft);
    const QColor br = ToQColor(bottomRight);
    painter.fillRect(QRect(r.Left, r.Top, r.Width() - 1, 1), tl);
    painter.fillRect(QRect(r.Left, r.Top, 1, r.Height() - 1), tl);
    painter.fillRect(QRect(r.Left, r.Bottom - 1, r.Width(), 1), br);
    painter.fillRect(QRect(r.Right - 1, r.Top, 1, r.Height()), br);
    ++r.Left;
    ++r.Top;
    --r.Right;
    --r.Bottom;
}

void Bevel(QPainter& painter, TWinRect& r, TPanelBevel bevel, int width)
{
    for (int i = 0; i < width && bevel != bvNone; ++i) {
        if (bevel == bvRaised)
            Frame3D(painter, r, BevelHighlight, BevelShadow);
        else
            Frame3D(painter, r, BevelShadow, BevelHighlight);
    }
}

Qt::PenStyle ToQtPenStyle(TPenStyle style)
{
    switch (style) {
    case psSolid:
        return Qt::SolidLine;
    case psDash:
        return Qt::DashLine;
    case psDot:
        return Qt::DotLine;
    case psDashDot:
        return Qt::DashDotLine;
    case psDashDotDot:
        return Qt::DashDotDotLine;
    case psClear:
        return Qt::NoPen;
    }
    return Qt::SolidLine;
}

// A grid line across the plot, solid ones pixel-exact.
void GridLine(QPainter& painter, const TChartPen& pen, int x0, int y0, int x1, int y1)
{
    if (pen.Style == psSolid && pen.Width == 1) {
        PixelLine(painter, x0, y0, x1, y1, ToQColor(pen.Color));
        return;
    }
    QPen qpen(ToQColor(pen.Color), pen.Width, ToQtPenStyle(pen.Style));
    painter.setPen(qpen);
    painter.setBrush(Qt::NoBrush);
    painter.drawLine(QLine(x0, y0, x1 - (x1 > x0), y1 - (y1 > y0)));
}

// Axis title, labels, ticks, grid and minor ticks of one axis.
void PaintAxis(QPainter& painter, const TChartGeometry& g, const TAxisGeometry& a,
               const TChartAxis& axis, const TFontMeasure& titleFont, const TFontMeasure& labelsFont)
{
    const bool horizontal = a.Scale.Horizontal;
    const TWinRect& p = g.Plot;

    if (!axis.TitleCaption.isEmpty()) {
        const QFontMetrics& fm = titleFont.Metrics();
        painter.setFont(titleFont.Font());
        painter.setPen(ToQColor(axis.TitleFont.Color));
        const int textWidth = titleFont.TextWidth(axis.TitleCaption);
        const int centre = a.Scale.Centre();
        if (horizontal) {
            painter.drawText(centre - textWidth / 2, a.TitlePosition + fm.ascent(), axis.TitleCaption);
        } else {
            // Turned to read upwards, its top against the band's left side.
            painter.save();
            painter.translate(a.TitlePosition - fm.height(), centre + textWidth / 2);
            painter.rotate(-90);
            painter.drawText(0, fm.ascent(), axis.TitleCaption);
            painter.restore();
        }
    }

    if (!a.Labels.empty()) {
        const QFontMetrics& fm = labelsFont.Metrics();
        painter.setFont(labelsFont.Font());
        painter.setPen(ToQColor(axis.LabelsFont.Color));
        painter.setBrush(Qt::NoBrush);
        const int lineHeight = fm.height();
        const bool turned = a.Turned;
        for (const TAxisLabel& label : a.Labels) {
            const int textWidth = labelsFont.TextWidth(label.Text);
            if (horizontal && turned) {
                // Reads upwards, its end at the top of the band, so the text
                // hangs down into it; centred across the label's pixel.
                painter.save();
                painter.translate(label.Pos - lineHeight / 2, a.LabelPosition + textWidth);
                painter.rotate(-90);
                painter.drawText(0, fm.ascent(), label.Text);
                painter.restore();
            } else if (horizontal) {
                painter.drawText(label.Pos - textWidth / 2, a.LabelPosition + fm.ascent(), label.Text);
            } else {
                // Right-aligned against the tick band, centred on the pixel.
                painter.drawText(a.LabelPosition - textWidth, label.Pos - lineHeight / 2 + fm.ascent(),
                                 label.Text);
            }
        }
    }

    // Ticks and minor ticks go outwards from the axis, starting one pixel
    // off the plot edge.
    const QColor tickColor = ToQColor(axis.Ticks.Color);
    const QColor minorColor = ToQColor(axis.MinorTicks.Color);
    for (const TAxisLabel& label : a.Labels) {
        if (axis.Ticks.Visible) {
            if (horizontal)
                PixelLine(painter, label.Pos, a.Position + 1, label.Pos,
                          a.Position + 1 + axis.TickLength, tickColor);
            else
                PixelLine(painter, a.Position - 1, label.Pos, a.Position - 1 - axis.TickLength,
                          label.Pos, tickColor);
        }
        if (axis.Grid.Visible) {
            if (horizontal)
                GridLine(painter, axis.Grid, label.Pos, p.Top, label.Pos, p.Bottom);
            else
                GridLine(painter, axis.Grid, p.Left, label.Pos, p.Right, label.Pos);
        }
    }
    if (axis.MinorTicks.Visible) {
        for (int pos : a.MinorTicks) {
            if (horizontal)
                PixelLine(painter, pos, a.Position + 1, pos, a.Position + 1 + axis.MinorTickLength,
                          minorColor);
            else
                PixelLine(painter, a.Position - 1, pos, a.Position - 1 - axis.MinorTickLength, pos,
                          minorColor);
        }
    }
}

} // namespace

void PaintChart(QPainter& painter, const TChartGeometry& g, const TChartConfig& config,
                const TChartAxis& bottomAxis, const TChartAxis& leftAxis, const TBarSeries& series,
                const TChartPaintFonts& fonts)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, true);

    // Panel and bevels.
    TWinRect frame = g.Bounds;
    painter.fillRect(QRect(frame.Left, frame.Top, frame.Width(), frame.Height()),
                     ToQColor(config.Color));
    Bevel(painter, frame, config.BevelOuter, config.BevelWidth);
    Bevel(painter, frame, config.BevelInner, config.BevelWidth);

    // Back wall: the plot filled, framed on its own edges (right and bottom
    // included).
    const TWinRect& p = g.Plot;
    if (p.Width() >= 0 && p.Height() >= 0) {
        // A wall of the panel's own colour lying inside the bevels would
        // change no pixel: spare the second fill of most of the picture.
        const bool insideBevels = p.Left >= frame.Left && p.Top >= frame.Top
                                  && p.Right < frame.Right && p.Bottom < frame.Bottom;
        if (config.BackWallBrushColor != config.Color || !insideBevels)
            painter.fillRect(QRect(p.Left, p.Top, p.Width() + 1, p.Height() + 1),
                             ToQColor(config.BackWallBrushColor));
        if (config.BackWallPen.Visible) {
            const QColor c = ToQColor(config.BackWallPen.Color);
            painter.fillRect(QRect(p.Left, p.Top, p.Width() + 1, 1), c);
            painter.fillRect(QRect(p.Left, p.Bottom, p.Width() + 1, 1), c);
            painter.fillRect(QRect(p.Left, p.Top, 1, p.Height() + 1), c);
            painter.fillRect(QRect(p.Right, p.Top, 1, p.Height() + 1), c);
        }
    }

    // Axes before bars, so bars cover the grid.
    PaintAxis(painter, g, g.Bottom, bottomAxis, fonts.BottomTitle, fonts.BottomLabels);
    PaintAxis(painter, g, g.Left, leftAxis, fonts.LeftTitle, fonts.LeftLabels);

    // Bars, clipped to the inside of the wall's frame.
    const TBarDrawState& bars = g.Bars;
    if (bars.FirstShownIndex >= 0 && p.Width() > 1 && p.Height() > 2) {
        const QRect inside(p.Left + 1, p.Top + 1, p.Width() - 1, p.Height() - 2);
        painter.setClipRect(inside, painter.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
        const double origin = series.UseYOrigin ? series.YOrigin : bars.Left.Minimum;
        const int last = std::min(bars.LastShownIndex, series.Count() - 1);
        // More bars than pixel columns: each column shows the highest bits
        // of its tones in that tone's colour, paler above its lowest, so a
        // notch among them is never drawn away. The layout found them.
        if (!g.Columns.empty()) {
            PaintBarColumns(painter, g.Columns, inside);
            painter.restore();
            return;
        }
        for (int i = bars.FirstShownIndex; i <= last; ++i) {
            const TColor color = series.ValueColor(i);
            if (color == clNone)
                continue;
            const QColor fill = ToQColor(color);
            const TWinRect r = BarRectangleFor(bars, series.XValues().Value(i),
                                               series.YValues().Value(i), origin,
                                               series.OffsetPercent);
            // A flat bar (0 bits) still shows as a stroke on the zero line.
            if (r.Left == r.Right || r.Top == r.Bottom)
                FillInside(painter, StrokeRect(r), inside, fill);
            // Without an outline a rectangle fills all but its last column
            // and row.
            if (r.Right - r.Left > 1 && r.Bottom - r.Top > 1)
                FillInside(painter, QRect(r.Left, r.Top, r.Right - r.Left - 1, r.Bottom - r.Top - 1),
                           inside, fill);
        }
    }
    painter.restore();
}

QRect PaintNotice(QPainter& painter, const TWinRect& plot, const QString& text, const QFont& font)
{
    if (text.isEmpty() || plot.Width() < 8 || plot.Height() < 8)
        return {};
    painter.save();
    painter.setFont(font);
    const int margin = 4;
    const QRect room(plot.Left + margin, plot.Top + margin, plot.Width() - 2 * margin, plot.Height() - 2 * margin);
    const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
    QRect box = painter.boundingRect(room, flags, text).intersected(room);
    box.adjust(-2, -1, 2, 1);
    // Dark red on white: it reads as a warning on the wall and over bars of
    // either colour.
    painter.fillRect(box, Qt::white);
    painter.setPen(QColor(160, 0, 0));
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    painter.drawText(box.adjusted(2, 1, -2, -1), flags, text);
    painter.restore();
    return box;
}

QRect PaintEmptyNote(QPainter& painter, const TWinRect& plot, const QString& text, const QFont& font)
{
    if (text.isEmpty() || plot.Width() < 8 || plot.Height() < 8)
        return {};
    painter.save();
    painter.setFont(font);
    const QRect room(plot.Left + 1, plot.Top + 1, plot.Width() - 1, plot.Height() - 1);
    const int flags = Qt::AlignCenter | Qt::TextWordWrap;
    QRect box = painter.boundingRect(room, flags, text).intersected(room);
    box.adjust(-4, -2, 4, 2);
    box = box.intersected(room);
    painter.fillRect(box, Qt::white);
    painter.setPen(QColor(96, 96, 96));
    painter.drawText(box, flags, text);
    painter.restore();
    return box;
}

const TFontMeasure& TChartFontCache::Get(const TChartFont& font)
{
    if (!FMeasure || !(font == FKey)) {
        FKey = font;
        FMeasure = std::make_unique<TFontMeasure>(font.ToQFont());
    }
    return *FMeasure;
}

TChart::TChart(QWidget* parent) : TChartPanel(parent)
{
    setMouseTracking(true);
    FInitialCursor = cursor();
    const auto repaint = [this] { RequestRepaint(); };
    FBottomAxis.OnChange = repaint;
    FLeftAxis.OnChange = repaint;
    FRightAxis.OnChange = repaint;
    FTopAxis.OnChange = repaint;
    FSeries.OnChange = repaint;
    FSeries.CursorPosition = [this] { return mapFromGlobal(QCursor::pos()); };
    FLeftAxis.OtherSide = false;
    FRightAxis.OtherSide = true;
    FTopAxis.OtherSide = true;
}

TChart::~TChart() = default;

TColor TChart::BackColor() const
{
    return FConfig.BackWallColor;
}

void TChart::RequestRepaint()
{
    // Only mark: the window system's next paint draws, once.
    InvalidateBuffer();
    update();
}

void TChart::BeginLoading()
{
    for (TChartAxis* axis : {&FBottomAxis, &FLeftAxis, &FRightAxis, &FTopAxis})
        axis->Loading = true;
}

void TChart::EndLoading()
{
    for (TChartAxis* axis : {&FBottomAxis, &FLeftAxis, &FRightAxis, &FTopAxis})
        axis->Loading = false;
    RequestRepaint();
}

void TChart::DrawChart(QPainter& painter, const QRect& rect)
{
    const TFontMeasure& chartTitle = FChartTitleFont.Get(FConfig.TitleFont);
    const TFontMeasure& bottomTitle = FBottomTitleFont.Get(FBottomAxis.TitleFont);
    const TFontMeasure& bottomLabels = FBottomLabelsFont.Get(FBottomAxis.LabelsFont);
    const TFontMeasure& leftTitle = FLeftTitleFont.Get(FLeftAxis.TitleFont);
    const TFontMeasure& leftLabels = FLeftLabelsFont.Get(FLeftAxis.LabelsFont);
    const TChartMeasures measures{chartTitle, bottomTitle, bottomLabels, leftTitle, leftLabels};
    // Geometry once; painting walks it and the hit test reads it afterwards.
    ComputeChartGeometry(FGeometry, rect, FConfig, FBottomAxis, FLeftAxis, FSeries, measures);
    FSeries.SetDrawState(FGeometry.Bars);
    PaintChart(painter, FGeometry, FConfig, FBottomAxis, FLeftAxis, FSeries,
               TChartPaintFonts{bottomTitle, bottomLabels, leftTitle, leftLabels});
    if (!FEmptyNote.isEmpty()) {
        QFont font = FBottomAxis.TitleFont.ToQFont();
        font.setPixelSize(font.pixelSize() + 3);
        PaintEmptyNote(painter, FGeometry.Plot, FEmptyNote, font);
    }
    if (!FNotice.isEmpty()) {
        QFont font = FBottomAxis.LabelsFont.ToQFont();
        font.setBold(true);
        PaintNotice(painter, FGeometry.Plot, FNotice, font);
    }
}

void TChart::SetNotice(const QString& text)
{
    if (text == FNotice)
        return;
    FNotice = text;
    RequestRepaint();
}

void TChart::SetEmptyNote(const QString& text)
{
    if (text == FEmptyNote)
        return;
    FEmptyNote = text;
    RequestRepaint();
}

void TChart::mouseMoveEvent(QMouseEvent* event)
{
    // Zooming and panning are off, so the chart's own handling comes down to
    // giving the control its own cursor back; the handler runs after it.
    TChartPanel::mouseMoveEvent(event);
    setCursor(FInitialCursor);
    const QPoint pos = event->position().toPoint();
    emit MouseMove(event->modifiers(), pos.x(), pos.y());
}

void TChart::leaveEvent(QEvent* event)
{
    TChartPanel::leaveEvent(event);
    emit MouseLeave();
}

void LoadChart21Settings(TChart& chart)
{
    chart.BeginLoading();
    LoadChart21Settings(TChartParts{chart.Config(), chart.BottomAxis(), chart.LeftAxis(), chart.RightAxis(),
                                    chart.TopAxis(), chart.Series()});
    chart.EndLoading();
}
