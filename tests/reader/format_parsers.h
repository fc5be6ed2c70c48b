// Readers built from each format's own rules, not from the writer's code:
// RFC 4180 CSV, one JSON document a line, the Prometheus text exposition.
#pragma once

#include "history/reading.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>

#include <map>
#include <optional>
#include <set>
#include <vector>

inline std::int64_t IsoToMs(const QString& text)
{
    const QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
    return t.isValid() && text.endsWith(QLatin1Char('Z')) ? t.toMSecsSinceEpoch() : -1;
}

// Records end in CR LF; a quoted field may hold commas, line breaks and
// doubled quotes; anything else is refused.
inline std::optional<std::vector<QStringList>> ParseCsv(const QByteArray& text)
{
    std::vector<QStringList> records(1);
    QByteArray field;
    bool inQuotes = false, closed = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inQuotes && c == '"' && text.mid(i + 1, 1) == "\"") {
            field += c;
            ++i;
        } else if (c == '"' && (inQuotes || field.isEmpty())) {
            closed = inQuotes;
            inQuotes = !inQuotes;
        } else if (inQuotes) {
            field += c;
        } else if (c == ',' || (c == '\r' && text.mid(i + 1, 1) == "\n")) {
            records.back() << QString::fromUtf8(field);
            field.clear();
            closed = false;
            if (c == '\r') {
                ++i;
                records.emplace_back();
            }
        } else if (closed || c == '"' || c == '\r' || c == '\n') {
            return std::nullopt;
        } else {
            field += c;
        }
    }
    if (inQuotes || !field.isEmpty() || !records.back().isEmpty())
        return std::nullopt; // the last record must end in CR LF
    records.pop_back();
    return records;
}

// Header "time,host,completed,tone_F,...,tone_L"; tones not in it stay 0.
inline std::optional<std::vector<TReading>> ReadingsFromCsv(const QByteArray& text)
{
    const auto records = ParseCsv(text);
    if (!records || records->empty() || records->front().mid(0, 3) != QStringList{"time", "host", "completed"})
        return std::nullopt;
    std::vector<TReading> readings;
    for (std::size_t r = 1; r < records->size(); ++r) {
        const QStringList& row = (*records)[r];
        if (row.size() != records->front().size())
            return std::nullopt;
        TReading reading{IsoToMs(row[0]), row[1], row[2] == QLatin1String("true"), {}};
        for (int i = 3; i < row.size(); ++i)
            reading.Bits.at(records->front()[i].mid(5).toUInt()) = std::uint8_t(row[i].toInt());
        readings.push_back(reading);
    }
    return readings;
}

inline std::optional<std::vector<TReading>> ReadingsFromJson(const QByteArray& text)
{
    std::vector<TReading> readings;
    for (const QByteArray& line : text.split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (line.isEmpty())
            continue;
        if (o.isEmpty() || IsoToMs(o[QStringLiteral("time")].toString()) != o[QStringLiteral("time_ms")].toInteger())
            return std::nullopt;
        TReading reading{o[QStringLiteral("time_ms")].toInteger(), o[QStringLiteral("host")].toString(),
            o[QStringLiteral("completed")].toBool(), {}};
        const QJsonArray bits = o[QStringLiteral("bits")].toArray();
        for (int i = 0; i < bits.size(); ++i)
            reading.Bits.at(std::size_t(o[QStringLiteral("first_tone")].toInt() + i)) = std::uint8_t(bits[i].toInt());
        readings.push_back(reading);
    }
    return readings;
}

// name -> "label=value,..." -> value. Refused: a sample before its family's
// TYPE or away from it, a family typed twice, a series twice, bad label
// escapes, a value that is no number, a timestamp (the text-file collector
// refuses them), no line feed at the end.
using TPrometheusSamples = std::map<QString, std::map<QString, double>>;
inline std::optional<TPrometheusSamples> ParsePrometheus(const QByteArray& text)
{
    static const QRegularExpression type(QStringLiteral(R"(^# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) gauge$)"));
    static const QRegularExpression sample(
        QStringLiteral(R"(^([a-zA-Z_:][a-zA-Z0-9_:]*)\{((?:[a-zA-Z_]\w*="(?:[^"\\\n]|\\[\\"n])*",?)*)\} (\S+)$)"));
    TPrometheusSamples samples;
    std::set<QString> done;
    QString family;
    if (!text.endsWith('\n'))
        return std::nullopt;
    for (const QString& line : QString::fromUtf8(text.chopped(1)).split(QLatin1Char('\n'))) {
        if (const auto t = type.match(line); t.hasMatch()) {
            if (!done.insert(t.captured(1)).second)
                return std::nullopt;
            family = t.captured(1);
            continue;
        }
        if (line.startsWith(QLatin1String("# HELP ")))
            continue;
        const auto s = sample.match(line);
        bool number = false;
        const double value = s.captured(3).toDouble(&number);
        if (!s.hasMatch() || s.captured(1) != family || !number
            || !samples[family].emplace(s.captured(2), value).second)
            return std::nullopt;
    }
    return samples;
}
