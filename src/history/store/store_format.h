// The figures every file of the store goes by: the layout this program
// writes, the hour a block spans, and how long a step waits for another
// program's lock. TReadingStore names them for its users; the SQLite steps
// (store_sql.cpp) take them from here, so they need not know the store.
#pragma once

#include <cstdint>

namespace StoreFormat {

constexpr int SchemaVersion = 4;
constexpr int BusyTimeoutMs = 2000;
constexpr std::int64_t BlockSpanMs = 3'600'000;

} // namespace StoreFormat
