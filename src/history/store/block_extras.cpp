#include "history/store/block_extras.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <type_traits>

bool HasExtras(const TReading& reading)
{
    return reading.Outcome != TReadingOutcome::Unknown || !reading.Figures.Empty() || !reading.Spectra.Empty();
}

// Block format 3. After the bits, for the readings that have extras (HasExtras), in order:
// their outcomes; which of them have figures and which spectra; the figures
// of those that have them; the spectra of those that have them, a reading at
// a time. Outcomes and the two choices are runs of one value: a value and
// how many readings it holds for.
//
// The first reading with figures has them whole: its state, then each
// figure's code (below) from nothing. Each later one's are its changes from
// the one before it, a column a figure (its state first), with the time since
// the link came up expected to have grown by the time between them; spectra
// likewise from the spectra before. A column is its form (TColumnForm); if
// any reading changed it, a counter's column then names the counter's usual
// growth over the block; then, but when packed, which readings changed it
// and each change's code:
//   0          the figure is absent;
//   1          the value follows whole: a counter's as a number, a figure's
//              as its double's eight bytes (only when it is finer than a tenth);
//   2 + ZigZag(d)   a figure: d tenths from the value before (from 0 when
//              there was none or it was finer than a tenth); a counter: it
//              grew d more than the column's usual growth in the block, which
//              the column names first. A counter grows by about as much every
//              minute, so its codes stay near 2 however large the counts.

