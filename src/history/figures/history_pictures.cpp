#include "history/figures/history_pictures.h"

#include "history/figures/picture_marks.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

// Tone ticks every 32 tones on a line of up to 513, the width of its
// upstream band; a longer line ticks at round tone numbers.
constexpr int ToneTick = 32;
constexpr int ShortLine = 513;

// The smallest of 1, 2, 5, 10, 20, 50, ... at least `least`.
int NiceStep(double least)
{
    return std::max(1, int(std::lround(RoundStep(least))));
}

// Seconds only where the ticks are less than a minute apart.
QString TimeText(std::int64_t ms, std::int64_t stepMs)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(stepMs < 60000 ? QStringLiteral("yyyy-MM-dd HH:mm:ss")
                                                                       : QStringLiteral("yyyy-MM-dd HH:mm"));
}

int LeftMarginOf(THistoryPicture picture, const QFontMetrics& metrics)
{
    const QString widest = picture == THistoryPicture::Waterfall ? QStringLiteral("2026-12-07 00:00:00")
                                                                 : QStringLiteral("00000");
    return metrics.horizontalAdvance(widest) + 2 * metrics.height();
}

int LegendWidthOf(THistoryPicture picture, const QFontMetrics& metrics)
{
    if (picture == THistoryPicture::Waterfall)
        return metrics.height() * 2 + std::max(metrics.horizontalAdvance(QStringLiteral("incomplete")),
                                               metrics.horizontalAdvance(QStringLiteral("no reading")));
    return metrics.height() * 2 + metrics.horizontalAdvance(QStringLiteral("downstream"));
}

void DrawSwatch(QPainter& painter, int x, int y, int size, QColor colour, const QString& text)
{
    painter.fillRect(QRect(x, y, size, size - 2), colour);
    painter.setPen(QColor(FrameColor));
    painter.drawText(QRect(x + size + size / 3, y - size, 1000, 3 * size - 2), Qt::AlignLeft | Qt::AlignVCenter, text);
}

bool IsUp(const TBandPlan& bands, int tone)
{
    return bands.DirectionOf(tone) == TToneDirection::Upstream;
}

QString DirectionText(bool up)
{
    return up ? QStringLiteral("up") : QStringLiteral("down");
}

// Title, tone axis and the marks where the direction changes.
void DrawFrame(QPainter& painter, const QRect& area, const TToneViewLayout& layout, const THistoryFigures& figures,
               const QString& title)
{
    const QRect& plot = layout.Plot;
    const int lh = layout.LineHeight;
    painter.setPen(QColor(FrameColor));
    painter.setBrush(Qt::NoBrush);
    QFont bold = painter.font();
    bold.setBold(true);
    painter.save();
    painter.setFont(bold);
    painter.drawText(QRect(area.left(), area.top() + lh / 2, area.width(), lh), Qt::AlignCenter, title);
    painter.restore();
    painter.drawRect(plot.adjusted(-1, -1, 0, 0));

    // Tone axis: ticks every 32 tones, labels as often as they fit. A
    // longer line ticks at round tone numbers, each labelled, and its last
    // tone is labelled at the axis' end, so the axis says how far the line
    // reaches.
    const int tones = layout.Columns.Tones;
    const double perTone = double(plot.width()) / tones;
    const int labelWidth = painter.fontMetrics().horizontalAdvance(QStringLiteral("0000"));
    int tick = ToneTick;
    int labelEvery = ToneTick;
    if (tones > ShortLine) {
        tick = NiceStep(1.5 * labelWidth / perTone);
        labelEvery = tick;
    }
    while (labelEvery * perTone < labelWidth && labelEvery < tones)
        labelEvery *= 2;
    const int axisY = plot.bottom() + 1;
    const auto toneTick = [&](int tone, bool label) {
        const int x = int(std::lround(layout.ToneX(tone) + perTone / 2));
        painter.drawLine(x, axisY, x, axisY + lh / 3);
        if (label)
            painter.drawText(QRect(x - labelWidth, axisY + lh / 3, 2 * labelWidth, lh), Qt::AlignCenter,
                             QString::number(tone));
    };
    const bool labelLast = tones > ShortLine;
    for (int tone = 0; tone < tones; tone += tick) {
        const bool crowdsLast = labelLast && (tones - 1 - tone) * perTone < 1.5 * labelWidth;
        toneTick(tone, tone % labelEvery == 0 && !crowdsLast);
    }
    if (labelLast)
        toneTick(tones - 1, true);
    painter.drawText(QRect(plot.left(), axisY + lh * 3 / 2, plot.width(), lh), Qt::AlignCenter,
                     QStringLiteral("Tone (%1 kHz apart; frequency = tone × %1 kHz)")
                         .arg(QString::number(figures.SpacingKHz())));

    // A mark above the plot where the direction changes, the words of the
    // layout beside the marks, and a dashed line through the plot.
    for (const auto& [rect, text] : layout.DirectionWords)
        painter.drawText(rect, Qt::AlignCenter, text);
    for (const int start : layout.DirectionEdges) {
        const int boundary = int(std::lround(layout.ToneX(start)));
        painter.drawLine(boundary, plot.top() - lh, boundary, plot.top() - 1);
        painter.save();
        painter.setPen(QPen(QColor(0xFF808080), LineWidth(lh), Qt::DashLine));
        painter.drawLine(boundary, plot.top(), boundary, plot.bottom());
        painter.restore();
    }
}

