// One poller per router: whichever of the user's programs talks to a router
// (the window, tirvane-read, the recorder) holds that router's turn while its
// session is open. Many routers allow one or two sessions, and a second one
// may cut the first in the middle of a command, which leaves processes
// behind on some. The turn is an advisory lock on a file of the user's own
// runtime folder, one file per host and port, so it goes with the process
// however the process ends. QtCore only.
#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <optional>

class TRouterTurn {
public:
    using TClock = std::chrono::steady_clock;

    // Waits until no other holder has the router, or until deadline; `wait`,
    // when given, runs between two tries (the window handles its events
    // there) and ends the wait early by returning false. None: the deadline
    // passed or the folder cannot hold the lock (see Error).
    static std::optional<TRouterTurn> Take(const QString& host, int port, TClock::time_point deadline,
        const std::function<bool()>& wait = {}, QString* error = nullptr);

    TRouterTurn(TRouterTurn&& other) noexcept;
    TRouterTurn& operator=(TRouterTurn&& other) noexcept;
    TRouterTurn(const TRouterTurn&) = delete;
    TRouterTurn& operator=(const TRouterTurn&) = delete;
    ~TRouterTurn();

    // The file that stands for host:port, in $XDG_RUNTIME_DIR/tirvane.
    static QString LockPath(const QString& host, int port);

private:
    explicit TRouterTurn(int fd) : FFd(fd) {}
    int FFd = -1;
};

// The name a host and port take in file names: letters, digits, dots and
// dashes as they are, anything else as %XX, so no name reaches another folder.
QString RouterFileName(const QString& host, int port);
