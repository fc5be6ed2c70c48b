#include "history/store/block_extras.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <type_traits>

bool HasExtras(const TReading& reading)
{
    return reading.Outcome != TReadingOutcome::Unknown || !reading.Figures.Empty() || !reading.Spectra.Empty();
}

// --- spectra, both formats ---

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

// --- format 3 ---
//
// After the bits, for the readings that have extras (HasExtras), in order:
// their outcomes; which of them have figures and which spectra; the figures
// of those that have them, a column a figure; the spectra of those that have
// them, a reading at a time. Outcomes and the two choices are runs of one
// value: a value and how many readings it holds for.
//
// Each reading's figures are its changes from those of the one before it
// that had figures (none for the first of the block), with the time since
// the link came up expected to have grown by the time between them; spectra
// likewise from the spectra before. A column first says which readings
// changed it (ChangedNone, ChangedAll, a list or a bitmap, whichever is
// shorter), then each change's value as a code:
//   0          the figure went absent;
//   1          the value follows whole: a counter's as a number, a figure's
//              as its double's eight bytes unless it is a whole tenth, which
//              is then 2 + ZigZag(tenths) like the next;
//   2 + ZigZag(d)   a figure: d tenths from the value before (from 0 when
//              there was none or it was finer than a tenth); a counter: it
//              grew d more than the column's usual growth in the block, which
//              the column names first. A counter grows by about as much every
//              minute, so its codes stay near 2 however large the counts.

