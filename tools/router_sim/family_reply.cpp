#include "router_sim/family_reply.h"

#include "router_sim/figure_model.h"

#include <algorithm>
#include <cstdio>
#include <random>

namespace routersim {

namespace {

struct ProfileRow {
    Profile profile;
    const char* name;
    const char* broadcomName; // "Profile 17a"
    const char* draytekName;  // "17A"
    int lantiqIndex;          // bpstg nProfile
    int tones, printedRows;
    double spacing;
    std::vector<Band> up, down;
};

const std::vector<ProfileRow>& Profiles()
{
    static const std::vector<ProfileRow> rows = {
        {Profile::Adsl2Plus, "adsl2+", "", "ADSL2+", -1, 512, 512, 4.3125, {{6, 31}}, {{32, 511}}},
        {Profile::V8b, "8b", "Profile 8b", "8B", 1, 2048, 4096, 4.3125, {{7, 31}, {870, 1205}},
            {{33, 859}, {1216, 2047}}},
        {Profile::V17a, "17a", "Profile 17a", "17A", 6, 4096, 4096, 4.3125, {{7, 31}, {870, 1205}, {1972, 2782}},
            {{33, 859}, {1216, 1971}, {2783, 4095}}},
        {Profile::V30a, "30a", "Profile 30a", "30A", 7, 3479, 4096, 8.625, {{7, 31}, {435, 602}, {986, 1391}},
            {{33, 434}, {603, 985}, {1392, 3478}}},
        {Profile::V35b, "35b", "Profile BrcmPriv1", "35B", 8, 8192, 8192, 4.3125, {{7, 31}, {870, 1205}, {1972, 2782}},
            {{33, 859}, {1216, 1971}, {2783, 8191}}},
    };
    return rows;
}

const ProfileRow& Row(Profile profile)
{
    for (const ProfileRow& row : Profiles())
        if (row.profile == profile)
            return row;
    return Profiles().front();
}

std::string Format(const char* format, auto... args)
{
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, format, args...);
    return buffer;
}

bool IsVdsl(Profile profile)
{
    return profile != Profile::Adsl2Plus;
}

std::string BroadcomState(Profile profile, bool showtime, const LineFigures& f)
{
    std::string text = "xdslctl: ADSL driver and PHY status\r\n";
    if (!showtime)
        return text + "Status: G.994 Training\r\nRetrain Reason:\t0\r\n";
    text += "Status: Showtime\r\nLast Retrain Reason:\t0\r\n"
        + Format("Max:\tUpstream rate = %d Kbps, Downstream rate = %d Kbps\r\n", f.up.attainableKbps,
            f.down.attainableKbps)
        + Format("Bearer:\t0, Upstream rate = %d Kbps, Downstream rate = %d Kbps\r\n", f.up.rateKbps, f.down.rateKbps)
        + "Bearer:\t1, Upstream rate = 0 Kbps, Downstream rate = 0 Kbps\r\n\r\n";
    if (IsVdsl(profile))
        return text + "Mode:\t\t\tVDSL2 Annex B\r\nVDSL2 Profile:\t" + Row(profile).broadcomName + "\r\n";
    return text + "Mode:\t\t\tADSL2+ Annex A\r\n";
}

std::string Pairs(const std::vector<Band>& bands)
{
    std::string text;
    for (const Band& b : bands)
        text += Format(" (%d,%d)", b.first, b.last);
    return text;
}

std::string LantiqHex(const FamilyLine& line, const std::vector<Band>& bands)
{
    std::string text;
    for (int tone = 0; tone < line.toneCount; ++tone) {
        const bool mine = std::any_of(bands.begin(), bands.end(),
            [&](const Band& b) { return tone >= b.first && tone <= b.last; });
        text += Format("%02X ", mine ? line.bits[std::size_t(tone)] : 0);
    }
    return text;
}

std::string LantiqBands(int direction, const std::vector<Band>& bands)
{
    std::string text = Format("nReturn=0 nDirection=%d nNumData=%d\r\nnFormat=(nBandIndex, nBandLimits, "
                              "nBandBorders) nData=\"\r\n", direction, int(bands.size()));
    for (std::size_t i = 0; i < bands.size(); ++i)
        text += Format("(%02d,(%04d,%04d),(%04d,%04d))\r\n", int(i), bands[i].first, bands[i].last,
            i + 1 == bands.size() ? 0 : bands[i].first, i + 1 == bands.size() ? 0 : bands[i].last);
    return text + "\"\r\n";
}

std::string DraytekBins(const FamilyLine& line, const std::vector<Band>& bands)
{
    // Three tones a line, pieces joined by "*"; only the direction's bands
    // carry bits.
    std::string text = "DMT Status:\r\n";
    for (int tone = 0; tone < line.toneCount; tone += 3) {
        std::string row;
        for (int t = tone; t < std::min(tone + 3, line.toneCount); ++t) {
            const bool mine = std::any_of(bands.begin(), bands.end(),
                [&](const Band& b) { return t >= b.first && t <= b.last; });
            const int bits = mine ? line.bits[std::size_t(t)] : 0;
            row += Format("%s%5d %5.1f  0.5 %3d", t == tone ? "" : " *", t, bits ? 30.0 + bits : 0.0, bits);
        }
        // A short last row keeps a star, as only rows with one are data.
        text += row + (tone + 3 > line.toneCount ? " *" : "") + "\r\n";
    }
    return text;
}

// Two "key : value" pairs a line, as adsl status prints them; the PSD's
// decimals padded apart ("7. 4").
std::string DraytekFigureLines(const LineFigures& f, bool notMeasured)
{
    const auto whole = [](int tenths) { return std::to_string(tenths / 10); };
    const auto psd = [](int tenths) { return Format("%d. %d", tenths / 10, tenths % 10); };
    return Format("  DS Actual Rate          : %9d000 bps   US Actual Rate       : %9d000 bps\r\n"
                  "  DS Attainable Rate      : %9d000 bps   US Attainable Rate   : %9d000 bps\r\n",
               f.down.rateKbps, f.up.rateKbps, f.down.attainableKbps, f.up.attainableKbps)
        + Format("  NE Current Attenuation  :       %s dB    Cur SNR Margin       :        %s  dB\r\n",
            whole(f.down.attenuationTenths).c_str(), whole(f.down.marginTenths).c_str())
        + Format("  Far Current Attenuation :       %s dB    Far SNR Margin       :        %s  dB\r\n",
            notMeasured ? "N/A" : whole(f.up.attenuationTenths).c_str(), whole(f.up.marginTenths).c_str())
        + Format("  DS actual PSD           :     %s dB    US actual PSD        :     %s dB\r\n",
            psd(f.down.powerTenths).c_str(), notMeasured ? "N/A" : psd(f.up.powerTenths).c_str())
        + Format("  NE CRC Count            : %8u       FE CRC Count         : %8u\r\n"
                 "  NE ES Count             : %8u       FE ES Count          : %8u\r\n"
                 "  Xdsl Reset Times        : %8u       Xdsl Link Times      : %8u\r\n",
            f.down.crc, f.up.crc, f.down.es, f.up.es, 0u, f.retrains);
}

} // namespace

