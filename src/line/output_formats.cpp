#include "line/output_formats.h"

#include "line/csv_field.h"
#include "line/hover_readout.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <algorithm>
#include <map>

namespace {

// The span kept within the tones of the widest line among the readings (of
// today's line while there are none), so one header fits every row.
TToneSpan Clamped(TToneSpan span, const std::vector<TReading>& readings)
{
    std::size_t tones = readings.empty() ? std::size_t(ZyxelToneCount) : 1;
    for (const TReading& reading : readings)
        tones = std::max(tones, reading.Bits.size());
    const int last = int(std::min<std::size_t>(tones, MaxToneCount)) - 1;
    span.FirstTone = std::clamp(span.FirstTone, 0, last);
    span.LastTone = std::clamp(span.LastTone, span.FirstTone, last);
    return span;
}

// Label values escape backslash, double quote and line feed.
QByteArray PrometheusLabel(const QString& text)
{
    QByteArray value = text.toUtf8();
    value.replace("\\", "\\\\").replace("\"", "\\\"").replace("\n", "\\n");
    return value;
}

// "upstream", "downstream", or "unused" for a tone in neither direction's bands.
const char* ToneDirection(const TReading& reading, int tone)
{
    switch (reading.Bands.DirectionOf(tone)) {
    case TToneDirection::Upstream:
        return "upstream";
    case TToneDirection::Downstream:
        return "downstream";
    case TToneDirection::Neither:
        break;
    }
    return "unused";
}

QJsonArray BandsJson(const std::vector<TToneBand>& bands)
{
    QJsonArray out;
    for (const TToneBand& band : bands)
        out.append(QJsonArray{band.First, band.Last});
    return out;
}

QJsonObject BandPlanJson(const TBandPlan& plan)
{
    return {{QStringLiteral("upstream"), BandsJson(plan.Upstream)},
        {QStringLiteral("downstream"), BandsJson(plan.Downstream)}};
}

void Family(QByteArray& out, const char* name, const char* help)
{
    out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + " gauge\n";
}

} // namespace

std::optional<TOutputFormat> OutputFormatFromName(const QString& name)
{
    if (name == QLatin1String("table"))
        return TOutputFormat::Table;
    if (name == QLatin1String("csv"))
        return TOutputFormat::Csv;
    if (name == QLatin1String("json"))
        return TOutputFormat::Json;
    if (name == QLatin1String("prometheus"))
        return TOutputFormat::Prometheus;
    return std::nullopt;
}

QString ReadingTimeText(std::int64_t timeMs)
{
    return QDateTime::fromMSecsSinceEpoch(timeMs, Qt::UTC).toString(Qt::ISODateWithMs);
}

QByteArray FormatTable(const std::vector<TReading>& readings, TToneSpan span)
{
    span = Clamped(span, readings);
    QByteArray out;
    bool first = true;
    for (const TReading& reading : readings) {
        if (!first)
            out += '\n';
        first = false;
        out += (ReadingTimeText(reading.TimeMs) + QLatin1Char(' ') + reading.Host
                   + (reading.Completed ? QStringLiteral(" completed") : QStringLiteral(" not completed")))
                   .toUtf8();
        out += "\nTone  Frequency (kHz)  Bits\n";
        for (int tone = span.FirstTone; tone <= span.LastTone; ++tone) {
            out += QStringLiteral("%1  %2  %3\n")
                       .arg(tone, 4)
                       .arg(ToneFrequencyText(tone, reading.SpacingKHz), 15)
                       .arg(ToneBitsAt(reading, tone), 4)
                       .toUtf8();
        }
    }
    return out;
}

static QByteArray CsvHeader(TToneSpan span)
{
    QByteArray out = "time,host,completed";
    for (int tone = span.FirstTone; tone <= span.LastTone; ++tone)
        out += ",tone_" + QByteArray::number(tone);
    out += "\r\n";
    return out;
}

QByteArray FormatCsv(const std::vector<TReading>& readings, TToneSpan span)
{
    span = Clamped(span, readings);
    QByteArray out = CsvHeader(span);
    for (const TReading& reading : readings) {
        out += CsvField(ReadingTimeText(reading.TimeMs)) + ',' + CsvField(reading.Host) + ','
            + (reading.Completed ? "true" : "false");
        for (int tone = span.FirstTone; tone <= span.LastTone; ++tone)
            out += ',' + QByteArray::number(ToneBitsAt(reading, tone));
        out += "\r\n";
    }
    return out;
}

