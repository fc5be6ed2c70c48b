#include "events/line_events.h"

#include "line/counter_counts.h"
#include "line/csv_field.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

using namespace LineEventRules;

namespace {

// A tone whose bits changed from one reading of the line to the next, and its
// bits before.
struct TChange {
    std::uint16_t Tone;
    std::uint8_t Before;
};

constexpr int TopBits = 15; // a tone's bits above this count as this

int Clamped(std::uint8_t bits)
{
    return std::min(int(bits), TopBits);
}


// Counts of values 0..n-1 with the k-th smallest found in log n steps: the
// median of a day of rates without sorting the day at every reading.
class TValueCounts {
public:
    void Reset(int n)
    {
        FTree.assign(std::size_t(n) + 1, 0);
        FTotal = 0;
        FTopBit = 1;
        while (FTopBit * 2 <= n)
            FTopBit *= 2;
    }
    void Add(int value, int delta)
    {
        FTotal += delta;
        for (int i = value + 1; i < int(FTree.size()); i += i & -i)
            FTree[std::size_t(i)] += delta;
    }
    int Total() const { return FTotal; }
    // The k-th smallest value, k from 1.
    int Kth(int k) const
    {
        int pos = 0;
        for (int step = FTopBit; step > 0; step /= 2) {
            const int next = pos + step;
            if (next < int(FTree.size()) && FTree[std::size_t(next)] < k) {
                pos = next;
                k -= FTree[std::size_t(next)];
            }
        }
        return pos; // value = index - 1, index = pos + 1
    }
    double Median() const
    {
        if (FTotal == 0)
            return 0;
        return (double(Kth((FTotal + 1) / 2)) + double(Kth(FTotal / 2 + 1))) / 2.0;
    }

private:
    std::vector<int> FTree;
    int FTotal = 0;
    int FTopBit = 1;
};

} // namespace

QString LineEventKindText(TLineEventKind kind)
{
    switch (kind) {
    case TLineEventKind::Outage:
        return QStringLiteral("outage");
    case TLineEventKind::Resync:
        return QStringLiteral("resync");
    case TLineEventKind::MarginLow:
        return QStringLiteral("margin low");
    case TLineEventKind::RateDrop:
        return QStringLiteral("rate drop");
    case TLineEventKind::ErrorBurst:
        return QStringLiteral("error burst");
    case TLineEventKind::NoReading:
        return QStringLiteral("no reading");
    case TLineEventKind::TonesLostBits:
        return QStringLiteral("tones lost bits");
    }
    return {};
}

bool ReadingSawLine(const TReading& reading)
{
    switch (reading.Outcome) {
    case TReadingOutcome::Unknown:
    case TReadingOutcome::LineUp:
    case TReadingOutcome::LineDown:
        return true;
    case TReadingOutcome::NoAnswer:
    case TReadingOutcome::LoginRefused:
    case TReadingOutcome::NotUnderstood:
        return false;
    }
    return false;
}

bool ReadingLineUp(const TReading& reading)
{
    return reading.Outcome == TReadingOutcome::LineUp
        || (reading.Outcome == TReadingOutcome::Unknown && reading.Completed);
}

namespace {

QString CyclesText(int cycles)
{
    return QStringLiteral("%1 cycle%2").arg(cycles).arg(cycles == 1 ? "" : "s");
}

QString SideText(bool upstream)
{
    return upstream ? QStringLiteral("upstream") : QStringLiteral("downstream");
}

} // namespace

