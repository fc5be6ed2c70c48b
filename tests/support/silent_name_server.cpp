#include "support/silent_name_server.h"

#include "support/child_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

SilentNameServer::SilentNameServer()
{
    // Test processes running side by side each take an address of their own.
    for (unsigned Try = 0, Pid = unsigned(::getpid()); Try < 16 && FFd == -1; ++Try) {
        const unsigned Host = (Pid + Try * 7919u) % 65534u + 1u;
        FAddress = "127.53." + std::to_string(Host / 256) + "." + std::to_string(Host % 256);
        sockaddr_in Where{};
        Where.sin_family = AF_INET;
        Where.sin_port = htons(53);
        ::inet_pton(AF_INET, FAddress.c_str(), &Where.sin_addr);
        FFd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (FFd != -1 && ::bind(FFd, reinterpret_cast<const sockaddr*>(&Where), sizeof Where) != 0) {
            ::close(FFd);
            FFd = -1;
        }
    }
}

SilentNameServer::~SilentNameServer()
{
    if (FFd != -1)
        ::close(FFd);
}

bool SilentNameServer::WriteResolverFiles(const std::string& Dir) const
{
    // The longest time-out and most tries the resolver accepts: left alone it
    // waits minutes, so whatever ends a lookup sooner is the caller's doing.
    std::ofstream Resolv(Dir + "/resolv.conf");
    Resolv << "nameserver " << FAddress << "\noptions timeout:30 attempts:5\n";
    std::ofstream Switch(Dir + "/nsswitch.conf");
    Switch << "hosts: files dns\n";
    return Resolv.good() && Switch.good();
}

bool UseResolverFiles(const std::string& Dir)
{
    for (const std::string Name : {"resolv.conf", "nsswitch.conf"}) {
        if (::mount((Dir + "/" + Name).c_str(), ("/etc/" + Name).c_str(), nullptr, MS_BIND, nullptr) != 0)
            return false;
    }
    return true;
}

std::vector<std::string> WithResolverFiles(const std::string& Dir, const std::string& Program)
{
    // unshare and sh each replace themselves with the next program.
    return {support::FindOnPath("unshare"), "-m", "--propagation", "private", "sh", "-c",
            "mount --bind \"$1/resolv.conf\" /etc/resolv.conf && "
            "mount --bind \"$1/nsswitch.conf\" /etc/nsswitch.conf && exec \"$0\"",
            Program, Dir};
}