namespace {

enum TChangedAt : std::uint8_t { ChangedNone, ChangedAll, ChangedListed, ChangedMarked };

constexpr std::uint64_t AbsentCode = 0;
constexpr std::uint64_t WholeCode = 1;
constexpr std::uint64_t FirstDeltaCode = 2;

template <typename TValue>
void PutRuns(QByteArray& out, std::size_t count, TValue&& valueOf)
{
    for (std::size_t start = 0; start < count;) {
        const std::uint64_t value = valueOf(start);
        std::size_t end = start + 1;
        while (end < count && valueOf(end) == value)
            ++end;
        PutVarint(out, value);
        PutVarint(out, end - start);
        start = end;
    }
}

// Runs until count values are set; a run of nothing or past count is damage.
template <typename TSet>
void GetRuns(TBlockReader& in, std::size_t count, TSet&& set)
{
    for (std::size_t at = 0; at < count && in.Ok();) {
        const std::uint64_t value = in.Varint();
        const std::uint64_t length = in.Varint();
        if (length == 0 || length > count - at) {
            in.Bad();
            return;
        }
        for (const std::size_t end = at + std::size_t(length); at < end; ++at)
            set(at, value);
    }
}

// Which of a column's readings changed (changed[w] != 0), in as few bytes as
// the one of the four forms that fits.
void PutChanged(QByteArray& out, const std::vector<std::uint8_t>& changed, std::size_t count)
{
    const std::size_t n = changed.size();
    if (count == 0 || count == n) {
        out += char(count == 0 ? ChangedNone : ChangedAll);
        return;
    }
    // A varint a change, mostly one byte, against a bit a reading.
    if (count * 8 < n) {
        out += char(ChangedListed);
        PutVarint(out, count);
        std::size_t last = std::size_t(-1);
        for (std::size_t w = 0; w < n; ++w) {
            if (changed[w]) {
                PutVarint(out, w - last - 1);
                last = w;
            }
        }
        return;
    }
    out += char(ChangedMarked);
    for (std::size_t w = 0; w < n; w += 8) {
        std::uint8_t byte = 0;
        for (std::size_t b = 0; b < 8 && w + b < n; ++b)
            byte |= std::uint8_t(changed[w + b] ? 1u << b : 0u);
        out += char(byte);
    }
}

// False for a column no reading changed, which then has nothing more.
bool GetChanged(TBlockReader& in, std::vector<std::uint8_t>& changed)
{
    const std::size_t n = changed.size();
    switch (in.Byte()) {
    case ChangedNone:
        return false;
    case ChangedAll:
        std::fill(changed.begin(), changed.end(), std::uint8_t(1));
        return true;
    case ChangedListed: {
        std::fill(changed.begin(), changed.end(), std::uint8_t(0));
        const std::uint64_t count = in.Varint();
        std::uint64_t w = std::uint64_t(-1);
        for (std::uint64_t c = 0; c < count && in.Ok(); ++c) {
            w += in.Varint() + 1;
            if (w >= n)
                return in.Bad() != 0;
            changed[std::size_t(w)] = 1;
        }
        return in.Ok();
    }
    case ChangedMarked: {
        const std::uint8_t* bytes = in.Bytes((n + 7) / 8);
        if (!bytes)
            return false;
        for (std::size_t w = 0; w < n; ++w)
            changed[w] = (bytes[w / 8] >> (w % 8)) & 1;
        return true;
    }
    default:
        return in.Bad() != 0;
    }
}

// A figure as the reading after one that read it expects it: the same, or
// for the time since the link came up, grown by the time between them.
template <typename T>
std::optional<T> Expected(const std::optional<T>& before, bool sinceLink, std::int64_t elapsedMs)
{
    if constexpr (std::is_same_v<T, std::int64_t>)
        if (sinceLink && before)
            return ExpectedSinceLink(*before, elapsedMs);
    return before;
}

// What a change is counted from: the value before, else 0.
std::int64_t ReferenceTenths(const std::optional<double>& before)
{
    const auto tenths = before ? WholeTenths(*before) : std::nullopt;
    return tenths.value_or(0);
}

template <typename T>
void PutCode(QByteArray& out, const std::optional<T>& value, const std::optional<T>& expected, std::int64_t usual)
{
    if (!value) {
        PutVarint(out, AbsentCode);
        return;
    }
    if constexpr (std::is_floating_point_v<T>) {
        if (const auto tenths = WholeTenths(*value)) {
            PutVarint(out, FirstDeltaCode + ZigZag(*tenths - ReferenceTenths(expected)));
            return;
        }
        PutVarint(out, WholeCode);
        char bytes[sizeof(double)];
        std::memcpy(bytes, &*value, sizeof bytes);
        out.append(bytes, sizeof bytes);
    } else {
        const std::uint64_t from = expected ? std::uint64_t(*expected) + std::uint64_t(usual) : 0;
        const std::uint64_t more = ZigZag(std::int64_t(std::uint64_t(*value) - from));
        if (more <= std::numeric_limits<std::uint64_t>::max() - FirstDeltaCode) {
            PutVarint(out, FirstDeltaCode + more);
            return;
        }
        PutVarint(out, WholeCode);
        PutVarint(out, std::uint64_t(*value));
    }
}

// value holds what was expected and receives what was read.
template <typename T>
void GetCode(TBlockReader& in, std::optional<T>& value, std::int64_t usual)
{
    const std::uint64_t code = in.Varint();
    if (code == AbsentCode) {
        value.reset();
    } else if constexpr (std::is_floating_point_v<T>) {
        if (code == WholeCode) {
            double whole = 0;
            if (const std::uint8_t* bytes = in.Bytes(sizeof(double)))
                std::memcpy(&whole, bytes, sizeof whole);
            value = whole;
        } else {
            value = double(ReferenceTenths(value) + UnZigZag(code - FirstDeltaCode)) / Tenths;
        }
    } else if (code == WholeCode) {
        value = T(in.Varint());
    } else {
        const std::uint64_t from = value ? std::uint64_t(*value) + std::uint64_t(usual) : 0;
        value = T(from + std::uint64_t(UnZigZag(code - FirstDeltaCode)));
    }
}

// A counter's usual growth over the block: the middle one of its changes.
template <typename TOf>
std::int64_t UsualGrowth(const std::vector<const TLineFigures*>& figures, const std::vector<std::int64_t>& elapsedMs,
    const std::vector<std::uint8_t>& changed, TOf&& figureOf, bool sinceLink, std::vector<std::int64_t>& growths)
{
    growths.clear();
    for (std::size_t w = 1; w < figures.size(); ++w) {
        const auto& value = figureOf(*figures[w]);
        const auto expected = Expected(figureOf(*figures[w - 1]), sinceLink, elapsedMs[w]);
        if (changed[w - 1] && value && expected)
            growths.push_back(std::int64_t(std::uint64_t(*value) - std::uint64_t(*expected)));
    }
    if (growths.empty())
        return 0;
    const auto middle = growths.begin() + std::ptrdiff_t(growths.size() / 2);
    std::nth_element(growths.begin(), middle, growths.end());
    return *middle;
}

// The figures of readings that have them: the first one's whole (its state,
// then each figure's code from nothing), then the others' changes a column
// a figure, its state first.
void PutFigures(QByteArray& out, const std::vector<const TLineFigures*>& figures,
    const std::vector<std::int64_t>& elapsedMs)
{
    const std::size_t n = figures.size();
    PutText(out, figures[0]->State);
    ForEachFigure([&](auto&& figureOf, bool) { PutCode(out, figureOf(*figures[0]), {}, 0); });

    std::vector<std::uint8_t> changed(n - 1); // changed[w - 1] for reading w
    std::vector<std::int64_t> growths;
    std::size_t count = 0;
    for (std::size_t w = 1; w < n; ++w) {
        changed[w - 1] = figures[w]->State != figures[w - 1]->State;
        count += changed[w - 1];
    }
    PutChanged(out, changed, count);
    for (std::size_t w = 1; w < n; ++w)
        if (changed[w - 1])
            PutText(out, figures[w]->State);

    ForEachFigure([&](auto&& figureOf, bool sinceLink) {
        using T = typename std::decay_t<decltype(figureOf(*figures[0]))>::value_type;
        count = 0;
        for (std::size_t w = 1; w < n; ++w) {
            changed[w - 1] = figureOf(*figures[w]) != Expected(figureOf(*figures[w - 1]), sinceLink, elapsedMs[w]);
            count += changed[w - 1];
        }
        PutChanged(out, changed, count);
        if (count == 0)
            return;
        std::int64_t usual = 0;
        if constexpr (!std::is_floating_point_v<T>) {
            usual = UsualGrowth(figures, elapsedMs, changed, figureOf, sinceLink, growths);
            PutSigned(out, usual);
        }
        for (std::size_t w = 1; w < n; ++w)
            if (changed[w - 1])
                PutCode(out, figureOf(*figures[w]), Expected(figureOf(*figures[w - 1]), sinceLink, elapsedMs[w]), usual);
    });
}

void GetFigures(TBlockReader& in, const std::vector<TLineFigures*>& figures, const std::vector<std::int64_t>& elapsedMs)
{
    const std::size_t n = figures.size();
    figures[0]->State = in.Text();
    ForEachFigure([&](auto&& figureOf, bool) { GetCode(in, figureOf(*figures[0]), 0); });

    // changed[w - 1] for reading w
    std::vector<std::uint8_t> changed(n - 1);
    const bool states = GetChanged(in, changed);
    for (std::size_t w = 1; w < n && in.Ok(); ++w)
        figures[w]->State = states && changed[w - 1] ? in.Text() : figures[w - 1]->State;
    ForEachFigure([&](auto&& figureOf, bool sinceLink) {
        using T = typename std::decay_t<decltype(figureOf(*figures[0]))>::value_type;
        if (!in.Ok())
            return;
        const bool any = GetChanged(in, changed);
        std::int64_t usual = 0;
        if constexpr (!std::is_floating_point_v<T>)
            if (any)
                usual = in.Signed();
        for (std::size_t w = 1; w < n; ++w) {
            auto& value = figureOf(*figures[w]);
            value = figureOf(*figures[w - 1]);
            if constexpr (std::is_same_v<T, std::int64_t>)
                if (sinceLink && value)
                    *value = ExpectedSinceLink(*value, elapsedMs[w]);
            if (any && changed[w - 1])
                GetCode(in, value, usual);
        }
    });
}

} // namespace