// The value axis from 0 to the layout's top, labelled at a step that
// leaves room between labels.
void DrawValueAxis(QPainter& painter, const QRect& area, const TToneViewLayout& layout, const QString& title)
{
    const QRect& plot = layout.Plot;
    const int lh = layout.LineHeight;
    const double perUnit = double(plot.height()) / std::max(1, layout.ValueTop);
    const int step = NiceStep(1.5 * lh / perUnit);
    for (int value = 0; value <= layout.ValueTop; value += step) {
        const int y = int(std::lround(layout.ValueY(value)));
        if (value > 0) {
            painter.setPen(QColor(GridColor));
            painter.drawLine(plot.left(), y, plot.right(), y);
        }
        painter.setPen(QColor(FrameColor));
        painter.drawLine(plot.left() - lh / 3, y, plot.left() - 1, y);
        painter.drawText(QRect(plot.left() - 5 * lh, y - lh / 2, 5 * lh - lh / 2, lh), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(value));
    }
    painter.save();
    painter.translate(area.left() + lh / 4, plot.center().y());
    painter.rotate(-90);
    painter.drawText(QRect(-plot.height() / 2, 0, plot.height(), lh), Qt::AlignCenter, title);
    painter.restore();
}

// Swatches for upstream and downstream bars; returns where the next legend
// entry goes.
int DrawToneLegend(QPainter& painter, const TToneViewLayout& layout)
{
    const int lh = layout.LineHeight;
    const int x = layout.Legend.left();
    int y = layout.Legend.top();
    DrawSwatch(painter, x, y, lh, ToQColor(clGreen), QStringLiteral("upstream"));
    y += 3 * lh / 2;
    DrawSwatch(painter, x, y, lh, ToQColor(clBlue), QStringLiteral("downstream"));
    return y + 3 * lh / 2;
}

// One bar per column from 0 to the figure's value, in the colour of the
// direction of the tone whose value it shows.
void DrawBars(QPainter& painter, const TToneViewLayout& layout, const THistoryFigures& figures,
              THistoryFigures::TFigure figure)
{
    const double base = layout.ValueY(0);
    const TToneColumns& columns = layout.Columns;
    for (int c = 0; c < columns.Count(); ++c) {
        const auto [tone, v] = figures.ColumnValue(figure, columns.FirstTone(c), columns.EndTone(c));
        if (v <= 0)
            continue;
        const double top = layout.ValueY(v);
        const QRectF bar(QPointF(layout.ColumnX(c), top), QPointF(layout.ColumnX(c + 1), base));
        painter.fillRect(bar, DirectionColour(figures.Bands(), tone));
    }
}

} // namespace

QColor DirectionColour(const TBandPlan& bands, int tone)
{
    return ToQColor(IsUp(bands, tone) ? clGreen : clBlue);
}

double TToneViewLayout::ToneX(int tone) const
{
    return Plot.left() + double(tone) * Plot.width() / Columns.Tones;
}