QString TLineEvent::FiguresText() const
{
    switch (Kind) {
    case TLineEventKind::Outage:
        if (State.isEmpty())
            return QStringLiteral("%1 incomplete cycle%2").arg(Cycles).arg(Cycles == 1 ? "" : "s");
        return QStringLiteral("%1 with the line down (%2)").arg(CyclesText(Cycles), State);
    case TLineEventKind::NoReading: {
        const QString why = Reason == TReadingOutcome::LoginRefused
            ? QStringLiteral("the router did not accept the login")
            : Reason == TReadingOutcome::NotUnderstood ? QStringLiteral("the router's reply was not understood")
                                                       : QStringLiteral("the router did not answer");
        return QStringLiteral("%1, %2").arg(why, CyclesText(Cycles));
    }
    case TLineEventKind::Resync:
        if (!OtherLine.isEmpty())
            return QStringLiteral("the line came up as %1").arg(OtherLine);
        if (ByRouter)
            return Retrains ? QStringLiteral("the router counts retrain %1").arg(*Retrains)
                            : QStringLiteral("the router says the link came up again");
        return QStringLiteral("%1 of %2 loaded tones changed").arg(ChangedTones).arg(LoadedTones);
    case TLineEventKind::RateDrop:
        return QStringLiteral("%1 %2 kbit/s, median %3 kbit/s")
            .arg(SideText(Upstream))
            .arg(LowestKbps, 0, 'f', 0)
            .arg(MedianKbps, 0, 'f', 0);
    case TLineEventKind::MarginLow:
        return QStringLiteral("%1 margin down to %2 dB").arg(SideText(Upstream)).arg(MarginDb, 0, 'f', 1);
    case TLineEventKind::ErrorBurst:
        return QStringLiteral("%1 %2 errored seconds, %3 CRC in 15 min at most").arg(SideText(Upstream)).arg(Es).arg(Crc);
    case TLineEventKind::TonesLostBits:
        return (FirstTone == LastTone ? QStringLiteral("tone %1").arg(FirstTone)
                                      : QStringLiteral("tones %1-%2").arg(FirstTone).arg(LastTone))
            + QStringLiteral(", %1 bits lost at most").arg(MostBitsLost);
    }
    return {};
}

double UpstreamKbps(const TReading& reading)
{
    return LineRateKbps(reading.Bands.BitsPerDirection(reading.Bits).Upstream, reading.SpacingKHz);
}

double DownstreamKbps(const TReading& reading)
{
    return LineRateKbps(reading.Bands.BitsPerDirection(reading.Bits).Downstream, reading.SpacingKHz);
}

struct TLineEventDetector::TState {
    struct TEntry {
        std::int64_t TimeMs;
        int Up;
        int Down;
    };
    // A direction's rates over the window, and whether their median may
    // differ from the one last taken: a reading in and a reading of the same
    // rate out (a steady line) leave it as it was.
    struct TRates {
        TValueCounts Counts;
        std::vector<std::pair<int, int>> Moves; // (rate, +1 in or -1 out) since the median
        double Median = 0;
        bool Known = false;

        void Move(int value, int delta)
        {
            Counts.Add(value, delta);
            Moves.emplace_back(value, delta);
        }
        double TakeMedian()
        {
            const bool same = Moves.empty()
                || (Moves.size() == 2 && Moves[0].first == Moves[1].first && Moves[0].second == -Moves[1].second);
            if (!Known || !same)
                Median = Counts.Median();
            Known = true;
            Moves.clear();
            return Median;
        }
    };
    struct TSnapshot {
        std::int64_t TimeMs;
        std::vector<std::uint8_t> Bits;
    };
    struct TErrors {
        std::int64_t TimeMs;
        std::uint64_t Es;
        std::uint64_t Crc;
    };
    // A loss of a band of tones, told once it has lasted LostMinMs.
    struct TLoss {
        TLineEvent Event;
        bool Told = false;
        bool Seen = false;
    };

    QString Host;
    bool HasLast = false;
    std::int64_t LastMs = 0;
    std::uint32_t Serials = 0;

    // The line the window is of: another tone count or plan starts over.
    std::size_t ToneCount = 0;
    TBandPlan Bands;
    double SpacingKHz = ZyxelToneSpacingKHz;
    QString Mode;
    std::vector<std::uint8_t> Side; // per tone: 0 neither direction, 1 upstream, 2 downstream

    // The newest reading of the line up: its bits as given and as counted
    // (at most TopBits), its bits per symbol each way, its loaded tones and
    // its figures.
    bool HasPrevious = false;
    std::int64_t PreviousMs = 0;
    std::vector<std::uint8_t> CurrentRaw;
    std::vector<std::uint8_t> Current;
    int CurrentUp = 0;
    int CurrentDown = 0;
    int CurrentLoaded = 0;
    TLineFigures PreviousFigures;

    std::deque<TEntry> Entries;
    TRates Rates[2]; // 0 upstream, 1 downstream

    // Each tone's baseline: snapshots of the window since the line trained,
    // per tone the count of snapshots at each number of bits, and its lower
    // median. Low: tones LowToneBits or more below it, in order.
    std::deque<TSnapshot> Snapshots;
    std::vector<std::array<std::uint16_t, TopBits + 1>> Histogram;
    std::vector<std::uint8_t> Base;
    std::vector<std::uint8_t> IsLow;
    std::vector<int> Low;
    std::vector<TLoss> Losses;

    std::optional<TLineEvent> Outage;
    std::optional<TLineEvent> Missing;
    std::optional<TLineEvent> Drop[2];
    std::optional<TLineEvent> Margin[2];
    bool MarginTold[2] = {false, false};
    std::optional<TLineEvent> Burst[2];
    std::deque<TErrors> Errors[2];

