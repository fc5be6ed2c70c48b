#include "chart/tone_quantity_plot.h"

#include "chart/chart21_settings.h"
#include "chart/chart_layout.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

QString ToneQuantityName(TToneQuantity quantity)
{
    switch (quantity) {
    case TToneQuantity::Bits:
        return QStringLiteral("Bits");
    case TToneQuantity::Snr:
        return QStringLiteral("SNR");
    case TToneQuantity::Qln:
        return QStringLiteral("QLN");
    case TToneQuantity::Hlog:
        return QStringLiteral("Hlog");
    }
    return {};
}

QString ToneQuantityKey(TToneQuantity quantity)
{
    return ToneQuantityName(quantity).toLower();
}

std::optional<TToneQuantity> ToneQuantityFromKey(const QString& key)
{
    for (TToneQuantity quantity : ToneQuantities)
        if (key.trimmed().compare(ToneQuantityKey(quantity), Qt::CaseInsensitive) == 0)
            return quantity;
    return std::nullopt;
}

QString ToneQuantityUnit(TToneQuantity quantity)
{
    switch (quantity) {
    case TToneQuantity::Bits:
        return {};
    case TToneQuantity::Snr:
    case TToneQuantity::Hlog:
        return QStringLiteral("dB");
    case TToneQuantity::Qln:
        return QStringLiteral("dBm/Hz");
    }
    return {};
}

const TToneSpectrum* SpectrumOf(const TToneSpectra& spectra, TToneQuantity quantity)
{
    switch (quantity) {
    case TToneQuantity::Bits:
        return nullptr;
    case TToneQuantity::Snr:
        return &spectra.Snr;
    case TToneQuantity::Qln:
        return &spectra.Qln;
    case TToneQuantity::Hlog:
        return &spectra.Hlog;
    }
    return nullptr;
}

float ToneValue(const TToneSpectrum& spectrum, const TBandPlan& bands, int tone)
{
    switch (bands.DirectionOf(tone)) {
    case TToneDirection::Upstream:
        return spectrum.Up.At(tone);
    case TToneDirection::Downstream:
        return spectrum.Down.At(tone);
    case TToneDirection::Neither:
        break;
    }
    return NotMeasured;
}

TQuantityAxis QuantityAxis(TToneQuantity quantity, float lowest, float highest)
{
    TQuantityAxis axis;
    const QString unit = ToneQuantityUnit(quantity);
    axis.Title = unit.isEmpty() ? QString::fromLatin1(Chart21BitsTitle)
                                : ToneQuantityName(quantity) + QStringLiteral(" (") + unit + QLatin1Char(')');
    if (quantity == TToneQuantity::Bits) {
        axis.Minimum = Chart21BitsMinimum;
        axis.Maximum = Chart21BitsMaximum;
        return axis;
    }
    // Where the routers' values usually lie, for a chart with none.
    double low = quantity == TToneQuantity::Snr ? 0 : quantity == TToneQuantity::Qln ? -160 : -100;
    double high = quantity == TToneQuantity::Snr ? 60 : quantity == TToneQuantity::Qln ? -80 : 0;
    if (IsMeasured(lowest) && IsMeasured(highest)) {
        low = std::floor(lowest / 10.0) * 10.0;
        high = std::ceil(highest / 10.0) * 10.0;
        // SNR bars stand on 0 dB, so their heights compare as they are.
        if (quantity == TToneQuantity::Snr)
            low = std::min(low, 0.0);
        if (high - low < 20)
            high = low + 20;
    }
    axis.Minimum = low;
    axis.Maximum = high;
    return axis;
}

QString NotMeasuredOnLine()
{
    return QStringLiteral("not measured on this line");
}

namespace {

// A new range whichever side of the old one it lies: Maximum may never go
// below Minimum on the way.
void SetRange(TChartAxis& axis, double minimum, double maximum)
{
    if (minimum > axis.Maximum()) {
        axis.SetMaximum(maximum);
        axis.SetMinimum(minimum);
    } else {
        axis.SetMinimum(minimum);
        axis.SetMaximum(maximum);
    }
}

TColor BandColour(const TBandPlan& bands, int tone)
{
    return bands.DirectionOf(tone) == TToneDirection::Upstream ? clGreen : clBlue;
}

} // namespace

bool PlotToneQuantity(const TQuantityChart& chart, const TReading& reading, int firstTone, int lastTone,
                      TToneQuantity quantity)
{
    TBarSeries& series = chart.Series;
    series.ClearPoints();
    const TToneSpectrum* spectrum = SpectrumOf(reading.Spectra, quantity);
    float lowest = NotMeasured, highest = NotMeasured;
    for (int tone = firstTone; tone <= lastTone; ++tone) {
        const QString label = QString::number(tone);
        if (!spectrum) {
            series.AppendBar(double(ToneBitsAt(reading, tone)), label, BandColour(reading.Bands, tone));
            continue;
        }
        const float value = ToneValue(*spectrum, reading.Bands, tone);
        if (!IsMeasured(value)) {
            series.AppendBar(std::nan(""), label, clNone);
            continue;
        }
        lowest = IsMeasured(lowest) ? std::min(lowest, value) : value;
        highest = IsMeasured(highest) ? std::max(highest, value) : value;
        series.AppendBar(double(value), label, BandColour(reading.Bands, tone));
    }
    // dB bars rise from the axis' foot: QLN and Hlog lie below 0.
    series.UseYOrigin = spectrum == nullptr;
    const TQuantityAxis axis = QuantityAxis(quantity, lowest, highest);
    chart.Left.TitleCaption = axis.Title;
    SetRange(chart.Left, axis.Minimum, axis.Maximum);
    chart.Bottom.SetMinimum(lastTone - firstTone + 1 > DesignedBarCount ? 0 : Chart21FirstTone);
    if (!spectrum)
        return true;
    const auto anyMeasured = [](const TSpectrumPart& part) {
        return std::any_of(part.Groups.begin(), part.Groups.end(), [](float v) { return IsMeasured(v); });
    };
    return anyMeasured(spectrum->Up) || anyMeasured(spectrum->Down);
}

THoverTexts QuantityHoverTexts(TToneQuantity quantity, int index, int toneOffset, double value,
                               double spacingKHz)
{
    THoverTexts texts = HoverTexts(index, toneOffset, value, spacingKHz);
    if (quantity == TToneQuantity::Bits)
        return texts;
    const QString name = ToneQuantityName(quantity) + QLatin1Char(':');
    if (index < 0) {
        texts.Bits = name;
        return texts;
    }
    // As wide as the Bits line's caption, so the values line up.
    const QString padded = name.leftJustified(22, QLatin1Char(' '));
    texts.Bits = std::isnan(value)
        ? padded + QStringLiteral("not measured")
        : padded + QLocale().toString(value, 'f', 1) + QLatin1Char(' ') + ToneQuantityUnit(quantity);
    return texts;
}
