// The program's own chart for the picture tests, as the window shows it
// after a cycle: its designed settings, its window size, and the 256 tones
// of a line, upstream green at 8 bits, downstream blue at 12.
#pragma once

#include "chart/chart.h"

#include <QString>

inline void LoadRealTestChart(TChart& chart)
{
    LoadChart21Settings(chart);
    chart.resize(696, 237);
    chart.BottomAxis().SetMaximum(255);
    for (int tone = 0; tone <= 255; ++tone)
        chart.Series().AppendBar(tone < 32 ? 8 : 12, QString::number(tone), tone < 32 ? clGreen : clBlue);
}
