// The line's figures and counters read from what each family prints beside
// its bits: rates, margin, attenuation, power, the error counts, retrains and
// the time since the link came up. Each reader takes only what its router
// printed; a value marked as not measured stays absent.
#pragma once

#include "line/line_figures.h"
#include "line/parsed_line.h"

#include <optional>
#include <string_view>
#include <vector>

// Whether a reply is read only for the figures: a router that refuses one of
// those commands has still given a reading.
bool IsFiguresRole(TReplyRole role);

// A decimal figure as routers print it: "8.3", "-38.9", "12", and DrayTek's
// "7. 4" for 7.4. None for anything else ("N/A", "-").
std::optional<double> FigureNumber(std::string_view text);
// A duration in words or a clock: "3 hours 12 min 5 sec", "5 days 2 hours",
// "2:41:07", "1 day, 2:41:07". None when no part of it is known.
std::optional<std::int64_t> DurationSeconds(std::string_view text);

// xdslctl info --stats: the state block (Status, Max, Bearer), the two-column
// rows after "Down Up" and the counters of the "Since Link" block (the
// "Total" block when the firmware prints no Since Link).
TLineFigures BroadcomFigures(std::string_view stats);
// dsl_cpe_pipe: lsg, g997lsg, g997csg, pmccsg, pmlscsg and pmlictg replies
// by their roles; a reply whose nReturn is not 0 says nothing.
TLineFigures LantiqFigures(const TFamilyReplies& replies);
// adsl status (key : value, two a line) and adsl status more (a Near End,
// Far End table).
TLineFigures DraytekFigures(std::string_view status, std::string_view more);
// The ZyXEL's texts in any order: the line-data replies' heads and the
// replies to wan adsl perfdata, chandata and status.
TLineFigures ZyxelFigures(const std::vector<std::string_view>& replies);
