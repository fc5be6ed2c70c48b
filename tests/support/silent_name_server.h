// A name server that never answers: a UDP socket on port 53 of a loopback
// address (127.53.x.y, from the process id), bound and never read, so the C
// library's resolver waits out its own time-outs as with a silent server (a
// port with nothing bound would refuse at once). Port 53 needs root, as the
// tests have inside `unshare -n`.
#pragma once

#include <string>
#include <vector>

class SilentNameServer {
public:
    SilentNameServer();
    ~SilentNameServer();
    SilentNameServer(const SilentNameServer&) = delete;
    SilentNameServer& operator=(const SilentNameServer&) = delete;

    bool Listening() const { return FFd != -1; }
    // Writes into Dir a resolv.conf naming this server alone and an
    // nsswitch.conf asking the hosts file first, then the name server.
    bool WriteResolverFiles(const std::string& Dir) const;

private:
    std::string FAddress;
    int FFd = -1;
};

// A name the hosts file does not know: only the name server could answer.
inline constexpr char UnansweredName[] = "router.tirvane.test";

// In a private mount namespace, before the first lookup: binds Dir's
// resolver files over the system's.
bool UseResolverFiles(const std::string& Dir);

// The command line that runs Program with Dir's resolver files in a mount
// namespace of its own; the program keeps the process id it is started as.
std::vector<std::string> WithResolverFiles(const std::string& Dir, const std::string& Program);
