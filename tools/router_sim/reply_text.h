// The text of the router's answer to "wan adsl linedata far" and "... near":
// a short header, then the bit table in 16 lines "tone %3d-%3d: " followed by
// 16 bytes of two hex digits and a space, then a blank line. The echo of the
// command comes before it and the prompt after it; both are the session's.
//
// A client reads the reply up to the prompt's ">" after it consumed the ">"
// of the prompt before, so it sees " " + command + CR LF + this text + "ras".
// The header lengths are fixed so that, in what the client sees, the first
// table line starts at character 118 of the far reply and the near reply's
// 151st character falls inside the first table line: the positions where the
// monitor cuts.
//
// Each byte holds two tones, the lower odd tone in the second digit and the
// even tone above it in the first: the byte after "tone   0- 31: " holds
// tones 1 and 2, and the last byte of "tone 480-511: " tones 511 and 512.
#pragma once

#include "router_sim/line_model.h"

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <string_view>

namespace routersim {

enum class ReplyKind { Far, Near };

std::string_view KindName(ReplyKind kind); // "far" / "near"
std::string_view CommandFor(ReplyKind kind); // "wan adsl linedata far" / "... near"

// Where the first table line starts in what the client sees (1-based).
constexpr std::size_t TableStartInClientReply = 118;
constexpr int TableLines = 16;
constexpr std::size_t TableLineLength = 14 + 16 * 3; // without CR LF

struct ReplyFaults {
    bool garbage = false; // some digits replaced by characters that are not digits
    bool iacData = false; // some digits replaced by the byte 255 (doubled on the wire)
};

struct Reply {
    std::string header; // the header lines, each ending CR LF
    std::string table;  // the 16 table lines and the blank line, each ending CR LF
    // The bit counts a client decoding this reply reads back, tone 0 to 512:
    // the reading's, except where a fault replaced a digit (those read 0).
    BitLoading served{};

    std::string Text() const { return header + table; }
};

// What the faults put in place of a digit, or 0 to leave it; takes one or
// two numbers from `rng`.
char SpoiltDigit(const ReplyFaults& faults, std::mt19937& rng);

// `text` with its decimal digits spoilt as a table's are, for replies laid
// out otherwise.
std::string SpoilDigits(std::string text, const ReplyFaults& faults, std::uint32_t faultSeed);

// `faultSeed` chooses which digits the faults replace.
Reply BuildReply(ReplyKind kind, const LineReading& reading, const ReplyFaults& faults,
                 std::uint32_t faultSeed);

// The figures the reply's header prints, named as tirvane-read's JSON names
// them ("figures.upstream.margin_db"), as printed: each direction's from the
// words of its own line.
std::map<std::string, std::string> HeaderFigures(ReplyKind kind, const LineReading& reading);

// One table line (without CR LF) for tones 32*line .. 32*line+31 as labelled.
std::string TableLine(int line, const BitLoading& bits);

} // namespace routersim