int TToneViewLayout::ToneAt(int x) const
{
    return Columns.ToneAt(x - Plot.left());
}

double TToneViewLayout::ColumnX(int column) const
{
    return Columns.Binned() ? double(Plot.left() + column) : ToneX(column);
}

double TToneViewLayout::ValueY(double value) const
{
    return Plot.top() + Plot.height() - value * Plot.height() / std::max(1, ValueTop);
}

int ChangesTop(const THistoryFigures& figures)
{
    int most = 0;
    for (int tone = 0; tone < figures.ToneCount(); ++tone)
        most = std::max(most, figures.Changes(tone));
    if (most < 5)
        return 5;
    const int step = NiceStep(most / 5.0);
    return (most / step + 1) * step;
}

TToneViewLayout ToneViewLayout(THistoryPicture picture, const THistoryFigures& figures, const QRect& area,
                               const QFontMetrics& metrics)
{
    TToneViewLayout layout;
    layout.LineHeight = metrics.height();
    switch (picture) {
    case THistoryPicture::Waterfall: layout.ValueTop = 1; break;
    case THistoryPicture::Envelope: layout.ValueTop = MaxToneBits; break;
    case THistoryPicture::Changes: layout.ValueTop = ChangesTop(figures); break;
    }
    const int lh = layout.LineHeight;
    layout.LeftMargin = LeftMarginOf(picture, metrics);
    const int legend = LegendWidthOf(picture, metrics);
    const int right = legend + 2 * lh;
    layout.Plot = QRect(area.left() + layout.LeftMargin, area.top() + 3 * lh,
                        std::max(1, area.width() - layout.LeftMargin - right), std::max(1, area.height() - 6 * lh));
    layout.Columns = figures.Columns(layout.Plot.width());
    layout.Legend = QRect(layout.Plot.right() + 1 + lh, layout.Plot.top(), legend, layout.Plot.height());

    // Where the direction changes from one tone to the next (at an
    // upstream band's edges: tones outside every band count as downstream,
    // as their colour does): the direction on each mark's right is named,
    // and at the first also the one on its left.
    const TBandPlan& plan = figures.Bands();
    const int tones = layout.Columns.Tones;
    for (const TToneBand& band : plan.Upstream)
        for (const int tone : {band.First, band.Last + 1})
            if (tone > 0 && tone < tones && IsUp(plan, tone) != IsUp(plan, tone - 1))
                layout.DirectionEdges.push_back(tone);
    auto& edges = layout.DirectionEdges;
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    const int wordTop = layout.Plot.top() - lh - 2;
    for (std::size_t i = 0; i < edges.size(); ++i) {
        const int boundary = int(std::lround(layout.ToneX(edges[i])));
        if (i == 0) {
            const QString left = DirectionText(IsUp(plan, edges[i] - 1));
            const int width = metrics.horizontalAdvance(left);
            layout.DirectionWords.emplace_back(QRect(boundary - lh / 4 - width, wordTop, width, lh), left);
        }
        const QString right = DirectionText(IsUp(plan, edges[i]));
        const QRect word(boundary + lh / 4, wordTop, metrics.horizontalAdvance(right), lh);
        if (i + 1 == edges.size() || word.right() + lh / 4 < layout.ToneX(edges[i + 1]))
            layout.DirectionWords.emplace_back(word, right);
    }
    return layout;
}

void TWaterfallShown::Forget()
{
    Rows = TWaterfallRows();
    Scaled = QImage();
}

const TWaterfallRows& TWaterfallShown::RowsFor(const THistoryFigures& figures, int height) const
{
    if (Rows.Height() != height || Rows.Shown.empty()) {
        // Without a span of its own the picture shows the readings' span.
        Rows = ToMs > FromMs ? figures.WaterfallRows(height, FromMs, ToMs) : figures.WaterfallRows(height);
        Scaled = QImage();
    }
    return Rows;
}

