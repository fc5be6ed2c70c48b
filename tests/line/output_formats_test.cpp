// What the formats must quote or escape, read back by the formats' own rules
// (tirvane_read_test compares every format with what the router served).
#include "format_parsers.h"
#include "line/csv_field.h"
#include "line/output_formats.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <numeric>

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

// The tones a format printed of the last reading (the CSV: its header's).
std::vector<int> PrintedTones(TOutputFormat format, const QByteArray& text, const QString& host)
{
    std::vector<int> tones;
    const QList<QByteArray> lines = text.trimmed().split('\n');
    switch (format) {
    case TOutputFormat::Csv:
        for (const QByteArray& field : lines.front().trimmed().split(','))
            if (field.startsWith("tone_"))
                tones.push_back(field.mid(5).toInt());
        break;
    case TOutputFormat::Json: {
        const QJsonObject last = QJsonDocument::fromJson(lines.back()).object();
        const int first = last[QStringLiteral("first_tone")].toInt();
        for (int i = 0; i < last[QStringLiteral("bits")].toArray().size(); ++i)
            tones.push_back(first + i);
        break;
    }
    case TOutputFormat::Table: {
        const QList<QByteArray> block = text.split('\n').mid(text.left(text.lastIndexOf("\n\n") + 2).count('\n'));
        for (const QByteArray& line : block.mid(2))
            if (!line.isEmpty())
                tones.push_back(line.simplified().split(' ').front().toInt());
        break;
    }
    case TOutputFormat::Prometheus:
        for (const QByteArray& line : lines)
            if (line.startsWith("tirvane_tone_bit_load{host=\"" + host.toUtf8() + '"'))
                tones.push_back(line.mid(line.indexOf("tone=\"") + 6).split('"').front().toInt());
        break;
    }
    return tones;
}

// Every tone the reading holds, in each format and written a reading at a
// time as exports write; a range is that part of each reading's own line; a
// reading without tones prints none, and waits for the CSV header of a line.
TEST(OutputFormatsTest, EveryToneOfTheLineOrItsHalf)
{
    const auto line = [](const char* host, int tones) {
        TReading r = ZyxelReading(1765107000000, QString::fromLatin1(host), tones > 0);
        r.Bits.assign(std::size_t(tones), 2);
        return r;
    };
    const TReading zyxel = ZyxelReading(1765107000000, QStringLiteral("z"), true);
    const struct {
        std::vector<TReading> readings;
        std::optional<TRangeChoice> range;
        int first, last; // of the last reading; last < first: none
    } cases[] = {
        {{line("v", 4096)}, std::nullopt, 0, 4095},
        {{line("v", 8192)}, std::nullopt, 0, 8191},
        {{line("v", 4096)}, TRangeChoice::rc256To512, 2048, 4095},
        {{line("v", 4096)}, TRangeChoice::rc0To255, 0, 2047},
        {{line("l", 512)}, TRangeChoice::rc256To512, 256, 511},
        {{line("l", 512)}, TRangeChoice::rc0To512, 0, 511},
        {{zyxel}, TRangeChoice::rc256To512, 256, 512},
        {{zyxel}, std::nullopt, 0, 512},
        {{line("f", 0)}, std::nullopt, 0, -1},
        {{line("f", 0), line("v", 4096)}, std::nullopt, 0, 4095},
    };
    for (const auto& c : cases) {
        std::vector<int> expected(std::size_t(std::max(0, c.last - c.first + 1)));
        std::iota(expected.begin(), expected.end(), c.first);
        for (const TOutputFormat format :
             {TOutputFormat::Table, TOutputFormat::Csv, TOutputFormat::Json, TOutputFormat::Prometheus}) {
            TToneSpan span;
            span.Range = c.range;
            TReadingsWriter writer(format, span);
            QByteArray text;
            for (const TReading& reading : c.readings)
                text += writer.Next(reading);
            text += writer.Finish();
            SCOPED_TRACE(std::to_string(c.readings.back().Bits.size()) + " tones, format " + std::to_string(int(format)));
            EXPECT_EQ(PrintedTones(format, text, c.readings.back().Host), expected);
            if (format == TOutputFormat::Csv) {
                EXPECT_EQ(text.count('\n'), qsizetype(c.readings.size()) + 1);
            }
        }
    }
}

