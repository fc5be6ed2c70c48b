#include "line/figure_parsers.h"

#include <QString>

#include <map>

namespace {

using TPairs = std::map<std::string, std::string, std::less<>>;

// The "key : value" pairs of adsl status, two to a line: a key is what
// stands before its colon since the last gap of two blanks (the previous
// value's unit comes before that gap), its value the first word after the
// colon, or a broken decimal ("7. 4") whole. The first of a key wins.
TPairs Pairs(std::string_view status)
{
    TPairs pairs;
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    for (std::string_view line : ReplyLines(status)) {
        std::size_t pos = 0;
        for (std::size_t colon; (colon = line.find(':', pos)) != std::string_view::npos;) {
            std::string_view key = line.substr(pos, colon - pos);
            while (!key.empty() && blank(key.back()))
                key.remove_suffix(1);
            if (const std::size_t gap = key.rfind("  "); gap != std::string_view::npos)
                key.remove_prefix(gap + 2);
            while (!key.empty() && blank(key.front()))
                key.remove_prefix(1);
            std::size_t i = colon + 1;
            while (i < line.size() && blank(line[i]))
                ++i;
            const std::size_t start = i;
            while (i < line.size() && !blank(line[i]))
                ++i;
            if (i > start && line[i - 1] == '.') {
                std::size_t j = i;
                while (j < line.size() && blank(line[j]))
                    ++j;
                std::size_t k = j;
                while (k < line.size() && digit(line[k]))
                    ++k;
                if (k > j)
                    i = k;
            }
            pairs.emplace(std::string(key), std::string(line.substr(start, i - start)));
            pos = i;
        }
    }
    return pairs;
}

std::optional<std::string_view> PairValue(const TPairs& pairs, std::string_view key)
{
    const auto it = pairs.find(key);
    return it == pairs.end() ? std::nullopt : std::optional<std::string_view>(it->second);
}

std::optional<double> Figure(const TPairs& pairs, std::string_view key)
{
    const auto value = PairValue(pairs, key);
    return value ? FigureNumber(*value) : std::nullopt;
}

std::optional<std::uint64_t> Count(const TPairs& pairs, std::string_view key)
{
    const auto value = PairValue(pairs, key);
    const auto n = value ? WholeNumber(*value) : std::nullopt;
    return n ? std::optional<std::uint64_t>(std::uint64_t(*n)) : std::nullopt;
}

std::optional<double> Kbps(const TPairs& pairs, std::string_view key)
{
    const auto n = Count(pairs, key);
    return n ? std::optional<double>(double(*n) / 1000.0) : std::nullopt;
}

} // namespace

TLineFigures DraytekFigures(std::string_view statusText, std::string_view more)
{
    TLineFigures figures;
    const TPairs status = Pairs(statusText);
    if (const auto state = PairValue(status, "State"))
        figures.State = QString::fromLatin1(state->data(), qsizetype(state->size()));
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
