#include "line/family_parsers.h"
#include "line/figure_parsers.h"
#include "line/family_per_tone.h"

#include <QRegularExpression>

#include <utility>

namespace {

using TDirection = TLineBuilder::TDirection;

// The key=value tokens of a reply in order. A quoted value runs to the next
// quote or, when the closing one is missing, to the end of the reply; text
// without "=" is skipped.
std::vector<std::pair<std::string_view, std::string_view>> Tokens(std::string_view text)
{
    std::vector<std::pair<std::string_view, std::string_view>> tokens;
    std::size_t i = 0;
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (i < text.size()) {
        while (i < text.size() && space(text[i]))
            ++i;
        const std::size_t start = i;
        while (i < text.size() && !space(text[i]) && text[i] != '=')
            ++i;
        if (i >= text.size() || text[i] != '=')
            continue; // a word without "="
        const std::string_view key = text.substr(start, i - start);
        ++i;
        std::string_view value;
        if (i < text.size() && text[i] == '"') {
            const std::size_t close = text.find('"', i + 1);
            const std::size_t end = close == std::string_view::npos ? text.size() : close;
            value = text.substr(i + 1, end - i - 1);
            i = end == text.size() ? end : end + 1;
        } else {
            const std::size_t vstart = i;
            while (i < text.size() && !space(text[i]))
                ++i;
            value = text.substr(vstart, i - vstart);
        }
        tokens.emplace_back(key, value);
    }
    return tokens;
}

std::optional<std::string_view> Value(const std::vector<std::pair<std::string_view, std::string_view>>& tokens,
    std::string_view key)
{
    for (const auto& [k, v] : tokens)
        if (k == key)
            return v;
    return std::nullopt;
}

std::optional<long long> HexNumber(std::string_view text)
{
    if (text.substr(0, 2) == "0x" || text.substr(0, 2) == "0X")
        text.remove_prefix(2);
    if (text.empty() || text.size() > 8)
        return std::nullopt;
    long long value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * 16 + digit;
    }
    return value;
}

QString Text(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

} // namespace

TParsedLine ParseLantiq(const TFamilyReplies& replies)
{
    TLineBuilder line;
    std::map<TReplyRole, std::vector<std::pair<std::string_view, std::string_view>>> tokens;
    for (const auto& [role, reply] : replies) {
        tokens[role] = Tokens(reply);
        // The pipe fails a command with just nReturn=-n; its other values
        // are then not the line's.
        const auto ret = Value(tokens[role], "nReturn");
        // The VDSL profile is refused on an ADSL line, which has none; a
        // refused figure, version or per-tone reply leaves only those unread.
        if (role == TReplyRole::Profile || IsFiguresRole(role) || role == TReplyRole::Version || IsSpectrumRole(role))
            continue;
        if (!ret)
            line.Fail(QStringLiteral("the router's reply has no nReturn"));
        else if (*ret != "0")
            line.Fail(QStringLiteral("the router refused a command (nReturn=%1)").arg(Text(*ret)));
    }
    const auto value = [&](TReplyRole role, std::string_view key) {
        return Value(tokens[role], key);
    };

    if (const auto state = value(TReplyRole::State, "nLineState")) {
        const auto code = HexNumber(*state);
        line.SetState(QStringLiteral("nLineState=") + Text(*state), code && *code == 0x801);
    }

    // XTSE8 holds the VDSL2 bits; XTSE6 ADSL2+ (annex A and B), XTSE3 to
    // XTSE5 ADSL2, XTSE1 and XTSE2 ADSL.
    long long xtse[9] = {};
    bool anyXtse = false;
    for (int octet = 1; octet <= 8; ++octet)
        if (const auto v = value(TReplyRole::Mode, "XTSE" + std::to_string(octet)))
            if (const auto n = HexNumber(*v)) {
                xtse[octet] = *n;
                anyXtse = true;
            }
    if (anyXtse) {
        if (xtse[8] != 0) {
            static const char* const profiles[] = {"8a", "8b", "8c", "8d", "12a", "12b", "17a", "30a", "35b"};
            const auto profile = value(TReplyRole::Profile, "nProfile");
            const auto n = profile ? WholeNumber(*profile) : std::nullopt;
            if (n && *n < 9)
                line.SetMode(QStringLiteral("VDSL2 ") + QLatin1String(profiles[*n]));
            else
                line.SetMode(QStringLiteral("VDSL2 (no profile)"));
        } else if (xtse[6] & 0x05) {
            line.SetMode(QStringLiteral("ADSL2+"));
        } else if (xtse[3] || xtse[4] || xtse[5]) {
            line.SetMode(QStringLiteral("ADSL2"));
        } else if (xtse[1] || xtse[2]) {
            line.SetMode(QStringLiteral("ADSL"));
        }
    }
    line.AllowAdslDefaultBands();

    for (const auto& [role, direction] : {std::pair{TReplyRole::BitsUp, TDirection::Up},
             std::pair{TReplyRole::BitsDown, TDirection::Down}}) {
        const auto data = value(role, "nData");
        if (!data)
            continue;
        const auto count = value(role, "nNumData");
        const auto limit = count ? WholeNumber(*count) : std::nullopt;
        long long tone = 0;
        for (std::string_view field : Fields(*data)) {
            // Values past nNumData are not the line's, whatever they say.
            for (std::string_view piece : ReplyLines(field)) {
                if (piece.empty())
                    continue;
                if (limit && tone >= *limit)
                    break;
                if (const auto bits = piece.size() <= 2 ? HexNumber(piece) : std::nullopt)
                    line.Put(direction, tone, *bits);
                ++tone;
            }
        }
    }

    static const QRegularExpression band(
        QStringLiteral("\\(\\s*\\d{1,4}\\s*,\\s*\\(\\s*(\\d{1,6})\\s*,\\s*(\\d{1,6})\\s*\\)"));
    for (const auto& [role, direction] : {std::pair{TReplyRole::BandsUp, TDirection::Up},
             std::pair{TReplyRole::BandsDown, TDirection::Down}}) {
        const auto data = value(role, "nData");
        if (!data)
            continue;
        for (auto it = band.globalMatch(Text(*data)); it.hasNext();) {
            const auto m = it.next();
            line.AddBand(direction, m.captured(1).toLongLong(), m.captured(2).toLongLong());
        }
    }
    TParsedLine parsed = line.Finish();
    parsed.Figures = LantiqFigures(replies);
    if (parsed.Ok())
        parsed.Spectra = LantiqSpectra(replies, parsed.Bands, parsed.ToneCount);
    return parsed;
}
