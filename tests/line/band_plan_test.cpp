// A line's band plan decides each tone's direction and every per-direction
// sum; its spacing decides the symbol rate. Plans of the lines the program
// reads, with loaded tones inside and outside their bands, counted by hand.
#include "line/parsed_line.h"
#include "line/tone_plan.h"

#include <gtest/gtest.h>

namespace {

TEST(BandPlan, DirectionSumsAndRate)
{
    const TBandPlan vdsl17a{{{870, 1205}, {1972, 2782}}, {{33, 859}, {1216, 1961}, {2793, 4095}}};
    const TBandPlan vdsl35b{{{870, 1205}, {1972, 2782}}, {{33, 859}, {1216, 1961}, {2793, 8191}}};
    const TBandPlan vdsl30a{{{435, 602}, {986, 1391}}, {{17, 429}, {608, 980}, {1397, 3478}}};
    const struct {
        const char* name;
        TBandPlan plan;
        int tones;
        double spacing;
        int every;             // bits on every tone
        int tone, bits;        // ...but these on this one
        TToneDirection probed; // the direction of that tone
        TDirectionBits sums;
        int symbols;
        double downKbps;
    } cases[] = {
        {"ADSL (ZyXEL)", ZyxelBandPlan(), 513, 4.3125, 2, 31, 2, TToneDirection::Upstream, {64, 962}, 4000, 3848},
        {"ADSL2+", AdslDefaultBandPlan(512), 512, 4.3125, 2, 32, 2, TToneDirection::Downstream, {52, 960}, 4000, 3840},
        {"17a", vdsl17a, 4096, 4.3125, 2, 1210, 2, TToneDirection::Neither, {2294, 5752}, 4000, 23008},
        {"30a", vdsl30a, 3479, 8.625, 2, 604, 2, TToneDirection::Neither, {1148, 5736}, 8000, 45888},
        {"35b", vdsl35b, 8192, 4.3125, 2, 8191, 2, TToneDirection::Downstream, {2294, 13944}, 4000, 55776},
        // Loaded below the upstream band: counted in neither direction.
        {"ADSL2+, tone 3 loaded", AdslDefaultBandPlan(512), 512, 4.3125, 0, 3, 7, TToneDirection::Neither, {0, 0}, 4000, 0},
        // More than a tone can carry counts as 15.
        {"17a, tone 40 spoilt", vdsl17a, 4096, 4.3125, 0, 40, 200, TToneDirection::Downstream, {0, 15}, 4000, 60},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> bits(std::size_t(c.tones), std::uint8_t(c.every));
        bits[std::size_t(c.tone)] = std::uint8_t(c.bits);
        EXPECT_EQ(c.plan.DirectionOf(c.tone), c.probed);
        const TDirectionBits sums = c.plan.BitsPerDirection(bits);
        EXPECT_EQ(sums.Upstream, c.sums.Upstream);
        EXPECT_EQ(sums.Downstream, c.sums.Downstream);
        EXPECT_EQ(SymbolRate(c.spacing), c.symbols);
        EXPECT_DOUBLE_EQ(LineRateKbps(sums.Downstream, c.spacing), c.downKbps);
    }
}

} // namespace
