// A year of readings in a history file, written an hour's block at a time
// straight into the store's tables: recording half a million readings one by
// one would take a benchmark's whole run. The store makes the file itself, so
// its tables, indexes and pragmas are the program's own.
#pragma once

#include "line/reading.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

struct TBlockSummary;

enum class TYearLayout {
    Current, // as this program writes a file
    // Version 3, as the release before figures left a user's file: blocks of
    // the first format and summaries of every tone. Only for readings of bits
    // alone; the store reads such a file and converts it as it is.
    BeforeFigures,
};

// What the rows hold, summed over the file.
struct TYearBytes {
    double Blocks = 0;
    double Summaries = 0;
    int Rows = 0;
};

// reading(i) makes the i-th of count readings of host, oldest first. False
// when the file cannot be made or a reading does not fit the layout.
bool WriteYearStore(const QString& path, const QString& host, int count, const std::function<TReading(int)>& reading,
    TYearLayout layout = TYearLayout::Current, TYearBytes* bytes = nullptr);

// A block as the first block format kept readings of bits alone: the current
// encoding of such readings but for the format's byte.
QByteArray EncodeFirstFormatBlock(const std::vector<TReading>& readings);
// A summary as the first summary format kept it: every tone's least and most
// bits and changes, whether they said anything or not.
QByteArray EncodeDenseSummary(const TBlockSummary& summary);
