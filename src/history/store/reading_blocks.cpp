#include "history/store/reading_blocks.h"

#include <zlib.h>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <type_traits>
#include <variant>

namespace {

// Format 1 knew bits only; format 2 adds each reading's outcome, figures and
// per-tone spectra. Both are read: a block of format 1 is a block whose
// readings have none of them.
constexpr std::uint8_t FirstBlockFormat = 1;
constexpr std::uint8_t BlockFormat = 2;

// Per reading, a flag byte:
constexpr std::uint8_t CompletedFlag = 1;
constexpr std::uint8_t LineFlag = 2;     // the line's description follows
constexpr std::uint8_t WholeBitsFlag = 4; // every tone's bits follow, else the changed ones
constexpr std::uint8_t ExtrasFlag = 8;   // outcome, figures and spectra follow, as changes

void PutVarint(QByteArray& out, std::uint64_t value)
{
    while (value >= 0x80) {
        out += char(std::uint8_t(value) | 0x80);
        value >>= 7;
    }
    out += char(value);
}

void PutSigned(QByteArray& out, std::int64_t value)
{
    PutVarint(out, (std::uint64_t(value) << 1) ^ std::uint64_t(value >> 63));
}

void PutText(QByteArray& out, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    PutVarint(out, std::uint64_t(bytes.size()));
    out += bytes;
}

void PutBands(QByteArray& out, const std::vector<TToneBand>& bands)
{
    PutVarint(out, bands.size());
    for (const TToneBand& band : bands) {
        PutSigned(out, band.First);
        PutSigned(out, band.Last);
    }
}

bool SameLine(const TReading& a, const TReading& b)
{
    return a.Bits.size() == b.Bits.size() && a.SpacingKHz == b.SpacingKHz && a.Bands == b.Bands
        && a.Router == b.Router && a.Mode == b.Mode;
}

// Reads what the writer above wrote; any step past the end or out of range
// marks the whole block damaged.
class TBlockReader {
public:
    TBlockReader(const std::uint8_t* data, std::size_t size)
        : FData(data)
        , FEnd(data + size)
    {
    }
    bool Ok() const { return FOk; }
    bool AtEnd() const { return FData == FEnd; }

    std::uint64_t Varint()
    {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (FData == FEnd)
                return Bad();
            const std::uint8_t byte = *FData++;
            value |= std::uint64_t(byte & 0x7f) << shift;
            if (!(byte & 0x80))
                return value;
        }
        return Bad();
    }
    std::int64_t Signed()
    {
        const std::uint64_t v = Varint();
        return std::int64_t(v >> 1) ^ -std::int64_t(v & 1);
    }
    std::uint8_t Byte()
    {
        if (FData == FEnd)
            return std::uint8_t(Bad());
        return *FData++;
    }
    const std::uint8_t* Bytes(std::size_t count)
    {
        if (std::size_t(FEnd - FData) < count) {
            Bad();
            return nullptr;
        }
        const std::uint8_t* at = FData;
        FData += count;
        return at;
    }
    QString Text()
    {
        const std::uint64_t size = Varint();
        const std::uint8_t* bytes = size <= 1024 ? Bytes(std::size_t(size)) : nullptr;
        if (!bytes) {
            Bad();
            return {};
        }
        return QString::fromUtf8(reinterpret_cast<const char*>(bytes), qsizetype(size));
    }
    std::vector<TToneBand> Bands()
    {
        const std::uint64_t count = Varint();
        std::vector<TToneBand> bands;
        if (count > 64) {
            Bad();
            return bands;
        }
        for (std::uint64_t i = 0; i < count && FOk; ++i) {
            TToneBand band;
            band.First = int(Signed());
            band.Last = int(Signed());
            bands.push_back(band);
        }
        return bands;
    }
    std::uint64_t Bad()
    {
        FOk = false;
        FData = FEnd;
        return 0;
    }

private:
    const std::uint8_t* FData;
    const std::uint8_t* FEnd;
    bool FOk = true;
};

// The outcome, figures and spectra of a reading go in as their changes from
// the reading before it in the block: from one minute to the next a line's
// margin, rates and most tones' SNR stay put, and only what moved costs
// bytes. A reading without any of them starts the next one from nothing.
bool HasExtras(const TReading& reading)
{
    return reading.Outcome != TReadingOutcome::Unknown || !reading.Figures.Empty() || !reading.Spectra.Empty();
}

const TReading& NoExtras()
{
    static const TReading none;
    return none;
}

