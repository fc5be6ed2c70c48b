#include "line/figure_parsers.h"

#include <QRegularExpression>
#include <QString>

namespace {

QString Text(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

std::optional<std::uint64_t> Count(std::string_view text)
{
    const auto n = WholeNumber(text);
    return n ? std::optional<std::uint64_t>(std::uint64_t(*n)) : std::nullopt;
}

// Which interval block the counter rows belong to.
enum class TBlock { Line, SinceLink, Total, Other };

} // namespace

TLineFigures BroadcomFigures(std::string_view stats)
{
    TLineFigures figures;
    static const QRegularExpression rates(
        QStringLiteral("Upstream rate = (\\d+) Kbps, Downstream rate = (\\d+) Kbps"));
    TDirectionFigures sinceLink[2], total[2]; // Down, Up
    bool anySinceLink = false;
    TBlock block = TBlock::Line;
    for (std::string_view line : ReplyLines(stats)) {
        const QString l = Text(line).trimmed();
        if (l.startsWith(QLatin1String("Status:")) && figures.State.isEmpty()) {
            figures.State = l.mid(7).trimmed();
            continue;
        }
        const bool max = l.startsWith(QLatin1String("Max:"));
        if (max || l.startsWith(QLatin1String("Bearer:"))) {
            // Bearer 0 is the line's data; further bearers are not.
            if (!max && !l.startsWith(QLatin1String("Bearer:\t0")) && !l.startsWith(QLatin1String("Bearer: 0")))
                continue;
            if (const auto m = rates.match(l); m.hasMatch()) {
                auto& up = max ? figures.Up.AttainableKbps : figures.Up.RateKbps;
                auto& down = max ? figures.Down.AttainableKbps : figures.Down.RateKbps;
                up = up.value_or(m.captured(1).toDouble());
                down = down.value_or(m.captured(2).toDouble());
            }
            continue;
        }
        if (l.contains(QLatin1String(" time = "))) {
            block = l.startsWith(QLatin1String("Since Link")) ? TBlock::SinceLink
                : l.startsWith(QLatin1String("Total"))         ? TBlock::Total
                                                               : TBlock::Other;
            if (block == TBlock::SinceLink) {
                anySinceLink = true;
                figures.SinceLinkS = DurationSeconds(line.substr(line.find('=') + 1));
            }
            continue;
        }
        const qsizetype colon = l.indexOf(QLatin1Char(':'));
        if (colon < 0)
            continue;
        const QString key = l.left(colon).trimmed();
        const auto fields = Fields(std::string_view(line).substr(line.find(':') + 1));
        if (fields.size() != 2)
            continue;
        if (block == TBlock::Line) {
            const auto put = [&](std::optional<double> TDirectionFigures::*member) {
                figures.Down.*member = FigureNumber(fields[0]);
                figures.Up.*member = FigureNumber(fields[1]);
            };
            if (key == QLatin1String("SNR (dB)"))
                put(&TDirectionFigures::MarginDb);
            else if (key == QLatin1String("Attn(dB)")) {
                put(&TDirectionFigures::AttenuationDb);
                // No line has no loss: VDSL firmware prints 0.0 for the
                // upstream attenuation it does not measure.
                for (TDirectionFigures* d : {&figures.Down, &figures.Up})
                    if (d->AttenuationDb == 0.0)
                        d->AttenuationDb.reset();
            } else if (key == QLatin1String("Pwr(dBm)"))
                put(&TDirectionFigures::PowerDbm);
            else if (key == QLatin1String("Bitswap")) {
                // "executed/asked for"
                figures.Down.BitSwaps = Count(fields[0].substr(0, fields[0].find('/')));
                figures.Up.BitSwaps = Count(fields[1].substr(0, fields[1].find('/')));
            }
            continue;
        }
        if (block == TBlock::Other)
            continue;
        TDirectionFigures* into = block == TBlock::SinceLink ? sinceLink : total;
        std::optional<std::uint64_t> TDirectionFigures::*member = nullptr;
        if (key == QLatin1String("FEC"))
            member = &TDirectionFigures::Fec;
        else if (key == QLatin1String("CRC"))
            member = &TDirectionFigures::Crc;
        else if (key == QLatin1String("ES"))
            member = &TDirectionFigures::Es;
        else if (key == QLatin1String("SES"))
            member = &TDirectionFigures::Ses;
        else if (key == QLatin1String("UAS"))
            member = &TDirectionFigures::Uas;
        if (member) {
            into[0].*member = Count(fields[0]);
            into[1].*member = Count(fields[1]);
        }
    }
    // The counts since the link came up where the firmware prints them
    // apart; those since power-up otherwise.
    const TDirectionFigures* counts = anySinceLink ? sinceLink : total;
    for (auto [to, from] : {std::pair{&figures.Down, &counts[0]}, std::pair{&figures.Up, &counts[1]}}) {
        to->Fec = from->Fec;
        to->Crc = from->Crc;
        to->Es = from->Es;
        to->Ses = from->Ses;
        to->Uas = from->Uas;
    }
    return figures;
}
