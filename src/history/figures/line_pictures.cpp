#include "history/figures/line_pictures.h"

#include "history/figures/picture_marks.h"

#include <QDateTime>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QColor Frame(Qt::black);
const QColor DownColor = QColor::fromRgb(0xFF0000FF);
const QColor UpColor = QColor::fromRgb(0xFF008000);
const QColor DownGrey(0xC8, 0xC8, 0xC8);

QString TimeText(std::int64_t ms, std::int64_t stepMs)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(stepMs < 86'400'000 ? QStringLiteral("MM-dd HH:mm")
                                                                           : QStringLiteral("yyyy-MM-dd"));
}

QString Number(double value, double step)
{
    int decimals = 0;
    while (decimals < 3 && std::abs(step * std::pow(10, decimals) - std::round(step * std::pow(10, decimals))) > 1e-6)
        ++decimals;
    return QString::number(value, 'f', decimals);
}

// A curve's pen: a whole number of pixels, so a level line is as thick
// wherever it lies between two pixel rows, and as thick on a page as on the
// screen (the line height grows with the resolution).
int CurveWidth(int lineHeight)
{
    return 2 * std::max(1, lineHeight / 14);
}

// A value axis from low to high at the left of a panel, round steps at
// least two lines apart and at least leastStep (1 for counts, which have no
// halves).
void DrawValueAxis(QPainter& painter, const QRect& panel, int lh, double low, double high, const QString& title,
    double leastStep = 0)
{
    painter.setPen(Frame);
    painter.drawRect(panel.adjusted(0, 0, -1, -1));
    const double step = std::max(leastStep, RoundStep((high - low) / std::max(1, panel.height() / (2 * lh))));
    for (double v = std::ceil(low / step) * step; v <= high + step * 1e-6; v += step) {
        const int y = panel.bottom() - int(std::lround((v - low) / (high - low) * panel.height()));
        painter.drawLine(panel.left() - lh / 3, y, panel.left(), y);
        painter.drawText(QRect(panel.left() - 6 * lh, y - lh / 2, 6 * lh - lh / 2, lh), Qt::AlignRight | Qt::AlignVCenter,
            Number(v, step));
    }
    painter.drawText(QRect(panel.left(), panel.top() - lh - 2, panel.width(), lh), Qt::AlignLeft | Qt::AlignBottom, title);
}

// The range of the values, widened to round ends; [0, 1] when there are none.
std::pair<double, double> RangeOf(const std::vector<double>& values, bool fromZero)
{
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (const double v : values) {
        if (std::isfinite(v)) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    if (!std::isfinite(low))
        return {0, 1};
    if (fromZero)
        low = std::min(0.0, low);
    if (high - low < 1e-9)
        high = low + 1;
    const double step = RoundStep((high - low) / 5);
    return {std::floor(low / step) * step, std::ceil(high / step) * step};
}

} // namespace

QString NothingMeasuredText()
{
    return QStringLiteral("not measured on this line");
}

double TLineFiguresLayout::X(std::int64_t ms) const
{
    const QRect& plot = Levels;
    return plot.left() + double(ms - FromMs) / double(std::max<std::int64_t>(1, ToMs - FromMs)) * plot.width();
}

std::int64_t TLineFiguresLayout::TimeAt(int x) const
{
    const QRect& plot = Levels;
    return FromMs + std::int64_t(double(x - plot.left()) / std::max(1, plot.width()) * double(ToMs - FromMs));
}

TLineFiguresLayout LineFiguresLayout(const QRect& area, const QFontMetrics& metrics, std::int64_t fromMs,
    std::int64_t toMs)
{
    TLineFiguresLayout layout;
    layout.Area = area;
    const int lh = metrics.height();
    layout.LineHeight = lh;
    layout.FromMs = fromMs;
    layout.ToMs = std::max(fromMs + 1, toMs);
    const int left = area.left() + metrics.horizontalAdvance(QStringLiteral("000000")) + lh;
    const int right = area.right() - lh;
    const int top = area.top() + 2 * lh + lh / 2; // the title, then a panel's own title line
    const int bottom = area.bottom() - 3 * lh;    // the time axis and the legend
    const int gap = 2 * lh;
    const int height = std::max(3, (bottom - top - 2 * gap) / 3);
    layout.Levels = QRect(left, top, std::max(1, right - left), height);
    layout.Rates = layout.Levels.translated(0, height + gap);
    layout.Errors = layout.Rates.translated(0, height + gap);
    return layout;
}

