#include "router_sim/figure_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace routersim {

namespace {

// One 32-bit value from two, well spread (a SplitMix64 step): the same
// inputs give the same value with every standard library.
std::uint32_t Mix(std::uint32_t a, std::uint32_t b)
{
    std::uint64_t z = ((std::uint64_t(a) << 32) | b) + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return std::uint32_t(z ^ (z >> 31));
}

constexpr std::int64_t Slot = 900; // errors are drawn per quarter of an hour

std::string Format(const char* format, auto... args)
{
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, format, args...);
    return buffer;
}

// 83 -> "8.3", -5 -> "-0.5"
std::string Tenths(int tenths)
{
    return Format("%s%d.%d", tenths < 0 ? "-" : "", std::abs(tenths) / 10, std::abs(tenths) % 10);
}

// "3 hours 12 min 5 sec", as xdslctl writes its interval lengths.
std::string Words(std::int64_t s)
{
    std::string text;
    if (s >= 86400)
        text += Format("%lld days ", (long long)(s / 86400));
    if (s >= 3600)
        text += Format("%lld hours ", (long long)(s / 3600 % 24));
    if (s >= 60)
        text += Format("%lld min ", (long long)(s / 60 % 60));
    return text + Format("%lld sec", (long long)(s % 60));
}

// The counts of the whole quarters from `from` up to `to`.
void CountErrors(std::uint32_t seed, std::int64_t from, std::int64_t to, LineFigures& f)
{
    for (std::int64_t slot = from / Slot; slot < to / Slot; ++slot) {
        const std::uint32_t h = Mix(seed ^ 0x5bd1e995u, std::uint32_t(slot));
        f.down.fec += 50 + h % 400;
        f.up.fec += 5 + (h >> 20) % 40;
        // A burst now and then: CRC errors, errored seconds, sometimes a
        // severely errored one.
        if (h % 7 == 0) {
            f.down.crc += 10 + (h >> 8) % 150;
            f.down.es += 2 + (h >> 16) % 12;
            f.down.ses += (h >> 4) % 3 == 0 ? 1 : 0;
        }
        if (h % 11 == 3) {
            f.up.crc += 2 + (h >> 8) % 30;
            f.up.es += 1 + (h >> 16) % 4;
        }
    }
}

struct Direction {
    const char* name; // "downstream"
    const DirectionFigures* figures;
    bool measured; // attenuation and power measured (the upstream's may not be)
};

} // namespace

LineFigures FiguresAt(std::uint32_t seed, std::int64_t unixSeconds, int topDownKbps)
{
    const std::int64_t period = std::int64_t(4 + Mix(seed, 1) % 20) * 3600;
    const std::int64_t phase = Mix(seed, 2) % period;
    const std::int64_t epoch = (unixSeconds - phase) / period - (unixSeconds < phase ? 1 : 0);
    const std::int64_t linkStart = phase + epoch * period;
    const std::uint32_t train = Mix(seed, std::uint32_t(epoch));

    LineFigures f;
    f.sinceLinkS = unixSeconds - linkStart;
    // The router counts its trainings since it started; it restarts now and
    // then, which begins that count again.
    f.retrains = 1 + std::uint32_t(epoch % 64);
    DirectionFigures& down = f.down;
    DirectionFigures& up = f.up;
    down.attainableKbps = topDownKbps * int(85 + train % 15) / 100;
    down.rateKbps = std::min(down.attainableKbps, topDownKbps * int(70 + train % 11) / 100);
    up.attainableKbps = down.attainableKbps / 4;
    up.rateKbps = down.rateKbps / 5;
    down.attenuationTenths = 120 + int(Mix(seed, 3) % 280);
    up.attenuationTenths = down.attenuationTenths * 6 / 10;
    down.signalAttenuationTenths = down.attenuationTenths - 4;
    up.signalAttenuationTenths = up.attenuationTenths - 3;
    down.powerTenths = 130 + int(Mix(seed, 4) % 20);
    up.powerTenths = 40 + int(Mix(seed, 5) % 30);
    // The margin sags in the evening, from six to midnight (UTC) and most
    // at nine, as the neighbours' lines and the radio come on.
    const double fromNine = std::abs(double(unixSeconds % 86400) / 3600.0 - 21);
    const double hours = std::min(fromNine, 24 - fromNine);
    const double sag = hours < 3 ? 25.0 * std::cos(std::numbers::pi * hours / 6) : 0.0;
    down.marginTenths = 70 + int(train % 30) - int(std::lround(sag));
    up.marginTenths = 60 + int(train / 30 % 30) - int(std::lround(sag / 2));
    CountErrors(seed, linkStart, unixSeconds, f);
    down.uas = up.uas = 30 + train % 30;
    down.bitSwaps = std::uint32_t(f.sinceLinkS / 45);
    up.bitSwaps = std::uint32_t(f.sinceLinkS / 170);
    return f;
}

