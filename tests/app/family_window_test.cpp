// The window reading each family's simulator on loopback (offscreen): the
// Router menu's choice, bars equal to what was served in the range chosen,
// upstream bands green and the rest blue, the range captions of long lines,
// the read-out's tone and frequency at the line's spacing, and a line not in
// showtime said on the chart with no bars.
#include "app/main_window.h"
#include "chart/chart.h"
#include "chart/color.h"
#include "history/figures/history_figures.h"
#include "line/hover_readout.h"
#include "support/modal_catcher.h"
#include "support/router_sim_process.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

namespace {

bool InBands(const std::vector<TToneBand>& bands, int tone)
{
    return std::any_of(bands.begin(), bands.end(), [tone](TToneBand b) { return tone >= b.First && tone <= b.Last; });
}

TEST(FamilyWindow, BarsAreTheLineServedInTheRangeChosen)
{
    const struct {
        TRouterFamily family;
        const char* name;
        const char* profile;
        QRadioButton* TForm1::*button;
        int first, last;
        const char* captions[3];
    } cases[] = {
        {TRouterFamily::Broadcom, "broadcom", "adsl2+", &TForm1::rb3, 0, 511, {"0 - 255", "256 - 511", "0 - 511"}},
        {TRouterFamily::Broadcom, "broadcom", "17a", &TForm1::rb2, 2048, 4095, {"0 - 2047", "2048 - 4095", "0 - 4095"}},
        {TRouterFamily::Lantiq, "lantiq", "35b", &TForm1::rb1, 0, 4095, {"0 - 4095", "4096 - 8191", "0 - 8191"}},
        {TRouterFamily::Lantiq, "lantiq", "17a", &TForm1::rb3, 0, 4095, {"0 - 2047", "2048 - 4095", "0 - 4095"}},
        {TRouterFamily::Draytek, "draytek", "adsl2+", &TForm1::rb2, 256, 511, {"0 - 255", "256 - 511", "0 - 511"}},
        {TRouterFamily::Draytek, "draytek", "35b", &TForm1::rb3, 0, 8191, {"0 - 4095", "4096 - 8191", "0 - 8191"}},
        {TRouterFamily::Draytek, "draytek", "30a", &TForm1::rb1, 0, 1738, {"0 - 1738", "1739 - 3478", "0 - 3478"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.profile);
        RouterSimProcess sim(RouterSimProcess::Family(c.name, c.profile));
        TForm1 form;
        form.show();
        form.edHost->setText(QString::fromStdString(sim.Address()));
        form.edPassword->setText(QStringLiteral("1234"));
        form.SetRouter(c.family);
        EXPECT_EQ(form.Router(), c.family);
        EXPECT_EQ(form.windowTitle(), RouterWindowCaption(c.family));
        EXPECT_TRUE(form.windowTitle().endsWith(QStringLiteral(" Tirvane")));
        (form.*c.button)->setChecked(true);
        ModalCatcher catcher;
        form.Button1->click();
        EXPECT_TRUE(catcher.Seen().empty());
        ASSERT_TRUE(form.ShownLine()) << form.Chart21->Notice().toStdString();
        EXPECT_TRUE(form.Chart21->Notice().isEmpty());
        const auto served = sim.LastServedLine();
        ASSERT_TRUE(served);
        const TBarSeries& series = *form.LineSeries18;
        ASSERT_EQ(series.Count(), c.last - c.first + 1);
        const TBandPlan& bands = form.ShownLine()->Bands;
        for (int i = 0; i < series.Count(); ++i) {
            const int tone = c.first + i;
            ASSERT_EQ(series.Label(i), QString::number(tone));
            ASSERT_EQ(series.YValues().Value(i), double((*served)[std::size_t(tone)])) << tone;
            ASSERT_EQ(series.ValueColor(i), InBands(bands.Upstream, tone) ? clGreen : clBlue) << tone;
        }
        EXPECT_EQ(form.Chart21->BottomAxis().Maximum(), double(c.last - c.first));
        EXPECT_EQ(form.rb1->text(), QString::fromLatin1(c.captions[0]));
        EXPECT_EQ(form.rb2->text(), QString::fromLatin1(c.captions[1]));
        EXPECT_EQ(form.rb3->text(), QString::fromLatin1(c.captions[2]));
        // Back to the ZyXEL: its captions as designed.
        form.RouterItems[0]->trigger();
        EXPECT_EQ(form.rb3->text(), QStringLiteral("0 - 512"));
        EXPECT_EQ(form.windowTitle(), QStringLiteral("ZyXEL Tirvane"));
    }
}

TEST(FamilyWindow, ReadOutUsesTheLineSpacing)
{
    const struct {
        int index, offset;
        double spacing;
        const char* frequency;
    } cases[] = {
        {100, 0, 8.625, "Frequency:       862.5 KHz"},
        {0, 2048, 4.3125, "Frequency:       8832 KHz"},
        {33, 0, 4.3125, "Frequency:       142.3125 KHz"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HoverTexts(c.index, c.offset, 3, c.spacing).Frequency, QString::fromLatin1(c.frequency));
}

TEST(FamilyWindow, ALineNotInShowtimeIsSaidWithoutBars)
{
    RouterSimProcess sim(RouterSimProcess::Family("broadcom", "17a", {"--training"}));
    TForm1 form;
    form.show();
    form.edHost->setText(QString::fromStdString(sim.Address()));
    form.edPassword->setText(QStringLiteral("1234"));
    form.SetRouter(TRouterFamily::Broadcom);
    ModalCatcher catcher;
    form.Button1->click();
    EXPECT_FALSE(form.ShownLine());
    EXPECT_EQ(form.LineSeries18->Count(), 0);
    EXPECT_TRUE(form.Chart21->Notice().contains(QStringLiteral("the line is not in showtime (Status: G.994 Training)")))
        << form.Chart21->Notice().toStdString();
}

} // namespace
