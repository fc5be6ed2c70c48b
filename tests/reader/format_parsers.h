// Readers for what tirvane-read writes, built from the formats' own rules
// rather than from the writer's code: RFC 4180 CSV, one JSON document a line,
// and the Prometheus text exposition. Each turns its text back into readings
// so a test can compare them with what was recorded or served.
#pragma once

#include "history/reading.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

// RFC 4180: records end in CR LF; a quoted field may hold commas, CR LF and
// doubled quotes. Returns nothing when the text breaks the rules.
inline std::optional<std::vector<QStringList>> ParseCsv(const QByteArray& text)
{
    std::vector<QStringList> records;
    QStringList record;
    QByteArray field;
    bool quoted = false, inQuotes = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inQuotes) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                inQuotes = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            if (!field.isEmpty() || quoted)
                return std::nullopt; // a quote inside an unquoted field
            inQuotes = quoted = true;
        } else if (c == ',') {
            record << QString::fromUtf8(field);
            field.clear();
            quoted = false;
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            record << QString::fromUtf8(field);
            records.push_back(record);
            record.clear();
            field.clear();
            quoted = false;
            ++i;
        } else if (c == '\r' || c == '\n' || quoted) {
            return std::nullopt; // a bare line end, or text after a closing quote
        } else {
            field += c;
        }
    }
    if (inQuotes || !field.isEmpty() || !record.isEmpty())
        return std::nullopt; // the last record must end in CR LF
    return records;
}

inline std::int64_t IsoToMs(const QString& text)
{
    const QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
    return t.isValid() && text.endsWith(QLatin1Char('Z')) ? t.toMSecsSinceEpoch() : -1;
}

// Readings from CSV with the header "time,host,completed,tone_F,...,tone_L";
// tones outside the columns stay 0.
inline std::optional<std::vector<TReading>> ReadingsFromCsv(const QByteArray& text)
{
    const auto records = ParseCsv(text);
    if (!records || records->empty())
        return std::nullopt;
    const QStringList& header = records->front();
    if (header.size() < 4 || header[0] != QLatin1String("time") || header[1] != QLatin1String("host")
        || header[2] != QLatin1String("completed"))
        return std::nullopt;
    std::vector<int> tones;
    for (int i = 3; i < header.size(); ++i) {
        if (!header[i].startsWith(QLatin1String("tone_")))
            return std::nullopt;
        tones.push_back(header[i].mid(5).toInt());
    }
    std::vector<TReading> readings;
    for (std::size_t r = 1; r < records->size(); ++r) {
        const QStringList& row = (*records)[r];
        if (row.size() != header.size())
            return std::nullopt;
        TReading reading;
        reading.TimeMs = IsoToMs(row[0]);
        reading.Host = row[1];
        reading.Completed = row[2] == QLatin1String("true");
        for (std::size_t i = 0; i < tones.size(); ++i)
            reading.Bits[std::size_t(tones[i])] = std::uint8_t(row[int(i) + 3].toInt());
        readings.push_back(reading);
    }
    return readings;
}

inline std::optional<std::vector<TReading>> ReadingsFromJson(const QByteArray& text)
{
    std::vector<TReading> readings;
    for (const QByteArray& line : text.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject())
            return std::nullopt;
        const QJsonObject o = doc.object();
        TReading reading;
        reading.TimeMs = o.value(QStringLiteral("time_ms")).toInteger(-1);
        if (IsoToMs(o.value(QStringLiteral("time")).toString()) != reading.TimeMs)
            return std::nullopt;
        reading.Host = o.value(QStringLiteral("host")).toString();
        reading.Completed = o.value(QStringLiteral("completed")).toBool();
        const int first = o.value(QStringLiteral("first_tone")).toInt();
        const QJsonArray bits = o.value(QStringLiteral("bits")).toArray();
        for (int i = 0; i < bits.size() && first + i < ReadingToneCount; ++i)
            reading.Bits[std::size_t(first + i)] = std::uint8_t(bits[i].toInt());
        readings.push_back(reading);
    }
    return readings;
}

// The text exposition's rules as a test can check them: HELP and TYPE once per
// family and before its samples, a family's samples together, names and
// labels well formed, every series once, values numbers, no timestamps (the
// text-file collector refuses them).
struct TPrometheusSample {
    std::string Name;
    std::map<std::string, std::string> Labels;
    double Value = 0;
};

inline std::optional<std::vector<TPrometheusSample>> ParsePrometheus(const QByteArray& text, std::string* why)
{
    static const QRegularExpression sampleLine(
        QStringLiteral(R"(^([a-zA-Z_:][a-zA-Z0-9_:]*)(?:\{(.*)\})? (\S+)$)"));
    static const QRegularExpression label(
        QStringLiteral(R"(([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\\n]|\\[\\"n])*)\"(,|$))"));
    std::vector<TPrometheusSample> samples;
    std::set<std::string> typed, finished, series;
    std::string current;
    const auto fail = [&](const std::string& message) {
        if (why)
            *why = message;
        return std::nullopt;
    };
    if (!text.endsWith('\n'))
        return fail("no line feed at the end");
    for (const QByteArray& raw : text.chopped(1).split('\n')) {
        const QString line = QString::fromUtf8(raw);
        if (line.startsWith(QLatin1String("# "))) {
            const QStringList words = line.split(QLatin1Char(' '));
            if (words.size() < 3)
                return fail("short comment: " + raw.toStdString());
            const std::string name = words[2].toStdString();
            if (words[1] == QLatin1String("TYPE")) {
                if (words.size() != 4 || words[3] != QLatin1String("gauge") || !typed.insert(name).second)
                    return fail("bad TYPE: " + raw.toStdString());
                if (!current.empty())
                    finished.insert(current);
                current = name;
            }
            continue;
        }
        const auto m = sampleLine.match(line);
        if (!m.hasMatch())
            return fail("not a sample: " + raw.toStdString());
        TPrometheusSample s;
        s.Name = m.captured(1).toStdString();
        if (s.Name != current || finished.count(s.Name))
            return fail("sample outside its family: " + raw.toStdString());
        const QString labels = m.captured(2);
        qsizetype at = 0;
        while (at < labels.size()) {
            const auto l = label.match(labels, at, QRegularExpression::NormalMatch,
                QRegularExpression::AnchorAtOffsetMatchOption);
            if (!l.hasMatch())
                return fail("bad labels: " + raw.toStdString());
            const std::string escaped = l.captured(2).toStdString();
            std::string value;
            for (std::size_t k = 0; k < escaped.size(); ++k) {
                if (escaped[k] == '\\' && k + 1 < escaped.size()) {
                    ++k;
                    value += escaped[k] == 'n' ? '\n' : escaped[k];
                } else {
                    value += escaped[k];
                }
            }
            s.Labels[l.captured(1).toStdString()] = value;
            at = l.capturedEnd();
        }
        bool ok = false;
        s.Value = m.captured(3).toDouble(&ok);
        if (!ok)
            return fail("value is not a number: " + raw.toStdString());
        std::string key = s.Name;
        for (const auto& [k, v] : s.Labels)
            key += "|" + k + "=" + v;
        if (!series.insert(key).second)
            return fail("series twice: " + raw.toStdString());
        samples.push_back(s);
    }
    return samples;
}