void PaintWaterfall(QPainter& painter, const QRect& area, const THistoryFigures& figures, const TWaterfallShown& shown)
{
    const TToneViewLayout layout = ToneViewLayout(THistoryPicture::Waterfall, figures, area, painter.fontMetrics());
    const QRect& plot = layout.Plot;
    const int lh = layout.LineHeight;
    painter.fillRect(area, Qt::white);
    const TWaterfallRows& rows = shown.RowsFor(figures, plot.height());
    if (shown.Scaled.size() != plot.size())
        shown.Scaled = figures.ScaledWaterfall(rows, plot.width());
    painter.drawImage(plot.topLeft(), shown.Scaled);
    if (shown.MarkFromMs <= shown.MarkToMs && shown.MarkToMs >= rows.FromMs && shown.MarkFromMs <= rows.ToMs) {
        // The chosen event: a band from its start to its end, at least a
        // line's height so an event of one moment shows too.
        const int top = plot.top() + int(std::lround(rows.Y(std::min(shown.MarkToMs, rows.ToMs))));
        const int bottom = plot.top() + int(std::lround(rows.Y(std::max(shown.MarkFromMs, rows.FromMs))));
        const int middle = (top + bottom) / 2;
        const int half = std::max((bottom - top) / 2, lh / 4);
        painter.setPen(QPen(QColor::fromRgb(MarkColor), 2 * LineWidth(lh)));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRect(plot.left(), middle - half, plot.width() - 1, 2 * half));
    }
    // A long period's rows are the store's hour blocks, each drawn as its
    // latest complete reading.
    DrawFrame(painter, area, layout, figures,
              figures.BlockCount() > 0
                  ? QStringLiteral("Waterfall: bits per tone, each hour as its latest complete reading, newest at the top")
                  : QStringLiteral("Waterfall: bits per tone, one row per reading, newest at the top"));

    // Round times down the time axis, as many as fit two lines apart, each
    // at the height the row map gives its time: the rows between them are
    // as tall as the time they stand for.
    painter.setPen(QColor(FrameColor));
    const TTimeTicks ticks = RoundTimeTicks(rows.FromMs, rows.ToMs, std::max(2, plot.height() / (2 * lh)),
                                            LocalOffsetMs(rows.FromMs));
    // Rows stretched for readings close together push ticks apart, never
    // together; where they still crowd, a label is left out.
    int lastLabel = std::numeric_limits<int>::min() / 2;
    for (std::int64_t t = ticks.FirstMs; t <= ticks.LastMs && figures.Count() > 0; t += ticks.StepMs) {
        if (t < rows.FromMs || t > rows.ToMs)
            continue;
        const int at = plot.top() + int(std::lround(rows.Y(t)));
        if (std::abs(at - lastLabel) < 3 * lh / 2)
            continue;
        lastLabel = at;
        painter.drawLine(plot.left() - lh / 3, at, plot.left() - 1, at);
        painter.drawText(QRect(area.left(), at - lh / 2, plot.left() - lh / 2 - area.left(), lh),
                         Qt::AlignRight | Qt::AlignVCenter, TimeText(t, ticks.StepMs));
    }
    painter.save();
    painter.translate(area.left() + lh / 4, plot.center().y());
    painter.rotate(-90);
    painter.drawText(QRect(-plot.height() / 2, 0, plot.height(), lh), Qt::AlignCenter,
                     QStringLiteral("Time of reading (newest at the top)"));
    painter.restore();

    // The legend: the colour of each number of bits, the outage grey and
    // the white of times without readings.
    const QRect& legend = layout.Legend;
    painter.drawText(QRect(legend.left(), legend.top() - lh - 2, legend.width(), lh), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Bits"));
    const int cell = std::max(4, std::min(lh, legend.height() / (MaxToneBits + 5)));
    for (int bits = MaxToneBits; bits >= 0; --bits) {
        const int y = legend.top() + (MaxToneBits - bits) * cell;
        painter.fillRect(QRect(legend.left(), y, lh, cell), QColor(BitsColor(bits)));
        if (cell >= lh * 2 / 3 || bits % 5 == 0)
            painter.drawText(QRect(legend.left() + lh + lh / 3, y - lh / 2 + cell / 2, legend.width(), lh),
                             Qt::AlignLeft | Qt::AlignVCenter, QString::number(bits));
    }
    const std::pair<QRgb, QString> others[] = {{IncompleteColor, QStringLiteral("incomplete")},
                                               {NoReadingColor, QStringLiteral("no reading")}};
    int y = legend.top() + (MaxToneBits + 2) * cell;
    for (const auto& [colour, text] : others) {
        painter.fillRect(QRect(legend.left(), y, lh, cell), QColor(colour));
        if (colour == NoReadingColor)
            painter.drawRect(QRect(legend.left(), y, lh - 1, cell - 1));
        painter.drawText(QRect(legend.left() + lh + lh / 3, y - lh / 2 + cell / 2, legend.width(), lh),
                         Qt::AlignLeft | Qt::AlignVCenter, text);
        y += cell * 3 / 2;
    }
}

