// tirvane --report: the line report of the user's history written without a
// window. Needs a QGuiApplication (any platform, offscreen too).
#pragma once

#include "app/start_options.h"

// Writes the report; the exit status: 0 written, 1 not, 2 for a --line the
// recorder's configuration does not hold (one line on standard error says why).
int WriteReportCommand(const TReportRequest& request, const QString& storePath);
