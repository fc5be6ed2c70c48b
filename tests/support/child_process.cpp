#include "support/child_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace support {


namespace {

int RemainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// The parent's environment with the overrides applied, as execve wants it.
std::vector<std::string> MergedEnvironment(const Environment& env)
{
    std::map<std::string, std::string> all;
    for (char** e = environ; e && *e; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string::npos)
            all[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [name, value] : env) {
        if (value.empty())
            all.erase(name);
        else
            all[name] = value;
    }
    std::vector<std::string> out;
    for (const auto& [name, value] : all)
        out.push_back(name + "=" + value);
    return out;
}

int ExitCode(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<char*> CStrings(std::vector<std::string>& strings)
{
    std::vector<char*> out;
    for (auto& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

} // namespace

std::string FindOnPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

ChildProcess::~ChildProcess() { Stop(); }

bool ChildProcess::Start(const std::vector<std::string>& argv, const Environment& env,
                         bool captureOutput, bool outputOnFd3)
{
    if (argv.empty()) {
        error = "nothing to start";
        return false;
    }
    int outPipe[2] = {-1, -1};
    if (captureOutput && ::pipe2(outPipe, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    // A pipe that reports exec failures: it closes on a successful exec.
    int execPipe[2];
    if (::pipe2(execPipe, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }

    std::vector<std::string> args = argv;
    std::vector<std::string> envStrings = MergedEnvironment(env);
    std::vector<char*> cargs = CStrings(args);
    std::vector<char*> cenv = CStrings(envStrings);

    const pid_t pid = ::fork();
    if (pid < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0) {
        // Its own process group, so a stop reaches whatever it starts.
        ::setpgid(0, 0);
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, STDIN_FILENO);
        const bool toPipe = captureOutput && !outputOnFd3;
        ::dup2(toPipe ? outPipe[1] : devNull, STDOUT_FILENO);
        ::dup2(toPipe ? outPipe[1] : devNull, STDERR_FILENO);
        if (captureOutput && outputOnFd3)
            ::dup2(outPipe[1], 3); // dup2 clears close-on-exec on the copy
        ::execve(cargs[0], cargs.data(), cenv.data());
        const int code = errno;
        [[maybe_unused]] auto n = ::write(execPipe[1], &code, sizeof code);
        ::_exit(127);
    }
    ::close(execPipe[1]);
    int code = 0;
    const ssize_t got = ::read(execPipe[0], &code, sizeof code);
    ::close(execPipe[0]);
    if (captureOutput)
        ::close(outPipe[1]);
    FPid = pid;
    FReaped = false;
    FStatus = -1;
    FAtEnd = false;
    FScanned = 0;
    FOutput.clear();
    FOutFd = captureOutput ? outPipe[0] : -1;
    if (got == static_cast<ssize_t>(sizeof code)) {
        error = argv[0] + ": " + std::strerror(code);
        Stop();
        return false;
    }
    return true;
}

bool ChildProcess::IsRunning()
{
    if (FPid <= 0 || FReaped)
        return false;
    int status = 0;
    if (::waitpid(FPid, &status, WNOHANG) == FPid) {
        FReaped = true;
        FStatus = ExitCode(status);
        return false;
    }
    return true;
}

bool ChildProcess::WaitForLine(const std::string& needle, Milliseconds timeout, std::string* line)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        // Lines already looked at are not looked at again: each call waits
        // for a new line.
        for (std::size_t nl = FOutput.find('\n', FScanned); nl != std::string::npos;
             nl = FOutput.find('\n', FScanned)) {
            const std::string candidate = FOutput.substr(FScanned, nl - FScanned);
            FScanned = nl + 1;
            if (candidate.find(needle) != std::string::npos) {
                if (line)
                    *line = candidate;
                return true;
            }
        }
        if (!ReadSome(deadline))
            return false;
    }
}

bool ChildProcess::ReadToEnd(Milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (ReadSome(deadline)) {
    }
    return FOutFd >= 0 && FAtEnd;
}

bool ChildProcess::ReadSome(Clock::time_point deadline)
{
    if (FOutFd < 0 || FAtEnd)
        return false;
    for (;;) {
        const int wait = RemainingMs(deadline);
        if (wait == 0)
            return false;
        pollfd p{FOutFd, POLLIN, 0};
        const int ready = ::poll(&p, 1, wait);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char buf[4096];
        const ssize_t n = ::read(FOutFd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            FAtEnd = true;
            return false;
        }
        FOutput.append(buf, static_cast<std::size_t>(n));
        return true;
    }
}

int ChildProcess::Wait(Milliseconds timeout)
{
    if (FPid <= 0 || FReaped)
        return -1;
    const auto deadline = Clock::now() + timeout;
    int status = 0;
    while (::waitpid(FPid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            Stop();
            return -1;
        }
        std::this_thread::sleep_for(Milliseconds(5));
    }
    FReaped = true;
    FStatus = ExitCode(status);
    return FStatus;
}

int ChildProcess::Stop()
{
    const bool started = FPid > 0;
    if (started && !FReaped) {
        ::kill(-FPid, SIGTERM);
        ::kill(FPid, SIGTERM);
        const auto deadline = Clock::now() + Milliseconds(5000);
        int status = 0;
        while (::waitpid(FPid, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                ::kill(-FPid, SIGKILL);
                ::kill(FPid, SIGKILL);
                ::waitpid(FPid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(Milliseconds(10));
        }
        FReaped = true;
        FStatus = ExitCode(status);
    }
    if (FOutFd >= 0) {
        ::close(FOutFd);
        FOutFd = -1;
    }
    FPid = -1;
    return started ? FStatus : -1;
}

CommandResult RunCommand(const std::vector<std::string>& argv, const Environment& env,
                         Milliseconds timeout)
{
    CommandResult result;
    ChildProcess child;
    if (!child.Start(argv, env, true)) {
        result.output = child.error;
        return result;
    }
    // Read until the output ends (the program closed it, normally by exiting).
    child.ReadToEnd(timeout);
    result.output = child.Output();
    result.exitCode = child.Wait(timeout);
    return result;
}

} // namespace support