int TopDownKbps(Family family, Profile profile)
{
    if (family == Family::Zyxel)
        return 8000;
    switch (profile) {
    case Profile::Adsl2Plus: return 24000;
    case Profile::V8b: return 50000;
    case Profile::V17a: return 100000;
    case Profile::V30a: return 150000;
    case Profile::V35b: return 300000;
    }
    return 24000;
}

PrintedFigures FiguresPrinted(Family family, const LineFigures& f, bool showtime, bool notMeasured)
{
    PrintedFigures out;
    const char* states[][2] = {{"up", "down"}, {"Showtime", "G.994 Training"}, {"0x801", "0x300"},
        {"SHOWTIME", "TRAINING"}};
    out["figures.state"] = states[int(family)][showtime ? 0 : 1];
    if (!showtime)
        return out;
    const Direction directions[] = {{"downstream", &f.down, true}, {"upstream", &f.up, !notMeasured}};
    for (const Direction& d : directions) {
        const std::string figures = std::string("figures.") + d.name + '.';
        const std::string counters = std::string("counters.") + d.name + '.';
        const DirectionFigures& v = *d.figures;
        out[figures + "rate_kbps"] = std::to_string(v.rateKbps);
        out[counters + "crc"] = std::to_string(v.crc);
        if (family == Family::Zyxel) {
            out[counters + "fec"] = std::to_string(v.fec);
            continue;
        }
        out[figures + "attainable_kbps"] = std::to_string(v.attainableKbps);
        // DrayTek prints margin and attenuation in whole dB.
        const bool whole = family == Family::Draytek;
        out[figures + "margin_db"] = whole ? std::to_string(v.marginTenths / 10) : Tenths(v.marginTenths);
        if (d.measured) {
            out[figures + "attenuation_db"] = whole ? std::to_string(v.attenuationTenths / 10) : Tenths(v.attenuationTenths);
            out[figures + "power_dbm"] = Tenths(v.powerTenths);
            if (family == Family::Lantiq)
                out[figures + "signal_attenuation_db"] = Tenths(v.signalAttenuationTenths);
        }
        out[counters + "es"] = std::to_string(v.es);
        out[counters + "ses"] = std::to_string(v.ses);
        out[counters + "uas"] = std::to_string(v.uas);
        if (family != Family::Draytek)
            out[counters + "fec"] = std::to_string(v.fec);
        if (family != Family::Lantiq)
            out[counters + "bit_swaps"] = std::to_string(v.bitSwaps);
    }
    if (family == Family::Zyxel)
        out["counters.downstream.es"] = std::to_string(f.down.es);
    if (family != Family::Draytek)
        out["counters.since_link_s"] = std::to_string(f.sinceLinkS);
    if (family == Family::Lantiq || family == Family::Draytek)
        out["counters.retrains"] = std::to_string(f.retrains);
    return out;
}

