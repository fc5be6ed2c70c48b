#include "history/figures/line_figures_history.h"

#include "line/counter_counts.h"

#include <algorithm>

TLinePointState PointStateOf(const TReading& reading)
{
    switch (reading.Outcome) {
    case TReadingOutcome::LineUp: return TLinePointState::Up;
    case TReadingOutcome::LineDown: return TLinePointState::Down;
    case TReadingOutcome::NoAnswer:
    case TReadingOutcome::LoginRefused:
    case TReadingOutcome::NotUnderstood: return TLinePointState::NoReading;
    case TReadingOutcome::Unknown: break;
    }
    return reading.Completed ? TLinePointState::Up : TLinePointState::Down;
}

namespace {

float ValueOf(const std::optional<double>& value)
{
    return value ? float(*value) : NAN;
}

// How much a counter grew between two readings; -1 when it cannot be told.
std::int64_t Growth(const std::optional<std::uint64_t>& before, const std::optional<std::uint64_t>& after)
{
    const auto growth = CounterIncrease(before, after);
    return growth ? std::int64_t(*growth) : -1;
}

void AddCount(std::int64_t& to, std::int64_t count)
{
    if (count >= 0)
        to = std::max<std::int64_t>(to, 0) + count;
}

} // namespace

TFiguresPoint FiguresPointOf(const TReading& reading)
{
    const TLineFigures& f = reading.Figures;
    TFiguresPoint point;
    point.TimeMs = reading.TimeMs;
    point.State = PointStateOf(reading);
    point.MarginDown = ValueOf(f.Down.MarginDb);
    point.MarginUp = ValueOf(f.Up.MarginDb);
    point.AttenuationDown = ValueOf(f.Down.AttenuationDb);
    point.AttenuationUp = ValueOf(f.Up.AttenuationDb);
    point.RateDown = ValueOf(f.Down.RateKbps);
    point.RateUp = ValueOf(f.Up.RateKbps);
    point.AttainableDown = ValueOf(f.Down.AttainableKbps);
    point.AttainableUp = ValueOf(f.Up.AttainableKbps);
    return point;
}

void THistoryLineFigures::Reset()
{
    *this = THistoryLineFigures();
}

void THistoryLineFigures::Add(const TReading& reading)
{
    const bool figured = !reading.Figures.Empty();
    FPoints.push_back(FiguresPointOf(reading));
    FPointFigured.push_back(figured);
    FFigured += figured ? 1 : 0;
    if (!figured)
        return; // a reading without counters leaves the last ones to compare with
    const std::int64_t start = reading.TimeMs - (reading.TimeMs % BucketMs + BucketMs) % BucketMs;
    if (FBuckets.empty() || FBuckets.back().StartMs != start)
        FBuckets.push_back(TErrorBucket{start});
    if (FLastFigures) {
        TErrorBucket& bucket = FBuckets.back();
        const TLineFigures& was = *FLastFigures;
        const TLineFigures& now = reading.Figures;
        AddCount(bucket.CrcDown, Growth(was.Down.Crc, now.Down.Crc));
        AddCount(bucket.CrcUp, Growth(was.Up.Crc, now.Up.Crc));
        AddCount(bucket.EsDown, Growth(was.Down.Es, now.Down.Es));
        AddCount(bucket.EsUp, Growth(was.Up.Es, now.Up.Es));
    }
    FLastFigures = reading.Figures;
}

void THistoryLineFigures::Add(const TBlockSummary& summary)
{
    if (summary.CompleteCount == 0) {
        if (summary.Count > 0) {
            TFiguresPoint point;
            point.TimeMs = summary.LastMs;
            point.State = TLinePointState::Down;
            FPoints.push_back(point);
            FPointFigured.push_back(false);
        }
        return;
    }
    if (summary.FirstComplete.TimeMs < summary.LatestComplete.TimeMs)
        Add(summary.FirstComplete);
    Add(summary.LatestComplete);
}

int THistoryLineFigures::DropOlderThan(std::int64_t timeMs)
{
    int dropped = 0;
    while (!FPoints.empty() && FPoints.front().TimeMs < timeMs) {
        FFigured -= FPointFigured.front() ? 1 : 0;
        FPoints.pop_front();
        FPointFigured.pop_front();
        ++dropped;
    }
    while (!FBuckets.empty() && FBuckets.front().StartMs + BucketMs <= timeMs)
        FBuckets.pop_front();
    return dropped;
}

int THistoryLineFigures::PointNearest(std::int64_t timeMs) const
{
    if (FPoints.empty())
        return -1;
    const auto after = std::lower_bound(FPoints.begin(), FPoints.end(), timeMs,
        [](const TFiguresPoint& p, std::int64_t t) { return p.TimeMs < t; });
    if (after == FPoints.begin())
        return 0;
    if (after == FPoints.end())
        return int(FPoints.size()) - 1;
    const auto before = after - 1;
    return int((timeMs - before->TimeMs <= after->TimeMs - timeMs ? before : after) - FPoints.begin());
}

void TLineFiguresStats::Add(const TReading& reading)
{
    const TLineFigures& f = reading.Figures;
    if (f.Empty())
        return;
    FAny = true;
    for (auto [values, value] : {std::pair{&FMarginDown, f.Down.MarginDb}, std::pair{&FMarginUp, f.Up.MarginDb},
             std::pair{&FAttenuationDown, f.Down.AttenuationDb}, std::pair{&FAttenuationUp, f.Up.AttenuationDb}})
        if (value && PointStateOf(reading) == TLinePointState::Up)
            values->push_back(float(*value));
    if (FLast) {
        if (RetrainedBetween(*FLast, f).value_or(false))
            ++FRetrains;
        const std::int64_t local = reading.TimeMs + FLocalOffsetMs;
        TDay& day = FDays[(local - (local % 86'400'000 + 86'400'000) % 86'400'000) / 86'400'000];
        day.EsDown += std::max<std::int64_t>(0, Growth(FLast->Down.Es, f.Down.Es));
        day.EsUp += std::max<std::int64_t>(0, Growth(FLast->Up.Es, f.Up.Es));
        day.SesDown += std::max<std::int64_t>(0, Growth(FLast->Down.Ses, f.Down.Ses));
        day.SesUp += std::max<std::int64_t>(0, Growth(FLast->Up.Ses, f.Up.Ses));
    }
    FLast = f;
}

TLineFiguresStats::TSpread TLineFiguresStats::SpreadOf(std::vector<float> values)
{
    TSpread spread;
    if (values.empty())
        return spread;
    spread.Known = true;
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    spread.Median = *middle;
    const auto [least, most] = std::minmax_element(values.begin(), values.end());
    spread.Min = *least;
    spread.Max = *most;
    return spread;
}
