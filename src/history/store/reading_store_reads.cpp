#include "history/store/reading_store.h"

#include "history/store/block_row.h"
#include "history/store/block_summary.h"
#include "history/store/reading_blocks.h"
#include "history/store/store_sql.h"
#include "line/output_formats.h"

#include <algorithm>

// What the store gives back: a period's readings or summaries, its hosts
// and how many readings a period holds.

using namespace StoreSql;

QString TReadResult::Text() const
{
    QStringList lines;
    for (const TUnreadPeriod& period : Unread)
        lines << QStringLiteral("Could not read the readings of %1 from %2 to %3: %4")
                     .arg(period.Host, ReadingTimeText(period.FromMs), ReadingTimeText(period.ToMs), period.Reason);
    if (!ErrorText.isEmpty())
        lines << ErrorText;
    return lines.join(QLatin1Char('\n'));
}

TReadResult TReadingStore::ReadEach(std::int64_t sinceMs, std::int64_t untilMs, const QString& host,
    const std::function<bool(const TReading&)>& each) const
{
    if (!FDb || untilMs <= sinceMs)
        return {};
    if (FVersion == 1)
        return ReadEachV1(sinceMs, untilMs, host, each);
    TReadResult result;
    const TStatementRun run(host.isEmpty() ? FSelectAll.get() : FSelectHost.get());
    const QByteArray hostBytes = host.toUtf8();
    sqlite3_bind_int64(run.get(), 1, SpanOf(sinceMs));
    sqlite3_bind_int64(run.get(), 2, SpanOf(untilMs - 1));
    if (!host.isEmpty())
        sqlite3_bind_text(run.get(), 3, hostBytes.constData(), int(hostBytes.size()), SQLITE_STATIC);

    // One hour's blocks at a time (every host's, or one host's several),
    // merged into time order; a block that cannot be decoded is named.
    std::vector<TReading> hour, block;
    std::int64_t hourSpan = 0;
    bool going = true;
    const auto flush = [&] {
        // An hour of one host's block is in order already; sorting it anyway
        // moves every reading, figures and all, a few times over.
        const auto earlier = [](const TReading& a, const TReading& b) { return a.TimeMs < b.TimeMs; };
        if (!std::is_sorted(hour.begin(), hour.end(), earlier))
            std::stable_sort(hour.begin(), hour.end(), earlier);
        for (const TReading& reading : hour) {
            if (going && reading.TimeMs >= sinceMs && reading.TimeMs < untilMs)
                going = each(reading);
        }
        hour.clear();
    };
    int rc = SQLITE_OK;
    while (going && (rc = sqlite3_step(run.get())) == SQLITE_ROW) {
        const std::int64_t span = sqlite3_column_int64(run.get(), 0);
        if (span != hourSpan)
            flush();
        hourSpan = span;
        const QString blockHost = TextAt(run.get(), 5);
        if (!DecodeBlockRow(BlobAt(run.get(), 4), BlobAt(run.get(), 6), blockHost, block)
            || std::int64_t(block.size()) != sqlite3_column_int64(run.get(), 3)) {
            result.Unread.push_back({blockHost, sqlite3_column_int64(run.get(), 1), sqlite3_column_int64(run.get(), 2),
                QStringLiteral("the block is damaged")});
            continue;
        }
        // Most hours are one block: taken as it is, not moved reading by reading.
        if (hour.empty())
            hour.swap(block);
        else
            hour.insert(hour.end(), std::make_move_iterator(block.begin()), std::make_move_iterator(block.end()));
    }
    flush();
    if (going && rc != SQLITE_DONE)
        result.ErrorText = QStringLiteral("Could not read the history past %1: %2")
                               .arg(ReadingTimeText(hourSpan * BlockSpanMs), ReasonFor(FDb.get(), rc));
    return result;
}

TReadResult TReadingStore::ReadSummaries(std::int64_t sinceMs, std::int64_t untilMs, const QString& host,
    const std::function<bool(const QString&, TBlockSummary&)>& each) const
{
    if (!FDb || untilMs <= sinceMs)
        return {};
    if (FVersion == 1) {
        // A row a reading: summarised an hour of a host at a time as read.
        TBlockSummary summary;
        QString summaryHost;
        bool going = true;
        TReadResult result = ReadEach(sinceMs, untilMs, host, [&](const TReading& reading) {
            if (summary.Count > 0 && (reading.Host != summaryHost || SpanOf(reading.TimeMs) != SpanOf(summary.LastMs))) {
                going = each(summaryHost, summary);
                summary = {};
            }
            summaryHost = reading.Host;
            summary.Add(reading);
            return going;
        });
        if (going && summary.Count > 0)
            each(summaryHost, summary);
        return result;
    }
    TReadResult result;
    const TStatementRun run(FSummaries.get());
    const QByteArray hostBytes = host.toUtf8();
    sqlite3_bind_int64(run.get(), 1, SpanOf(sinceMs));
    sqlite3_bind_int64(run.get(), 2, SpanOf(untilMs - 1));
    sqlite3_bind_text(run.get(), 3, hostBytes.constData(), int(hostBytes.size()), SQLITE_STATIC);
    int rc = SQLITE_OK;
    std::int64_t span = SpanOf(sinceMs);
    std::vector<TReading> block;
    TBlockSummary summary;
    bool going = true;
    while (going && (rc = sqlite3_step(run.get())) == SQLITE_ROW) {
        span = sqlite3_column_int64(run.get(), 0);
        const std::int64_t first = sqlite3_column_int64(run.get(), 1);
        const std::int64_t last = sqlite3_column_int64(run.get(), 2);
        const QString blockHost = TextAt(run.get(), 5);
        const bool whole = first >= sinceMs && last < untilMs;
        if (whole && sqlite3_column_type(run.get(), 6) == SQLITE_BLOB
            && DecodeSummary(BlobAt(run.get(), 6), blockHost, summary)
            && summary.Count == sqlite3_column_int64(run.get(), 3)) {
            going = each(blockHost, summary);
            continue;
        }
        if (!DecodeBlockRow(BlobAt(run.get(), 4), BlobAt(run.get(), 6), blockHost, block)
            || std::int64_t(block.size()) != sqlite3_column_int64(run.get(), 3)) {
            result.Unread.push_back({blockHost, first, last, QStringLiteral("the block is damaged")});
            continue;
        }
        summary = {};
        for (const TReading& reading : block)
            if (reading.TimeMs >= sinceMs && reading.TimeMs < untilMs)
                summary.Add(reading);
        if (summary.Count > 0)
            going = each(blockHost, summary);
    }
    if (going && rc != SQLITE_DONE)
        result.ErrorText = QStringLiteral("Could not read the history past %1: %2")
                               .arg(ReadingTimeText(span * BlockSpanMs), ReasonFor(FDb.get(), rc));
    return result;
}