    TLineEvent NewEvent(TLineEventKind kind, std::int64_t startMs)
    {
        TLineEvent event;
        event.Kind = kind;
        event.Host = Host;
        event.StartMs = event.EndMs = startMs;
        event.Serial = ++Serials;
        return event;
    }

    static void End(TLineEventNews& news, std::optional<TLineEvent>& event, std::int64_t endMs, bool told = true)
    {
        if (!event)
            return;
        event->EndMs = std::max(event->StartMs, endMs);
        if (told)
            news.Ended.push_back(*event);
        event.reset();
    }

    // Ends what the line's readings were following, at endMs.
    void EndLineEvents(TLineEventNews& news, std::int64_t endMs)
    {
        for (int side = 0; side < 2; ++side) {
            End(news, Drop[side], endMs);
            End(news, Margin[side], endMs, MarginTold[side]);
            MarginTold[side] = false;
            End(news, Burst[side], endMs);
            Errors[side].clear();
        }
        EndLosses(news, endMs);
    }

    void EndLosses(TLineEventNews& news, std::int64_t endMs)
    {
        for (TLoss& loss : Losses)
            if (loss.Told) {
                loss.Event.EndMs = endMs;
                news.Ended.push_back(loss.Event);
            }
        Losses.clear();
    }

    void StartOver(TLineEventNews& news, const TReading& reading)
    {
        End(news, Outage, LastMs);
        End(news, Missing, LastMs);
        EndLineEvents(news, LastMs);
        ToneCount = reading.Bits.size();
        Bands = reading.Bands;
        SpacingKHz = reading.SpacingKHz;
        Mode = reading.Mode;
        Side.assign(ToneCount, 0);
        for (std::size_t tone = 0; tone < ToneCount; ++tone) {
            const TToneDirection direction = Bands.DirectionOf(int(tone));
            Side[tone] = direction == TToneDirection::Upstream ? 1 : direction == TToneDirection::Downstream ? 2 : 0;
        }
        HasPrevious = false;
        PreviousFigures = {};
        Entries.clear();
        for (TRates& rates : Rates) {
            rates.Counts.Reset(int(ToneCount) * TopBits + 1);
            rates.Moves.clear();
            rates.Known = false;
        }
        ForgetBaseline();
    }

    // A retrain: every tone's baseline starts afresh.
    void ForgetBaseline()
    {
        Snapshots.clear();
        Histogram.assign(ToneCount, {});
        Base.assign(ToneCount, 0);
        IsLow.assign(ToneCount, 0);
        Low.clear();
    }

    void Evict(std::int64_t nowMs)
    {
        while (!Entries.empty() && Entries.front().TimeMs < nowMs - WindowMs) {
            Rates[0].Move(Entries.front().Up, -1);
            Rates[1].Move(Entries.front().Down, -1);
            Entries.pop_front();
        }
    }

    void JudgeRates(TLineEventNews& news, const TReading& reading, int up, int down)
    {
        for (int side = 0; side < 2; ++side) {
            const double rate = LineRateKbps(side == 0 ? up : down, SpacingKHz);
            const double median = Rates[side].TakeMedian() * SymbolRate(SpacingKHz) / 1000.0;
            const bool dropped = median > 0 && rate < median * (1.0 - RateDropShare);
            std::optional<TLineEvent>& drop = Drop[side];
            if (dropped && !drop) {
                TLineEvent event = NewEvent(TLineEventKind::RateDrop, reading.TimeMs);
                event.Upstream = side == 0;
                event.MedianKbps = median;
                event.LowestKbps = rate;
                drop = event;
                news.Started.push_back(event);
            } else if (dropped) {
                drop->EndMs = reading.TimeMs;
                drop->LowestKbps = std::min(drop->LowestKbps, rate);
            } else {
                End(news, drop, reading.TimeMs);
            }
        }
    }

