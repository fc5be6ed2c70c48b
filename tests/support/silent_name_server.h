// A name server that never answers, and the resolver set-up that makes it
// the only one a process asks.
//
// The server is a UDP socket bound to port 53 of a loopback address and
// never read: queries reach it and wait there, so the C library's resolver
// waits out its own time-outs, as it does when the only name server has
// gone silent. (A port with nothing bound would refuse at once instead.)
// Binding port 53 needs root, as the tests run inside `unshare -n`.
#pragma once

#include <string>
#include <vector>

class SilentNameServer {
public:
    // On 127.53.x.y, chosen from the process id so that test processes
    // running side by side each have their own.
    SilentNameServer();
    ~SilentNameServer();
    SilentNameServer(const SilentNameServer&) = delete;
    SilentNameServer& operator=(const SilentNameServer&) = delete;

    bool Listening() const { return FFd != -1; }
    const std::string& Address() const { return FAddress; }

    // Writes resolv.conf (this server alone, with the longest time-outs the
    // resolver takes) and nsswitch.conf (names from /etc/hosts, then the name
    // server) into Dir.
    bool WriteResolverFiles(const std::string& Dir) const;

private:
    std::string FAddress;
    int FFd = -1;
};

// A name the hosts file does not know, so only the name server could answer.
inline constexpr char UnansweredName[] = "router.tirvane.test";

// In a private mount namespace: binds Dir's resolv.conf and nsswitch.conf
// over the system's. Only for a process (or its children) that has not yet
// looked up a name.
bool UseResolverFiles(const std::string& Dir);

// The shell command line that runs Program with Dir's resolver files in a
// mount namespace of its own (for a child process: the test's own
// namespace stays as it is).
std::vector<std::string> WithResolverFiles(const std::string& Dir, const std::string& Program);
