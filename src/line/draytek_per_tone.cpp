#include "line/family_per_tone.h"

#include <charconv>
#include <cmath>

namespace {

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::optional<double> Decimal(std::string_view text)
{
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// The router's markers; Hlog has none of its own, and the G.997.1 code for
// "not measured" prints as -96.3.
float Value(TToneQuantity quantity, double value)
{
    switch (quantity) {
    case TToneQuantity::Snr: return value == 0 || value == -32 ? NotMeasured : float(value);
    case TToneQuantity::Qln: return value == -150 ? NotMeasured : float(value);
    case TToneQuantity::Hlog: return value <= -96 ? NotMeasured : float(value);
    case TToneQuantity::Bits: break;
    }
    return NotMeasured;
}

// "GroupSize : 8 8": the two numbers after the key, upstream first.
std::optional<std::pair<long long, long long>> UpDown(std::string_view line, std::string_view key)
{
    line = Trimmed(line);
    if (line.substr(0, key.size()) != key)
        return std::nullopt;
    const auto fields = Fields(line.substr(key.size()));
    if (fields.size() != 3 || fields[0] != ":")
        return std::nullopt;
    const auto up = WholeNumber(fields[1]);
    const auto down = WholeNumber(fields[2]);
    if (!up || !down)
        return std::nullopt;
    return std::pair{*up, *down};
}

int GroupSize(long long printed, long long numData, int toneCount)
{
    if (printed == 1 || printed == 2 || printed == 4 || printed == 8 || printed == 16)
        return int(printed);
    // Not printed: as many tones a group as it takes to cover the line.
    int size = 1;
    while (size < 16 && numData > 0 && numData * size < toneCount)
        size *= 2;
    return size;
}

TToneSpectrum Spectrum(std::string_view reply, TToneQuantity quantity, int toneCount)
{
    std::pair<long long, long long> sizes{0, 0}, counts{0, 0};
    TSpectrumPart* part = nullptr;
    TToneSpectrum spectrum;
    for (std::string_view text : ReplyLines(reply)) {
        const std::string_view line = Trimmed(text);
        if (const auto s = UpDown(line, "GroupSize"))
            sizes = *s;
        else if (const auto c = UpDown(line, "NumData"))
            counts = *c;
        else if (line.substr(0, 3) == "US:" || line.substr(0, 3) == "DS:") {
            const bool up = line[0] == 'U';
            part = up ? &spectrum.Up : &spectrum.Down;
            const long long numData = up ? counts.first : counts.second;
            part->GroupSize = GroupSize(up ? sizes.first : sizes.second, numData, toneCount);
            const long long groups = (toneCount + part->GroupSize - 1) / part->GroupSize;
            part->Groups.assign(std::size_t(numData > 0 ? std::min(numData, groups) : groups), NotMeasured);
        } else if (part && line.substr(0, 4) == "bin=") {
            const std::size_t colon = line.find(':');
            const auto first = colon == std::string_view::npos ? std::nullopt
                                                               : WholeNumber(Trimmed(line.substr(4, colon - 4)));
            if (!first)
                continue;
            std::size_t group = std::size_t(*first);
            std::string_view rest = line.substr(colon + 1);
            // Every value ends with a comma; the piece after the last is empty.
            while (!rest.empty()) {
                const std::size_t comma = rest.find(',');
                const std::string_view piece = Trimmed(rest.substr(0, comma));
                rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
                if (piece.empty())
                    continue;
                if (const auto value = Decimal(piece); value && group < part->Groups.size())
                    part->Groups[group] = Value(quantity, *value);
                ++group;
            }
        }
    }
    DropUnmeasured(spectrum.Up);
    DropUnmeasured(spectrum.Down);
    return spectrum;
}

} // namespace

TToneSpectra DraytekSpectra(const TFamilyReplies& replies, int toneCount)
{
    TToneSpectra spectra;
    const struct {
        TReplyRole role;
        TToneQuantity quantity;
        TToneSpectrum* into;
    } parts[] = {{TReplyRole::SnrBoth, TToneQuantity::Snr, &spectra.Snr},
        {TReplyRole::QlnBoth, TToneQuantity::Qln, &spectra.Qln},
        {TReplyRole::HlogBoth, TToneQuantity::Hlog, &spectra.Hlog}};
    for (const auto& part : parts)
        if (const auto it = replies.find(part.role); it != replies.end())
            *part.into = Spectrum(it->second, part.quantity, toneCount);
    return spectra;
}
