#include "line/figure_parsers.h"

#include <QRegularExpression>
#include <QString>

#include <cmath>

namespace {

// The key=value words of a figures reply (they carry no quoted values), or
// none when the pipe refused the command: its other values are not the line's.
std::optional<std::map<std::string_view, std::string_view>> Values(const TFamilyReplies& replies, TReplyRole role)
{
    const auto it = replies.find(role);
    if (it == replies.end())
        return std::nullopt;
    std::map<std::string_view, std::string_view> values;
    for (std::string_view line : ReplyLines(it->second))
        for (std::string_view word : Fields(line)) {
            const std::size_t eq = word.find('=');
            if (eq != std::string_view::npos && eq > 0)
                values.emplace(word.substr(0, eq), word.substr(eq + 1));
        }
    const auto ret = values.find("nReturn");
    if (ret == values.end() || ret->second != "0")
        return std::nullopt;
    return values;
}

std::optional<long long> Signed(std::string_view text)
{
    const bool negative = !text.empty() && text.front() == '-';
    const auto n = WholeNumber(negative ? text.substr(1) : text);
    return n ? std::optional<long long>(negative ? -*n : *n) : std::nullopt;
}

// A value in tenths, none when it is the pipe's mark for not measured.
std::optional<double> Tenths(const std::map<std::string_view, std::string_view>& values, std::string_view key,
    long long notMeasured)
{
    const auto it = values.find(key);
    const auto n = it == values.end() ? std::nullopt : Signed(it->second);
    if (!n || *n == notMeasured)
        return std::nullopt;
    return double(*n) / 10.0;
}

// Some firmware prints an attenuation per band, "LATN[0]=... LATN[1]=...":
// the line's is their mean weighted by the bands' widths (an equal mean when
// the bands are not known); bands not measured are left out.
std::optional<double> PerBand(const std::map<std::string_view, std::string_view>& values, const std::string& key,
    long long notMeasured, const std::vector<int>& widths)
{
    double sum = 0, weight = 0;
    for (std::size_t band = 0; band < 16; ++band) {
        const std::string name = key + '[' + std::to_string(band) + ']';
        const auto v = Tenths(values, name, notMeasured);
        if (!v)
            continue;
        const double w = band < widths.size() ? widths[band] : 1.0;
        sum += *v * w;
        weight += w;
    }
    if (weight <= 0)
        return std::nullopt;
    return std::round(sum / weight * 10.0) / 10.0;
}

std::vector<int> BandWidths(const TFamilyReplies& replies, TReplyRole role)
{
    static const QRegularExpression band(
        QStringLiteral("\\(\\s*\\d{1,4}\\s*,\\s*\\(\\s*(\\d{1,6})\\s*,\\s*(\\d{1,6})\\s*\\)"));
    std::vector<int> widths;
    const auto it = replies.find(role);
    if (it == replies.end())
        return widths;
    for (auto m = band.globalMatch(QString::fromLatin1(it->second.data(), qsizetype(it->second.size()))); m.hasNext();) {
        const auto b = m.next();
        widths.push_back(std::max(1, b.captured(2).toInt() - b.captured(1).toInt() + 1));
    }
    return widths;
}

std::optional<std::uint64_t> Count(const std::map<std::string_view, std::string_view>& values, std::string_view key)
{
    const auto it = values.find(key);
    const auto n = it == values.end() ? std::nullopt : WholeNumber(it->second);
    return n ? std::optional<std::uint64_t>(std::uint64_t(*n)) : std::nullopt;
}

} // namespace

TLineFigures LantiqFigures(const TFamilyReplies& replies)
{
    TLineFigures figures;
    if (const auto state = Values(replies, TReplyRole::State))
        if (const auto it = state->find("nLineState"); it != state->end())
            figures.State = QString::fromLatin1(it->second.data(), qsizetype(it->second.size()));

    struct TEnd {
        TDirectionFigures* Into;
        TReplyRole Figures, Bands, Rate, Counters, Seconds;
    };
    for (const TEnd& end : {TEnd{&figures.Up, TReplyRole::FiguresUp, TReplyRole::BandsUp, TReplyRole::RateUp,
                                TReplyRole::CountersUp, TReplyRole::SecondsUp},
             TEnd{&figures.Down, TReplyRole::FiguresDown, TReplyRole::BandsDown, TReplyRole::RateDown,
                 TReplyRole::CountersDown, TReplyRole::SecondsDown}}) {
        TDirectionFigures& d = *end.Into;
        if (const auto v = Values(replies, end.Figures)) {
            const std::vector<int> widths = BandWidths(replies, end.Bands);
            d.AttenuationDb = v->count("LATN") ? Tenths(*v, "LATN", 1271) : PerBand(*v, "LATN", 1271, widths);
            d.SignalAttenuationDb = v->count("SATN") ? Tenths(*v, "SATN", 1271) : PerBand(*v, "SATN", 1271, widths);
            d.MarginDb = v->count("SNR") ? Tenths(*v, "SNR", -641) : PerBand(*v, "SNR", -641, widths);
            d.PowerDbm = Tenths(*v, "ACTATP", -512);
            if (const auto rate = Count(*v, "ATTNDR"))
                d.AttainableKbps = double(*rate) / 1000.0;
        }
        if (const auto v = Values(replies, end.Rate))
            if (const auto rate = Count(*v, "ActualDataRate"))
                d.RateKbps = double(*rate) / 1000.0;
        // Counters the pipe marks as not valid are not the interval's.
        const auto valid = [](const std::map<std::string_view, std::string_view>& v) {
            const auto it = v.find("bValid");
            return it == v.end() || it->second != "0";
        };
        if (const auto v = Values(replies, end.Counters); v && valid(*v)) {
            d.Crc = Count(*v, "nCodeViolations");
            d.Fec = Count(*v, "nFEC");
            if (const auto elapsed = Count(*v, "nElapsedTime"); elapsed && !figures.SinceLinkS)
                figures.SinceLinkS = std::int64_t(*elapsed);
        }
        if (const auto v = Values(replies, end.Seconds); v && valid(*v)) {
            d.Es = Count(*v, "nES");
            d.Ses = Count(*v, "nSES");
            d.Uas = Count(*v, "nUAS");
            if (const auto elapsed = Count(*v, "nElapsedTime"); elapsed && !figures.SinceLinkS)
                figures.SinceLinkS = std::int64_t(*elapsed);
        }
    }
    // The modem's own full initialisations, the far end's when it keeps none.
    for (const TReplyRole role : {TReplyRole::RetrainsDown, TReplyRole::RetrainsUp})
        if (const auto v = Values(replies, role); v && !figures.Retrains)
            figures.Retrains = Count(*v, "nFullInits");
    return figures;
}