    void JudgeFigures(TLineEventNews& news, const TReading& reading)
    {
        const TDirectionFigures* figures[2] = {&reading.Figures.Up, &reading.Figures.Down};
        const TDirectionFigures* before[2] = {&PreviousFigures.Up, &PreviousFigures.Down};
        for (int side = 0; side < 2; ++side) {
            // Margin low: from its first low reading, told once it held.
            const std::optional<double>& margin = figures[side]->MarginDb;
            std::optional<TLineEvent>& low = Margin[side];
            if (margin && *margin < MarginLowDb) {
                if (!low) {
                    low = NewEvent(TLineEventKind::MarginLow, reading.TimeMs);
                    low->Upstream = side == 0;
                    low->MarginDb = *margin;
                }
                low->EndMs = reading.TimeMs;
                low->MarginDb = std::min(low->MarginDb, *margin);
                if (!MarginTold[side] && low->DurationMs() >= MarginLowMs) {
                    MarginTold[side] = true;
                    news.Started.push_back(*low);
                }
            } else {
                End(news, low, reading.TimeMs, MarginTold[side]);
                MarginTold[side] = false;
            }

            // Error burst: the counts of the last BurstWindowMs.
            std::deque<TErrors>& errors = Errors[side];
            if (HasPrevious) {
                const auto es = CounterIncrease(before[side]->Es, figures[side]->Es);
                const auto crc = CounterIncrease(before[side]->Crc, figures[side]->Crc);
                if (es || crc)
                    errors.push_back({reading.TimeMs, es.value_or(0), crc.value_or(0)});
            }
            while (!errors.empty() && errors.front().TimeMs <= reading.TimeMs - BurstWindowMs)
                errors.pop_front();
            std::uint64_t es = 0, crc = 0;
            for (const TErrors& e : errors)
                es += e.Es, crc += e.Crc;
            std::optional<TLineEvent>& burst = Burst[side];
            if (es > BurstEs || crc > BurstCrc) {
                if (!burst) {
                    burst = NewEvent(TLineEventKind::ErrorBurst, reading.TimeMs);
                    burst->Upstream = side == 0;
                    news.Started.push_back(*burst);
                }
                burst->EndMs = reading.TimeMs;
                burst->Es = std::max(burst->Es, es);
                burst->Crc = std::max(burst->Crc, crc);
            } else {
                End(news, burst, reading.TimeMs);
            }
        }
    }

    // A tone's baseline: the bits it held or exceeded in BaseShare of its
    // snapshots.
    static std::uint8_t Baseline(const std::array<std::uint16_t, TopBits + 1>& counts, int total)
    {
        int rank = std::max(1, int(std::ceil(total * (1.0 - BaseShare))));
        for (int bits = 0; bits <= TopBits; ++bits) {
            rank -= counts[std::size_t(bits)];
            if (rank <= 0)
                return std::uint8_t(bits);
        }
        return TopBits;
    }

    void SetLow(std::size_t t, const std::vector<std::uint8_t>& bits)
    {
        const std::uint8_t low = int(bits[t]) + LowToneBits <= int(Base[t]) ? 1 : 0;
        if (low == IsLow[t])
            return;
        IsLow[t] = low;
        const auto at = std::lower_bound(Low.begin(), Low.end(), int(t));
        if (low)
            Low.insert(at, int(t));
        else
            Low.erase(at);
    }

    // Takes a snapshot of the tones when one is due; tones whose baseline
    // moved are judged again.
    void Snapshot(const TReading& reading, const std::vector<std::uint8_t>& bits)
    {
        if (!Snapshots.empty() && reading.TimeMs - Snapshots.back().TimeMs < SnapshotMs)
            return;
        std::vector<std::uint8_t> reused;
        bool paired = false;
        bool whole = false; // more than one out, or none: every tone's median again
        while (!Snapshots.empty() && Snapshots.front().TimeMs <= reading.TimeMs - WindowMs) {
            const std::vector<std::uint8_t>& out = Snapshots.front().Bits;
            if (!paired && Snapshots.size() > 1) {
                // One out and one in: only the tones that differ move.
                paired = true;
                const int total = int(Snapshots.size());
                for (std::size_t t = 0; t < ToneCount; ++t) {
                    if (out[t] == bits[t])
                        continue;
                    auto& counts = Histogram[t];
                    --counts[out[t]];
                    ++counts[bits[t]];
                    const std::uint8_t base = Baseline(counts, total);
                    if (base != Base[t]) {
                        Base[t] = base;
                        SetLow(t, bits);
                    }
                }
                reused = std::move(Snapshots.front().Bits);
                Snapshots.pop_front();
                continue;
            }
            whole = true;
            for (std::size_t t = 0; t < ToneCount; ++t)
                --Histogram[t][out[t]];
            Snapshots.pop_front();
        }
        reused.assign(bits.begin(), bits.end());
        Snapshots.push_back({reading.TimeMs, std::move(reused)});
        if (paired && !whole)
            return;
        // The day is not full yet: any tone's median may move.
        const int total = int(Snapshots.size());
        for (std::size_t t = 0; t < ToneCount; ++t) {
            if (!paired)
                ++Histogram[t][bits[t]];
            Base[t] = Baseline(Histogram[t], total);
            SetLow(t, bits);
        }
    }

