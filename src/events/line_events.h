// What happened on the line, found from its readings: outages, resyncs, drops
// of the line rate and margin, error bursts, cycles that read nothing and
// bands of tones that lost bits. No widgets: the monitor feeds its
// readings one at a time as they arrive (to notify), the reader and the
// History window run the same detector over a stored period.
//
// The detector keeps only what the rules need: a count of each direction's
// rates over the last 24 hours for the median, a snapshot of the tones every
// 15 minutes of that day for each tone's baseline, and the last 15 minutes of
// error counts. Memory stays bounded by one day, never by the period.
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
// The window the median rate is taken over, and each tone's baseline.
constexpr std::int64_t WindowMs = 24LL * 60 * 60 * 1000;
// A direction's rate this share or more below its median is a rate drop.
constexpr double RateDropShare = 0.10;
// No judgement of the rate until the window holds this many complete
// readings.
constexpr int MinBaselineReadings = 10;
// Between two complete readings, more than this share of the loaded tones
// (tones with bits in either) changed: a resync, for routers that print
// neither a retrain count nor the time since the link came up.
constexpr double ResyncShare = 0.5;
// Fewer loaded tones than this: too few to tell a resync.
constexpr int ResyncMinTones = 8;
// No reading for longer than this: sampling paused (the monitor was not
// running). Nothing is known of the time between, so no outage is invented
// from it, and the windows start over: what changed meanwhile has no time.
constexpr std::int64_t LongPauseMs = 30LL * 60 * 1000;
// A reading of the line more than this after the outage's last one: the
// outage ends at its last reading, so time spent on other hosts or paused
// is not counted as the line's.
constexpr std::int64_t OutageGapMs = 10LL * 60 * 1000;

// Tones. A tone's baseline is the bits it held or exceeded in BaseShare of
// snapshots taken every SnapshotMs over the window, started afresh at every
// retrain: bit swaps move a tone one bit either way and leave it where it
// was, and a notch of a few hours a day does not pull it down.
constexpr std::int64_t SnapshotMs = 15LL * 60 * 1000;
constexpr double BaseShare = 0.7;
// No tone is judged until its baseline holds this many snapshots (an hour
// of the line since it trained).
constexpr int MinSnapshots = 4;
// A tone this many bits or more below its baseline is low.
constexpr int LowToneBits = 2;
// Low tones at most this many tones apart are one band.
constexpr int BandGapTones = 2;
// A band is a loss when at least this many of its tones are low and they
// lost this many bits together.
constexpr int BandMinTones = 4;
constexpr int BandMinBits = 16;
// A loss that lasts this long is an event; it starts at its first reading.
constexpr std::int64_t LostMinMs = 10LL * 60 * 1000;

// Figures, where the router prints them. A margin below MarginLowDb for
// MarginLowMs or more: margin low.
constexpr double MarginLowDb = 3.0;
constexpr std::int64_t MarginLowMs = 5LL * 60 * 1000;
// Errored seconds or CRC errors over the last BurstWindowMs above these:
// an error burst.
constexpr std::int64_t BurstWindowMs = 15LL * 60 * 1000;
constexpr std::uint64_t BurstEs = 20;
constexpr std::uint64_t BurstCrc = 200;

// A notice of an event only once it has lasted this long (events of a
// moment, resyncs, at once); at most one a kind and host in QuietMs.
constexpr std::int64_t NoticeHoldMs = 3LL * 60 * 1000;
constexpr std::int64_t NoticeQuietMs = 10LL * 60 * 1000;
} // namespace LineEventRules

// Most important first: the report lists them in this order.
enum class TLineEventKind { Outage, Resync, MarginLow, RateDrop, ErrorBurst, NoReading, TonesLostBits };
constexpr int LineEventKindCount = 7;

// "outage", "resync", "margin low", "rate drop", "error burst", "no reading",
// "tones lost bits".
QString LineEventKindText(TLineEventKind kind);

// Whether a reading saw the line, and whether the line was up: an outage is
// the line down only. Readings of files older than outcomes were kept keep
// their old rule: an incomplete cycle was the line down.
bool ReadingSawLine(const TReading& reading);
bool ReadingLineUp(const TReading& reading);

struct TLineEvent {
    TLineEventKind Kind = TLineEventKind::Outage;
    QString Host;
    std::int64_t StartMs = 0;
    std::int64_t EndMs = 0;
    bool Ongoing = false; // still going on at the last reading seen
    std::uint32_t Serial = 0; // which of its detector's events, for telling it again when it ends

    // Outage: cycles in a row with the line down (or, in old files,
    // incomplete), and the state the router named. No reading: cycles in a
    // row, and why.
    int Cycles = 0;
    QString State;
    TReadingOutcome Reason = TReadingOutcome::Unknown;
    // Resync: tones that changed of the tones loaded; or the router said so
    // (its retrain count, where it prints one); or the line came up as
    // another kind (Mode and tone count).
    int ChangedTones = 0;
    int LoadedTones = 0;
    bool ByRouter = false;
    std::optional<std::uint64_t> Retrains;
    QString OtherLine;
    // Rate drop, margin low, error burst: the direction (true: upstream).
    bool Upstream = false;
    // Rate drop: its median before and its lowest rate during, kbit/s.
    double MedianKbps = 0;
    double LowestKbps = 0;
    // Margin low: the lowest margin, dB.
    double MarginDb = 0;
    // Error burst: the most errored seconds and CRC errors in a window.
    std::uint64_t Es = 0;
    std::uint64_t Crc = 0;
    // Tones lost bits: the band of neighbouring tones, both ends included,
    // and the most bits they lost together in one reading.
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

// One way of writing a duration everywhere: "40 s", "34 min", "2 h 23 min",
// "1 d 9 h".
QString DurationText(std::int64_t ms);