// The line's figures in every format with only what the router printed: a
// value not printed is no key, no series and an empty CSV field, never 0.
TEST(OutputFormatsTest, FiguresOnlyAsPrinted)
{
    TReading full = ZyxelReading(1765107000123, QStringLiteral("full"), true);
    full.Figures = {QStringLiteral("Showtime"), {80000, 100000, 8.3, 21.4, 20.9, 13.2, 12, 88213, 9, 0, 41, 5120},
        {20000, 40000, 6.1, 12.5, 12.2, -3.5, 3, 417, 2, 1, 41, 311}, 7, 11525};
    TReading some = ZyxelReading(1765107060123, QStringLiteral("some"), true);
    some.Figures.Down.MarginDb = 0.0; // a margin of 0 dB is a value
    some.Figures.Up.Crc = 4294967295u;
    some.Figures.Retrains = 0;
    const TReading none = ZyxelReading(1765107120123, QStringLiteral("none"), false);
    const struct {
        const TReading* reading;
        const char* json; // the figures' and counters' members as written
        QStringList csv;  // the figure columns
        int series;       // figure and counter samples in the exposition
    } cases[] = {
        {&full,
            R"("counters":{"downstream":{"bit_swaps":5120,"crc":12,"es":9,"fec":88213,"ses":0,"uas":41},"retrains":7,)"
            R"("since_link_s":11525,"upstream":{"bit_swaps":311,"crc":3,"es":2,"fec":417,"ses":1,"uas":41}},)"
            R"("figures":{"downstream":{"attainable_kbps":100000,"attenuation_db":21.4,"margin_db":8.3,"power_dbm":13.2,)"
            R"("rate_kbps":80000,"signal_attenuation_db":20.9},"state":"Showtime","upstream":{"attainable_kbps":40000,)"
            R"("attenuation_db":12.5,"margin_db":6.1,"power_dbm":-3.5,"rate_kbps":20000,"signal_attenuation_db":12.2}},)",
            {"80000", "100000", "8.3", "21.4", "20.9", "13.2", "20000", "40000", "6.1", "12.5", "12.2", "-3.5", "12",
                "88213", "9", "0", "41", "5120", "3", "417", "2", "1", "41", "311", "7", "11525"},
            26},
        {&some, R"("counters":{"retrains":0,"upstream":{"crc":4294967295}},"figures":{"downstream":{"margin_db":0}},)",
            {"", "", "0", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "4294967295", "", "", "", "", "",
                "0", ""},
            3},
        {&none, "", QStringList(26, QString()), 0},
    };
    for (const auto& c : cases) {
        const TReading& r = *c.reading;
        SCOPED_TRACE(r.Host.toStdString());
        const QByteArray json = FormatJson({r});
        const QByteArray completed = r.Completed ? "\"completed\":true," : "\"completed\":false,";
        EXPECT_TRUE(json.contains(completed + c.json + "\"first_tone\"")) << json.left(400).toStdString();
        TReadingsWriter jsonWriter(TOutputFormat::Json, {});
        EXPECT_EQ(jsonWriter.Next(r), json);

        const QByteArray csv = FormatCsv({r}, {0, 1}, TToneQuantity::Bits, true);
        const auto rows = ParseCsv(csv);
        ASSERT_TRUE(rows && rows->size() == 2) << csv.toStdString();
        EXPECT_EQ(rows->at(0).mid(5).join(','), QString::fromLatin1(CsvFigureColumns()));
        EXPECT_EQ(rows->at(1).mid(5), c.csv);
        TReadingsWriter csvWriter(TOutputFormat::Csv, {0, 1}, TToneQuantity::Bits, true);
        EXPECT_EQ(csvWriter.Next(r), csv);

        const QByteArray exposition = FormatPrometheus({r}, {0, 0});
        const auto samples = ParsePrometheus(exposition);
        ASSERT_TRUE(samples) << exposition.toStdString();
        int series = 0;
        for (const auto& [name, values] : *samples)
            series += name.startsWith(QLatin1String("tirvane_line_")) ? int(values.size()) : 0;
        EXPECT_EQ(series, c.series);
        if (const auto verdict = PromtoolCheck(exposition)) {
            EXPECT_EQ(verdict->first, 0) << verdict->second.toStdString();
        }
    }
    // Bytes a second: the exposition's base unit for data.
    EXPECT_EQ(ParsePrometheus(FormatPrometheus({full}, {0, 0}))
                  ->at(QStringLiteral("tirvane_line_rate_bytes_per_second"))
                  .at(QStringLiteral("host=\"full\",direction=\"downstream\"")),
        10'000'000);
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
