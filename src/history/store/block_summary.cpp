#include "history/store/block_summary.h"

#include "history/store/block_bytes.h"
#include "history/store/reading_blocks.h"

#include <QDataStream>
#include <QIODevice>

#include <algorithm>

namespace {

// 1 kept every tone's least and most bits and change count; 2 only the
// tones where one of them says something (a block of a long line has a few
// hundred such tones of thousands, and a year's summaries are read at once),
// six bytes a tone; 3 keeps those a column at a time in as few bytes as they
// need, and its first and latest readings inside its own compression. 1 and
// 2 are still read.
constexpr quint8 DenseTonesFormat = 1;
constexpr quint8 SparseTonesFormat = 2;
constexpr std::uint8_t SummaryFormat = 3;
// Per tone kept by format 2: its number, how far its least and most bits lie
// below and above the latest reading's, and how often it changed.
constexpr int ToneEntryBytes = 6;
// More readings than a block ever holds is damage, not a summary, as is a
// reading larger than a summary's whole bytes may be.
constexpr std::uint64_t MaxSummaryReadings = 1u << 20;
constexpr std::uint64_t MaxSummaryBytes = std::uint64_t(64) << 20;

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
        // Nothing shows the first reading's spectra (the latest's stand for
        // the block); its bits and figures are shown, and are the base of
        // the block beside the summary.
        FirstComplete = reading;
        FirstComplete.Spectra = {};
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

// Least and most bits are kept as their distance from the latest reading's;
// only the tones where one of them or the change count says something are
// kept, a column at a time (the tones as steps from the one before, then the
// distances below, above, and the counts), so that a short line's many
// tones of one change each and a long line's few changing tones both
// compress to little. The first and latest readings sit inside the same
// compressed bytes: compressing them apart first left their bytes nothing
// for the summary's compression to find.
QByteArray EncodeSummary(const TBlockSummary& s)
{
    QByteArray raw;
    raw += char(SummaryFormat);
    PutVarint(raw, std::uint64_t(s.Count));
    PutVarint(raw, std::uint64_t(s.CompleteCount));
    PutSigned(raw, s.FirstMs);
    PutSigned(raw, s.LastMs - s.FirstMs);
    // The first complete reading comes first, on its own: it is the base of
    // the block beside the summary, which is read for it alone.
    if (s.CompleteCount > 0) {
        for (const QByteArray& reading : {EncodeBlockBytes({s.FirstComplete}),
                 EncodeBlockBytes({s.LatestComplete}, &s.FirstComplete)}) {
            PutVarint(raw, std::uint64_t(reading.size()));
            raw += reading;
        }
    }
    std::int64_t before = s.FirstMs;
    for (const std::int64_t t : s.FailedMs) {
        PutSigned(raw, t - before);
        before = t;
    }
    if (s.CompleteCount == 0)
        return Deflate(raw);
    PutVarint(raw, s.Min.size());
    QByteArray steps, below, above, changes;
    std::size_t kept = 0;
    std::size_t last = std::size_t(-1);
    for (std::size_t tone = 0; tone < s.Min.size(); ++tone) {
        const int latest = ToneBitsAt(s.LatestComplete, int(tone));
        const auto under = std::uint8_t(latest - s.Min[tone]);
        const auto over = std::uint8_t(s.Max[tone] - latest);
        const std::uint16_t changed = tone < s.Changes.size() ? s.Changes[tone] : 0;
        if (under == 0 && over == 0 && changed == 0)
            continue;
        PutVarint(steps, tone - last - 1);
        last = tone;
        below += char(under);
        above += char(over);
        PutVarint(changes, changed);
        ++kept;
    }
    PutVarint(raw, kept);
    raw += steps;
    raw += below;
    raw += above;
    raw += changes;
    for (const TRatePoint& p : s.Extremes) {
        PutSigned(raw, p.TimeMs - s.FirstMs);
        PutVarint(raw, std::uint64_t(p.UpBits));
        PutVarint(raw, std::uint64_t(p.DownBits));
    }
    return Deflate(raw);
}

namespace {

// A format-3 summary's counts and times, up to its readings.
bool DecodeHead(TBlockReader& in, TBlockSummary& s)
{
    in.Byte();
    const std::uint64_t count = in.Varint();
    const std::uint64_t complete = in.Varint();
    if (!in.Ok() || count == 0 || count > MaxSummaryReadings || complete > count)
        return false;
    s.Count = int(count);
    s.CompleteCount = int(complete);
    s.FirstMs = in.Signed();
    s.LastMs = Stepped(s.FirstMs, in.Signed());
    return in.Ok();
}

// One reading kept as a block of its own after its size, starting from base
// as blocks do.
bool DecodeOne(TBlockReader& in, const QString& host, TReading& into, const TReading* base = nullptr)
{
    const std::uint64_t size = in.Varint();
    const std::uint8_t* bytes = size <= MaxSummaryBytes ? in.Bytes(std::size_t(size)) : nullptr;
    std::vector<TReading> one;
    if (!bytes || !DecodeBlockBytes(bytes, std::size_t(size), host, one, [base] { return base; }) || one.size() != 1)
        return false;
    into = std::move(one.front());
    return true;
}

// Summaries of format 3, from their inflated bytes.
bool DecodeColumns(const QByteArray& raw, const QString& host, TBlockSummary& s)
{
    TBlockReader in(reinterpret_cast<const std::uint8_t*>(raw.constData()), std::size_t(raw.size()));
    if (!DecodeHead(in, s)
        || (s.CompleteCount > 0
            && (!DecodeOne(in, host, s.FirstComplete) || !DecodeOne(in, host, s.LatestComplete, &s.FirstComplete))))
        return false;
    std::int64_t before = s.FirstMs;
    s.FailedMs.resize(std::size_t(s.Count - s.CompleteCount));
    for (std::int64_t& t : s.FailedMs)
        before = t = Stepped(before, in.Signed());
    if (s.CompleteCount == 0)
        return in.Ok() && in.AtEnd();
    const std::uint64_t tones = in.Varint();
    const std::uint64_t kept = in.Varint();
    if (!in.Ok() || tones > std::uint64_t(MaxToneCount) || kept > tones)
        return false;
    s.Min.resize(std::size_t(tones));
    s.Max.resize(std::size_t(tones));
    s.Changes.assign(std::size_t(tones), 0);
    const std::size_t known = std::min<std::size_t>(std::size_t(tones), s.LatestComplete.Bits.size());
    std::copy_n(s.LatestComplete.Bits.begin(), known, s.Min.begin());
    std::copy_n(s.LatestComplete.Bits.begin(), known, s.Max.begin());
    std::fill(s.Min.begin() + std::ptrdiff_t(known), s.Min.end(), std::uint8_t(0));
    std::fill(s.Max.begin() + std::ptrdiff_t(known), s.Max.end(), std::uint8_t(0));
    std::vector<std::uint32_t> keptTones(static_cast<std::size_t>(kept));
    std::uint64_t tone = std::uint64_t(-1);
    for (std::uint32_t& t : keptTones) {
        tone += in.Varint() + 1;
        if (tone >= tones)
            return false;
        t = std::uint32_t(tone);
    }
    const std::uint8_t* below = in.Bytes(std::size_t(kept));
    const std::uint8_t* above = in.Bytes(std::size_t(kept));
    if (!below || !above)
        return false;
    for (std::size_t k = 0; k < keptTones.size(); ++k) {
        const std::uint32_t t = keptTones[k];
        const int latest = t < known ? s.LatestComplete.Bits[t] : 0;
        s.Min[t] = std::uint8_t(latest - below[k]);
        s.Max[t] = std::uint8_t(latest + above[k]);
        const std::uint64_t changes = in.Varint();
        if (changes > 0xffff)
            return false;
        s.Changes[t] = std::uint16_t(changes);
    }
    for (TRatePoint& p : s.Extremes) {
        const std::int64_t t = Stepped(s.FirstMs, in.Signed());
        const std::uint64_t up = in.Varint();
        const std::uint64_t down = in.Varint();
        if (up > std::uint64_t(INT32_MAX) || down > std::uint64_t(INT32_MAX))
            return false;
        p = TRatePoint{t, true, int(up), int(down)};
        p.SpacingKHz = s.LatestComplete.SpacingKHz;
    }
    return in.Ok() && in.AtEnd();
}

} // namespace

namespace {

bool DecodeFirstInto(QByteArray& raw, const QByteArray& data, const QString& host, TReading& first)
{
    TInflatingStart start(data, raw);
    // The head before the reading: the format, four numbers and the reading's size.
    constexpr std::size_t LongestHead = 1 + 5 * 10;
    const std::size_t have = start.Upto(LongestHead);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(raw.constData());
    if (have == 0 || bytes[0] != SummaryFormat) {
        // Earlier summaries' blocks never start from them; read whole if asked.
        TBlockSummary s;
        if (!DecodeSummary(data, host, s) || s.CompleteCount == 0)
            return false;
        first = std::move(s.FirstComplete);
        return true;
    }
    TBlockReader head(bytes, have);
    TBlockSummary counts;
    if (!DecodeHead(head, counts) || counts.CompleteCount == 0)
        return false;
    const std::uint8_t* reading = head.At();
    const std::uint64_t size = head.Varint();
    const std::size_t needed = std::size_t(head.At() - bytes) + std::size_t(size);
    if (!head.Ok() || size > MaxSummaryBytes || start.Upto(needed) < needed)
        return false;
    TBlockReader in(reading, std::size_t(bytes + needed - reading));
    return DecodeOne(in, host, first);
}

} // namespace

bool DecodeSummaryFirst(const QByteArray& data, const QString& host, TReading& first)
{
    // Read for every block of a period: only as much is inflated as the
    // reading takes, into a buffer the thread keeps, unless a summary that
    // names a size far past any real one made it large.
    thread_local QByteArray raw;
    const bool read = DecodeFirstInto(raw, data, host, first);
    if (raw.capacity() > (qsizetype(1) << 20))
        raw = QByteArray();
    return read;
}

bool DecodeSummary(const QByteArray& data, const QString& host, TBlockSummary& s)
{
    s = {};
    QByteArray raw;
    if (!Inflate(data, raw))
        return false;
    if (!raw.isEmpty() && quint8(raw[0]) == SummaryFormat) {
        const bool read = DecodeColumns(raw, host, s);
        if (!read)
            s = {};
        return read;
    }
    QDataStream in(raw);
    quint8 format = 0;
    qint64 first = 0, last = 0;
    qint32 count = 0, complete = 0;
    quint32 failed = 0;
    in >> format >> first >> last >> count >> complete >> failed;
    if (in.status() != QDataStream::Ok || (format != SparseTonesFormat && format != DenseTonesFormat) || count <= 0
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
        if (format == SparseTonesFormat)
            in >> kept;
        const int width = format == SparseTonesFormat ? ToneEntryBytes : 4;
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
        if (format == SparseTonesFormat) {
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