std::string BroadcomFigureBlock(const LineFigures& f, bool notMeasured)
{
    std::string text = "\r\n                Down            Up\r\n";
    text += Format("SNR (dB):        %s             %s\r\n", Tenths(f.down.marginTenths).c_str(),
        Tenths(f.up.marginTenths).c_str());
    text += Format("Attn(dB):        %s            %s\r\n", Tenths(f.down.attenuationTenths).c_str(),
        notMeasured ? "0.0" : Tenths(f.up.attenuationTenths).c_str());
    text += Format("Pwr(dBm):        %s            %s\r\n", Tenths(f.down.powerTenths).c_str(),
        notMeasured ? "N/A" : Tenths(f.up.powerTenths).c_str());
    text += Format("Bitswap:        %u/%u       %u/%u\r\n", f.down.bitSwaps, f.down.bitSwaps + 13, f.up.bitSwaps,
        f.up.bitSwaps);
    // Blocks in the firmware's order; only Since Link is the line's since
    // it came up. The others hold other counts on purpose.
    const auto block = [&](const char* title, const std::string& length, std::uint32_t scale, std::uint32_t add) {
        const auto row = [&](const char* name, std::uint32_t down, std::uint32_t up) {
            return Format("%-16s%-16u%u\r\n", name, down * scale + add, up * scale + add);
        };
        return Format("%s time = %s\r\n", title, length.c_str()) + row("FEC:", f.down.fec, f.up.fec)
            + row("CRC:", f.down.crc, f.up.crc) + row("ES:", f.down.es, f.up.es) + row("SES:", f.down.ses, f.up.ses)
            + row("UAS:", f.down.uas, f.up.uas) + row("LOS:", 0, 0) + row("LOF:", 0, 0) + row("LOM:", 0, 0);
    };
    text += block("Total", Words(f.sinceLinkS + 86400 * 5), 3, 1000);
    text += block("Latest 15 minutes", Words(f.sinceLinkS % Slot), 0, 0);
    text += block("Since Link", Words(f.sinceLinkS), 1, 0);
    return text;
}

