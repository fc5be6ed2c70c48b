#include "line/family_per_tone.h"

#include <algorithm>

namespace {

// The value of key=value where the key starts a word; up to the next blank.
std::optional<std::string_view> Value(std::string_view reply, std::string_view key)
{
    for (std::size_t at = reply.find(key); at != std::string_view::npos; at = reply.find(key, at + 1)) {
        const bool wordStart = at == 0 || reply[at - 1] == ' ' || reply[at - 1] == '\t' || reply[at - 1] == '\n'
            || reply[at - 1] == '\r';
        if (!wordStart || at + key.size() >= reply.size() || reply[at + key.size()] != '=')
            continue;
        std::string_view value = reply.substr(at + key.size() + 1);
        return value.substr(0, value.find_first_of(" \t\r\n"));
    }
    return std::nullopt;
}

// The digits at `at`, moving past them; none when there are none.
std::optional<long long> Digits(std::string_view text, std::size_t& at)
{
    const std::size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 6)
        ++at;
    return at == start ? std::nullopt : WholeNumber(text.substr(start, at - start));
}

float Decoded(TToneQuantity quantity, long long code)
{
    switch (quantity) {
    case TToneQuantity::Snr: return code < 255 ? float(-32.0 + double(code) / 2.0) : NotMeasured;
    case TToneQuantity::Qln: return code < 255 ? float(-23.0 - double(code) / 2.0) : NotMeasured;
    case TToneQuantity::Hlog: return code < 1023 ? float(6.0 - double(code) / 10.0) : NotMeasured;
    case TToneQuantity::Bits: break;
    }
    return NotMeasured;
}

// What the replies of some lines are known to get wrong.
struct TQuirks {
    // The group size printed is half the groups' real one.
    bool HalfGroupSize = false;
    // Only the first half of the groups are measured; the rest is noise.
    bool FirstHalfOnly = false;
};

TSpectrumPart Part(std::string_view reply, TToneQuantity quantity, int lastBandTone, int toneCount, TQuirks quirks)
{
    TSpectrumPart part;
    const auto ret = Value(reply, "nReturn");
    const auto count = Value(reply, "nNumData");
    const auto numData = count ? WholeNumber(*count) : std::nullopt;
    const std::size_t data = reply.find("nData=\"");
    // Some modems answer one direction only; a refusal is that direction
    // not measured, not a line that failed.
    if (!ret || *ret != "0" || !numData || *numData == 0 || data == std::string_view::npos)
        return part;
    const auto size = Value(reply, "nGroupSize");
    long long groupSize = size ? WholeNumber(*size).value_or(1) : 1;
    if (groupSize <= 1) {
        groupSize = 1;
        while (groupSize < 16 && *numData * groupSize <= lastBandTone)
            groupSize *= 2;
    } else if (quirks.HalfGroupSize) {
        groupSize = std::min(groupSize * 2, 16LL); // no line has groups of more
    }
    if (groupSize != 2 && groupSize != 4 && groupSize != 8 && groupSize != 16)
        groupSize = 1;
    part.GroupSize = int(groupSize);

    // (group,code) pairs; the index is the group's, not the tone's, and no
    // index past nNumData or the line is kept.
    std::string_view pairs = reply.substr(data + 7);
    pairs = pairs.substr(0, pairs.find('"'));
    const long long groups = std::min<long long>(*numData, (toneCount + groupSize - 1) / groupSize);
    part.Groups.assign(std::size_t(std::max(0LL, groups)), NotMeasured);
    bool anyCode = false;
    for (std::size_t at = pairs.find('('); at != std::string_view::npos; at = pairs.find('(', at)) {
        ++at;
        const auto group = Digits(pairs, at);
        if (!group || at >= pairs.size() || pairs[at] != ',')
            continue;
        ++at;
        const auto code = Digits(pairs, at);
        if (!code || at >= pairs.size() || pairs[at] != ')' || *group >= groups)
            continue;
        anyCode = anyCode || *code != 0;
        part.Groups[std::size_t(*group)] = Decoded(quantity, *code);
    }
    // A list of nothing but zeros is what the pipe prints when it has none.
    if (!anyCode)
        part.Groups.clear();
    if (quirks.FirstHalfOnly)
        std::fill(part.Groups.begin() + std::ptrdiff_t(part.Groups.size() / 2), part.Groups.end(), NotMeasured);
    DropUnmeasured(part);
    return part;
}

} // namespace

TToneSpectra LantiqSpectra(const TFamilyReplies& replies, const TBandPlan& bands, int toneCount)
{
    int lastBandTone = 0;
    for (const auto* side : {&bands.Upstream, &bands.Downstream})
        for (const TToneBand& band : *side)
            lastBandTone = std::max(lastBandTone, band.Last);
    // On 35b (the only plan of 8192 tones) the upstream QLN and Hlog come in
    // groups twice the size the reply prints. A VR9 on ADSL2+ (512 tones)
    // measures the downstream Hlog of the first half of the groups only.
    const bool plan35b = toneCount > 4096;
    const auto version = replies.find(TReplyRole::Version);
    const bool vr9 = version != replies.end() && LantiqVr9(version->second);
    const bool adsl2plus = toneCount > 256 && toneCount <= 512;
    TToneSpectra spectra;
    const struct {
        TReplyRole role;
        TToneQuantity quantity;
        TSpectrumPart* into;
        TQuirks quirks;
    } parts[] = {{TReplyRole::SnrUp, TToneQuantity::Snr, &spectra.Snr.Up, {}},
        {TReplyRole::SnrDown, TToneQuantity::Snr, &spectra.Snr.Down, {}},
        {TReplyRole::QlnUp, TToneQuantity::Qln, &spectra.Qln.Up, {plan35b, false}},
        {TReplyRole::QlnDown, TToneQuantity::Qln, &spectra.Qln.Down, {}},
        {TReplyRole::HlogUp, TToneQuantity::Hlog, &spectra.Hlog.Up, {plan35b, false}},
        {TReplyRole::HlogDown, TToneQuantity::Hlog, &spectra.Hlog.Down, {false, vr9 && adsl2plus}}};
    for (const auto& part : parts)
        if (const auto it = replies.find(part.role); it != replies.end())
            *part.into = Part(it->second, part.quantity, lastBandTone, toneCount, part.quirks);
    return spectra;
}