std::optional<Family> FamilyFromName(std::string_view name)
{
    if (name == "zyxel") return Family::Zyxel;
    if (name == "broadcom") return Family::Broadcom;
    if (name == "lantiq") return Family::Lantiq;
    if (name == "draytek") return Family::Draytek;
    return std::nullopt;
}

std::optional<Profile> ProfileFromName(std::string_view name)
{
    for (const ProfileRow& row : Profiles())
        if (name == row.name)
            return row.profile;
    return std::nullopt;
}

FamilyLine MakeFamilyLine(Profile profile, std::uint32_t seed, std::uint32_t index)
{
    const ProfileRow& row = Row(profile);
    FamilyLine line;
    line.toneCount = row.tones;
    line.printedRows = row.printedRows;
    line.spacingKHz = row.spacing;
    line.up = row.up;
    line.down = row.down;
    line.bits.assign(std::size_t(row.tones), 0);
    // Bits fall with frequency from 14 to 2, a notch every so often; each
    // reading moves a few tones by one. Only the engine's raw output is used.
    std::mt19937 base(seed);
    std::mt19937 drift(seed * 2654435761u + index);
    std::vector<int> notches;
    for (int i = 0; i < 4; ++i)
        notches.push_back(int(base() % std::uint32_t(row.tones)));
    for (const auto* bands : {&row.up, &row.down})
        for (const Band& band : *bands)
            for (int tone = band.first; tone <= band.last && tone < row.tones; ++tone) {
                int bits = 14 - 12 * tone / row.tones + int(base() % 3) - 1;
                for (int notch : notches)
                    if (std::abs(tone - notch) < 6)
                        bits = 0;
                if (drift() % 16 == 0)
                    bits += drift() % 2 ? 1 : -1;
                line.bits[std::size_t(tone)] = std::clamp(bits, 0, 15);
            }
    AddSpectra(line, seed, index);
    return line;
}

FamilyPrompts PromptsFor(Family family)
{
    switch (family) {
    case Family::Broadcom: return {"Login: ", "Password: ", "ATP>"};
    case Family::Lantiq: return {"login: ", "Password: ", "root@modem:~# "};
    case Family::Draytek: return {"Account:", "Password: ", "> "};
    case Family::Zyxel: break;
    }
    return {"Username: ", "Password: ", "ras> "};
}

