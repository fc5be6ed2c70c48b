// What happened on the line, found from its readings: outages, resyncs, drops
// of the line rate and tones that lost bits. No widgets: the monitor feeds its
// readings one at a time as they arrive (to notify), the reader and the
// History window run the same detector over a stored period.
//
// The detector keeps only what the rules need: the last 24 hours of the line
// as runs of equal readings (a steady line costs one entry however long it
// holds), a count of each direction's rates for the median and of each tone's
// bits for its maximum. Memory stays bounded by the distinct readings of one
// day, never by the period.
#pragma once

#include "line/output_formats.h"
#include "line/reading.h"

#include <QByteArray>

#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

// The rules' numbers (the README lists them).
namespace LineEventRules {
// The window the median rate and each tone's maximum are taken over.
constexpr std::int64_t WindowMs = 24LL * 60 * 60 * 1000;
// A direction's rate this share or more below its median is a rate drop.
constexpr double RateDropShare = 0.10;
// Bits this many or more below a tone's maximum: the tone lost bits.
constexpr int LostBits = 2;
// A tone counts as having lost bits only after this many complete readings
// in a row showed it low, so a tone that flickers once is no event.
constexpr int LostReadings = 3;
// Between two complete readings, more than this share of the loaded tones
// (tones with bits in either) changed: a resync.
constexpr double ResyncShare = 0.5;
// Fewer loaded tones than this: too few to tell a resync.
constexpr int ResyncMinTones = 8;
// No judgement of rate or tones until the window holds this many complete
// readings.
constexpr int MinBaselineReadings = 10;
// No reading for longer than this: sampling paused (the monitor was not
// running). Nothing is known of the time between, so no outage is invented
// from it, and the windows start over: what changed meanwhile has no time.
constexpr std::int64_t LongPauseMs = 30LL * 60 * 1000;
} // namespace LineEventRules

enum class TLineEventKind { Outage, Resync, RateDrop, TonesLostBits };

// "outage", "resync", "rate drop", "tones lost bits".
QString LineEventKindText(TLineEventKind kind);

struct TLineEvent {
    TLineEventKind Kind = TLineEventKind::Outage;
    QString Host;
    std::int64_t StartMs = 0;
    std::int64_t EndMs = 0;
    bool Ongoing = false; // still going on at the last reading seen

    // Outage: incomplete cycles in a row.
    int Cycles = 0;
    // Resync: tones that changed of the tones loaded.
    int ChangedTones = 0;
    int LoadedTones = 0;
    // Rate drop: the direction (true: upstream), its median before and its
    // lowest rate during the drop, kbit/s.
    bool Upstream = false;
    double MedianKbps = 0;
    double LowestKbps = 0;
    // Tones lost bits: the range of neighbouring tones, both ends included,
    // and the most bits one of them lost.
    int FirstTone = 0;
    int LastTone = 0;
    int MostBitsLost = 0;

    std::int64_t DurationMs() const { return EndMs - StartMs; }
    // The figures in words, e.g. "downstream 9240 kbit/s, median 11020".
    QString FiguresText() const;
    bool operator==(const TLineEvent&) const = default;
};

// What one reading brought: events that began with it and events it ended
// (an event of one moment, a resync, is in both).
struct TLineEventNews {
    std::vector<TLineEvent> Started;
    std::vector<TLineEvent> Ended;
};

// The detector of one host's line. Readings come in time order.
class TLineEventDetector {
public:
    TLineEventDetector();
    ~TLineEventDetector();
    TLineEventDetector(TLineEventDetector&&) noexcept;
    TLineEventDetector& operator=(TLineEventDetector&&) noexcept;

    TLineEventNews Add(const TReading& reading);
    // The events still going on, ending at the last reading seen.
    std::vector<TLineEvent> Ongoing() const;

private:
    struct TState;
    std::unique_ptr<TState> F;
};

// Every event of a period's readings (any hosts, oldest first), taken in one
// at a time as the period is read, so the period is never held all at once:
// each host's readings through its own detector; events still going on at
// the end end at their last reading, marked Ongoing. Sorted by start, then
// host.
class TLineEventCollector {
public:
    void Add(const TReading& reading);
    std::vector<TLineEvent> Events() const;

private:
    std::map<QString, TLineEventDetector> FDetectors;
    std::vector<TLineEvent> FEnded;
};

// Each direction's line rate of a reading, kbit/s, by its band plan.
double UpstreamKbps(const TReading& reading);
double DownstreamKbps(const TReading& reading);

// Events as text: a table for people, CSV or JSON for programs (times in UTC,
// ISO 8601, as the readings print theirs). Other formats print nothing.
QByteArray FormatLineEvents(TOutputFormat format, const std::vector<TLineEvent>& events);

// "4 min 30 s", "2 h 5 min", "3 d 4 h".
QString DurationText(std::int64_t ms);
