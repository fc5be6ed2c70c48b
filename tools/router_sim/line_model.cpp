#include "router_sim/line_model.h"

#include <algorithm>
#include <random>

namespace routersim {

namespace {

constexpr int FirstUpstreamTone = 6;
constexpr int LastUpstreamTone = 31;
constexpr int FirstDownstreamTone = 33;
constexpr int LastTone = ToneCount - 1;

// A value in [low, high] from the generator's raw output.
int Between(std::mt19937& rng, int low, int high)
{
    return low + static_cast<int>(rng() % static_cast<std::uint32_t>(high - low + 1));
}

} // namespace

LineModel::LineModel(std::uint32_t seed)
    : FSeed(seed)
{
    std::mt19937 rng(seed);
    const int upstreamTop = Between(rng, 10, 13);
    const int downstreamTop = Between(rng, 12, 15);
    const int cutoff = Between(rng, 340, 470);

    for (int t = FirstUpstreamTone; t <= LastUpstreamTone; ++t) {
        // A quick rise over the first tones, then a gentle fall.
        const int rise = 4 + 2 * (t - FirstUpstreamTone);
        const int fall = upstreamTop - (t - 14) / 6;
        FBase[t] = std::clamp(std::min(rise, t < 14 ? upstreamTop : fall) + Between(rng, -1, 1), 2, 15);
    }
    for (int t = FirstDownstreamTone; t <= cutoff && t <= LastTone; ++t) {
        const int span = cutoff - FirstDownstreamTone;
        const int falling = downstreamTop - ((downstreamTop - 2) * (t - FirstDownstreamTone) + span / 2) / span;
        FBase[t] = std::clamp(falling + Between(rng, -1, 1), 1, 15);
    }
    const int notches = Between(rng, 2, 4);
    for (int n = 0; n < notches; ++n) {
        const int centre = Between(rng, 60, cutoff - 10);
        const int halfWidth = Between(rng, 1, 4);
        const int depth = Between(rng, 3, 8);
        for (int t = centre - halfWidth; t <= centre + halfWidth; ++t) {
            const int dip = depth - depth * std::abs(t - centre) / (halfWidth + 1);
            FBase[t] = std::max(0, FBase[t] - dip);
        }
    }
}

LineReading LineModel::Reading(std::uint32_t index) const
{
    std::mt19937 rng(FSeed ^ (0x9E3779B9u * (index + 1)));
    LineReading r;
    r.bits = FBase;
    // About one loaded tone in eight gains or loses a bit.
    for (int t = 1; t <= LastTone; ++t) {
        if (FBase[t] == 0)
            continue;
        const auto roll = rng() % 16;
        if (roll == 0)
            r.bits[t] = std::min(15, FBase[t] + 1);
        else if (roll == 1)
            r.bits[t] = std::max(1, FBase[t] - 1);
    }
    r.noiseMarginTenthsDb = Between(rng, 60, 125);
    r.outputPowerDb = Between(rng, 6, 9);
    r.attenuationDb = Between(rng, 18, 42);
    return r;
}

} // namespace routersim
