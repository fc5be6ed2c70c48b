#include "history/store/block_summary.h"

#include "history/store/reading_blocks.h"

#include <QDataStream>
#include <QIODevice>

#include <algorithm>

namespace {

// 1 kept every tone's least and most bits and change count; 2 keeps only
// the tones where one of them says something: a block of a long line has a
// few hundred such tones of thousands, and a year's summaries are read at once.
constexpr quint8 DenseTonesFormat = 1;
constexpr quint8 SummaryFormat = 2;
// Per tone kept: its number, how far its least and most bits lie below and
// above the latest reading's, and how often it changed.
constexpr int ToneEntryBytes = 6;

} // namespace

TRatePoint RatePointOf(const TReading& reading)
{
    TRatePoint point;
    point.TimeMs = reading.TimeMs;
    point.Completed = reading.Completed;
    point.Failed = reading.Completed ? 0 : 1;
    if (!reading.Completed)
        return point;
    const TDirectionBits bits = reading.Bands.BitsPerDirection(reading.Bits);
    point.UpBits = bits.Upstream;
    point.DownBits = bits.Downstream;
    point.SpacingKHz = reading.SpacingKHz;
    return point;
}

void TBlockSummary::Add(const TReading& reading)
{
    FirstMs = Count == 0 ? reading.TimeMs : std::min(FirstMs, reading.TimeMs);
    LastMs = Count == 0 ? reading.TimeMs : std::max(LastMs, reading.TimeMs);
    ++Count;
    if (!reading.Completed) {
        FailedMs.push_back(reading.TimeMs);
        return;
    }
    // A wider line than before: its new tones had no bits in the readings
    // before it.
    const std::size_t tones = std::max(Min.size(), reading.Bits.size());
    Min.resize(tones, 0);
    Max.resize(tones, 0);
    Changes.resize(tones, 0);
    for (std::size_t tone = 0; tone < tones; ++tone) {
        const auto bits = std::uint8_t(ToneBitsAt(reading, int(tone)));
        Min[tone] = CompleteCount == 0 ? bits : std::min(Min[tone], bits);
        Max[tone] = std::max(Max[tone], bits);
        if (CompleteCount > 0 && bits != ToneBitsAt(LatestComplete, int(tone)) && Changes[tone] < 0xffff)
            ++Changes[tone];
    }
    const TRatePoint point = RatePointOf(reading);
    if (CompleteCount == 0) {
        FirstComplete = reading;
        Extremes.fill(point);
    }
    auto& [upLow, upHigh, downLow, downHigh] = Extremes;
    if (point.UpBits < upLow.UpBits)
        upLow = point;
    if (point.UpBits > upHigh.UpBits)
        upHigh = point;
    if (point.DownBits < downLow.DownBits)
        downLow = point;
    if (point.DownBits > downHigh.DownBits)
        downHigh = point;
    LatestComplete = reading;
    ++CompleteCount;
}

TBlockSummary SummaryOf(const std::vector<TReading>& readings)
{
    TBlockSummary summary;
    for (const TReading& reading : readings)
        summary.Add(reading);
    return summary;
}

// Least and most bits are kept as their distance from the latest reading's,
// and change counts are mostly zero: both all but vanish in the compression.
QByteArray EncodeSummary(const TBlockSummary& s)
{
    QByteArray raw;
    QDataStream out(&raw, QIODevice::WriteOnly);
    out << SummaryFormat << qint64(s.FirstMs) << qint64(s.LastMs) << qint32(s.Count) << qint32(s.CompleteCount);
    out << quint32(s.FailedMs.size());
    for (const std::int64_t t : s.FailedMs)
        out << qint64(t);
    if (s.CompleteCount > 0) {
        out << EncodeBlock({s.FirstComplete, s.LatestComplete}) << quint32(s.Min.size());
        QByteArray entries;
        for (std::size_t tone = 0; tone < s.Min.size(); ++tone) {
            const auto below = quint8(ToneBitsAt(s.LatestComplete, int(tone)) - s.Min[tone]);
            const auto above = quint8(s.Max[tone] - ToneBitsAt(s.LatestComplete, int(tone)));
            const quint16 changes = tone < s.Changes.size() ? s.Changes[tone] : 0;
            if (below == 0 && above == 0 && changes == 0)
                continue;
            const char entry[ToneEntryBytes] = {char(tone >> 8), char(tone), char(below), char(above), char(changes >> 8),
                char(changes)};
            entries.append(entry, ToneEntryBytes);
        }
        out << quint32(entries.size() / ToneEntryBytes);
        out.writeRawData(entries.constData(), int(entries.size()));
        for (const TRatePoint& p : s.Extremes)
            out << qint64(p.TimeMs) << qint32(p.UpBits) << qint32(p.DownBits);
    }
    return Deflate(raw);
}

