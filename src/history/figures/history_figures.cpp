#include "history/figures/history_figures.h"
#include "history/figures/snr_history.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

TColor DirectionColor(TToneDirection direction)
{
    return direction == TToneDirection::Upstream ? clGreen : clBlue;
}

TColor ToneColor(const TBandPlan& bands, int tone)
{
    return DirectionColor(bands.DirectionOf(tone));
}

TColor ToneColor(int tone)
{
    return ToneColor(ZyxelBandPlan(), tone);
}

namespace {

// Sixteen steps along a ramp whose lightness rises evenly; neighbours differ
// enough to tell apart on screen, and no two are alike, so a pixel's colour
// names its bits exactly.
constexpr std::array<QRgb, MaxToneBits + 1> ColourMap = {
    0xFF440154, 0xFF461869, 0xFF462F7C, 0xFF404385, 0xFF39568B, 0xFF31678D, 0xFF2A788E, 0xFF24898D,
    0xFF239989, 0xFF27A882, 0xFF3AB776, 0xFF57C566, 0xFF7ED14E, 0xFFA8DB33, 0xFFD2E12B, 0xFFFDE725,
};

int Clamped(std::uint8_t bits)
{
    return std::min<int>(bits, MaxToneBits);
}

} // namespace

QRgb BitsColor(int bits)
{
    return ColourMap[std::size_t(std::clamp(bits, 0, MaxToneBits))];
}

int BitsOfColor(QRgb color)
{
    color |= 0xFF000000;
    if (color == IncompleteColor)
        return -1;
    const auto found = std::find(ColourMap.begin(), ColourMap.end(), color);
    return found == ColourMap.end() ? -2 : int(found - ColourMap.begin());
}

std::vector<std::vector<TRatePoint>> RateRuns(const std::deque<TRatePoint>& points, std::int64_t bucketMs,
                                              std::int64_t maxGapMs)
{
    std::vector<std::vector<TRatePoint>> runs;
    bool inRun = false;
    std::size_t i = 0;
    const auto paused = [&points, maxGapMs](std::size_t k) {
        return maxGapMs > 0 && k > 0 && points[k].TimeMs - points[k - 1].TimeMs > maxGapMs;
    };
    while (i < points.size()) {
        if (!points[i].Completed) {
            inRun = false;
            ++i;
            continue;
        }
        if (paused(i))
            inRun = false;
        if (!inRun)
            runs.emplace_back();
        inRun = true;
        auto& run = runs.back();
        if (bucketMs <= 0) {
            run.push_back(points[i++]);
            continue;
        }
        // One bucket of this run: the complete points that share it.
        const auto bucketOf = [bucketMs](std::int64_t t) { return t >= 0 ? t / bucketMs : (t + 1) / bucketMs - 1; };
        const std::int64_t bucket = bucketOf(points[i].TimeMs);
        std::size_t end = i;
        std::size_t upLow = i, upHigh = i, downLow = i, downHigh = i;
        while (end < points.size() && points[end].Completed && bucketOf(points[end].TimeMs) == bucket
               && (end == i || !paused(end))) {
            const TRatePoint& p = points[end];
            if (p.UpBits < points[upLow].UpBits)
                upLow = end;
            if (p.UpBits > points[upHigh].UpBits)
                upHigh = end;
            if (p.DownBits < points[downLow].DownBits)
                downLow = end;
            if (p.DownBits > points[downHigh].DownBits)
                downHigh = end;
            ++end;
        }
        std::array<std::size_t, 4> keep = {upLow, upHigh, downLow, downHigh};
        std::sort(keep.begin(), keep.end());
        for (std::size_t k = 0; k < keep.size(); ++k) {
            if (k == 0 || keep[k] != keep[k - 1])
                run.push_back(points[keep[k]]);
        }
        i = end;
    }
    return runs;
}

