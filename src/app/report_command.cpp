#include "app/report_command.h"

#include "history/figures/host_order.h"
#include "history/report/line_report.h"
#include "history/store/reading_store.h"

#include <cstdio>

namespace {

int Fail(const QString& text)
{
    std::fprintf(stderr, "tirvane: %s\n", qPrintable(text));
    return 1;
}

} // namespace

int WriteReportCommand(const TReportRequest& request, const QString& storePath)
{
    TReadingStore store;
    if (!store.OpenToRead(storePath))
        return Fail(store.ErrorText());
    TReportRequest r = request;
    if (r.Host.isEmpty()) {
        const QStringList hosts = SortedHosts(store.Hosts());
        if (hosts.isEmpty())
            return Fail(QStringLiteral("%1 holds no readings: there is no line to report on").arg(storePath));
        r.Host = hosts.first();
    }
    QString error;
    if (!WriteLineReport(r.Path, store, r.Host, r.SinceMs, r.UntilMs, &error))
        return Fail(error);
    return 0;
}
