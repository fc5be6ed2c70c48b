// What the history benchmarks share: the year's line they store, and the
// process's resident memory they report.
#pragma once

#include "line/reading.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <utility>
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

// A small, deterministic mix of a minute's number.
inline std::uint32_t MinuteHash(std::int64_t minute, std::uint32_t salt = 0)
{
    return (std::uint32_t(minute) * 2654435761u) ^ (salt * 40503u + (std::uint32_t(minute) >> 7));
}

// What a line's figures do over a year, minute by minute: rates and
// attenuation hold, the margin sags a decibel in the evening and moves a
// tenth now and then, FEC counts grow every minute, CRC and errored seconds
// in bursts, and the line retrains every 20 days, its counters starting over.
inline TLineFigures YearFigures(std::int64_t minute, double downRate, double upRate)
{
    constexpr std::int64_t RetrainEvery = 20 * 1440;
    const std::int64_t sinceLink = minute % RetrainEvery;
    const std::int64_t hour = (minute / 60) % 24;
    TLineFigures f;
    f.State = QStringLiteral("Showtime");
    f.Down.RateKbps = downRate;
    f.Down.AttainableKbps = downRate * 1.1 + double((minute / 997) % 5) * 32;
    f.Down.MarginDb = (hour >= 18 ? 11.0 : 12.0) + (MinuteHash(minute) % 13 == 0 ? 0.1 : 0.0);
    f.Down.AttenuationDb = 39.5;
    f.Down.PowerDbm = 12.0;
    f.Down.Fec = std::uint64_t(3 * sinceLink + MinuteHash(minute, 1) % 3);
    f.Down.Crc = std::uint64_t(sinceLink / 50);
    f.Down.Es = std::uint64_t(sinceLink / 120);
    f.Up.RateKbps = upRate;
    f.Up.AttainableKbps = upRate * 1.2;
    f.Up.MarginDb = 9.0;
    f.Up.AttenuationDb = 22.0;
    f.Up.PowerDbm = 11.0;
    f.Up.Fec = std::uint64_t(sinceLink + MinuteHash(minute, 2) % 2);
    f.Up.Crc = std::uint64_t(sinceLink / 400);
    f.Retrains = std::uint64_t(minute / RetrainEvery);
    f.SinceLinkS = sinceLink * 60;
    return f;
}

// The year's line with the outcome and figures each cycle reads.
inline TReading YearFiguresReading(std::int64_t timeMs, const QString& host, int minute)
{
    TReading r = YearLineReading(timeMs, host, minute);
    r.Outcome = r.Completed ? TReadingOutcome::LineUp : TReadingOutcome::NoAnswer;
    if (r.Completed)
        r.Figures = YearFigures(minute, 8000, 1024);
    return r;
}

// A VDSL2 17a line of 4096 tones, four tones moving a bit each minute, with
// its figures and its SNR in groups of 8 each way (not measured outside the
// direction's bands): most groups hold still from one minute to the next,
// one in twenty moves half a decibel, and a band of 20 groups falls 3 dB in
// the evening, as an interferer would show.
inline TReading Year17aReading(std::int64_t timeMs, const QString& host, int minute)
{
    TReading r;
    r.TimeMs = timeMs;
    r.Host = host;
    r.Completed = minute % 500 != 7;
    r.Outcome = r.Completed ? TReadingOutcome::LineUp : TReadingOutcome::NoAnswer;
    r.Router = QStringLiteral("broadcom");
    r.Mode = QStringLiteral("VDSL2 17a");
    r.Bands = {{{870, 1205}, {1972, 2782}}, {{33, 859}, {1216, 1961}, {2793, 4095}}};
    r.Bits.assign(4096, 0);
    for (int tone = 33; tone < 4096; ++tone)
        if (r.Bands.DirectionOf(tone) != TToneDirection::Neither)
            r.Bits[std::size_t(tone)] = std::uint8_t(std::max(2, 14 - tone / 350));
    for (std::uint32_t k = 0; k < 4; ++k) {
        const std::uint32_t tone = 40 + MinuteHash(minute, k) % 4000u;
        if (r.Bits[tone] > 2)
            r.Bits[tone] = std::uint8_t(r.Bits[tone] - ((minute + int(k)) % 2));
    }
    if (!r.Completed)
        return r;
    r.Figures = YearFigures(minute, 68000, 21000);
    const bool evening = (minute / 60) % 24 >= 19 && (minute / 60) % 24 < 22;
    for (auto [part, direction] : {std::pair{&r.Spectra.Snr.Up, TToneDirection::Upstream},
             std::pair{&r.Spectra.Snr.Down, TToneDirection::Downstream}}) {
        part->GroupSize = 8;
        part->Groups.assign(512, NotMeasured);
        for (int g = 0; g < 512; ++g) {
            if (r.Bands.DirectionOf(g * 8) != direction)
                continue;
            float snr = float(std::lround((50.0 - g * 0.06) * 2)) / 2;
            if (MinuteHash(minute, std::uint32_t(g)) % 20 == 0)
                snr += 0.5f;
            if (evening && g >= 150 && g < 170)
                snr -= 3.0f;
            part->Groups[std::size_t(g)] = snr;
        }
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
