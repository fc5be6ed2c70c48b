// The router simulator as a child process for a test or benchmark: started
// on a loopback address, waited for until it listens, and stopped again on
// destruction. The tables it served are read back from its --served file.
// Port 23 needs a private network namespace as root (`unshare -n`), which is
// where tests run anyway.
#pragma once

#include "support/child_process.h"

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

class RouterSimProcess {
public:
    struct Options {
        std::string address = "127.0.0.1";
        int port = 23;
        std::string password = "1234";
        std::string username;
        bool ttype = false;
        unsigned seed = 1;
        std::vector<std::string> extraArgs;
    };

    // Another family's simulator at a line profile, on an address of its own.
    static Options Family(const char* family, const char* profile, std::vector<std::string> extra = {});

    // Throws std::runtime_error when the simulator does not start listening.
    explicit RouterSimProcess(Options options);
    ~RouterSimProcess();
    RouterSimProcess(const RouterSimProcess&) = delete;
    RouterSimProcess& operator=(const RouterSimProcess&) = delete;

    // The simulator program this library was built with.
    static const char* Path();

    const std::string& Address() const { return FOptions.address; }
    int Port() const { return FOptions.port; }
    pid_t Pid() const { return FProcess.Pid(); }
    const std::string& ServedPath() const { return FServedPath; }

    // SIGTERM and reap; the exit status as ChildProcess::Stop gives it (or -1
    // when already stopped). Called by the destructor.
    int Stop();

    // The last served table of each kind ("far" / "near"), read from the
    // --served file: 513 bit counts, tone 0 to 512.
    std::optional<std::array<int, 513>> LastServed(const std::string& kind) const;

    // The bits of every tone of the last line another family's simulator
    // served ("line" in the --served file).
    std::optional<std::vector<int>> LastServedLine() const;

    // The line's figures the simulator last said it printed, by the names
    // tirvane-read's JSON gives them ("figures.downstream.margin_db"), as
    // printed ("8.3").
    std::optional<std::map<std::string, std::string>> LastServedFigures() const;

    // Every tone's value of the last "snr", "qln" or "hlog" another family's
    // simulator served; NaN where not measured.
    std::optional<std::vector<double>> LastServedSpectrum(const std::string& name) const;

    // The command lines another family's simulator was sent, in order.
    std::vector<std::string> Commands() const;

    // Tone 0 to 512 as the monitor should decode them after one cycle: the far
    // table's tones 1 to 32 and the near table's 33 to 512; tone 0 is 0, and a
    // reply not served counts as decoding to 0.
    std::array<int, 513> ExpectedTones() const;

    // The terminal type the client last reported (with --ttype), empty if none.
    std::string TerminalType() const;

    // 127.x.y.z, different for every call in this process and, by the process
    // id in its low bytes, from those of other test processes running now.
    static std::string UniqueLoopbackAddress();

private:
    std::vector<std::string> ServedLines() const;

    Options FOptions;
    std::string FServedPath;
    support::ChildProcess FProcess;
};
