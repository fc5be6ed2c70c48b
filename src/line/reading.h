// One reading of the line as the history keeps it: when it was taken, from
// which host, whether the cycle's dialogue with the router completed, and the
// bits the modem loaded onto each tone at that moment.
#pragma once

#include "line/tone_plan.h"

#include <QString>

#include <array>
#include <cstdint>

struct TReading {
    std::int64_t TimeMs = 0; // UTC, milliseconds since the epoch
    QString Host;            // as typed in the Host box or given to the reader
    bool Completed = false;  // false: an outage; its bits are what came before the break
    std::array<std::uint8_t, ToneCount> Bits{}; // 0 to 15 per tone

    bool operator==(const TReading&) const = default;
};
