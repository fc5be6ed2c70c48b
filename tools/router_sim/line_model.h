// The simulated line: how many bits the modem loads onto each tone, reading
// after reading. A base profile is drawn once from the seed (upstream tones 6
// to 31, downstream from 33 up to a cut-off, falling with frequency, a few
// notches where radio stations sit); each reading drifts a little from it.
// Only the 32-bit Mersenne Twister's raw output is used, so a seed gives the
// same line with every standard library.
#pragma once

#include <array>
#include <cstdint>

namespace routersim {

constexpr int ToneCount = 513; // tones 0 to 512
using BitLoading = std::array<int, ToneCount>;

// What one reading reports besides the bit table.
struct LineReading {
    BitLoading bits{};
    int noiseMarginTenthsDb = 0; // 0.0 to 99.9 dB
    int outputPowerDb = 0;       // 0 to 9 dBm
    int attenuationDb = 0;       // 0 to 99 dB
};

class LineModel {
public:
    explicit LineModel(std::uint32_t seed);

    // Reading number `index` (0, 1, 2, ...): the same index always gives the
    // same reading.
    LineReading Reading(std::uint32_t index) const;

    const BitLoading& Base() const { return FBase; }

private:
    std::uint32_t FSeed;
    BitLoading FBase{};
};

} // namespace routersim