THistoryFigures::THistoryFigures()
    : FHistogram(::ZyxelToneCount)
    , FLatest(::ZyxelToneCount, 0)
    , FChanges(::ZyxelToneCount, 0)
    , FSnr(std::make_unique<THistorySnr>())
{
}

THistoryFigures::~THistoryFigures() = default;
THistoryFigures::THistoryFigures(THistoryFigures&&) noexcept = default;
THistoryFigures& THistoryFigures::operator=(THistoryFigures&&) noexcept = default;

void THistoryFigures::Reset(const std::vector<TReading>& readings)
{
    Reset(int(readings.size()));
    for (const TReading& reading : readings)
        Add(reading);
}

void THistoryFigures::Reset(int expected)
{
    FLineFigures.Reset();
    FSnr->Reset();
    FRates.clear();
    FBlocks.clear();
    FBlockCount = 0;
    FReadingCount = 0;
    FHistogramEntries = 0;
    FTrendValid = false;
    FCompleteCount = 0;
    for (auto& counts : FHistogram)
        counts.fill(0);
    FToneCount = ::ZyxelToneCount;
    FHistogram.assign(std::size_t(::ZyxelToneCount), {});
    FLatest.assign(std::size_t(::ZyxelToneCount), 0);
    FChanges.assign(std::size_t(::ZyxelToneCount), 0);
    FTotalChanges = 0;
    FSpacingKHz = ZyxelToneSpacingKHz;
    FBands = ZyxelBandPlan();
    // Room for the period's readings and some to come, so a window left open
    // does not copy the block at once.
    FCapacity = expected + expected / 8 + 64;
    FPixels.assign(std::size_t(FCapacity) * std::size_t(Stride()), 0);
    FTop = FCapacity;
}

void THistoryFigures::GrowRows()
{
    const int count = Count();
    const int capacity = std::max(64, FCapacity + FCapacity / 2);
    const std::size_t stride = std::size_t(Stride());
    std::vector<std::uint8_t> pixels(std::size_t(capacity) * stride, 0);
    const int top = capacity - count;
    if (count > 0)
        std::memcpy(pixels.data() + std::size_t(top) * stride, FPixels.data() + std::size_t(FTop) * stride,
                    std::size_t(count) * stride);
    FPixels.swap(pixels);
    FCapacity = capacity;
    FTop = top;
}

void THistoryFigures::GrowTones(int tones)
{
    const std::size_t oldStride = std::size_t(Stride());
    const int oldTones = FToneCount;
    FToneCount = tones;
    const std::size_t stride = std::size_t(Stride());
    std::vector<std::uint8_t> pixels(std::size_t(FCapacity) * stride, 0);
    for (int row = 0; row < Count(); ++row) {
        const std::uint8_t* from = FPixels.data() + std::size_t(FTop + row) * oldStride;
        std::uint8_t* to = pixels.data() + std::size_t(FTop + row) * stride;
        std::memcpy(to, from, std::size_t(oldTones));
        if (!Row(row).Completed)
            std::memset(to + oldTones, IncompleteIndex, std::size_t(tones - oldTones));
    }
    FPixels.swap(pixels);
    // The new tones had 0 bits in every complete reading held.
    std::array<int, MaxToneBits + 1> zeros{};
    zeros[0] = FHistogramEntries;
    FHistogram.resize(std::size_t(tones), zeros);
    FLatest.resize(std::size_t(tones), 0);
    FChanges.resize(std::size_t(tones), 0);
}

const std::uint8_t* THistoryFigures::RowBits(int row) const
{
    return FPixels.data() + std::size_t(FTop + row) * std::size_t(Stride());
}