// Values are kept to a tenth (of a dB, a kbit/s, a dBm/Hz) as a whole number
// when that is exactly what they are, which is what routers print; anything
// finer keeps its bits whole, so nothing read is ever rounded.
constexpr double Tenths = 10.0;

std::optional<std::int64_t> WholeTenths(double value)
{
    if (!std::isfinite(value) || std::fabs(value) > 1e15)
        return std::nullopt;
    const auto tenths = std::int64_t(std::llround(value * Tenths));
    if (double(tenths) / Tenths != value)
        return std::nullopt;
    return tenths;
}

// The same for a float spectrum value, which is a tenth only to float's precision.
std::optional<std::int64_t> WholeTenths(float value)
{
    if (!std::isfinite(value) || std::fabs(value) > 1e6f)
        return std::nullopt;
    const auto tenths = std::int64_t(std::llround(double(value) * Tenths));
    if (float(double(tenths) / Tenths) != value)
        return std::nullopt;
    return tenths;
}

// A figure: 2*tenths, or 1 and the double's eight bytes.
void PutReal(QByteArray& out, double value)
{
    if (const auto tenths = WholeTenths(value)) {
        PutSigned(out, *tenths * 2);
        return;
    }
    PutSigned(out, 1);
    char bytes[sizeof(double)];
    std::memcpy(bytes, &value, sizeof bytes);
    out.append(bytes, sizeof bytes);
}

double GetReal(TBlockReader& in)
{
    const std::int64_t code = in.Signed();
    if ((code & 1) == 0)
        return double(code / 2) / Tenths;
    double value = 0;
    if (const std::uint8_t* bytes = in.Bytes(sizeof(double)))
        std::memcpy(&value, bytes, sizeof value);
    return value;
}

// Every optional figure of two readings side by side, in one fixed order.
template <typename TA, typename TB, typename TVisit>
void VisitFigures(TA& a, TB& b, TVisit&& visit)
{
    visit(a.Down.RateKbps, b.Down.RateKbps);
    visit(a.Down.AttainableKbps, b.Down.AttainableKbps);
    visit(a.Down.MarginDb, b.Down.MarginDb);
    visit(a.Down.AttenuationDb, b.Down.AttenuationDb);
    visit(a.Down.SignalAttenuationDb, b.Down.SignalAttenuationDb);
    visit(a.Down.PowerDbm, b.Down.PowerDbm);
    visit(a.Down.Crc, b.Down.Crc);
    visit(a.Down.Fec, b.Down.Fec);
    visit(a.Down.Es, b.Down.Es);
    visit(a.Down.Ses, b.Down.Ses);
    visit(a.Down.Uas, b.Down.Uas);
    visit(a.Down.BitSwaps, b.Down.BitSwaps);
    visit(a.Up.RateKbps, b.Up.RateKbps);
    visit(a.Up.AttainableKbps, b.Up.AttainableKbps);
    visit(a.Up.MarginDb, b.Up.MarginDb);
    visit(a.Up.AttenuationDb, b.Up.AttenuationDb);
    visit(a.Up.SignalAttenuationDb, b.Up.SignalAttenuationDb);
    visit(a.Up.PowerDbm, b.Up.PowerDbm);
    visit(a.Up.Crc, b.Up.Crc);
    visit(a.Up.Fec, b.Up.Fec);
    visit(a.Up.Es, b.Up.Es);
    visit(a.Up.Ses, b.Up.Ses);
    visit(a.Up.Uas, b.Up.Uas);
    visit(a.Up.BitSwaps, b.Up.BitSwaps);
    visit(a.Retrains, b.Retrains);
    visit(a.SinceLinkS, b.SinceLinkS);
}

// Where each figure of a reading is, in VisitFigures' order, to reach one by
// its number without walking the others.
using TFigureRef = std::variant<std::optional<double>*, std::optional<std::uint64_t>*, std::optional<std::int64_t>*>;

constexpr std::size_t FigureCount = 2 * 12 + 2;
constexpr std::size_t SinceLinkFigure = FigureCount - 1; // the last VisitFigures names

std::array<TFigureRef, FigureCount> FigureRefs(TLineFigures& figures)
{
    std::array<TFigureRef, FigureCount> refs;
    std::size_t at = 0;
    VisitFigures(figures, figures, [&](auto& value, auto&) { refs[at++] = &value; });
    return refs;
}


template <typename T>
void PutFigure(QByteArray& out, const std::optional<T>& value, const std::optional<T>& before)
{
    if constexpr (std::is_floating_point_v<T>) {
        PutReal(out, *value);
    } else {
        // Counters grow: their growth is a small number.
        PutSigned(out, std::int64_t(std::uint64_t(*value) - std::uint64_t(before.value_or(T(0)))));
    }
}


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

