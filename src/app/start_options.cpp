#include "app/start_options.h"

#include "line/line_options.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <utility>

#ifndef TIRVANE_VERSION
#error "define TIRVANE_VERSION as the program's version"
#endif

namespace {

constexpr char PasswordVariable[] = "TIRVANE_PASSWORD";

// Why a field cannot go into a box, or nothing when it can. A line break in
// the username or password would end the line sent to the router early and
// send the rest as a command of its own.
std::optional<QString> FieldProblem(const QString& value)
{
    if (value.size() > MaxFieldLength)
        return QStringLiteral("is longer than %1 characters").arg(MaxFieldLength);
    const bool control = std::any_of(value.begin(), value.end(),
        [](QChar c) { return c.category() == QChar::Other_Control; });
    if (control)
        return QStringLiteral("holds a control character");
    return std::nullopt;
}

TCommandLine UsageError(const QString& program, const QString& text)
{
    TCommandLine result;
    result.ExitStatus = UsageErrorStatus;
    result.Text = QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n").arg(program, text);
    return result;
}

// A string value from the settings file that a box can show, or nothing.
// Hand-edited files give lists ("a, b") or other types as easily as text.
std::optional<QString> SensibleText(const QSettings& settings, const char* key)
{
    const QVariant value = settings.value(QString::fromLatin1(key));
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    QString text = value.toString();
    if (FieldProblem(text))
        return std::nullopt;
    return text;
}

} // namespace

TStartFields WithOptions(TStartFields fields, const TStartOptions& options)
{
    if (options.Host)
        fields.Host = *options.Host;
    if (options.Username)
        fields.Username = *options.Username;
    if (options.Prompt)
        fields.Prompt = *options.Prompt;
    if (options.Range)
        fields.Range = *options.Range;
    if (options.Router)
        fields.Router = *options.Router;
    if (options.Port)
        fields.Host = JoinHostPort(SplitHostPort(fields.Host).Host, *options.Port);
    return fields;
}

