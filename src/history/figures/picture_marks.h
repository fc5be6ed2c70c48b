// What the history's pictures draw alike: the frame's and the grid's
// colours, lines as thick on a page as on the screen, and the local time
// their time axes tick at.
#pragma once

#include <QColor>
#include <QDateTime>

#include <algorithm>
#include <cstdint>

inline constexpr QRgb FrameColor = 0xFF000000;
inline constexpr QRgb GridColor = 0xFFDDDDDD;

// A pixel at a screen's font, more at a printer's resolution.
inline int LineWidth(int lineHeight)
{
    return std::max(1, lineHeight / 14);
}

// Local time minus UTC at a moment: the axes tick at round local times.
inline std::int64_t LocalOffsetMs(std::int64_t ms)
{
    return std::int64_t(QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc()) * 1000;
}