void PaintLineFigures(QPainter& painter, const TLineFiguresLayout& layout, const THistoryLineFigures& figures)
{
    const int lh = layout.LineHeight;
    painter.fillRect(layout.Area, Qt::white);
    painter.setPen(Frame);
    painter.drawText(QRect(layout.Area.left(), layout.Area.top(), layout.Area.width(), lh), Qt::AlignCenter,
        QStringLiteral("Line figures: downstream blue, upstream green"));
    const auto& points = figures.Points();
    if (!figures.HasFigures()) {
        painter.drawText(layout.Area, Qt::AlignCenter, NothingMeasuredText());
        return;
    }
    const auto xOf = [&](std::int64_t ms) { return layout.X(ms); };

    // Grey where the line was down, in every panel.
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (points[i].State != TLinePointState::Down)
            continue;
        const std::int64_t end = i + 1 < points.size() ? points[i + 1].TimeMs : points[i].TimeMs + 60'000;
        for (const QRect& panel : {layout.Levels, layout.Rates, layout.Errors}) {
            const double x0 = std::max<double>(panel.left(), xOf(points[i].TimeMs));
            const double x1 = std::min<double>(panel.right(), xOf(end));
            if (x1 > x0)
                painter.fillRect(QRectF(x0, panel.top(), std::max(1.0, x1 - x0), panel.height()), DownGrey);
        }
    }

    // Lines through the points that have the figure, broken where a reading
    // has none, the line was not up, or no reading was taken for longer
    // than a few of the usual intervals.
    std::int64_t usual = 60'000;
    if (points.size() > 1) {
        std::vector<std::int64_t> steps;
        for (std::size_t i = 1; i < points.size(); ++i)
            steps.push_back(points[i].TimeMs - points[i - 1].TimeMs);
        std::nth_element(steps.begin(), steps.begin() + std::ptrdiff_t(steps.size() / 2), steps.end());
        usual = std::max<std::int64_t>(1000, steps[steps.size() / 2]);
    }
    const auto drawSeries = [&](const QRect& panel, double low, double high, float TFiguresPoint::*member,
                                const QColor& color, Qt::PenStyle style) {
        painter.save();
        painter.setClipRect(panel);
        painter.setPen(QPen(color, CurveWidth(lh), style));
        QPainterPath path;
        bool open = false;
        std::int64_t last = 0;
        for (const TFiguresPoint& p : points) {
            const float v = p.*member;
            if (!std::isfinite(v) || p.State != TLinePointState::Up || (open && p.TimeMs - last > 3 * usual)) {
                open = false;
                if (!std::isfinite(v) || p.State != TLinePointState::Up)
                    continue;
            }
            const QPointF at(xOf(p.TimeMs), panel.bottom() - (double(v) - low) / (high - low) * panel.height());
            if (open)
                path.lineTo(at);
            else
                path.moveTo(at);
            open = true;
            last = p.TimeMs;
        }
        painter.drawPath(path);
        painter.restore();
    };
    const auto valuesOf = [&](std::initializer_list<float TFiguresPoint::*> members) {
        std::vector<double> values;
        for (const TFiguresPoint& p : points)
            for (auto m : members)
                values.push_back(double(p.*m));
        return values;
    };
    // A panel whose figures the router never printed says so.
    const auto noneIn = [&](const QRect& panel, const std::vector<double>& values) {
        if (std::none_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); }))
            painter.drawText(panel, Qt::AlignCenter, NothingMeasuredText());
    };

    const std::vector<double> levels = valuesOf({&TFiguresPoint::MarginDown, &TFiguresPoint::MarginUp,
        &TFiguresPoint::AttenuationDown, &TFiguresPoint::AttenuationUp});
    const auto [levelLow, levelHigh] = RangeOf(levels, true);
    DrawValueAxis(painter, layout.Levels, lh, levelLow, levelHigh,
        QStringLiteral("SNR margin (solid) and attenuation (dashed), dB"));
    noneIn(layout.Levels, levels);
    drawSeries(layout.Levels, levelLow, levelHigh, &TFiguresPoint::MarginDown, DownColor, Qt::SolidLine);
    drawSeries(layout.Levels, levelLow, levelHigh, &TFiguresPoint::MarginUp, UpColor, Qt::SolidLine);
    drawSeries(layout.Levels, levelLow, levelHigh, &TFiguresPoint::AttenuationDown, DownColor, Qt::DashLine);
    drawSeries(layout.Levels, levelLow, levelHigh, &TFiguresPoint::AttenuationUp, UpColor, Qt::DashLine);

    const std::vector<double> rates = valuesOf({&TFiguresPoint::RateDown, &TFiguresPoint::RateUp,
        &TFiguresPoint::AttainableDown, &TFiguresPoint::AttainableUp});
    const auto [rateLow, rateHigh] = RangeOf(rates, true);
    DrawValueAxis(painter, layout.Rates, lh, rateLow, rateHigh,
        QStringLiteral("Rate (solid) and attainable rate (dashed), kbit/s"));
    noneIn(layout.Rates, rates);
    drawSeries(layout.Rates, rateLow, rateHigh, &TFiguresPoint::RateDown, DownColor, Qt::SolidLine);
    drawSeries(layout.Rates, rateLow, rateHigh, &TFiguresPoint::RateUp, UpColor, Qt::SolidLine);
    drawSeries(layout.Rates, rateLow, rateHigh, &TFiguresPoint::AttainableDown, DownColor, Qt::DashLine);
    drawSeries(layout.Rates, rateLow, rateHigh, &TFiguresPoint::AttainableUp, UpColor, Qt::DashLine);

    // Errors: CRC and errored seconds each way as four thin bars a quarter.
    std::vector<double> counts{0};
    for (const TErrorBucket& b : figures.Buckets())
        for (const std::int64_t c : {b.CrcDown, b.CrcUp, b.EsDown, b.EsUp})
            if (c >= 0)
                counts.push_back(double(c));
    const auto [errorLow, errorHigh] = RangeOf(counts, true);
    DrawValueAxis(painter, layout.Errors, lh, errorLow, errorHigh,
        QStringLiteral("Errors per 15 minutes: CRC (dark) and errored seconds (light)"), 1);
    painter.save();
    painter.setClipRect(layout.Errors);
    const double quarter = layout.X(THistoryLineFigures::BucketMs) - layout.X(0);
    const double bar = std::max(1.0, quarter / 4);
    for (const TErrorBucket& b : figures.Buckets()) {
        const double x = xOf(b.StartMs);
        const std::pair<std::int64_t, QColor> bars[] = {{b.CrcDown, DownColor}, {b.CrcUp, UpColor},
            {b.EsDown, DownColor.lighter(160)}, {b.EsUp, UpColor.lighter(160)}};
        for (int k = 0; k < 4; ++k) {
            if (bars[k].first <= 0)
                continue;
            const double h = double(bars[k].first) / (errorHigh - errorLow) * layout.Errors.height();
            painter.fillRect(QRectF(x + k * bar, layout.Errors.bottom() - h, bar, h), bars[k].second);
        }
    }
    painter.restore();

    // The time axis under the last panel, at round times.
    const QRect& axis = layout.Errors;
    painter.setPen(Frame);
    const TTimeTicks ticks = RoundTimeTicks(layout.FromMs, layout.ToMs, std::max(2, axis.width() / (9 * lh)),
        LocalOffsetMs(layout.FromMs));
    for (std::int64_t t = ticks.FirstMs; t <= ticks.LastMs; t += ticks.StepMs) {
        if (t < layout.FromMs || t > layout.ToMs)
            continue;
        const int x = int(std::lround(xOf(t)));
        painter.drawLine(x, axis.bottom(), x, axis.bottom() + lh / 3);
        painter.drawText(QRect(x - 5 * lh, axis.bottom() + lh / 3, 10 * lh, lh), Qt::AlignCenter, TimeText(t, ticks.StepMs));
    }
    painter.drawText(QRect(layout.Area.left(), axis.bottom() + 3 * lh / 2, layout.Area.width(), lh), Qt::AlignCenter,
        QStringLiteral("Grey: the line was down; gaps: no reading"));
}