bool DecodeSummary(const QByteArray& data, const QString& host, TBlockSummary& s)
{
    s = {};
    QByteArray raw;
    if (!Inflate(data, raw))
        return false;
    QDataStream in(raw);
    quint8 format = 0;
    qint64 first = 0, last = 0;
    qint32 count = 0, complete = 0;
    quint32 failed = 0;
    in >> format >> first >> last >> count >> complete >> failed;
    if (in.status() != QDataStream::Ok || (format != SummaryFormat && format != DenseTonesFormat) || count <= 0
        || complete < 0 || complete > count || failed != quint32(count - complete))
        return false;
    s.FirstMs = first;
    s.LastMs = last;
    s.Count = count;
    s.CompleteCount = complete;
    for (quint32 i = 0; i < failed && in.status() == QDataStream::Ok; ++i) {
        qint64 t = 0;
        in >> t;
        s.FailedMs.push_back(t);
    }
    if (complete > 0) {
        QByteArray ends;
        quint32 tones = 0;
        in >> ends >> tones;
        std::vector<TReading> pair;
        if (in.status() != QDataStream::Ok || tones > quint32(MaxToneCount) || !DecodeBlock(ends, host, pair)
            || pair.size() != 2)
            return false;
        s.FirstComplete = std::move(pair[0]);
        s.LatestComplete = std::move(pair[1]);
        s.Min.resize(tones);
        s.Max.resize(tones);
        s.Changes.resize(tones);
        const std::size_t known = std::min<std::size_t>(tones, s.LatestComplete.Bits.size());
        std::copy_n(s.LatestComplete.Bits.begin(), known, s.Min.begin());
        std::copy_n(s.LatestComplete.Bits.begin(), known, s.Max.begin());
        // The tones' bytes in one run rather than a stream call each: a
        // year's summaries hold millions of them.
        quint32 kept = tones;
        if (format == SummaryFormat)
            in >> kept;
        const int width = format == SummaryFormat ? ToneEntryBytes : 4;
        if (in.status() != QDataStream::Ok || kept > tones)
            return false;
        std::vector<std::uint8_t> bytes(std::size_t(kept) * std::size_t(width));
        if (in.readRawData(reinterpret_cast<char*>(bytes.data()), int(bytes.size())) != int(bytes.size()))
            return false;
        const auto put = [&](std::size_t tone, std::uint8_t below, std::uint8_t above, std::uint16_t changes) {
            const int latest = tone < known ? s.LatestComplete.Bits[tone] : 0;
            s.Min[tone] = std::uint8_t(latest - below);
            s.Max[tone] = std::uint8_t(latest + above);
            s.Changes[tone] = changes;
        };
        const std::uint8_t* b = bytes.data();
        if (format == SummaryFormat) {
            for (std::size_t k = 0; k < kept; ++k, b += ToneEntryBytes) {
                const std::size_t tone = std::size_t(b[0] << 8 | b[1]);
                if (tone >= tones)
                    return false;
                put(tone, b[2], b[3], std::uint16_t(b[4] << 8 | b[5]));
            }
        } else {
            // Every tone's least and most, then every tone's changes.
            const std::uint8_t* changes = b + std::size_t(tones) * 2;
            for (std::size_t tone = 0; tone < tones; ++tone)
                put(tone, b[2 * tone], b[2 * tone + 1], std::uint16_t(changes[2 * tone] << 8 | changes[2 * tone + 1]));
        }
        for (TRatePoint& p : s.Extremes) {
            qint64 t = 0;
            qint32 up = 0, down = 0;
            in >> t >> up >> down;
            p = TRatePoint{t, true, up, down};
            p.SpacingKHz = s.LatestComplete.SpacingKHz;
        }
    }
    return in.status() == QDataStream::Ok && in.atEnd();
}