QByteArray FormatJson(const std::vector<TReading>& readings, TToneSpan span)
{
    span = Clamped(span, readings);
    QByteArray out;
    for (const TReading& reading : readings) {
        QJsonArray bits;
        for (int tone = span.FirstTone; tone <= span.LastTone; ++tone)
            bits.append(ToneBitsAt(reading, tone));
        const QJsonObject object{
            {QStringLiteral("time"), ReadingTimeText(reading.TimeMs)},
            {QStringLiteral("time_ms"), qint64(reading.TimeMs)},
            {QStringLiteral("host"), reading.Host},
            {QStringLiteral("completed"), reading.Completed},
            {QStringLiteral("first_tone"), span.FirstTone},
            {QStringLiteral("bits"), bits},
            {QStringLiteral("router"), reading.Router},
            {QStringLiteral("mode"), reading.Mode},
            {QStringLiteral("tone_count"), qint64(reading.Bits.size())},
            {QStringLiteral("spacing_khz"), reading.SpacingKHz},
            {QStringLiteral("bands"), BandPlanJson(reading.Bands)},
        };
        out += QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    }
    return out;
}

QByteArray FormatPrometheus(const std::vector<TReading>& readings, TToneSpan span)
{
    span = Clamped(span, readings);
    // A series may appear only once in an exposition: the latest reading of
    // each host stands for it.
    std::map<QString, const TReading*> latest;
    for (const TReading& reading : readings) {
        const TReading*& slot = latest[reading.Host];
        if (!slot || reading.TimeMs >= slot->TimeMs)
            slot = &reading;
    }

    // Sample timestamps are left out: the text-file collector refuses them,
    // so the reading's time is a gauge of its own.
    QByteArray out;
    // The exposition checker reads names ending in "bits" as data sizes; a
    // tone's load in bits is a count of its own.
    Family(out, "tirvane_tone_bit_load", "Bits the modem loaded onto the tone.");
    for (const auto& [host, reading] : latest) {
        const QByteArray label = "host=\"" + PrometheusLabel(host) + '"';
        for (int tone = span.FirstTone; tone <= span.LastTone; ++tone) {
            out += "tirvane_tone_bit_load{" + label + ",direction=\"" + ToneDirection(*reading, tone) + "\",tone=\""
                + QByteArray::number(tone) + "\"} "
                + QByteArray::number(ToneBitsAt(*reading, tone)) + '\n';
        }
    }
    struct Total {
        const char* name;
        const char* help;
        bool upstream;
    };
    const Total totals[] = {
        {"tirvane_upstream_bit_load", "Bits loaded onto the upstream tones, in total.", true},
        {"tirvane_downstream_bit_load", "Bits loaded onto the downstream tones, in total.", false},
    };
    for (const Total& total : totals) {
        Family(out, total.name, total.help);
        for (const auto& [host, reading] : latest) {
            const TDirectionBits bits = reading->Bands.BitsPerDirection(reading->Bits);
            const int sum = total.upstream ? bits.Upstream : bits.Downstream;
            out += QByteArray(total.name) + "{host=\"" + PrometheusLabel(host) + "\"} "
                + QByteArray::number(sum) + '\n';
        }
    }
    Family(out, "tirvane_reading_completed", "1 when the dialogue with the router completed, 0 when it broke off.");
    for (const auto& [host, reading] : latest) {
        out += "tirvane_reading_completed{host=\"" + PrometheusLabel(host) + "\"} "
            + (reading->Completed ? "1" : "0") + '\n';
    }
    Family(out, "tirvane_reading_time_seconds", "Time of the reading, seconds since 1970 (UTC).");
    for (const auto& [host, reading] : latest) {
        out += "tirvane_reading_time_seconds{host=\"" + PrometheusLabel(host) + "\"} "
            + QByteArray::number(double(reading->TimeMs) / 1000.0, 'f', 3) + '\n';
    }
    return out;
}

QByteArray FormatReadings(TOutputFormat format, const std::vector<TReading>& readings, TToneSpan span)
{
    switch (format) {
    case TOutputFormat::Table: return FormatTable(readings, span);
    case TOutputFormat::Csv: return FormatCsv(readings, span);
    case TOutputFormat::Json: return FormatJson(readings, span);
    case TOutputFormat::Prometheus: return FormatPrometheus(readings, span);
    }
    return {};
}

