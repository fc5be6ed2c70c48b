// The line's figures and counters as the simulated router prints them beside
// its bits: rates, margin, attenuation and power each way, and the error
// counts since the link came up. They move with the clock, the same way for
// the same seed and moment: the margin sags in the evening, errors come in
// bursts, and a retrain every few hours starts the counts afresh.
#pragma once

#include "router_sim/family_reply.h"

#include <cstdint>
#include <map>
#include <string>

namespace routersim {

struct DirectionFigures {
    int rateKbps = 0, attainableKbps = 0;
    int marginTenths = 0, attenuationTenths = 0, signalAttenuationTenths = 0, powerTenths = 0; // 0.1 dB(m)
    std::uint32_t crc = 0, fec = 0, es = 0, ses = 0, uas = 0, bitSwaps = 0;
};

struct LineFigures {
    DirectionFigures down, up;
    std::uint32_t retrains = 0; // full initialisations since the router started
    std::int64_t sinceLinkS = 0;
};

// The figures at `unixSeconds` of a line whose downstream trains at most at
// `topDownKbps`.
LineFigures FiguresAt(std::uint32_t seed, std::int64_t unixSeconds, int topDownKbps);

// The fastest downstream rate of a family's line at its profile.
int TopDownKbps(Family family, Profile profile);

// What a family prints of its figures: the values a client should read, by
// the names tirvane-read's JSON gives them ("figures.downstream.margin_db",
// "counters.upstream.crc", "counters.retrains", "figures.state"), as printed.
// Values marked as not measured are left out. For the ZyXEL only the figure
// commands' part (counters, rates, state, uptime).
using PrintedFigures = std::map<std::string, std::string>;
PrintedFigures FiguresPrinted(Family family, const LineFigures& figures, bool showtime, bool notMeasured);

// The replies of the figure commands; none for a command that is not one.
// Broadcom's figures come with its state block (BroadcomFigureBlock).
std::optional<std::string> FigureReply(Family family, const LineFigures& figures, bool showtime, bool notMeasured,
    const std::string& command);
// The part of xdslctl info --stats after the state block.
std::string BroadcomFigureBlock(const LineFigures& figures, bool notMeasured);

} // namespace routersim
