// The History window's views of the line's figures and SNR: thin widgets over
// the painting functions of line_pictures.h, each saying in words what the
// pointer is over.
#pragma once

#include "history/figures/history_figures.h"
#include "history/figures/line_pictures.h"

#include <QWidget>

#include <cstdint>

class THistoryPictureView : public QWidget {
    Q_OBJECT
public:
    enum class TPicture { LineFigures, SnrWaterfall, SnrEnvelope, Training };

    THistoryPictureView(TPicture picture, const THistoryFigures& figures, QWidget* parent = nullptr);

    // The same drawing the widget shows, for saving a picture and the report.
    void Draw(QPainter& painter, const QRect& area) const;
    // The time span a time axis shows, UTC ms.
    void SetSpan(std::int64_t fromMs, std::int64_t toMs);
    // What is under a point of the widget, in words; empty off the plot.
    QString ReadoutAt(QPoint point) const;

signals:
    void Readout(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    TPicture FPicture;
    const THistoryFigures& FFigures;
    std::int64_t FFromMs = 0;
    std::int64_t FToMs = 1;
};
