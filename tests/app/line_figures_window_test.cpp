// The line figures window fed readings as the cycles give them: values the
// router did not print say "not measured", error counts over 15 minutes and
// 24 hours add up the growth between readings, across a retrain too; and
// Ctrl+L in the main window opens it beside the chart. Offscreen.
#include "app/line_figures_table.h"
#include "app/line_figures_window.h"
#include "app/main_window.h"
#include "app/start_options.h"
#include "app/start_up.h"
#include "chart/chart.h"
#include "chart/tone_quantity_plot.h"

#include <QAction>
#include <QLabel>
#include <QLocale>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace {

constexpr std::int64_t Minute = 60 * 1000;

TReading Seen(std::int64_t timeMs, std::uint64_t crcDown, std::uint64_t crcUp, std::uint64_t esDown,
    std::uint64_t retrains, std::int64_t sinceLink, double marginDown)
{
    TReading reading = ZyxelReading(timeMs, QStringLiteral("127.0.0.1"), true);
    TLineFigures& f = reading.Figures;
    f.Down.RateKbps = 16000;
    f.Up.RateKbps = 1024;
    f.Down.MarginDb = marginDown; // upstream margin, FEC and power never printed
    f.Down.AttenuationDb = 20.5;
    f.Down.SignalAttenuationDb = 19;
    f.Down.Crc = crcDown;
    f.Up.Crc = crcUp;
    f.Down.Es = esDown;
    f.Retrains = retrains;
    f.SinceLinkS = sinceLink;
    return reading;
}

// The row of `caption` under `heading` (empty: before any heading).
int RowOf(const TLineFiguresWindow& window, const QString& heading, const QString& caption)
{
    QString under;
    for (int r = 0; r < window.RowCount(); ++r) {
        if (window.Text(r, 1).isEmpty() && window.Text(r, 2).isEmpty())
            under = window.Text(r, 0);
        else if (under == heading && window.Text(r, 0) == caption)
            return r;
    }
    return -1;
}

TEST(LineFigures, TheWindowShowsWhatTheReadingsSaid)
{
    QLocale::setDefault(QLocale::c());
    TLineFiguresTable table;
    TLineFiguresWindow window;
    window.ShowRows(table.Rows());
    EXPECT_EQ(window.Text(RowOf(window, {}, QStringLiteral("Margin")), 1), QStringLiteral("no reading yet"));

    // 20 minutes before the others; then one minute apart, the line
    // retraining (counters back near 0) before the last.
    for (const TReading& reading : {Seen(-20 * Minute, 40, 3, 8, 3, 2400, 6.5), Seen(0, 100, 5, 10, 3, 3600, 6.1),
             Seen(Minute, 130, 7, 12, 3, 3660, 6.0), Seen(2 * Minute, 4, 1, 0, 4, 50, 5.9)})
        table.Take(reading);
    window.ShowRows(table.Rows());
    const QString since = QStringLiteral("Errors since the link came up");
    const QString quarter = QStringLiteral("Errors in the last 15 minutes");
    const QString day = QStringLiteral("Errors in the last 24 hours");
    const struct {
        QString heading;
        const char* caption;
        const char* down;
        const char* up;
    } cases[] = {
        {{}, "Rate", "16000 kbit/s", "1024 kbit/s"},
        {{}, "Margin", "5.9 dB", "not measured"},
        {{}, "Attenuation", "20.5 dB (signal 19.0 dB)", "not measured"},
        {{}, "Power", "not measured", "not measured"},
        {since, "CRC", "4", "1"},
        {since, "FEC", "not measured", "not measured"},
        {quarter, "CRC", "34", "3"},   // 30 + 4 after the retrain; 2 + 1
        {quarter, "ES", "2", "not measured"},
        {day, "CRC", "94", "5"},       // 60 more from the reading 20 minutes back
        {day, "ES", "4", "not measured"},
        {QStringLiteral("Link"), "Retrains", "4", ""},
        {QStringLiteral("Link"), "Time since it came up", "50 s", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.caption) + " " + c.heading.toStdString());
        const int row = RowOf(window, c.heading, QString::fromLatin1(c.caption));
        ASSERT_GE(row, 0);
        EXPECT_EQ(window.Text(row, 1).toStdString(), c.down);
        EXPECT_EQ(window.Text(row, 2).toStdString(), c.up);
    }
    EXPECT_EQ(MarginTipLine(Seen(0, 0, 0, 0, 0, 0, 5.9).Figures),
        QStringLiteral("Margin: downstream 5.9 dB, upstream not measured"));

    // Another host's reading starts the counts afresh.
    TReading other = Seen(3 * Minute, 9, 9, 9, 1, 10, 3.0);
    other.Host = QStringLiteral("127.0.0.2");
    table.Take(other);
    window.ShowRows(table.Rows());
    EXPECT_EQ(window.Text(RowOf(window, quarter, QStringLiteral("CRC")), 1), QStringLiteral("none counted yet"));
    QLocale::setDefault(QLocale::system());
}

