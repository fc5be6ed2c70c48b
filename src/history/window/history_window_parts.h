// What the History window's files share: its periods, its views' captions
// and its time texts. Only the window includes this.
#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <limits>

namespace HistoryWindowParts {

constexpr std::int64_t MinuteMs = 60 * 1000;
constexpr std::int64_t HourMs = 60 * MinuteMs;
constexpr std::int64_t DayMs = 24 * HourMs;
constexpr std::int64_t Forever = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t Always = std::numeric_limits<std::int64_t>::min();
// How often an open window looks for readings other programs recorded: a
// line is read once a minute at most, and a look costs one small query.
constexpr int FollowIntervalMs = 2000;

struct TPeriodChoice {
    const char* caption;
    const char* phrase; // "No readings ... in <phrase>"
    std::int64_t length; // 0: everything
};

constexpr TPeriodChoice PeriodChoices[] = {
    {"Last hour", "the last hour", HourMs},
    {"Last 24 hours", "the last 24 hours", DayMs},
    {"Last 7 days", "the last 7 days", 7 * DayMs},
    {"Last 30 days", "the last 30 days", 30 * DayMs},
    {"Everything", "the store", 0},
};

const char* const ViewCaptions[] = {"Waterfall", "Envelope", "Bit changes", "Line rate", "Events", "Line figures",
    "SNR waterfall", "SNR envelope", "QLN and Hlog"};
const char* const DeleteCaption = "Delete readings older than...";

inline QString TimeText(std::int64_t ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace HistoryWindowParts
