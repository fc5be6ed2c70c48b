// Helpers for driving real programs on a real X server: child processes with
// their own environment, a private Xvfb that picks its own free display, the
// pointer and keyboard through xdotool, and screenshots of the root window.
// Shared by the end-to-end test and the start-up benchmark.
#pragma once

#include <QImage>

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace e2e {

using Milliseconds = std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// The full path of an executable found on PATH, or empty.
std::string FindOnPath(const std::string& name);

// Environment overrides for a child: name -> value; an empty value unsets.
using Environment = std::map<std::string, std::string>;

// A child process. Its stdout and stderr can be captured into one pipe so
// the parent can wait for a line; it is terminated and reaped on
// destruction, so no test leaves a program behind.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ~ChildProcess();

    // Starts argv[0] (a path) with the parent's environment plus overrides.
    // With captureOutput, stdout and stderr go to a pipe read by WaitForLine;
    // otherwise they go to /dev/null. extraFd, when >= 0, is handed to the
    // child as descriptor 3. Returns false (and sets error) when the program
    // cannot be started.
    bool Start(const std::vector<std::string>& argv, const Environment& env,
               bool captureOutput, int extraFd = -1);

    pid_t Pid() const { return FPid; }
    bool IsRunning();

    // Reads output until a line holding `needle` arrives; returns that line
    // through `line`. False on time-out or end of output.
    bool WaitForLine(const std::string& needle, Milliseconds timeout, std::string* line = nullptr);
    // Reads until the child closes its output; true when it did in time.
    bool ReadToEnd(Milliseconds timeout);
    // Everything read so far, for failure messages.
    const std::string& Output() const { return FOutput; }

    // Waits for the child to end; its exit status, or -1 when it had to be
    // stopped at the time-out.
    int Wait(Milliseconds timeout);

    // SIGTERM, a grace period, then SIGKILL; always reaps.
    void Stop();

    std::string error;

private:
    // Reads one chunk of output; false at the deadline or the end of output.
    bool ReadSome(Clock::time_point deadline);

    pid_t FPid = -1;
    int FOutFd = -1;
    std::string FOutput;
    std::size_t FScanned = 0;
    bool FAtEnd = false;
    bool FReaped = false;
};

struct CommandResult {
    int exitCode = -1; // -1 when it timed out or could not start
    std::string output; // stdout and stderr
};

// Runs a program to its end, killing it after `timeout`.
CommandResult RunCommand(const std::vector<std::string>& argv, const Environment& env,
                         Milliseconds timeout);

// A private X server on the first free display, chosen by the server itself
// (-displayfd), so parallel runs never collide.
class Xvfb {
public:
    bool Start(int width = 1280, int height = 1024);
    void Stop() { FServer.Stop(); }
    const std::string& Display() const { return FDisplay; } // ":N"
    std::string error;

private:
    ChildProcess FServer;
    std::string FDisplay;
};

// The whole screen of `display` as an RGB32 image (null on failure).
QImage GrabScreen(const std::string& display);

// xdotool on `display`.
class XDoTool {
public:
    explicit XDoTool(std::string display) : FDisplay(std::move(display)) {}
    CommandResult Run(const std::vector<std::string>& args, Milliseconds timeout = Milliseconds(20000)) const;

    // The first visible window whose title is exactly `title`, waiting for it
    // to appear; empty on time-out.
    std::string WaitForWindow(const std::string& title, Milliseconds timeout) const;
    // Outer position and size of a window; false when it is unknown.
    bool WindowGeometry(const std::string& window, int* x, int* y, int* w, int* h) const;
    bool MoveTo(int x, int y) const;
    bool ClickAt(int x, int y) const;
    bool Type(const std::string& text) const;
    bool Key(const std::string& keys) const;

private:
    std::string FDisplay;
};

} // namespace e2e