std::pair<int, int> THistoryFigures::ColumnValue(TFigure figure, int first, int end) const
{
    first = std::clamp(first, 0, FToneCount - 1);
    end = std::clamp(end, first + 1, FToneCount);
    const auto value = [this, figure](int tone) {
        switch (figure) {
        case TFigure::Latest:
            return Latest(tone);
        case TFigure::Max:
            return Max(tone);
        case TFigure::Min:
            return Min(tone);
        case TFigure::Changes:
            return Changes(tone);
        }
        return 0;
    };
    const bool lowest = figure == TFigure::Min;
    std::pair<int, int> shown{first, value(first)};
    for (int tone = first + 1; tone < end; ++tone) {
        const int v = value(tone);
        if (lowest ? v < shown.second : v > shown.second)
            shown = {tone, v};
    }
    return shown;
}

std::pair<int, int> THistoryFigures::ColumnBits(int row, int first, int end) const
{
    first = std::clamp(first, 0, FToneCount - 1);
    end = std::clamp(end, first + 1, FToneCount);
    if (!Row(row).Completed)
        return {first, -1};
    const std::uint8_t* bits = RowBits(row);
    const std::uint8_t* lowest = std::min_element(bits + first, bits + end);
    return {int(lowest - bits), *lowest};
}

int THistoryFigures::Bits(int row, int tone) const
{
    const int bits = RowBits(row)[tone];
    return bits == IncompleteIndex ? -1 : bits;
}

int THistoryFigures::Max(int tone) const
{
    const auto& counts = FHistogram[std::size_t(tone)];
    for (int bits = MaxToneBits; bits > 0; --bits) {
        if (counts[std::size_t(bits)] > 0)
            return bits;
    }
    return 0;
}

int THistoryFigures::Min(int tone) const
{
    const auto& counts = FHistogram[std::size_t(tone)];
    for (int bits = 0; bits < MaxToneBits; ++bits) {
        if (counts[std::size_t(bits)] > 0)
            return bits;
    }
    return FCompleteCount > 0 ? MaxToneBits : 0;
}

void THistoryFigures::CountChanges(const std::uint8_t* older, const std::uint8_t* newer, int sign)
{
    // A few tones change from one row to the next: eight at a time are
    // passed over where none did.
    int tone = 0;
    for (; tone + 8 <= FToneCount; tone += 8) {
        std::uint64_t a = 0, b = 0;
        std::memcpy(&a, older + tone, 8);
        std::memcpy(&b, newer + tone, 8);
        if (a == b)
            continue;
        for (int t = tone; t < tone + 8; ++t) {
            if (older[t] != newer[t]) {
                FChanges[std::size_t(t)] += sign;
                FTotalChanges += sign;
            }
        }
    }
    for (; tone < FToneCount; ++tone) {
        if (older[tone] != newer[tone]) {
            FChanges[std::size_t(tone)] += sign;
            FTotalChanges += sign;
        }
    }
}

void THistoryFigures::CountBits(const std::uint8_t* bits, int sign)
{
    for (int tone = 0; tone < FToneCount; ++tone)
        FHistogram[std::size_t(tone)][std::size_t(bits[tone])] += sign;
    FHistogramEntries += sign;
}

void THistoryFigures::CountBlockBits(const std::uint8_t* row, const TBlockRow& block, int sign)
{
    // The row's bits stand for both the least and the most but where these
    // differ from them.
    for (int tone = 0; tone < FToneCount; ++tone)
        FHistogram[std::size_t(tone)][std::size_t(row[tone])] += 2 * sign;
    for (const auto* values : {&block.Min, &block.Max}) {
        for (const TToneValue& v : *values) {
            FHistogram[v.Tone][std::size_t(row[v.Tone])] -= sign;
            FHistogram[v.Tone][v.Bits] += sign;
        }
    }
    FHistogramEntries += 2 * sign;
}

const std::uint8_t* THistoryFigures::FirstBits(int row) const
{
    const auto& block = FBlocks[FBlocks.size() - 1 - std::size_t(row)];
    return block ? Patched(row, block->First) : RowBits(row);
}

