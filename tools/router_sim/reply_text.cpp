#include "router_sim/reply_text.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <stdexcept>

namespace routersim {

namespace {

constexpr std::string_view Crlf = "\r\n";
constexpr char HexDigits[] = "0123456789abcdef";
// Not digits, not blanks (they would be trimmed away and shift the byte), not
// the prompt's ">", not the byte 255.
constexpr std::string_view Garbage = "gGxX-?:.zZ*#";

// What the client sees before the header: " " (left after the prompt's ">"),
// the echoed command, CR LF.
std::size_t EchoLength(ReplyKind kind)
{
    return 1 + CommandFor(kind).size() + Crlf.size();
}

std::string Format(const char* format, int value)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

struct HeaderValues {
    int margin, power, attenuation;
    char marginText[16];
};

HeaderValues Values(const LineReading& r)
{
    HeaderValues v{std::clamp(r.noiseMarginTenthsDb, 0, 999), std::clamp(r.outputPowerDb, 0, 9),
        std::clamp(r.attenuationDb, 0, 99), {}};
    std::snprintf(v.marginText, sizeof v.marginText, "%2d.%d", v.margin / 10, v.margin % 10);
    return v;
}

std::string Header(ReplyKind kind, const LineReading& r)
{
    const auto [margin, power, attenuation, marginText] = Values(r);

    std::string h;
    if (kind == ReplyKind::Far) {
        h += "noise margin upstream: " + std::string(marginText) + " db\r\n";
        h += Format("output power downstream: %2d db\r\n", power + 10);
        h += Format("attenuation upstream: %2d db\r\n", attenuation / 2);
    } else {
        h += Format("noise margin downstream: %2d db\r\n", margin / 10);
        h += Format("output power upstream: %d db\r\n", power);
        h += Format("attenuation downstream: %2d db\r\n", attenuation);
    }
    // The monitor cuts at fixed positions: a header of another length would
    // hand it the wrong characters.
    if (EchoLength(kind) + h.size() + 1 != TableStartInClientReply)
        throw std::logic_error("router simulator: header length off");
    return h;
}

} // namespace

std::map<std::string, std::string> HeaderFigures(ReplyKind kind, const LineReading& reading)
{
    const HeaderValues v = Values(reading);
    if (kind == ReplyKind::Far)
        return {{"figures.upstream.margin_db", std::to_string(v.margin / 10) + '.' + std::to_string(v.margin % 10)},
            {"figures.downstream.power_dbm", std::to_string(v.power + 10)},
            {"figures.upstream.attenuation_db", std::to_string(v.attenuation / 2)}};
    return {{"figures.downstream.margin_db", std::to_string(v.margin / 10)},
        {"figures.upstream.power_dbm", std::to_string(v.power)},
        {"figures.downstream.attenuation_db", std::to_string(v.attenuation)}};
}

std::string_view KindName(ReplyKind kind)
{
    return kind == ReplyKind::Far ? "far" : "near";
}

std::string_view CommandFor(ReplyKind kind)
{
    return kind == ReplyKind::Far ? "wan adsl linedata far" : "wan adsl linedata near";
}

std::string TableLine(int line, const BitLoading& bits)
{
    char label[32];
    std::snprintf(label, sizeof label, "tone %3d-%3d: ", 32 * line, 32 * line + 31);
    std::string s = label;
    for (int j = 0; j < 16; ++j) {
        const int odd = 32 * line + 2 * j + 1;
        s += HexDigits[bits[odd + 1] & 15];
        s += HexDigits[bits[odd] & 15];
        s += ' ';
    }
    return s;
}

char SpoiltDigit(const ReplyFaults& faults, std::mt19937& rng)
{
    const auto roll = rng() % 8;
    if (faults.garbage && roll == 0)
        return Garbage[rng() % Garbage.size()];
    if (faults.iacData && roll == 1)
        return '\xff';
    return 0;
}

std::string SpoilDigits(std::string text, const ReplyFaults& faults, std::uint32_t faultSeed)
{
    std::mt19937 rng(faultSeed);
    for (char& c : text)
        if (c >= '0' && c <= '9')
            if (const char spoilt = SpoiltDigit(faults, rng))
                c = spoilt;
    return text;
}

Reply BuildReply(ReplyKind kind, const LineReading& reading, const ReplyFaults& faults,
                 std::uint32_t faultSeed)
{
    Reply reply;
    reply.header = Header(kind, reading);
    reply.served = reading.bits;
    reply.served[0] = 0;

    std::mt19937 rng(faultSeed);
    std::string lines;
    for (int line = 0; line < TableLines; ++line) {
        std::string s = TableLine(line, reading.bits);
        for (int j = 0; j < 16; ++j) {
            const int odd = 32 * line + 2 * j + 1;
            const std::size_t first = 14 + 3 * static_cast<std::size_t>(j);
            // Digit positions: `first` holds tone odd+1, `first + 1` tone odd.
            for (int d = 0; d < 2; ++d) {
                const int tone = d == 0 ? odd + 1 : odd;
                if (const char spoilt = SpoiltDigit(faults, rng)) {
                    s[first + d] = spoilt;
                    reply.served[tone] = 0;
                }
            }
        }
        lines += s;
        lines += Crlf;
    }
    lines += Crlf; // the blank line before the prompt
    reply.table = std::move(lines);
    return reply;
}

} // namespace routersim
