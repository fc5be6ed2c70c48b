#include "line/figure_parsers.h"

#include <QRegularExpression>
#include <QString>

namespace {

// The direction a ZyNOS line names: downstream and the near end are the
// modem's receiving side, upstream and the far end its sending side.
enum class TSide { None, Down, Up };

TSide SideOf(const QString& line)
{
    if (line.contains(QLatin1String("downstream")) || line.startsWith(QLatin1String("near-end")))
        return TSide::Down;
    if (line.contains(QLatin1String("upstream")) || line.startsWith(QLatin1String("far-end")))
        return TSide::Up;
    return TSide::None;
}

std::optional<double> Value(const QString& line)
{
    static const QRegularExpression number(QStringLiteral(":\\s*(-?\\d+(?:\\.\\d+)?)"));
    if (const auto m = number.match(line); m.hasMatch())
        return m.captured(1).toDouble();
    return std::nullopt;
}

// Fast and interleaved channels each count apart; the line's is their sum.
void Add(std::optional<std::uint64_t>& into, std::optional<double> value)
{
    // A count no 64 bits could hold is no count.
    if (value && *value >= 0 && *value < 1e18)
        into = into.value_or(0) + std::uint64_t(*value);
}

void Add(std::optional<double>& into, std::optional<double> value)
{
    if (value)
        into = into.value_or(0) + *value;
}

} // namespace

TLineFigures ZyxelFigures(const std::vector<std::string_view>& replies)
{
    TLineFigures figures;
    for (std::string_view reply : replies)
        for (std::string_view text : ReplyLines(reply)) {
            const QString line = QString::fromLatin1(text.data(), qsizetype(text.size())).trimmed();
            if (line.startsWith(QLatin1String("current modem status:"))) {
                figures.State = line.mid(21).trimmed();
                continue;
            }
            if (line.startsWith(QLatin1String("ADSL uptime"))) {
                figures.SinceLinkS = DurationSeconds(text.substr(text.find("uptime") + 6));
                continue;
            }
            if (line.startsWith(QLatin1String("Error second after power-up"))) {
                Add(figures.Down.Es, Value(line));
                continue;
            }
            const TSide side = SideOf(line);
            if (side == TSide::None)
                continue;
            TDirectionFigures& d = side == TSide::Down ? figures.Down : figures.Up;
            if (line.startsWith(QLatin1String("noise margin")))
                d.MarginDb = Value(line);
            else if (line.startsWith(QLatin1String("attenuation")))
                d.AttenuationDb = Value(line);
            else if (line.startsWith(QLatin1String("output power")))
                d.PowerDbm = Value(line);
            else if (line.contains(QLatin1String("channel bit rate")))
                Add(d.RateKbps, Value(line));
            else if (line.contains(QLatin1String("FEC error")))
                Add(d.Fec, Value(line));
            else if (line.contains(QLatin1String("CRC error")))
                Add(d.Crc, Value(line));
        }
    return figures;
}