namespace {

enum TColumnForm : std::uint8_t {
    ChangedNone,   // no reading changed the figure
    ChangedAll,    // every reading did
    ChangedListed, // the number of readings that did, each one's distance from the one before
    ChangedMarked, // a bit a reading, set for those that did
    // Every reading's code, changed or not, the smallest code first and then
    // each one's difference from it in a fixed number of bits (a byte, then
    // the bits, lowest first): a counter that grows by a few each minute, or
    // a margin that moves a tenth now and then, in a few bits a reading.
    ChangedPacked,
};

constexpr std::uint64_t AbsentCode = 0;
constexpr std::uint64_t WholeCode = 1;
constexpr std::uint64_t FirstDeltaCode = 2;

// Values of count readings as runs: a value, then how many readings in a
// row have it.
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

// How a column that count of its readings changed says which: in the
// fewest bytes, a varint a change (mostly one byte) against a bit a reading.
TColumnForm FormOf(std::size_t count, std::size_t readings)
{
    return count == 0 ? ChangedNone : count == readings ? ChangedAll : count * 8 < readings ? ChangedListed : ChangedMarked;
}

// Which readings changed (changed[w] != 0), after the column's form.
void PutChanged(QByteArray& out, TColumnForm form, const std::vector<std::uint8_t>& changed, std::size_t count)
{
    const std::size_t n = changed.size();
    if (form == ChangedListed) {
        PutVarint(out, count);
        std::size_t last = std::size_t(-1);
        for (std::size_t w = 0; w < n; ++w) {
            if (changed[w]) {
                PutVarint(out, w - last - 1);
                last = w;
            }
        }
    } else if (form == ChangedMarked) {
        for (std::size_t w = 0; w < n; w += 8) {
            std::uint8_t byte = 0;
            for (std::size_t b = 0; b < 8 && w + b < n; ++b)
                byte |= std::uint8_t(changed[w + b] ? 1u << b : 0u);
            out += char(byte);
        }
    }
}

// Which readings changed, read after a column's form (but the packed one);
// false when none did.
bool GetChanged(TBlockReader& in, std::uint8_t form, std::vector<std::uint8_t>& changed)
{
    const std::size_t n = changed.size();
    switch (form) {
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

// A figure's code when it is short (every code but WholeCode).
template <typename T>
std::optional<std::uint64_t> ShortCode(const std::optional<T>& value, const std::optional<T>& expected,
    std::int64_t usual)
{
    if (!value)
        return AbsentCode;
    if constexpr (std::is_floating_point_v<T>) {
        const auto tenths = WholeTenths(*value);
        if (!tenths)
            return std::nullopt;
        return FirstDeltaCode + ZigZag(*tenths - ReferenceTenths(expected));
    } else {
        const std::uint64_t from = expected ? std::uint64_t(*expected) + std::uint64_t(usual) : 0;
        const std::uint64_t more = ZigZag(std::int64_t(std::uint64_t(*value) - from));
        if (more > std::numeric_limits<std::uint64_t>::max() - FirstDeltaCode)
            return std::nullopt;
        return FirstDeltaCode + more;
    }
}

template <typename T>
void PutCode(QByteArray& out, const std::optional<T>& value, const std::optional<T>& expected, std::int64_t usual)
{
    if (const auto code = ShortCode(value, expected, usual)) {
        PutVarint(out, *code);
        return;
    }
    PutVarint(out, WholeCode);
    if constexpr (std::is_floating_point_v<T>) {
        char bytes[sizeof(double)];
        std::memcpy(bytes, &*value, sizeof bytes);
        out.append(bytes, sizeof bytes);
    } else {
        PutVarint(out, std::uint64_t(*value));
    }
}

// value holds what was expected and receives what the code says; a whole
// value is read from in.
template <typename T>
void ApplyCode(TBlockReader& in, std::uint64_t code, std::optional<T>& value, std::int64_t usual)
{
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

// The packed form of a column whose every code is short and the codes lie
// within a byte of each other; empty otherwise.
QByteArray Packed(const std::vector<std::uint64_t>& codes)
{
    const std::uint64_t low = *std::min_element(codes.begin(), codes.end());
    const std::uint64_t spread = *std::max_element(codes.begin(), codes.end()) - low;
    if (spread > 0xff)
        return {};
    int width = 0;
    while ((spread >> width) != 0)
        ++width;
    QByteArray packed;
    PutVarint(packed, low);
    packed += char(width);
    std::uint32_t pending = 0;
    int bits = 0;
    for (const std::uint64_t code : codes) {
        pending |= std::uint32_t(code - low) << bits;
        bits += width;
        for (; bits >= 8; bits -= 8, pending >>= 8)
            packed += char(std::uint8_t(pending));
    }
    if (bits > 0)
        packed += char(std::uint8_t(pending));
    return packed;
}

// Reads a packed column's codes, one a call, in order.
class TPackedCodes {
public:
    TPackedCodes(TBlockReader& in, std::size_t count)
        : FLow(in.Varint())
        , FWidth(in.Byte())
        , FSize((count * FWidth + 7) / 8)
    {
        if (FWidth > 8)
            in.Bad();
        else
            FBytes = in.Bytes(FSize);
    }
    bool Ok() const { return FBytes != nullptr; }
    std::uint64_t Next()
    {
        if (FWidth == 0)
            return FLow;
        // A code takes at most two bytes' bits.
        const std::size_t at = FBit / 8;
        std::uint32_t window = FBytes[at];
        if (at + 1 < FSize)
            window |= std::uint32_t(FBytes[at + 1]) << 8;
        const std::uint32_t value = (window >> (FBit % 8)) & ((1u << FWidth) - 1);
        FBit += std::size_t(FWidth);
        return FLow + value;
    }

private:
    std::uint64_t FLow;
    int FWidth;
    std::size_t FSize;
    const std::uint8_t* FBytes = nullptr;
    std::size_t FBit = 0;
};

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
// then each figure's code from nothing) unless the reader knows them (the
// block's base), then the others' changes a column a figure, its state first.
void PutFigures(QByteArray& out, const std::vector<const TLineFigures*>& figures,
    const std::vector<std::int64_t>& elapsedMs, bool firstKnown)
{
    const std::size_t n = figures.size();
    if (!firstKnown) {
        PutText(out, figures[0]->State);
        ForEachFigure([&](auto&& figureOf, bool) { PutCode(out, figureOf(*figures[0]), {}, 0); });
    }

    std::vector<std::uint8_t> changed(n - 1); // changed[w - 1] for reading w
    std::size_t count = 0;
    for (std::size_t w = 1; w < n; ++w) {
        changed[w - 1] = figures[w]->State != figures[w - 1]->State;
        count += changed[w - 1];
    }
    const TColumnForm stateForm = FormOf(count, n - 1);
    out += char(stateForm);
    PutChanged(out, stateForm, changed, count);
    for (std::size_t w = 1; w < n; ++w)
        if (changed[w - 1])
            PutText(out, figures[w]->State);

    std::vector<std::int64_t> growths;
    std::vector<std::uint64_t> codes;
    QByteArray changes;
    ForEachFigure([&](auto&& figureOf, bool sinceLink) {
        using T = typename std::decay_t<decltype(figureOf(*figures[0]))>::value_type;
        count = 0;
        for (std::size_t w = 1; w < n; ++w) {
            changed[w - 1] = figureOf(*figures[w]) != Expected(figureOf(*figures[w - 1]), sinceLink, elapsedMs[w]);
            count += changed[w - 1];
        }
        const TColumnForm form = FormOf(count, n - 1);
        if (form == ChangedNone) {
            out += char(form);
            return;
        }
        std::int64_t usual = 0;
        if constexpr (!std::is_floating_point_v<T>)
            usual = UsualGrowth(figures, elapsedMs, changed, figureOf, sinceLink, growths);
        changes.resize(0);
        PutChanged(changes, form, changed, count);
        codes.clear();
        bool allShort = true;
        for (std::size_t w = 1; w < n; ++w) {
            const auto& value = figureOf(*figures[w]);
            const auto expected = Expected(figureOf(*figures[w - 1]), sinceLink, elapsedMs[w]);
            if (changed[w - 1])
                PutCode(changes, value, expected, usual);
            const auto code = allShort ? ShortCode(value, expected, usual) : std::nullopt;
            allShort = code.has_value();
            if (allShort)
                codes.push_back(*code);
        }
        const QByteArray packed = allShort ? Packed(codes) : QByteArray();
        const bool pack = !packed.isEmpty() && packed.size() < changes.size();
        out += char(pack ? ChangedPacked : form);
        if constexpr (!std::is_floating_point_v<T>)
            PutSigned(out, usual);
        out += pack ? packed : changes;
    });
}

void GetFigures(TBlockReader& in, const std::vector<TLineFigures*>& figures, const std::vector<std::int64_t>& elapsedMs,
    bool firstKnown)
{
    const std::size_t n = figures.size();
    if (!firstKnown) {
        figures[0]->State = in.Text();
        ForEachFigure([&](auto&& figureOf, bool) { ApplyCode(in, in.Varint(), figureOf(*figures[0]), 0); });
    }

    // Most figures hold still all hour: every reading starts as the first,
    // and only the columns with changes, and the time since the link came
    // up, are walked.
    for (std::size_t w = 1; w < n; ++w)
        *figures[w] = *figures[0];
    std::vector<std::uint8_t> changed(n - 1); // changed[w - 1] for reading w
    if (GetChanged(in, in.Byte(), changed))
        for (std::size_t w = 1; w < n && in.Ok(); ++w)
            figures[w]->State = changed[w - 1] ? in.Text() : figures[w - 1]->State;
    ForEachFigure([&](auto&& figureOf, bool sinceLink) {
        using T = typename std::decay_t<decltype(figureOf(*figures[0]))>::value_type;
        if (!in.Ok())
            return;
        const std::uint8_t form = in.Byte();
        if (form == ChangedNone && !sinceLink)
            return;
        std::int64_t usual = 0;
        if constexpr (!std::is_floating_point_v<T>)
            if (form != ChangedNone)
                usual = in.Signed();
        std::optional<TPackedCodes> packed;
        bool any = false;
        if (form == ChangedPacked)
            packed.emplace(in, n - 1);
        else
            any = GetChanged(in, form, changed);
        if (!in.Ok() || (packed && !packed->Ok()))
            return;
        for (std::size_t w = 1; w < n; ++w) {
            auto& value = figureOf(*figures[w]);
            value = figureOf(*figures[w - 1]);
            if constexpr (std::is_same_v<T, std::int64_t>)
                if (sinceLink && value)
                    *value = ExpectedSinceLink(*value, elapsedMs[w]);
            if (packed) {
                const std::uint64_t code = packed->Next();
                if (code == WholeCode)
                    in.Bad();
                else
                    ApplyCode(in, code, value, usual);
            } else if (any && changed[w - 1]) {
                ApplyCode(in, in.Varint(), value, usual);
            }
        }
    });
}

} // namespace

void PutExtras(QByteArray& out, const std::vector<TReading>& readings, const TReading* base)
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
    const bool known = base && !base->Figures.Empty();
    const TReading* before = known ? base : nullptr;
    if (known) {
        figures.push_back(&base->Figures);
        elapsedMs.push_back(0);
    }
    for (const TReading* reading : with) {
        if (reading->Figures.Empty())
            continue;
        figures.push_back(&reading->Figures);
        elapsedMs.push_back(before ? reading->TimeMs - before->TimeMs : 0);
        before = reading;
    }
    if (figures.size() > (known ? 1u : 0u))
        PutFigures(out, figures, elapsedMs, known);

    const TToneSpectra none;
    const TToneSpectra* spectraBefore = base && !base->Spectra.Empty() ? &base->Spectra : &none;
    for (const TReading* reading : with) {
        if (reading->Spectra.Empty())
            continue;
        PutSpectra(out, reading->Spectra, *spectraBefore);
        spectraBefore = &reading->Spectra;
    }
}

void GetExtras(TBlockReader& in, std::vector<TReading>& readings, const std::vector<bool>& extras,
    const TReading* base)
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
    const bool known = base && !base->Figures.Empty();
    TLineFigures baseFigures;
    const TReading* before = known ? base : nullptr;
    if (known) {
        baseFigures = base->Figures;
        figures.push_back(&baseFigures);
        elapsedMs.push_back(0);
    }
    for (std::size_t w = 0; w < n; ++w) {
        if (!figured[w])
            continue;
        figures.push_back(&with[w]->Figures);
        elapsedMs.push_back(before ? Stepped(with[w]->TimeMs, std::int64_t(0 - std::uint64_t(before->TimeMs))) : 0);
        before = with[w];
    }
    if (figures.size() > (known ? 1u : 0u))
        GetFigures(in, figures, elapsedMs, known);

    const TToneSpectra* spectraBefore = base && !base->Spectra.Empty() ? &base->Spectra : nullptr;
    for (std::size_t w = 0; w < n && in.Ok(); ++w) {
        if (!measured[w])
            continue;
        if (spectraBefore)
            with[w]->Spectra = *spectraBefore;
        GetSpectra(in, with[w]->Spectra);
        spectraBefore = &with[w]->Spectra;
    }
}
