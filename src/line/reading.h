// One reading of the line as the history keeps it: when it was taken, from
// which host, whether the cycle's dialogue with the router completed, the
// bits the modem loaded onto each tone at that moment, and what kind of line
// it was (tone count, spacing, which tones carry each direction, the router
// family and the mode), so lines of other routers and plans are kept alike.
#pragma once

#include "line/line_figures.h"
#include "line/tone_plan.h"
#include "line/tone_values.h"

#include <QString>

#include <cstdint>
#include <vector>

// How a cycle ended, as the history keeps it: only LineDown is an outage of
// the line; a router that did not answer or refused the login says nothing
// of the line. Readings of files older than this distinction are Unknown.
enum class TReadingOutcome : std::uint8_t {
    Unknown = 0,
    LineUp = 1,        // a complete reading of a line in showtime
    LineDown = 2,      // the router answered: the line is not in showtime (Figures.State says how)
    NoAnswer = 3,      // refused, timed out, no route, a name that does not resolve
    LoginRefused = 4,
    NotUnderstood = 5, // the router answered with something no parser could read
};

// The most tones a line of any plan the program reads carries.
constexpr int MaxToneCount = 8192;

struct TReading {
    std::int64_t TimeMs = 0; // UTC, milliseconds since the epoch
    QString Host;            // as typed in the Host box or given to the reader
    bool Completed = false;  // false: an outage; its bits are what came before the break
    // One per tone from tone 0; size = the line's tone count (513 for
    // today's line, up to MaxToneCount).
    std::vector<std::uint8_t> Bits;
    double SpacingKHz = ZyxelToneSpacingKHz; // 4.3125 or 8.625
    TBandPlan Bands = ZyxelBandPlan();
    QString Router; // router family key, "zyxel" today (others: "broadcom", "lantiq", "draytek")
    QString Mode; // e.g. "ADSL2+", "VDSL2 17a"; empty when unknown
    TReadingOutcome Outcome = TReadingOutcome::Unknown;
    TLineFigures Figures;  // what the router printed of them; empty when nothing
    TToneSpectra Spectra;  // SNR every cycle, QLN and Hlog as of the last training

    bool operator==(const TReading&) const = default;
};

// The router family of today's line.
inline QString ZyxelRouter()
{
    return QStringLiteral("zyxel");
}

// A reading of today's line: 513 tones, all 0, the ZyXEL plan and router.
inline TReading ZyxelReading(std::int64_t timeMs = 0, const QString& host = {}, bool completed = false)
{
    TReading reading;
    reading.TimeMs = timeMs;
    reading.Host = host;
    reading.Completed = completed;
    reading.Bits.assign(std::size_t(ZyxelToneCount), 0);
    reading.Router = ZyxelRouter();
    return reading;
}

// The bits of a tone, 0 for a tone the reading's line does not have.
inline int ToneBitsAt(const TReading& reading, int tone)
{
    return tone >= 0 && std::size_t(tone) < reading.Bits.size() ? reading.Bits[std::size_t(tone)] : 0;
}
