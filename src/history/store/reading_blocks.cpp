#include "history/store/reading_blocks.h"

#include "history/store/block_bytes.h"
#include "history/store/block_extras.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {

// Format 1 knew bits only; format 2 added each reading's outcome, figures
// and per-tone spectra, and format 3 keeps those a column at a time
// (block_extras.h). Format 4 may start from a base reading kept outside the
// block, its first reading then being its changes from the base. All four
// are read: a block of format 1 is a block whose readings have none of them.
constexpr std::uint8_t FirstBlockFormat = 1;
constexpr std::uint8_t ExtrasBlockFormat = 2;
constexpr std::uint8_t ColumnsBlockFormat = 3;
constexpr std::uint8_t BlockFormat = 4;

// Per reading, a flag byte:
constexpr std::uint8_t CompletedFlag = 1;
constexpr std::uint8_t LineFlag = 2;     // the line's description follows
constexpr std::uint8_t WholeBitsFlag = 4; // every tone's bits follow, else the changed ones
constexpr std::uint8_t ExtrasFlag = 8;   // the reading has extras, which follow all the bits

void PutBands(QByteArray& out, const std::vector<TToneBand>& bands)
{
    PutVarint(out, bands.size());
    for (const TToneBand& band : bands) {
        PutSigned(out, band.First);
        PutSigned(out, band.Last);
    }
}

std::vector<TToneBand> GetBands(TBlockReader& in)
{
    const std::uint64_t count = in.Varint();
    std::vector<TToneBand> bands;
    if (count > 64) {
        in.Bad();
        return bands;
    }
    for (std::uint64_t i = 0; i < count && in.Ok(); ++i) {
        TToneBand band;
        band.First = int(in.Signed());
        band.Last = int(in.Signed());
        bands.push_back(band);
    }
    return bands;
}

bool SameLine(const TReading& a, const TReading& b)
{
    return a.Bits.size() == b.Bits.size() && a.SpacingKHz == b.SpacingKHz && a.Bands == b.Bands
        && a.Router == b.Router && a.Mode == b.Mode;
}

} // namespace

QByteArray EncodeBlock(const std::vector<TReading>& readings, const TReading* base)
{
    return Deflate(EncodeBlockBytes(readings, base));
}

QByteArray EncodeBlockBytes(const std::vector<TReading>& readings, const TReading* base)
{
    QByteArray raw;
    raw += char(BlockFormat);
    PutVarint(raw, readings.size());
    // The base's time, which a reader checks the base it is given against.
    raw += char(base ? 1 : 0);
    if (base)
        PutSigned(raw, base->TimeMs);
    const TReading* before = base;
    std::vector<int> changed;
    for (const TReading& reading : readings) {
        const bool newLine = !before || !SameLine(*before, reading);
        changed.clear();
        if (!newLine) {
            for (std::size_t tone = 0; tone < reading.Bits.size(); ++tone)
                if (reading.Bits[tone] != before->Bits[tone])
                    changed.push_back(int(tone));
        }
        // Two bytes or so a changed tone against one a tone: whole bits once
        // a quarter of the tones changed.
        const bool whole = newLine || changed.size() * 4 > reading.Bits.size();
        const bool extras = HasExtras(reading);
        raw += char((reading.Completed ? CompletedFlag : 0) | (newLine ? LineFlag : 0) | (whole ? WholeBitsFlag : 0)
            | (extras ? ExtrasFlag : 0));
        PutSigned(raw, before ? reading.TimeMs - before->TimeMs : reading.TimeMs);
        if (newLine) {
            PutVarint(raw, reading.Bits.size());
            char spacing[sizeof(double)];
            std::memcpy(spacing, &reading.SpacingKHz, sizeof spacing);
            raw.append(spacing, sizeof spacing);
            PutBands(raw, reading.Bands.Upstream);
            PutBands(raw, reading.Bands.Downstream);
            PutText(raw, reading.Router);
            PutText(raw, reading.Mode);
        }
        if (whole) {
            raw.append(reinterpret_cast<const char*>(reading.Bits.data()), qsizetype(reading.Bits.size()));
        } else {
            PutVarint(raw, changed.size());
            int last = -1;
            for (const int tone : changed) {
                PutVarint(raw, std::uint64_t(tone - last - 1));
                raw += char(reading.Bits[std::size_t(tone)]);
                last = tone;
            }
        }
        before = &reading;
    }

    PutExtras(raw, readings, base);
    return raw;
}

