// The main window's chart as it is designed: every stored setting of its
// configuration, its axes and its bar series. Widget-free, so the chart
// widget and anything that lays the chart out without a widget (the layout
// tests, for one) load the very same settings.
#pragma once

#include "chart/chart_engine.h"
#include "chart/series.h"

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
