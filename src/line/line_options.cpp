#include "line/line_options.h"

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