bool DecodeBlock(const QByteArray& block, const QString& host, std::vector<TReading>& readings,
    const TBaseReading& baseOf)
{
    readings.clear();
    QByteArray raw;
    return Inflate(block, raw)
        && DecodeBlockBytes(reinterpret_cast<const std::uint8_t*>(raw.constData()), std::size_t(raw.size()), host,
                            readings, baseOf);
}

bool DecodeBlockBytes(const std::uint8_t* raw, std::size_t size, const QString& host, std::vector<TReading>& readings,
    const TBaseReading& baseOf)
{
    readings.clear();
    const auto rawSize = std::uint64_t(size);
    TBlockReader in(raw, size);
    const std::uint8_t format = in.Byte();
    if (format < FirstBlockFormat || format > BlockFormat)
        return false;
    const std::uint8_t knownFlags
        = CompletedFlag | LineFlag | WholeBitsFlag | (format >= ExtrasBlockFormat ? ExtrasFlag : 0);
    const std::uint64_t count = in.Varint();
    if (!in.Ok() || count > rawSize)
        return false;
    // A block that starts from a base cannot be read without it, nor with
    // another reading in its place.
    const TReading* base = nullptr;
    if (format >= BlockFormat && in.Byte() != 0) {
        const std::int64_t baseMs = in.Signed();
        base = baseOf ? baseOf() : nullptr;
        if (!in.Ok() || !base || base->TimeMs != baseMs)
            return false;
    }
    readings.reserve(std::size_t(count));
    TReading line;
    std::vector<bool> extras;
    extras.reserve(std::size_t(count));
    bool haveLine = base != nullptr;
    std::int64_t time = 0;
    if (base) {
        line.Bits = base->Bits;
        line.SpacingKHz = base->SpacingKHz;
        line.Bands = base->Bands;
        line.Router = base->Router;
        line.Mode = base->Mode;
        time = base->TimeMs;
    }
    for (std::uint64_t i = 0; i < count && in.Ok(); ++i) {
        const std::uint8_t flags = in.Byte();
        if (flags & ~knownFlags)
            in.Bad();
        time = Stepped(time, in.Signed());
        if (flags & LineFlag) {
            const std::uint64_t tones = in.Varint();
            if (tones > std::uint64_t(MaxToneCount)) {
                in.Bad();
                break;
            }
            line.Bits.assign(std::size_t(tones), 0);
            if (const std::uint8_t* spacing = in.Bytes(sizeof(double)))
                std::memcpy(&line.SpacingKHz, spacing, sizeof(double));
            line.Bands.Upstream = GetBands(in);
            line.Bands.Downstream = GetBands(in);
            line.Router = in.Text();
            line.Mode = in.Text();
            haveLine = true;
        } else if (!haveLine) {
            in.Bad();
            break;
        }
        if (flags & WholeBitsFlag) {
            // A reading of no tones (a line that gave none) copies nothing.
            if (const std::uint8_t* bits = in.Bytes(line.Bits.size()); bits && !line.Bits.empty())
                std::memcpy(line.Bits.data(), bits, line.Bits.size());
        } else {
            const std::uint64_t changes = in.Varint();
            std::uint64_t tone = std::uint64_t(-1);
            for (std::uint64_t c = 0; c < changes && in.Ok(); ++c) {
                tone += in.Varint() + 1;
                const std::uint8_t bits = in.Byte();
                if (tone >= line.Bits.size())
                    in.Bad();
                else
                    line.Bits[std::size_t(tone)] = bits;
            }
        }
        extras.push_back(flags & ExtrasFlag);
        line.TimeMs = time;
        line.Host = host;
        line.Completed = flags & CompletedFlag;
        readings.push_back(line);
    }
    // A block of the first format ends with its last reading's bits.
    if (in.Ok() && format >= ColumnsBlockFormat)
        GetExtras(in, readings, extras, base);
    else if (in.Ok() && format == ExtrasBlockFormat)
        GetFormat2Extras(in, readings, extras);
    if (!in.Ok() || !in.AtEnd() || readings.size() != count) {
        readings.clear();
        return false;
    }
    return true;
}

