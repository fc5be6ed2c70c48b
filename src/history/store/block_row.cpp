#include "history/store/block_row.h"

#include "history/store/reading_blocks.h"

TBlockRow EncodeBlockRow(const std::vector<TReading>& readings, const TBlockSummary& summary)
{
    return {EncodeBlock(readings, summary.CompleteCount > 0 ? &summary.FirstComplete : nullptr),
        EncodeSummary(summary)};
}

TBlockRow EncodeBlockRow(const std::vector<TReading>& readings)
{
    return EncodeBlockRow(readings, SummaryOf(readings));
}

bool DecodeBlockRow(const QByteArray& data, const QByteArray& summaryData, const QString& host,
    std::vector<TReading>& readings, TBlockSummary* summary)
{
    if (summary) {
        if (!DecodeSummary(summaryData, host, *summary))
            *summary = {};
        return DecodeBlock(data, host, readings, [summary]() -> const TReading* {
            return summary->CompleteCount > 0 ? &summary->FirstComplete : nullptr;
        });
    }
    TReading base;
    return DecodeBlock(data, host, readings, [&]() -> const TReading* {
        return DecodeSummaryFirst(summaryData, host, base) ? &base : nullptr;
    });
}
