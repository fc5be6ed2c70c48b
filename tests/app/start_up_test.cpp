// The window as the program starts it, offscreen, with the test's own
// settings files; --plot runs against the router simulator.
#include "app/main_window.h"
#include "app/shape.h"
#include "app/start_up.h"
#include "chart/series.h"
#include "support/modal_catcher.h"
#include "support/router_sim_process.h"

#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

static TStartOptions Options(const QStringList& args, const QString& password = {})
{
    const TCommandLine line = ParseCommandLine(QStringList{"tirvane"} + args, password);
    EXPECT_TRUE(line.Start) << line.Text.toStdString();
    return line.Options;
}

TEST(StartUp, CommandLinesGiveTheWindowTheyAskFor)
{
    RouterSimProcess::Options simOn;
    simOn.address = RouterSimProcess::UniqueLoopbackAddress();
    RouterSimProcess sim(simOn);
    const QString at = QString::fromStdString(sim.Address());
    QTemporaryDir dir;
    const TStartFields remembered{"127.0.0.9", "u", "ras>", TRangeChoice::rc0To512};
    ASSERT_TRUE(WriteStartFields(dir.filePath("remembered.conf"), remembered));
    const struct {
        const char* settings;
        QStringList args;
        TStartFields fields;
        int bars; // -1: no cycle runs, the lamp stays red and the timer off
    } cases[] = {
        {"none.conf", {}, {}, -1}, // the window as it was designed
        {"remembered.conf", {"--username=", "--prompt", "#", "--range", "256-512"},
            {"127.0.0.9", "", "#", TRangeChoice::rc256To512}, -1},
        {"remembered.conf", {"--host", at, "--username=", "--prompt=>", "--plot"},
            {at, "", ">", TRangeChoice::rc0To512}, 513},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(("tirvane " + c.args.join(' ')).toStdString());
        ModalCatcher catcher;
        TForm1 form;
        PrepareWindow(form, Options(c.args, "1234"), dir.filePath(c.settings));
        form.show();
        EXPECT_TRUE(StartFieldsOf(form) == c.fields);
        EXPECT_EQ(form.edPassword->text(), c.bars < 0 ? "" : "1234");
        if (c.bars < 0)
            QTest::qWait(100);
        QTRY_COMPARE_WITH_TIMEOUT(form.Timer1->isActive(), c.bars >= 0, 30000);
        EXPECT_EQ(form.Shape1->BrushColor(), c.bars < 0 ? QColor(255, 0, 0) : QColor(0, 128, 0));
        EXPECT_EQ(form.LineSeries18->Count(), std::max(c.bars, 0));
        EXPECT_TRUE(catcher.Seen().empty()) << catcher.Seen().front().Text;
    }
}

TEST(StartUp, ClosingRemembersTheBoxesButNeverThePassword)
{
    QTemporaryDir dir;
    const QString settings = dir.filePath("tirvane/tirvane.conf");
    // Texts the settings file must escape: brackets, =, ;, # and a leading @.
    const TStartFields typed{"[::1]", "a=b;#c", "@ras> ", TRangeChoice::rc256To512};
    {
        TForm1 form;
        PrepareWindow(form, Options({"--plot"}, "pa55word"), settings);
        ApplyStartFields(form, typed);
        form.close(); // never shown, so never a cycle
    }
    QFile file(settings);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_FALSE(bytes.contains("pa55word")) << bytes.toStdString();

    TForm1 next;
    PrepareWindow(next, Options({}), settings);
    EXPECT_TRUE(StartFieldsOf(next) == typed);
    EXPECT_TRUE(next.edPassword->text().isEmpty());
}