namespace {

// One zlib stream a thread, made once and reset for each block: making one
// takes tens of kilobytes from the heap and hands them back, which for a
// block of a few hundred bytes cost more than the compression itself.
class TZStream {
public:
    explicit TZStream(bool deflating)
        : FDeflating(deflating)
        , FOk((deflating ? deflateInit(&FStream, 6) : inflateInit(&FStream)) == Z_OK)
    {
    }
    ~TZStream()
    {
        if (FOk)
            FDeflating ? deflateEnd(&FStream) : inflateEnd(&FStream);
    }
    TZStream(const TZStream&) = delete;
    TZStream& operator=(const TZStream&) = delete;

    z_stream* Reset()
    {
        if (!FOk || (FDeflating ? deflateReset(&FStream) : inflateReset(&FStream)) != Z_OK)
            return nullptr;
        return &FStream;
    }

private:
    z_stream FStream{};
    bool FDeflating;
    bool FOk;
};

} // namespace

QByteArray Deflate(const QByteArray& raw)
{
    thread_local TZStream deflater(true);
    QByteArray block;
    PutVarint(block, std::uint64_t(raw.size()));
    const qsizetype head = block.size();
    z_stream* z = deflater.Reset();
    if (!z)
        return {};
    const uLong bound = deflateBound(z, uLong(raw.size()));
    block.resize(head + qsizetype(bound));
    z->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.constData()));
    z->avail_in = uInt(raw.size());
    z->next_out = reinterpret_cast<Bytef*>(block.data() + head);
    z->avail_out = uInt(bound);
    if (deflate(z, Z_FINISH) != Z_STREAM_END)
        return {};
    block.resize(head + qsizetype(z->total_out));
    return block;
}

namespace {

TZStream& Inflater()
{
    thread_local TZStream inflater(false);
    return inflater;
}

// The size the block names, and where its compressed bytes start; 0 when
// damaged.
std::uint64_t InflatedSize(const QByteArray& packed, std::size_t* headSize)
{
    TBlockReader head(reinterpret_cast<const std::uint8_t*>(packed.constData()), std::size_t(packed.size()));
    const std::uint64_t rawSize = head.Varint();
    // A block never holds more than a few thousand readings of 8192 tones.
    if (!head.Ok() || rawSize == 0 || rawSize > (std::uint64_t(64) << 20))
        return 0;
    QByteArray sizeBytes;
    PutVarint(sizeBytes, rawSize);
    *headSize = std::size_t(sizeBytes.size());
    return rawSize;
}

} // namespace

bool Inflate(const QByteArray& packed, QByteArray& raw)
{
    std::size_t headSize = 0;
    const std::uint64_t rawSize = InflatedSize(packed, &headSize);
    z_stream* z = rawSize ? Inflater().Reset() : nullptr;
    if (!z)
        return false;
    raw.resize(qsizetype(rawSize));
    z->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.constData() + headSize));
    z->avail_in = uInt(std::size_t(packed.size()) - headSize);
    z->next_out = reinterpret_cast<Bytef*>(raw.data());
    z->avail_out = uInt(rawSize);
    return inflate(z, Z_FINISH) == Z_STREAM_END && z->total_out == rawSize;
}

TInflatingStart::TInflatingStart(const QByteArray& packed, QByteArray& raw)
    : FRaw(raw)
{
    std::size_t headSize = 0;
    const std::uint64_t rawSize = InflatedSize(packed, &headSize);
    FStream = rawSize ? Inflater().Reset() : nullptr;
    if (!FStream)
        return;
    raw.resize(qsizetype(rawSize));
    FStream->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.constData() + headSize));
    FStream->avail_in = uInt(std::size_t(packed.size()) - headSize);
    FStream->next_out = reinterpret_cast<Bytef*>(raw.data());
}

std::size_t TInflatingStart::Upto(std::size_t size)
{
    if (!FStream)
        return 0;
    size = std::min(size, std::size_t(FRaw.size()));
    if (FStream->total_out < size) {
        FStream->avail_out = uInt(size - FStream->total_out);
        const int rc = inflate(FStream, Z_SYNC_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) {
            FStream = nullptr;
            return 0;
        }
    }
    return std::size_t(FStream->total_out);
}