// The extras of a block's readings follow all their bits, a column each:
// every outcome, then every reading's figures, then every reading's spectra.
// Like values then stand together, which is what the compression finds.
// Each reading's extras are its changes from those of the reading before it
// in the block (none when that one had none), and the time since the link
// came up is taken to have grown by the time between them.
TLineFigures ExpectedFigures(const TReading& before, std::int64_t elapsedMs)
{
    TLineFigures expected = before.Figures;
    if (expected.SinceLinkS)
        *expected.SinceLinkS += (elapsedMs + 500) / 1000;
    return expected;
}

void PutExtras(QByteArray& out, const std::vector<TReading>& readings)
{
    // Each reading with extras, and what its extras are changes from.
    std::vector<const TReading*> with;
    std::vector<TLineFigures> figures, expected;
    std::vector<const TToneSpectra*> spectraBefore;
    for (std::size_t i = 0; i < readings.size(); ++i) {
        if (!HasExtras(readings[i]))
            continue;
        const bool after = i > 0 && HasExtras(readings[i - 1]);
        with.push_back(&readings[i]);
        figures.push_back(readings[i].Figures);
        expected.push_back(after ? ExpectedFigures(readings[i - 1], readings[i].TimeMs - readings[i - 1].TimeMs)
                                 : TLineFigures{});
        spectraBefore.push_back(after ? &readings[i - 1].Spectra : &NoExtras().Spectra);
    }
    for (const TReading* reading : with)
        out += char(reading->Outcome);

    // Figures a column each: how many readings changed it, then each one's
    // distance from the last and its value.
    const auto putColumn = [&](const auto& changed, const auto& put) {
        QByteArray changes;
        std::uint64_t count = 0;
        std::size_t last = std::size_t(-1);
        for (std::size_t w = 0; w < with.size(); ++w) {
            if (!changed(w))
                continue;
            PutVarint(changes, std::uint64_t(w - last - 1));
            put(changes, w);
            last = w;
            ++count;
        }
        PutVarint(out, count);
        out += changes;
    };
    putColumn([&](std::size_t w) { return figures[w].State != expected[w].State; },
        [&](QByteArray& to, std::size_t w) { PutText(to, figures[w].State); });
    std::vector<std::array<TFigureRef, FigureCount>> now, was;
    for (std::size_t w = 0; w < with.size(); ++w) {
        now.push_back(FigureRefs(figures[w]));
        was.push_back(FigureRefs(expected[w]));
    }
    for (std::size_t f = 0; f < FigureCount; ++f) {
        const auto differs = [&](std::size_t w) {
            return std::visit([&](auto* value) { return *value != *std::get<decltype(value)>(was[w][f]); }, now[w][f]);
        };
        putColumn(differs, [&](QByteArray& to, std::size_t w) {
            std::visit([&](auto* value) {
                to += char(*value ? 1 : 0);
                if (*value)
                    PutFigure(to, *value, *std::get<decltype(value)>(was[w][f]));
            }, now[w][f]);
        });
    }
    for (std::size_t w = 0; w < with.size(); ++w)
        PutSpectra(out, with[w]->Spectra, *spectraBefore[w]);
}

