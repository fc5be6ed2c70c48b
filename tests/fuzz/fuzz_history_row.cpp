// Any bytes as a history row's block and summary, before compression: the
// decoders must never crash or read past what they were given, and whatever
// they accept must hold no more tones than a line can have.
#include "history/store/block_row.h"
#include "history/store/reading_blocks.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void Check(const std::vector<TReading>& readings)
{
    for (const TReading& r : readings)
        if (r.Bits.size() > std::size_t(MaxToneCount))
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The first two bytes give the block's length, lowest first; the summary's follow it.
    const std::size_t head = std::min<std::size_t>(size, 2);
    const std::size_t blockSize = size < 2 ? 0 : std::min<std::size_t>(size - 2, data[0] | std::size_t(data[1]) << 8);
    const QByteArray block(reinterpret_cast<const char*>(data) + head, qsizetype(blockSize));
    const QByteArray summary(reinterpret_cast<const char*>(data) + head + blockSize, qsizetype(size - head - blockSize));

    std::vector<TReading> readings;
    if (DecodeBlockBytes(reinterpret_cast<const std::uint8_t*>(block.constData()), std::size_t(block.size()), {},
            readings))
        Check(readings);
    const QByteArray packedBlock = Deflate(block), packedSummary = Deflate(summary);
    TBlockSummary read;
    if (DecodeSummary(packedSummary, {}, read)) {
        Check({read.FirstComplete, read.LatestComplete});
        if (read.Min.size() != read.Max.size() || read.Min.size() != read.Changes.size())
            std::abort();
    }
    TReading first;
    if (DecodeSummaryFirst(packedSummary, {}, first))
        Check({first});
    if (DecodeBlockRow(packedBlock, packedSummary, {}, readings))
        Check(readings);
    // Cut short, as a damaged file would hold them.
    DecodeBlockRow(packedBlock.left(packedBlock.size() / 2), packedSummary.left(packedSummary.size() / 2), {}, readings);
    return 0;
}
