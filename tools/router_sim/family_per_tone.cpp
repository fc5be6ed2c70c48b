#include "router_sim/family_per_tone.h"

#include "router_sim/family_reply.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

namespace routersim {

namespace {

enum class Side { Up, Down, Neither };

std::string Format(const char* format, auto... args)
{
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, format, args...);
    return buffer;
}

bool InBands(const std::vector<Band>& bands, int tone)
{
    return std::any_of(bands.begin(), bands.end(), [tone](const Band& b) { return tone >= b.first && tone <= b.last; });
}

Side SideOf(const FamilyLine& line, int tone)
{
    return InBands(line.up, tone) ? Side::Up : InBands(line.down, tone) ? Side::Down : Side::Neither;
}

const SpectrumCodes& Codes(const FamilyLine& line, Quantity quantity)
{
    switch (quantity) {
    case Quantity::Snr: return line.snr;
    case Quantity::Qln: return line.qln;
    case Quantity::Hlog: return line.hlog;
    }
    return line.snr;
}

// The code of a tone's group in its own direction; NoneCode outside the bands.
int ToneCode(const FamilyLine& line, Quantity quantity, int tone)
{
    const Side side = SideOf(line, tone);
    if (side == Side::Neither)
        return NoneCode(quantity);
    const SpectrumSide& part = side == Side::Up ? Codes(line, quantity).up : Codes(line, quantity).down;
    const std::size_t group = std::size_t(tone / part.groupSize);
    return group < part.codes.size() ? part.codes[group] : NoneCode(quantity);
}

// The only plan of 8192 tones.
bool IsPlan35b(const FamilyLine& line)
{
    return line.toneCount > 4096;
}

// ADSL2+ (512 tones).
bool IsAdsl2Plus(const FamilyLine& line)
{
    return line.toneCount > 256 && line.toneCount <= 512;
}

// VDSL2 reports at most 512 values a direction; ADSL2+ one a tone.
int GroupSizeFor(int toneCount)
{
    int size = 1;
    while ((toneCount + size - 1) / size > 512)
        size *= 2;
    return size;
}

// Minutes from 18:00 to 22:00 take up to 9 dB off, deepest at 20:00.
double EveningDipDb(std::uint32_t index)
{
    const int minute = int(index % 1440);
    if (minute < 18 * 60 || minute >= 22 * 60)
        return 0;
    return 9.0 * (1.0 - std::abs(minute - 20 * 60) / 120.0);
}

// A decimal value as the routers print it; the marker where none.
std::string Decimal(Quantity quantity, int code, const char* format, const char* none)
{
    return code == NoneCode(quantity) ? std::string(none) : Format(format, CodeValue(quantity, code));
}

} // namespace

int NoneCode(Quantity quantity)
{
    return quantity == Quantity::Hlog ? 1023 : 255;
}

double CodeValue(Quantity quantity, int code)
{
    switch (quantity) {
    case Quantity::Snr: return -32.0 + code / 2.0;
    case Quantity::Qln: return -23.0 - code / 2.0;
    case Quantity::Hlog: return 6.0 - code / 10.0;
    }
    return 0;
}

const char* QuantityName(Quantity quantity)
{
    switch (quantity) {
    case Quantity::Snr: return "snr";
    case Quantity::Qln: return "qln";
    case Quantity::Hlog: return "hlog";
    }
    return "";
}

