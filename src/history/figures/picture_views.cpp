#include "history/figures/picture_views.h"

#include "history/figures/snr_history.h"

#include <QDateTime>
#include <QMouseEvent>
#include <QPainter>

THistoryPictureView::THistoryPictureView(TPicture picture, const THistoryFigures& figures, QWidget* parent)
    : QWidget(parent)
    , FPicture(picture)
    , FFigures(figures)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void THistoryPictureView::SetSpan(std::int64_t fromMs, std::int64_t toMs)
{
    FFromMs = fromMs;
    FToMs = std::max(fromMs + 1, toMs);
    update();
}

void THistoryPictureView::Draw(QPainter& painter, const QRect& area) const
{
    switch (FPicture) {
    case TPicture::LineFigures:
        PaintLineFigures(painter, LineFiguresLayout(area, painter.fontMetrics(), FFromMs, FToMs), FFigures.LineFigures());
        break;
    case TPicture::SnrWaterfall:
        PaintSnrWaterfall(painter, area, FFigures, FFigures.Snr(), FFromMs, FToMs);
        break;
    case TPicture::SnrEnvelope:
        PaintSnrEnvelope(painter, area, FFigures.Snr());
        break;
    case TPicture::Training:
        PaintTraining(painter, area, FFigures.Snr());
        break;
    }
}

QString THistoryPictureView::ReadoutAt(QPoint point) const
{
    const THistorySnr& snr = FFigures.Snr();
    const QFontMetrics metrics = fontMetrics();
    switch (FPicture) {
    case TPicture::LineFigures: {
        const TLineFiguresLayout layout = LineFiguresLayout(rect(), metrics, FFromMs, FToMs);
        if (point.x() < layout.Levels.left() || point.x() > layout.Levels.right())
            return {};
        return LineFiguresReadout(FFigures.LineFigures(), layout.TimeAt(point.x()));
    }
    case TPicture::SnrWaterfall: {
        const TTonePictureLayout layout = TonePictureLayout(rect(), metrics, snr.ToneCount(), 0, 1, true);
        const int tone = layout.ToneAt(point.x());
        const int row = FFigures.WaterfallRows(layout.Plot.height(), FFromMs, FToMs).At(point.y() - layout.Plot.top());
        if (tone < 0 || row < 0 || !layout.Plot.contains(point))
            return {};
        const float db = snr.SnrAt(row, tone);
        return QStringLiteral("%1  Tone %2 (%3 kHz): SNR %4")
            .arg(QDateTime::fromMSecsSinceEpoch(FFigures.Row(row).TimeMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
            .arg(tone)
            .arg(QString::number(tone * FFigures.SpacingKHz(), 'f', 2),
                IsMeasured(db) ? QString::number(double(db), 'f', 1) + QStringLiteral(" dB") : QStringLiteral("not measured"));
    }
    case TPicture::SnrEnvelope: {
        const TTonePictureLayout layout = TonePictureLayout(rect(), metrics, snr.ToneCount(), 0, 1, false);
        return SnrReadout(snr, layout.ToneAt(point.x()), FFigures.SpacingKHz());
    }
    case TPicture::Training: {
        const TTonePictureLayout layout = TonePictureLayout(rect(), metrics, snr.ToneCount(), 0, 1, false);
        const int tone = layout.ToneAt(point.x());
        if (tone < 0)
            return {};
        const TToneSpectra& t = snr.Training();
        const bool up = snr.Bands().DirectionOf(tone) == TToneDirection::Upstream;
        const auto text = [](float v, const char* unit) {
            return IsMeasured(v) ? QString::number(double(v), 'f', 1) + QLatin1Char(' ') + QLatin1String(unit)
                                 : QStringLiteral("not measured");
        };
        return QStringLiteral("Tone %1 (%2 kHz): QLN %3, Hlog %4")
            .arg(tone)
            .arg(QString::number(tone * FFigures.SpacingKHz(), 'f', 2),
                text(up ? t.Qln.Up.At(tone) : t.Qln.Down.At(tone), "dBm/Hz"),
                text(up ? t.Hlog.Up.At(tone) : t.Hlog.Down.At(tone), "dB"));
    }
    }
    return {};
}

void THistoryPictureView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    Draw(painter, rect());
}

void THistoryPictureView::mouseMoveEvent(QMouseEvent* event)
{
    emit Readout(ReadoutAt(event->position().toPoint()));
}

void THistoryPictureView::leaveEvent(QEvent*)
{
    emit Readout(QString());
}
