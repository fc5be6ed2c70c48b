// Runs the router simulator as a child process for a test or benchmark: starts
// it on a loopback address, waits until it listens, and stops it again on
// destruction. The tables it served are read back from its --served file.
//
// The simulator's path comes from the compile definition TIRVANE_ROUTER_SIM
// (add `target_compile_definitions(<t> PRIVATE
// TIRVANE_ROUTER_SIM="$<TARGET_FILE:tirvane_router_sim>")` and
// `add_dependencies(<t> tirvane_router_sim)`). Port 23 needs a private
// network namespace as root (`unshare -n`), which is where tests run anyway.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#ifndef TIRVANE_ROUTER_SIM
#error "define TIRVANE_ROUTER_SIM as the path of tirvane-router-sim"
#endif

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

    explicit RouterSimProcess(Options options)
        : FOptions(std::move(options))
    {
        char path[] = "/tmp/tirvane-served-XXXXXX";
        const int fd = ::mkstemp(path);
        if (fd < 0)
            throw std::runtime_error("RouterSimProcess: cannot create the served file");
        ::close(fd);
        FServedPath = path;

        std::vector<std::string> args = {TIRVANE_ROUTER_SIM,
                                         "--address", FOptions.address,
                                         "--port", std::to_string(FOptions.port),
                                         "--password", FOptions.password,
                                         "--seed", std::to_string(FOptions.seed),
                                         "--served", FServedPath};
        if (!FOptions.username.empty()) {
            args.push_back("--username");
            args.push_back(FOptions.username);
        }
        if (FOptions.ttype)
            args.push_back("--ttype");
        args.insert(args.end(), FOptions.extraArgs.begin(), FOptions.extraArgs.end());
        Start(args);
    }

    ~RouterSimProcess() { Stop(); }

    RouterSimProcess(const RouterSimProcess&) = delete;
    RouterSimProcess& operator=(const RouterSimProcess&) = delete;

    const std::string& Address() const { return FOptions.address; }
    int Port() const { return FOptions.port; }
    pid_t Pid() const { return FPid; }
    const std::string& ServedPath() const { return FServedPath; }

    // SIGTERM and reap; returns the exit status as waitpid gives it (or -1
    // when already stopped). Called by the destructor.
    int Stop()
    {
        if (FPid <= 0)
            return -1;
        ::kill(FPid, SIGTERM);
        int status = 0;
        while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
        }
        FPid = -1;
        if (FStdout >= 0)
            ::close(FStdout);
        FStdout = -1;
        if (!FServedPath.empty())
            std::remove(FServedPath.c_str());
        return status;
    }

    // The last served table of each kind ("far" / "near"), read from the
    // --served file: 513 bit counts, tone 0 to 512.
    std::optional<std::array<int, 513>> LastServed(const std::string& kind) const
    {
        std::optional<std::array<int, 513>> last;
        for (const auto& line : ServedLines()) {
            std::istringstream in(line);
            std::string word;
            in >> word;
            if (word != kind)
                continue;
            std::array<int, 513> bits{};
            bool ok = true;
            for (int& b : bits)
                ok = ok && static_cast<bool>(in >> b);
            if (ok)
                last = bits;
        }
        return last;
    }

    // Tone 0 to 512 as the monitor should decode them after one cycle: the far
    // table's tones 1 to 32 and the near table's 33 to 512; tone 0 is 0, and a
    // reply not served counts as decoding to 0.
    std::array<int, 513> ExpectedTones() const
    {
        std::array<int, 513> tones{};
        const auto far = LastServed("far");
        const auto near = LastServed("near");
        for (int t = 1; t <= 512; ++t) {
            const auto& from = t <= 32 ? far : near;
            tones[static_cast<std::size_t>(t)] = from ? (*from)[static_cast<std::size_t>(t)] : 0;
        }
        return tones;
    }

    // The terminal type the client last reported (with --ttype), empty if none.
    std::string TerminalType() const
    {
        std::string type;
        for (const auto& line : ServedLines()) {
            if (line.rfind("ttype ", 0) == 0)
                type = line.substr(6);
        }
        return type;
    }

    // 127.x.y.z, different for every call in this process and, by the process
    // id in its low bytes, from those of other test processes running now.
    static std::string UniqueLoopbackAddress()
    {
        static std::atomic<unsigned> calls{0};
        const unsigned n = calls++;
        const auto pid = static_cast<unsigned>(::getpid());
        return "127." + std::to_string(1 + n % 254) + "." + std::to_string((pid >> 8) & 255) + "."
            + std::to_string(pid & 255);
    }

private:
    std::vector<std::string> ServedLines() const
    {
        std::vector<std::string> lines;
        std::ifstream in(FServedPath);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    void Start(const std::vector<std::string>& args)
    {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) < 0)
            throw std::runtime_error("RouterSimProcess: pipe failed");
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);

        FPid = ::fork();
        if (FPid < 0)
            throw std::runtime_error("RouterSimProcess: fork failed");
        if (FPid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        FStdout = out[0];

        // Wait for "listening on ...": generous, the machine may be busy.
        std::string seen;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (seen.find('\n') == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now()).count();
            pollfd p{FStdout, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0)
                break;
            char buf[256];
            const auto n = ::read(FStdout, buf, sizeof buf);
            if (n <= 0)
                break;
            seen.append(buf, static_cast<std::size_t>(n));
        }
        if (seen.rfind("listening on ", 0) != 0) {
            Stop();
            throw std::runtime_error("RouterSimProcess: the simulator did not start on "
                                     + FOptions.address + " port " + std::to_string(FOptions.port)
                                     + (seen.empty() ? std::string() : ": " + seen));
        }
    }

    Options FOptions;
    std::string FServedPath;
    pid_t FPid = -1;
    int FStdout = -1;
};
