// The window beside a running recorder, on Qt's offscreen platform against
// the router simulator: a host the recorder polls is shown from the
// recorder's readings with no session of the window's own (connections
// counted at the simulator), and a refused password stops the sampling.
#include "app/main_window.h"
#include "app/shape.h"
#include "chart/chart.h"
#include "chart/series.h"
#include "history/store/reading_store.h"
#include "../recorder/recorder_process.h"
#include "support/modal_catcher.h"
#include "support/router_sim_process.h"

#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// Waits, with the window answering, until `done` or a generous ceiling.
bool Within(int ms, const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QTest::qWait(20);
    return done();
}

TEST(RecorderWindowTest, HostTheRecorderPollsOpensNoSecondSession)
{
    QTemporaryDir dir;
    RouterSimProcess sim(RouterSimProcess::Family("broadcom", "17a"));
    WriteFile(dir, QStringLiteral("pw"), "1234\n");
    const QString config = WriteFile(dir, QStringLiteral("r.conf"),
        QStringLiteral("[office]\nhost = %1\nrouter = broadcom\ninterval = 1\npassword_file = pw\n")
            .arg(QString::fromStdString(sim.Address())).toUtf8());
    TRecorderProcess recorder;
    recorder.Start(QStringLiteral(TIRVANE_RECORDER), {"--config", config, "--history", TReadingStore::DefaultPath()});
    // A whole cycle of the recorder's is over, and its reading kept, once the
    // simulator serves the next one's bits.
    ASSERT_TRUE(Within(60000, [&] { return CountServed(sim.ServedPath(), "line") >= 2; }));

    TForm1 form;
    form.show();
    form.SetRouter(TRouterFamily::Broadcom);
    form.edHost->setText(QString::fromStdString(sim.Address()));
    form.edPassword->setText(QStringLiteral("1234"));
    ModalCatcher catcher;
    form.Button1Click();
    EXPECT_TRUE(form.Chart21->Notice().startsWith(QStringLiteral("Readings from the recorder, every 1 s")))
        << form.Chart21->Notice().toStdString();
    EXPECT_EQ(form.Shape1->BrushColor(), QColor(0, 128, 0));
    EXPECT_FALSE(form.Timer1->isActive());
    // The recorder's readings follow one another on the chart, each the
    // line the simulator served last, and every session is the recorder's.
    for (int reading = 0; reading < 2; ++reading) {
        const int served = CountServed(sim.ServedPath(), "line");
        ASSERT_TRUE(Within(20000, [&] {
            const std::optional<std::vector<int>> last = sim.LastServedLine();
            return CountServed(sim.ServedPath(), "line") > served && last && form.LineSeries18->Count() > 0
                && form.LineSeries18->YValues().Value(100) == double((*last)[100]);
        }));
    }
    const int sessions = CountServed(sim.ServedPath(), "session");
    EXPECT_EQ(recorder.Terminate(), 0);
    EXPECT_EQ(sessions, CountServed(sim.ServedPath(), "line")) << "a session that was not the recorder's";
}

// A password refused once is refused again; some routers lock the account.
TEST(RecorderWindowTest, RefusedPasswordStopsSampling)
{
    for (const auto& [family, router] : {std::pair{"zyxel", TRouterFamily::Zyxel}, {"broadcom", TRouterFamily::Broadcom}}) {
        SCOPED_TRACE(family);
        RouterSimProcess sim(RouterSimProcess::Family(family, "adsl2+", {"--wrong-password"}));
        TForm1 form;
        form.show();
        form.SetRouter(router);
        form.edHost->setText(QString::fromStdString(sim.Address()));
        form.edPassword->setText(QStringLiteral("4321"));
        ModalCatcher catcher;
        form.Button1Click();
        EXPECT_FALSE(form.Timer1->isActive());
        EXPECT_EQ(form.Shape1->BrushColor(), QColor(255, 0, 0));
        EXPECT_TRUE(form.Chart21->Notice().endsWith(QStringLiteral("The router did not accept the password: sampling stopped")))
            << form.Chart21->Notice().toStdString();
    }
}

} // namespace
