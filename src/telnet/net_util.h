// Small helpers shared by the socket layer and the telnet client: the
// millisecond tick that receive time-outs are measured with, and the text
// helpers used when taking addresses and line ends apart.
//
// Ticks are milliseconds modulo 2^32, so every difference goes through
// TickDiff, which copes with the counter wrapping round.
#pragma once

#include <cstdint>
#include <string>

// Monotonic milliseconds, modulo 2^32.
std::uint32_t TickMs();

// Milliseconds from OldTick to NewTick, correct across one wrap of the counter.
std::uint32_t TickDiff(std::uint32_t OldTick, std::uint32_t NewTick);

// Sleep for Ms milliseconds; 0 only yields the processor.
void SleepMs(int Ms);

// Strips leading and trailing space characters (only ' ').
std::string TrimSpaces(const std::string& Value);

// Returns the part of Value before the first Delimiter (all of it when there
// is none) and leaves in Value what follows that delimiter (empty when there
// is none). Both parts are trimmed of spaces.
std::string SplitFirst(std::string& Value, const std::string& Delimiter);

// 1-based position of the first CR or LF in Value, with the line end found
// there: CR LF or LF CR when the partner follows, else the single byte.
// -1 and an empty LineEnd when Value holds no line end. The search starts
// at the 0-based offset From.
int FindLineEnd(const std::string& Value, std::string& LineEnd, std::size_t From = 0);
