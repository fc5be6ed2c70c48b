// What the formats must quote or escape, read back by the formats' own
// rules, and the table's frequencies as the window's read-out writes them.
// The process test (tirvane_read_test) compares every format with what the
// router served.
#include "format_parsers.h"
#include "reader/output_formats.h"
#include "reader/reader_options.h"

#include <QLocale>

#include <gtest/gtest.h>

namespace {

TEST(OutputFormatsTest, HostsThatNeedQuotingReadBack)
{
    std::vector<TReading> readings;
    for (const char* host : {"r\xc3\xb6uter, \"north\"", "line\nfeed", "back\\slash", ""}) {
        TReading r{1765107000123 + std::int64_t(readings.size()) * 60000, QString::fromUtf8(host),
            readings.size() % 2 == 0, {}};
        r.Bits[300] = std::uint8_t(readings.size() + 9);
        readings.push_back(r);
    }
    EXPECT_EQ(ReadingsFromCsv(FormatCsv(readings)), readings);
    EXPECT_EQ(ReadingsFromJson(FormatJson(readings)), readings);
    EXPECT_EQ(FormatJson(readings).count('\n'), 4); // one line each, line feed in a host or not

    const auto samples = ParsePrometheus(FormatPrometheus(readings, {300, 300}));
    ASSERT_TRUE(samples.has_value()) << FormatPrometheus(readings, {300, 300}).toStdString();
    const std::map<QString, double> tones = {
        {QStringLiteral(R"(host="r)") + QChar(0xf6) + QStringLiteral(R"(uter, \"north\"",tone="300")"), 9},
        {QStringLiteral(R"(host="line\nfeed",tone="300")"), 10},
        {QStringLiteral(R"(host="back\\slash",tone="300")"), 11},
        {QStringLiteral(R"(host="",tone="300")"), 12},
    };
    EXPECT_EQ(samples->at(QStringLiteral("tirvane_tone_bits")), tones);
    EXPECT_EQ(samples->at(QStringLiteral("tirvane_downstream_bits")).at(QStringLiteral(R"(host="")")), 12);
}

TEST(OutputFormatsTest, TableFrequenciesAsTheReadOut)
{
    const QLocale saved;
    const struct {
        QLocale locale;
        int tone;
        const char* frequency;
    } cases[] = {
        {QLocale::c(), 0, "0"},
        {QLocale::c(), 33, "142.3125"},
        {QLocale::c(), 512, "2208"},
        {QLocale(QLocale::German, QLocale::Germany), 33, "142,3125"},
    };
    TReading reading{1765107000123, QStringLiteral("127.0.0.5"), false, {}};
    reading.Bits[33] = 7;
    for (const auto& c : cases) {
        QLocale::setDefault(c.locale);
        const QList<QByteArray> lines = FormatTable({reading}).split('\n');
        EXPECT_EQ(lines[0], "2025-12-07T11:30:00.123Z 127.0.0.5 not completed");
        EXPECT_EQ(lines[2 + c.tone].simplified(),
            QByteArray::number(c.tone) + ' ' + c.frequency + ' ' + QByteArray::number(reading.Bits[std::size_t(c.tone)]));
    }
    QLocale::setDefault(saved);
}

// --since and --until: a date is its first moment, a time without an offset
// the local time.
TEST(OutputFormatsTest, IsoTimesForExport)
{
    qputenv("TZ", "Europe/Berlin"); // an hour ahead of UTC in winter
    constexpr std::int64_t Hour = 3'600'000, MidnightUtc = 1796601600000; // 2026-12-07
    const struct {
        const char* text;
        std::optional<std::int64_t> ms;
    } cases[] = {
        {"2026-12-07", MidnightUtc - Hour},
        {"2026-12-07T18:00", MidnightUtc + 17 * Hour},
        {"2026-12-07T00:00:00.250Z", MidnightUtc + 250},
        {"2026-12-07T02:30:00+02:00", MidnightUtc + Hour / 2},
        {"2026-12-07Tnoon", std::nullopt},
        {"2026-13-01", std::nullopt},
        {"yesterday", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseIsoTime(QString::fromLatin1(c.text)), c.ms) << c.text;
    qunsetenv("TZ");
}

} // namespace
