#include "history/history_figures.h"

#include <algorithm>
#include <cstring>

TColor ToneColor(int tone)
{
    return tone < UpstreamToneCount ? clGreen : clBlue;
}

namespace {

// Sixteen steps along a ramp whose lightness rises evenly; neighbours differ
// enough to tell apart on screen, and no two are alike, so a pixel's colour
// names its bits exactly.
constexpr std::array<QRgb, MaxToneBits + 1> ColourMap = {
    0xFF440154, 0xFF461869, 0xFF462F7C, 0xFF404385, 0xFF39568B, 0xFF31678D, 0xFF2A788E, 0xFF24898D,
    0xFF239989, 0xFF27A882, 0xFF3AB776, 0xFF57C566, 0xFF7ED14E, 0xFFA8DB33, 0xFFD2E12B, 0xFFFDE725,
};

// Bytes per pixel row: QImage wants rows that start on 32-bit boundaries.
constexpr int Stride = (ToneCount + 3) / 4 * 4;

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

std::vector<std::vector<TRatePoint>> RateRuns(const std::deque<TRatePoint>& points, std::int64_t bucketMs)
{
    std::vector<std::vector<TRatePoint>> runs;
    bool inRun = false;
    std::size_t i = 0;
    while (i < points.size()) {
        if (!points[i].Completed) {
            inRun = false;
            ++i;
            continue;
        }
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
        while (end < points.size() && points[end].Completed && bucketOf(points[end].TimeMs) == bucket) {
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
    : FHistogram(ToneCount)
{
}

void THistoryFigures::Reset(const std::vector<TReading>& readings)
{
    FRates.clear();
    FCompleteCount = 0;
    for (auto& counts : FHistogram)
        counts.fill(0);
    FLatest.fill(0);
    FChanges.fill(0);
    FTotalChanges = 0;
    // Room for the period's readings and some to come, so a window left open
    // does not copy the block at once.
    FCapacity = int(readings.size()) + int(readings.size()) / 8 + 64;
    FPixels.assign(std::size_t(FCapacity) * Stride, 0);
    FTop = FCapacity;
    for (const TReading& reading : readings)
        Add(reading);
}

void THistoryFigures::GrowRows()
{
    const int count = Count();
    const int capacity = std::max(64, FCapacity + FCapacity / 2);
    std::vector<std::uint8_t> pixels(std::size_t(capacity) * Stride, 0);
    const int top = capacity - count;
    if (count > 0)
        std::memcpy(pixels.data() + std::size_t(top) * Stride, FPixels.data() + std::size_t(FTop) * Stride,
                    std::size_t(count) * Stride);
    FPixels.swap(pixels);
    FCapacity = capacity;
    FTop = top;
}

const std::uint8_t* THistoryFigures::RowBits(int row) const
{
    return FPixels.data() + std::size_t(FTop + row) * Stride;
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
    for (int tone = 0; tone < ToneCount; ++tone) {
        if (older[tone] != newer[tone]) {
            FChanges[std::size_t(tone)] += sign;
            FTotalChanges += sign;
        }
    }
}

void THistoryFigures::Add(const TReading& reading)
{
    if (FTop == 0)
        GrowRows();
    --FTop;
    std::uint8_t* row = FPixels.data() + std::size_t(FTop) * Stride;
    TRatePoint point;
    point.TimeMs = reading.TimeMs;
    point.Completed = reading.Completed;
    if (!reading.Completed) {
        std::memset(row, IncompleteIndex, ToneCount);
    } else {
        for (int tone = 0; tone < ToneCount; ++tone) {
            const int bits = Clamped(reading.Bits[std::size_t(tone)]);
            row[tone] = std::uint8_t(bits);
            ++FHistogram[std::size_t(tone)][std::size_t(bits)];
            (tone < UpstreamToneCount ? point.UpBits : point.DownBits) += bits;
        }
        // The latest complete reading is the one the new one is compared with.
        if (FCompleteCount > 0)
            CountChanges(FLatest.data(), row, +1);
        std::memcpy(FLatest.data(), row, ToneCount);
        ++FCompleteCount;
    }
    FRates.push_back(point);
}

int THistoryFigures::DropOlderThan(std::int64_t timeMs)
{
    int dropped = 0;
    while (!FRates.empty() && FRates.front().TimeMs < timeMs) {
        const int oldest = Count() - 1;
        if (FRates.front().Completed) {
            const std::uint8_t* bits = RowBits(oldest);
            // The change from this reading to the next complete one goes
            // with it.
            for (int row = oldest - 1; row >= 0; --row) {
                if (Row(row).Completed) {
                    CountChanges(bits, RowBits(row), -1);
                    break;
                }
            }
            for (int tone = 0; tone < ToneCount; ++tone)
                --FHistogram[std::size_t(tone)][std::size_t(bits[tone])];
            if (--FCompleteCount == 0)
                FLatest.fill(0);
        }
        FRates.pop_front();
        ++dropped;
    }
    return dropped;
}

QImage THistoryFigures::Waterfall() const
{
    // The image reads the block in place; its colour table is its own.
    QImage image(const_cast<std::uint8_t*>(RowBits(0)), ToneCount, Count(), Stride, QImage::Format_Indexed8);
    QList<QRgb> table(ColourMap.begin(), ColourMap.end());
    table.push_back(IncompleteColor);
    image.setColorTable(table);
    return image;
}

int THistoryFigures::RowAt(int y, int height) const
{
    if (height <= 0 || y < 0 || y >= height || Count() == 0)
        return -1;
    return int(std::int64_t(y) * Count() / height);
}

int THistoryFigures::ToneAt(int x, int width)
{
    if (width <= 0 || x < 0 || x >= width)
        return -1;
    return int(std::int64_t(x) * ToneCount / width);
}

QImage THistoryFigures::ScaledWaterfall(QSize size) const
{
    QImage image(size, QImage::Format_RGB32);
    if (size.isEmpty())
        return image;
    image.fill(IncompleteColor);
    const int count = Count();
    if (count == 0)
        return image;
    std::vector<int> toneOf(std::size_t(size.width()));
    for (int x = 0; x < size.width(); ++x)
        toneOf[std::size_t(x)] = ToneAt(x, size.width());
    for (int y = 0; y < size.height(); ++y) {
        const int first = RowAt(y, size.height());
        const int last = std::max(first + 1, int(std::int64_t(y + 1) * count / size.height()));
        bool complete = true;
        for (int row = first; row < last && complete; ++row)
            complete = Row(row).Completed;
        if (!complete)
            continue; // stays grey
        const std::uint8_t* bits = RowBits(first);
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = ColourMap[bits[toneOf[std::size_t(x)]]];
    }
    return image;
}
