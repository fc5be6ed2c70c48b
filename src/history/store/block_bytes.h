// The bytes a block is made of before compression: unsigned and signed
// numbers in as few bytes as they need, texts by their length, and the reader
// that takes them back and marks the whole block damaged at the first step
// past its end or out of range.
#pragma once

#include <QByteArray>
#include <QString>

#include <cmath>
#include <cstdint>
#include <optional>

inline void PutVarint(QByteArray& out, std::uint64_t value)
{
    while (value >= 0x80) {
        out += char(std::uint8_t(value) | 0x80);
        value >>= 7;
    }
    out += char(value);
}

// Small numbers of either sign stay small: 0, -1, 1, -2 ... as 0, 1, 2, 3 ...
inline std::uint64_t ZigZag(std::int64_t value)
{
    return (std::uint64_t(value) << 1) ^ std::uint64_t(value >> 63);
}

inline std::int64_t UnZigZag(std::uint64_t value)
{
    return std::int64_t(value >> 1) ^ -std::int64_t(value & 1);
}

// A time plus a step read from a file: a damaged step wraps instead of
// overflowing, and the reading it makes is judged by what it holds.
inline std::int64_t Stepped(std::int64_t value, std::int64_t step)
{
    return std::int64_t(std::uint64_t(value) + std::uint64_t(step));
}

inline void PutSigned(QByteArray& out, std::int64_t value)
{
    PutVarint(out, ZigZag(value));
}

inline void PutText(QByteArray& out, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    PutVarint(out, std::uint64_t(bytes.size()));
    out += bytes;
}

class TBlockReader {
public:
    TBlockReader(const std::uint8_t* data, std::size_t size)
        : FData(data)
        , FEnd(data + size)
    {
    }
    bool Ok() const { return FOk; }
    bool AtEnd() const { return FData == FEnd; }
    const std::uint8_t* At() const { return FData; }

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
    std::int64_t Signed() { return UnZigZag(Varint()); }
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

// Values are kept to a tenth (of a dB, a kbit/s, a dBm/Hz) as a whole number
// when that is exactly what they are, which is what routers print; anything
// finer keeps its bits whole, so nothing read is ever rounded.
constexpr double Tenths = 10.0;

inline std::optional<std::int64_t> WholeTenths(double value)
{
    if (!std::isfinite(value) || std::fabs(value) > 1e15)
        return std::nullopt;
    const auto tenths = std::int64_t(std::llround(value * Tenths));
    if (double(tenths) / Tenths != value)
        return std::nullopt;
    return tenths;
}

// The same for a float spectrum value, which is a tenth only to float's precision.
inline std::optional<std::int64_t> WholeTenths(float value)
{
    if (!std::isfinite(value) || std::fabs(value) > 1e6f)
        return std::nullopt;
    const auto tenths = std::int64_t(std::llround(double(value) * Tenths));
    if (float(double(tenths) / Tenths) != value)
        return std::nullopt;
    return tenths;
}
