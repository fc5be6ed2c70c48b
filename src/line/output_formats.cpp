#include "line/output_formats.h"

#include "line/csv_field.h"
#include "line/hover_readout.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <algorithm>
#include <charconv>
#include <map>
#include <utility>

namespace {

// The span on a line of toneCount tones: the range's part of that line, or
// the tones given kept within it. A line without tones (a reading that
// failed before any) has none: LastTone is below FirstTone.
TToneSpan OnLine(TToneSpan span, std::size_t toneCount)
{
    const int last = int(std::min<std::size_t>(toneCount, MaxToneCount)) - 1;
    if (last < 0)
        return {0, -1, span.Range};
    if (span.Range) {
        const TRangePlan plan = LineRange(*span.Range, last);
        return {plan.FirstTone, plan.LastTone, span.Range};
    }
    span.FirstTone = std::clamp(span.FirstTone, 0, last);
    span.LastTone = std::clamp(span.LastTone, span.FirstTone, last);
    return span;
}

// The span on the widest line among the readings (today's line while there
// are none), so one CSV header fits every row.
TToneSpan Clamped(TToneSpan span, const std::vector<TReading>& readings)
{
    std::size_t tones = readings.empty() ? std::size_t(ZyxelToneCount) : 0;
    for (const TReading& reading : readings)
        tones = std::max(tones, reading.Bits.size());
    return OnLine(span, tones);
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

// The line's figures in every format: one row per value, its names in each.
struct TFigureField {
    std::optional<double> TDirectionFigures::*Member;
    const char* Json;   // "margin_db"
    const char* Table;  // "Margin (dB)"
    const char* Metric; // "tirvane_line_snr_margin_decibels"
    double Scale;       // to the metric's unit
    const char* Help;
};

// Rates in bytes a second: the exposition's base unit for data, which its
// checker asks for over bits.
const TFigureField FigureFields[] = {
    {&TDirectionFigures::RateKbps, "rate_kbps", "Rate (kbit/s)", "tirvane_line_rate_bytes_per_second", 125,
        "The line's actual data rate."},
    {&TDirectionFigures::AttainableKbps, "attainable_kbps", "Attainable (kbit/s)",
        "tirvane_line_attainable_rate_bytes_per_second", 125, "The highest rate the line could train at now."},
    {&TDirectionFigures::MarginDb, "margin_db", "Margin (dB)", "tirvane_line_snr_margin_decibels", 1,
        "Signal-to-noise margin."},
    {&TDirectionFigures::AttenuationDb, "attenuation_db", "Attenuation (dB)", "tirvane_line_attenuation_decibels",
        1, "Line attenuation."},
    {&TDirectionFigures::SignalAttenuationDb, "signal_attenuation_db", "Signal attenuation (dB)",
        "tirvane_line_signal_attenuation_decibels", 1, "Signal attenuation, where the router prints it apart."},
    {&TDirectionFigures::PowerDbm, "power_dbm", "Power (dBm)", "tirvane_line_transmit_power_dbm", 1,
        "Transmit power, in dBm."},
};

struct TCounterField {
    std::optional<std::uint64_t> TDirectionFigures::*Member;
    const char* Json;
    const char* Table;
    const char* Metric;
    const char* Help;
};

const TCounterField CounterFields[] = {
    {&TDirectionFigures::Crc, "crc", "CRC errors", "tirvane_line_crc_errors_total",
        "Blocks received with a CRC error, since the link came up where the router counts so."},
    {&TDirectionFigures::Fec, "fec", "FEC corrections", "tirvane_line_fec_corrections_total",
        "Code words corrected by forward error correction."},
    {&TDirectionFigures::Es, "es", "Errored seconds", "tirvane_line_errored_seconds_total", "Errored seconds."},
    {&TDirectionFigures::Ses, "ses", "Severely errored seconds", "tirvane_line_severely_errored_seconds_total",
        "Severely errored seconds."},
    {&TDirectionFigures::Uas, "uas", "Unavailable seconds", "tirvane_line_unavailable_seconds_total",
        "Unavailable seconds."},
    {&TDirectionFigures::BitSwaps, "bit_swaps", "Bit swaps", "tirvane_line_bit_swaps_total",
        "Bit swaps executed."},
};

struct TDirectionName {
    const TDirectionFigures TLineFigures::*Member;
    const char* Name;
};
const TDirectionName Directions[] = {{&TLineFigures::Down, "downstream"}, {&TLineFigures::Up, "upstream"}};

QJsonObject FiguresJson(const TLineFigures& figures)
{
    QJsonObject out;
    if (!figures.State.isEmpty())
        out[QStringLiteral("state")] = figures.State;
    for (const TDirectionName& d : Directions) {
        QJsonObject direction;
        for (const TFigureField& f : FigureFields)
            if (const auto& v = (figures.*d.Member).*f.Member)
                direction[QLatin1String(f.Json)] = *v;
        if (!direction.isEmpty())
            out[QLatin1String(d.Name)] = direction;
    }
    return out;
}

QJsonObject CountersJson(const TLineFigures& figures)
{
    QJsonObject out;
    for (const TDirectionName& d : Directions) {
        QJsonObject direction;
        for (const TCounterField& f : CounterFields)
            if (const auto& v = (figures.*d.Member).*f.Member)
                direction[QLatin1String(f.Json)] = qint64(*v);
        if (!direction.isEmpty())
            out[QLatin1String(d.Name)] = direction;
    }
    if (figures.Retrains)
        out[QStringLiteral("retrains")] = qint64(*figures.Retrains);
    if (figures.SinceLinkS)
        out[QStringLiteral("since_link_s")] = qint64(*figures.SinceLinkS);
    return out;
}

// ,"counters":{...},"figures":{...} as Qt's compact documents write them, in
// their sorted place after "completed"; nothing for what was not printed.
QByteArray FiguresJsonMembers(const TLineFigures& figures)
{
    if (figures.Empty())
        return {};
    QByteArray out;
    for (const auto& [name, object] : {std::pair{"counters", CountersJson(figures)},
             std::pair{"figures", FiguresJson(figures)}})
        if (!object.isEmpty())
            out += QByteArray(",\"") + name + "\":" + QJsonDocument(object).toJson(QJsonDocument::Compact);
    return out;
}

QByteArray FigureText(const std::optional<double>& value)
{
    return value ? QByteArray::number(*value, 'f', QLocale::FloatingPointShortest) : QByteArray();
}

QByteArray CountText(const std::optional<std::uint64_t>& value)
{
    return value ? QByteArray::number(qulonglong(*value)) : QByteArray();
}

QByteArray CsvFigureFields(const TLineFigures& figures)
{
    QByteArray out;
    for (const TDirectionName& d : Directions)
        for (const TFigureField& f : FigureFields)
            out += ',' + FigureText((figures.*d.Member).*f.Member);
    for (const TDirectionName& d : Directions)
        for (const TCounterField& f : CounterFields)
            out += ',' + CountText((figures.*d.Member).*f.Member);
    out += ',' + CountText(figures.Retrains);
    out += ',' + (figures.SinceLinkS ? QByteArray::number(qint64(*figures.SinceLinkS)) : QByteArray());
    return out;
}

// The figures as rows of a value each way, only rows the router printed.
QByteArray TableFigures(const TLineFigures& figures)
{
    if (figures.Empty())
        return {};
    QByteArray out;
    if (!figures.State.isEmpty())
        out += "Line state: " + figures.State.toUtf8() + '\n';
    const auto row = [&out](const char* name, const QByteArray& down, const QByteArray& up) {
        if (!down.isEmpty() || !up.isEmpty())
            out += QStringLiteral("%1  %2  %3\n")
                       .arg(QLatin1String(name), -24)
                       .arg(QString::fromLatin1(down.isEmpty() ? "-" : down), 10)
                       .arg(QString::fromLatin1(up.isEmpty() ? "-" : up), 10)
                       .toUtf8();
    };
    QByteArray rows;
    std::swap(rows, out);
    for (const TFigureField& f : FigureFields)
        row(f.Table, FigureText(figures.Down.*f.Member), FigureText(figures.Up.*f.Member));
    for (const TCounterField& f : CounterFields)
        row(f.Table, CountText(figures.Down.*f.Member), CountText(figures.Up.*f.Member));
    std::swap(rows, out);
    if (!rows.isEmpty())
        out += QStringLiteral("%1  %2  %3\n").arg(QString(), -24).arg(QStringLiteral("Downstream"), 10)
                   .arg(QStringLiteral("Upstream"), 10).toUtf8() + rows;
    if (figures.Retrains)
        out += "Retrains: " + CountText(figures.Retrains) + '\n';
    if (figures.SinceLinkS)
        out += "Since the link came up: " + QByteArray::number(qint64(*figures.SinceLinkS)) + " s\n";
    return out;
}

// Each figure a gauge and each counter a counter, labelled by host and
// direction; a family only when some host has a value for it.
void PrometheusFigures(QByteArray& out, const std::map<QString, const TReading*>& latest)
{
    const auto series = [&](const char* name, const char* type, const char* help, auto value) {
        QByteArray samples;
        for (const auto& [host, reading] : latest)
            for (const TDirectionName& d : Directions)
                if (const auto v = value(reading->Figures.*d.Member))
                    samples += QByteArray(name) + "{host=\"" + PrometheusLabel(host) + "\",direction=\"" + d.Name
                        + "\"} " + *v + '\n';
        if (!samples.isEmpty())
            out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n' + samples;
    };
    for (const TFigureField& f : FigureFields)
        series(f.Metric, "gauge", f.Help, [&f](const TDirectionFigures& d) -> std::optional<QByteArray> {
            if (const auto& v = d.*f.Member)
                return QByteArray::number(*v * f.Scale, 'f', QLocale::FloatingPointShortest);
            return std::nullopt;
        });
    for (const TCounterField& f : CounterFields)
        series(f.Metric, "counter", f.Help, [&f](const TDirectionFigures& d) -> std::optional<QByteArray> {
            if (const auto& v = d.*f.Member)
                return QByteArray::number(qulonglong(*v));
            return std::nullopt;
        });
    const auto line = [&](const char* name, const char* type, const char* help, auto value) {
        QByteArray samples;
        for (const auto& [host, reading] : latest)
            if (const auto v = value(reading->Figures))
                samples += QByteArray(name) + "{host=\"" + PrometheusLabel(host) + "\"} " + QByteArray::number(*v) + '\n';
        if (!samples.isEmpty())
            out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n' + samples;
    };
    line("tirvane_line_retrains_total", "counter", "Times the line trained, as the router counts them.",
        [](const TLineFigures& f) { return f.Retrains ? std::optional<qint64>(qint64(*f.Retrains)) : std::nullopt; });
    line("tirvane_line_link_uptime_seconds", "gauge", "Seconds since the link came up.",
        [](const TLineFigures& f) { return f.SinceLinkS ? std::optional<qint64>(*f.SinceLinkS) : std::nullopt; });
}

// ---- SNR, QLN and Hlog per tone ----

struct TSpectrumKey {
    TToneQuantity Quantity;
    const char* Json;  // the per-tone array's key
    const char* Group; // its key in "group_size"
    TToneSpectrum TToneSpectra::*Member;
};
// In the order of the JSON object's sorted keys.
constexpr TSpectrumKey SpectrumKeys[] = {
    {TToneQuantity::Hlog, "hlog_db", "hlog", &TToneSpectra::Hlog},
    {TToneQuantity::Qln, "qln_dbm_hz", "qln", &TToneSpectra::Qln},
    {TToneQuantity::Snr, "snr_db", "snr", &TToneSpectra::Snr},
};

const TSpectrumKey& KeyOf(TToneQuantity quantity)
{
    for (const TSpectrumKey& key : SpectrumKeys)
        if (key.Quantity == quantity)
            return key;
    return SpectrumKeys[2];
}

// The shortest text that reads back as the value kept: 41.5, -23.4, never
// -23.399999618530273. JSON, both of its writers, and CSV write it alike.
QByteArray ValueText(float value)
{
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return QByteArray(text, qsizetype(end - text));
}

// A CSV cell: bits, or the quantity's value, empty where not measured.
QByteArray ToneCell(const TReading& reading, TToneQuantity quantity, int tone)
{
    if (quantity == TToneQuantity::Bits)
        return QByteArray::number(ToneBitsAt(reading, tone));
    const float value = SpectrumAtTone(reading.Spectra.*KeyOf(quantity).Member, reading.Bands, tone);
    return IsMeasured(value) ? ValueText(value) : QByteArray();
}

QJsonValue GroupSizeJson(const TSpectrumPart& part)
{
    return part.Empty() ? QJsonValue(QJsonValue::Null) : QJsonValue(part.GroupSize);
}

// {"snr": {"downstream": G, "upstream": G}, ...} for the quantities the
// reading has; a direction not measured is null.
QJsonObject GroupSizesJson(const TToneSpectra& spectra)
{
    QJsonObject sizes;
    for (const TSpectrumKey& key : SpectrumKeys) {
        const TToneSpectrum& spectrum = spectra.*key.Member;
        if (!spectrum.Empty())
            sizes.insert(QLatin1String(key.Group), QJsonObject{{QStringLiteral("upstream"), GroupSizeJson(spectrum.Up)},
                                                       {QStringLiteral("downstream"), GroupSizeJson(spectrum.Down)}});
    }
    return sizes;
}

void AddSpectraJson(QJsonObject& object, const TReading& reading, TToneSpan span)
{
    for (const TSpectrumKey& key : SpectrumKeys) {
        const TToneSpectrum& spectrum = reading.Spectra.*key.Member;
        if (spectrum.Empty())
            continue;
        QJsonArray values;
        for (int tone = span.FirstTone; tone <= span.LastTone; ++tone) {
            const float value = SpectrumAtTone(spectrum, reading.Bands, tone);
            values.append(IsMeasured(value) ? QJsonValue(ValueText(value).toDouble()) : QJsonValue(QJsonValue::Null));
        }
        object.insert(QLatin1String(key.Json), values);
    }
    if (!reading.Spectra.Empty())
        object.insert(QStringLiteral("group_size"), GroupSizesJson(reading.Spectra));
}

// The same members as AddSpectraJson, as text, each where its key sorts:
// "group_size" and "hlog_db" after "first_tone", "qln_dbm_hz" after "mode",
// "snr_db" after "router".
void AppendSpectrumJson(QByteArray& out, const TReading& reading, TToneQuantity quantity, TToneSpan span)
{
    const TSpectrumKey& key = KeyOf(quantity);
    const TToneSpectrum& spectrum = reading.Spectra.*key.Member;
    if (quantity == TToneQuantity::Hlog && !reading.Spectra.Empty())
        out += ",\"group_size\":" + QJsonDocument(GroupSizesJson(reading.Spectra)).toJson(QJsonDocument::Compact);
    if (spectrum.Empty())
        return;
    out += QByteArray(",\"") + key.Json + "\":[";
    for (int tone = span.FirstTone; tone <= span.LastTone; ++tone) {
        if (tone > span.FirstTone)
            out += ',';
        const float value = SpectrumAtTone(spectrum, reading.Bands, tone);
        out += IsMeasured(value) ? ValueText(value) : QByteArray("null");
    }
    out += ']';
}

// Per direction the lowest and the median SNR over the tones that carry
// bits: two numbers a direction say what thousands of per-tone series would.
void AppendSnrGauges(QByteArray& out, const std::map<QString, const TReading*>& latest)
{
    if (std::all_of(latest.begin(), latest.end(), [](const auto& l) { return l.second->Spectra.Snr.Empty(); }))
        return;
    std::map<std::pair<QString, bool>, std::vector<float>> loaded; // host, upstream
    for (const auto& [host, reading] : latest)
        for (const bool upstream : {true, false}) {
            std::vector<float>& values = loaded[{host, upstream}];
            for (const TToneBand& band : upstream ? reading->Bands.Upstream : reading->Bands.Downstream)
                for (int tone = band.First; tone <= band.Last; ++tone)
                    if (const float snr = SpectrumAtTone(reading->Spectra.Snr, reading->Bands, tone);
                        ToneBitsAt(*reading, tone) > 0 && IsMeasured(snr))
                        values.push_back(snr);
            std::sort(values.begin(), values.end());
        }
    const struct {
        const char* name;
        const char* help;
        bool median;
    } gauges[] = {
        {"tirvane_snr_lowest_db", "Lowest SNR over the tones that carry bits, dB.", false},
        {"tirvane_snr_median_db", "Median SNR over the tones that carry bits, dB.", true},
    };
    for (const auto& gauge : gauges) {
        Family(out, gauge.name, gauge.help);
        for (const auto& [key, values] : loaded) {
            if (values.empty())
                continue;
            const std::size_t n = values.size();
            const float value = !gauge.median ? values.front()
                : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
            out += QByteArray(gauge.name) + "{host=\"" + PrometheusLabel(key.first) + "\",direction=\""
                + (key.second ? "upstream" : "downstream") + "\"} " + ValueText(value) + '\n';
        }
    }
}

} // namespace

QByteArray CsvFigureColumns()
{
    QByteArray out;
    for (const TDirectionName& d : Directions)
        for (const TFigureField& f : FigureFields)
            out += QByteArray(out.isEmpty() ? "" : ",") + d.Name + '_' + f.Json;
    for (const TDirectionName& d : Directions)
        for (const TCounterField& f : CounterFields)
            out += QByteArray(",") + d.Name + '_' + f.Json;
    return out + ",retrains,since_link_s";
}

float SpectrumAtTone(const TToneSpectrum& spectrum, const TBandPlan& bands, int tone)
{
    switch (bands.DirectionOf(tone)) {
    case TToneDirection::Upstream: return spectrum.Up.At(tone);
    case TToneDirection::Downstream: return spectrum.Down.At(tone);
    case TToneDirection::Neither: break;
    }
    return NotMeasured;
}

std::optional<TToneQuantity> ToneQuantityFromName(const QString& name)
{
    if (name == QLatin1String("bits"))
        return TToneQuantity::Bits;
    for (const TSpectrumKey& key : SpectrumKeys)
        if (name == QLatin1String(key.Group))
            return key.Quantity;
    return std::nullopt;
}

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

QByteArray FormatTable(const std::vector<TReading>& readings, TToneSpan given)
{
    QByteArray out;
    bool first = true;
    for (const TReading& reading : readings) {
        const TToneSpan span = OnLine(given, reading.Bits.size());
        if (!first)
            out += '\n';
        first = false;
        out += (ReadingTimeText(reading.TimeMs) + QLatin1Char(' ') + reading.Host
                   + (reading.Completed ? QStringLiteral(" completed") : QStringLiteral(" not completed")))
                   .toUtf8();
        out += '\n' + TableFigures(reading.Figures);
        out += "Tone  Frequency (kHz)  Bits\n";
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

static QByteArray CsvHeader(TToneSpan span, bool figures)
{
    QByteArray out = "time,host,completed";
    for (int tone = span.FirstTone; tone <= span.LastTone; ++tone)
        out += ",tone_" + QByteArray::number(tone);
    if (figures)
        out += ',' + CsvFigureColumns();
    out += "\r\n";
    return out;
}

QByteArray FormatCsv(const std::vector<TReading>& readings, TToneSpan span, TToneQuantity quantity, bool figures)
{
    span = Clamped(span, readings);
    QByteArray out = CsvHeader(span, figures);
    for (const TReading& reading : readings) {
        out += CsvField(ReadingTimeText(reading.TimeMs)) + ',' + CsvField(reading.Host) + ','
            + (reading.Completed ? "true" : "false");
        for (int tone = span.FirstTone; tone <= span.LastTone; ++tone)
            out += ',' + ToneCell(reading, quantity, tone);
        if (figures)
            out += CsvFigureFields(reading.Figures);
        out += "\r\n";
    }
    return out;
}

QByteArray FormatJson(const std::vector<TReading>& readings, TToneSpan given)
{
    QByteArray out;
    for (const TReading& reading : readings) {
        const TToneSpan span = OnLine(given, reading.Bits.size());
        QJsonArray bits;
        for (int tone = span.FirstTone; tone <= span.LastTone; ++tone)
            bits.append(ToneBitsAt(reading, tone));
        QJsonObject object{
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
        if (const QJsonObject figures = FiguresJson(reading.Figures); !figures.isEmpty())
            object[QStringLiteral("figures")] = figures;
        if (const QJsonObject counters = CountersJson(reading.Figures); !counters.isEmpty())
            object[QStringLiteral("counters")] = counters;
        AddSpectraJson(object, reading, span);
        out += QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    }
    return out;
}

QByteArray FormatPrometheus(const std::vector<TReading>& readings, TToneSpan given)
{
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
        const TToneSpan span = OnLine(given, reading->Bits.size());
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
    AppendSnrGauges(out, latest);
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
    PrometheusFigures(out, latest);
    return out;
}

QByteArray FormatReadings(TOutputFormat format, const std::vector<TReading>& readings, TToneSpan span,
    TToneQuantity quantity, bool figures)
{
    switch (format) {
    case TOutputFormat::Table: return FormatTable(readings, span);
    case TOutputFormat::Csv: return FormatCsv(readings, span, quantity, figures);
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

void AppendCsvRow(QByteArray& out, const TReading& reading, TToneSpan span, TToneQuantity quantity, bool figures)
{
    out.reserve(out.size() + 64 + 3 * std::max(0, span.LastTone - span.FirstTone + 1));
    out += CsvField(ReadingTimeText(reading.TimeMs)) + ',' + CsvField(reading.Host) + ','
        + (reading.Completed ? "true" : "false");
    for (int tone = span.FirstTone; tone <= span.LastTone; ++tone) {
        out += ',';
        if (quantity == TToneQuantity::Bits)
            AppendNumber(out, ToneBitsAt(reading, tone));
        else
            out += ToneCell(reading, quantity, tone);
    }
    if (figures)
        out += CsvFigureFields(reading.Figures);
    out += "\r\n";
}

} // namespace

TReadingsWriter::TReadingsWriter(TOutputFormat format, TToneSpan span, TToneQuantity quantity, bool figures)
    : FFormat(format)
    , FSpan(span)
    , FClamped(Clamped(span, {}))
    , FQuantity(quantity)
    , FFigures(figures)
{
}

QByteArray TReadingsWriter::Next(const TReading& reading)
{
    const bool first = FFirst;
    FFirst = false;
    QByteArray out;
    switch (FFormat) {
    case TOutputFormat::Table:
        out = FormatTable({reading}, FSpan);
        if (!first)
            out.prepend('\n');
        return out;
    case TOutputFormat::Csv: {
        // The header's tones are those of the first line with tones: the
        // readings before it wait, as FormatCsv would give them its columns.
        if (!FHeader) {
            if (reading.Bits.empty()) {
                FHeld.push_back(reading);
                return {};
            }
            FClamped = OnLine(FSpan, reading.Bits.size());
            FHeader = true;
            out = CsvHeader(FClamped, FFigures);
            for (const TReading& held : FHeld)
                AppendCsvRow(out, held, FClamped, FQuantity, FFigures);
            FHeld.clear();
        }
        AppendCsvRow(out, reading, FClamped, FQuantity, FFigures);
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
        const TToneSpan span = OnLine(FSpan, reading.Bits.size());
        out.reserve(256 + 3 * std::max(0, span.LastTone - span.FirstTone + 1));
        out += "{\"bands\":" + FBandsText + ",\"bits\":[";
        for (int tone = span.FirstTone; tone <= span.LastTone; ++tone) {
            if (tone > span.FirstTone)
                out += ',';
            AppendNumber(out, ToneBitsAt(reading, tone));
        }
        out += reading.Completed ? "],\"completed\":true" : "],\"completed\":false";
        out += FiguresJsonMembers(reading.Figures);
        out += ",\"first_tone\":";
        AppendNumber(out, span.FirstTone);
        AppendSpectrumJson(out, reading, TToneQuantity::Hlog, span);
        out += ",\"host\":";
        AppendJsonText(out, reading.Host);
        out += ",\"mode\":";
        AppendJsonText(out, reading.Mode);
        AppendSpectrumJson(out, reading, TToneQuantity::Qln, span);
        out += ",\"router\":";
        AppendJsonText(out, reading.Router);
        AppendSpectrumJson(out, reading, TToneQuantity::Snr, span);
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
    if (!FHeader && FFormat == TOutputFormat::Csv)
        return FormatCsv(std::exchange(FHeld, {}), FSpan, FQuantity, FFigures);
    return {};
}
