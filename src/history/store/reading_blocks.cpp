#include "history/store/reading_blocks.h"

#include <zlib.h>

#include <cstring>
#include <limits>

namespace {

constexpr std::uint8_t BlockFormat = 1;

// Per reading, a flag byte:
constexpr std::uint8_t CompletedFlag = 1;
constexpr std::uint8_t LineFlag = 2;     // the line's description follows
constexpr std::uint8_t WholeBitsFlag = 4; // every tone's bits follow, else the changed ones

void PutVarint(QByteArray& out, std::uint64_t value)
{
    while (value >= 0x80) {
        out += char(std::uint8_t(value) | 0x80);
        value >>= 7;
    }
    out += char(value);
}

void PutSigned(QByteArray& out, std::int64_t value)
{
    PutVarint(out, (std::uint64_t(value) << 1) ^ std::uint64_t(value >> 63));
}

void PutText(QByteArray& out, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    PutVarint(out, std::uint64_t(bytes.size()));
    out += bytes;
}

void PutBands(QByteArray& out, const std::vector<TToneBand>& bands)
{
    PutVarint(out, bands.size());
    for (const TToneBand& band : bands) {
        PutSigned(out, band.First);
        PutSigned(out, band.Last);
    }
}

bool SameLine(const TReading& a, const TReading& b)
{
    return a.Bits.size() == b.Bits.size() && a.SpacingKHz == b.SpacingKHz && a.Bands == b.Bands
        && a.Router == b.Router && a.Mode == b.Mode;
}

// Reads what the writer above wrote; any step past the end or out of range
// marks the whole block damaged.
class TBlockReader {
public:
    TBlockReader(const std::uint8_t* data, std::size_t size)
        : FData(data)
        , FEnd(data + size)
    {
    }
    bool Ok() const { return FOk; }
    bool AtEnd() const { return FData == FEnd; }

    std::uint64_t Varint()
    {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (FData == FEnd)
                return Bad();
            const std::uint8_t byte = *FData++;
            value |= std::uint64_t(byte & 0x7f) << shift;
            if (!(byte & 0x80))
                return value;
        }
        return Bad();
    }
    std::int64_t Signed()
    {
        const std::uint64_t v = Varint();
        return std::int64_t(v >> 1) ^ -std::int64_t(v & 1);
    }
    std::uint8_t Byte()
    {
        if (FData == FEnd)
            return std::uint8_t(Bad());
        return *FData++;
    }
    const std::uint8_t* Bytes(std::size_t count)
    {
        if (std::size_t(FEnd - FData) < count) {
            Bad();
            return nullptr;
        }
        const std::uint8_t* at = FData;
        FData += count;
        return at;
    }
    QString Text()
    {
        const std::uint64_t size = Varint();
        const std::uint8_t* bytes = size <= 1024 ? Bytes(std::size_t(size)) : nullptr;
        if (!bytes) {
            Bad();
            return {};
        }
        return QString::fromUtf8(reinterpret_cast<const char*>(bytes), qsizetype(size));
    }
    std::vector<TToneBand> Bands()
    {
        const std::uint64_t count = Varint();
        std::vector<TToneBand> bands;
        if (count > 64) {
            Bad();
            return bands;
        }
        for (std::uint64_t i = 0; i < count && FOk; ++i) {
            TToneBand band;
            band.First = int(Signed());
            band.Last = int(Signed());
            bands.push_back(band);
        }
        return bands;
    }
    std::uint64_t Bad()
    {
        FOk = false;
        FData = FEnd;
        return 0;
    }

private:
    const std::uint8_t* FData;
    const std::uint8_t* FEnd;
    bool FOk = true;
};

} // namespace

QByteArray EncodeBlock(const std::vector<TReading>& readings)
{
    QByteArray raw;
    raw += char(BlockFormat);
    PutVarint(raw, readings.size());
    const TReading* before = nullptr;
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
        raw += char((reading.Completed ? CompletedFlag : 0) | (newLine ? LineFlag : 0) | (whole ? WholeBitsFlag : 0));
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

    return Deflate(raw);
}

bool DecodeBlock(const QByteArray& block, const QString& host, std::vector<TReading>& readings)
{
    readings.clear();
    QByteArray packedRaw;
    if (!Inflate(block, packedRaw))
        return false;
    const auto rawSize = std::uint64_t(packedRaw.size());
    const auto* raw = reinterpret_cast<const std::uint8_t*>(packedRaw.constData());

    TBlockReader in(raw, std::size_t(rawSize));
    if (in.Byte() != BlockFormat)
        return false;
    const std::uint64_t count = in.Varint();
    if (!in.Ok() || count > rawSize)
        return false;
    readings.reserve(std::size_t(count));
    TReading line;
    bool haveLine = false;
    std::int64_t time = 0;
    for (std::uint64_t i = 0; i < count && in.Ok(); ++i) {
        const std::uint8_t flags = in.Byte();
        if (flags & ~(CompletedFlag | LineFlag | WholeBitsFlag))
            in.Bad();
        time = i == 0 ? in.Signed() : time + in.Signed();
        if (flags & LineFlag) {
            const std::uint64_t tones = in.Varint();
            if (tones > std::uint64_t(MaxToneCount)) {
                in.Bad();
                break;
            }
            line.Bits.assign(std::size_t(tones), 0);
            if (const std::uint8_t* spacing = in.Bytes(sizeof(double)))
                std::memcpy(&line.SpacingKHz, spacing, sizeof(double));
            line.Bands.Upstream = in.Bands();
            line.Bands.Downstream = in.Bands();
            line.Router = in.Text();
            line.Mode = in.Text();
            haveLine = true;
        } else if (!haveLine) {
            in.Bad();
            break;
        }
        if (flags & WholeBitsFlag) {
            if (const std::uint8_t* bits = in.Bytes(line.Bits.size()))
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
        line.TimeMs = time;
        line.Host = host;
        line.Completed = flags & CompletedFlag;
        readings.push_back(line);
    }
    if (!in.Ok() || !in.AtEnd() || readings.size() != count) {
        readings.clear();
        return false;
    }
    return true;
}

QByteArray Deflate(const QByteArray& raw)
{
    QByteArray block;
    PutVarint(block, std::uint64_t(raw.size()));
    const qsizetype head = block.size();
    uLongf packed = compressBound(uLong(raw.size()));
    block.resize(head + qsizetype(packed));
    compress2(reinterpret_cast<Bytef*>(block.data() + head), &packed, reinterpret_cast<const Bytef*>(raw.constData()),
              uLong(raw.size()), 6);
    block.resize(head + qsizetype(packed));
    return block;
}

bool Inflate(const QByteArray& packed, QByteArray& raw)
{
    TBlockReader head(reinterpret_cast<const std::uint8_t*>(packed.constData()), std::size_t(packed.size()));
    const std::uint64_t rawSize = head.Varint();
    // A block never holds more than a few thousand readings of 8192 tones.
    if (!head.Ok() || rawSize == 0 || rawSize > (std::uint64_t(64) << 20))
        return false;
    QByteArray sizeBytes;
    PutVarint(sizeBytes, rawSize);
    const std::size_t headSize = std::size_t(sizeBytes.size());
    raw.resize(qsizetype(rawSize));
    uLongf unpacked = uLongf(rawSize);
    return uncompress(reinterpret_cast<Bytef*>(raw.data()), &unpacked,
                      reinterpret_cast<const Bytef*>(packed.constData() + headSize),
                      uLong(std::size_t(packed.size()) - headSize))
            == Z_OK
        && unpacked == rawSize;
}
