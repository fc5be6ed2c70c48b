// The other families' side of the simulator: a line of the chosen profile
// (tone count, spacing, band plan, bits) and each family's prompts and its
// replies to the commands a monitor sends, as those routers print them.
#pragma once

#include "router_sim/family_per_tone.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace routersim {

enum class Family { Zyxel, Broadcom, Lantiq, Draytek };
enum class Profile { Adsl2Plus, V8b, V17a, V30a, V35b };

std::optional<Family> FamilyFromName(std::string_view name);
std::optional<Profile> ProfileFromName(std::string_view name);

struct Band {
    int first, last; // inclusive
};

struct FamilyLine {
    int toneCount = 0;
    int printedRows = 0;          // rows a Broadcom bit table prints (4096 or 8192 on VDSL)
    double spacingKHz = 4.3125;
    std::vector<Band> up, down;
    std::vector<int> bits;        // toneCount of them
    SpectrumCodes snr, qln, hlog; // see family_per_tone.h
};

// Reading `index` of the profile's line: the same seed and index always
// give the same line.
FamilyLine MakeFamilyLine(Profile profile, std::uint32_t seed, std::uint32_t index);

// The family's texts.
struct FamilyPrompts {
    const char* user;     // "Login: ", "login: ", "Account:"
    const char* password; // "Password: "
    const char* command;  // "ATP>", "root@modem:~# ", "> "
};
FamilyPrompts PromptsFor(Family family);

struct LineFigures;

// What a family answers to a command line at its command prompt; none for
// a command it does not know. `showtime` false: the line is training. The
// line's figures go where the family prints them, with the marks for not
// measured where `notMeasured` says. `olderApi`: a Lantiq pipe of API 2.x,
// with that version's arguments.
std::optional<std::string> FamilyReply(Family family, Profile profile, const FamilyLine& line, bool showtime,
    const std::string& command, const LineFigures& figures, bool notMeasured = false, bool olderApi = false);

// Where the table of a bits reply starts: after the last line without a
// digit that a line with one follows (the column heads, "nData=\"").
std::size_t FamilyTableStart(const std::string& reply);

} // namespace routersim