QString LineFiguresReadout(const THistoryLineFigures& figures, std::int64_t timeMs)
{
    // Over a picture that says nothing was measured, the read-out says
    // nothing either, rather than a time beside no figures.
    const int at = figures.PointNearest(timeMs);
    if (at < 0 || !figures.HasFigures())
        return {};
    const TFiguresPoint& p = figures.Points()[std::size_t(at)];
    const auto pair = [](float down, float up, const QString& unit) {
        const auto text = [](float v) { return std::isfinite(v) ? QString::number(double(v), 'g', 6) : QStringLiteral("-"); };
        return text(down) + QStringLiteral(" / ") + text(up) + QLatin1Char(' ') + unit;
    };
    QString text = QDateTime::fromMSecsSinceEpoch(p.TimeMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (p.State == TLinePointState::Down)
        return text + QStringLiteral("  the line was down");
    if (p.State == TLinePointState::NoReading)
        return text + QStringLiteral("  no reading");
    return text + QStringLiteral("  margin ") + pair(p.MarginDown, p.MarginUp, QStringLiteral("dB"))
        + QStringLiteral("  attenuation ") + pair(p.AttenuationDown, p.AttenuationUp, QStringLiteral("dB"))
        + QStringLiteral("  rate ") + pair(p.RateDown, p.RateUp, QStringLiteral("kbit/s"))
        + QStringLiteral("  attainable ") + pair(p.AttainableDown, p.AttainableUp, QStringLiteral("kbit/s"));
}

double TTonePictureLayout::ToneX(int tone) const
{
    return Plot.left() + double(tone) / double(Tones) * Plot.width();
}

int TTonePictureLayout::ToneAt(int x) const
{
    if (x < Plot.left() || x > Plot.right())
        return -1;
    return std::clamp(int(double(x - Plot.left()) / std::max(1, Plot.width()) * Tones), 0, Tones - 1);
}

double TTonePictureLayout::Y(double value) const
{
    return Plot.bottom() - (value - Low) / (High - Low) * Plot.height();
}

TTonePictureLayout TonePictureLayout(const QRect& area, const QFontMetrics& metrics, int tones, double low,
    double high, bool legend)
{
    TTonePictureLayout layout;
    layout.Area = area;
    const int lh = metrics.height();
    layout.LineHeight = lh;
    layout.Tones = std::max(1, tones);
    layout.Low = low;
    layout.High = std::max(low + 1e-6, high);
    const int legendWidth = legend ? metrics.horizontalAdvance(QStringLiteral("00 dB")) + 2 * lh : 0;
    const int left = area.left() + metrics.horizontalAdvance(QStringLiteral("MM-dd HH:mm")) + 2 * lh;
    const int right = area.right() - lh - legendWidth;
    const int top = area.top() + 2 * lh;
    const int bottom = area.bottom() - 3 * lh;
    layout.Plot = QRect(left, top, std::max(1, right - left), std::max(1, bottom - top));
    if (legend)
        layout.Legend = QRect(right + lh, top + lh, legendWidth - lh, layout.Plot.height() - lh);
    return layout;
}

namespace {

// Title above the plot, and tone labels under it at round steps from 0.
void DrawToneFrame(QPainter& painter, const TTonePictureLayout& layout, const QString& title)
{
    const int lh = layout.LineHeight;
    painter.setPen(Frame);
    painter.drawText(QRect(layout.Area.left(), layout.Area.top(), layout.Area.width(), lh), Qt::AlignCenter, title);
    painter.drawRect(layout.Plot.adjusted(0, 0, -1, -1));
    const double step = RoundStep(double(layout.Tones) / std::max(1, layout.Plot.width() / (4 * lh)));
    for (double tone = 0; tone < layout.Tones; tone += step) {
        const int x = int(std::lround(layout.ToneX(int(tone))));
        painter.drawLine(x, layout.Plot.bottom(), x, layout.Plot.bottom() + lh / 3);
        painter.drawText(QRect(x - 2 * lh, layout.Plot.bottom() + lh / 3, 4 * lh, lh), Qt::AlignCenter,
            QString::number(int(tone)));
    }
    painter.drawText(QRect(layout.Plot.left(), layout.Plot.bottom() + 4 * lh / 3, layout.Plot.width(), lh),
        Qt::AlignCenter, QStringLiteral("Tone"));
}

// Lines per direction through the tones that have a value.
void DrawToneLine(QPainter& painter, const TTonePictureLayout& layout, const TBandPlan& bands,
    const std::function<float(int)>& valueAt, Qt::PenStyle style, const QColor* color = nullptr)
{
    painter.save();
    painter.setClipRect(layout.Plot);
    for (const TToneDirection direction : {TToneDirection::Upstream, TToneDirection::Downstream}) {
        painter.setPen(QPen(color ? *color : direction == TToneDirection::Upstream ? UpColor : DownColor,
            CurveWidth(layout.LineHeight) / 2, style));
        QPainterPath path;
        bool open = false;
        for (int tone = 0; tone < layout.Tones; ++tone) {
            const float v = valueAt(tone);
            if (bands.DirectionOf(tone) != direction || !IsMeasured(v)) {
                open = false;
                continue;
            }
            const QPointF at(layout.ToneX(tone) + 0.5, layout.Y(double(v)));
            if (open)
                path.lineTo(at);
            else
                path.moveTo(at);
            open = true;
        }
        painter.drawPath(path);
    }
    painter.restore();
}

} // namespace

void PaintSnrWaterfall(QPainter& painter, const QRect& area, const THistoryFigures& rows, const THistorySnr& snr,
    std::int64_t fromMs, std::int64_t toMs)
{
    painter.fillRect(area, Qt::white);
    const TTonePictureLayout layout = TonePictureLayout(area, painter.fontMetrics(), snr.ToneCount(), 0, 1, true);
    const int lh = layout.LineHeight;
    DrawToneFrame(painter, layout, QStringLiteral("SNR waterfall: SNR per tone, newest at the top"));
    if (!snr.HasSnr()) {
        painter.drawText(layout.Plot, Qt::AlignCenter, NothingMeasuredText());
        return;
    }
    const TWaterfallRows map = rows.WaterfallRows(layout.Plot.height(), fromMs, toMs);
    painter.drawImage(layout.Plot.topLeft(), snr.ScaledWaterfall(map, layout.Plot.width()));
    const TTimeTicks ticks = RoundTimeTicks(map.FromMs, map.ToMs, std::max(2, layout.Plot.height() / (2 * lh)),
        LocalOffsetMs(map.FromMs));
    for (std::int64_t t = ticks.FirstMs; t <= ticks.LastMs; t += ticks.StepMs) {
        if (t < map.FromMs || t > map.ToMs)
            continue;
        const int y = layout.Plot.top() + int(std::lround(map.Y(t)));
        painter.drawLine(layout.Plot.left() - lh / 3, y, layout.Plot.left(), y);
        painter.drawText(QRect(layout.Area.left(), y - lh / 2, layout.Plot.left() - lh / 2 - layout.Area.left(), lh),
            Qt::AlignRight | Qt::AlignVCenter, TimeText(t, ticks.StepMs));
    }
    // The legend: the ramp from low to high SNR, and not measured.
    const QRect& legend = layout.Legend;
    painter.drawText(QRect(legend.left(), legend.top() - lh, legend.width(), lh), Qt::AlignLeft, QStringLiteral("dB"));
    // A swatch every 10 dB, so each label is a round value of the ramp.
    const int steps = int(std::lround((SnrColorHighDb - SnrColorLowDb) / 10));
    const int cell = std::max(4, std::min(lh, (legend.height() - 2 * lh) / (steps + 1)));
    for (int k = 0; k <= steps; ++k) {
        const float db = SnrColorHighDb - (SnrColorHighDb - SnrColorLowDb) * float(k) / steps;
        const QRect swatch(legend.left(), legend.top() + k * cell, cell, cell);
        painter.fillRect(swatch, QColor::fromRgb(SnrColor(db)));
        painter.drawText(QRect(swatch.right() + lh / 3, swatch.top(), legend.width(), cell), Qt::AlignLeft | Qt::AlignVCenter,
            QString::number(double(db), 'f', 0));
    }
    const QRect none(legend.left(), legend.top() + (steps + 2) * cell, cell, cell);
    painter.fillRect(none, QColor::fromRgb(SnrNotMeasuredColor));
    painter.drawText(QRect(none.right() + lh / 3, none.top(), legend.width(), cell), Qt::AlignLeft | Qt::AlignVCenter,
        QStringLiteral("none"));
}

void PaintSnrEnvelope(QPainter& painter, const QRect& area, const THistorySnr& snr)
{
    painter.fillRect(area, Qt::white);
    std::vector<double> values{0};
    for (int tone = 0; tone < snr.ToneCount(); ++tone)
        values.push_back(double(snr.Max(tone)));
    const auto [low, high] = RangeOf(values, true);
    const TTonePictureLayout layout = TonePictureLayout(area, painter.fontMetrics(), snr.ToneCount(), low, high, false);
    DrawToneFrame(painter, layout, QStringLiteral("SNR envelope: latest (bars), lowest (red) and highest (black), dB"));
    if (!snr.HasSnr()) {
        painter.drawText(layout.Plot, Qt::AlignCenter, NothingMeasuredText());
        return;
    }
    DrawValueAxis(painter, layout.Plot, layout.LineHeight, low, high, QString());
    painter.save();
    painter.setClipRect(layout.Plot);
    for (int tone = 0; tone < layout.Tones; ++tone) {
        const float v = snr.Latest(tone);
        if (!IsMeasured(v))
            continue;
        const double x0 = layout.ToneX(tone), x1 = std::max(x0 + 1, layout.ToneX(tone + 1));
        const double y = layout.Y(double(v)), zero = layout.Y(std::max(0.0, low));
        painter.fillRect(QRectF(x0, std::min(y, zero), x1 - x0, std::abs(zero - y)),
            snr.Bands().DirectionOf(tone) == TToneDirection::Upstream ? UpColor : DownColor);
    }
    painter.restore();
    const QColor red(0xE0, 0, 0), black(Qt::black);
    DrawToneLine(painter, layout, snr.Bands(), [&](int t) { return snr.Min(t); }, Qt::SolidLine, &red);
    DrawToneLine(painter, layout, snr.Bands(), [&](int t) { return snr.Max(t); }, Qt::SolidLine, &black);
}

void PaintTraining(QPainter& painter, const QRect& area, const THistorySnr& snr)
{
    painter.fillRect(area, Qt::white);
    const TToneSpectra& training = snr.Training();
    const QRect top(area.left(), area.top(), area.width(), area.height() / 2);
    const QRect bottom(area.left(), top.bottom() + 1, area.width(), area.height() - top.height());
    const auto panel = [&](const QRect& rect, const TToneSpectrum& spectrum, const QString& title) {
        std::vector<double> values;
        const auto valueAt = [&](int tone) {
            switch (snr.Bands().DirectionOf(tone)) {
            case TToneDirection::Upstream: return spectrum.Up.At(tone);
            case TToneDirection::Downstream: return spectrum.Down.At(tone);
            case TToneDirection::Neither: break;
            }
            return NotMeasured;
        };
        for (int tone = 0; tone < snr.ToneCount(); ++tone)
            values.push_back(double(valueAt(tone)));
        const auto [low, high] = RangeOf(values, false);
        const TTonePictureLayout layout = TonePictureLayout(rect, painter.fontMetrics(), snr.ToneCount(), low, high, false);
        DrawToneFrame(painter, layout, title);
        if (spectrum.Empty()) {
            painter.drawText(layout.Plot, Qt::AlignCenter, NothingMeasuredText());
            return;
        }
        DrawValueAxis(painter, layout.Plot, layout.LineHeight, low, high, QString());
        DrawToneLine(painter, layout, snr.Bands(), valueAt, Qt::SolidLine);
    };
    const QString when = snr.TrainingMs() > 0
        ? QStringLiteral(" (training of %1)")
              .arg(QDateTime::fromMSecsSinceEpoch(snr.TrainingMs()).toString(QStringLiteral("yyyy-MM-dd HH:mm")))
        : QString();
    panel(top, training.Qln, QStringLiteral("Quiet line noise, dBm/Hz") + when);
    panel(bottom, training.Hlog, QStringLiteral("Channel attenuation (Hlog), dB") + when);
}

QString SnrReadout(const THistorySnr& snr, int tone, double spacingKHz)
{
    if (tone < 0 || !snr.HasSnr())
        return {};
    const auto db = [](float v) {
        return IsMeasured(v) ? QString::number(double(v), 'f', 1) + QStringLiteral(" dB") : QStringLiteral("not measured");
    };
    return QStringLiteral("Tone %1 (%2 kHz): SNR %3, lowest %4, highest %5")
        .arg(tone)
        .arg(QString::number(tone * spacingKHz, 'f', 2), db(snr.Latest(tone)), db(snr.Min(tone)), db(snr.Max(tone)));
}
