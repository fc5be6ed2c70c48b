#include "router_sim/options.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <charconv>
#include <cstring>
#include <string_view>

namespace routersim {

bool Hits(ReplyChoice choice, ReplyKind kind)
{
    switch (choice) {
    case ReplyChoice::None: return false;
    case ReplyChoice::Both: return true;
    case ReplyChoice::Far: return kind == ReplyKind::Far;
    case ReplyChoice::Near: return kind == ReplyKind::Near;
    }
    return false;
}

const char* UsageText()
{
    return "usage: tirvane-router-sim [options]\n"
           "Simulates the telnet command line of an ADSL router for tests and demos.\n"
           "It listens on a loopback address only.\n"
           "\n"
           "  --address ADDR     loopback address to listen on (127.x.y.z or ::1; default 127.0.0.1)\n"
           "  --port N           port (default 23)\n"
           "  --password P       the password it accepts (default 1234)\n"
           "  --username U       ask \"Username: \" first and accept only U\n"
           "  --ttype            ask for the client's terminal type and record it\n"
           "  --seed N           line profile and drift seed (default 1)\n"
           "  --served FILE      after each whole reply append \"far\" or \"near\" and the\n"
           "                     513 bit counts a client should decode from it (tone 0..512);\n"
           "                     a reported terminal type is appended as \"ttype NAME\"; the\n"
           "                     line's figures printed in a session as \"figures\" and\n"
           "                     name=value, tab-separated (for the ZyXEL after each reply);\n"
           "                     each connection taken as \"session N\" (N open with it)\n"
           "  --router R         zyxel (default), broadcom, lantiq or draytek: that family's\n"
           "                     prompts, commands and replies; the others append \"line\"\n"
           "                     and the bits of every tone to --served once a session,\n"
           "                     \"snr\", \"qln\" or \"hlog\" and every tone's value (\"-\" where\n"
           "                     not measured) once a session each is served, and\n"
           "                     \"command\" and each command line it is sent\n"
           "  --profile P        the other families' line: adsl2+ (default), 8b, 17a, 30a, 35b\n"
           "  --training         the other families' line is not in showtime\n"
           "  --not-measured     print the upstream attenuation and power as not measured\n"
           "  --clock SECONDS    the line's figures as at this Unix time (default: now)\n"
           "  --older-api        the Lantiq pipe says API 2.x and takes its per-tone\n"
           "                     commands' arguments in that version's order (0 DIR)\n"
           "Faults:\n"
           "  --wrong-password   refuse every password\n"
           "  --refuse-login     close the connection after the password\n"
           "  --chunk N          send at most N bytes per packet (1: a byte at a time)\n"
           "  --pause-ms N       pause N ms before every packet but the first\n"
           "  --split-commands   send telnet commands a byte per packet, also inside replies\n"
           "  --iac-data         put byte 255 (doubled on the wire) among the digits\n"
           "  --garbage          put characters that are not digits among the digits\n"
           "  --drop WHICH       close the connection halfway through a reply\n"
           "  --stall WHICH      stop halfway through a reply and keep the connection open\n"
           "  --endless WHICH    let a reply run on forever without its prompt\n"
           "  --trickle WHICH    send a reply a byte at a time, for ever, without its prompt\n"
           "  --trickle-ms N     N ms between two bytes of a trickle (default 1900)\n"
           "  --flood-after WHICH  after that reply's prompt, keep sending as fast as the\n"
           "                     client takes it\n"
           "                     (WHICH: far, near or both; for the other families far is\n"
           "                     the upstream bits reply, near the downstream or only one)\n"
           "  --option-flood     send option requests without end and never read\n"
           "  --endless-subnegotiation  open a terminal-type sub-negotiation and send\n"
           "                     its payload without end, never IAC SE\n"
           "  --full-queue       keep the listener's queue full: connects get no answer\n"
           "  --fault-seconds N  close a connection whose fault never ends after N s\n"
           "                     (default 120)\n"
           "  --help             this text\n";
}

bool IsLoopbackAddress(const std::string& address)
{
    in_addr v4{};
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, address.c_str(), &v6) == 1)
        return std::memcmp(&v6, &in6addr_loopback, sizeof v6) == 0;
    return false;
}

