// The main window's chart as it is designed: every stored setting of its
// configuration, its axes and its bar series. Widget-free, so the chart
// widget and anything that lays the chart out without a widget (the layout
// tests, for one) load the very same settings.
#pragma once

#include "chart/chart_engine.h"
#include "chart/series.h"

// The designed axes the chart goes back to when it shows bits again: tones
// from 5 on the bottom, 0 to 16 bits on the left.
inline constexpr double Chart21FirstTone = 5;
inline constexpr double Chart21BitsMinimum = 0;
inline constexpr double Chart21BitsMaximum = 16;
inline const char* const Chart21BitsTitle = "Bits ";

// The parts of a chart the settings fill in.
struct TChartParts {
    TChartConfig& Config;
    TChartAxis& Bottom;
    TChartAxis& Left;
    TChartAxis& Right;
    TChartAxis& Top;
    TBarSeries& Series;
};

// Applies every stored setting, with the axes' Maximum check skipped while
// they load.
void LoadChart21Settings(const TChartParts& chart);
