#include "line/line_options.h"

#include <algorithm>
#include <QDateTime>

TLineOptionSet MakeLineOptions(const std::array<TLineOptionHelp, LineOptionTable.size()>& help)
{
    const auto option = [&](TLineOption which) {
        for (std::size_t i = 0; i < LineOptionTable.size(); ++i)
            if (LineOptionTable[i].Option == which)
                return QCommandLineOption(QString::fromLatin1(LineOptionTable[i].Name), help[i].Description,
                    help[i].ValueName);
        return QCommandLineOption(QString());
    };
    return {option(TLineOption::Host), option(TLineOption::Username), option(TLineOption::Prompt),
        option(TLineOption::Range), option(TLineOption::Router)};
}

TLineOptionValues ReadLineOptions(const QCommandLineParser& parser, const TLineOptionSet& options)
{
    TLineOptionValues values;
    const std::pair<const QCommandLineOption*, std::optional<QString>*> texts[] = {
        {&options.Host, &values.Host}, {&options.Username, &values.Username}, {&options.Prompt, &values.Prompt}};
    for (const auto& [option, value] : texts)
        if (parser.isSet(*option))
            *value = parser.value(*option);
    if (parser.isSet(options.Range)) {
        const QString text = parser.value(options.Range);
        values.Range = RangeChoiceFromText(text);
        if (!values.Range)
            values.UnknownRange = text;
    }
    if (parser.isSet(options.Router)) {
        const QString text = parser.value(options.Router);
        values.Router = RouterFamilyFromName(text);
        if (!values.Router)
            values.UnknownRouter = text;
    }
    return values;
}

namespace {

std::optional<int> PortNumber(const QString& text)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    // Digits only: no sign, no spaces, nothing a number reader forgives.
    const bool digits = !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
    return ok && digits && port >= 1 && port <= 65535 ? std::optional<int>(port) : std::nullopt;
}

} // namespace

THostAndPort SplitHostPort(const QString& text)
{
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close > 0) {
            const QString rest = text.mid(close + 1);
            if (rest.isEmpty())
                return {text.mid(1, close - 1), std::nullopt};
            if (rest.startsWith(QLatin1Char(':')))
                if (const std::optional<int> port = PortNumber(rest.mid(1)))
                    return {text.mid(1, close - 1), port};
        }
        return {text, std::nullopt};
    }
    // Two colons or more: an IPv6 address without brackets, no port.
    if (text.count(QLatin1Char(':')) != 1)
        return {text, std::nullopt};
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (const std::optional<int> port = PortNumber(text.mid(colon + 1)); port && colon > 0)
        return {text.left(colon), port};
    return {text, std::nullopt};
}

QString JoinHostPort(const QString& host, int port)
{
    const QString address = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
    return QStringLiteral("%1:%2").arg(address).arg(port);
}

std::optional<std::int64_t> ParseIsoTime(const QString& text)
{
    // Qt reads the date at the front of a date and time as a date of its
    // own, so a time is looked for first.
    if (text.contains(QLatin1Char('T'))) {
        const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
        if (time.isValid())
            return time.toMSecsSinceEpoch();
        return std::nullopt;
    }
    const QDate date = QDate::fromString(text, Qt::ISODate);
    if (date.isValid())
        return date.startOfDay().toMSecsSinceEpoch();
    return std::nullopt;
}
