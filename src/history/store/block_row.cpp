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
    TBlockSummary own;
    TBlockSummary& held = summary ? *summary : own;
    bool decoded = false;
    const auto decode = [&] {
        if (!decoded && !DecodeSummary(summaryData, host, held))
            held = {};
        decoded = true;
    };
    if (summary)
        decode();
    return DecodeBlock(data, host, readings, [&]() -> const TReading* {
        decode();
        return held.CompleteCount > 0 ? &held.FirstComplete : nullptr;
    });
}
