#include "line/family_per_tone.h"

#include <charconv>
#include <cmath>

namespace {

// The value of a row, or none for text that is no decimal.
std::optional<double> Decimal(std::string_view text)
{
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

bool NoData(TToneQuantity quantity, double value)
{
    switch (quantity) {
    case TToneQuantity::Snr: return value == 0;
    case TToneQuantity::Qln: return value == 0 || value == -160;
    case TToneQuantity::Hlog: return value <= -96;
    case TToneQuantity::Bits: break;
    }
    return true;
}

// The largest group size over which every measured value of the direction
// repeats. The table has one row a tone whatever the groups: the routers
// repeat a group's value over its tones.
int InferredGroupSize(const std::vector<float>& tones)
{
    for (int size : {16, 8, 4, 2}) {
        bool repeats = true;
        for (std::size_t start = 0; repeats && start < tones.size(); start += std::size_t(size)) {
            float first = NotMeasured;
            for (std::size_t t = start; repeats && t < std::min(tones.size(), start + std::size_t(size)); ++t) {
                if (!IsMeasured(tones[t]))
                    continue;
                if (!IsMeasured(first))
                    first = tones[t];
                else
                    repeats = tones[t] == first;
            }
        }
        if (repeats)
            return size;
    }
    return 1;
}

TSpectrumPart Part(const std::vector<float>& tones)
{
    TSpectrumPart part;
    part.GroupSize = InferredGroupSize(tones);
    const std::size_t size = std::size_t(part.GroupSize);
    part.Groups.assign((tones.size() + size - 1) / size, NotMeasured);
    for (std::size_t t = 0; t < tones.size(); ++t)
        if (IsMeasured(tones[t]) && !IsMeasured(part.Groups[t / size]))
            part.Groups[t / size] = tones[t];
    DropUnmeasured(part);
    return part;
}

TToneSpectrum Spectrum(std::string_view reply, TToneQuantity quantity, const TBandPlan& bands, int toneCount)
{
    std::vector<float> up(std::size_t(toneCount), NotMeasured), down = up;
    bool inTable = false;
    for (std::string_view text : ReplyLines(reply)) {
        const auto fields = Fields(text);
        if (fields.size() > 1 && fields[0] == "Tone" && fields[1] == "number") {
            inTable = true;
            continue;
        }
        if (!inTable || fields.size() != 2)
            continue;
        const auto tone = WholeNumber(fields[0]);
        const auto value = Decimal(fields[1]);
        // Rows past the profile are stale.
        if (!tone || !value || *tone >= toneCount || NoData(quantity, *value))
            continue;
        switch (bands.DirectionOf(int(*tone))) {
        case TToneDirection::Upstream: up[std::size_t(*tone)] = float(*value); break;
        case TToneDirection::Downstream: down[std::size_t(*tone)] = float(*value); break;
        case TToneDirection::Neither: break;
        }
    }
    return {Part(up), Part(down)};
}

} // namespace

TToneSpectra BroadcomSpectra(const TFamilyReplies& replies, const TBandPlan& bands, int toneCount)
{
    TToneSpectra spectra;
    const struct {
        TReplyRole role;
        TToneQuantity quantity;
        TToneSpectrum* into;
    } parts[] = {{TReplyRole::SnrBoth, TToneQuantity::Snr, &spectra.Snr},
        {TReplyRole::QlnBoth, TToneQuantity::Qln, &spectra.Qln},
        {TReplyRole::HlogBoth, TToneQuantity::Hlog, &spectra.Hlog}};
    for (const auto& part : parts)
        if (const auto it = replies.find(part.role); it != replies.end())
            *part.into = Spectrum(it->second, part.quantity, bands, toneCount);
    return spectra;
}