std::optional<std::string> FamilyReply(Family family, Profile profile, const FamilyLine& line, bool showtime,
    const std::string& command, const LineFigures& figures, bool notMeasured, bool olderApi)
{
    const ProfileRow& row = Row(profile);
    if (auto reply = FigureReply(family, figures, showtime, notMeasured, command))
        return reply;
    switch (family) {
    case Family::Broadcom: {
        const std::string state = BroadcomState(profile, showtime, figures);
        if (command == "xdslctl info --stats" || command == "xdslctl info --show")
            return showtime ? state + BroadcomFigureBlock(figures, notMeasured) : state;
        if (command == "xdslctl info --Bits") {
            if (!showtime)
                return state;
            std::string text = state + "\r\nTone number      Bit Allocation\r\n";
            // VDSL firmware prints rows past the profile; they are stale.
            for (int tone = 0; tone < line.printedRows; ++tone)
                text += Format("%4d\t\t%d\r\n", tone,
                    tone < line.toneCount ? line.bits[std::size_t(tone)] : (tone % 7 == 0 ? 3 : 0));
            return text;
        }
        if (const auto spectrum = BroadcomSpectrumReply(line, command))
            return showtime ? state + *spectrum : state;
        if (command == "xdslctl info --pbParams") {
            if (!IsVdsl(profile) || !showtime)
                return state + "\r\nCurrently not in VDSL modulation\r\n";
            return state + "\r\nDiscovery Phase (Initial) Band Plan\r\nUS: (0,95) (880,1200)\r\nDS: (96,870)\r\n"
                   + "Medley Phase (Final) Band Plan\r\nUS:" + Pairs(line.up) + "\r\nDS:" + Pairs(line.down) + "\r\n";
        }
        return std::nullopt;
    }
    case Family::Lantiq: {
        const std::string pipe = "dsl_cpe_pipe ";
        if (command.rfind(pipe, 0) != 0)
            return std::nullopt;
        const std::string c = command.substr(pipe.size());
        if (c == "lsg")
            return Format("nReturn=0 nLineState=%s\r\n", showtime ? "0x801" : "0x300");
        if (c == "vig")
            return Format("nReturn=0 DSL_DriverVersionApi=%s DSL_ChipSetFWVersion=5.8.1.5.0.7 "
                          "DSL_ChipSetHWVersion=1.1 DSL_ChipSetType=VRX200 DSL_DriverVersionMei=1.5.17.6\r\n",
                olderApi ? "2.4.1" : "4.17.18.6");
        if (!showtime)
            return std::string("nReturn=-1\r\n");
        if (const auto spectrum = LantiqSpectrumReply(line, c, olderApi))
            return *spectrum;
        if (c == "g997xtusesg")
            return Format("nReturn=0 XTSE1=0x00 XTSE2=0x00 XTSE3=0x00 XTSE4=0x00 XTSE5=0x00 XTSE6=0x%02x "
                          "XTSE7=0x00 XTSE8=0x%02x\r\n", IsVdsl(profile) ? 0 : 1, IsVdsl(profile) ? 2 : 0);
        if (c == "bpstg")
            return IsVdsl(profile) ? Format("nReturn=0 nProfile=%d\r\n", row.lantiqIndex)
                                   : std::string("nReturn=-1\r\n");
        if (c == "g997bansg 0" || c == "g997bansg 1") {
            const bool up = c.back() == '0';
            return Format("nReturn=0 nDirection=%d nNumData=%d\r\nnFormat=nBit(hex) nData=\"\r\n", up ? 0 : 1,
                       line.toneCount)
                   + LantiqHex(line, up ? line.up : line.down) + "\"\r\n";
        }
        if (c == "bbsg 0")
            return LantiqBands(0, line.up);
        if (c == "bbsg 1")
            return LantiqBands(1, line.down);
        return std::nullopt;
    }
    case Family::Draytek: {
        if (command == "adsl status")
            return Format("  ---------------------- ATU-R Info (hw: annex B, f/w: annex A/B/C) -----------\r\n"
                          "  Running Mode            :  %8s       State                : %s\r\n",
                       showtime ? row.draytekName : "", showtime ? "SHOWTIME" : "TRAINING")
                + (showtime ? DraytekFigureLines(figures, notMeasured) : std::string());
        if (const auto spectrum = DraytekSpectrumReply(line, command))
            return *spectrum;
        if (command == "adsl showbins" || command == "adsl showbins up")
            return DraytekBins(line, command.ends_with(" up") ? line.up : line.down);
        if (command == "adsl status bandinfo") {
            std::string text;
            for (const auto& [name, bands] : {std::pair{"US:", &line.up}, std::pair{"DS:", &line.down}})
                for (std::size_t i = 0; i < bands->size(); ++i)
                    text += Format("%s Band %d  Limits=[%4d-%4d]\r\n", i == 0 ? name : "   ", int(i),
                        (*bands)[i].first, (*bands)[i].last);
            return text;
        }
        return std::nullopt;
    }
    case Family::Zyxel: break;
    }
    return std::nullopt;
}

std::size_t FamilyTableStart(const std::string& reply)
{
    std::size_t start = 0;
    bool lastHadDigit = true;
    for (std::size_t pos = 0; pos < reply.size();) {
        const std::size_t end = std::min(reply.find('\n', pos), reply.size() - 1) + 1;
        const bool hasDigit = std::any_of(reply.begin() + std::ptrdiff_t(pos), reply.begin() + std::ptrdiff_t(end),
            [](char c) { return c >= '0' && c <= '9'; });
        if (hasDigit && !lastHadDigit)
            start = pos;
        lastHadDigit = hasDigit;
        pos = end;
    }
    return start;
}

} // namespace routersim
