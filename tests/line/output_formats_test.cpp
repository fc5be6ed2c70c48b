// What the formats must quote or escape, read back by the formats' own rules
// (tirvane_read_test compares every format with what the router served).
#include "format_parsers.h"
#include "line/output_formats.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <gtest/gtest.h>

namespace {

// A VDSL2 line with SNR both ways, QLN and Hlog downstream only: groups of 8,
// some not measured, some tones carrying no bits.
TReading SpectraReading()
{
    TReading r = ZyxelReading(1765107000000, QStringLiteral("v"), true);
    r.Bands = {{{7, 31}, {870, 1205}}, {{33, 859}, {1216, 4095}}};
    r.Bits.assign(4096, 3);
    std::fill(r.Bits.begin() + 16, r.Bits.begin() + 24, 0);
    r.Bits[63] = 0;
    const auto part = [](std::vector<std::pair<int, float>> groups) {
        TSpectrumPart p{8, std::vector<float>(512, NotMeasured)};
        for (const auto& [g, v] : groups)
            p.Groups[std::size_t(g)] = v;
        return p;
    };
    r.Spectra.Snr = {part({{1, 20.5f}, {2, 10}, {3, 30}}), part({{5, 40}, {6, 41}, {7, 39}})};
    r.Spectra.Qln.Down = part({{5, -140.5f}});
    r.Spectra.Hlog.Down = part({{5, -23.4f}});
    return r;
}

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
        {"SNR, QLN and Hlog", {SpectraReading()}, {0, 4095}},
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

// Each tone takes its group's value in its band's direction, in JSON and in
// CSV alike; not measured, outside the bands or a direction missing is null
// (an empty cell); a reading without them has none of the keys.
TEST(OutputFormatsTest, SpectraPerToneAsTheirGroups)
{
    const TReading reading = SpectraReading();
    const TToneSpan line{0, 4095};
    const QJsonObject object = QJsonDocument::fromJson(FormatJson({reading}, line)).object();
    const QJsonValue none(QJsonValue::Null);
    const struct {
        TToneQuantity quantity;
        const char* key;
        int tone;
        QJsonValue json;
        const char* csv;
    } cases[] = {
        {TToneQuantity::Snr, "snr_db", 7, none, ""},    // a band's first group, not measured
        {TToneQuantity::Snr, "snr_db", 8, 20.5, "20.5"},
        {TToneQuantity::Snr, "snr_db", 23, 10, "10"},   // no bits, still measured
        {TToneQuantity::Snr, "snr_db", 32, none, ""},   // in neither direction's bands
        {TToneQuantity::Qln, "qln_dbm_hz", 8, none, ""}, // upstream not measured
        {TToneQuantity::Qln, "qln_dbm_hz", 40, -140.5, "-140.5"},
        {TToneQuantity::Hlog, "hlog_db", 41, -23.4, "-23.4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " " + std::to_string(c.tone));
        const QJsonArray values = object.value(QLatin1String(c.key)).toArray();
        ASSERT_EQ(values.size(), 4096);
        EXPECT_EQ(values.at(c.tone), c.json);
        const auto rows = ParseCsv(FormatCsv({reading}, line, c.quantity));
        ASSERT_TRUE(rows && rows->size() == 2);
        EXPECT_EQ(rows->at(1).at(3 + c.tone), QString::fromLatin1(c.csv));
    }
    EXPECT_EQ(object.value(QStringLiteral("group_size")).toObject(),
        QJsonDocument::fromJson(R"({"hlog":{"upstream":null,"downstream":8},"qln":{"upstream":null,"downstream":8},)"
                                R"("snr":{"upstream":8,"downstream":8}})").object());
    EXPECT_TRUE(FormatJson({reading}, line).contains(",-23.4,"));

    const QByteArray plain = FormatJson({ZyxelReading(0, QStringLiteral("z"), true)});
    for (const char* key : {"snr_db", "qln_dbm_hz", "hlog_db", "group_size"})
        EXPECT_FALSE(plain.contains(key)) << key;
}

// Two gauges a direction over the tones that carry bits: tones without bits
// do not count, an even count takes the middle pair's mean.
TEST(OutputFormatsTest, PrometheusHasTheLowestAndMedianSnr)
{
    const auto samples = ParsePrometheus(FormatPrometheus({SpectraReading()}));
    ASSERT_TRUE(samples);
    const QString up = QStringLiteral(R"(host="v",direction="upstream")");
    const QString down = QStringLiteral(R"(host="v",direction="downstream")");
    const std::map<QString, double> lowest = {{up, 20.5}, {down, 39}};
    const std::map<QString, double> median = {{up, 25.25} /* 8 x 20.5, 8 x 30 */, {down, 40} /* 7 x 39, 8 x 40, 8 x 41 */};
    EXPECT_EQ(samples->at(QStringLiteral("tirvane_snr_lowest_db")), lowest);
    EXPECT_EQ(samples->at(QStringLiteral("tirvane_snr_median_db")), median);
    EXPECT_FALSE(FormatPrometheus({ZyxelReading(0, QStringLiteral("z"), true)}).contains("snr"));
}

} // namespace
