// Which tones carry which direction: inclusive ranges of tones per direction,
// as the router reports them.
#pragma once

#include <vector>

struct TToneBand {
    int First = 0;
    int Last = 0; // inclusive

    bool operator==(const TToneBand&) const = default;
};

struct TBandPlan {
    std::vector<TToneBand> Upstream;
    std::vector<TToneBand> Downstream;

    bool operator==(const TBandPlan&) const = default;
};

// The ZyXEL line: tones 0 to 31 upstream, 32 to 512 downstream.
inline TBandPlan ZyxelBandPlan()
{
    return {{{0, 31}}, {{32, 512}}};
}
