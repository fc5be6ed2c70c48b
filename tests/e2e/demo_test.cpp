// scripts/run.sh --demo with this build on a private Xvfb: bars and a green
// lamp with no key pressed and no click.
#include "support/screen_reading.h"
#include "support/x_session.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <set>
#include <thread>
#include <unistd.h>

using namespace support;

namespace {

// The processes below pid, found through their parents in /proc; zombies
// count as gone.
std::set<pid_t> Descendants(pid_t pid)
{
    std::map<pid_t, pid_t> parentOf;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (entry.toInt() <= 0 || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' '); // state, parent, ...
        if (fields.size() > 1 && fields[0] != "Z")
            parentOf[entry.toInt()] = fields[1].toInt();
    }
    std::set<pid_t> found{pid};
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& [child, parent] : parentOf)
            grew |= found.contains(parent) && found.insert(child).second;
    }
    found.erase(pid);
    return found;
}

bool Alive(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    return stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z ");
}

} // namespace

TEST(Demo, PlotsTheSimulatorWithNothingTyped)
{
    if (FindOnPath("Xvfb").empty() || ::geteuid() != 0)
        GTEST_SKIP() << "needs Xvfb, and root for unshare -n";
    Xvfb server;
    ASSERT_TRUE(server.Start()) << server.error;
    QTemporaryDir home;
    // The X keyboard library trips strict string checks under the sanitizer.
    const char* asan = std::getenv("ASAN_OPTIONS");
    ChildProcess demo;
    ASSERT_TRUE(demo.Start({TIRVANE_RUN_SCRIPT, "--demo", "--prebuilt", TIRVANE_BUILD_DIR},
        {{"DISPLAY", server.Display()}, {"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", ""},
            {"HOME", home.path().toStdString()}, {"XDG_CONFIG_HOME", home.filePath("config").toStdString()},
            {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":strict_string_checks=0"}},
        true));
    const XDoTool tool(server.Display());
    const std::string window = tool.WaitForWindow("ZyXEL Tirvane", Milliseconds(60000));
    ASSERT_FALSE(window.empty()) << (demo.ReadToEnd(Milliseconds(3000)), demo.Output());
    int x = 0, y = 0, w = 0, h = 0;
    ASSERT_TRUE(tool.WindowGeometry(window, &x, &y, &w, &h));

    // Tones 5 to 31 stand in green, 32 to 255 in blue, a column or two each.
    int green = 0, coloured = 0;
    bool lampGreen = false;
    for (const auto end = Clock::now() + std::chrono::seconds(30); Clock::now() < end;) {
        const QImage shot = GrabScreen(server.Display());
        green = CountColouredColumns(shot, QRect(x, y, w, h), true);
        coloured = CountColouredColumns(shot, QRect(x, y, w, h), false);
        lampGreen = FindLamp(shot, QRect(x, y, w, h), QColor(0, 128, 0)).has_value();
        if (green >= 10 && coloured - green >= 100 && lampGreen)
            break;
        std::this_thread::sleep_for(Milliseconds(200));
    }
    EXPECT_TRUE(green >= 10 && coloured - green >= 100 && lampGreen)
        << green << " green, " << coloured - green << " blue columns; " << demo.Output();
}

// The demo stopped by a signal to the script takes the monitor, the
// simulator and its scratch folders with it.
TEST(Demo, ASignalToTheScriptStopsEverything)
{
    if (FindOnPath("Xvfb").empty() || ::geteuid() != 0)
        GTEST_SKIP() << "needs Xvfb, and root for unshare -n";
    Xvfb server;
    ASSERT_TRUE(server.Start()) << server.error;
    const char* asan = std::getenv("ASAN_OPTIONS");
    for (const auto& [signal, exit] : {std::pair{SIGTERM, 143}, {SIGINT, 130}, {SIGHUP, 129}}) {
        SCOPED_TRACE(strsignal(signal));
        QTemporaryDir home, scratch, runtime; // Qt would make its runtime folder in TMPDIR
        ChildProcess demo;
        ASSERT_TRUE(demo.Start({TIRVANE_RUN_SCRIPT, "--demo", "--prebuilt", TIRVANE_BUILD_DIR},
            {{"DISPLAY", server.Display()}, {"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", ""},
                {"HOME", home.path().toStdString()}, {"XDG_CONFIG_HOME", home.filePath("config").toStdString()},
                {"TMPDIR", scratch.path().toStdString()}, {"XDG_RUNTIME_DIR", runtime.path().toStdString()},
                {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":strict_string_checks=0"}},
            true));
        const XDoTool tool(server.Display());
        ASSERT_FALSE(tool.WaitForWindow("ZyXEL Tirvane", Milliseconds(60000)).empty())
            << (demo.ReadToEnd(Milliseconds(3000)), demo.Output());
        const std::set<pid_t> started = Descendants(demo.Pid());
        EXPECT_GE(started.size(), 2u); // the simulator and the monitor
        EXPECT_FALSE(QDir(scratch.path()).isEmpty());

        ASSERT_EQ(::kill(demo.Pid(), signal), 0);
        EXPECT_EQ(demo.Wait(Milliseconds(20000)), exit) << demo.Output();
        for (const pid_t pid : started)
            EXPECT_FALSE(Alive(pid)) << pid << " is left running";
        EXPECT_TRUE(QDir(scratch.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
            << QDir(scratch.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).join(' ').toStdString();
    }
}
