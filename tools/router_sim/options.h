// The simulator's command line.
#pragma once

#include "router_sim/family_reply.h"
#include "router_sim/reply_text.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace routersim {

// Which reply a fault hits.
enum class ReplyChoice { None, Far, Near, Both };

bool Hits(ReplyChoice choice, ReplyKind kind);

struct Options {
    std::string address = "127.0.0.1";
    int port = 23;
    std::string password = "1234";
    std::string username;         // when set, "Username: " is asked first
    bool ttype = false;           // ask for the terminal type and record it
    std::uint32_t seed = 1;
    std::string servedPath;       // where served tables are appended
    Family family = Family::Zyxel; // whose prompts and replies
    Profile profile = Profile::Adsl2Plus; // the other families' line
    bool training = false;        // the other families' line is not in showtime
    bool notMeasured = false;     // the upstream attenuation and power printed as not measured
    std::int64_t clock = 0;       // the moment the line's figures are of (Unix seconds); 0: now
    bool olderApi = false;        // the Lantiq pipe is of API 2.x, with its argument order

    // Faults.
    bool wrongPassword = false;   // every password is refused
    bool refuseLogin = false;     // the connection is closed after the password
    std::size_t chunk = 0;        // bytes per packet; 0: as the text comes
    int pauseMs = 0;              // pause before every packet but the first
    bool splitCommands = false;   // telnet commands sent a byte per packet
    bool iacData = false;         // byte 255 inside the data, doubled on the wire
    bool garbage = false;         // characters that are not digits among the digits
    ReplyChoice drop = ReplyChoice::None;    // connection closed halfway through
    ReplyChoice stall = ReplyChoice::None;   // reply stops halfway, connection stays open
    ReplyChoice endless = ReplyChoice::None; // reply never reaches the prompt
    ReplyChoice trickle = ReplyChoice::None; // reply a byte at a time, for ever
    int trickleMs = 1900;                    // between two bytes of a trickle
    ReplyChoice floodAfter = ReplyChoice::None; // after this reply's prompt, bytes without end
    bool optionFlood = false;     // option requests without end, never reading
    bool endlessSubnegotiation = false; // a terminal-type sub-negotiation that never ends
    bool fullQueue = false;       // the listener's queue is full: connects get no answer
    // Faults that never end on their own close the connection after this long.
    int faultSeconds = 120;
};

struct HelpRequested {};

// The options, a request for help, or a message saying what is wrong.
std::variant<Options, HelpRequested, std::string> ParseOptions(int argc, char** argv);

const char* UsageText();

// Whether `address` is a numeric loopback address (127.0.0.0/8 or ::1).
bool IsLoopbackAddress(const std::string& address);

} // namespace routersim