void AddSpectra(FamilyLine& line, std::uint32_t seed, std::uint32_t index)
{
    const int size = GroupSizeFor(line.toneCount);
    const int groups = (line.toneCount + size - 1) / size;
    // Only the engines' raw output is used, as for the bits.
    std::mt19937 trained(seed * 2246822519u + 7u);
    std::mt19937 moving(seed * 3266489917u + index);
    const double dip = EveningDipDb(index);
    for (const Side side : {Side::Up, Side::Down}) {
        const std::vector<Band>& bands = side == Side::Up ? line.up : line.down;
        SpectrumSide snr{size, {}}, qln{size, {}}, hlog{size, {}};
        for (int g = 0; g < groups; ++g) {
            int loaded = 0, bits = 0;
            bool bandStart = false;
            for (int tone = g * size; tone < std::min((g + 1) * size, line.toneCount); ++tone)
                if (InBands(bands, tone)) {
                    ++loaded;
                    bits += line.bits[std::size_t(tone)];
                    bandStart = bandStart || std::any_of(bands.begin(), bands.end(),
                                                 [tone](const Band& b) { return b.first == tone; });
                }
            const int qlnNoise = int(trained() % 4);
            const int hlogNoise = int(trained() % 7);
            const int snrNoise = int(moving() % 3);
            if (loaded == 0 || bandStart) {
                snr.codes.push_back(NoneCode(Quantity::Snr));
                qln.codes.push_back(NoneCode(Quantity::Qln));
                hlog.codes.push_back(NoneCode(Quantity::Hlog));
                continue;
            }
            const double at = (g + 0.5) * size / line.toneCount; // 0 to 1 along the line
            // About 3 dB a bit over a margin; a notch (no bits) leaves little.
            double snrDb = bits == 0 ? 4.0 : 9.0 + 3.0 * bits / loaded + 0.5 * snrNoise;
            if (side == Side::Down && at > 0.4 && at < 0.6)
                snrDb -= dip;
            snr.codes.push_back(std::clamp(int(std::lround((std::max(snrDb, 3.0) + 32.0) * 2.0)), 0, 254));
            // Quiet line noise: flat, higher at the bottom of the line.
            const double qlnDbm = -138.0 + 12.0 * (1.0 - at) * (1.0 - at) + 0.5 * qlnNoise;
            qln.codes.push_back(std::clamp(int(std::lround((-23.0 - qlnDbm) * 2.0)), 0, 254));
            // The channel's attenuation grows with the square root of frequency.
            const double hlogDb = -6.0 - 60.0 * std::sqrt(at) - 0.1 * hlogNoise;
            hlog.codes.push_back(std::clamp(int(std::lround((6.0 - hlogDb) * 10.0)), 0, 1022));
        }
        (side == Side::Up ? line.snr.up : line.snr.down) = snr;
        (side == Side::Up ? line.qln.up : line.qln.down) = qln;
        (side == Side::Up ? line.hlog.up : line.hlog.down) = hlog;
    }
}

std::vector<double> ToneValues(const FamilyLine& line, Quantity quantity)
{
    std::vector<double> values(std::size_t(line.toneCount), std::nan(""));
    for (int tone = 0; tone < line.toneCount; ++tone)
        if (const int code = ToneCode(line, quantity, tone); code != NoneCode(quantity))
            values[std::size_t(tone)] = CodeValue(quantity, code);
    return values;
}

std::vector<double> LantiqToneValues(const FamilyLine& line, Quantity quantity)
{
    std::vector<double> values = ToneValues(line, quantity);
    if (quantity != Quantity::Hlog || !IsAdsl2Plus(line))
        return values;
    const SpectrumSide& down = line.hlog.down;
    const int firstUnmeasured = int(down.codes.size() / 2) * down.groupSize;
    for (int tone = firstUnmeasured; tone < line.toneCount; ++tone)
        if (SideOf(line, tone) == Side::Down)
            values[std::size_t(tone)] = std::nan("");
    return values;
}

std::optional<Quantity> SpectrumCommand(const std::string& command)
{
    const struct {
        const char* word;
        Quantity quantity;
    } words[] = {{"--SNR", Quantity::Snr}, {"--QLN", Quantity::Qln}, {"--Hlog", Quantity::Hlog},
        {"g997dsnrg", Quantity::Snr}, {"g997dqlng", Quantity::Qln}, {"g997dhlogg", Quantity::Hlog},
        {"status snr", Quantity::Snr}, {"status qln", Quantity::Qln}, {"status hlog", Quantity::Hlog}};
    for (const auto& w : words)
        if (command.find(w.word) != std::string::npos)
            return w.quantity;
    return std::nullopt;
}