    // Bands of low tones that lost enough together; each continues the loss
    // it overlaps, or begins one.
    void JudgeTones(TLineEventNews& news, const TReading& reading, const std::vector<std::uint8_t>& bits)
    {
        for (TLoss& loss : Losses)
            loss.Seen = false;
        const auto lostAt = [&](std::size_t k) { return int(Base[std::size_t(Low[k])]) - int(bits[std::size_t(Low[k])]); };
        for (std::size_t i = 0; i < Low.size();) {
            std::size_t from = i, to = i + 1; // a run of Low, gaps of at most BandGapTones
            while (to < Low.size() && Low[to] - Low[to - 1] <= BandGapTones + 1)
                ++to;
            i = to;
            // Bit swaps leave a tone within a bit of its value, so at most
            // LowToneBits below its baseline, and now and then next to a
            // real loss: at the band's ends such a tone belongs only when
            // it touches the band.
            while (to - from > 1 && lostAt(from) <= LowToneBits && Low[from + 1] - Low[from] > 1)
                ++from;
            while (to - from > 1 && lostAt(to - 1) <= LowToneBits && Low[to - 1] - Low[to - 2] > 1)
                --to;
            const int first = Low[from], last = Low[to - 1], tones = int(to - from);
            int lost = 0;
            for (std::size_t k = from; k < to; ++k)
                lost += lostAt(k);
            if (tones < BandMinTones || lost < BandMinBits)
                continue;
            TLoss* into = nullptr;
            for (TLoss& loss : Losses) {
                if (loss.Event.LastTone < first || loss.Event.FirstTone > last)
                    continue;
                if (!into) {
                    into = &loss;
                    continue;
                }
                // The band joins two losses: the later one goes into the earlier.
                into->Event.StartMs = std::min(into->Event.StartMs, loss.Event.StartMs);
                into->Event.FirstTone = std::min(into->Event.FirstTone, loss.Event.FirstTone);
                into->Event.LastTone = std::max(into->Event.LastTone, loss.Event.LastTone);
                into->Told = into->Told || loss.Told;
                loss.Event.FirstTone = INT_MAX; // gone
            }
            if (!into) {
                TLoss loss;
                loss.Event = NewEvent(TLineEventKind::TonesLostBits, reading.TimeMs);
                loss.Event.FirstTone = first;
                loss.Event.LastTone = last;
                Losses.push_back(loss);
                into = &Losses.back();
            }
            TLineEvent& event = into->Event;
            into->Seen = true;
            event.FirstTone = std::min(event.FirstTone, first);
            event.LastTone = std::max(event.LastTone, last);
            event.MostBitsLost = std::max(event.MostBitsLost, lost);
            event.EndMs = reading.TimeMs;
        }
        std::size_t kept = 0;
        for (TLoss& loss : Losses) {
            if (loss.Event.FirstTone == INT_MAX)
                continue;
            if (!loss.Seen) {
                if (loss.Told) {
                    loss.Event.EndMs = reading.TimeMs;
                    news.Ended.push_back(loss.Event);
                }
                continue;
            }
            if (!loss.Told && loss.Event.DurationMs() >= LostMinMs) {
                loss.Told = true;
                news.Started.push_back(loss.Event);
            }
            Losses[kept++] = loss;
        }
        Losses.resize(kept);
    }

    // Whether the line retrained since the last reading of it up: the
    // router's word where it prints a retrain count or the time since the
    // link came up, else a guess from the tones that changed.
    void JudgeResync(TLineEventNews& news, const TReading& reading, const std::vector<TChange>& changes,
                     const std::vector<std::uint8_t>& bits)
    {
        const std::optional<bool> said = RetrainedBetween(PreviousFigures, reading.Figures);
        // Loaded: tones with bits in either reading.
        int loaded = CurrentLoaded;
        for (const TChange& change : changes)
            loaded += change.Before == 0 && bits[change.Tone] > 0 ? 1 : 0;
        const int changed = int(changes.size());
        const bool guessed = loaded >= ResyncMinTones && double(changed) > ResyncShare * loaded;
        if (!(said ? *said : guessed))
            return;
        TLineEvent event = NewEvent(TLineEventKind::Resync, PreviousMs);
        event.EndMs = reading.TimeMs;
        event.ChangedTones = changed;
        event.LoadedTones = loaded;
        event.ByRouter = said.has_value();
        event.Retrains = reading.Figures.Retrains;
        news.Started.push_back(event);
        news.Ended.push_back(event);
        ForgetBaseline();
        EndLosses(news, reading.TimeMs);
    }