std::vector<TReading> TReadingStore::Readings(std::int64_t sinceMs, std::int64_t untilMs,
    const QString& host, TReadResult* result) const
{
    std::vector<TReading> readings;
    TReadResult read = ReadEach(sinceMs, untilMs, host, [&readings](const TReading& reading) {
        readings.push_back(reading);
        return true;
    });
    if (result)
        *result = std::move(read);
    return readings;
}

QStringList TReadingStore::Hosts() const
{
    QStringList hosts;
    if (!FDb)
        return hosts;
    const TStatementRun run(FHosts.get());
    while (sqlite3_step(run.get()) == SQLITE_ROW)
        hosts << TextAt(run.get(), 0);
    return hosts;
}

std::int64_t TReadingStore::DataVersion() const
{
    if (!FDb)
        return -1;
    int rc = SQLITE_OK;
    const std::int64_t version = ExecInteger(FDb.get(), "PRAGMA data_version", &rc);
    return rc == SQLITE_OK ? version : -1;
}

std::int64_t TReadingStore::CountOlderThan(std::int64_t timeMs) const
{
    if (!FDb)
        return 0;
    if (FVersion == 1) {
        sqlite3_stmt* raw = nullptr;
        sqlite3_prepare_v2(FDb.get(), "SELECT count(*) FROM readings WHERE time_ms < ?1", -1, &raw, nullptr);
        const TSqliteStatement count(raw);
        sqlite3_bind_int64(raw, 1, timeMs);
        return raw && sqlite3_step(raw) == SQLITE_ROW ? sqlite3_column_int64(raw, 0) : 0;
    }
    std::int64_t count = 0;
    sqlite3_stmt* raw = nullptr;
    sqlite3_prepare_v2(FDb.get(), "SELECT first_ms, last_ms, count, data, summary FROM blocks WHERE first_ms < ?1", -1, &raw,
                       nullptr);
    const TSqliteStatement blocks(raw);
    sqlite3_bind_int64(raw, 1, timeMs);
    std::vector<TReading> readings;
    while (raw && sqlite3_step(raw) == SQLITE_ROW) {
        if (sqlite3_column_int64(raw, 1) < timeMs) {
            count += sqlite3_column_int64(raw, 2);
        } else if (DecodeBlockRow(BlobAt(raw, 3), BlobAt(raw, 4), {}, readings)) {
            count += std::count_if(readings.begin(), readings.end(),
                                   [timeMs](const TReading& r) { return r.TimeMs < timeMs; });
        }
    }
    return count;
}

std::int64_t TReadingStore::CountBetween(std::int64_t sinceMs, std::int64_t untilMs, const QString& host) const
{
    if (!FDb || untilMs <= sinceMs)
        return 0;
    sqlite3_stmt* raw = nullptr;
    if (FVersion == 1)
        sqlite3_prepare_v2(FDb.get(),
                           "SELECT count(*) FROM readings WHERE time_ms >= ?1 AND time_ms < ?2 AND (?3 = '' OR host = ?3)",
                           -1, &raw, nullptr);
    else
        sqlite3_prepare_v2(FDb.get(),
                           "SELECT sum(b.count) FROM blocks b JOIN hosts h ON h.id = b.host_id"
                           " WHERE b.last_ms >= ?1 AND b.first_ms < ?2 AND (?3 = '' OR h.name = ?3)",
                           -1, &raw, nullptr);
    const TSqliteStatement count(raw);
    const QByteArray name = host.toUtf8();
    sqlite3_bind_int64(raw, 1, sinceMs);
    sqlite3_bind_int64(raw, 2, untilMs);
    sqlite3_bind_text(raw, 3, name.constData(), int(name.size()), SQLITE_STATIC);
    return raw && sqlite3_step(raw) == SQLITE_ROW ? sqlite3_column_int64(raw, 0) : 0;
}