TEST(LineFigures, CtrlLOpensTheWindowBesideTheChart)
{
    TForm1 form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_FALSE(form.ReadFigures()); // off on a first run
    EXPECT_EQ(form.LineFigures1->shortcut(), QKeySequence(QStringLiteral("Ctrl+L")));
    form.LineFigures1->trigger();
    ASSERT_NE(form.FiguresWindow(), nullptr);
    EXPECT_TRUE(form.FiguresWindow()->isVisible());

    // Beside a frame on the side with room for it.
    TLineFiguresWindow& window = *form.FiguresWindow();
    const QRect screen = window.screen()->availableGeometry();
    const QRect leftFrame(screen.left(), screen.top(), 200, 150);
    window.PlaceBeside(leftFrame);
    EXPECT_GT(window.frameGeometry().left(), leftFrame.right());
    const QRect rightFrame(screen.right() - 200, screen.top(), 200, 150);
    window.PlaceBeside(rightFrame);
    EXPECT_LT(window.frameGeometry().right(), rightFrame.left());
}

// A first run shows bits and reads no figures; a choice made in the menu is
// there at the next start; --figures turns the reading on for its run only.
TEST(LineFigures, ChoicesAreRememberedAndFirstRunShowsBits)
{
    const struct {
        const char* name;
        QStringList arguments;
        int chosen; // the quantity item triggered, -1: none
        bool readChosen;
        TToneQuantity quantity;
        const char* axisTitle;
        bool readFigures;
    } cases[] = {
        {"first run", {}, -1, false, TToneQuantity::Bits, "Bits ", false},
        {"QLN and figures chosen", {}, 2, true, TToneQuantity::Qln, "QLN (dBm/Hz)", true},
        {"remembered", {}, -1, false, TToneQuantity::Qln, "QLN (dBm/Hz)", true},
        {"figures turned off", {}, 1, true, TToneQuantity::Snr, "SNR (dB)", false},
        {"--figures", {QStringLiteral("--figures")}, -1, false, TToneQuantity::Snr, "SNR (dB)", true},
        {"not remembered from --figures", {}, 0, false, TToneQuantity::Bits, "Bits ", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            TForm1 form;
            const TCommandLine line = ParseCommandLine(QStringList{QStringLiteral("tirvane")} + c.arguments, {});
            ASSERT_TRUE(line.Start);
            PrepareWindow(form, line.Options, SettingsFilePath());
            if (c.chosen >= 0)
                form.QuantityItems[std::size_t(c.chosen)]->trigger();
            if (c.readChosen)
                form.ReadFigures1->trigger();
            EXPECT_EQ(form.Quantity(), c.quantity);
            EXPECT_EQ(form.Chart21->LeftAxis().TitleCaption.toStdString(), c.axisTitle);
            EXPECT_EQ(form.ReadFigures(), c.readFigures);
            EXPECT_TRUE(form.Label58->text().startsWith(ToneQuantityName(c.quantity) + QLatin1Char(':')));
        }
    }
}

} // namespace
