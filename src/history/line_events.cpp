#include "history/line_events.h"

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

int BandBits(const std::vector<std::uint8_t>& bits, const std::vector<TToneBand>& bands)
{
    int sum = 0;
    for (const TToneBand& band : bands)
        for (int tone = std::max(band.First, 0); tone <= band.Last && std::size_t(tone) < bits.size(); ++tone)
            sum += Clamped(bits[std::size_t(tone)]);
    return sum;
}

double Kbps(int bitsPerSymbol)
{
    return double(bitsPerSymbol) * SymbolsPerSecond / 1000.0;
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
    return Kbps(BandBits(reading.Bits, reading.Bands.Upstream));
}

double DownstreamKbps(const TReading& reading)
{
    return Kbps(BandBits(reading.Bits, reading.Bands.Downstream));
}

struct TLineEventDetector::TState {
    // A run of complete readings with the same bits in the window.
    struct TRun {
        std::vector<std::uint8_t> Bits;
        int Left = 0; // its readings still in the window
        int Up = 0;
        int Down = 0;
    };
    struct TEntry {
        std::int64_t TimeMs;
        int Up;
        int Down;
    };

    QString Host;
    bool HasLast = false;
    std::int64_t LastMs = 0;

    // The line the window is of: another tone count or plan starts over.
    std::size_t ToneCount = 0;
    TBandPlan Bands;

    std::deque<TEntry> Entries;
    std::deque<TRun> Runs;
    TValueCounts UpCounts;
    TValueCounts DownCounts;
    std::vector<std::array<int, TopBits + 1>> Histogram; // per tone: runs with each bits
    std::vector<int> Max;
    bool MaxChanged = false; // since the tones were last judged

    bool HasPrevious = false;
    std::int64_t PreviousMs = 0;

    // Per tone: complete readings in a row it was low, and since when.
    std::vector<int> LowStreak;
    std::vector<std::int64_t> LowSinceMs;
    std::vector<bool> Reported;
    std::vector<int> Pending; // low tones not told of yet, rising