const std::uint8_t* THistoryFigures::Patched(int row, const std::vector<TToneValue>& values) const
{
    const std::uint8_t* bits = RowBits(row);
    FPatched.assign(bits, bits + FToneCount);
    for (const TToneValue& v : values)
        FPatched[v.Tone] = v.Bits;
    return FPatched.data();
}

void THistoryFigures::Add(const TBlockSummary& summary)
{
    if (summary.Count == 0)
        return;
    FLineFigures.Add(summary);
    FSnr->Add(summary);
    const bool complete = summary.CompleteCount > 0;
    if (complete) {
        const std::size_t width = std::max(summary.LatestComplete.Bits.size(), summary.Min.size());
        if (int(width) > FToneCount)
            GrowTones(std::min(int(width), MaxToneCount));
        FSpacingKHz = summary.LatestComplete.SpacingKHz;
        FBands = summary.LatestComplete.Bands;
    }
    if (FTop == 0)
        GrowRows();
    --FTop;
    std::uint8_t* row = FPixels.data() + std::size_t(FTop) * std::size_t(Stride());
    TRatePoint point = complete ? RatePointOf(summary.LatestComplete) : TRatePoint{summary.LastMs, false};
    point.Readings = summary.Count;
    point.Failed = summary.Count - summary.CompleteCount;
    FReadingCount += summary.Count;
    FNewestMs = summary.LastMs;
    FTrendValid = false;
    auto block = std::make_unique<TBlockRow>();
    // Failed cycles break the trend's line where they were.
    for (const std::int64_t failed : summary.FailedMs)
        block->Trend.push_back(TRatePoint{failed, false});
    if (!complete) {
        std::memset(row, IncompleteIndex, std::size_t(FToneCount));
    } else {
        const auto tones = std::size_t(FToneCount);
        const auto valueAt = [](const std::vector<std::uint8_t>& values, std::size_t tone) {
            return std::uint8_t(tone < values.size() ? Clamped(values[tone]) : 0);
        };
        const std::vector<std::uint8_t>& latest = summary.LatestComplete.Bits;
        const std::vector<std::uint8_t>& first = summary.FirstComplete.Bits;
        const std::size_t given = std::min(latest.size(), tones);
        for (std::size_t tone = 0; tone < given; ++tone)
            row[tone] = std::uint8_t(Clamped(latest[tone]));
        std::memset(row + given, 0, tones - given);
        // Most tones hold still within a block: eight at a time are passed
        // over where none differ from the row.
        const auto differing = [&](std::vector<TToneValue>& into, const std::vector<std::uint8_t>& values) {
            const std::size_t given = std::min(values.size(), tones);
            std::size_t tone = 0;
            for (; tone + 8 <= given; tone += 8) {
                std::uint64_t a = 0, b = 0;
                std::memcpy(&a, values.data() + tone, 8);
                std::memcpy(&b, row + tone, 8);
                if (a == b)
                    continue;
                for (std::size_t t = tone; t < tone + 8; ++t)
                    if (const std::uint8_t v = valueAt(values, t); v != row[t])
                        into.push_back({std::uint16_t(t), v});
            }
            for (; tone < tones; ++tone)
                if (const std::uint8_t v = valueAt(values, tone); v != row[tone])
                    into.push_back({std::uint16_t(tone), v});
            into.shrink_to_fit();
        };
        differing(block->Min, summary.Min);
        differing(block->Max, summary.Max);
        differing(block->First, first);
        CountBlockBits(row, *block, +1);
        // The change into the block from the reading before it, then those
        // within it.
        if (FCompleteCount > 0) {
            CountChanges(FLatest.data(), row, +1);
            for (const TToneValue& v : block->First) {
                const int was = FLatest[v.Tone] != row[v.Tone] ? 1 : 0;
                const int now = FLatest[v.Tone] != v.Bits ? 1 : 0;
                FChanges[v.Tone] += now - was;
                FTotalChanges += now - was;
            }
        }
        for (std::size_t tone = 0; tone < std::min(tones, summary.Changes.size()); ++tone) {
            if (const int changes = summary.Changes[tone]) {
                block->Changes.emplace_back(std::uint16_t(tone), std::uint16_t(changes));
                FChanges[tone] += changes;
                FTotalChanges += changes;
            }
        }
        block->Changes.shrink_to_fit();
        std::memcpy(FLatest.data(), row, tones);
        FCompleteCount += summary.CompleteCount;
        for (const TRatePoint& extreme : summary.Extremes) {
            if (std::none_of(block->Trend.begin(), block->Trend.end(),
                             [&extreme](const TRatePoint& p) { return p.Completed && p.TimeMs == extreme.TimeMs; }))
                block->Trend.push_back(extreme);
        }
    }
    std::stable_sort(block->Trend.begin(), block->Trend.end(),
                     [](const TRatePoint& a, const TRatePoint& b) { return a.TimeMs < b.TimeMs; });
    FRates.push_back(point);
    FBlocks.push_back(std::move(block));
    ++FBlockCount;
}

