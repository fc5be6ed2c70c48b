#include "reader/reader_options.h"

#include "line/line_options.h"

#include <QCommandLineParser>

namespace {

std::optional<int> WholeNumber(const QString& text, int low, int high)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

} // namespace

TReaderCommand ParseReaderOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reads the bit loading of a DSL line from its router once, or at intervals, and prints it;\n"
        "or prints readings kept in the line history.\n"
        "\n"
        "The password comes from the environment variable TIRVANE_PASSWORD, from --password-file,\n"
        "or from a prompt on the terminal; never from the command line.\n"
        "\n"
        "Exit status: 0 when every dialogue with the router completed, 1 when one did not\n"
        "(or a reading could not be recorded, or the history could not be read), 2 for a usage error."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Shows the version."));
    const TLineOptionSet line = MakeLineOptions({{
        {QStringLiteral("The router's address or name."), QStringLiteral("H")},
        {QStringLiteral("User name, for routers that ask for one."), QStringLiteral("U")},
        {QStringLiteral("The router's command prompt, or its end (default \">\")."), QStringLiteral("P")},
        {QStringLiteral("Tones to print: %1 (default); on a line of another length its lower half, upper "
                        "half or all of it.").arg(RangeChoicesText()), QStringLiteral("R")},
        {QStringLiteral("The router's family: %1 (default zyxel).").arg(RouterFamilyNames()), QStringLiteral("NAME")},
    }});
    const QCommandLineOption& host = line.Host;
    const QCommandLineOption& username = line.Username;
    const QCommandLineOption& prompt = line.Prompt;
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Telnet port (default 23)."),
        QStringLiteral("N"));
    const QCommandLineOption passwordFile(QStringLiteral("password-file"),
        QStringLiteral("Reads the password from the first line of FILE."), QStringLiteral("FILE"));
    const QCommandLineOption format(QStringLiteral("format"),
        QStringLiteral("table, csv, json or prometheus (default: table on a terminal, csv otherwise)."),
        QStringLiteral("F"));
    const QCommandLineOption quantity(QStringLiteral("quantity"),
        QStringLiteral("With csv: the value per tone, bits (default), snr (dB), qln (dBm/Hz) or hlog (dB);\n"
                       "empty where the router did not measure it. JSON holds all four."),
        QStringLiteral("Q"));
    const QCommandLineOption interval(QStringLiteral("interval"),
        QStringLiteral("Seconds from the start of one reading to the next (default 60 with --count)."),
        QStringLiteral("S"));
    const QCommandLineOption count(QStringLiteral("count"),
        QStringLiteral("Number of readings (default 1; with --interval alone, until stopped)."),
        QStringLiteral("N"));
    const QCommandLineOption figures(QStringLiteral("figures"),
        QStringLiteral("Also reads the line's figures and counters (margin, attenuation, rates, errors),\n"
                       "with the commands some routers need for them; the CSV gains their columns."));
    const QCommandLineOption record(QStringLiteral("record"),
        QStringLiteral("Also keeps every reading in the line history."));
    const QCommandLineOption history(QStringLiteral("history"),
        QStringLiteral("The history file (default: the monitor's own)."), QStringLiteral("FILE"));
    const QCommandLineOption exportOption(QStringLiteral("export"),
        QStringLiteral("Prints readings from the history instead of reading the line."));
    const QCommandLineOption events(QStringLiteral("events"),
        QStringLiteral("Prints the events of the line (outages, resyncs, rate drops, tones that lost bits)\n"
                       "found in the history: table, csv or json."));
    const QCommandLineOption since(QStringLiteral("since"),
        QStringLiteral("With --export or --events: from this date or time on (ISO 8601; local time unless it says)."),
        QStringLiteral("TIME"));
    const QCommandLineOption until(QStringLiteral("until"),
        QStringLiteral("With --export or --events: up to, not including, this date or time."), QStringLiteral("TIME"));
    const QCommandLineOption lineName(QStringLiteral("line"),
        QStringLiteral("With --export or --events: the line of this name in tirvane-recorder's configuration."),
        QStringLiteral("NAME"));
    const QCommandLineOption output(QStringLiteral("output"),
        QStringLiteral("Writes to FILE instead of standard output; FILE is replaced only once complete."),
        QStringLiteral("FILE"));
    parser.addOptions({help, version, host, username, prompt, port, passwordFile, line.Range, line.Router, format, quantity,
        interval, count, figures, record, history, exportOption, events, since, until, lineName, output});

    if (!parser.parse(arguments))
        return TReaderUsageError{parser.errorText()};
    if (parser.isSet(help))
        return TReaderHelp{parser.helpText()};
    if (parser.isSet(version))
        return TReaderVersion{};
    if (!parser.positionalArguments().isEmpty())
        return TReaderUsageError{QStringLiteral("Unexpected argument: ") + parser.positionalArguments().first()};

    TReaderOptions o;
    o.Export = parser.isSet(exportOption);
    o.Events = parser.isSet(events);
    if (o.Export && o.Events)
        return TReaderUsageError{QStringLiteral("--export prints readings, --events events: give one")};
    o.HistoryPath = parser.value(history);
    o.ReadFigures = parser.isSet(figures);
    o.OutputPath = parser.value(output);
    if (parser.isSet(output) && o.OutputPath.isEmpty())
        return TReaderUsageError{QStringLiteral("--output needs a file name")};
    const TLineOptionValues given = ReadLineOptions(parser, line);
    if (given.UnknownRange)
        return TReaderUsageError{QStringLiteral("--range is %1, not ").arg(RangeChoicesText()) + *given.UnknownRange};
    if (given.UnknownRouter)
        return TReaderUsageError{QStringLiteral("--router is %1, not ").arg(RouterFamilyNames()) + *given.UnknownRouter};
    if (given.Router)
        o.Router = *given.Router;
    o.Range = given.Range;
    if (given.Range)
        o.Span = {RangePlan(*given.Range).FirstTone, RangePlan(*given.Range).LastTone, given.Range};
    if (parser.isSet(format)) {
        o.Format = OutputFormatFromName(parser.value(format));
        if (!o.Format)
            return TReaderUsageError{QStringLiteral("--format is table, csv, json or prometheus, not ")
                + parser.value(format)};
    }

    if (parser.isSet(quantity)) {
        const auto chosen = ToneQuantityFromName(parser.value(quantity));
        if (!chosen)
            return TReaderUsageError{QStringLiteral("--quantity is bits, snr, qln or hlog, not ") + parser.value(quantity)};
        if (o.Events || (o.Format && *o.Format != TOutputFormat::Csv))
            return TReaderUsageError{QStringLiteral("--quantity chooses what a csv file of readings holds")};
        o.Quantity = *chosen;
    }

    if (o.Events && o.Format == TOutputFormat::Prometheus)
        return TReaderUsageError{QStringLiteral("--events prints a table, csv or json")};

    if (o.Export || o.Events) {
        const QString mode = o.Export ? QStringLiteral("--export") : QStringLiteral("--events");
        for (const QCommandLineOption* live : {&username, &prompt, &line.Router, &port, &passwordFile, &interval, &count, &record}) {
            if (parser.isSet(*live))
                return TReaderUsageError{QStringLiteral("--%1 reads the line; %2 prints the history")
                                             .arg(live->names().constLast(), mode)};
        }
        o.ExportHost = given.Host.value_or(QString());
        o.ExportLine = parser.value(lineName);
        if (!o.ExportHost.isEmpty() && !o.ExportLine.isEmpty())
            return TReaderUsageError{QStringLiteral("--line names a host: give --line or --host, not both")};
        for (const auto& [option, target] : {std::pair{&since, &o.SinceMs}, std::pair{&until, &o.UntilMs}}) {
            if (!parser.isSet(*option))
                continue;
            const std::optional<std::int64_t> ms = ParseIsoTime(parser.value(*option));
            if (!ms)
                return TReaderUsageError{QStringLiteral("--%1 takes an ISO 8601 date or time, not %2")
                                             .arg(option->names().constFirst(), parser.value(*option))};
            *target = *ms;
        }
        if (o.SinceMs > o.UntilMs)
            return TReaderUsageError{QStringLiteral("--since %1 is after --until %2: no reading lies between")
                                         .arg(parser.value(since), parser.value(until))};
        return o;
    }

    for (const QCommandLineOption* exportOnly : {&since, &until, &lineName}) {
        if (parser.isSet(*exportOnly))
            return TReaderUsageError{QStringLiteral("--%1 goes with --export or --events").arg(exportOnly->names().constFirst())};
    }
    o.Host = given.Host.value_or(QString());
    if (o.Host.isEmpty())
        return TReaderUsageError{QStringLiteral("--host is missing: which router should be read?")};
    o.Username = given.Username.value_or(QString());
    o.Prompt = given.Prompt.value_or(o.Prompt);
    if (o.Prompt.isEmpty())
        return TReaderUsageError{QStringLiteral("--prompt cannot be empty: no reply could be read")};
    if (parser.isSet(port)) {
        const std::optional<int> n = WholeNumber(parser.value(port), 1, 65535);
        if (!n)
            return TReaderUsageError{QStringLiteral("--port is a number from 1 to 65535, not ") + parser.value(port)};
        o.Port = *n;
    }
    o.PasswordFile = parser.value(passwordFile);
    o.Record = parser.isSet(record);
    if (parser.isSet(interval)) {
        const std::optional<int> n = WholeNumber(parser.value(interval), 1, 86400 * 366);
        if (!n)
            return TReaderUsageError{QStringLiteral("--interval is a whole number of seconds, 1 or more, not ")
                + parser.value(interval)};
        o.IntervalSeconds = *n;
        o.Count = 0;
    }
    if (parser.isSet(count)) {
        const std::optional<int> n = WholeNumber(parser.value(count), 1, INT32_MAX);
        if (!n)
            return TReaderUsageError{QStringLiteral("--count is a whole number, 1 or more, not ") + parser.value(count)};
        o.Count = *n;
        if (!parser.isSet(interval))
            o.IntervalSeconds = 60;
    }
    // An exposition is one picture of the line; several in a row are no file
    // a collector would read.
    if (o.Format == TOutputFormat::Prometheus && o.Count != 1)
        return TReaderUsageError{QStringLiteral("--format prometheus prints one reading: no --interval or --count")};
    // The file takes its name when the run is over; a run without end would
    // never show it.
    if (!o.OutputPath.isEmpty() && o.Count == 0)
        return TReaderUsageError{QStringLiteral("--output is written when the run ends: give --count with --interval")};
    return o;
}
