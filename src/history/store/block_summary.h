// What one block of readings amounts to, kept beside the block so that a long
// period is shown from a few thousand summaries instead of hundreds of
// thousands of readings: the block's latest complete reading (what a pixel
// row of a year's waterfall shows), each tone's least and most bits and how
// often they changed, the line rate's extremes and when cycles failed.
#pragma once

#include "line/reading.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <vector>

// One reading as the line-rate trend shows it; a row of the History window's
// figures may stand for a block of readings, and then it counts them.
struct TRatePoint {
    std::int64_t TimeMs = 0;
    bool Completed = false;
    int UpBits = 0;   // total bits per symbol of the upstream bands' tones
    int DownBits = 0; // of the downstream bands' tones
    int Readings = 1; // the readings the point stands for
    int Failed = 0;   // of them incomplete
    double SpacingKHz = ZyxelToneSpacingKHz; // the line's, for its symbol rate

    double UpKbps() const { return LineRateKbps(UpBits, SpacingKHz); }
    double DownKbps() const { return LineRateKbps(DownBits, SpacingKHz); }
    bool operator==(const TRatePoint&) const = default;
};

// A reading's point on the trend: its bits summed per direction.
TRatePoint RatePointOf(const TReading& reading);

struct TBlockSummary {
    std::int64_t FirstMs = 0; // the first and the last reading, any outcome
    std::int64_t LastMs = 0;
    int Count = 0;
    int CompleteCount = 0;
    // Valid while CompleteCount > 0; the first without its spectra.
    TReading FirstComplete;
    TReading LatestComplete;
    // Per tone of the widest line among the complete readings: the least and
    // the most bits, and how often the bits differed from one complete
    // reading to the next within the block.
    std::vector<std::uint8_t> Min;
    std::vector<std::uint8_t> Max;
    std::vector<std::uint16_t> Changes;
    // The complete readings holding the lowest and the highest upstream and
    // downstream rate, in that order, so a dip survives the summary.
    std::array<TRatePoint, 4> Extremes{};
    // When the block's incomplete cycles were, oldest first.
    std::vector<std::int64_t> FailedMs;

    // Readings come in oldest first.
    void Add(const TReading& reading);
    bool operator==(const TBlockSummary&) const = default;
};

TBlockSummary SummaryOf(const std::vector<TReading>& readings);
// The summary as the store keeps it, compressed; false when damaged.
QByteArray EncodeSummary(const TBlockSummary& summary);
bool DecodeSummary(const QByteArray& data, const QString& host, TBlockSummary& summary);
// Its first complete reading alone, the base of the block beside it: false
// when damaged or it has none.
bool DecodeSummaryFirst(const QByteArray& data, const QString& host, TReading& first);
