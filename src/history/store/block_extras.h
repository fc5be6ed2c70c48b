// A block's readings' outcomes, figures and spectra, kept after all their
// bits (reading_blocks.cpp keeps the bits). Block format 3 writes them a
// column at a time, so that a figure that held still over the hour costs a
// byte and one that moved costs a byte a change; format 2, which the last
// release wrote, is still read.
#pragma once

#include "history/store/block_bytes.h"
#include "line/reading.h"

#include <vector>

bool HasExtras(const TReading& reading);

// Formats 3 and 4: the extras of the readings that have any (HasExtras). In
// format 4 the first figures and spectra are changes from those of the
// block's base reading, when it has them (reading_blocks.h).
void PutExtras(QByteArray& out, const std::vector<TReading>& readings, const TReading* base = nullptr);
// Into the readings marked in extras, which have none yet; anything that is
// not what PutExtras writes marks in bad.
void GetExtras(TBlockReader& in, std::vector<TReading>& readings, const std::vector<bool>& extras,
    const TReading* base = nullptr);
// The same for a block of format 2 (block_extras_v2.cpp).
void GetFormat2Extras(TBlockReader& in, std::vector<TReading>& readings, const std::vector<bool>& extras);

// A reading's spectra as its changes from the spectra before it (either
// format): a byte of the parts that changed, then each changed group.
void PutSpectra(QByteArray& out, const TToneSpectra& spectra, const TToneSpectra& before);
void GetSpectra(TBlockReader& in, TToneSpectra& spectra);

// The time since the link came up, as a reading elapsedMs after one that
// read sinceLinkS would expect it: grown by the time between them (wrapping,
// as the value is only ever compared with the one read).
inline std::int64_t ExpectedSinceLink(std::int64_t sinceLinkS, std::int64_t elapsedMs)
{
    // Rounded to the second; a damaged block's time step cannot overflow it.
    const std::int64_t seconds
        = elapsedMs >= 0 ? std::int64_t((std::uint64_t(elapsedMs) + 500) / 1000) : (elapsedMs + 500) / 1000;
    return std::int64_t(std::uint64_t(sinceLinkS) + std::uint64_t(seconds));
}

// Every optional figure of the line in the blocks' one fixed order, each as
// a function that reaches it in a TLineFigures: visit(figureOf, sinceLink),
// sinceLink marking the time since the link came up, which grows by itself.
template <typename TVisit>
void ForEachFigure(TVisit&& visit)
{
    for (TDirectionFigures TLineFigures::*side : {&TLineFigures::Down, &TLineFigures::Up}) {
        visit([side](auto& f) -> auto& { return (f.*side).RateKbps; }, false);
        visit([side](auto& f) -> auto& { return (f.*side).AttainableKbps; }, false);
        visit([side](auto& f) -> auto& { return (f.*side).MarginDb; }, false);
        visit([side](auto& f) -> auto& { return (f.*side).AttenuationDb; }, false);
        visit([side](auto& f) -> auto& { return (f.*side).SignalAttenuationDb; }, false);
        visit([side](auto& f) -> auto& { return (f.*side).PowerDbm; }, false);
        visit([side](auto& f) -> auto& { return (f.*side).Crc; }, false);
        visit([side](auto& f) -> auto& { return (f.*side).Fec; }, false);
        visit([side](auto& f) -> auto& { return (f.*side).Es; }, false);
        visit([side](auto& f) -> auto& { return (f.*side).Ses; }, false);
        visit([side](auto& f) -> auto& { return (f.*side).Uas; }, false);
        visit([side](auto& f) -> auto& { return (f.*side).BitSwaps; }, false);
    }
    visit([](auto& f) -> auto& { return f.Retrains; }, false);
    visit([](auto& f) -> auto& { return f.SinceLinkS; }, true);
}
