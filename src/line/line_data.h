// Line-data decoding: turns the router's far-end and near-end replies, as the
// sampling cycle leaves them in the capture buffer, into per-tone bit counts.
// The replies are cut at fixed character positions, never searched.
#pragma once

#include "line/capture_buffer.h"
#include "line/tone_plan.h"

#include <array>
#include <cstdint>

using TZyxelToneTable = std::array<std::int32_t, ZyxelToneCount>;

// The program-wide tone table; all 0 at start, tone 0 never written.
TZyxelToneTable& ZyxelToneTable();

// Writes tones 1 to 34; leaves the far data string in the buffer.
void DecodeFarEnd(TCaptureBuffer& memo, TZyxelToneTable& tones);

// Writes tones 33 to 512 (values for tones past 512 are dropped); leaves the
// trimmed near text in the buffer.
void DecodeNearEnd(TCaptureBuffer& memo, TZyxelToneTable& tones);
