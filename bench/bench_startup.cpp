// Start-up and memory of the monitor.
//
// StartupToFirstPaint: on a private Xvfb, the time from starting a program
// until its window is on screen and painted (the pixel in its middle is no
// longer the unpainted black), for the monitor and, in the same iteration,
// for two yardsticks: a minimal Qt window program, and a window with a menu
// bar and one line of Arial text. The counter "ratio" is monitor over the
// minimal window; "ratio_text" is monitor over the text window, the fairer
// floor, since any window with words on it must find and load a font.
// The *_median counters are the medians of the per-iteration ratios;
// cpu_ratio_text_median compares the processor time the main threads of
// monitor and text window used until their first paint, which a loaded
// machine disturbs far less than the wall clock.
// Target: ratio_text at most 1.2.
//
// MemoryOverCycles: the main window driven in this process, cycle after
// cycle against the router simulator on loopback (no delays), its resident
// size after 1 cycle and after 101; the counter "growth_KiB" is the
// difference. Target: under 1 MiB, no growth.
//
// Run as root inside a private network namespace with loopback up: the
// simulator binds port 23 on a 127.x.y.z address.
#include "app/main_window.h"
#include "support/router_sim_process.h"
#include "support/x_session.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineEdit>
#include <QTemporaryDir>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <malloc.h>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>
#include <unistd.h>

using namespace support;

