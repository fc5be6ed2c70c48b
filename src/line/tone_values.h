// SNR (dB), quiet line noise (dBm/Hz) and channel attenuation (Hlog, dB) per
// tone, kept as the router gives them: one value per group of tones, a group
// size per direction. A tone takes its group's value; a group the router
// marked, or a direction it did not print, is not measured (NaN), never 0.
#pragma once

#include "line/tone_plan.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

// What the chart and the exports can show of each tone.
enum class TToneQuantity { Bits, Snr, Qln, Hlog };

// Stands for a group the router did not measure.
inline constexpr float NotMeasured = std::numeric_limits<float>::quiet_NaN();
inline bool IsMeasured(float value) { return !std::isnan(value); }

// One direction's values: group g covers tones g*GroupSize to
// g*GroupSize+GroupSize-1, from tone 0.
struct TSpectrumPart {
    int GroupSize = 1; // 1, 2, 4, 8 or 16
    std::vector<float> Groups;

    bool Empty() const { return Groups.empty(); }
    float At(int tone) const
    {
        if (tone < 0 || GroupSize <= 0)
            return NotMeasured;
        const std::size_t group = std::size_t(tone / GroupSize);
        return group < Groups.size() ? Groups[group] : NotMeasured;
    }
    // NaN == NaN here: a spectrum read back equals the one written.
    bool operator==(const TSpectrumPart& other) const
    {
        if (GroupSize != other.GroupSize || Groups.size() != other.Groups.size())
            return false;
        for (std::size_t i = 0; i < Groups.size(); ++i) {
            const float a = Groups[i], b = other.Groups[i];
            if (!(a == b || (std::isnan(a) && std::isnan(b))))
                return false;
        }
        return true;
    }
};

// One quantity over the whole line.
struct TToneSpectrum {
    TSpectrumPart Up;
    TSpectrumPart Down;

    bool Empty() const { return Up.Empty() && Down.Empty(); }
    bool operator==(const TToneSpectrum&) const = default;
};

struct TToneSpectra {
    TToneSpectrum Snr;  // read every cycle
    TToneSpectrum Qln;  // measured at training: read again only after a retrain
    TToneSpectrum Hlog;

    bool Empty() const { return Snr.Empty() && Qln.Empty() && Hlog.Empty(); }
    bool operator==(const TToneSpectra&) const = default;
};
