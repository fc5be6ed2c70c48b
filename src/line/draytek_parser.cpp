#include "line/family_parsers.h"
#include "line/figure_parsers.h"
#include "line/family_per_tone.h"

#include <QRegularExpression>

namespace {

using TDirection = TLineBuilder::TDirection;

QString ReplyText(const TFamilyReplies& replies, TReplyRole role)
{
    const auto it = replies.find(role);
    return it == replies.end() ? QString() : QString::fromLatin1(it->second.data(), qsizetype(it->second.size()));
}

} // namespace

TParsedLine ParseDraytek(const TFamilyReplies& replies)
{
    TLineBuilder line;
    // Two "key : value" pairs share a line; the value is the first word.
    const QString status = ReplyText(replies, TReplyRole::State);
    static const QRegularExpression state(QStringLiteral("(?:^|\\s)State\\s*:\\s*(\\S+)"));
    static const QRegularExpression running(QStringLiteral("Running Mode\\s*:\\s*(\\S+)"));
    if (const auto m = state.match(status); m.hasMatch())
        line.SetState(QStringLiteral("State: ") + m.captured(1),
            m.captured(1).compare(QLatin1String("SHOWTIME"), Qt::CaseInsensitive) == 0);
    if (const auto m = running.match(status); m.hasMatch())
        line.SetMode(ModeFromText(m.captured(1)));
    line.AllowAdslDefaultBands();

    // Only lines with "*" carry tones; each piece between stars is tone,
    // SNR, a value not used, bits.
    for (const auto& [role, direction] : {std::pair{TReplyRole::BitsUp, TDirection::Up},
             std::pair{TReplyRole::BitsDown, TDirection::Down}}) {
        const auto it = replies.find(role);
        if (it == replies.end())
            continue;
        for (std::string_view text : ReplyLines(it->second)) {
            if (text.find('*') == std::string_view::npos)
                continue;
            // The router pads both sides of a star: a star against a digit
            // stands for a spoilt character, and the pieces beside it would
            // give a tone or bits cut short.
            const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
            bool cleanStart = true;
            while (true) {
                const std::size_t star = text.find('*');
                const auto fields = Fields(text.substr(0, star));
                const bool cleanEnd = star == std::string_view::npos || (star > 0 && blank(text[star - 1]));
                if (fields.size() == 4 && cleanStart && cleanEnd) {
                    const auto tone = WholeNumber(fields[0]);
                    const auto bits = WholeNumber(fields[3]);
                    if (tone && bits)
                        line.Put(direction, *tone, *bits);
                }
                if (star == std::string_view::npos)
                    break;
                text.remove_prefix(star + 1);
                cleanStart = text.empty() || blank(text.front());
            }
        }
    }

    static const QRegularExpression limits(QStringLiteral("Limits=\\[\\s*(\\d{1,6})\\s*-\\s*(\\d{1,6})\\s*\\]"));
    std::optional<TDirection> direction;
    for (const QString& text : ReplyText(replies, TReplyRole::BandsBoth).split(QLatin1Char('\n'))) {
        const QString l = text.trimmed();
        if (l.startsWith(QLatin1String("US:")))
            direction = TDirection::Up;
        else if (l.startsWith(QLatin1String("DS:")))
            direction = TDirection::Down;
        if (!direction)
            continue;
        for (auto it = limits.globalMatch(l); it.hasNext();) {
            const auto m = it.next();
            line.AddBand(*direction, m.captured(1).toLongLong(), m.captured(2).toLongLong());
        }
    }
    TParsedLine parsed = line.Finish();
    const auto reply = [&](TReplyRole role) {
        const auto it = replies.find(role);
        return it == replies.end() ? std::string_view() : std::string_view(it->second);
    };
    parsed.Figures = DraytekFigures(reply(TReplyRole::State), reply(TReplyRole::FiguresMore));
    if (parsed.Ok())
        parsed.Spectra = DraytekSpectra(replies, parsed.ToneCount);
    return parsed;
}