void THistoryFigures::Add(const TReading& reading)
{
    FLineFigures.Add(reading);
    FSnr->Add(reading);
    if (int(reading.Bits.size()) > FToneCount)
        GrowTones(std::min(int(reading.Bits.size()), MaxToneCount));
    FSpacingKHz = reading.SpacingKHz;
    FBands = reading.Bands;
    if (FTop == 0)
        GrowRows();
    --FTop;
    std::uint8_t* row = FPixels.data() + std::size_t(FTop) * std::size_t(Stride());
    const TRatePoint point = RatePointOf(reading);
    ++FReadingCount;
    FNewestMs = reading.TimeMs;
    FTrendValid = false;
    if (!reading.Completed) {
        std::memset(row, IncompleteIndex, std::size_t(FToneCount));
    } else {
        const std::size_t given = std::min(reading.Bits.size(), std::size_t(FToneCount));
        for (std::size_t tone = 0; tone < given; ++tone)
            row[tone] = std::uint8_t(Clamped(reading.Bits[tone]));
        std::memset(row + given, 0, std::size_t(FToneCount) - given);
        CountBits(row, +1);
        // The latest complete reading is the one the new one is compared with.
        if (FCompleteCount > 0)
            CountChanges(FLatest.data(), row, +1);
        std::memcpy(FLatest.data(), row, std::size_t(FToneCount));
        ++FCompleteCount;
    }
    FRates.push_back(point);
    FBlocks.emplace_back();
}

int THistoryFigures::DropOlderThan(std::int64_t timeMs)
{
    FLineFigures.DropOlderThan(timeMs);
    int dropped = 0;
    while (!FRates.empty() && FRates.front().TimeMs < timeMs) {
        const int oldest = Count() - 1;
        const TRatePoint& front = FRates.front();
        const TBlockRow* block = FBlocks.front().get();
        if (front.Completed) {
            const std::uint8_t* bits = RowBits(oldest);
            // The change from this row to the next complete one goes with
            // it, and a block's changes within it.
            for (int row = oldest - 1; row >= 0; --row) {
                if (Row(row).Completed) {
                    CountChanges(bits, FirstBits(row), -1);
                    break;
                }
            }
            if (block) {
                for (const auto& [tone, changes] : block->Changes) {
                    FChanges[std::size_t(tone)] -= changes;
                    FTotalChanges -= changes;
                }
                CountBlockBits(bits, *block, -1);
            } else {
                CountBits(bits, -1);
            }
            FCompleteCount -= front.Readings - front.Failed;
            if (FCompleteCount == 0)
                std::fill(FLatest.begin(), FLatest.end(), 0);
        }
        FReadingCount -= front.Readings;
        FBlockCount -= block ? 1 : 0;
        FTrendValid = false;
        FBlocks.pop_front();
        FRates.pop_front();
        ++dropped;
    }
    FSnr->DropOldest(dropped);
    return dropped;
}
