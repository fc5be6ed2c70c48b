// The line's figures and counters as the router printed them, per direction:
// what every provider asks for first (rates, margin, attenuation, power, the
// error counts and how often the line retrained). A value the router did not
// print, or marked as not measured, is absent, never 0: a margin of 0 dB and
// no margin are different lines.
//
// On a modem the near end is downstream and the far end upstream.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

struct TDirectionFigures {
    std::optional<double> RateKbps;       // actual data rate
    std::optional<double> AttainableKbps; // attainable (maximum) rate
    std::optional<double> MarginDb;       // SNR margin
    std::optional<double> AttenuationDb;  // line attenuation (or the only one printed)
    std::optional<double> SignalAttenuationDb; // where the router prints both
    std::optional<double> PowerDbm;       // transmit power

    // Counters as printed: since the link came up where the router prints
    // that apart, else since it powered up.
    std::optional<std::uint64_t> Crc;
    std::optional<std::uint64_t> Fec;
    std::optional<std::uint64_t> Es;  // errored seconds
    std::optional<std::uint64_t> Ses; // severely errored seconds
    std::optional<std::uint64_t> Uas; // unavailable seconds
    std::optional<std::uint64_t> BitSwaps; // executed

    bool operator==(const TDirectionFigures&) const = default;
    bool Empty() const { return *this == TDirectionFigures{}; }
};

struct TLineFigures {
    // The line's state in the router's words ("Showtime", "0x801",
    // "SHOWTIME", "up"); empty when the router said nothing of it.
    QString State;
    TDirectionFigures Down;
    TDirectionFigures Up;
    std::optional<std::uint64_t> Retrains;  // full initialisations, or link count
    std::optional<std::int64_t> SinceLinkS; // seconds since the link came up

    bool operator==(const TLineFigures&) const = default;
    bool Empty() const { return *this == TLineFigures{}; }
};
