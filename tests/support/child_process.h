// Child processes for tests and benchmarks: a program started with its own
// environment, its output read line by line, and always stopped and reaped
// again, so no test leaves a program behind.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace support {

using Milliseconds = std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// The full path of an executable found on PATH, or empty.
std::string FindOnPath(const std::string& name);

// Environment overrides for a child: name -> value; an empty value unsets.
using Environment = std::map<std::string, std::string>;

// A child process. Its stdout and stderr can be captured into one pipe so
// the parent can wait for a line; it is terminated and reaped on
// destruction.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    // Starts argv[0] (a path) with the parent's environment plus overrides.
    // With captureOutput, stdout and stderr go to a pipe read by WaitForLine;
    // otherwise they go to /dev/null. With outputOnFd3, what the child
    // writes to descriptor 3 is captured instead, and stdout and stderr go
    // to /dev/null. Returns false (and sets error) when the program cannot
    // be started.
    bool Start(const std::vector<std::string>& argv, const Environment& env,
               bool captureOutput, bool outputOnFd3 = false);

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

    // SIGTERM, a grace period, then SIGKILL; always reaps. The exit status
    // as Wait gives it (128 + the signal for a child the signal ended), or
    // -1 when there was no child to stop.
    int Stop();

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
    int FStatus = -1;
};

struct CommandResult {
    int exitCode = -1; // -1 when it timed out or could not start
    std::string output; // stdout and stderr
};

// Runs a program to its end, killing it after `timeout`.
CommandResult RunCommand(const std::vector<std::string>& argv, const Environment& env,
                         Milliseconds timeout);

} // namespace support
