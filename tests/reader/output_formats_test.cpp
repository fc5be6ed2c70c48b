// The reader's formats, each read back by a reader of its own rules and
// compared with the readings written.
#include "format_parsers.h"
#include "reader/output_formats.h"

#include <QLocale>

#include <gtest/gtest.h>

namespace {

TReading MakeReading(std::int64_t timeMs, const QString& host, bool completed, int seed)
{
    TReading r;
    r.TimeMs = timeMs;
    r.Host = host;
    r.Completed = completed;
    for (int tone = 1; tone < ReadingToneCount; ++tone)
        r.Bits[std::size_t(tone)] = std::uint8_t((tone * 5 + seed) % 16);
    return r;
}

// Hosts as a user may type them, some with what each format must quote.
const std::vector<TReading> Readings = {
    MakeReading(1765107000123, QStringLiteral("127.0.0.5"), true, 1),
    MakeReading(1765107060000, QStringLiteral("r\u00f6uter, \"north\"\nline"), false, 2),
    MakeReading(1765107120999, QStringLiteral("back\\slash"), true, 3),
};

// The readings with only the tones of span kept.
std::vector<TReading> OnlySpan(std::vector<TReading> readings, TToneSpan span)
{
    for (TReading& r : readings)
        for (int tone = 0; tone < ReadingToneCount; ++tone)
            if (tone < span.FirstTone || tone > span.LastTone)
                r.Bits[std::size_t(tone)] = 0;
    return readings;
}

TEST(OutputFormatsTest, CsvAndJsonReadBack)
{
    const struct {
        const char* name;
        QByteArray (*format)(const std::vector<TReading>&, TToneSpan);
        std::optional<std::vector<TReading>> (*parse)(const QByteArray&);
    } formats[] = {
        {"csv", FormatCsv, ReadingsFromCsv},
        {"json", FormatJson, ReadingsFromJson},
    };
    const TToneSpan spans[] = {{0, 512}, {0, 255}, {256, 512}};
    for (const auto& f : formats) {
        for (const TToneSpan& span : spans) {
            SCOPED_TRACE(testing::Message() << f.name << " " << span.FirstTone << "-" << span.LastTone);
            const QByteArray text = f.format(Readings, span);
            const auto back = f.parse(text);
            ASSERT_TRUE(back.has_value()) << text.left(300).toStdString();
            EXPECT_EQ(*back, OnlySpan(Readings, span));
        }
    }
    // One line per reading in JSON (the host's line feed stays escaped), a
    // header and a row per reading in CSV.
    EXPECT_EQ(FormatJson(Readings).count('\n'), 3);
    EXPECT_EQ(ParseCsv(FormatCsv(Readings))->size(), 4u);
    EXPECT_EQ(ParseCsv(FormatCsv(Readings))->at(0).size(), 3 + 513);
    EXPECT_TRUE(FormatCsv(Readings).startsWith("time,host,completed,tone_0,tone_1,"));
    EXPECT_TRUE(FormatCsv({}, {}).endsWith("tone_512\r\n"));
}

TEST(OutputFormatsTest, PrometheusFollowsTheExpositionRules)
{
    std::vector<TReading> readings = Readings;
    // An older reading of the first host: only the latest one may show.
    readings.push_back(MakeReading(1765100000000, QStringLiteral("127.0.0.5"), false, 9));
    std::string why;
    const auto samples = ParsePrometheus(FormatPrometheus(readings, {256, 512}), &why);
    ASSERT_TRUE(samples.has_value()) << why;

    std::map<std::string, std::map<std::string, double>> byName; // name -> host|tone -> value
    for (const TPrometheusSample& s : *samples) {
        const auto tone = s.Labels.find("tone");
        byName[s.Name][s.Labels.at("host") + (tone == s.Labels.end() ? "" : "|" + tone->second)] = s.Value;
    }
    for (const TReading& r : Readings) {
        SCOPED_TRACE(r.Host.toStdString());
        const std::string host = r.Host.toStdString();
        int up = 0, down = 0;
        for (int tone = 0; tone < ReadingToneCount; ++tone)
            (tone < FirstDownstreamTone ? up : down) += r.Bits[std::size_t(tone)];
        const struct {
            const char* name;
            std::string key;
            double value;
        } cases[] = {
            {"tirvane_tone_bits", host + "|256", double(r.Bits[256])},
            {"tirvane_tone_bits", host + "|512", double(r.Bits[512])},
            {"tirvane_upstream_bits", host, double(up)},
            {"tirvane_downstream_bits", host, double(down)},
            {"tirvane_reading_completed", host, r.Completed ? 1.0 : 0.0},
            {"tirvane_reading_time_seconds", host, double(r.TimeMs) / 1000.0},
        };
        for (const auto& c : cases)
            EXPECT_DOUBLE_EQ(byName[c.name][c.key], c.value) << c.name << " " << c.key;
        EXPECT_EQ(byName["tirvane_tone_bits"].count(host + "|255"), 0u); // outside the range
    }
    EXPECT_EQ(byName["tirvane_tone_bits"].size(), 3u * 257u);
}

TEST(OutputFormatsTest, TableWritesFrequenciesAsTheReadOut)
{
    const QLocale saved;
    const struct {
        QLocale locale;
        int tone;
        const char* frequency;
    } cases[] = {
        {QLocale::c(), 33, "142.3125"},
        {QLocale::c(), 0, "0"},
        {QLocale::c(), 40, "172.5"},
        {QLocale(QLocale::German, QLocale::Germany), 33, "142,3125"},
    };
    for (const auto& c : cases) {
        QLocale::setDefault(c.locale);
        const QList<QByteArray> lines = FormatTable({Readings[0]}, {0, 40}).split('\n');
        ASSERT_EQ(lines.size(), 2 + 41 + 1);
        EXPECT_EQ(lines[0], "2025-12-07T11:30:00.123Z 127.0.0.5 completed");
        const QList<QByteArray> columns = lines[2 + c.tone].simplified().split(' ');
        EXPECT_EQ(columns, (QList<QByteArray>{QByteArray::number(c.tone), c.frequency,
                               QByteArray::number(Readings[0].Bits[std::size_t(c.tone)])}));
    }
    QLocale::setDefault(saved);
    EXPECT_TRUE(FormatTable({Readings[1]}).startsWith("2025-12-07T11:31:00.000Z r\xc3\xb6uter"));
    EXPECT_TRUE(FormatTable({Readings[1]}).contains("line not completed\nTone"));
}

TEST(OutputFormatsTest, FormatNames)
{
    EXPECT_EQ(OutputFormatFromName(QStringLiteral("prometheus")), TOutputFormat::Prometheus);
    EXPECT_EQ(OutputFormatFromName(QStringLiteral("csv")), TOutputFormat::Csv);
    EXPECT_EQ(OutputFormatFromName(QStringLiteral("CSV")), std::nullopt);
    EXPECT_EQ(OutputFormatFromName(QString()), std::nullopt);
}

} // namespace
