#include "year_store.h"

#include "history/store/block_extras.h"
#include "history/store/block_row.h"
#include "history/store/block_summary.h"
#include "history/store/reading_blocks.h"
#include "history/store/reading_store.h"

#include <QDataStream>
#include <QFile>
#include <QIODevice>

#include <sqlite3.h>

#include <algorithm>

QByteArray EncodeFirstFormatBlock(const std::vector<TReading>& readings)
{
    // Readings without extras end the current block with their last bits,
    // exactly where the first format ended; that format had no base, whose
    // byte (0: none) follows the count today.
    QByteArray raw = EncodeBlockBytes(readings);
    QByteArray count;
    PutVarint(count, readings.size());
    const qsizetype baseAt = 1 + count.size();
    if (raw.size() <= baseAt || raw[baseAt] != 0)
        return {};
    raw.remove(baseAt, 1);
    raw[0] = char(1);
    return Deflate(raw);
}

QByteArray EncodeDenseSummary(const TBlockSummary& s)
{
    QByteArray raw;
    QDataStream out(&raw, QIODevice::WriteOnly);
    out << quint8(1) << qint64(s.FirstMs) << qint64(s.LastMs) << qint32(s.Count) << qint32(s.CompleteCount);
    out << quint32(s.FailedMs.size());
    for (const std::int64_t t : s.FailedMs)
        out << qint64(t);
    if (s.CompleteCount > 0) {
        out << EncodeFirstFormatBlock({s.FirstComplete, s.LatestComplete}) << quint32(s.Min.size());
        for (std::size_t tone = 0; tone < s.Min.size(); ++tone)
            out << quint8(ToneBitsAt(s.LatestComplete, int(tone)) - s.Min[tone])
                << quint8(s.Max[tone] - ToneBitsAt(s.LatestComplete, int(tone)));
        for (const std::uint16_t changes : s.Changes)
            out << quint16(changes);
        for (const TRatePoint& p : s.Extremes)
            out << qint64(p.TimeMs) << qint32(p.UpBits) << qint32(p.DownBits);
    }
    return Deflate(raw);
}

namespace {

// An old row the store could not read would make no old file: the store
// would quietly summarise the block again or call it damaged.
bool ReadsBack(const QByteArray& data, const QByteArray& summary, const QString& host, const TBlockSummary& made,
    std::size_t count)
{
    std::vector<TReading> readings;
    TBlockSummary read;
    return DecodeBlock(data, host, readings) && readings.size() == count && DecodeSummary(summary, host, read)
        && read.Count == made.Count && read.Min == made.Min && read.Max == made.Max && read.Changes == made.Changes;
}

} // namespace

bool WriteYearStore(const QString& path, const QString& host, int count, const std::function<TReading(int)>& reading,
    TYearLayout layout, TYearBytes* bytes)
{
    {
        TReadingStore store;
        if (!store.Open(path))
            return false;
    }
    const bool before = layout == TYearLayout::BeforeFigures;
    sqlite3* db = nullptr;
    if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    bool ok = true;
    const auto exec = [&](const char* sql) { ok = ok && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; };
    exec("BEGIN");
    // Version 3 had the same tables; only its number and its rows differ.
    if (before)
        exec("PRAGMA user_version = 3");
    sqlite3_stmt* insertHost = nullptr;
    ok = ok && sqlite3_prepare_v2(db, "INSERT INTO hosts (id, name) VALUES (1, ?1)", -1, &insertHost, nullptr) == SQLITE_OK;
    const QByteArray hostName = host.toUtf8();
    if (ok) {
        sqlite3_bind_text(insertHost, 1, hostName.constData(), int(hostName.size()), SQLITE_STATIC);
        ok = sqlite3_step(insertHost) == SQLITE_DONE;
    }
    sqlite3_finalize(insertHost);
    sqlite3_stmt* insert = nullptr;
    ok = ok
        && sqlite3_prepare_v2(db, "INSERT INTO blocks (host_id, span, first_ms, last_ms, count, data, summary)"
                                  " VALUES (1, ?1, ?2, ?3, ?4, ?5, ?6)", -1, &insert, nullptr)
            == SQLITE_OK;
    std::vector<TReading> block;
    const auto flush = [&] {
        if (block.empty() || !ok)
            return;
        const TBlockSummary made = SummaryOf(block);
        const TBlockRow row = before ? TBlockRow{EncodeFirstFormatBlock(block), EncodeDenseSummary(made)}
                                     : EncodeBlockRow(block, made);
        const QByteArray& data = row.Data;
        const QByteArray& summary = row.Summary;
        if (before && !ReadsBack(data, summary, host, made, block.size())) {
            ok = false;
            return;
        }
        sqlite3_bind_int64(insert, 1, block.front().TimeMs / TReadingStore::BlockSpanMs);
        sqlite3_bind_int64(insert, 2, block.front().TimeMs);
        sqlite3_bind_int64(insert, 3, block.back().TimeMs);
        sqlite3_bind_int(insert, 4, int(block.size()));
        sqlite3_bind_blob(insert, 5, data.constData(), int(data.size()), SQLITE_TRANSIENT);
        sqlite3_bind_blob(insert, 6, summary.constData(), int(summary.size()), SQLITE_TRANSIENT);
        ok = sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
        if (bytes) {
            bytes->Blocks += double(data.size());
            bytes->Summaries += double(summary.size());
            ++bytes->Rows;
        }
        block.clear();
    };
    for (int i = 0; ok && i < count; ++i) {
        TReading r = reading(i);
        // The first block format has no room for what figures a reading has.
        if (before && HasExtras(r))
            ok = false;
        if (!block.empty() && r.TimeMs / TReadingStore::BlockSpanMs != block.front().TimeMs / TReadingStore::BlockSpanMs)
            flush();
        block.push_back(std::move(r));
    }
    flush();
    sqlite3_finalize(insert);
    exec("COMMIT");
    // The whole year in the file itself, so its size on disk is the year's.
    ok = ok && sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}
