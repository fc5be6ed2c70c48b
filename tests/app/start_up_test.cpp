// The window as the program starts it, offscreen, with the test's own
// settings files; --plot runs against the router simulator.
#include "app/main_window.h"
#include "app/shape.h"
#include "app/start_up.h"
#include "chart/series.h"
#include "support/modal_catcher.h"
#include "support/router_sim_process.h"

#include <QFile>
#include <QProcess>
#include <QAction>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

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
    // A router on another telnet port than 23, named by --port or in the box.
    RouterSimProcess::Options otherPort;
    otherPort.address = RouterSimProcess::UniqueLoopbackAddress();
    otherPort.port = 2323;
    RouterSimProcess sim2323(otherPort);
    const QString at2323 = QString::fromStdString(sim2323.Address());
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
        {"none.conf", {"--host", at2323, "--port", "2323", "--plot"}, {at2323 + ":2323", "", ">", TRangeChoice::rc0To255}, 256},
        {"none.conf", {"--host", at2323 + ":23", "--port", "2323", "--plot"}, {at2323 + ":2323", "", ">", TRangeChoice::rc0To255}, 256},
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
        if (c.fields.Host.startsWith(at2323)) { // served by the router on port 2323, not any on 23
            EXPECT_TRUE(sim2323.LastServed("far"));
        }
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

// What is typed or chosen is in the settings file while the window is still
// open: a crash or a logout after it forgets nothing.
TEST(StartUp, ChangesAreKeptWhileTheWindowIsOpen)
{
    QTemporaryDir dir;
    const QString settings = dir.filePath("tirvane/tirvane.conf");
    ModalCatcher catcher; // a range chosen runs a cycle, which asks for the password
    TForm1 form;
    PrepareWindow(form, Options({}), settings);
    const struct {
        const char* change;
        std::function<void()> make;
    } cases[] = {
        {"Host typed", [&] { form.edHost->setText(QStringLiteral("127.0.0.9:2323")); }},
        {"Username typed", [&] { form.edUsername->setText(QStringLiteral("admin")); }},
        {"range chosen", [&] { form.rb3->setChecked(true); }},
        {"router chosen", [&] { form.RouterItems[2]->trigger(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change);
        c.make();
        EXPECT_TRUE(QTest::qWaitFor([&] { return ReadStartFields(settings) == StartFieldsOf(form); }, 20000));
    }
    EXPECT_EQ(ReadStartFields(settings).Router, TRouterFamily::Lantiq);
}

#ifdef TIRVANE_MONITOR
// Started where no display can be opened, the program says so in one line
// and ends with status 1, never a crash after Qt's own words.
TEST(StartUp, NoDisplayIsOneLineAndStatusOne)
{
    QTemporaryDir home;
    const struct {
        const char* name;
        QStringList set; // NAME=value; DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are unset first
    } cases[] = {
        {"nothing set", {}},
        {"a display nobody serves", {"DISPLAY=:7391"}},
        {"xcb asked for", {"QT_QPA_PLATFORM=xcb"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath("config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath("data"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
        for (const QString& pair : c.set)
            env.insert(pair.section('=', 0, 0), pair.section('=', 1));
        QProcess monitor;
        monitor.setProcessEnvironment(env);
        monitor.start(QStringLiteral(TIRVANE_MONITOR), {});
        if (!monitor.waitForFinished(60000)) {
            monitor.kill();
            monitor.waitForFinished();
            ADD_FAILURE() << "the monitor did not end";
            continue;
        }
        const QByteArray error = monitor.readAllStandardError();
        EXPECT_EQ(monitor.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(monitor.exitCode(), 1);
        EXPECT_TRUE(error.startsWith("tirvane: the window needs a display") && error.count('\n') == 1) << error.toStdString();
    }
}

// TERM closes the window as the user would: the reading recorded, the
// history closed cleanly with no log left beside it, status 0.
TEST(StartUp, TermClosesTheHistoryCleanly)
{
    RouterSimProcess::Options simOn;
    simOn.address = RouterSimProcess::UniqueLoopbackAddress();
    RouterSimProcess sim(simOn);
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath("config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath("data"));
    env.insert(QStringLiteral("TIRVANE_PASSWORD"), QStringLiteral("1234"));
    QProcess monitor;
    monitor.setProcessEnvironment(env);
    monitor.start(QStringLiteral(TIRVANE_MONITOR), {"--host", QString::fromStdString(sim.Address()), "--plot"});
    const QString history = home.filePath("data/Tirvane/history.sqlite");
    // The log stands beside the file while the history is open.
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(history + "-wal"); }, 60000));
    ::kill(pid_t(monitor.processId()), SIGTERM);
    ASSERT_TRUE(monitor.waitForFinished(60000));
    EXPECT_EQ(monitor.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(monitor.exitCode(), 0);
    EXPECT_TRUE(QFile::exists(history));
    EXPECT_FALSE(QFile::exists(history + "-wal"));
}
#endif
