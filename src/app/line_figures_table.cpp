#include "app/line_figures_table.h"

#include "events/line_events.h"
#include "line/counter_counts.h"

#include <QLocale>

#include <optional>

namespace {

using TCounter = std::optional<std::uint64_t> TDirectionFigures::*;

const std::pair<const char*, TCounter> Counters[] = {
    {"CRC", &TDirectionFigures::Crc},
    {"FEC", &TDirectionFigures::Fec},
    {"ES", &TDirectionFigures::Es},
    {"SES", &TDirectionFigures::Ses},
    {"UAS", &TDirectionFigures::Uas},
};

QString Number(const std::optional<double>& value, int decimals, const char* unit)
{
    if (!value)
        return NotMeasuredText();
    return QLocale().toString(*value, 'f', decimals) + QLatin1Char(' ') + QLatin1String(unit);
}

QString Count(const std::optional<std::uint64_t>& value)
{
    return value ? QLocale().toString(qulonglong(*value)) : NotMeasuredText();
}

QString Attenuation(const TDirectionFigures& figures)
{
    QString text = Number(figures.AttenuationDb, 1, "dB");
    if (figures.AttenuationDb && figures.SignalAttenuationDb)
        text += QStringLiteral(" (signal ") + Number(figures.SignalAttenuationDb, 1, "dB") + QLatin1Char(')');
    return text;
}

} // namespace

QString NotMeasuredText()
{
    return QStringLiteral("not measured");
}

QString MarginTipLine(const TLineFigures& figures)
{
    if (figures.Empty())
        return {};
    return QStringLiteral("Margin: downstream ") + Number(figures.Down.MarginDb, 1, "dB")
        + QStringLiteral(", upstream ") + Number(figures.Up.MarginDb, 1, "dB");
}

void TLineFiguresTable::Take(const TReading& reading)
{
    if (reading.Host != FHost) {
        FHost = reading.Host;
        FSeen.clear();
    }
    FAny = true;
    FLast = reading.Figures;
    if (!reading.Figures.Empty()) {
        // Out of order (a clock set back) starts afresh rather than count backwards.
        if (!FSeen.empty() && reading.TimeMs < FSeen.back().TimeMs)
            FSeen.clear();
        FSeen.push_back({reading.TimeMs, reading.Figures});
    }
    while (!FSeen.empty() && FSeen.front().TimeMs < FSeen.back().TimeMs - DayMs)
        FSeen.pop_front();
}

std::vector<TFiguresRow> TLineFiguresTable::Rows() const
{
    const TDirectionFigures& down = FLast.Down;
    const TDirectionFigures& up = FLast.Up;
    std::vector<TFiguresRow> rows = {
        {QStringLiteral("Rate"), Number(down.RateKbps, 0, "kbit/s"), Number(up.RateKbps, 0, "kbit/s")},
        {QStringLiteral("Attainable rate"), Number(down.AttainableKbps, 0, "kbit/s"),
            Number(up.AttainableKbps, 0, "kbit/s")},
        {QStringLiteral("Margin"), Number(down.MarginDb, 1, "dB"), Number(up.MarginDb, 1, "dB")},
        {QStringLiteral("Attenuation"), Attenuation(down), Attenuation(up)},
        {QStringLiteral("Power"), Number(down.PowerDbm, 1, "dBm"), Number(up.PowerDbm, 1, "dBm")},
    };
    rows.push_back({QStringLiteral("Errors since the link came up"), {}, {}, false, true});
    for (const auto& [name, counter] : Counters)
        rows.push_back({QLatin1String(name), Count(down.*counter), Count(up.*counter)});

    // Growth between each two readings that both lie in the span, summed:
    // the growth across an outage that began before it cannot be placed.
    // A pair without the counter, or a jump too large to be real, adds
    // nothing. No pair at all: nothing to count from yet.
    const std::int64_t newest = FSeen.empty() ? 0 : FSeen.back().TimeMs;
    const auto counted = [&](std::int64_t span, const std::optional<std::uint64_t>& last,
                             const std::optional<std::uint64_t> TDirectionFigures::*counter, bool downstream) {
        if (!last)
            return NotMeasuredText();
        std::optional<std::uint64_t> sum;
        for (std::size_t i = 1; i < FSeen.size(); ++i) {
            if (FSeen[i - 1].TimeMs < newest - span)
                continue;
            const TDirectionFigures& before = downstream ? FSeen[i - 1].Figures.Down : FSeen[i - 1].Figures.Up;
            const TDirectionFigures& after = downstream ? FSeen[i].Figures.Down : FSeen[i].Figures.Up;
            if (const auto increase = CounterIncrease(before.*counter, after.*counter))
                sum = sum.value_or(0) + *increase;
        }
        return sum ? QLocale().toString(qulonglong(*sum)) : QStringLiteral("none counted yet");
    };
    for (const auto& [title, span] : {std::pair{"Errors in the last 15 minutes", QuarterHourMs},
             std::pair{"Errors in the last 24 hours", DayMs}}) {
        rows.push_back({QLatin1String(title), {}, {}, false, true});
        for (const auto& [name, counter] : Counters)
            rows.push_back({QLatin1String(name), counted(span, down.*counter, counter, true),
                counted(span, up.*counter, counter, false)});
    }
    rows.push_back({QStringLiteral("Link"), {}, {}, false, true});
    rows.push_back({QStringLiteral("Retrains"), Count(FLast.Retrains), {}, true});
    rows.push_back({QStringLiteral("Time since it came up"),
        FLast.SinceLinkS && *FLast.SinceLinkS >= 0 ? DurationText(*FLast.SinceLinkS * 1000) : NotMeasuredText(), {}, true});
    if (!FAny) {
        for (TFiguresRow& row : rows) {
            if (!row.Heading) {
                row.Down = QStringLiteral("no reading yet");
                row.Up = row.Whole ? QString() : row.Down;
            }
        }
    }
    return rows;
}
