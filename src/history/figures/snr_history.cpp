#include "history/figures/snr_history.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::uint8_t NoCode = 255;

std::uint8_t CodeOf(float db)
{
    if (!IsMeasured(db))
        return NoCode;
    return std::uint8_t(std::clamp(std::lround((double(db) + 32.0) * 2.0), 0L, 254L));
}

float DbOf(std::uint8_t code)
{
    return code == NoCode ? NotMeasured : float(code) / 2.0f - 32.0f;
}

} // namespace

QRgb SnrColor(float db)
{
    if (!IsMeasured(db))
        return SnrNotMeasuredColor;
    // Dark red through orange and yellow to a pale green-white: brightness
    // rises with the SNR, so the ramp also reads in grey print.
    const float t = std::clamp((db - SnrColorLowDb) / (SnrColorHighDb - SnrColorLowDb), 0.0f, 1.0f);
    const int r = int(std::lround(40 + 215 * std::min(1.0f, t * 1.6f)));
    const int g = int(std::lround(10 + 235 * t));
    const int b = int(std::lround(30 + 120 * std::max(0.0f, t - 0.6f) / 0.4f));
    return qRgb(r, g, b);
}

void THistorySnr::Reset()
{
    *this = THistorySnr();
}

THistorySnr::TPart THistorySnr::PartOf(const TSpectrumPart& part)
{
    TPart codes;
    codes.GroupSize = std::max(1, part.GroupSize);
    codes.Codes.reserve(part.Groups.size());
    for (const float value : part.Groups)
        codes.Codes.push_back(CodeOf(value));
    return codes;
}

void THistorySnr::AddRow(const TReading* reading)
{
    TRow row;
    if (reading) {
        row.Up = PartOf(reading->Spectra.Snr.Up);
        row.Down = PartOf(reading->Spectra.Snr.Down);
        FToneCount = std::max(FToneCount, int(reading->Bits.size()));
        FBands = reading->Bands;
        const TToneSpectra& s = reading->Spectra;
        if (!s.Qln.Empty() || !s.Hlog.Empty()) {
            FTraining.Qln = s.Qln;
            FTraining.Hlog = s.Hlog;
            FTrainingMs = reading->TimeMs;
        }
    }
    const auto measured = [](const TPart& part) {
        return std::any_of(part.Codes.begin(), part.Codes.end(), [](std::uint8_t c) { return c != NoCode; });
    };
    FMeasuredRows += measured(row.Up) || measured(row.Down) ? 1 : 0;
    FRows.push_back(std::move(row));
    FEnvelopeValid = false;
}

void THistorySnr::Add(const TReading& reading)
{
    AddRow(reading.Completed ? &reading : nullptr);
}

void THistorySnr::Add(const TBlockSummary& summary)
{
    if (summary.Count == 0)
        return;
    AddRow(summary.CompleteCount > 0 ? &summary.LatestComplete : nullptr);
}

void THistorySnr::DropOldest(int rows)
{
    for (; rows > 0 && !FRows.empty(); --rows) {
        const TRow& row = FRows.front();
        const auto measured = [](const TPart& part) {
            return std::any_of(part.Codes.begin(), part.Codes.end(), [](std::uint8_t c) { return c != NoCode; });
        };
        FMeasuredRows -= measured(row.Up) || measured(row.Down) ? 1 : 0;
        FRows.pop_front();
        FEnvelopeValid = false;
    }
}

float THistorySnr::At(const TRow& row, int tone) const
{
    const auto at = [tone](const TPart& part) {
        const std::size_t group = std::size_t(tone / part.GroupSize);
        return group < part.Codes.size() ? DbOf(part.Codes[group]) : NotMeasured;
    };
    switch (FBands.DirectionOf(tone)) {
    case TToneDirection::Upstream: return at(row.Up);
    case TToneDirection::Downstream: return at(row.Down);
    case TToneDirection::Neither: break;
    }
    return NotMeasured;
}

float THistorySnr::SnrAt(int row, int tone) const
{
    if (row < 0 || row >= Count() || tone < 0)
        return NotMeasured;
    return At(FRows[FRows.size() - 1 - std::size_t(row)], tone);
}

void THistorySnr::Envelope() const
{
    if (FEnvelopeValid)
        return;
    const auto tones = std::size_t(FToneCount);
    FMin.assign(tones, NotMeasured);
    FMax.assign(tones, NotMeasured);
    FLatest.assign(tones, NotMeasured);
    for (const TRow& row : FRows) {
        for (std::size_t tone = 0; tone < tones; ++tone) {
            const float db = At(row, int(tone));
            if (!IsMeasured(db))
                continue;
            FMin[tone] = IsMeasured(FMin[tone]) ? std::min(FMin[tone], db) : db;
            FMax[tone] = IsMeasured(FMax[tone]) ? std::max(FMax[tone], db) : db;
            FLatest[tone] = db;
        }
    }
    FEnvelopeValid = true;
}

float THistorySnr::Min(int tone) const
{
    Envelope();
    return tone >= 0 && std::size_t(tone) < FMin.size() ? FMin[std::size_t(tone)] : NotMeasured;
}

float THistorySnr::Max(int tone) const
{
    Envelope();
    return tone >= 0 && std::size_t(tone) < FMax.size() ? FMax[std::size_t(tone)] : NotMeasured;
}

float THistorySnr::Latest(int tone) const
{
    Envelope();
    return tone >= 0 && std::size_t(tone) < FLatest.size() ? FLatest[std::size_t(tone)] : NotMeasured;
}

QImage THistorySnr::ScaledWaterfall(const TWaterfallRows& rows, int width) const
{
    QImage image(std::max(1, width), std::max(1, rows.Height()), QImage::Format_RGB32);
    image.fill(NoReadingColor);
    const TToneColumns columns{std::max(1, FToneCount), width};
    for (int y = 0; y < rows.Height(); ++y) {
        const int shown = rows.At(y);
        if (shown < 0 || shown >= Count())
            continue;
        const TRow& row = FRows[FRows.size() - 1 - std::size_t(shown)];
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int c = columns.Binned() ? x : int(std::int64_t(x) * columns.Tones / std::max(1, width));
            const int first = columns.Binned() ? columns.FirstTone(c) : c;
            const int end = columns.Binned() ? columns.EndTone(c) : c + 1;
            float lowest = NotMeasured;
            for (int tone = first; tone < end; ++tone) {
                const float db = At(row, tone);
                if (IsMeasured(db) && (!IsMeasured(lowest) || db < lowest))
                    lowest = db;
            }
            line[x] = SnrColor(lowest);
        }
    }
    return image;
}
