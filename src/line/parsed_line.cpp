#include "line/parsed_line.h"

#include <algorithm>
#include <charconv>

namespace {

struct TModeRow {
    const char* Mode;
    TLinePlan Plan;
};

constexpr TModeRow ModeRows[] = {
    {"ADSL", {256, 4.3125}},
    {"ADSL2", {256, 4.3125}},
    {"ADSL2+", {512, 4.3125}},
    {"VDSL2 8a", {2048, 4.3125}},
    {"VDSL2 8b", {2048, 4.3125}},
    {"VDSL2 8c", {1972, 4.3125}},
    {"VDSL2 8d", {2048, 4.3125}},
    {"VDSL2 12a", {2783, 4.3125}},
    {"VDSL2 12b", {2783, 4.3125}},
    {"VDSL2 17a", {4096, 4.3125}},
    {"VDSL2 30a", {3479, 8.625}},
    {"VDSL2 35b", {8192, 4.3125}},
};

// The largest line any family prints; no index at or past it is kept.
constexpr long long MaxTones = 8192;

} // namespace

std::optional<TLinePlan> LinePlanForMode(const QString& mode)
{
    for (const TModeRow& row : ModeRows)
        if (mode == QLatin1String(row.Mode))
            return row.Plan;
    return std::nullopt;
}

std::optional<QString> VdslModeFromProfile(const QString& text)
{
    const QString t = text.trimmed().toLower();
    if (t.endsWith(QLatin1String("brcmpriv1")))
        return QStringLiteral("VDSL2 35b");
    static const char* const profiles[] = {"8a", "8b", "8c", "8d", "12a", "12b", "17a", "30a", "35b"};
    for (const char* p : profiles) {
        const QString name = QLatin1String(p);
        // The profile is the last word: "Profile 17a", "17A".
        if (t == name || t.endsWith(QLatin1Char(' ') + name))
            return QStringLiteral("VDSL2 ") + name;
    }
    return std::nullopt;
}

TBandPlan AdslDefaultBandPlan(int toneCount)
{
    return {{{6, 31}}, {{32, toneCount - 1}}};
}

QString AdslModeFromText(const QString& text)
{
    if (text.contains(QLatin1String("ADSL2+")) || text.contains(QLatin1String("G.992.5"))
        || text.contains(QLatin1String("ADSL2PLUS"), Qt::CaseInsensitive))
        return QStringLiteral("ADSL2+");
    if (text.contains(QLatin1String("ADSL2")) || text.contains(QLatin1String("G.992.3")))
        return QStringLiteral("ADSL2");
    if (text.contains(QLatin1String("ADSL")) || text.contains(QLatin1String("G.992.1"))
        || text.contains(QLatin1String("G.DMT"), Qt::CaseInsensitive))
        return QStringLiteral("ADSL");
    return {};
}

QString ModeFromText(const QString& text)
{
    if (const auto vdsl = VdslModeFromProfile(text))
        return *vdsl;
    return AdslModeFromText(text);
}

void TLineBuilder::SetState(const QString& state, bool showtime)
{
    if (FShowtime)
        return; // the first state printed is the one the line was in
    FLine.State = state;
    FShowtime = showtime;
}

void TLineBuilder::Put(TDirection direction, long long tone, long long bits)
{
    if (tone < 0 || tone >= MaxTones || bits < 0 || bits > 15)
        return;
    FAnyBits = FAnyBits || bits > 0;
    auto& target = direction == TDirection::Up ? FUp : direction == TDirection::Down ? FDown : FBoth;
    if (target.empty())
        target.assign(std::size_t(MaxTones), -1);
    target[std::size_t(tone)] = std::int8_t(bits);
}

void TLineBuilder::AddBand(TDirection direction, long long first, long long last)
{
    if (first < 0 || last < first || first >= MaxTones)
        return;
    const TToneBand band{int(first), int(std::min(last, MaxTones - 1))};
    auto& target = direction == TDirection::Up ? FBandsUp : direction == TDirection::Down ? FBandsDown : FBandsBoth;
    target.push_back(band);
}

