// scripts/run.sh --demo with this build on a private Xvfb: bars and a green
// lamp with no key pressed and no click.
#include "support/screen_reading.h"
#include "support/x_session.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <thread>
#include <unistd.h>

using namespace support;

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