void PaintEnvelope(QPainter& painter, const QRect& area, const THistoryFigures& figures)
{
    const TToneViewLayout layout = ToneViewLayout(THistoryPicture::Envelope, figures, area, painter.fontMetrics());
    const QRect& plot = layout.Plot;
    const int lh = layout.LineHeight;
    painter.fillRect(area, Qt::white);
    DrawValueAxis(painter, area, layout, QStringLiteral("Bits per tone"));
    if (figures.CompleteCount() > 0) {
        DrawBars(painter, layout, figures, THistoryFigures::TFigure::Latest);
        // Maximum and minimum as steps across each column: on a binned line
        // its highest maximum and its lowest minimum.
        QPainterPath maximum;
        QPainterPath minimum;
        const TToneColumns& columns = layout.Columns;
        for (int c = 0; c < columns.Count(); ++c) {
            const int first = columns.FirstTone(c);
            const int end = columns.EndTone(c);
            const double x0 = layout.ColumnX(c);
            const double x1 = layout.ColumnX(c + 1);
            const double yMax = layout.ValueY(figures.ColumnValue(THistoryFigures::TFigure::Max, first, end).second);
            const double yMin = layout.ValueY(figures.ColumnValue(THistoryFigures::TFigure::Min, first, end).second);
            if (c == 0) {
                maximum.moveTo(x0, yMax);
                minimum.moveTo(x0, yMin);
            }
            maximum.lineTo(x0, yMax);
            maximum.lineTo(x1, yMax);
            minimum.lineTo(x0, yMin);
            minimum.lineTo(x1, yMin);
        }
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(MaximumColor), LineWidth(lh)));
        painter.drawPath(maximum);
        painter.setPen(QPen(QColor(MinimumColor), LineWidth(lh)));
        painter.drawPath(minimum);
    } else {
        painter.setPen(QColor(FrameColor));
        painter.drawText(plot, Qt::AlignCenter, QStringLiteral("No complete reading in this period"));
    }
    DrawFrame(painter, area, layout, figures,
              QStringLiteral("Envelope: latest bits (bars), maximum (outline) and minimum (line) over the period"));
    int y = DrawToneLegend(painter, layout);
    const int x = layout.Legend.left();
    for (const auto& [colour, text] : {std::pair{MaximumColor, QStringLiteral("maximum")},
                                       std::pair{MinimumColor, QStringLiteral("minimum")}}) {
        painter.setPen(QPen(QColor(colour), 2 * LineWidth(lh)));
        painter.drawLine(x, y + lh / 2, x + lh, y + lh / 2);
        painter.setPen(QColor(FrameColor));
        painter.drawText(QRect(x + lh + lh / 3, y, 1000, lh), Qt::AlignLeft | Qt::AlignVCenter, text);
        y += 3 * lh / 2;
    }
}

void PaintChanges(QPainter& painter, const QRect& area, const THistoryFigures& figures)
{
    const TToneViewLayout layout = ToneViewLayout(THistoryPicture::Changes, figures, area, painter.fontMetrics());
    painter.fillRect(area, Qt::white);
    DrawValueAxis(painter, area, layout, QStringLiteral("Changes"));
    DrawBars(painter, layout, figures, THistoryFigures::TFigure::Changes);
    DrawFrame(painter, area, layout, figures,
              QStringLiteral("Bit changes per tone between consecutive complete readings: %1 in total")
                  .arg(figures.TotalChanges()));
    DrawToneLegend(painter, layout);
}
