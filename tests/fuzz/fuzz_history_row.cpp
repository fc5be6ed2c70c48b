// Any bytes as a history row's block and summary, before compression: the
// decoders must never crash or read past what they were given, and whatever
// they accept must hold no more tones than a line can have.
#include "history/store/block_row.h"
#include "history/store/reading_blocks.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The first two bytes give the block's length, lowest first; the summary's follow it.
    const std::size_t head = std::min<std::size_t>(size, 2);
    const std::size_t blockSize = size < 2 ? 0 : std::min<std::size_t>(size - 2, data[0] | std::size_t(data[1]) << 8);
    const QByteArray block = Deflate(QByteArray(reinterpret_cast<const char*>(data) + head, qsizetype(blockSize)));
    const QByteArray summary
        = Deflate(QByteArray(reinterpret_cast<const char*>(data) + head + blockSize, qsizetype(size - head - blockSize)));
    const auto check = [](const std::vector<TReading>& readings) {
        for (const TReading& r : readings)
            if (r.Bits.size() > std::size_t(MaxToneCount))
                std::abort();
    };
    TBlockSummary read;
    if (DecodeSummary(summary, {}, read)
        && (read.Min.size() != read.Max.size() || read.Min.size() != read.Changes.size()))
        std::abort();
    check({read.FirstComplete, read.LatestComplete});
    TReading first;
    std::vector<TReading> readings;
    DecodeSummaryFirst(summary, {}, first);
    DecodeBlockRow(block, summary, {}, readings);
    check({first});
    check(readings);
    // Cut short, as a damaged file would hold them.
    DecodeBlockRow(block.left(block.size() / 2), summary.left(summary.size() / 2), {}, readings);
    return 0;
}
