// How the store keeps a run of one host's readings in one row: each reading
// as its difference from the one before (the tones whose bits changed, the
// time since), the line's description only when it changes, the whole run
// compressed. A year of once-a-minute readings of a line that changes a few
// tones a minute then takes a few megabytes instead of a couple of hundred.
#pragma once

#include "line/reading.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

struct z_stream_s;

// Readings of one host, oldest first, as one compressed block; the host is
// the block's row's, not kept inside. With a base, the block starts from
// that reading's line, bits and figures as if it came just before the first
// (the summary beside the block keeps the block's first complete reading
// whole, so the block need not keep it again): the block is then read only
// with the same base.
QByteArray EncodeBlock(const std::vector<TReading>& readings, const TReading* base = nullptr);
// Gives a block's base when the block has one, else null; asked only then.
using TBaseReading = std::function<const TReading*()>;
// False when the block is damaged (it does not decompress, runs short, or
// holds something no reading can be) or its base is not given; readings is
// then empty.
bool DecodeBlock(const QByteArray& block, const QString& host, std::vector<TReading>& readings,
    const TBaseReading& baseOf = {});

// The same bytes before compression, for a summary that keeps a few readings
// inside its own compressed bytes rather than compressing them twice.
QByteArray EncodeBlockBytes(const std::vector<TReading>& readings, const TReading* base = nullptr);
bool DecodeBlockBytes(const std::uint8_t* raw, std::size_t size, const QString& host, std::vector<TReading>& readings,
    const TBaseReading& baseOf = {});

// The compression blocks and their summaries share: the size, then zlib.
QByteArray Deflate(const QByteArray& raw);
// False when the data does not inflate to the size it names.
bool Inflate(const QByteArray& packed, QByteArray& raw);

// The start of a block's or summary's bytes only, for a reader that needs no
// more: inflated into raw as far as asked. No other inflating on the thread
// while it is in use.
class TInflatingStart {
public:
    TInflatingStart(const QByteArray& packed, QByteArray& raw);
    // Inflates the first size bytes (all there are, when fewer); how many
    // are there, 0 when the data is damaged.
    std::size_t Upto(std::size_t size);

private:
    QByteArray& FRaw;
    z_stream_s* FStream = nullptr;
};
