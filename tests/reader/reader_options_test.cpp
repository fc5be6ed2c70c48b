// tirvane-read's command line without starting it: times as a user writes
// them, and how --interval and --count combine.
#include "reader/reader_options.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

TEST(ReaderOptionsTest, IsoTimes)
{
    qputenv("TZ", "Europe/Berlin"); // one hour ahead of UTC in winter
    const std::int64_t midnightUtc = QDateTime(QDate(2026, 12, 7), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    constexpr std::int64_t Hour = 3'600'000;
    const struct {
        const char* text;
        std::optional<std::int64_t> ms;
    } cases[] = {
        {"2026-12-07", midnightUtc - Hour}, // local midnight
        {"2026-12-07T00:00:00Z", midnightUtc},
        {"2026-12-07T00:00:00.250Z", midnightUtc + 250},
        {"2026-12-07T02:30:00+02:00", midnightUtc + Hour / 2},
        {"2026-12-07T18:00", midnightUtc + 17 * Hour}, // local time
        {"2026-12-07Tnoon", std::nullopt},
        {"2026-13-01", std::nullopt},
        {"yesterday", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseIsoTime(QString::fromLatin1(c.text)), c.ms) << c.text;
    qunsetenv("TZ");
}

TEST(ReaderOptionsTest, IntervalAndCount)
{
    const struct {
        QStringList args;
        int interval, count;
    } cases[] = {
        {{}, 0, 1},
        {{"--count", "3"}, 60, 3},
        {{"--interval", "5"}, 5, 0}, // until stopped
        {{"--interval", "5", "--count", "2"}, 5, 2},
    };
    for (const auto& c : cases) {
        const TReaderCommand command
            = ParseReaderOptions(QStringList{QStringLiteral("tirvane-read"), QStringLiteral("--host"), QStringLiteral("h")} + c.args);
        const auto* options = std::get_if<TReaderOptions>(&command);
        ASSERT_NE(options, nullptr) << c.args.join(' ').toStdString();
        EXPECT_EQ(options->IntervalSeconds, c.interval) << c.args.join(' ').toStdString();
        EXPECT_EQ(options->Count, c.count) << c.args.join(' ').toStdString();
    }
}

} // namespace
