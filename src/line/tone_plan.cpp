#include "line/tone_plan.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

TBandPlan ZyxelBandPlan()
{
    return {{{0, ZyxelUpstreamToneCount - 1}}, {{ZyxelFirstDownstreamTone, ZyxelLastTone}}};
}

TToneDirection TBandPlan::DirectionOf(int tone) const
{
    for (const TToneBand& band : Upstream)
        if (tone >= band.First && tone <= band.Last)
            return TToneDirection::Upstream;
    for (const TToneBand& band : Downstream)
        if (tone >= band.First && tone <= band.Last)
            return TToneDirection::Downstream;
    return TToneDirection::Neither;
}

TDirectionBits TBandPlan::BitsPerDirection(const std::vector<std::uint8_t>& bits) const
{
    // A thread sums reading after reading of one line: its plan's table is
    // kept for the next.
    thread_local TToneDirections directions;
    directions.Follow(*this, int(bits.size()));
    const std::vector<TToneDirection>& side = directions.All();
    TDirectionBits sums;
    for (std::size_t tone = 0; tone < bits.size(); ++tone) {
        const int value = std::min<int>(bits[tone], MostBitsPerTone);
        sums.Upstream += side[tone] == TToneDirection::Upstream ? value : 0;
        sums.Downstream += side[tone] == TToneDirection::Downstream ? value : 0;
    }
    return sums;
}

void TToneDirections::Follow(const TBandPlan& bands, int tones)
{
    tones = std::max(tones, 0);
    if (Count() == tones && FBands == bands)
        return;
    FBands = bands;
    FDirections.assign(std::size_t(tones), TToneDirection::Neither);
    // Downstream first, so a tone in bands of both ways is upstream, as
    // DirectionOf has it.
    for (const auto& [ways, direction] : {std::pair{&bands.Downstream, TToneDirection::Downstream},
             std::pair{&bands.Upstream, TToneDirection::Upstream}})
        for (const TToneBand& band : *ways)
            for (int tone = std::max(band.First, 0); tone <= std::min(band.Last, tones - 1); ++tone)
                FDirections[std::size_t(tone)] = direction;
}

int SymbolRate(double spacingKHz)
{
    // 4.3125 kHz is 4,000 symbols a second; the rate grows with the spacing.
    return int(std::lround(spacingKHz / 4.3125 * 4000.0));
}

double LineRateKbps(int bitsPerSymbol, double spacingKHz)
{
    return double(bitsPerSymbol) * SymbolRate(spacingKHz) / 1000.0;
}

const TRangePlan& RangePlan(TRangeChoice range)
{
    for (const TRangePlan& plan : ToneRanges)
        if (plan.Choice == range)
            return plan;
    return ToneRanges.front();
}

QString RangeChoiceText(TRangeChoice range)
{
    const TRangePlan& plan = RangePlan(range);
    return QStringLiteral("%1-%2").arg(plan.FirstTone).arg(plan.LastTone);
}

std::optional<TRangeChoice> RangeChoiceFromText(const QString& text)
{
    for (const TRangePlan& plan : ToneRanges)
        if (text == RangeChoiceText(plan.Choice))
            return plan.Choice;
    return std::nullopt;
}

QString RangeChoicesText()
{
    QStringList names;
    for (const TRangePlan& plan : ToneRanges)
        names << RangeChoiceText(plan.Choice);
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

TRangePlan LineRange(TRangeChoice range, int lastTone)
{
    const int firstUpper = (lastTone + 1) / 2;
    switch (range) {
    case TRangeChoice::rc0To255: return {range, 0, firstUpper - 1};
    case TRangeChoice::rc256To512: return {range, firstUpper, lastTone};
    case TRangeChoice::rc0To512: break;
    }
    return {range, 0, lastTone};
}

QString RangeCaption(TRangeChoice range, int lastTone)
{
    const TRangePlan plan = LineRange(range, lastTone);
    return QStringLiteral("%1 - %2").arg(plan.FirstTone).arg(plan.LastTone);
}
