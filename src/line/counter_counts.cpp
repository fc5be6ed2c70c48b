#include "line/counter_counts.h"

namespace {
constexpr std::uint64_t Half = std::uint64_t(1) << 31;
constexpr std::uint64_t Wrap = std::uint64_t(1) << 32;
} // namespace

std::optional<std::uint64_t> CounterIncrease(std::uint64_t before, std::uint64_t after)
{
    std::uint64_t increase;
    if (after >= before)
        increase = after - before;
    else if (before >= Half && before < Wrap && after < Half)
        increase = Wrap - before + after;
    else
        increase = after;
    if (increase >= Half)
        return std::nullopt;
    return increase;
}

std::optional<std::uint64_t> CounterIncrease(const std::optional<std::uint64_t>& before,
    const std::optional<std::uint64_t>& after)
{
    if (!before || !after)
        return std::nullopt;
    return CounterIncrease(*before, *after);
}

std::optional<bool> RetrainedBetween(const TLineFigures& before, const TLineFigures& after)
{
    std::optional<bool> retrained;
    if (before.Retrains && after.Retrains)
        retrained = *after.Retrains != *before.Retrains;
    if (before.SinceLinkS && after.SinceLinkS)
        retrained = retrained.value_or(false) || *after.SinceLinkS < *before.SinceLinkS;
    return retrained;
}