std::optional<std::string> BroadcomSpectrumReply(const FamilyLine& line, const std::string& command)
{
    const auto quantity = SpectrumCommand(command);
    if (!quantity || command.rfind("xdslctl info ", 0) != 0)
        return std::nullopt;
    // Every tone a row, its group's value repeated; the firmware's markers
    // where nothing was measured, and rows past the profile as for the bits.
    const char* const heads[] = {"SNR", "QLN", "Hlog"};
    const char* const none[] = {"0.0000", "-160.0000", "-96.3000"};
    const int q = int(*quantity);
    std::string text = Format("\r\nTone number      %s\r\n", heads[q]);
    for (int tone = 0; tone < line.printedRows; ++tone) {
        const int code = tone < line.toneCount ? ToneCode(line, *quantity, tone) : NoneCode(*quantity);
        text += Format("%4d\t\t", tone) + Decimal(*quantity, code, "%.4f", none[q]) + "\r\n";
    }
    return text;
}

std::optional<std::string> LantiqSpectrumReply(const FamilyLine& line, const std::string& pipe, bool olderApi)
{
    const auto quantity = SpectrumCommand(pipe);
    if (!quantity)
        return std::nullopt;
    int a = -1, b = -1;
    char name[16] = {};
    if (std::sscanf(pipe.c_str(), "%15s %d %d", name, &a, &b) != 3)
        return std::string("nReturn=-1\r\n");
    // API 2.x takes the line first; later ones the direction, then 1 for
    // showtime values (0 would ask for the last loop diagnostic).
    const int direction = olderApi ? (a == 0 ? b : -1) : (b == 1 ? a : -1);
    if (direction != 0 && direction != 1)
        return std::string("nReturn=-1\r\n");
    const SpectrumCodes& codes = Codes(line, *quantity);
    const SpectrumSide& side = direction == 0 ? codes.up : codes.down;
    // The group size some firmware prints for QLN on VDSL2 is 1, whatever
    // the groups hold; on 35b the upstream QLN and Hlog print half theirs.
    const bool halfSize = IsPlan35b(line) && direction == 0 && *quantity != Quantity::Snr;
    const int printedSize = halfSize ? side.groupSize / 2
        : *quantity == Quantity::Qln && side.groupSize > 1 ? 1
                                                           : side.groupSize;
    // The chip (a VR9, as vig says) measures an ADSL2+ line's downstream
    // Hlog on the first half of the groups only, and prints the first half
    // again in the second.
    const bool halfMeasured = IsAdsl2Plus(line) && direction == 1 && *quantity == Quantity::Hlog;
    const std::size_t half = side.codes.size() / 2;
    const char* const names[] = {"nSnr", "nQln", "nHlog"};
    std::string text = Format("nReturn=0 nDirection=%d nDeltDataType=1 nMeasurementTime=0 nGroupSize=%d "
                              "nNumData=%d\r\n", direction, printedSize, int(side.codes.size()))
        + Format("nFormat=(nToneIndex(dec),%s(dec)) nData=\"\r\n", names[int(*quantity)]);
    for (std::size_t g = 0; g < side.codes.size(); ++g) {
        if (g > 0 && g % 10 == 0)
            text += "\r\n";
        const int code = halfMeasured && g >= half ? side.codes[g - half] : side.codes[g];
        text += Format(*quantity == Quantity::Hlog ? "(%04d,%04d) " : "(%04d,%03d) ", int(g), code);
    }
    return text + "\"\r\n";
}

std::optional<std::string> DraytekSpectrumReply(const FamilyLine& line, const std::string& command)
{
    const auto quantity = SpectrumCommand(command);
    if (!quantity || command.rfind("adsl status ", 0) != 0)
        return std::nullopt;
    const SpectrumCodes& codes = Codes(line, *quantity);
    const char* const none[] = {"0.0", "-150.0", "-96.3"};
    std::string text = Format("GroupSize   : %5d %5d\r\nNumData     : %5d %5d\r\n", codes.up.groupSize,
        codes.down.groupSize, int(codes.up.codes.size()), int(codes.down.codes.size()));
    for (const auto& [head, side] : {std::pair{"US:", &codes.up}, std::pair{"DS:", &codes.down}}) {
        text += std::string(head) + "\r\n";
        // Eight groups a row, each row opened by its first group.
        for (std::size_t g = 0; g < side->codes.size(); g += 8) {
            text += Format("bin=%4d:", int(g));
            for (std::size_t i = g; i < std::min(g + 8, side->codes.size()); ++i)
                text += ' ' + Decimal(*quantity, side->codes[i], "%.1f", none[int(*quantity)]) + ',';
            text += " \r\n";
        }
    }
    return text;
}

} // namespace routersim