void TLineBuilder::Fail(const QString& reason)
{
    if (FLine.Failure.isEmpty())
        FLine.Failure = reason;
}

TParsedLine TLineBuilder::Finish()
{
    TParsedLine& line = FLine;
    const auto failed = [&](const QString& reason) {
        TParsedLine out;
        out.Failure = reason;
        out.Mode = line.Mode;
        out.State = line.State;
        out.LineDown = FShowtime && !*FShowtime;
        out.Figures = line.Figures;
        out.Spectra = line.Spectra;
        return out;
    };
    // A line not in showtime explains every refusal after it.
    if (FShowtime && !*FShowtime)
        return failed(QStringLiteral("the line is not in showtime (%1)").arg(line.State));
    if (!line.Failure.isEmpty())
        return failed(line.Failure);
    if (!FShowtime)
        return failed(QStringLiteral("the router did not say the line's state"));
    const auto plan = LinePlanForMode(line.Mode);
    if (!plan)
        return failed(line.Mode.isEmpty() ? QStringLiteral("the router did not say the line's mode")
                                          : QStringLiteral("the line's mode is not known (%1)").arg(line.Mode));
    line.ToneCount = plan->ToneCount;
    line.SpacingKHz = plan->SpacingKHz;
    if (!FAnyBits)
        return failed(QStringLiteral("the router sent no bits per tone"));

    // Bands past the line are cut at its end; bands beyond it dropped.
    const auto keep = [&](const std::vector<TToneBand>& bands, std::vector<TToneBand>& into) {
        for (TToneBand band : bands)
            if (band.First < line.ToneCount)
                into.push_back({band.First, std::min(band.Last, line.ToneCount - 1)});
    };
    keep(FBandsUp, line.Bands.Upstream);
    keep(FBandsDown, line.Bands.Downstream);
    if (!FBandsBoth.empty())
        return failed(QStringLiteral("the router's band plan names no direction"));
    if (line.Bands.Upstream.empty() && line.Bands.Downstream.empty()) {
        if (FAdslDefault && !line.Mode.startsWith(QLatin1String("VDSL")))
            line.Bands = AdslDefaultBandPlan(line.ToneCount);
        else
            return failed(QStringLiteral("the router sent no band plan"));
    }

    const auto inBands = [](const std::vector<TToneBand>& bands, long long tone) {
        return std::any_of(bands.begin(), bands.end(), [&](TToneBand b) { return tone >= b.First && tone <= b.Last; });
    };
    line.Bits.assign(std::size_t(line.ToneCount), 0);
    const auto at = [](const std::vector<std::int8_t>& bits, long long tone) {
        return bits.empty() ? -1 : bits[std::size_t(tone)];
    };
    for (long long tone = 0; tone < line.ToneCount; ++tone)
        if (const int bits = at(FBoth, tone); bits >= 0)
            line.Bits[std::size_t(tone)] = std::uint8_t(bits);
    // A direction's reply counts inside its own bands; outside every band
    // whichever reply has bits there (both are 0 on a sane line).
    for (long long tone = 0; tone < line.ToneCount; ++tone) {
        const long long u = at(FUp, tone);
        const long long d = at(FDown, tone);
        if (u < 0 && d < 0)
            continue;
        long long v;
        if (inBands(line.Bands.Upstream, tone))
            v = u;
        else if (inBands(line.Bands.Downstream, tone))
            v = d;
        else
            v = std::max(u, d);
        if (v >= 0)
            line.Bits[std::size_t(tone)] = std::uint8_t(v);
    }
    if (std::all_of(line.Bits.begin(), line.Bits.end(), [](std::uint8_t b) { return b == 0; }))
        return failed(QStringLiteral("the router sent no bits per tone"));
    return line;
}

std::vector<std::string_view> ReplyLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::optional<long long> WholeNumber(std::string_view text)
{
    // from_chars takes a minus sign, and "-0" would pass as 0.
    if (text.empty() || text.size() > 12 || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

std::vector<std::string_view> Fields(std::string_view text)
{
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        const std::size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t')
            ++i;
        if (i > start)
            fields.push_back(text.substr(start, i - start));
    }
    return fields;
}
