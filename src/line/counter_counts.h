// Routers print their error counters as totals (since the link came up, or
// since power-up) in 32 bits. The history keeps what was printed; what a
// person wants is how many happened between two readings. One rule for the
// window, the report and the exports.
#pragma once

#include "line/line_figures.h"

#include <cstdint>
#include <optional>

// How much a counter grew from one printed value to the next:
// - a value that went down is a reset (a retrain or a reboot), counted
//   afresh from 0, unless the old value was at least 2^31 and the new one
//   below it, which is the counter wrapping at 2^32;
// - a growth of 2^31 or more cannot be told from a spoilt value: none.
std::optional<std::uint64_t> CounterIncrease(std::uint64_t before, std::uint64_t after);

// The same for a counter either reading may lack: none unless both have it.
std::optional<std::uint64_t> CounterIncrease(const std::optional<std::uint64_t>& before,
    const std::optional<std::uint64_t>& after);

// Whether the router says the line retrained between two readings: its
// retrain count grew, or the time since the link came up went back. None
// when the router prints neither.
std::optional<bool> RetrainedBetween(const TLineFigures& before, const TLineFigures& after);
