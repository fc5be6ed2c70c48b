// How the store keeps a run of one host's readings in one row: each reading
// as its difference from the one before (the tones whose bits changed, the
// time since), the line's description only when it changes, the whole run
// compressed. A year of once-a-minute readings of a line that changes a few
// tones a minute then takes a few megabytes instead of a couple of hundred.
#pragma once

#include "line/reading.h"

#include <QByteArray>
#include <QString>

#include <vector>

// Readings of one host, oldest first, as one compressed block; the host is
// the block's row's, not kept inside.
QByteArray EncodeBlock(const std::vector<TReading>& readings);
// False when the block is damaged (it does not decompress, runs short, or
// holds something no reading can be); readings is then empty.
bool DecodeBlock(const QByteArray& block, const QString& host, std::vector<TReading>& readings);

// The compression blocks and their summaries share: the size, then zlib.
QByteArray Deflate(const QByteArray& raw);
// False when the data does not inflate to the size it names.
bool Inflate(const QByteArray& packed, QByteArray& raw);
