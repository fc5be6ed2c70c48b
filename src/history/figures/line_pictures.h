// The pictures of the line's figures and SNR over a period: one painting
// function each, given the figures, a painter and a rectangle, so the History
// window's views, its saved pictures and the line report draw the same thing.
// Each layout is computed once from the area and the font and read by
// painting and by the read-out under the pointer alike.
#pragma once

#include "history/figures/history_figures.h"
#include "history/figures/line_figures_history.h"
#include "history/figures/snr_history.h"

#include <QFontMetrics>
#include <QPainter>
#include <QRect>
#include <QString>

#include <cstdint>

// Where the "Line figures" picture's three panels go, on one time axis:
// margin and attenuation (dB), actual and attainable rate (kbit/s), and the
// errors of each 15 minutes as bars.
struct TLineFiguresLayout {
    QRect Area;
    QRect Levels, Rates, Errors;
    int LineHeight = 0;
    std::int64_t FromMs = 0, ToMs = 1;

    double X(std::int64_t ms) const;
    std::int64_t TimeAt(int x) const;
};
TLineFiguresLayout LineFiguresLayout(const QRect& area, const QFontMetrics& metrics, std::int64_t fromMs,
    std::int64_t toMs);
void PaintLineFigures(QPainter& painter, const TLineFiguresLayout& layout, const THistoryLineFigures& figures);
// "2026-12-07 18:05  margin 6.1 / 9.0 dB  attenuation 21.4 / 0.0 dB  rate 68000 / 21000 kbit/s ...",
// downstream before upstream; the reading nearest the time.
QString LineFiguresReadout(const THistoryLineFigures& figures, std::int64_t timeMs);

// Where a picture over the tones goes: the plot, and room for the title, the
// axes and a legend.
struct TTonePictureLayout {
    QRect Area, Plot, Legend;
    int LineHeight = 0;
    int Tones = 1;
    double Low = 0, High = 1; // the value axis, bottom to top

    double ToneX(int tone) const;
    int ToneAt(int x) const; // -1 off the plot
    double Y(double value) const;
};
TTonePictureLayout TonePictureLayout(const QRect& area, const QFontMetrics& metrics, int tones, double low,
    double high, bool legend);

// The SNR waterfall: tones across, rows of the History figures' row map down
// (newest at the top), each cell coloured by its SNR.
void PaintSnrWaterfall(QPainter& painter, const QRect& area, const THistoryFigures& rows, const THistorySnr& snr,
    std::int64_t fromMs, std::int64_t toMs);
// The SNR envelope: each tone's latest SNR as a bar in its direction's
// colour, its lowest over the period as a red line and its highest as a
// black one.
void PaintSnrEnvelope(QPainter& painter, const QRect& area, const THistorySnr& snr);
// QLN (dBm/Hz) and Hlog (dB) of the newest training, one above the other.
void PaintTraining(QPainter& painter, const QRect& area, const THistorySnr& snr);
// The SNR envelope's read-out at a tone: "Tone 840 (3622.50 kHz): SNR 31.5 dB, lowest 12.0 dB, highest 33.0 dB".
QString SnrReadout(const THistorySnr& snr, int tone, double spacingKHz);

// What the pictures say where the line gave nothing of the quantity.
QString NothingMeasuredText();