    void NotLine(TLineEventNews& news, const TReading& reading, std::int64_t lastMs)
    {
        if (Missing && Missing->Reason != reading.Outcome)
            End(news, Missing, lastMs);
        if (!Missing) {
            Missing = NewEvent(TLineEventKind::NoReading, reading.TimeMs);
            Missing->Reason = reading.Outcome;
            news.Started.push_back(*Missing);
        }
        ++Missing->Cycles;
        Missing->EndMs = reading.TimeMs;
    }

    void LineDown(TLineEventNews& news, const TReading& reading)
    {
        if (!Outage) {
            Outage = NewEvent(TLineEventKind::Outage, reading.TimeMs);
            news.Started.push_back(*Outage);
        }
        ++Outage->Cycles;
        Outage->EndMs = reading.TimeMs;
        if (reading.Outcome == TReadingOutcome::LineDown && Outage->State.isEmpty())
            Outage->State = reading.Figures.State.isEmpty() ? QStringLiteral("not in showtime") : reading.Figures.State;
    }

    TLineEventNews Add(const TReading& reading)
    {
        TLineEventNews news;
        if (Host.isEmpty())
            Host = reading.Host;
        const bool up = ReadingLineUp(reading);
        const bool paused = HasLast && reading.TimeMs - LastMs > LongPauseMs;
        const bool otherLine = up && HasLast
            && (reading.Bits.size() != ToneCount || reading.Bands != Bands || reading.SpacingKHz != SpacingKHz);
        const bool wasLine = HasPrevious && !paused;
        if (!HasLast || paused || otherLine)
            StartOver(news, reading);
        if (otherLine && wasLine) {
            // Another kind of line can only have come up by training anew.
            TLineEvent event = NewEvent(TLineEventKind::Resync, LastMs);
            event.EndMs = reading.TimeMs;
            event.OtherLine = QStringLiteral("%1%2 tones").arg(reading.Mode.isEmpty() ? QString() : reading.Mode + QStringLiteral(", ")).arg(reading.Bits.size());
            news.Started.push_back(event);
            news.Ended.push_back(event);
        }
        // An outage ends with the first reading that is not of the line
        // down, and a time without readings with the first that saw the
        // line; after a gap, each at its own last reading.
        const std::int64_t endMs = reading.TimeMs - LastMs > OutageGapMs ? LastMs : reading.TimeMs;
        if (Outage && (up || !ReadingSawLine(reading)))
            End(news, Outage, endMs);
        if (Missing && ReadingSawLine(reading))
            End(news, Missing, endMs);
        const std::int64_t lastMs = LastMs;
        HasLast = true;
        LastMs = reading.TimeMs;
        if (!ReadingSawLine(reading)) {
            NotLine(news, reading, lastMs);
            return news;
        }
        if (!up) {
            if (Outage && reading.TimeMs - lastMs > OutageGapMs) {
                End(news, Outage, lastMs);
            }
            LineDown(news, reading);
            return news;
        }

        Evict(reading.TimeMs);
        // A steady line gives the same bits reading after reading: one
        // comparison, and nothing else is looked at tone by tone.
        const bool same = HasPrevious && std::memcmp(CurrentRaw.data(), reading.Bits.data(), ToneCount) == 0;
        thread_local std::vector<TChange> changes;
        thread_local std::vector<std::uint8_t> bits;
        changes.clear();
        if (!same && !HasPrevious) {
            bits.resize(ToneCount);
            for (std::size_t t = 0; t < ToneCount; ++t)
                bits[t] = std::uint8_t(Clamped(reading.Bits[t]));
        } else if (!same) {
            // A few tones change from one reading to the next: eight at a
            // time are passed over where none did.
            bits = Current;
            const std::uint8_t* before = CurrentRaw.data();
            const std::uint8_t* after = reading.Bits.data();
            for (std::size_t from = 0; from < ToneCount; from += 8) {
                const std::size_t to = std::min(from + 8, ToneCount);
                std::uint64_t x = 0, y = 0;
                if (to - from == 8) {
                    std::memcpy(&x, before + from, 8);
                    std::memcpy(&y, after + from, 8);
                    if (x == y)
                        continue;
                }
                for (std::size_t t = from; t < to; ++t) {
                    if (before[t] == after[t])
                        continue;
                    bits[t] = std::uint8_t(Clamped(after[t]));
                    if (bits[t] != Current[t])
                        changes.push_back({std::uint16_t(t), Current[t]});
                }
            }
        }
        const std::vector<std::uint8_t>& now = same ? Current : bits;
        int upBits = CurrentUp;
        int downBits = CurrentDown;
        if (!HasPrevious) {
            upBits = downBits = 0;
            for (std::size_t t = 0; t < ToneCount; ++t) {
                upBits += Side[t] == 1 ? now[t] : 0;
                downBits += Side[t] == 2 ? now[t] : 0;
            }
        } else {
            for (const TChange& change : changes) {
                const int delta = int(now[change.Tone]) - int(change.Before);
                upBits += Side[change.Tone] == 1 ? delta : 0;
                downBits += Side[change.Tone] == 2 ? delta : 0;
            }
        }

        const bool hadSnapshots = !Snapshots.empty();
        if (HasPrevious)
            JudgeResync(news, reading, changes, now);
        if (int(Entries.size()) >= MinBaselineReadings)
            JudgeRates(news, reading, upBits, downBits);
        JudgeFigures(news, reading);
        // The tones that moved are low or not against the baseline as it is.
        if (hadSnapshots && !Snapshots.empty())
            for (const TChange& change : changes)
                SetLow(change.Tone, now);
        Snapshot(reading, now);
        if (int(Snapshots.size()) >= MinSnapshots)
            JudgeTones(news, reading, now);

        if (!same) {
            CurrentRaw = reading.Bits;
            Current = bits;
            // Only the tones that changed can have become loaded or empty.
            if (!HasPrevious)
                CurrentLoaded = int(ToneCount) - int(std::count(Current.begin(), Current.end(), std::uint8_t(0)));
            for (const TChange& change : changes)
                CurrentLoaded += int(Current[change.Tone] != 0) - int(change.Before != 0);
        }
        CurrentUp = upBits;
        CurrentDown = downBits;
        PreviousFigures = reading.Figures;
        Entries.push_back({reading.TimeMs, upBits, downBits});
        Rates[0].Move(upBits, 1);
        Rates[1].Move(downBits, 1);
        HasPrevious = true;
        PreviousMs = reading.TimeMs;
        return news;
    }