namespace {

template <typename T>
bool ParseNumber(std::string_view text, T& out, T low, T high)
{
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value < low || value > high)
        return false;
    out = value;
    return true;
}

bool ParseChoice(std::string_view text, ReplyChoice& out)
{
    if (text == "far")
        out = ReplyChoice::Far;
    else if (text == "near")
        out = ReplyChoice::Near;
    else if (text == "both")
        out = ReplyChoice::Both;
    else
        return false;
    return true;
}

} // namespace

std::variant<Options, HelpRequested, std::string> ParseOptions(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        const auto needValue = [&]() -> bool {
            if (hasValue)
                return true;
            if (i + 1 >= argc)
                return false;
            value = argv[++i];
            return true;
        };
        const auto bad = [&](std::string_view what) {
            return std::string(what) + ": " + std::string(arg);
        };

        if (arg == "--help" || arg == "-h")
            return HelpRequested{};
        if (arg == "--ttype") o.ttype = true;
        else if (arg == "--wrong-password") o.wrongPassword = true;
        else if (arg == "--refuse-login") o.refuseLogin = true;
        else if (arg == "--training") o.training = true;
        else if (arg == "--not-measured") o.notMeasured = true;
        else if (arg == "--older-api") o.olderApi = true;
        else if (arg == "--router") {
            const auto family = needValue() ? FamilyFromName(value) : std::nullopt;
            if (!family)
                return bad("--router takes zyxel, broadcom, lantiq or draytek");
            o.family = *family;
        } else if (arg == "--profile") {
            const auto profile = needValue() ? ProfileFromName(value) : std::nullopt;
            if (!profile)
                return bad("--profile takes adsl2+, 8b, 17a, 30a or 35b");
            o.profile = *profile;
        }
        else if (arg == "--split-commands") o.splitCommands = true;
        else if (arg == "--iac-data") o.iacData = true;
        else if (arg == "--garbage") o.garbage = true;
        else if (arg == "--option-flood") o.optionFlood = true;
        else if (arg == "--endless-subnegotiation") o.endlessSubnegotiation = true;
        else if (arg == "--full-queue") o.fullQueue = true;
        else if (arg == "--address" || arg == "--port" || arg == "--password" || arg == "--username"
                 || arg == "--seed" || arg == "--served" || arg == "--chunk" || arg == "--pause-ms"
                 || arg == "--drop" || arg == "--stall" || arg == "--endless" || arg == "--trickle"
                 || arg == "--trickle-ms" || arg == "--flood-after" || arg == "--fault-seconds" || arg == "--clock") {
            if (!needValue())
                return bad("missing value");
            bool ok = true;
            if (arg == "--address") o.address = std::string(value);
            else if (arg == "--port") ok = ParseNumber(value, o.port, 0, 65535);
            else if (arg == "--password") o.password = std::string(value);
            else if (arg == "--username") o.username = std::string(value);
            else if (arg == "--seed") ok = ParseNumber<std::uint32_t>(value, o.seed, 0, 0xffffffffu);
            else if (arg == "--served") o.servedPath = std::string(value);
            else if (arg == "--chunk") ok = ParseNumber<std::size_t>(value, o.chunk, 0, 1 << 20);
            else if (arg == "--pause-ms") ok = ParseNumber(value, o.pauseMs, 0, 600000);
            else if (arg == "--drop") ok = ParseChoice(value, o.drop);
            else if (arg == "--stall") ok = ParseChoice(value, o.stall);
            else if (arg == "--endless") ok = ParseChoice(value, o.endless);
            else if (arg == "--trickle") ok = ParseChoice(value, o.trickle);
            else if (arg == "--trickle-ms") ok = ParseNumber(value, o.trickleMs, 1, 600000);
            else if (arg == "--flood-after") ok = ParseChoice(value, o.floodAfter);
            else if (arg == "--fault-seconds") ok = ParseNumber(value, o.faultSeconds, 1, 86400);
            else if (arg == "--clock") ok = ParseNumber<std::int64_t>(value, o.clock, 1, std::int64_t(1) << 40);
            if (!ok)
                return bad("bad value") + " " + std::string(value);
        } else {
            return bad("unknown option");
        }
    }
    if (o.address.size() > 2 && o.address.front() == '[' && o.address.back() == ']')
        o.address = o.address.substr(1, o.address.size() - 2);
    return o;
}

} // namespace routersim