namespace {

void AppendNumber(QByteArray& out, int value)
{
    char digits[12];
    int n = 0;
    unsigned v = unsigned(value < 0 ? -value : value);
    do {
        digits[n++] = char('0' + v % 10);
        v /= 10;
    } while (v);
    if (value < 0)
        out += '-';
    while (n > 0)
        out += digits[--n];
}

// A JSON string as Qt's compact documents write it: quote and backslash
// escaped, control characters as \b \f \n \r \t or \u00XX, the rest as UTF-8.
void AppendJsonText(QByteArray& out, const QString& text)
{
    out += '"';
    for (const char c : text.toUtf8()) {
        const auto u = std::uint8_t(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (u < 0x20) {
                static const char hex[] = "0123456789abcdef";
                out += "\\u00";
                out += hex[u >> 4];
                out += hex[u & 15];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

} // namespace

TReadingsWriter::TReadingsWriter(TOutputFormat format, TToneSpan span)
    : FFormat(format)
    , FSpan(span)
    , FClamped(Clamped(span, {}))
{
}

QByteArray TReadingsWriter::Next(const TReading& reading)
{
    const bool first = FFirst;
    if (first)
        FClamped = Clamped(FSpan, {reading});
    FFirst = false;
    QByteArray out;
    switch (FFormat) {
    case TOutputFormat::Table:
        out = FormatTable({reading}, FClamped);
        if (!first)
            out.prepend('\n');
        return out;
    case TOutputFormat::Csv: {
        if (first)
            out = CsvHeader(FClamped);
        out.reserve(out.size() + 64 + 3 * (FClamped.LastTone - FClamped.FirstTone + 1));
        out += CsvField(ReadingTimeText(reading.TimeMs)) + ',' + CsvField(reading.Host) + ','
            + (reading.Completed ? "true" : "false");
        for (int tone = FClamped.FirstTone; tone <= FClamped.LastTone; ++tone) {
            out += ',';
            AppendNumber(out, ToneBitsAt(reading, tone));
        }
        out += "\r\n";
        return out;
    }
    case TOutputFormat::Json: {
        // The object as FormatJson writes it, its keys in Qt's sorted order,
        // written by hand: a document a reading would halve the rate.
        // A line's band plan stays as it is from reading to reading: its
        // text is made again only when it changes.
        if (FBandsText.isEmpty() || !(reading.Bands == FBands)) {
            FBands = reading.Bands;
            FBandsText = QJsonDocument(BandPlanJson(reading.Bands)).toJson(QJsonDocument::Compact);
        }
        out.reserve(256 + 3 * (FClamped.LastTone - FClamped.FirstTone + 1));
        out += "{\"bands\":" + FBandsText + ",\"bits\":[";
        for (int tone = FClamped.FirstTone; tone <= FClamped.LastTone; ++tone) {
            if (tone > FClamped.FirstTone)
                out += ',';
            AppendNumber(out, ToneBitsAt(reading, tone));
        }
        out += reading.Completed ? "],\"completed\":true,\"first_tone\":" : "],\"completed\":false,\"first_tone\":";
        AppendNumber(out, FClamped.FirstTone);
        out += ",\"host\":";
        AppendJsonText(out, reading.Host);
        out += ",\"mode\":";
        AppendJsonText(out, reading.Mode);
        out += ",\"router\":";
        AppendJsonText(out, reading.Router);
        out += ",\"spacing_khz\":" + QByteArray::number(reading.SpacingKHz, 'g', QLocale::FloatingPointShortest);
        out += ",\"time\":\"" + ReadingTimeText(reading.TimeMs).toLatin1() + "\",\"time_ms\":"
            + QByteArray::number(qint64(reading.TimeMs)) + ",\"tone_count\":"
            + QByteArray::number(qint64(reading.Bits.size())) + "}\n";
        return out;
    }
    case TOutputFormat::Prometheus: {
        const auto same = std::find_if(FLatest.begin(), FLatest.end(),
                                       [&reading](const TReading& r) { return r.Host == reading.Host; });
        if (same == FLatest.end())
            FLatest.push_back(reading);
        else if (reading.TimeMs >= same->TimeMs)
            *same = reading;
        return {};
    }
    }
    return {};
}

QByteArray TReadingsWriter::Finish()
{
    if (FFormat == TOutputFormat::Prometheus)
        return FormatPrometheus(FLatest, FSpan);
    if (FFirst && FFormat == TOutputFormat::Csv)
        return FormatCsv({}, FSpan);
    return {};
}
