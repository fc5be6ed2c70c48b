#include "app/report_command.h"

#include "history/figures/host_order.h"
#include "history/report/line_report.h"
#include "history/store/reading_store.h"
#include "recorder/recorder_config.h"

#include <cstdio>

namespace {

int Fail(const QString& text, int status = 1)
{
    std::fprintf(stderr, "tirvane: %s\n", qPrintable(text));
    return status;
}

} // namespace

int WriteReportCommand(const TReportRequest& request, const QString& storePath)
{
    TReportRequest r = request;
    if (!r.Line.isEmpty()) {
        // A name the configuration does not hold is a slip in the command
        // line, said as tirvane-read says it.
        QString error;
        const std::optional<QString> host = ConfiguredLineHost(r.Line, DefaultRecorderConfigPath(), error);
        if (!host)
            return Fail(error, UsageErrorStatus);
        r.Host = *host;
    }
    TReadingStore store;
    if (!store.OpenToRead(storePath))
        return Fail(store.ErrorText());
    const QStringList hosts = SortedHosts(store.Hosts());
    if (hosts.isEmpty())
        return Fail(QStringLiteral("%1 holds no readings: there is no line to report on").arg(storePath));
    if (r.Host.isEmpty())
        r.Host = hosts.first();
    // A host the history never saw would make a report of nothing: a typing
    // slip in a scheduled job is better said at once.
    if (!hosts.contains(r.Host))
        return Fail(QStringLiteral("%1 holds no readings of %2; it holds those of %3")
                        .arg(storePath, r.Host, hosts.join(QStringLiteral(", "))));
    QString error;
    if (!WriteLineReport(r.Path, store, r.Host, r.SinceMs, r.UntilMs, &error))
        return Fail(error);
    return 0;
}
