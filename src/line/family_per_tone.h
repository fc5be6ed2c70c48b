// SNR, QLN and Hlog per tone as the three families print them, read into
// groups per direction (tone_values.h). Each family marks "not measured" in
// its own way; every marker, a refused or missing direction and a list of
// nothing but zeros becomes "not measured", never a value. A direction
// without one measured group is left empty.
#pragma once

#include "line/parsed_line.h"

#include <string>
#include <string_view>

// xdslctl info --SNR / --QLN / --Hlog: a "Tone number" header, then a row of
// tone and value per tone, both directions in one table. The direction is
// the band plan's; the group size is the largest of 2, 4, 8 and 16 over
// which every measured value repeats (1 when none does). No data: SNR 0,
// QLN 0 or -160, Hlog -96 or below.
TToneSpectra BroadcomSpectra(const TFamilyReplies& replies, const TBandPlan& bands, int toneCount);

// g997dsnrg / g997dqlng / g997dhlogg per direction: (group,code) pairs in
// nData, codes in the G.997.1 encodings (255, Hlog 1023: not measured). An
// nGroupSize of 1 is not trusted: the size doubles until nNumData groups
// reach the last tone of the band plan. On 35b an upstream QLN or Hlog
// group is twice the size printed; a VR9 on ADSL2+ measures the downstream
// Hlog of the first half of the groups only, the rest is not measured.
TToneSpectra LantiqSpectra(const TFamilyReplies& replies, const TBandPlan& bands, int toneCount);

// adsl status snr / qln / hlog: "GroupSize : us ds", "NumData : us ds", then
// "US:" and "DS:" each followed by rows "bin= <first group>: v, v, ...,".
// No data: SNR 0 or -32, QLN -150, Hlog -96 or below.
TToneSpectra DraytekSpectra(const TFamilyReplies& replies, int toneCount);

// Whether a Lantiq version reply (vig) names API 2.x, whose per-tone
// commands take their arguments in another order.
bool LantiqOlderApi(std::string_view versionReply);

// Whether a Lantiq version reply (vig) names a chip of the VR9 family.
bool LantiqVr9(std::string_view versionReply);

// The command line a cycle sends for a row of the family's table, given the
// replies it has had so far (the older form once the version asks for it).
std::string FamilyCommandText(const TFamilyCommand& command, const TFamilyReplies& replies);

// SnrUp to HlogBoth: a reply whose refusal fails no reading.
bool IsSpectrumRole(TReplyRole role);

// Leaves a direction with no measured group empty.
void DropUnmeasured(TSpectrumPart& part);
