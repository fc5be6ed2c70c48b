// tirvane-router-sim: a stand-in for the router's telnet command line, for
// tests, benchmarks and demos. It listens on a loopback address only and
// serves each connection on a thread of its own, so a client that vanishes
// or stalls never holds up the next one.
#include "router_sim/options.h"
#include "router_sim/session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <list>
#include <memory>
#include <thread>

using namespace routersim;

namespace {

int g_stopWrite = -1;

extern "C" void OnStopSignal(int)
{
    const char byte = 1;
    // Nothing is ever read from the pipe: once written it stays readable, and
    // every wait in every session sees it.
    [[maybe_unused]] const auto n = ::write(g_stopWrite, &byte, 1);
}

struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
    int fd = -1;
    // Set before the session's socket is closed, so its number, when taken
    // again by a new connection, is never mistaken for this one's.
    std::shared_ptr<std::atomic<bool>> closing;
};

// The connections open now, the new one `fd` included: those whose client
// has not hung up. Counted from the sockets, not from the sessions' threads,
// which may still be in a pause when the client has long gone.
int OpenSessions(std::list<Worker>& workers)
{
    int open = 1;
    for (Worker& w : workers) {
        if (w.closing->load())
            continue;
        pollfd p{w.fd, POLLRDHUP, 0};
        if (::poll(&p, 1, 0) >= 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) == 0)
            ++open;
    }
    return open;
}

int Listen(const Options& o, std::string& shown, int* filler)
{
    sockaddr_storage addr{};
    socklen_t len = 0;
    int family = AF_INET;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
    if (inet_pton(AF_INET, o.address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(o.port));
        len = sizeof *v4;
        shown = o.address + ":" + std::to_string(o.port);
    } else {
        family = AF_INET6;
        inet_pton(AF_INET6, o.address.c_str(), &v6->sin6_addr);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(o.port));
        len = sizeof *v6;
        shown = "[" + o.address + "]:" + std::to_string(o.port);
    }
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    // With a full queue the listener has room for one connection, and a
    // connection of the simulator's own takes it and is never accepted: the
    // system then leaves every client's connection attempt unanswered.
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) < 0 || ::listen(fd, o.fullQueue ? 0 : 16) < 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    if (o.fullQueue) {
        *filler = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (*filler < 0 || ::connect(*filler, reinterpret_cast<sockaddr*>(&addr), len) < 0) {
            const int saved = errno;
            ::close(fd);
            errno = saved;
            return -1;
        }
    }
    return fd;
}

} // namespace

int main(int argc, char** argv)
{
    const auto parsed = ParseOptions(argc, argv);
    if (std::holds_alternative<HelpRequested>(parsed)) {
        std::fputs(UsageText(), stdout);
        return 0;
    }
    if (const auto* error = std::get_if<std::string>(&parsed)) {
        std::fprintf(stderr, "tirvane-router-sim: %s\n%s", error->c_str(), UsageText());
        return 2;
    }
    const Options& options = std::get<Options>(parsed);
    if (!IsLoopbackAddress(options.address)) {
        std::fprintf(stderr,
                     "tirvane-router-sim: refusing to listen on %s: not a loopback address "
                     "(127.0.0.0/8 or ::1)\n",
                     options.address.c_str());
        return 2;
    }

    int stopPipe[2];
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) < 0) {
        std::perror("tirvane-router-sim: pipe");
        return 1;
    }
    g_stopWrite = stopPipe[1];
    struct sigaction sa{};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    std::string shown;
    int filler = -1;
    const int listenFd = Listen(options, shown, &filler);
    if (listenFd < 0) {
        std::fprintf(stderr, "tirvane-router-sim: cannot listen on %s port %d: %s\n",
                     options.address.c_str(), options.port, std::strerror(errno));
        return 1;
    }

    Router router(options);
    router.stopFd = stopPipe[0];
    std::printf("listening on %s\n", shown.c_str());
    std::fflush(stdout);

    std::list<Worker> workers;
    for (;;) {
        // A full queue is never taken from.
        pollfd p[2] = {{options.fullQueue ? -1 : listenFd, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
        const int r = ::poll(p, 2, 1000);
        if (r < 0 && errno != EINTR)
            break;
        if (p[1].revents != 0)
            break;
        workers.remove_if([](Worker& w) {
            if (!w.done->load())
                return false;
            w.thread.join();
            return true;
        });
        if (r <= 0 || (p[0].revents & POLLIN) == 0)
            continue;
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue; // the client gave up before we took it; keep serving
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto done = std::make_shared<std::atomic<bool>>(false);
        auto closing = std::make_shared<std::atomic<bool>>(false);
        router.served.RecordSession(OpenSessions(workers));
        workers.push_back({std::thread([fd, done, closing, &router] {
                               Session(fd, router).Run();
                               closing->store(true);
                               ::close(fd);
                               done->store(true);
                           }),
                           done, fd, closing});
    }

    if (filler >= 0)
        ::close(filler);
    ::close(listenFd);
    // Every session waits on the stop pipe as well, so they all end promptly.
    for (auto& w : workers)
        w.thread.join();
    return 0;
}
