// A block's row as the store keeps it: the readings' block and, beside it,
// their summary. The summary keeps the block's first complete reading whole
// for the History window's long periods, so the block starts from it
// instead of keeping it a second time: an hour's row is then a whole reading
// smaller, and the block is read with its summary.
#pragma once

#include "history/store/block_summary.h"

#include <QByteArray>
#include <QString>

#include <vector>

struct TBlockRow {
    QByteArray Data;
    QByteArray Summary;
};

// The row of readings (oldest first) and of their summary, as given where
// the caller holds it already.
TBlockRow EncodeBlockRow(const std::vector<TReading>& readings, const TBlockSummary& summary);
TBlockRow EncodeBlockRow(const std::vector<TReading>& readings);

// A row's readings; false when its block is damaged, or starts from its
// summary and that is damaged. The summary is decoded only when the block
// needs it, or always when `summary` is given: it then holds the summary,
// or nothing (a Count of 0) when that is damaged.
bool DecodeBlockRow(const QByteArray& data, const QByteArray& summaryData, const QString& host,
    std::vector<TReading>& readings, TBlockSummary* summary = nullptr);