TCommandLine ParseCommandLine(const QStringList& arguments, const QString& passwordFromEnvironment)
{
    const QString program = arguments.isEmpty() ? QStringLiteral("tirvane")
                                                : QFileInfo(arguments.first()).fileName();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Watches the bit loading of a DSL line: logs in to the router over telnet\n"
        "and draws the bits of every tone, again every 60 seconds once started.\n"
        "Host, Username, Prompt and the range are remembered from the last run;\n"
        "the options below override them."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
        QStringLiteral("Show this help and end."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
        QStringLiteral("Show the version and end."));
    const TLineOptionSet line = MakeLineOptions({{
        {QStringLiteral("The router's address (at first 192.168.1.1)."), QStringLiteral("address")},
        {QStringLiteral("The user name to log in with (at first none)."), QStringLiteral("name")},
        {QStringLiteral("The router's command prompt (at first >)."), QStringLiteral("text")},
        {QStringLiteral("The tones to plot: %1 (at first %2).")
                .arg(RangeChoicesText(), RangeChoiceText(TStartFields().Range)),
            QStringLiteral("tones")},
        {QStringLiteral("The router's family, as in the Router menu: %1 (at first zyxel).").arg(RouterFamilyNames()),
            QStringLiteral("family")},
    }});
    const QCommandLineOption port(QStringLiteral("port"),
        QStringLiteral("The router's telnet port (at first 23); the Host box shows it as address:port."),
        QStringLiteral("number"));
    const QCommandLineOption plot(QStringLiteral("plot"),
        QStringLiteral("Plot as soon as the window shows, as the Plot button does, and again "
                       "every 60 seconds. The password comes from the environment variable %1, "
                       "never from the command line.")
            .arg(QLatin1String(PasswordVariable)));
    const QCommandLineOption figures(QStringLiteral("figures"),
        QStringLiteral("Read the line's figures and counters in every cycle this run, as \"Read line figures\" "
                       "in the chart's menu does."));
    const QCommandLineOption report(QStringLiteral("report"),
        QStringLiteral("Write the line report of the history's readings to FILE (PDF) and end, without a "
                       "window: the period from --since (at first 30 days before --until) to --until (at "
                       "first now), for --host or --line (at first the history's first host)."),
        QStringLiteral("file"));
    const QCommandLineOption since(QStringLiteral("since"),
        QStringLiteral("With --report: from this date or time on (ISO 8601; local time unless it says)."),
        QStringLiteral("time"));
    const QCommandLineOption until(QStringLiteral("until"),
        QStringLiteral("With --report: up to this date or time."), QStringLiteral("time"));
    const QCommandLineOption lineName(QStringLiteral("line"),
        QStringLiteral("With --report: the line of this name in tirvane-recorder's configuration."),
        QStringLiteral("name"));
    parser.addOptions({line.Host, line.Username, line.Prompt, line.Range, line.Router, port, plot, figures, report, since,
        until, lineName, help, version});

    if (!parser.parse(arguments))
        return UsageError(program, parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return UsageError(program,
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));

    TCommandLine result;
    if (parser.isSet(help)) {
        // Without an application object the parser cannot name the program.
        result.Text = parser.helpText().replace(QStringLiteral("<executable_name>"), program);
        return result;
    }
    if (parser.isSet(version)) {
        result.Text = QStringLiteral("%1 %2\n").arg(program, QStringLiteral(TIRVANE_VERSION));
        return result;
    }

    TStartOptions& options = result.Options;
    const TLineOptionValues given = ReadLineOptions(parser, line);
    if (parser.isSet(report)) {
        TReportRequest request;
        request.Path = parser.value(report);
        if (request.Path.isEmpty())
            return UsageError(program, QStringLiteral("--report needs a file name"));
        for (const QCommandLineOption* live : {&line.Username, &line.Prompt, &line.Range, &line.Router, &port, &plot, &figures}) {
            if (parser.isSet(*live))
                return UsageError(program, QStringLiteral("--%1 is for the window; --report writes a file")
                                               .arg(live->names().constFirst()));
        }
        request.Host = given.Host.value_or(QString());
        request.Line = parser.value(lineName);
        if (given.Host && parser.isSet(lineName))
            return UsageError(program, QStringLiteral("--line names a host: give --line or --host, not both"));
        request.UntilMs = QDateTime::currentMSecsSinceEpoch();
        for (const auto& [option, target] : {std::pair{&until, &request.UntilMs}, std::pair{&since, &request.SinceMs}}) {
            if (!parser.isSet(*option))
                continue;
            const std::optional<std::int64_t> ms = ParseIsoTime(parser.value(*option));
            if (!ms)
                return UsageError(program, QStringLiteral("--%1 takes an ISO 8601 date or time, not '%2'")
                                               .arg(option->names().constFirst(), parser.value(*option)));
            *target = *ms;
        }
        if (!parser.isSet(since))
            request.SinceMs = request.UntilMs - 30LL * 24 * 3600 * 1000;
        if (request.SinceMs >= request.UntilMs)
            return UsageError(program, QStringLiteral("--since must come before --until"));
        result.Report = request;
        return result;
    }
    for (const QCommandLineOption* reportOnly : {&since, &until, &lineName}) {
        if (parser.isSet(*reportOnly))
            return UsageError(program, QStringLiteral("--%1 goes with --report").arg(reportOnly->names().constFirst()));
    }
    const std::pair<const QCommandLineOption*, const std::optional<QString>*> fields[] = {
        {&line.Host, &given.Host}, {&line.Username, &given.Username}, {&line.Prompt, &given.Prompt}};
    for (const auto& [option, value] : fields) {
        if (!*value)
            continue;
        const QString name = QStringLiteral("--") + option->names().first();
        if (const std::optional<QString> problem = FieldProblem(**value))
            return UsageError(program, name + QLatin1Char(' ') + *problem);
    }
    options.Host = given.Host;
    options.Username = given.Username;
    options.Prompt = given.Prompt;
    // A cycle to an empty address can only fail; say so before it is tried.
    if (options.Host && options.Host->isEmpty())
        return UsageError(program, QStringLiteral("--host needs an address"));

    if (given.UnknownRange)
        return UsageError(program, QStringLiteral("--range must be %1, not '%2'").arg(RangeChoicesText(), *given.UnknownRange));
    options.Range = given.Range;
    if (given.UnknownRouter)
        return UsageError(program,
            QStringLiteral("--router must be %1, not '%2'").arg(RouterFamilyNames(), *given.UnknownRouter));
    options.Router = given.Router;
    if (parser.isSet(port)) {
        bool number = false;
        const int value = parser.value(port).toInt(&number);
        if (!number || value < 1 || value > 65535)
            return UsageError(program, QStringLiteral("--port must be a number from 1 to 65535, not '%1'").arg(parser.value(port)));
        options.Port = value;
    }

    if (parser.isSet(plot)) {
        // Without a password the first cycle would stop at "Password
        // required!" in a message box; nobody asked for a box.
        if (passwordFromEnvironment.isEmpty())
            return UsageError(program,
                QStringLiteral("--plot needs the router's password in the environment variable %1")
                    .arg(QLatin1String(PasswordVariable)));
        if (const std::optional<QString> problem = FieldProblem(passwordFromEnvironment))
            return UsageError(program, QStringLiteral("%1 %2").arg(QLatin1String(PasswordVariable), *problem));
        options.Plot = true;
        options.Password = passwordFromEnvironment;
    }

    options.Figures = parser.isSet(figures);

    result.Start = true;
    return result;
}

