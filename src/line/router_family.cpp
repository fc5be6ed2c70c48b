#include "line/router_family.h"

#include <QStringList>

const TRouterFamilyRow& RouterFamilyRow(TRouterFamily family)
{
    for (const TRouterFamilyRow& row : RouterFamilies)
        if (row.Family == family)
            return row;
    return RouterFamilies[0];
}

QString RouterFamilyName(TRouterFamily family)
{
    return QString::fromLatin1(RouterFamilyRow(family).Name);
}

std::optional<TRouterFamily> RouterFamilyFromName(const QString& name)
{
    for (const TRouterFamilyRow& row : RouterFamilies)
        if (name.compare(QLatin1String(row.Name), Qt::CaseInsensitive) == 0)
            return row.Family;
    return std::nullopt;
}

QString RouterFamilyNames()
{
    QStringList names;
    for (const TRouterFamilyRow& row : RouterFamilies)
        names << QString::fromLatin1(row.Name);
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

namespace {

// Broadcom's state block comes with every info reply; --stats adds the mode
// and the line's figures and counters.
constexpr TFamilyCommand BroadcomCommands[] = {
    {TReplyRole::State, "xdslctl info --stats"},
    {TReplyRole::BitsBoth, "xdslctl info --Bits"},
    {TReplyRole::BandsBoth, "xdslctl info --pbParams"},
    // Per tone, both directions in one table; QLN and Hlog only change when
    // the line trains.
    {TReplyRole::SnrBoth, "xdslctl info --SNR"},
    {TReplyRole::QlnBoth, "xdslctl info --QLN", TCommandWhen::Training},
    {TReplyRole::HlogBoth, "xdslctl info --Hlog", TCommandWhen::Training},
};

// The pipe's own names: line state, the standards in use, the VDSL profile,
// then bits and bands per direction (0 upstream, 1 downstream).
constexpr TFamilyCommand LantiqCommands[] = {
    {TReplyRole::State, "dsl_cpe_pipe lsg"},
    {TReplyRole::Mode, "dsl_cpe_pipe g997xtusesg"},
    {TReplyRole::Profile, "dsl_cpe_pipe bpstg"},
    {TReplyRole::BitsUp, "dsl_cpe_pipe g997bansg 0"},
    {TReplyRole::BitsDown, "dsl_cpe_pipe g997bansg 1"},
    {TReplyRole::BandsUp, "dsl_cpe_pipe bbsg 0"},
    {TReplyRole::BandsDown, "dsl_cpe_pipe bbsg 1"},
    // Figures: margin, attenuation, power and attainable rate per direction
    // (0 upstream, 1 downstream, at showtime), the actual rate (channel 0),
    // then the counters since showtime, which count by end (0 near end,
    // that is downstream, 1 far end), and the full initialisations.
    {TReplyRole::FiguresUp, "dsl_cpe_pipe g997lsg 0 1", TCommandWhen::Figures},
    {TReplyRole::FiguresDown, "dsl_cpe_pipe g997lsg 1 1", TCommandWhen::Figures},
    {TReplyRole::RateUp, "dsl_cpe_pipe g997csg 0 0", TCommandWhen::Figures},
    {TReplyRole::RateDown, "dsl_cpe_pipe g997csg 0 1", TCommandWhen::Figures},
    {TReplyRole::CountersDown, "dsl_cpe_pipe pmccsg 0 0 0", TCommandWhen::Figures},
    {TReplyRole::CountersUp, "dsl_cpe_pipe pmccsg 0 1 0", TCommandWhen::Figures},
    {TReplyRole::SecondsDown, "dsl_cpe_pipe pmlscsg 0 0", TCommandWhen::Figures},
    {TReplyRole::SecondsUp, "dsl_cpe_pipe pmlscsg 1 0", TCommandWhen::Figures},
    {TReplyRole::RetrainsDown, "dsl_cpe_pipe pmlictg 0", TCommandWhen::Figures},
    {TReplyRole::RetrainsUp, "dsl_cpe_pipe pmlictg 1", TCommandWhen::Figures},
    // Per tone per direction, showtime values ("1"); API 2.x takes the line
    // (0) first and then the direction.
    {TReplyRole::Version, "dsl_cpe_pipe vig"},
    {TReplyRole::SnrUp, "dsl_cpe_pipe g997dsnrg 0 1", TCommandWhen::Always, "dsl_cpe_pipe g997dsnrg 0 0"},
    {TReplyRole::SnrDown, "dsl_cpe_pipe g997dsnrg 1 1", TCommandWhen::Always, "dsl_cpe_pipe g997dsnrg 0 1"},
    {TReplyRole::QlnUp, "dsl_cpe_pipe g997dqlng 0 1", TCommandWhen::Training, "dsl_cpe_pipe g997dqlng 0 0"},
    {TReplyRole::QlnDown, "dsl_cpe_pipe g997dqlng 1 1", TCommandWhen::Training, "dsl_cpe_pipe g997dqlng 0 1"},
    {TReplyRole::HlogUp, "dsl_cpe_pipe g997dhlogg 0 1", TCommandWhen::Training, "dsl_cpe_pipe g997dhlogg 0 0"},
    {TReplyRole::HlogDown, "dsl_cpe_pipe g997dhlogg 1 1", TCommandWhen::Training, "dsl_cpe_pipe g997dhlogg 0 1"},
};

constexpr TFamilyCommand DraytekCommands[] = {
    {TReplyRole::State, "adsl status"},
    {TReplyRole::BitsUp, "adsl showbins up"},
    {TReplyRole::BitsDown, "adsl showbins"},
    {TReplyRole::BandsBoth, "adsl status bandinfo"},
    // adsl status has the rates, margins and some counters; more has the
    // errored seconds and the bit swaps.
    {TReplyRole::FiguresMore, "adsl status more", TCommandWhen::Figures},
    {TReplyRole::SnrBoth, "adsl status snr"},
    {TReplyRole::QlnBoth, "adsl status qln", TCommandWhen::Training},
    {TReplyRole::HlogBoth, "adsl status hlog", TCommandWhen::Training},
};

} // namespace

std::span<const TFamilyCommand> FamilyCommands(TRouterFamily family)
{
    switch (family) {
    case TRouterFamily::Zyxel: return {};
    case TRouterFamily::Broadcom: return BroadcomCommands;
    case TRouterFamily::Lantiq: return LantiqCommands;
    case TRouterFamily::Draytek: return DraytekCommands;
    }
    return {};
}
