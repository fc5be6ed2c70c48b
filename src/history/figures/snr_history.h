// SNR per tone over a period, widget-free, for the History window's SNR
// waterfall and envelope and the line report: a row per row of the History
// figures (a reading, or a block shown as its latest complete reading), each
// keeping the reading's SNR groups as a byte each, and the QLN and Hlog of
// the newest training. Rows go in and out in step with THistoryFigures', so
// the waterfall's row map serves both.
#pragma once

#include "history/figures/waterfall_rows.h"
#include "history/store/block_summary.h"
#include "line/reading.h"

#include <QImage>
#include <QRgb>

#include <cstdint>
#include <deque>
#include <vector>

// The SNR waterfall's colours: dark (low SNR) to bright (high), a ramp over
// -5 to 65 dB; not measured is a pale grey none of the ramp's colours are.
QRgb SnrColor(float db);
constexpr QRgb SnrNotMeasuredColor = 0xFFD8D8D8;
constexpr float SnrColorLowDb = -5.0f;
constexpr float SnrColorHighDb = 65.0f;

class THistorySnr {
public:
    void Reset();
    // Readings and blocks come in oldest first, as they go to THistoryFigures.
    void Add(const TReading& reading);
    void Add(const TBlockSummary& summary);
    // The oldest `rows` rows go (what THistoryFigures::DropOlderThan dropped).
    void DropOldest(int rows);

    int Count() const { return int(FRows.size()); }
    // Whether any row holds a measured SNR.
    bool HasSnr() const { return FMeasuredRows > 0; }
    int ToneCount() const { return FToneCount; }
    const TBandPlan& Bands() const { return FBands; }

    // Row 0 is the newest; NaN where not measured (or no such row).
    float SnrAt(int row, int tone) const;
    // Each tone's lowest, highest and latest measured SNR over the rows held.
    float Min(int tone) const;
    float Max(int tone) const;
    float Latest(int tone) const;

    // QLN and Hlog as the newest reading that has them measured them, and
    // when that reading was taken (0 while none has).
    const TToneSpectra& Training() const { return FTraining; }
    std::int64_t TrainingMs() const { return FTrainingMs; }

    // The waterfall `width` pixels wide over the rows of the History figures'
    // row map: a long line's columns show the lowest SNR of their tones.
    QImage ScaledWaterfall(const TWaterfallRows& rows, int width) const;

private:
    // A direction's groups as codes: (dB + 32) * 2 rounded, 255 not measured.
    // Only the run from its first measured group to its last is kept (from
    // group First): the other direction's bands are not held row after row.
    struct TPart {
        int GroupSize = 1;
        int First = 0;
        std::vector<std::uint8_t> Codes;
    };
    struct TRow {
        TPart Up, Down;
    };
    static TPart PartOf(const TSpectrumPart& part);
    void AddRow(const TReading* reading);
    float At(const TRow& row, int tone) const;
    void Envelope() const;

    std::deque<TRow> FRows; // oldest first
    int FMeasuredRows = 0;
    int FToneCount = 0;
    TBandPlan FBands;
    TToneDirections FDirections; // FBands' over FToneCount
    TToneSpectra FTraining;
    std::int64_t FTrainingMs = 0;
    mutable bool FEnvelopeValid = false;
    mutable std::vector<float> FMin, FMax, FLatest;
};
