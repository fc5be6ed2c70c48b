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
    TDirectionBits sums;
    for (std::size_t tone = 0; tone < bits.size(); ++tone) {
        const int value = std::min<int>(bits[tone], MostBitsPerTone);
        if (value == 0)
            continue;
        switch (DirectionOf(int(tone))) {
        case TToneDirection::Upstream:
            sums.Upstream += value;
            break;
        case TToneDirection::Downstream:
            sums.Downstream += value;
            break;
        case TToneDirection::Neither:
            break;
        }
    }
    return sums;
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