namespace {

constexpr char MonitorPath[] = TIRVANE_MONITOR_PATH;
constexpr char MinimalPath[] = TIRVANE_MINIMAL_WINDOW_PATH;
constexpr char TextPath[] = TIRVANE_TEXT_WINDOW_PATH;

Xvfb& SharedServer()
{
    static Xvfb server;
    static bool started = server.Start();
    (void)started;
    return server;
}

// The mapped top-level window titled `title`, or 0.
Window FindMapped(Display* dpy, Window root, const char* title)
{
    Window parent = 0, rootOut = 0;
    Window* children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (!XQueryTree(dpy, root, &rootOut, &parent, &children, &count))
        return 0;
    for (unsigned i = 0; i < count && !found; ++i) {
        XWindowAttributes attrs;
        if (!XGetWindowAttributes(dpy, children[i], &attrs) || attrs.map_state != IsViewable)
            continue;
        char* name = nullptr;
        if (XFetchName(dpy, children[i], &name) && name) {
            if (std::strcmp(name, title) == 0)
                found = children[i];
            XFree(name);
        }
    }
    if (children)
        XFree(children);
    return found;
}

// Starts `program` and returns the seconds until its window titled `title`
// is mapped and painted in its middle; negative on failure. With cpuSeconds,
// also the processor time its main thread had used by then: on a busy
// machine that figure waits for no one, where the wall clock does.
double SecondsToFirstPaint(const std::string& display, const char* program, const char* title,
    double* cpuSeconds = nullptr)
{
    Display* dpy = XOpenDisplay(display.c_str());
    if (!dpy)
        return -1;
    const Window root = DefaultRootWindow(dpy);
    ChildProcess child;
    const auto start = Clock::now();
    // Every start is a first run: no settings of the user's are read.
    static QTemporaryDir config;
    if (!child.Start({program}, {{"DISPLAY", display}, {"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", ""},
                                 {"XDG_CONFIG_HOME", config.path().toStdString()}},
                     false)) {
        XCloseDisplay(dpy);
        return -1;
    }
    double seconds = -1;
    const auto deadline = start + std::chrono::seconds(60);
    while (Clock::now() < deadline && child.IsRunning()) {
        if (const Window w = FindMapped(dpy, root, title)) {
            XWindowAttributes attrs;
            XGetWindowAttributes(dpy, w, &attrs);
            if (XImage* px = XGetImage(dpy, w, attrs.width / 2, attrs.height / 2, 1, 1, AllPlanes, ZPixmap)) {
                const unsigned long pixel = XGetPixel(px, 0, 0);
                XDestroyImage(px);
                if (pixel != 0) {
                    seconds = std::chrono::duration<double>(Clock::now() - start).count();
                    // The first field of schedstat: nanoseconds on a processor.
                    std::ifstream schedstat("/proc/" + std::to_string(child.Pid()) + "/schedstat");
                    double ns = -1;
                    if (cpuSeconds && schedstat >> ns)
                        *cpuSeconds = ns / 1e9;
                    break;
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    child.Stop();
    XCloseDisplay(dpy);
    return seconds;
}

void StartupToFirstPaint(benchmark::State& state)
{
    Xvfb& server = SharedServer();
    if (server.Display().empty()) {
        state.SkipWithError(("no X server: " + server.error).c_str());
        return;
    }
    double monitorTotal = 0, minimalTotal = 0, textTotal = 0;
    int runs = 0;
    // A busy moment on a shared machine spoils one iteration's figures; the
    // median of the per-iteration ratios shrugs it off where the mean cannot.
    std::vector<double> ratios, textRatios, cpuRatios;
    for (auto _ : state) {
        // Side by side in every iteration, so the machine's load falls on
        // all three alike.
        double textCpu = 0, monitorCpu = 0;
        const double minimal = SecondsToFirstPaint(server.Display(), MinimalPath, "Minimal Window");
        const double text = SecondsToFirstPaint(server.Display(), TextPath, "Text Window", &textCpu);
        const double monitor = SecondsToFirstPaint(server.Display(), MonitorPath, "ZyXEL Tirvane", &monitorCpu);
        if (minimal < 0 || text < 0 || monitor < 0) {
            state.SkipWithError("a window never appeared");
            return;
        }
        state.SetIterationTime(monitor);
        monitorTotal += monitor;
        minimalTotal += minimal;
        textTotal += text;
        ratios.push_back(monitor / minimal);
        textRatios.push_back(monitor / text);
        if (textCpu > 0 && monitorCpu > 0)
            cpuRatios.push_back(monitorCpu / textCpu);
        ++runs;
    }
    auto median = [](std::vector<double> v) {
        std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    if (runs > 0) {
        state.counters["monitor_ms"] = 1000 * monitorTotal / runs;
        state.counters["minimal_ms"] = 1000 * minimalTotal / runs;
        state.counters["text_ms"] = 1000 * textTotal / runs;
        state.counters["ratio"] = monitorTotal / minimalTotal;
        state.counters["ratio_text"] = monitorTotal / textTotal;
        state.counters["ratio_median"] = median(ratios);
        state.counters["ratio_text_median"] = median(textRatios);
        if (!cpuRatios.empty())
            state.counters["cpu_ratio_text_median"] = median(cpuRatios);
    }
}
BENCHMARK(StartupToFirstPaint)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

// Resident size once the allocator has handed back what it holds free, so
// the figure follows live memory rather than the heap's high-water mark.
long ResidentKiB()
{
    ::malloc_trim(0);
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

void MemoryOverCycles(benchmark::State& state)
{
    if (::geteuid() != 0) {
        state.SkipWithError("binding port 23 needs root (run inside unshare -n as root)");
        return;
    }
    const std::string host = "127.24." + std::to_string((::getpid() >> 8) & 0xff) + "."
        + std::to_string(::getpid() % 250 + 2);
    ChildProcess simulator;
    if (!simulator.Start({RouterSimProcess::Path(), "--address", host, "--port", "23", "--password", "1234"}, {}, true)
        || !simulator.WaitForLine("listening on", Milliseconds(20000))) {
        state.SkipWithError(("the simulator did not start: " + simulator.Output()).c_str());
        return;
    }

    static int argc = 1;
    static char name[] = "bench_startup";
    static char* argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The cycles are recorded into a history of this run's own, never the user's.
    static QTemporaryDir data;
    ::setenv("XDG_DATA_HOME", data.path().toLocal8Bit().constData(), 1);
    static QApplication app(argc, argv);

    for (auto _ : state) {
        auto form = std::make_unique<TForm1>();
        form->show();
        // Loopback before any cycle: the Host box starts as a real address.
        form->edHost->setText(QString::fromStdString(host));
        form->edPassword->setText(QStringLiteral("1234"));
        auto cycle = [&] {
            form->Button1Click();
            QApplication::processEvents();
        };
        cycle();
        const long afterOne = ResidentKiB();
        for (int i = 0; i < 50; ++i)
            cycle();
        const long afterFiftyOne = ResidentKiB();
        for (int i = 0; i < 50; ++i)
            cycle();
        const long afterHundredOne = ResidentKiB();
        form->Button2Click();
        state.counters["rss_after_1_KiB"] = static_cast<double>(afterOne);
        state.counters["rss_after_101_KiB"] = static_cast<double>(afterHundredOne);
        state.counters["growth_KiB"] = static_cast<double>(afterHundredOne - afterOne);
        // A leak grows in both halves alike; warming up only in the first.
        state.counters["growth_first_50_KiB"] = static_cast<double>(afterFiftyOne - afterOne);
        state.counters["growth_last_50_KiB"] = static_cast<double>(afterHundredOne - afterFiftyOne);
    }
}
BENCHMARK(MemoryOverCycles)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
