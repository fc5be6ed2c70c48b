// What the formats must quote or escape, read back by the formats' own rules
// (tirvane_read_test compares every format with what the router served).
#include "format_parsers.h"
#include "line/csv_field.h"
#include "line/output_formats.h"

#include <QLocale>

#include <gtest/gtest.h>

namespace {

TEST(OutputFormatsTest, HostsThatNeedQuotingReadBack)
{
    std::vector<TReading> readings;
    for (const char* host : {"r\xc3\xb6uter, \"north\"", "line\nfeed", "back\\slash", ""}) {
        TReading r = ZyxelReading(1765107000123 + std::int64_t(readings.size()) * 60000, QString::fromUtf8(host),
            readings.size() % 2 == 0);
        r.Bits[300] = std::uint8_t(readings.size() + 9);
        readings.push_back(r);
    }
    EXPECT_EQ(ReadingsFromCsv(FormatCsv(readings)), readings);
    EXPECT_EQ(ReadingsFromJson(FormatJson(readings)), readings);
    EXPECT_EQ(FormatJson(readings).count('\n'), 4); // one line each, line feed in a host or not

    const auto samples = ParsePrometheus(FormatPrometheus(readings, {300, 300}));
    ASSERT_TRUE(samples.has_value()) << FormatPrometheus(readings, {300, 300}).toStdString();
    const std::map<QString, double> tones = {
        {QStringLiteral(R"(host="r)") + QChar(0xf6) + QStringLiteral(R"(uter, \"north\"",direction="downstream",tone="300")"), 9},
        {QStringLiteral(R"(host="line\nfeed",direction="downstream",tone="300")"), 10},
        {QStringLiteral(R"(host="back\\slash",direction="downstream",tone="300")"), 11},
        {QStringLiteral(R"(host="",direction="downstream",tone="300")"), 12},
    };
    EXPECT_EQ(samples->at(QStringLiteral("tirvane_tone_bit_load")), tones);
    EXPECT_EQ(samples->at(QStringLiteral("tirvane_downstream_bit_load")).at(QStringLiteral(R"(host="")")), 12);
}

// The table writes frequencies as the window's read-out, in the user's locale.
TEST(OutputFormatsTest, TableFrequenciesAsTheReadOut)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    TReading reading = ZyxelReading(1765107000123, QStringLiteral("127.0.0.5"), false);
    reading.Bits[33] = 7;
    const QList<QByteArray> lines = FormatTable({reading}).split('\n');
    QLocale::setDefault(saved);
    EXPECT_EQ(lines[0], "2025-12-07T11:30:00.123Z 127.0.0.5 not completed");
    EXPECT_EQ(lines[2 + 33].simplified(), "33 142,3125 7");
    EXPECT_EQ(lines[2 + 512].simplified(), "512 2208 0");
}

// Written a reading at a time, every format is what it is written at once:
// exports that stream print nothing else than exports that did not.
TEST(OutputFormatsTest, AReadingAtATimeIsTheSameText)
{
    std::vector<TReading> three;
    for (const char* host : {"127.0.0.1", "b, \"quoted\"\t\x01\\ r\xc3\xb6\x7f\n", "127.0.0.1"}) {
        three.push_back(ZyxelReading(1765107000123 + std::int64_t(three.size()) * 60000, QString::fromUtf8(host),
                                     three.size() != 1));
        three.back().Bits[40] = std::uint8_t(three.size() * 5);
        three.back().Bits[300] = 200;
    }
    TReading vdsl = ZyxelReading(1765107000000, QStringLiteral("v"), true);
    vdsl.Bits.assign(4096, 3);
    vdsl.Bands = {{{0, 31}, {870, 1205}}, {{32, 859}, {1216, 4095}}};
    const struct {
        const char* name;
        std::vector<TReading> readings;
        TToneSpan span;
    } cases[] = {
        {"none", {}, {}},
        {"three, two hosts", three, {}},
        {"upper half", three, {256, 512}},
        {"4096 tones", {vdsl}, {0, 4095}},
    };
    for (const auto& c : cases) {
        for (const TOutputFormat format :
             {TOutputFormat::Table, TOutputFormat::Csv, TOutputFormat::Json, TOutputFormat::Prometheus}) {
            TReadingsWriter writer(format, c.span);
            QByteArray streamed;
            for (const TReading& reading : c.readings)
                streamed += writer.Next(reading);
            streamed += writer.Finish();
            EXPECT_EQ(streamed, FormatReadings(format, c.readings, c.span)) << c.name << " " << int(format);
        }
    }
}

// The one CSV field writer, which the readings' and the events' CSV both use:
// a field that would split a row or a line is quoted, whatever breaks it.
TEST(OutputFormatsTest, CsvFieldsThatWouldSplitAreQuoted)
{
    const struct {
        const char* text;
        const char* field;
    } cases[] = {
        {"127.0.0.1", "127.0.0.1"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"cr\rhere", "\"cr\rhere\""},
        {"lf\nhere", "\"lf\nhere\""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CsvField(QString::fromUtf8(c.text)), QByteArray(c.field)) << c.text;
}

} // namespace
