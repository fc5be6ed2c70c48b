// What the line figures window shows, worked out without widgets: the
// line's rates, margin, attenuation and power each way as the last reading
// gave them, the error counts since the link came up, over the last 15
// minutes and the last 24 hours, the retrains and the time since the link
// came up. Counts over an interval come from the readings taken in, by the
// one rule of counter_counts.h. "not measured" where the router gave nothing.
#pragma once

#include "line/line_figures.h"
#include "line/reading.h"

#include <QString>

#include <cstdint>
#include <deque>
#include <vector>

// One row: a caption and a text each way, or one text for the whole line
// (Up empty and Whole set), or a heading over the rows after it.
struct TFiguresRow {
    QString Caption;
    QString Down;
    QString Up;
    bool Whole = false;   // one text for both directions, in Down
    bool Heading = false; // a caption alone

    bool operator==(const TFiguresRow&) const = default;
};

inline constexpr std::int64_t QuarterHourMs = 15 * 60 * 1000;
inline constexpr std::int64_t DayMs = 24 * 60 * 60 * 1000;

class TLineFiguresTable {
public:
    // Takes a reading. A reading of another host than the last starts
    // afresh; readings older than a day before the newest are let go.
    void Take(const TReading& reading);

    // The rows as of the newest reading taken in.
    std::vector<TFiguresRow> Rows() const;

    // The host of the readings, empty before the first.
    const QString& Host() const { return FHost; }
    bool Empty() const { return FSeen.empty(); }
    // The time of the newest reading with figures, 0 before any.
    std::int64_t NewestMs() const { return FSeen.empty() ? 0 : FSeen.back().TimeMs; }

private:
    struct TSeen {
        std::int64_t TimeMs;
        TLineFigures Figures;
    };
    QString FHost;
    std::deque<TSeen> FSeen; // oldest first; only readings with figures
    TLineFigures FLast;      // of the newest reading, figures or none
    bool FAny = false;
};

// The lamp's tooltip line of the margin each way: "Margin: downstream
// 6.1 dB, upstream 5.0 dB" (each "not measured" where absent); empty when
// the reading had no figures at all.
QString MarginTipLine(const TLineFigures& figures);

// "not measured"
QString NotMeasuredText();
