// The three families' replies read into a line. Each parser keeps to what
// its router prints: lines it does not know are skipped, values for tones
// outside the line are dropped, and a reply without data, a line not in
// showtime or a missing band plan is a failure that says so.
#pragma once

#include "line/parsed_line.h"

// xdslctl: "Status:" and "Mode:" / "VDSL2 Profile:" in the state block,
// "Tone number" then rows of tone and bits, the Medley band plan.
TParsedLine ParseBroadcom(const TFamilyReplies& replies);
// dsl_cpe_pipe: key=value tokens, nReturn=0 first; bits as two-digit hex
// inside nData="...", bands as (index,(first,last),(...)).
TParsedLine ParseLantiq(const TFamilyReplies& replies);
// DrayTek: "State" and "Running Mode" in adsl status, showbins rows split at
// "*" into tone, SNR, a value not used and bits, bandinfo's Limits=[a-b].
TParsedLine ParseDraytek(const TFamilyReplies& replies);

TParsedLine ParseFamilyReplies(TRouterFamily family, const TFamilyReplies& replies);
