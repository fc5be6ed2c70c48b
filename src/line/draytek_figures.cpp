#include "line/figure_parsers.h"

#include <QRegularExpression>
#include <QString>

namespace {

QString Text(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

// The value after "key :" where two pairs share a line: its first word, or a
// broken decimal ("7. 4") whole.
std::optional<QString> PairValue(const QString& status, const char* key)
{
    const QRegularExpression pair(QStringLiteral("(?:^|\\s)%1\\s*:\\s*(-?\\d+\\.\\s*\\d+|\\S+)")
                                      .arg(QRegularExpression::escape(QLatin1String(key))),
        QRegularExpression::MultilineOption);
    if (const auto m = pair.match(status); m.hasMatch())
        return m.captured(1);
    return std::nullopt;
}

std::optional<double> Figure(const QString& status, const char* key)
{
    const auto value = PairValue(status, key);
    return value ? FigureNumber(value->toStdString()) : std::nullopt;
}

std::optional<std::uint64_t> Count(const QString& status, const char* key)
{
    const auto value = PairValue(status, key);
    const auto n = value ? WholeNumber(value->toStdString()) : std::nullopt;
    return n ? std::optional<std::uint64_t>(std::uint64_t(*n)) : std::nullopt;
}

std::optional<double> Kbps(const QString& status, const char* key)
{
    const auto n = Count(status, key);
    return n ? std::optional<double>(double(*n) / 1000.0) : std::nullopt;
}

} // namespace

TLineFigures DraytekFigures(std::string_view statusText, std::string_view more)
{
    TLineFigures figures;
    const QString status = Text(statusText);
    if (const auto state = PairValue(status, "State"))
        figures.State = *state;
    TDirectionFigures& down = figures.Down;
    TDirectionFigures& up = figures.Up;
    down.RateKbps = Kbps(status, "DS Actual Rate");
    up.RateKbps = Kbps(status, "US Actual Rate");
    down.AttainableKbps = Kbps(status, "DS Attainable Rate");
    up.AttainableKbps = Kbps(status, "US Attainable Rate");
    down.AttenuationDb = Figure(status, "NE Current Attenuation");
    up.AttenuationDb = Figure(status, "Far Current Attenuation");
    down.MarginDb = Figure(status, "Cur SNR Margin");
    up.MarginDb = Figure(status, "Far SNR Margin");
    down.PowerDbm = Figure(status, "DS actual PSD");
    up.PowerDbm = Figure(status, "US actual PSD");
    down.Crc = Count(status, "NE CRC Count");
    up.Crc = Count(status, "FE CRC Count");
    down.Es = Count(status, "NE ES Count");
    up.Es = Count(status, "FE ES Count");
    figures.Retrains = Count(status, "Xdsl Link Times");

    // "KEY : near far (note)"
    for (std::string_view line : ReplyLines(more)) {
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        const auto key = Fields(line.substr(0, colon));
        const auto values = Fields(line.substr(colon + 1));
        if (key.size() != 1 || values.size() < 2)
            continue;
        std::optional<std::uint64_t> TDirectionFigures::*member = nullptr;
        if (key[0] == "ES")
            member = &TDirectionFigures::Es;
        else if (key[0] == "SES")
            member = &TDirectionFigures::Ses;
        else if (key[0] == "UAS")
            member = &TDirectionFigures::Uas;
        else if (key[0] == "Bitswap")
            member = &TDirectionFigures::BitSwaps;
        if (!member)
            continue;
        for (auto [d, text] : {std::pair{&down, values[0]}, std::pair{&up, values[1]}})
            if (const auto n = WholeNumber(text); n && !(d->*member))
                d->*member = std::uint64_t(*n);
    }
    return figures;
}
