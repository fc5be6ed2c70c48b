// A reading's SNR, QLN and Hlog in a block, as their changes from the
// readings before them: the same in block formats 2 and 3.
#include "history/store/block_extras.h"

#include <array>
#include <cstring>

namespace {

// A spectrum value: 4*(change in tenths from the group's value before) when
// both are whole tenths, 4*tenths+3 when only this one is, 1 for not
// measured, 2 and the float's four bytes otherwise.
void PutSpectral(QByteArray& out, float value, float before)
{
    if (!IsMeasured(value)) {
        PutSigned(out, 1);
        return;
    }
    if (const auto tenths = WholeTenths(value)) {
        const auto prior = IsMeasured(before) ? WholeTenths(before) : std::nullopt;
        if (prior)
            PutSigned(out, (*tenths - *prior) * 4);
        else
            PutSigned(out, *tenths * 4 + 3);
        return;
    }
    PutSigned(out, 2);
    char bytes[sizeof(float)];
    std::memcpy(bytes, &value, sizeof bytes);
    out.append(bytes, sizeof bytes);
}

float GetSpectral(TBlockReader& in, float before)
{
    const std::int64_t code = in.Signed();
    switch (code & 3) {
    case 0: {
        const auto prior = IsMeasured(before) ? WholeTenths(before) : std::nullopt;
        if (!prior) {
            in.Bad();
            return NotMeasured;
        }
        return float(double(*prior + code / 4) / Tenths);
    }
    case 1:
        return NotMeasured;
    case 2: {
        float value = NotMeasured;
        if (const std::uint8_t* bytes = in.Bytes(sizeof(float)))
            std::memcpy(&value, bytes, sizeof value);
        return value;
    }
    default:
        return float(double((code - 3) / 4) / Tenths);
    }
}

// The six parts of a reading's spectra, in one fixed order.
template <typename TSpectra>
auto SpectrumParts(TSpectra& s)
{
    return std::array{&s.Snr.Up, &s.Snr.Down, &s.Qln.Up, &s.Qln.Down, &s.Hlog.Up, &s.Hlog.Down};
}

// Groups of a direction: the most a line of 8192 tones has at group size 1.
constexpr std::uint64_t MaxGroups = std::uint64_t(MaxToneCount);

} // namespace

void PutSpectra(QByteArray& out, const TToneSpectra& spectra, const TToneSpectra& before)
{
    const auto now = SpectrumParts(spectra);
    const auto was = SpectrumParts(before);
    std::uint8_t changedParts = 0;
    for (std::size_t p = 0; p < now.size(); ++p)
        if (!(*now[p] == *was[p]))
            changedParts |= std::uint8_t(1u << p);
    out += char(changedParts);
    for (std::size_t p = 0; p < now.size(); ++p) {
        if (!(changedParts & (1u << p)))
            continue;
        const TSpectrumPart& part = *now[p];
        const TSpectrumPart& prior = *was[p];
        PutVarint(out, std::uint64_t(part.GroupSize));
        PutVarint(out, part.Groups.size());
        // Against a part of another shape every group is new.
        const bool sameShape = prior.GroupSize == part.GroupSize && prior.Groups.size() == part.Groups.size();
        QByteArray changes;
        std::uint64_t count = 0;
        std::size_t last = std::size_t(-1);
        for (std::size_t g = 0; g < part.Groups.size(); ++g) {
            const float before = sameShape ? prior.Groups[g] : NotMeasured;
            const float value = part.Groups[g];
            // A new shape starts from not measured everywhere.
            if (value == before || (!IsMeasured(value) && !IsMeasured(before)))
                continue;
            PutVarint(changes, std::uint64_t(g - last - 1));
            PutSpectral(changes, value, before);
            last = g;
            ++count;
        }
        PutVarint(out, count);
        out += changes;
    }
}

void GetSpectra(TBlockReader& in, TToneSpectra& spectra)
{
    const std::uint8_t changedParts = in.Byte();
    if (changedParts & 0xc0)
        in.Bad();
    const auto parts = SpectrumParts(spectra);
    for (std::size_t p = 0; p < parts.size() && in.Ok(); ++p) {
        if (!(changedParts & (1u << p)))
            continue;
        TSpectrumPart& part = *parts[p];
        const std::uint64_t groupSize = in.Varint();
        const std::uint64_t groups = in.Varint();
        if (groupSize > 64 || groups > MaxGroups) {
            in.Bad();
            return;
        }
        if (part.GroupSize != int(groupSize) || part.Groups.size() != groups) {
            part.GroupSize = int(groupSize);
            part.Groups.assign(std::size_t(groups), NotMeasured);
        }
        const std::uint64_t count = in.Varint();
        std::uint64_t g = std::uint64_t(-1);
        for (std::uint64_t c = 0; c < count && in.Ok(); ++c) {
            g += in.Varint() + 1;
            if (g >= groups) {
                in.Bad();
                return;
            }
            part.Groups[std::size_t(g)] = GetSpectral(in, part.Groups[std::size_t(g)]);
        }
    }
}
