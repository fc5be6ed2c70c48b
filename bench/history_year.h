// What the history benchmarks share: the year's line they store, and the
// process's resident memory they report.
#pragma once

#include "line/reading.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>

// A line that holds steady but for four tones moving by a bit each minute,
// and drops one cycle in 500: reading number `minute` of the year.
inline TReading YearLineReading(std::int64_t timeMs, const QString& host, int minute)
{
    TReading r = ZyxelReading(timeMs, host, minute % 500 != 7);
    for (int tone = 6; tone < ZyxelToneCount; ++tone)
        r.Bits[std::size_t(tone)] = std::uint8_t(tone < 32 ? 9 : std::max(2, 14 - tone / 45));
    for (int k = 0; k < 4; ++k) {
        const std::uint32_t tone = 40 + (std::uint32_t(minute) * 2654435761u + std::uint32_t(k) * 40503u) % 460u;
        r.Bits[tone] = std::uint8_t(r.Bits[tone] - ((minute + k) % 2));
    }
    return r;
}

inline double ResidentMiB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}
