// The line's figures over a period, widget-free, for the History window's
// "Line figures" view and the line report: margin, attenuation, actual and
// attainable rate each way at every reading, and the error counts of each 15
// minutes. Counters become counts by the one rule of counter_counts.h, so a
// retrain or a reboot starts afresh instead of counting backwards.
#pragma once

#include "history/store/block_summary.h"
#include "line/reading.h"

#include <cmath>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <vector>

// What a reading says of the line: up, down, or nothing (the router did not
// answer, refused the login, or said something that could not be read).
// Readings of files older than the outcome: an incomplete cycle was down.
enum class TLinePointState { Up, Down, NoReading };
TLinePointState PointStateOf(const TReading& reading);

// NaN where the router printed nothing.
struct TFiguresPoint {
    std::int64_t TimeMs = 0;
    TLinePointState State = TLinePointState::Up;
    float MarginDown = NAN, MarginUp = NAN;
    float AttenuationDown = NAN, AttenuationUp = NAN;
    float RateDown = NAN, RateUp = NAN; // kbit/s
    float AttainableDown = NAN, AttainableUp = NAN;
};
TFiguresPoint FiguresPointOf(const TReading& reading);

// Errors counted in one 15 minutes; -1 where no two readings of it had the
// counter.
struct TErrorBucket {
    std::int64_t StartMs = 0;
    std::int64_t CrcDown = -1, CrcUp = -1;
    std::int64_t EsDown = -1, EsUp = -1;
};

class THistoryLineFigures {
public:
    static constexpr std::int64_t BucketMs = 15 * 60'000;

    void Reset();
    // Readings come in oldest first.
    void Add(const TReading& reading);
    // A block of readings, as its first and latest complete readings.
    void Add(const TBlockSummary& summary);
    // Lets every point and bucket before timeMs go; returns the points gone.
    int DropOlderThan(std::int64_t timeMs);

    const std::deque<TFiguresPoint>& Points() const { return FPoints; }
    const std::deque<TErrorBucket>& Buckets() const { return FBuckets; }
    // Whether any reading held carries a figure or a counter.
    bool HasFigures() const { return FFigured > 0; }
    // The point taken nearest to a time; -1 while there is none.
    int PointNearest(std::int64_t timeMs) const;

private:
    std::deque<TFiguresPoint> FPoints;
    std::deque<TErrorBucket> FBuckets;
    std::deque<bool> FPointFigured;
    int FFigured = 0;
    std::optional<TLineFigures> FLastFigures;
};

// The report's figures of a period, a reading at a time: the margin's and
// attenuation's least, median and most each way, errored and severely errored
// seconds a day each way, and the retrains the router reported.
class TLineFiguresStats {
public:
    struct TSpread {
        bool Known = false;
        double Min = 0, Median = 0, Max = 0;
    };
    struct TDay {
        std::int64_t EsDown = 0, EsUp = 0, SesDown = 0, SesUp = 0;
    };

    // localOffsetMs: local time minus UTC, for where a day begins.
    explicit TLineFiguresStats(std::int64_t localOffsetMs = 0)
        : FLocalOffsetMs(localOffsetMs)
    {
    }
    void Add(const TReading& reading);

    TSpread MarginDown() const { return SpreadOf(FMarginDown); }
    TSpread MarginUp() const { return SpreadOf(FMarginUp); }
    TSpread AttenuationDown() const { return SpreadOf(FAttenuationDown); }
    TSpread AttenuationUp() const { return SpreadOf(FAttenuationUp); }
    // Local days (days since the epoch) and their counts.
    const std::map<std::int64_t, TDay>& Days() const { return FDays; }
    int Retrains() const { return FRetrains; }
    bool HasFigures() const { return FAny; }

private:
    static TSpread SpreadOf(std::vector<float> values);

    std::int64_t FLocalOffsetMs;
    std::vector<float> FMarginDown, FMarginUp, FAttenuationDown, FAttenuationUp;
    std::map<std::int64_t, TDay> FDays;
    std::optional<TLineFigures> FLast;
    int FRetrains = 0;
    bool FAny = false;
};
