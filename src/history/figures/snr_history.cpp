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
    const auto measured = [](float value) { return IsMeasured(value); };
    const auto first = std::find_if(part.Groups.begin(), part.Groups.end(), measured);
    if (first == part.Groups.end())
        return codes;
    const auto end = std::find_if(part.Groups.rbegin(), part.Groups.rend(), measured).base();
    codes.First = int(first - part.Groups.begin());
    codes.Codes.reserve(std::size_t(end - first));
    for (auto value = first; value != end; ++value)
        codes.Codes.push_back(CodeOf(*value));
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
        FDirections.Follow(FBands, FToneCount);
        const TToneSpectra& s = reading->Spectra;
        if (!s.Qln.Empty() || !s.Hlog.Empty()) {
            // QLN and Hlog are measured when the line trains and carried from
            // reading to reading until the next training: the training is
            // when the link came up, else the first reading that held them.
            const bool same = FTrainingMs > 0 && s.Qln == FTraining.Qln && s.Hlog == FTraining.Hlog;
            if (reading->Figures.SinceLinkS)
                FTrainingMs = reading->TimeMs - *reading->Figures.SinceLinkS * 1000;
            else if (!same)
                FTrainingMs = reading->TimeMs;
            FTraining.Qln = s.Qln;
            FTraining.Hlog = s.Hlog;
        }
    }
    // A part keeps its measured run only: one that holds anything measured.
    FMeasuredRows += !row.Up.Codes.empty() || !row.Down.Codes.empty() ? 1 : 0;
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
        FMeasuredRows -= !row.Up.Codes.empty() || !row.Down.Codes.empty() ? 1 : 0;
        FRows.pop_front();
        FEnvelopeValid = false;
    }
}

float THistorySnr::At(const TRow& row, int tone) const
{
    const auto at = [tone](const TPart& part) {
        const int group = tone / part.GroupSize - part.First;
        return group >= 0 && std::size_t(group) < part.Codes.size() ? DbOf(part.Codes[std::size_t(group)]) : NotMeasured;
    };
    switch (FDirections[tone]) {
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
    // Each direction's groups are folded over the rows first and spread to
    // their tones after: a row costs its groups, not the line's tones. Rows
    // of another group size fold apart.
    struct TFold {
        TToneDirection Direction;
        int GroupSize;
        std::vector<std::uint8_t> Min, Max, Latest;
        std::vector<std::size_t> LatestRow;
    };
    std::vector<TFold> folds;
    for (std::size_t r = 0; r < FRows.size(); ++r) {
        for (const auto& [part, direction] : {std::pair{&FRows[r].Up, TToneDirection::Upstream},
                 std::pair{&FRows[r].Down, TToneDirection::Downstream}}) {
            if (part->Codes.empty())
                continue;
            auto fold = std::find_if(folds.begin(), folds.end(), [&](const TFold& f) {
                return f.Direction == direction && f.GroupSize == part->GroupSize;
            });
            if (fold == folds.end())
                fold = folds.insert(folds.end(), TFold{direction, part->GroupSize, {}, {}, {}, {}});
            const std::size_t groups = std::size_t(part->First) + part->Codes.size();
            if (fold->Latest.size() < groups) {
                fold->Min.resize(groups, NoCode);
                fold->Max.resize(groups, NoCode);
                fold->Latest.resize(groups, NoCode);
                fold->LatestRow.resize(groups, 0);
            }
            // Codes rise with the decibels, so their least and most are the
            // values' least and most.
            for (std::size_t g = std::size_t(part->First); g < groups; ++g) {
                const std::uint8_t code = part->Codes[g - std::size_t(part->First)];
                if (code == NoCode)
                    continue;
                fold->Min[g] = fold->Min[g] == NoCode ? code : std::min(fold->Min[g], code);
                fold->Max[g] = fold->Max[g] == NoCode ? code : std::max(fold->Max[g], code);
                fold->Latest[g] = code;
                fold->LatestRow[g] = r;
            }
        }
    }
    const auto tones = std::size_t(FToneCount);
    FMin.assign(tones, NotMeasured);
    FMax.assign(tones, NotMeasured);
    FLatest.assign(tones, NotMeasured);
    for (std::size_t tone = 0; tone < tones; ++tone) {
        const TToneDirection direction = FDirections[int(tone)];
        std::size_t latestRow = 0;
        for (const TFold& fold : folds) {
            const std::size_t g = tone / std::size_t(fold.GroupSize);
            if (fold.Direction != direction || g >= fold.Latest.size() || fold.Latest[g] == NoCode)
                continue;
            const float least = DbOf(fold.Min[g]), most = DbOf(fold.Max[g]);
            FMin[tone] = IsMeasured(FMin[tone]) ? std::min(FMin[tone], least) : least;
            FMax[tone] = IsMeasured(FMax[tone]) ? std::max(FMax[tone], most) : most;
            if (!IsMeasured(FLatest[tone]) || fold.LatestRow[g] > latestRow) {
                FLatest[tone] = DbOf(fold.Latest[g]);
                latestRow = fold.LatestRow[g];
            }
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