void PutExtras(QByteArray& out, const std::vector<TReading>& readings)
{
    std::vector<const TReading*> with;
    for (const TReading& reading : readings)
        if (HasExtras(reading))
            with.push_back(&reading);
    const std::size_t n = with.size();
    PutRuns(out, n, [&](std::size_t w) { return std::uint64_t(with[w]->Outcome); });
    PutRuns(out, n, [&](std::size_t w) { return std::uint64_t(!with[w]->Figures.Empty()); });
    PutRuns(out, n, [&](std::size_t w) { return std::uint64_t(!with[w]->Spectra.Empty()); });

    std::vector<const TLineFigures*> figures;
    std::vector<std::int64_t> elapsedMs;
    const TReading* before = nullptr;
    for (const TReading* reading : with) {
        if (reading->Figures.Empty())
            continue;
        figures.push_back(&reading->Figures);
        elapsedMs.push_back(before ? reading->TimeMs - before->TimeMs : 0);
        before = reading;
    }
    if (!figures.empty())
        PutFigures(out, figures, elapsedMs);

    const TToneSpectra none;
    const TToneSpectra* spectraBefore = &none;
    for (const TReading* reading : with) {
        if (reading->Spectra.Empty())
            continue;
        PutSpectra(out, reading->Spectra, *spectraBefore);
        spectraBefore = &reading->Spectra;
    }
}

void GetExtras(TBlockReader& in, std::vector<TReading>& readings, const std::vector<bool>& extras)
{
    std::vector<TReading*> with;
    for (std::size_t i = 0; i < readings.size(); ++i)
        if (extras[i])
            with.push_back(&readings[i]);
    const std::size_t n = with.size();
    GetRuns(in, n, [&](std::size_t w, std::uint64_t outcome) {
        if (outcome > std::uint64_t(TReadingOutcome::NotUnderstood))
            in.Bad();
        with[w]->Outcome = TReadingOutcome(outcome);
    });
    std::vector<std::uint8_t> figured(n), measured(n);
    const auto flagsInto = [&](std::vector<std::uint8_t>& flags) {
        GetRuns(in, n, [&](std::size_t w, std::uint64_t value) {
            if (value > 1)
                in.Bad();
            flags[w] = std::uint8_t(value);
        });
    };
    flagsInto(figured);
    flagsInto(measured);
    if (!in.Ok())
        return;

    std::vector<TLineFigures*> figures;
    std::vector<std::int64_t> elapsedMs;
    const TReading* before = nullptr;
    for (std::size_t w = 0; w < n; ++w) {
        if (!figured[w])
            continue;
        figures.push_back(&with[w]->Figures);
        elapsedMs.push_back(before ? with[w]->TimeMs - before->TimeMs : 0);
        before = with[w];
    }
    if (!figures.empty())
        GetFigures(in, figures, elapsedMs);

    const TToneSpectra* spectraBefore = nullptr;
    for (std::size_t w = 0; w < n && in.Ok(); ++w) {
        if (!measured[w])
            continue;
        if (spectraBefore)
            with[w]->Spectra = *spectraBefore;
        GetSpectra(in, with[w]->Spectra);
        spectraBefore = &with[w]->Spectra;
    }
}
