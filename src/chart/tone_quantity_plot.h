// The chart's four quantities: the bits, SNR, QLN or Hlog of each tone put
// on the bar series, with the left axis to match and the read-out's texts.
// Widget-free: the window and anything that draws its chart without one
// fill the chart alike.
#pragma once

#include "chart/chart_engine.h"
#include "chart/series.h"
#include "line/hover_readout.h"
#include "line/reading.h"
#include "line/tone_values.h"

#include <QString>

#include <array>
#include <optional>

inline constexpr std::array<TToneQuantity, 4> ToneQuantities = {
    TToneQuantity::Bits, TToneQuantity::Snr, TToneQuantity::Qln, TToneQuantity::Hlog};

// "Bits", "SNR", "QLN", "Hlog": the menu's and the read-out's name.
QString ToneQuantityName(TToneQuantity quantity);
// "bits", "snr", "qln", "hlog": the settings file's word.
QString ToneQuantityKey(TToneQuantity quantity);
std::optional<TToneQuantity> ToneQuantityFromKey(const QString& key);
// "", "dB", "dBm/Hz", "dB".
QString ToneQuantityUnit(TToneQuantity quantity);

// The spectrum that holds a quantity; none for Bits.
const TToneSpectrum* SpectrumOf(const TToneSpectra& spectra, TToneQuantity quantity);

// A tone's value: its group's, in the direction its band carries; not
// measured for a tone in neither direction's bands.
float ToneValue(const TToneSpectrum& spectrum, const TBandPlan& bands, int tone);

// The left axis of a quantity: its title and its range, whole tens of dB
// around the values shown (SNR from 0 at most), a range of its own when
// nothing is measured. Bits keep the designed 0 to 16.
struct TQuantityAxis {
    QString Title;
    double Minimum = 0;
    double Maximum = 0;
};
TQuantityAxis QuantityAxis(TToneQuantity quantity, float lowest, float highest);

// The text written on the chart when a reading has none of a quantity.
QString NotMeasuredOnLine();

// What a chart is filled through.
struct TQuantityChart {
    TBarSeries& Series;
    TChartAxis& Bottom;
    TChartAxis& Left;
};

// Puts tones firstTone to lastTone of the reading on the chart as bars of
// the quantity: upstream tones green, the rest blue (the bands decide), a
// tone not measured as a gap (no colour, no value). A line longer than the
// designed one starts its axis at tone 0. False when the reading holds no
// value of the quantity at all (never for Bits).
bool PlotToneQuantity(const TQuantityChart& chart, const TReading& reading, int firstTone, int lastTone,
                      TToneQuantity quantity);

// The read-out's texts for bar `index` showing `value`: as HoverTexts for
// Bits; for the others the value with its unit, or "not measured".
THoverTexts QuantityHoverTexts(TToneQuantity quantity, int index, int toneOffset, double value,
                               double spacingKHz);