    std::vector<TLineEvent> Ongoing() const
    {
        std::vector<TLineEvent> events;
        for (const auto* event : {&Outage, &Missing, &Drop[0], &Drop[1], &Burst[0], &Burst[1]})
            if (*event)
                events.push_back(**event);
        for (int side = 0; side < 2; ++side)
            if (Margin[side] && MarginTold[side])
                events.push_back(*Margin[side]);
        for (const TLoss& loss : Losses)
            if (loss.Told)
                events.push_back(loss.Event);
        for (TLineEvent& event : events) {
            event.Ongoing = true;
            event.EndMs = LastMs;
        }
        return events;
    }
};

TLineEventDetector::TLineEventDetector()
    : F(std::make_unique<TState>())
{
}
TLineEventDetector::~TLineEventDetector() = default;
TLineEventDetector::TLineEventDetector(TLineEventDetector&&) noexcept = default;
TLineEventDetector& TLineEventDetector::operator=(TLineEventDetector&&) noexcept = default;

TLineEventNews TLineEventDetector::Add(const TReading& reading)
{
    return F->Add(reading);
}

std::vector<TLineEvent> TLineEventDetector::Ongoing() const
{
    return F->Ongoing();
}

void TLineEventCollector::Add(const TReading& reading)
{
    TLineEventNews news = FDetectors[reading.Host].Add(reading);
    FEnded.insert(FEnded.end(), news.Ended.begin(), news.Ended.end());
}

std::vector<TLineEvent> TLineEventCollector::Events() const
{
    std::vector<TLineEvent> events = FEnded;
    for (const auto& [host, detector] : FDetectors) {
        const std::vector<TLineEvent> ongoing = detector.Ongoing();
        events.insert(events.end(), ongoing.begin(), ongoing.end());
    }
    std::stable_sort(events.begin(), events.end(), [](const TLineEvent& a, const TLineEvent& b) {
        return a.StartMs != b.StartMs ? a.StartMs < b.StartMs : a.Host < b.Host;
    });
    return events;
}

