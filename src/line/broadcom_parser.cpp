#include "line/family_parsers.h"
#include "line/figure_parsers.h"
#include "line/family_per_tone.h"

#include <QRegularExpression>

namespace {

using TDirection = TLineBuilder::TDirection;

std::string_view Reply(const TFamilyReplies& replies, TReplyRole role)
{
    const auto it = replies.find(role);
    return it == replies.end() ? std::string_view() : std::string_view(it->second);
}

// The text after "Key:" when the line starts with it.
std::optional<QString> KeyValue(std::string_view line, std::string_view key)
{
    std::size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    line.remove_prefix(i);
    if (line.substr(0, key.size()) != key)
        return std::nullopt;
    return QString::fromLatin1(line.substr(key.size()).data(), qsizetype(line.size() - key.size())).trimmed();
}

} // namespace

TParsedLine ParseBroadcom(const TFamilyReplies& replies)
{
    TLineBuilder line;
    QString modeText;
    QString profileText;
    // Every info reply opens with the state block; the first one read wins.
    for (const TReplyRole role : {TReplyRole::State, TReplyRole::BitsBoth, TReplyRole::BandsBoth})
        for (std::string_view text : ReplyLines(Reply(replies, role))) {
            if (const auto status = KeyValue(text, "Status:"))
                line.SetState(QStringLiteral("Status: ") + *status,
                    status->compare(QLatin1String("Showtime"), Qt::CaseInsensitive) == 0);
            else if (const auto mode = KeyValue(text, "Mode:"); mode && modeText.isEmpty())
                modeText = *mode;
            else if (const auto profile = KeyValue(text, "VDSL2 Profile:"); profile && profileText.isEmpty())
                profileText = *profile;
        }
    if (modeText.contains(QLatin1String("VDSL"))) {
        if (const auto mode = VdslModeFromProfile(profileText))
            line.SetMode(*mode);
        else
            line.SetMode(QStringLiteral("VDSL2 ") + profileText);
    } else {
        line.SetMode(AdslModeFromText(modeText));
    }

    bool inTable = false;
    for (std::string_view text : ReplyLines(Reply(replies, TReplyRole::BitsBoth))) {
        const auto fields = Fields(text);
        if (!fields.empty() && fields[0] == "Tone" && fields.size() > 1 && fields[1] == "number") {
            inTable = true;
            continue;
        }
        if (!inTable || fields.size() != 2)
            continue;
        const auto tone = WholeNumber(fields[0]);
        const auto bits = WholeNumber(fields[1]);
        if (tone && bits)
            line.Put(TDirection::Both, *tone, *bits);
    }

    // Only the final (Medley) plan is the line's; the Discovery plan before
    // it is what the modems started from.
    static const QRegularExpression pair(QStringLiteral("\\(\\s*(\\d{1,6})\\s*,\\s*(\\d{1,6})\\s*\\)"));
    bool medley = false;
    for (std::string_view text : ReplyLines(Reply(replies, TReplyRole::BandsBoth))) {
        const QString l = QString::fromLatin1(text.data(), qsizetype(text.size())).trimmed();
        if (l.contains(QLatin1String("Currently not in VDSL modulation")))
            line.AllowAdslDefaultBands();
        if (l.endsWith(QLatin1String("Band Plan"))) {
            medley = l.startsWith(QLatin1String("Medley"));
            continue;
        }
        const bool up = l.startsWith(QLatin1String("US:"));
        if (!medley || (!up && !l.startsWith(QLatin1String("DS:"))))
            continue;
        for (auto it = pair.globalMatch(l); it.hasNext();) {
            const auto m = it.next();
            line.AddBand(up ? TDirection::Up : TDirection::Down, m.captured(1).toLongLong(), m.captured(2).toLongLong());
        }
    }
    TParsedLine parsed = line.Finish();
    parsed.Figures = BroadcomFigures(Reply(replies, TReplyRole::State));
    if (parsed.Ok())
        parsed.Spectra = BroadcomSpectra(replies, parsed.Bands, parsed.ToneCount);
    return parsed;
}

TParsedLine ParseFamilyReplies(TRouterFamily family, const TFamilyReplies& replies)
{
    switch (family) {
    case TRouterFamily::Broadcom: return ParseBroadcom(replies);
    case TRouterFamily::Lantiq: return ParseLantiq(replies);
    case TRouterFamily::Draytek: return ParseDraytek(replies);
    case TRouterFamily::Zyxel: break;
    }
    TParsedLine none;
    none.Failure = QStringLiteral("the ZyXEL line has a dialogue of its own");
    return none;
}