// Reads the columns into the readings that have extras (extras[i]); the
// others were left with none.
void GetExtras(TBlockReader& in, std::vector<TReading>& readings, const std::vector<bool>& extras)
{
    std::vector<std::size_t> with;
    for (std::size_t i = 0; i < readings.size(); ++i)
        if (extras[i])
            with.push_back(i);
    for (const std::size_t i : with) {
        const std::uint8_t outcome = in.Byte();
        if (outcome > std::uint8_t(TReadingOutcome::NotUnderstood))
            in.Bad();
        readings[i].Outcome = TReadingOutcome(outcome);
    }
    const auto after = [&](std::size_t w) { return with[w] > 0 && extras[with[w] - 1]; };
    // A column's changes: (reading, what to do with its figure).
    const auto column = [&](const auto& take) {
        const std::uint64_t count = in.Varint();
        std::uint64_t w = std::uint64_t(-1);
        for (std::uint64_t c = 0; c < count && in.Ok(); ++c) {
            w += in.Varint() + 1;
            if (w >= with.size()) {
                in.Bad();
                return;
            }
            take(std::size_t(w));
        }
    };
    std::vector<bool> stateChanged(with.size(), false);
    column([&](std::size_t w) {
        readings[with[w]].Figures.State = in.Text();
        stateChanged[w] = true;
    });
    // A change as read: the figure now absent, or a value (a figure's own,
    // or a counter's growth from the figure before it).
    struct TChange {
        std::size_t Figure;
        bool Present;
        double Real;
        std::int64_t Growth;
    };
    std::vector<std::pair<std::size_t, TChange>> read; // by column, then by reading
    TLineFigures kinds;
    const auto kindRefs = FigureRefs(kinds);
    for (std::size_t f = 0; f < FigureCount && in.Ok(); ++f) {
        column([&](std::size_t w) {
            TChange change{f, (in.Byte() & 1) != 0, 0, 0};
            if (change.Present) {
                if (std::holds_alternative<std::optional<double>*>(kindRefs[f]))
                    change.Real = GetReal(in);
                else
                    change.Growth = in.Signed();
            }
            read.emplace_back(w, change);
        });
    }
    // The same by reading: each reading's changes from first[w] to first[w + 1].
    std::vector<std::size_t> first(with.size() + 1, 0);
    for (const auto& [w, change] : read)
        ++first[w + 1];
    for (std::size_t w = 0; w < with.size(); ++w)
        first[w + 1] += first[w];
    std::vector<TChange> changes(read.size());
    std::vector<std::size_t> placed(first.begin(), first.end() - 1);
    for (const auto& [w, change] : read)
        changes[placed[w]++] = change;
    // Readings in order, each from the one before it.
    for (std::size_t w = 0; w < with.size() && in.Ok(); ++w) {
        const std::size_t i = with[w];
        TLineFigures& figures = readings[i].Figures;
        const QString state = stateChanged[w] ? figures.State : after(w) ? readings[i - 1].Figures.State : QString();
        figures = after(w) ? ExpectedFigures(readings[i - 1], readings[i].TimeMs - readings[i - 1].TimeMs) : TLineFigures{};
        figures.State = state;
        const auto refs = FigureRefs(figures);
        for (std::size_t c = first[w]; c < first[w + 1]; ++c) {
            const TChange& change = changes[c];
            std::visit([&](auto* value) {
                using T = typename std::decay_t<decltype(*value)>::value_type;
                if (!change.Present)
                    value->reset();
                else if constexpr (std::is_floating_point_v<T>)
                    *value = change.Real;
                else
                    *value = T(std::uint64_t(value->value_or(T(0))) + std::uint64_t(change.Growth));
            }, refs[change.Figure]);
        }
        if (after(w))
            readings[i].Spectra = readings[i - 1].Spectra;
        GetSpectra(in, readings[i].Spectra);
    }
}

} // namespace

QByteArray EncodeBlock(const std::vector<TReading>& readings)
{
    QByteArray raw;
    raw += char(BlockFormat);
    PutVarint(raw, readings.size());
    const TReading* before = nullptr;
    std::vector<int> changed;
    for (const TReading& reading : readings) {
        const bool newLine = !before || !SameLine(*before, reading);
        changed.clear();
        if (!newLine) {
            for (std::size_t tone = 0; tone < reading.Bits.size(); ++tone)
                if (reading.Bits[tone] != before->Bits[tone])
                    changed.push_back(int(tone));
        }
        // Two bytes or so a changed tone against one a tone: whole bits once
        // a quarter of the tones changed.
        const bool whole = newLine || changed.size() * 4 > reading.Bits.size();
        const bool extras = HasExtras(reading);
        raw += char((reading.Completed ? CompletedFlag : 0) | (newLine ? LineFlag : 0) | (whole ? WholeBitsFlag : 0)
            | (extras ? ExtrasFlag : 0));
        PutSigned(raw, before ? reading.TimeMs - before->TimeMs : reading.TimeMs);
        if (newLine) {
            PutVarint(raw, reading.Bits.size());
            char spacing[sizeof(double)];
            std::memcpy(spacing, &reading.SpacingKHz, sizeof spacing);
            raw.append(spacing, sizeof spacing);
            PutBands(raw, reading.Bands.Upstream);
            PutBands(raw, reading.Bands.Downstream);
            PutText(raw, reading.Router);
            PutText(raw, reading.Mode);
        }
        if (whole) {
            raw.append(reinterpret_cast<const char*>(reading.Bits.data()), qsizetype(reading.Bits.size()));
        } else {
            PutVarint(raw, changed.size());
            int last = -1;
            for (const int tone : changed) {
                PutVarint(raw, std::uint64_t(tone - last - 1));
                raw += char(reading.Bits[std::size_t(tone)]);
                last = tone;
            }
        }
        before = &reading;
    }

    PutExtras(raw, readings);
    return Deflate(raw);
}