QString SettingsFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/tirvane/tirvane.conf");
}

TStartFields ReadStartFields(const QString& settingsFile)
{
    TStartFields fields;
    const QSettings settings(settingsFile, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return fields;
    // An empty Host can never be reached; the designed address is a better
    // place to start from.
    if (const std::optional<QString> host = SensibleText(settings, "Window/Host"); host && !host->isEmpty())
        fields.Host = *host;
    if (const std::optional<QString> username = SensibleText(settings, "Window/Username"))
        fields.Username = *username;
    if (const std::optional<QString> prompt = SensibleText(settings, "Window/Prompt"))
        fields.Prompt = *prompt;
    if (const std::optional<QString> range = SensibleText(settings, "Window/Range"))
        fields.Range = RangeChoiceFromText(*range).value_or(fields.Range);
    if (const std::optional<QString> router = SensibleText(settings, "Window/Router"))
        fields.Router = RouterFamilyFromName(*router).value_or(fields.Router);
    return fields;
}

bool WriteStartFields(const QString& settingsFile, const TStartFields& fields)
{
    QSettings settings(settingsFile, QSettings::IniFormat);
    settings.setValue(QStringLiteral("Window/Host"), fields.Host);
    settings.setValue(QStringLiteral("Window/Username"), fields.Username);
    settings.setValue(QStringLiteral("Window/Prompt"), fields.Prompt);
    settings.setValue(QStringLiteral("Window/Range"), RangeChoiceText(fields.Range));
    settings.setValue(QStringLiteral("Window/Router"), RouterFamilyName(fields.Router));
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool ReadNotifyEvents(const QString& settingsFile)
{
    const QSettings settings(settingsFile, QSettings::IniFormat);
    const QVariant value = settings.value(QStringLiteral("Window/NotifyEvents"));
    // Only a clear "false" turns notices off; a garbled value leaves them on.
    return !(value.isValid() && value.toString().trimmed().compare(QLatin1String("false"), Qt::CaseInsensitive) == 0);
}

bool WriteNotifyEvents(const QString& settingsFile, bool on)
{
    QSettings settings(settingsFile, QSettings::IniFormat);
    settings.setValue(QStringLiteral("Window/NotifyEvents"), on);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

QString ReadChartQuantity(const QString& settingsFile)
{
    const QSettings settings(settingsFile, QSettings::IniFormat);
    return settings.value(QStringLiteral("Window/ChartQuantity")).toString().trimmed().toLower();
}

bool WriteChartQuantity(const QString& settingsFile, const QString& quantity)
{
    QSettings settings(settingsFile, QSettings::IniFormat);
    settings.setValue(QStringLiteral("Window/ChartQuantity"), quantity);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool ReadLineFigures(const QString& settingsFile)
{
    const QSettings settings(settingsFile, QSettings::IniFormat);
    // Only a clear "true" turns them on: a first run keeps the designed dialogue.
    return settings.value(QStringLiteral("Window/ReadLineFigures")).toString().trimmed().compare(
               QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

bool WriteLineFigures(const QString& settingsFile, bool on)
{
    QSettings settings(settingsFile, QSettings::IniFormat);
    settings.setValue(QStringLiteral("Window/ReadLineFigures"), on);
    settings.sync();
    return settings.status() == QSettings::NoError;
}