QString DurationText(std::int64_t ms)
{
    const std::int64_t s = std::max<std::int64_t>(ms, 0) / 1000;
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return QStringLiteral("%1 min").arg(s / 60);
    if (s < 86400)
        return s % 3600 / 60 ? QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s % 3600 / 60)
                             : QStringLiteral("%1 h").arg(s / 3600);
    return s % 86400 / 3600 ? QStringLiteral("%1 d %2 h").arg(s / 86400).arg(s % 86400 / 3600)
                            : QStringLiteral("%1 d").arg(s / 86400);
}

namespace {

QString UtcText(std::int64_t ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODate);
}

} // namespace

QByteArray FormatLineEvents(TOutputFormat format, const std::vector<TLineEvent>& events)
{
    QString out;
    switch (format) {
    case TOutputFormat::Table: {
        out += QStringLiteral("%1 %2 %3 %4 %5 %6\n")
                   .arg(QStringLiteral("kind"), -15)
                   .arg(QStringLiteral("host"), -15)
                   .arg(QStringLiteral("start"), -20)
                   .arg(QStringLiteral("end"), -20)
                   .arg(QStringLiteral("duration"), -12)
                   .arg(QStringLiteral("figures"));
        for (const TLineEvent& e : events)
            out += QStringLiteral("%1 %2 %3 %4 %5 %6\n")
                       .arg(LineEventKindText(e.Kind), -15)
                       .arg(e.Host, -15)
                       .arg(UtcText(e.StartMs), -20)
                       .arg(UtcText(e.EndMs) + (e.Ongoing ? QStringLiteral("+") : QString()), -20)
                       .arg(DurationText(e.DurationMs()), -12)
                       .arg(e.FiguresText());
        break;
    }
    case TOutputFormat::Csv:
        out += QStringLiteral("kind,host,start,end,duration_s,ongoing,figures\n");
        for (const TLineEvent& e : events)
            out += QStringList{LineEventKindText(e.Kind), QString::fromUtf8(CsvField(e.Host)), UtcText(e.StartMs), UtcText(e.EndMs),
                       QString::number(e.DurationMs() / 1000), e.Ongoing ? QStringLiteral("1") : QStringLiteral("0"),
                       QString::fromUtf8(CsvField(e.FiguresText()))}
                       .join(QLatin1Char(','))
                + QLatin1Char('\n');
        break;
    case TOutputFormat::Json: {
        QJsonArray array;
        for (const TLineEvent& e : events) {
            QJsonObject o{{QStringLiteral("kind"), LineEventKindText(e.Kind)}, {QStringLiteral("host"), e.Host},
                {QStringLiteral("start"), UtcText(e.StartMs)}, {QStringLiteral("end"), UtcText(e.EndMs)},
                {QStringLiteral("start_ms"), qint64(e.StartMs)}, {QStringLiteral("end_ms"), qint64(e.EndMs)},
                {QStringLiteral("ongoing"), e.Ongoing}, {QStringLiteral("figures"), e.FiguresText()}};
            switch (e.Kind) {
            case TLineEventKind::Outage:
                o[QStringLiteral("cycles")] = e.Cycles;
                break;
            case TLineEventKind::Resync:
                o[QStringLiteral("changed_tones")] = e.ChangedTones;
                o[QStringLiteral("loaded_tones")] = e.LoadedTones;
                break;
            case TLineEventKind::RateDrop:
                o[QStringLiteral("direction")] = e.Upstream ? QStringLiteral("upstream") : QStringLiteral("downstream");
                o[QStringLiteral("median_kbps")] = e.MedianKbps;
                o[QStringLiteral("lowest_kbps")] = e.LowestKbps;
                break;
            case TLineEventKind::NoReading:
                o[QStringLiteral("cycles")] = e.Cycles;
                break;
            case TLineEventKind::MarginLow:
                o[QStringLiteral("direction")] = e.Upstream ? QStringLiteral("upstream") : QStringLiteral("downstream");
                o[QStringLiteral("margin_db")] = e.MarginDb;
                break;
            case TLineEventKind::ErrorBurst:
                o[QStringLiteral("direction")] = e.Upstream ? QStringLiteral("upstream") : QStringLiteral("downstream");
                o[QStringLiteral("errored_seconds")] = qint64(e.Es);
                o[QStringLiteral("crc")] = qint64(e.Crc);
                break;
            case TLineEventKind::TonesLostBits:
                o[QStringLiteral("first_tone")] = e.FirstTone;
                o[QStringLiteral("last_tone")] = e.LastTone;
                o[QStringLiteral("most_bits_lost")] = e.MostBitsLost;
                break;
            }
            array.append(o);
        }
        return QJsonDocument(array).toJson(QJsonDocument::Indented);
    }
    default:
        break;
    }
    return out.toUtf8();
}
