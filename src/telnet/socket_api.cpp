#include "telnet/socket_api.h"

#include "telnet/block_socket.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

in6_addr IPv6AnyAddress{};
in6_addr IPv6LoopbackAddress{};

namespace {

// Serialises loading and unloading of the layer. Resolution goes through
// getaddrinfo, which is thread-safe, so it takes no lock.
std::mutex& LayerLock()
{
    static std::mutex Lock;
    return Lock;
}

int UseCount = 0;
// getaddrinfo, freeaddrinfo and getnameinfo are part of the C library here,
// so the address-information path is always available.
bool AddressInfoAvailable = false;

}  // namespace

int AddressRecordLength(const TAddressRecord& Address)
{
    switch (Address.sin_family) {
    case AF_INET:
        return static_cast<int>(sizeof(sockaddr_in));
    case AF_INET6:
        return static_cast<int>(sizeof(sockaddr_in6));
    default:
        return 0;
    }
}

int FamilyNumber(TSocketFamily Family)
{
    switch (Family) {
    case SF_IP4:
        return AF_INET;
    case SF_IP6:
        return AF_INET6;
    case SF_Any:
        break;
    }
    return AF_UNSPEC;
}

std::string AddressText(const TAddressRecord& Address)
{
    char Text[INET6_ADDRSTRLEN] = {};
    if (Address.sin_family == AF_INET)
        inet_ntop(AF_INET, &Address.AddressIPv4.sin_addr, Text, sizeof Text);
    else if (Address.sin_family == AF_INET6)
        inet_ntop(AF_INET6, &Address.AddressIPv6.sin6_addr, Text, sizeof Text);
    return Text;
}

int AddressPort(const TAddressRecord& Address)
{
    if (Address.sin_family == AF_INET)
        return ntohs(Address.AddressIPv4.sin_port);
    if (Address.sin_family == AF_INET6)
        return ntohs(Address.AddressIPv6.sin6_port);
    return 0;
}

bool LoadSocketLibrary(const std::string& LibName)
{
    // The name only matters where the functions live in a loadable library;
    // here they are in the C library and nothing needs loading.
    (void)LibName;
    std::lock_guard<std::mutex> Guard(LayerLock());
    if (UseCount == 0)
        AddressInfoAvailable = true;
    ++UseCount;
    return true;
}

bool UnloadSocketLibrary()
{
    std::lock_guard<std::mutex> Guard(LayerLock());
    if (UseCount > 0)
        --UseCount;
    if (UseCount == 0)
        AddressInfoAvailable = false;
    return true;
}

int SocketLibraryUseCount()
{
    std::lock_guard<std::mutex> Guard(LayerLock());
    return UseCount;
}

void SocketLayerStartup()
{
    std::memset(&IPv6AnyAddress, 0, sizeof IPv6AnyAddress);
    std::memset(&IPv6LoopbackAddress, 0, sizeof IPv6LoopbackAddress);
    IPv6LoopbackAddress.s6_addr[15] = 1;
    if (!LoadSocketLibrary("ws2_32.dll")) {
        const std::string Message = "Error loading Socket interface (ws2_32.dll)!";
        throw ESocketError(Message, 0, Message);
    }
    // Starting the service reduces to nothing on Linux.
}

void SocketLayerShutdown()
{
    UnloadSocketLibrary();
}

int LookupAddress(const std::string& IP, const std::string& Port,
                  const addrinfo& Hint, TAddressRecord& Address)
{
    std::memset(&Address, 0, sizeof Address);
    addrinfo Hints = Hint;
    addrinfo* List = nullptr;
    int Result;
    if (Hints.ai_socktype == SOCK_RAW) {
        Hints.ai_socktype = 0;
        Hints.ai_protocol = 0;
        Result = getaddrinfo(IP.c_str(), nullptr, &Hints, &List);
    } else if (IP == "0.0.0.0" || IP == "::0") {
        Hints.ai_flags |= AI_PASSIVE;
        Result = getaddrinfo(nullptr, Port.c_str(), &Hints, &List);
    } else if (IP == "127.0.0.1" || IP == "::1") {
        // Without a host and without the passive flag the resolver answers
        // with the loopback address; the name service is never asked.
        Result = getaddrinfo(nullptr, Port.c_str(), &Hints, &List);
    } else {
        Result = getaddrinfo(IP.c_str(), Port.c_str(), &Hints, &List);
    }
    const int SavedErrno = errno;
    if (Result == 0 && List != nullptr && List->ai_addr != nullptr) {
        const std::size_t Length = std::min<std::size_t>(List->ai_addrlen, sizeof Address);
        std::memcpy(&Address, List->ai_addr, Length);
    }
    if (List != nullptr)
        freeaddrinfo(List);
    return Result == 0 ? 0 : ResolverToSocketError(Result, SavedErrno);
}

int FillAddress(TAddressRecord& Address, const std::string& IP, const std::string& Port,
                int Family, int SockProtocol, int SockType, bool PreferIP4)
{
    std::memset(&Address, 0, sizeof Address);
    addrinfo Hint1{};
    addrinfo Hint2{};
    bool TwoPass = false;
    if (Family == AF_UNSPEC) {
        Hint1.ai_family = PreferIP4 ? AF_INET : AF_INET6;
        Hint2.ai_family = PreferIP4 ? AF_INET6 : AF_INET;
        TwoPass = true;
    } else {
        Hint1.ai_family = Family;
    }
    Hint1.ai_socktype = SockType;
    Hint1.ai_protocol = SockProtocol;
    Hint2.ai_socktype = SockType;
    Hint2.ai_protocol = SockProtocol;

    int Result = LookupAddress(IP, Port, Hint1, Address);
    if (Result != 0 && TwoPass) {
        TAddressRecord Second{};
        Result = LookupAddress(IP, Port, Hint2, Second);
        if (Result == 0)
            Address = Second;
    }
    return Result;
}

int ErrnoToSocketError(int Errno)
{
    switch (Errno) {
    case 0: return 0;
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: return 10013;
    case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: return 10024;
    case ENFILE: return 10024;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK: return 10035;
#endif
    case EAGAIN: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
#if EOPNOTSUPP != ENOTSUP
    case ENOTSUP: return 10045;
#endif
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: return 10054;
    case ENOBUFS: return 10055;
    case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case EPIPE: return 10058;
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    case EUSERS: return 10068;
    case EDQUOT: return 10069;
    case ESTALE: return 10070;
    case EREMOTE: return 10071;
    default: return Errno;
    }
}

int ResolverToSocketError(int ResolverCode, int Errno)
{
    switch (ResolverCode) {
    case 0: return 0;
    case EAI_NONAME: return 11001;
    case EAI_AGAIN: return 11002;
    case EAI_FAIL: return 11003;
#ifdef EAI_NODATA
    case EAI_NODATA: return 11004;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return 11004;
#endif
    case EAI_FAMILY: return 10047;
    case EAI_SOCKTYPE: return 10044;
    case EAI_SERVICE: return 10109;  // class type not found
    case EAI_BADFLAGS: return 10022;
    case EAI_MEMORY: return 10055;
    case EAI_SYSTEM: {
        const int Code = ErrnoToSocketError(Errno);
        return Code != 0 ? Code : 11003;
    }
    default: return 11003;
    }
}
