#include "e2e/x_session.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

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

namespace e2e {

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

ChildProcess::ChildProcess(ChildProcess&& other) noexcept { *this = std::move(other); }

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept
{
    if (this != &other) {
        Stop();
        FPid = other.FPid;
        FOutFd = other.FOutFd;
        FOutput = std::move(other.FOutput);
        FReaped = other.FReaped;
        FAtEnd = other.FAtEnd;
        FScanned = other.FScanned;
        other.FPid = -1;
        other.FOutFd = -1;
    }
    return *this;
}

ChildProcess::~ChildProcess() { Stop(); }

bool ChildProcess::Start(const std::vector<std::string>& argv, const Environment& env,
                         bool captureOutput, int extraFd)
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
        if (captureOutput) {
            ::dup2(outPipe[1], STDOUT_FILENO);
            ::dup2(outPipe[1], STDERR_FILENO);
        } else {
            ::dup2(devNull, STDOUT_FILENO);
            ::dup2(devNull, STDERR_FILENO);
        }
        if (extraFd >= 0)
            ::dup2(extraFd, 3); // dup2 clears close-on-exec on the copy
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
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void ChildProcess::Stop()
{
    if (FPid > 0 && !FReaped) {
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
    }
    if (FOutFd >= 0) {
        ::close(FOutFd);
        FOutFd = -1;
    }
    FPid = -1;
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

bool Xvfb::Start(int width, int height)
{
    const std::string server = FindOnPath("Xvfb");
    if (server.empty()) {
        error = "Xvfb is not installed";
        return false;
    }
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const bool started = FServer.Start(
        {server, "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"},
        {}, false, ready[1]);
    ::close(ready[1]);
    if (!started) {
        ::close(ready[0]);
        error = FServer.error;
        return false;
    }
    // The server writes its display number once it accepts clients.
    std::string number;
    const auto deadline = Clock::now() + Milliseconds(30000);
    for (;;) {
        pollfd p{ready[0], POLLIN, 0};
        const int wait = RemainingMs(deadline);
        if (wait == 0 || ::poll(&p, 1, wait) <= 0)
            break;
        char c;
        if (::read(ready[0], &c, 1) != 1 || c == '\n')
            break;
        number.push_back(c);
    }
    ::close(ready[0]);
    if (number.empty()) {
        error = "Xvfb did not report a display";
        FServer.Stop();
        return false;
    }
    FDisplay = ":" + number;
    return true;
}

QImage GrabScreen(const std::string& display)
{
    Display* dpy = XOpenDisplay(display.c_str());
    if (!dpy)
        return {};
    const Window root = DefaultRootWindow(dpy);
    XWindowAttributes attrs;
    XGetWindowAttributes(dpy, root, &attrs);
    XImage* shot = XGetImage(dpy, root, 0, 0, static_cast<unsigned>(attrs.width),
                             static_cast<unsigned>(attrs.height), AllPlanes, ZPixmap);
    QImage out;
    if (shot && shot->bits_per_pixel == 32 && shot->red_mask == 0xff0000
        && shot->green_mask == 0xff00 && shot->blue_mask == 0xff) {
        out = QImage(attrs.width, attrs.height, QImage::Format_RGB32);
        for (int y = 0; y < attrs.height; ++y) {
            const auto* src = reinterpret_cast<const uint32_t*>(shot->data + y * shot->bytes_per_line);
            auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
            for (int x = 0; x < attrs.width; ++x)
                dst[x] = 0xff000000u | (src[x] & 0xffffffu);
        }
    } else if (shot) {
        out = QImage(attrs.width, attrs.height, QImage::Format_RGB32);
        for (int y = 0; y < attrs.height; ++y)
            for (int x = 0; x < attrs.width; ++x) {
                const unsigned long p = XGetPixel(shot, x, y);
                out.setPixel(x, y, qRgb(static_cast<int>((p & shot->red_mask) >> 16),
                                        static_cast<int>((p & shot->green_mask) >> 8),
                                        static_cast<int>(p & shot->blue_mask)));
            }
    }
    if (shot)
        XDestroyImage(shot);
    XCloseDisplay(dpy);
    return out;
}

CommandResult XDoTool::Run(const std::vector<std::string>& args, Milliseconds timeout) const
{
    static const std::string tool = FindOnPath("xdotool");
    std::vector<std::string> argv{tool};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv, {{"DISPLAY", FDisplay}}, timeout);
}

std::string XDoTool::WaitForWindow(const std::string& title, Milliseconds timeout) const
{
    const auto r = Run({"search", "--sync", "--onlyvisible", "--name", "^" + title + "$"}, timeout);
    if (r.exitCode != 0)
        return {};
    std::stringstream lines(r.output);
    std::string first;
    std::getline(lines, first);
    return first;
}

bool XDoTool::WindowGeometry(const std::string& window, int* x, int* y, int* w, int* h) const
{
    const auto r = Run({"getwindowgeometry", "--shell", window});
    if (r.exitCode != 0)
        return false;
    std::stringstream lines(r.output);
    std::string line;
    int found = 0;
    while (std::getline(lines, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const int value = std::atoi(line.c_str() + eq + 1);
        if (key == "X") { *x = value; ++found; }
        else if (key == "Y") { *y = value; ++found; }
        else if (key == "WIDTH") { *w = value; ++found; }
        else if (key == "HEIGHT") { *h = value; ++found; }
    }
    return found == 4;
}

bool XDoTool::MoveTo(int x, int y) const
{
    return Run({"mousemove", "--sync", std::to_string(x), std::to_string(y)}).exitCode == 0;
}

bool XDoTool::ClickAt(int x, int y) const
{
    return MoveTo(x, y) && Run({"click", "1"}).exitCode == 0;
}

bool XDoTool::Type(const std::string& text) const
{
    return Run({"type", "--delay", "30", "--", text}).exitCode == 0;
}

bool XDoTool::Key(const std::string& keys) const
{
    return Run({"key", "--delay", "30", keys}).exitCode == 0;
}

} // namespace e2e