std::optional<std::string> FigureReply(Family family, const LineFigures& f, bool showtime, bool notMeasured,
    const std::string& command)
{
    switch (family) {
    case Family::Lantiq: {
        const std::string pipe = "dsl_cpe_pipe ";
        if (command.rfind(pipe, 0) != 0)
            return std::nullopt;
        const std::string c = command.substr(pipe.size());
        const bool figureCommand = c.starts_with("g997lsg ") || c.starts_with("g997csg ") || c.starts_with("pmccsg ")
            || c.starts_with("pmlscsg ") || c.starts_with("pmlictg ");
        if (!figureCommand)
            return std::nullopt;
        if (!showtime)
            return std::string("nReturn=-1\r\n");
        // g997 commands count 0 upstream, 1 downstream; the pm ones 0 near
        // end (downstream), 1 far end.
        if (c == "g997lsg 0 1" || c == "g997lsg 1 1") {
            const bool up = c[8] == '0';
            const DirectionFigures& d = up ? f.up : f.down;
            const bool measured = !(up && notMeasured);
            return Format("nReturn=0 nDirection=%d nDeltDataType=1 LATN=%d SATN=%d SNR=%d ATTNDR=%d000 ACTPS=-389 "
                          "ACTATP=%d\r\n", up ? 0 : 1, measured ? d.attenuationTenths : 1271,
                measured ? d.signalAttenuationTenths : 1271, d.marginTenths, d.attainableKbps,
                measured ? d.powerTenths : -512);
        }
        if (c == "g997csg 0 0" || c == "g997csg 0 1") {
            const bool up = c.back() == '0';
            return Format("nReturn=0 nChannel=0 nDirection=%d ActualDataRate=%d000 PreviousDataRate=0 "
                          "ActualInterleaveDelay=150\r\n", up ? 0 : 1, (up ? f.up : f.down).rateKbps);
        }
        if (c == "pmccsg 0 0 0" || c == "pmccsg 0 1 0") {
            const bool far = c[9] == '1';
            const DirectionFigures& d = far ? f.up : f.down;
            return Format("nReturn=0 nChannel=0 nDirection=%d nHistoryInterval=0 nElapsedTime=%lld bValid=1 "
                          "nCodeViolations=%u nFEC=%u\r\n", far ? 1 : 0, (long long)f.sinceLinkS, d.crc, d.fec);
        }
        if (c == "pmlscsg 0 0" || c == "pmlscsg 1 0") {
            const bool far = c[8] == '1';
            const DirectionFigures& d = far ? f.up : f.down;
            return Format("nReturn=0 nDirection=%d nHistoryInterval=0 nElapsedTime=%lld bValid=1 nES=%u nSES=%u "
                          "nLOSS=0 nUAS=%u nLOFS=0 nFECS=%u\r\n", far ? 1 : 0, (long long)f.sinceLinkS, d.es, d.ses,
                d.uas, d.fec / 40);
        }
        if (c == "pmlictg 0" || c == "pmlictg 1")
            return Format("nReturn=0 nDirection=%c nFullInits=%u nFailedFullInits=1 nShortInits=0 "
                          "nFailedShortInits=0\r\n", c.back(), f.retrains);
        return std::string("nReturn=-1\r\n");
    }
    case Family::Draytek:
        if (command != "adsl status more")
            return std::nullopt;
        if (!showtime)
            return std::string("                    Near End        Far End    Note\r\n");
        return Format("                    Near End        Far End    Note\r\n"
                      "   FECS          : %9u     %9u      (seconds)\r\n"
                      "   ES            : %9u     %9u      (seconds)\r\n"
                      "   SES           : %9u     %9u      (seconds)\r\n"
                      "   LOSS          : %9u     %9u      (seconds)\r\n"
                      "   UAS           : %9u     %9u      (seconds)\r\n"
                      "   Bitswap       : %9u     %9u\r\n"
                      "   Interleave Delay :        8             0      (ms)\r\n",
            f.down.fec / 40, f.up.fec / 40, f.down.es, f.up.es, f.down.ses, f.up.ses, 0u, 0u, f.down.uas, f.up.uas,
            f.down.bitSwaps, f.up.bitSwaps);
    case Family::Zyxel: {
        const auto hms = Format("%lld:%02lld:%02lld", (long long)(f.sinceLinkS / 3600),
            (long long)(f.sinceLinkS / 60 % 60), (long long)(f.sinceLinkS % 60));
        if (command == "wan adsl perfdata")
            return Format("near-end FEC error fast: 0\r\nnear-end FEC error interleaved: %u\r\n"
                          "near-end CRC error fast: 0\r\nnear-end CRC error interleaved: %u\r\n"
                          "near-end HEC error fast: 0\r\nnear-end HEC error interleaved: 0\r\n"
                          "far-end FEC error fast: 0\r\nfar-end FEC error interleaved: %u\r\n"
                          "far-end CRC error fast: 0\r\nfar-end CRC error interleaved: %u\r\n"
                          "far-end HEC error fast: 0\r\nfar-end HEC error interleaved: 0\r\n"
                          "Error second after power-up : %u\r\nADSL uptime   %s\r\n",
                f.down.fec, f.down.crc, f.up.fec, f.up.crc, f.down.es, hms.c_str());
        if (command == "wan adsl chandata")
            return Format("near-end interleaved channel bit rate: %d kbps\r\nnear-end fast channel bit rate: 0 kbps\r\n"
                          "far-end interleaved channel bit rate: %d kbps\r\nfar-end fast channel bit rate: 0 kbps\r\n",
                f.down.rateKbps, f.up.rateKbps);
        if (command == "wan adsl status")
            return std::string("current modem status: up\r\n");
        return std::nullopt;
    }
    case Family::Broadcom: break;
    }
    return std::nullopt;
}

} // namespace routersim
