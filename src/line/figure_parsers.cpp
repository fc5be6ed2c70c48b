#include "line/figure_parsers.h"

#include <QRegularExpression>
#include <QString>

#include <charconv>

bool IsFiguresRole(TReplyRole role)
{
    switch (role) {
    case TReplyRole::Figures:
    case TReplyRole::FiguresUp:
    case TReplyRole::FiguresDown:
    case TReplyRole::CountersUp:
    case TReplyRole::CountersDown:
    case TReplyRole::Retrains:
    case TReplyRole::RetrainsUp:
    case TReplyRole::RetrainsDown:
    case TReplyRole::RateUp:
    case TReplyRole::RateDown:
    case TReplyRole::FiguresMore:
    case TReplyRole::SecondsUp:
    case TReplyRole::SecondsDown:
        return true;
    default:
        return false;
    }
}

std::optional<double> FigureNumber(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    // DrayTek pads the decimals of some figures as if they were a number of
    // their own: "7. 4" is 7.4. Blanks anywhere else spoil the number.
    std::string joined;
    const std::size_t dot = text.find('.');
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(dot != std::string_view::npos && i > dot && text[i] == ' ' && joined.size() == dot + 1))
            joined += text[i];
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const std::size_t start = !joined.empty() && (joined[0] == '-' || joined[0] == '+') ? 1 : 0;
    if (joined.size() <= start || !digit(joined[start]) || !digit(joined.back()))
        return std::nullopt;
    double value = 0;
    const char* begin = joined.data() + (joined[0] == '+' ? 1 : 0);
    const auto [end, error] = std::from_chars(begin, joined.data() + joined.size(), value);
    if (error != std::errc() || end != joined.data() + joined.size())
        return std::nullopt;
    return value;
}

std::optional<std::int64_t> DurationSeconds(std::string_view text)
{
    const QString t = QString::fromLatin1(text.data(), qsizetype(text.size()));
    // Parts of up to nine digits: no sum of them overflows.
    static const QRegularExpression clock(QStringLiteral("(?<!\\d)(\\d{1,9}):(\\d\\d):(\\d\\d)"));
    static const QRegularExpression part(QStringLiteral("(?<!\\d)(\\d{1,9})\\s*(day|hour|hr|min|sec)"),
        QRegularExpression::CaseInsensitiveOption);
    std::optional<std::int64_t> seconds;
    if (const auto m = clock.match(t); m.hasMatch())
        seconds = m.captured(1).toLongLong() * 3600 + m.captured(2).toLongLong() * 60 + m.captured(3).toLongLong();
    for (auto it = part.globalMatch(t); it.hasNext();) {
        const auto m = it.next();
        const QString unit = m.captured(2).toLower();
        const std::int64_t n = m.captured(1).toLongLong();
        const std::int64_t scale = unit == QLatin1String("day") ? 86400
            : unit == QLatin1String("min")                    ? 60
            : unit == QLatin1String("sec")                    ? 1
                                                              : 3600;
        seconds = seconds.value_or(0) + n * scale;
    }
    return seconds;
}
