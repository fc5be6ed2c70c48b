// Readers built from each format's own rules, not from the writer's code:
// RFC 4180 CSV, one JSON document a line, the Prometheus text exposition.
#pragma once

#include "line/reading.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>

#include <map>
#include <optional>
#include <set>
#include <vector>

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
            field += text[i++];
        } else if (c == '"' && (inQuotes || field.isEmpty())) {
            closed = inQuotes;
            inQuotes = !inQuotes;
        } else if (!inQuotes && (c == ',' || (c == '\r' && text.mid(i + 1, 1) == "\n"))) {
            records.back() << QString::fromUtf8(field);
            field.clear();
            closed = false;
            if (c == '\r' && ++i)
                records.emplace_back();
        } else if (!inQuotes && (closed || c == '"' || c == '\r' || c == '\n')) {
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
    for (auto row = records->begin() + 1; row != records->end(); ++row) {
        const QDateTime time = QDateTime::fromString(row->value(0), Qt::ISODateWithMs);
        if (row->size() != records->front().size() || time.timeSpec() != Qt::UTC)
            return std::nullopt;
        readings.push_back(ZyxelReading(time.toMSecsSinceEpoch(), row->at(1), row->at(2) == "true"));
        for (int i = 3; i < row->size(); ++i)
            readings.back().Bits.at(records->front()[i].mid(5).toUInt()) = std::uint8_t(row->at(i).toInt());
    }
    return readings;
}

inline std::optional<std::vector<TReading>> ReadingsFromJson(const QByteArray& text)
{
    std::vector<TReading> readings;
    for (const QByteArray& line : text.split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        const QDateTime time = QDateTime::fromString(o["time"].toString(), Qt::ISODateWithMs);
        if (line.isEmpty())
            continue;
        if (time.timeSpec() != Qt::UTC || time.toMSecsSinceEpoch() != o["time_ms"].toInteger())
            return std::nullopt;
        readings.push_back(ZyxelReading(o["time_ms"].toInteger(), o["host"].toString(), o["completed"].toBool()));
        // The line's kind, where the object gives it.
        TReading& r = readings.back();
        if (o.contains("tone_count")) {
            r.Bits.assign(std::size_t(o["tone_count"].toInt()), 0);
            r.Router = o["router"].toString();
            r.Mode = o["mode"].toString();
            r.SpacingKHz = o["spacing_khz"].toDouble();
            for (const auto& [key, bands] : {std::pair{"upstream", &r.Bands.Upstream}, {"downstream", &r.Bands.Downstream}}) {
                bands->clear();
                for (const QJsonValue band : o["bands"][key].toArray())
                    bands->push_back({band[0].toInt(), band[1].toInt()});
            }
        }
        const QJsonArray bits = o["bits"].toArray();
        for (int i = 0; i < bits.size(); ++i)
            readings.back().Bits.at(std::size_t(o["first_tone"].toInt() + i)) = std::uint8_t(bits[i].toInt());
    }
    return readings;
}

// name -> labels as written -> value. Refused: a sample away from its
// family (after its "# TYPE name gauge" or "counter"), a family typed twice, a series
// twice, bad names or label escapes, a value that is no number, a timestamp
// (the text-file collector refuses them), no line feed at the end.
using TPrometheusSamples = std::map<QString, std::map<QString, double>>;
inline std::optional<TPrometheusSamples> ParsePrometheus(const QByteArray& text)
{
    static const QRegularExpression type(QStringLiteral(R"(^# TYPE ([a-zA-Z_:][\w:]*) (?:gauge|counter)$)"));
    static const QRegularExpression sample(
        QStringLiteral(R"(^([a-zA-Z_:][\w:]*)\{((?:[a-zA-Z_]\w*="(?:[^"\\\n]|\\[\\"n])*",?)*)\} (\S+)$)"));
    TPrometheusSamples samples;
    std::set<QString> typed;
    QString family;
    if (!text.endsWith('\n'))
        return std::nullopt;
    for (const QString& line : QString::fromUtf8(text.chopped(1)).split('\n')) {
        const auto t = type.match(line), s = sample.match(line);
        bool number = false;
        const double value = s.captured(3).toDouble(&number);
        if (t.hasMatch() && typed.insert(family = t.captured(1)).second)
            continue;
        if (line.startsWith("# HELP "))
            continue;
        if (!s.hasMatch() || s.captured(1) != family || !number || !samples[family].emplace(s.captured(2), value).second)
            return std::nullopt;
    }
    return samples;
}

// promtool's verdict on an exposition; none when promtool is not installed.
inline std::optional<std::pair<int, QByteArray>> PromtoolCheck(const QByteArray& exposition)
{
    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (promtool.isEmpty())
        return std::nullopt;
    QProcess process;
    process.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
    process.write(exposition);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    return std::pair{process.exitCode(), process.readAllStandardError() + process.readAllStandardOutput()};
}