    std::optional<TLineEvent> Outage;
    std::optional<TLineEvent> Drop[2]; // 0 upstream, 1 downstream
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
        Entries.clear();
        Runs.clear();
        UpCounts.Reset(int(ToneCount) * TopBits + 1);
        DownCounts.Reset(int(ToneCount) * TopBits + 1);
        Histogram.assign(ToneCount, {});
        Max.assign(ToneCount, 0);
        MaxChanged = true;
        HasPrevious = false;
        LowStreak.assign(ToneCount, 0);
        LowSinceMs.assign(ToneCount, 0);
        Reported.assign(ToneCount, false);
        Pending.clear();
    }

    void AddRun(const std::vector<std::uint8_t>& bits, int up, int down)
    {
        Runs.push_back({bits, 0, up, down});
        for (std::size_t tone = 0; tone < ToneCount; ++tone) {
            const int b = Clamped(bits[tone]);
            ++Histogram[tone][std::size_t(b)];
            if (b > Max[tone]) {
                Max[tone] = b;
                MaxChanged = true;
            }
        }
    }

    void Evict(std::int64_t nowMs)
    {
        while (!Entries.empty() && Entries.front().TimeMs < nowMs - WindowMs) {
            const TEntry& entry = Entries.front();
            UpCounts.Add(entry.Up, -1);
            DownCounts.Add(entry.Down, -1);
            Entries.pop_front();
            TRun& run = Runs.front();
            if (--run.Left == 0) {
                for (std::size_t tone = 0; tone < ToneCount; ++tone) {
                    const int b = Clamped(run.Bits[tone]);
                    auto& counts = Histogram[tone];
                    // Only the last run holding a tone's maximum lowers it.
                    if (--counts[std::size_t(b)] == 0 && b == Max[tone]) {
                        int m = b;
                        while (m > 0 && counts[std::size_t(m)] == 0)
                            --m;
                        Max[tone] = m;
                        MaxChanged = true;
                    }
                }
                Runs.pop_front();
            }
        }
    }

    void JudgeRates(TLineEventNews& news, const TReading& reading, int up, int down)
    {
        for (int side = 0; side < 2; ++side) {
            const TValueCounts& counts = side == 0 ? UpCounts : DownCounts;
            const double rate = Kbps(side == 0 ? up : down);
            const double median = counts.Median() * SymbolsPerSecond / 1000.0;
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

    void JudgeTones(TLineEventNews& news, const TReading& reading, bool changed)
    {
        // With the same bits and the same maxima as before, the same tones
        // are low: only those not yet told of count on.
        const bool fresh = changed || MaxChanged;
        MaxChanged = false;
        if (fresh) {
            Pending.clear();
            for (std::size_t tone = 0; tone < ToneCount; ++tone) {
                if (Max[tone] - Clamped(reading.Bits[tone]) >= LostBits) {
                    if (LowStreak[tone]++ == 0)
                        LowSinceMs[tone] = reading.TimeMs;
                    if (!Reported[tone])
                        Pending.push_back(int(tone));
                } else {
                    LowStreak[tone] = 0;
                    Reported[tone] = false;
                }
            }
        } else {
            for (int tone : Pending)
                ++LowStreak[std::size_t(tone)];
        }
        // Tones that have just been low long enough, as ranges of neighbours.
        const std::size_t before = Lost.size();
        std::size_t open = SIZE_MAX; // the range being grown, in Lost
        for (auto it = Pending.begin(); it != Pending.end();) {
            const int tone = *it;
            const std::size_t t = std::size_t(tone);
            if (LowStreak[t] < LostReadings) {
                open = SIZE_MAX;
                ++it;
                continue;
            }
            Reported[t] = true;
            it = Pending.erase(it);
            const int lost = Max[t] - Clamped(reading.Bits[t]);
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
        for (std::size_t i = before; i < Lost.size(); ++i)
            news.Started.push_back(Lost[i]);
        if (!fresh)
            return;
        // Ranges end when none of their tones is low any more.
        for (auto it = Lost.begin(); it != Lost.end();) {
            bool anyLow = false;
            for (int tone = it->FirstTone; tone <= it->LastTone; ++tone) {
                const std::size_t t = std::size_t(tone);
                if (LowStreak[t] > 0) {
                    anyLow = true;
                    it->MostBitsLost = std::max(it->MostBitsLost, Max[t] - Clamped(reading.Bits[t]));
                }
            }
            it->EndMs = reading.TimeMs;
            if (!anyLow) {
                news.Ended.push_back(*it);
                it = Lost.erase(it);
            } else {
                ++it;
            }
        }
    }

    void JudgeResync(TLineEventNews& news, const TReading& reading, const std::vector<std::uint8_t>& previous)
    {
        int loaded = 0;
        int changed = 0;
        for (std::size_t tone = 0; tone < ToneCount; ++tone) {
            const int a = Clamped(previous[tone]);
            const int b = Clamped(reading.Bits[tone]);
            if (a > 0 || b > 0) {
                ++loaded;
                changed += a != b ? 1 : 0;
            }
        }
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
        const bool otherLine = reading.Completed && (reading.Bits.size() != ToneCount || reading.Bands != Bands);
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
        const bool changed = Runs.empty()
            || std::memcmp(Runs.back().Bits.data(), reading.Bits.data(), ToneCount) != 0;
        const int up = changed ? BandBits(reading.Bits, Bands.Upstream) : Runs.back().Up;
        const int down = changed ? BandBits(reading.Bits, Bands.Downstream) : Runs.back().Down;

        // The previous complete reading is the newest run's bits; the window
        // never loses its newest run, as the previous reading is at most a
        // pause old.
        if (HasPrevious && changed && !Runs.empty())
            JudgeResync(news, reading, Runs.back().Bits);
        if (int(Entries.size()) >= MinBaselineReadings) {
            JudgeRates(news, reading, up, down);
            JudgeTones(news, reading, changed);
        }

        if (changed)
            AddRun(reading.Bits, up, down);
        ++Runs.back().Left;
        Entries.push_back({reading.TimeMs, up, down});
        UpCounts.Add(up, 1);
        DownCounts.Add(down, 1);
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
    std::map<QString, TLineEventDetector> detectors;
    std::vector<TLineEvent> events;
    for (const TReading& reading : readings) {
        TLineEventNews news = detectors[reading.Host].Add(reading);
        events.insert(events.end(), news.Ended.begin(), news.Ended.end());
    }
    for (const auto& [host, detector] : detectors) {
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

QString CsvField(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
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
            out += QStringList{LineEventKindText(e.Kind), CsvField(e.Host), UtcText(e.StartMs), UtcText(e.EndMs),
                       QString::number(e.DurationMs() / 1000), e.Ongoing ? QStringLiteral("1") : QStringLiteral("0"),
                       CsvField(e.FiguresText())}
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