bool DecodeBlock(const QByteArray& block, const QString& host, std::vector<TReading>& readings)
{
    readings.clear();
    QByteArray packedRaw;
    if (!Inflate(block, packedRaw))
        return false;
    const auto rawSize = std::uint64_t(packedRaw.size());
    const auto* raw = reinterpret_cast<const std::uint8_t*>(packedRaw.constData());

    TBlockReader in(raw, std::size_t(rawSize));
    const std::uint8_t format = in.Byte();
    if (format != BlockFormat && format != FirstBlockFormat)
        return false;
    const std::uint8_t knownFlags = CompletedFlag | LineFlag | WholeBitsFlag | (format >= 2 ? ExtrasFlag : 0);
    const std::uint64_t count = in.Varint();
    if (!in.Ok() || count > rawSize)
        return false;
    readings.reserve(std::size_t(count));
    TReading line;
    std::vector<bool> extras;
    extras.reserve(std::size_t(count));
    bool haveLine = false;
    std::int64_t time = 0;
    for (std::uint64_t i = 0; i < count && in.Ok(); ++i) {
        const std::uint8_t flags = in.Byte();
        if (flags & ~knownFlags)
            in.Bad();
        time = i == 0 ? in.Signed() : time + in.Signed();
        if (flags & LineFlag) {
            const std::uint64_t tones = in.Varint();
            if (tones > std::uint64_t(MaxToneCount)) {
                in.Bad();
                break;
            }
            line.Bits.assign(std::size_t(tones), 0);
            if (const std::uint8_t* spacing = in.Bytes(sizeof(double)))
                std::memcpy(&line.SpacingKHz, spacing, sizeof(double));
            line.Bands.Upstream = in.Bands();
            line.Bands.Downstream = in.Bands();
            line.Router = in.Text();
            line.Mode = in.Text();
            haveLine = true;
        } else if (!haveLine) {
            in.Bad();
            break;
        }
        if (flags & WholeBitsFlag) {
            // A reading of no tones (a line that gave none) copies nothing.
            if (const std::uint8_t* bits = in.Bytes(line.Bits.size()); bits && !line.Bits.empty())
                std::memcpy(line.Bits.data(), bits, line.Bits.size());
        } else {
            const std::uint64_t changes = in.Varint();
            std::uint64_t tone = std::uint64_t(-1);
            for (std::uint64_t c = 0; c < changes && in.Ok(); ++c) {
                tone += in.Varint() + 1;
                const std::uint8_t bits = in.Byte();
                if (tone >= line.Bits.size())
                    in.Bad();
                else
                    line.Bits[std::size_t(tone)] = bits;
            }
        }
        extras.push_back(flags & ExtrasFlag);
        line.TimeMs = time;
        line.Host = host;
        line.Completed = flags & CompletedFlag;
        readings.push_back(line);
    }
    // A block of the first format ends with its last reading's bits.
    if (in.Ok() && format >= BlockFormat)
        GetExtras(in, readings, extras);
    if (!in.Ok() || !in.AtEnd() || readings.size() != count) {
        readings.clear();
        return false;
    }
    return true;
}

QByteArray Deflate(const QByteArray& raw)
{
    QByteArray block;
    PutVarint(block, std::uint64_t(raw.size()));
    const qsizetype head = block.size();
    uLongf packed = compressBound(uLong(raw.size()));
    block.resize(head + qsizetype(packed));
    compress2(reinterpret_cast<Bytef*>(block.data() + head), &packed, reinterpret_cast<const Bytef*>(raw.constData()),
              uLong(raw.size()), 6);
    block.resize(head + qsizetype(packed));
    return block;
}

bool Inflate(const QByteArray& packed, QByteArray& raw)
{
    TBlockReader head(reinterpret_cast<const std::uint8_t*>(packed.constData()), std::size_t(packed.size()));
    const std::uint64_t rawSize = head.Varint();
    // A block never holds more than a few thousand readings of 8192 tones.
    if (!head.Ok() || rawSize == 0 || rawSize > (std::uint64_t(64) << 20))
        return false;
    QByteArray sizeBytes;
    PutVarint(sizeBytes, rawSize);
    const std::size_t headSize = std::size_t(sizeBytes.size());
    raw.resize(qsizetype(rawSize));
    uLongf unpacked = uLongf(rawSize);
    return uncompress(reinterpret_cast<Bytef*>(raw.data()), &unpacked,
                      reinterpret_cast<const Bytef*>(packed.constData() + headSize),
                      uLong(std::size_t(packed.size()) - headSize))
            == Z_OK
        && unpacked == rawSize;
}
