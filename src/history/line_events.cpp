#include "history/line_events.h"

#include "line/csv_field.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdint>
#include <cstring>

using namespace LineEventRules;

namespace {

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
    case TLineEventKind::RateDrop:
        return QStringLiteral("rate drop");
    case TLineEventKind::TonesLostBits:
        return QStringLiteral("tones lost bits");
    }
    return {};
}

QString TLineEvent::FiguresText() const
{
    switch (Kind) {
    case TLineEventKind::Outage:
        return QStringLiteral("%1 incomplete cycle%2").arg(Cycles).arg(Cycles == 1 ? "" : "s");
    case TLineEventKind::Resync:
        return QStringLiteral("%1 of %2 loaded tones changed").arg(ChangedTones).arg(LoadedTones);
    case TLineEventKind::RateDrop:
        return QStringLiteral("%1 %2 kbit/s, median %3 kbit/s")
            .arg(Upstream ? QStringLiteral("upstream") : QStringLiteral("downstream"))
            .arg(LowestKbps, 0, 'f', 0)
            .arg(MedianKbps, 0, 'f', 0);
    case TLineEventKind::TonesLostBits:
        return (FirstTone == LastTone ? QStringLiteral("tone %1").arg(FirstTone)
                                      : QStringLiteral("tones %1-%2").arg(FirstTone).arg(LastTone))
            + QStringLiteral(", up to %1 bits lost").arg(MostBitsLost);
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
    // A tone whose bits changed from one complete reading to the next, and
    // its bits before.
    struct TChange {
        std::uint16_t Tone;
        std::uint8_t Before;
    };
    // A run of complete readings with the same bits in the window. Only
    // what changed at its start is kept: the bits themselves are the next
    // run's changes undone, or Current for the newest.
    struct TRun {
        int Left = 0; // its readings still in the window
        std::vector<TChange> Changes;
    };
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

    QString Host;
    bool HasLast = false;
    std::int64_t LastMs = 0;

    // The line the window is of: another tone count or plan starts over.
    std::size_t ToneCount = 0;
    TBandPlan Bands;
    double SpacingKHz = ZyxelToneSpacingKHz;
    std::vector<std::uint8_t> Side; // per tone: 0 neither direction, 1 upstream, 2 downstream

    // The newest complete reading: its bits as given and as counted (at
    // most TopBits), its bits per symbol each way and its loaded tones.
    bool HasPrevious = false;
    std::int64_t PreviousMs = 0;
    std::vector<std::uint8_t> CurrentRaw;
    std::vector<std::uint8_t> Current;
    int CurrentUp = 0;
    int CurrentDown = 0;
    int CurrentLoaded = 0;

    std::deque<TEntry> Entries;
    std::deque<TRun> Runs;
    TRates Rates[2]; // 0 upstream, 1 downstream
    // Per tone: how many stretches of the window held each number of bits,
    // and the most of them.
    std::vector<std::array<int, TopBits + 1>> Histogram;
    std::vector<std::uint8_t> Max;
    std::vector<int> MaxMoved; // tones whose maximum changed since the tones were judged
    bool JudgeAll = true;      // the next judgement looks at every tone

    // Per tone: complete readings in a row it was low, and since when.
    std::vector<int> LowStreak;
    std::vector<std::int64_t> LowSinceMs;
    std::vector<bool> Reported;
    std::vector<int> Pending; // low tones not told of yet, rising
    std::vector<std::uint32_t> Seen; // the judgement a tone was last looked at in
    std::uint32_t Judgement = 0;

    std::optional<TLineEvent> Outage;
    std::optional<TLineEvent> Drop[2];
    std::vector<TLineEvent> Lost;

    void StartOver(TLineEventNews& news, const TReading& reading)
    {
        if (Outage) {
            news.Ended.push_back(*Outage);
            Outage.reset();
        }
        for (auto& drop : Drop)
            if (drop) {
                drop->EndMs = LastMs;
                news.Ended.push_back(*drop);
                drop.reset();
            }
        for (TLineEvent& lost : Lost) {
            lost.EndMs = LastMs;
            news.Ended.push_back(lost);
        }
        Lost.clear();
        ToneCount = reading.Bits.size();
        Bands = reading.Bands;
        SpacingKHz = reading.SpacingKHz;
        Side.assign(ToneCount, 0);
        for (std::size_t tone = 0; tone < ToneCount; ++tone) {
            const TToneDirection direction = Bands.DirectionOf(int(tone));
            Side[tone] = direction == TToneDirection::Upstream ? 1 : direction == TToneDirection::Downstream ? 2 : 0;
        }
        HasPrevious = false;
        Entries.clear();
        Runs.clear();
        for (TRates& rates : Rates) {
            rates.Counts.Reset(int(ToneCount) * TopBits + 1);
            rates.Moves.clear();
            rates.Known = false;
        }
        Histogram.assign(ToneCount, {});
        Max.assign(ToneCount, 0);
        MaxMoved.clear();
        JudgeAll = true;
        LowStreak.assign(ToneCount, 0);
        LowSinceMs.assign(ToneCount, 0);
        Reported.assign(ToneCount, false);
        Pending.clear();
        Seen.assign(ToneCount, 0);
    }

    void Count(std::size_t tone, int bits)
    {
        ++Histogram[tone][std::size_t(bits)];
        if (bits > Max[tone]) {
            Max[tone] = std::uint8_t(bits);
            MaxMoved.push_back(int(tone));
        }
    }

    void Uncount(std::size_t tone, int bits)
    {
        auto& counts = Histogram[tone];
        // Only the last stretch holding a tone's maximum lowers it.
        if (--counts[std::size_t(bits)] == 0 && bits == Max[tone]) {
            int m = bits;
            while (m > 0 && counts[std::size_t(m)] == 0)
                --m;
            Max[tone] = std::uint8_t(m);
            MaxMoved.push_back(int(tone));
        }
    }

    void Evict(std::int64_t nowMs)
    {
        while (!Entries.empty() && Entries.front().TimeMs < nowMs - WindowMs) {
            const TEntry& entry = Entries.front();
            Rates[0].Move(entry.Up, -1);
            Rates[1].Move(entry.Down, -1);
            Entries.pop_front();
            if (--Runs.front().Left > 0)
                continue;
            if (Runs.size() > 1) {
                // The tones that changed after this run end a stretch here;
                // the others' stretches go on into the next run.
                for (const TChange& change : Runs[1].Changes)
                    Uncount(change.Tone, change.Before);
            } else {
                for (std::size_t tone = 0; tone < ToneCount; ++tone)
                    Uncount(tone, Current[tone]);
            }
            Runs.pop_front();
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
                TLineEvent event;
                event.Kind = TLineEventKind::RateDrop;
                event.Host = Host;
                event.StartMs = event.EndMs = reading.TimeMs;
                event.Upstream = side == 0;
                event.MedianKbps = median;
                event.LowestKbps = rate;
                drop = event;
                news.Started.push_back(event);
            } else if (dropped) {
                drop->EndMs = reading.TimeMs;
                drop->LowestKbps = std::min(drop->LowestKbps, rate);
            } else if (drop) {
                drop->EndMs = reading.TimeMs;
                news.Ended.push_back(*drop);
                drop.reset();
            }
        }
    }

    // bits: the reading's bits as counted. Only tones whose bits or maximum
    // changed can have become low or recovered; the others count on.
    void JudgeTones(TLineEventNews& news, const TReading& reading, const std::vector<std::uint8_t>& bits,
                    const std::vector<TChange>& changes)
    {
        ++Judgement;
        bool recovered = false;
        bool touched = false;
        // Tones that join or leave Pending; many at once (a resync) rebuild
        // it in one pass instead.
        thread_local std::vector<int> joined, left;
        joined.clear();
        left.clear();
        const auto look = [&](std::size_t t) {
            if (Seen[t] == Judgement)
                return;
            Seen[t] = Judgement;
            touched = true;
            if (Max[t] - bits[t] >= LostBits) {
                if (LowStreak[t]++ == 0) {
                    LowSinceMs[t] = reading.TimeMs;
                    if (!Reported[t])
                        joined.push_back(int(t));
                }
            } else if (LowStreak[t] > 0) {
                LowStreak[t] = 0;
                if (!Reported[t])
                    left.push_back(int(t));
                Reported[t] = false;
                recovered = true;
            }
        };
        if (JudgeAll) {
            for (std::size_t t = 0; t < ToneCount; ++t)
                look(t);
            JudgeAll = false;
        } else {
            for (const TChange& change : changes)
                look(change.Tone);
            for (int t : MaxMoved)
                look(std::size_t(t));
        }
        MaxMoved.clear();
        for (int t : Pending)
            if (Seen[std::size_t(t)] != Judgement)
                ++LowStreak[std::size_t(t)];
        if (joined.size() + left.size() > 16) {
            Pending.clear();
            for (std::size_t t = 0; t < ToneCount; ++t)
                if (LowStreak[t] > 0 && !Reported[t])
                    Pending.push_back(int(t));
        } else {
            for (int t : left)
                Pending.erase(std::lower_bound(Pending.begin(), Pending.end(), t));
            for (int t : joined)
                Pending.insert(std::lower_bound(Pending.begin(), Pending.end(), t), t);
        }

        // Tones that have just been low long enough, as ranges of neighbours.
        const std::size_t before = Lost.size();
        std::size_t open = SIZE_MAX; // the range being grown, in Lost
        std::size_t kept = 0;
        for (std::size_t i = 0; i < Pending.size(); ++i) {
            const int tone = Pending[i];
            const std::size_t t = std::size_t(tone);
            if (LowStreak[t] < LostReadings) {
                open = SIZE_MAX;
                Pending[kept++] = tone;
                continue;
            }
            Reported[t] = true;
            const int lost = Max[t] - bits[t];
            if (open != SIZE_MAX && Lost[open].LastTone == tone - 1) {
                Lost[open].LastTone = tone;
                Lost[open].StartMs = std::min(Lost[open].StartMs, LowSinceMs[t]);
                Lost[open].MostBitsLost = std::max(Lost[open].MostBitsLost, lost);
            } else {
                TLineEvent event;
                event.Kind = TLineEventKind::TonesLostBits;
                event.Host = Host;
                event.StartMs = LowSinceMs[t];
                event.FirstTone = event.LastTone = tone;
                event.MostBitsLost = lost;
                Lost.push_back(event);
                open = Lost.size() - 1;
            }
            Lost[open].EndMs = reading.TimeMs;
        }
        Pending.resize(kept);
        for (std::size_t i = before; i < Lost.size(); ++i)
            news.Started.push_back(Lost[i]);
        if (!touched || Lost.empty())
            return;
        // Ranges end when none of their tones is low any more; those going
        // on keep the most any of their tones lost.
        std::size_t stay = 0;
        for (std::size_t i = 0; i < Lost.size(); ++i) {
            TLineEvent& range = Lost[i];
            bool anyLow = false;
            for (int tone = range.FirstTone; tone <= range.LastTone; ++tone) {
                const std::size_t t = std::size_t(tone);
                if (LowStreak[t] > 0) {
                    anyLow = true;
                    range.MostBitsLost = std::max(range.MostBitsLost, Max[t] - bits[t]);
                }
            }
            range.EndMs = reading.TimeMs;
            if (!anyLow && recovered)
                news.Ended.push_back(range);
            else if (stay++ != i)
                Lost[stay - 1] = std::move(range);
        }
        Lost.resize(stay);
    }

    void JudgeResync(TLineEventNews& news, const TReading& reading, const std::vector<TChange>& changes,
                     const std::vector<std::uint8_t>& bits)
    {
        // Loaded: tones with bits in either reading.
        int loaded = CurrentLoaded;
        for (const TChange& change : changes)
            loaded += change.Before == 0 && bits[change.Tone] > 0 ? 1 : 0;
        const int changed = int(changes.size());
        if (loaded >= ResyncMinTones && double(changed) > ResyncShare * loaded) {
            TLineEvent event;
            event.Kind = TLineEventKind::Resync;
            event.Host = Host;
            event.StartMs = PreviousMs;
            event.EndMs = reading.TimeMs;
            event.ChangedTones = changed;
            event.LoadedTones = loaded;
            news.Started.push_back(event);
            news.Ended.push_back(event);
        }
    }

    TLineEventNews Add(const TReading& reading)
    {
        TLineEventNews news;
        if (Host.isEmpty())
            Host = reading.Host;
        const bool paused = HasLast && reading.TimeMs - LastMs > LongPauseMs;
        const bool otherLine = reading.Completed
            && (reading.Bits.size() != ToneCount || reading.Bands != Bands || reading.SpacingKHz != SpacingKHz);
        if (!HasLast || paused || otherLine)
            StartOver(news, reading);
        HasLast = true;
        LastMs = reading.TimeMs;

        if (!reading.Completed) {
            if (!Outage) {
                TLineEvent event;
                event.Kind = TLineEventKind::Outage;
                event.Host = Host;
                event.StartMs = event.EndMs = reading.TimeMs;
                event.Cycles = 1;
                Outage = event;
                news.Started.push_back(event);
                return news;
            }
            ++Outage->Cycles;
            Outage->EndMs = reading.TimeMs;
            return news;
        }
        if (Outage) {
            Outage->EndMs = reading.TimeMs;
            news.Ended.push_back(*Outage);
            Outage.reset();
        }

        Evict(reading.TimeMs);
        // A steady line gives the same bits reading after reading: one
        // comparison, and nothing else is looked at tone by tone.
        const bool same = HasPrevious && std::memcmp(CurrentRaw.data(), reading.Bits.data(), ToneCount) == 0;
        thread_local std::vector<TChange> changes;
        thread_local std::vector<std::uint8_t> bits;
        changes.clear();
        if (!same) {
            bits.resize(ToneCount);
            for (std::size_t t = 0; t < ToneCount; ++t)
                bits[t] = std::uint8_t(Clamped(reading.Bits[t]));
            if (HasPrevious) {
                for (std::size_t t = 0; t < ToneCount; ++t)
                    if (bits[t] != Current[t])
                        changes.push_back({std::uint16_t(t), Current[t]});
            }
        }
        const std::vector<std::uint8_t>& now = same ? Current : bits;
        int up = CurrentUp;
        int down = CurrentDown;
        if (!HasPrevious) {
            up = down = 0;
            for (std::size_t t = 0; t < ToneCount; ++t) {
                up += Side[t] == 1 ? now[t] : 0;
                down += Side[t] == 2 ? now[t] : 0;
            }
        } else {
            for (const TChange& change : changes) {
                const int delta = int(now[change.Tone]) - int(change.Before);
                up += Side[change.Tone] == 1 ? delta : 0;
                down += Side[change.Tone] == 2 ? delta : 0;
            }
        }

        if (HasPrevious && !changes.empty())
            JudgeResync(news, reading, changes, now);
        if (int(Entries.size()) >= MinBaselineReadings) {
            JudgeRates(news, reading, up, down);
            JudgeTones(news, reading, now, changes);
        } else {
            MaxMoved.clear();
            JudgeAll = true;
        }

        // Into the window.
        if (Runs.empty() || !same) {
            TRun run;
            if (Runs.empty()) {
                for (std::size_t t = 0; t < ToneCount; ++t)
                    Count(t, now[t]);
            } else {
                run.Changes = changes;
                for (const TChange& change : changes)
                    Count(change.Tone, now[change.Tone]);
            }
            Runs.push_back(std::move(run));
        }
        if (!same) {
            CurrentRaw = reading.Bits;
            Current = bits;
            CurrentLoaded = int(ToneCount) - int(std::count(Current.begin(), Current.end(), std::uint8_t(0)));
        }
        CurrentUp = up;
        CurrentDown = down;
        ++Runs.back().Left;
        Entries.push_back({reading.TimeMs, up, down});
        Rates[0].Move(up, 1);
        Rates[1].Move(down, 1);
        HasPrevious = true;
        PreviousMs = reading.TimeMs;
        return news;
    }

    std::vector<TLineEvent> Ongoing() const
    {
        std::vector<TLineEvent> events;
        if (Outage)
            events.push_back(*Outage);
        for (const auto& drop : Drop)
            if (drop)
                events.push_back(*drop);
        events.insert(events.end(), Lost.begin(), Lost.end());
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

std::vector<TLineEvent> FindLineEvents(const std::vector<TReading>& readings)
{
    TLineEventCollector collector;
    for (const TReading& reading : readings)
        collector.Add(reading);
    return collector.Events();
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
        return s % 60 ? QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60) : QStringLiteral("%1 min").arg(s / 60);
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
