// Block format 2's extras, which the last release wrote and this one only
// reads. After the bits, for the readings that have extras: every outcome
// (a byte each); the line's state and then each figure a column, as how many
// readings changed it and, for each, its distance from the change before,
// whether the figure is there, and its value; then each reading's spectra.
// A reading's extras are changes from those of the reading just before it
// in the block, or from nothing when that one had none.
#include "history/store/block_extras.h"

#include <cstring>
#include <type_traits>

namespace {

// A figure: 2*tenths, or 1 and the double's eight bytes.
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

// A column's changes, read as its readings are walked in order: At(w) is
// true when reading w has the next change.
class TColumnChanges {
public:
    TColumnChanges(TBlockReader& in, std::size_t readings)
        : FIn(in)
        , FReadings(readings)
        , FLeft(in.Varint())
    {
        Advance();
    }
    bool At(std::size_t w)
    {
        if (w != FNext)
            return false;
        --FLeft;
        return true;
    }
    // After the change at w has been read: where the next one is.
    void Advance()
    {
        if (FLeft == 0 || !FIn.Ok()) {
            FNext = FReadings;
            return;
        }
        FNext += std::size_t(FIn.Varint()) + 1;
        if (FNext >= FReadings)
            FIn.Bad();
    }

private:
    TBlockReader& FIn;
    std::size_t FReadings;
    std::uint64_t FLeft;
    std::size_t FNext = std::size_t(-1);
};

} // namespace

void GetFormat2Extras(TBlockReader& in, std::vector<TReading>& readings, const std::vector<bool>& extras)
{
    std::vector<std::size_t> with;
    for (std::size_t i = 0; i < readings.size(); ++i)
        if (extras[i])
            with.push_back(i);
    const std::size_t n = with.size();
    for (const std::size_t i : with) {
        const std::uint8_t outcome = in.Byte();
        if (outcome > std::uint8_t(TReadingOutcome::NotUnderstood))
            in.Bad();
        readings[i].Outcome = TReadingOutcome(outcome);
    }
    // The reading a reading's extras are changes from, if any.
    const auto before = [&](std::size_t w) -> TReading* {
        return with[w] > 0 && extras[with[w] - 1] ? &readings[with[w] - 1] : nullptr;
    };
    {
        TColumnChanges changes(in, n);
        for (std::size_t w = 0; w < n && in.Ok(); ++w) {
            TLineFigures& figures = readings[with[w]].Figures;
            if (changes.At(w)) {
                figures.State = in.Text();
                changes.Advance();
            } else if (const TReading* prior = before(w)) {
                figures.State = prior->Figures.State;
            }
        }
    }
    ForEachFigure([&](auto&& figureOf, bool sinceLink) {
        using T = typename std::decay_t<decltype(figureOf(readings[0].Figures))>::value_type;
        if (!in.Ok())
            return;
        TColumnChanges changes(in, n);
        for (std::size_t w = 0; w < n && in.Ok(); ++w) {
            TReading& reading = readings[with[w]];
            auto& value = figureOf(reading.Figures);
            if (const TReading* prior = before(w)) {
                value = figureOf(prior->Figures);
                if constexpr (std::is_same_v<T, std::int64_t>)
                    if (sinceLink && value)
                        *value = ExpectedSinceLink(*value, reading.TimeMs - prior->TimeMs);
            }
            if (!changes.At(w))
                continue;
            if (!(in.Byte() & 1))
                value.reset();
            else if constexpr (std::is_floating_point_v<T>)
                value = GetReal(in);
            else // a counter's growth
                value = T(std::uint64_t(value.value_or(T(0))) + std::uint64_t(in.Signed()));
            changes.Advance();
        }
    });
    for (std::size_t w = 0; w < n && in.Ok(); ++w) {
        TReading& reading = readings[with[w]];
        if (const TReading* prior = before(w))
            reading.Spectra = prior->Spectra;
        GetSpectra(in, reading.Spectra);
    }
}
