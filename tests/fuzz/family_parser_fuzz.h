// What the three family fuzzers share: the input is the replies of one
// cycle, cut into roles at each byte 0x01, and whatever it says the line
// never holds a tone, a band or a group of per-tone values outside itself,
// nor a bit count above 15.
#pragma once

#include "line/family_parsers.h"

#include <cstdlib>
#include <span>

inline void FuzzFamily(TRouterFamily family, const std::uint8_t* data, std::size_t size)
{
    const auto commands = FamilyCommands(family);
    TFamilyReplies replies;
    std::size_t role = 0;
    std::string text(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    while (role < commands.size()) {
        const std::size_t cut = text.find('\x01', start);
        replies[commands[role++].Role] = text.substr(start, cut == std::string::npos ? cut : cut - start);
        if (cut == std::string::npos)
            break;
        start = cut + 1;
    }
    const TParsedLine line = ParseFamilyReplies(family, replies);
    if (!line.Ok()) {
        if (!line.Bits.empty())
            std::abort();
        return;
    }
    if (line.ToneCount <= 0 || line.ToneCount > 8192 || line.Bits.size() != std::size_t(line.ToneCount))
        std::abort();
    for (std::uint8_t bits : line.Bits)
        if (bits > 15)
            std::abort();
    for (const auto* bands : {&line.Bands.Upstream, &line.Bands.Downstream})
        for (const TToneBand& band : *bands)
            if (band.First < 0 || band.First > band.Last || band.Last >= line.ToneCount)
                std::abort();
    // Per-tone values: a group size the routers use, no group past the line.
    for (const TToneSpectrum* spectrum : {&line.Spectra.Snr, &line.Spectra.Qln, &line.Spectra.Hlog})
        for (const TSpectrumPart* part : {&spectrum->Up, &spectrum->Down}) {
            const int size = part->GroupSize;
            if ((size != 1 && size != 2 && size != 4 && size != 8 && size != 16)
                || part->Groups.size() > std::size_t((line.ToneCount + size - 1) / size))
                std::abort();
        }
}
