#include "telnet/socket_api.h"

#include "telnet/socket_errors.h"

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
    case EINTR: return ErrInterrupted;
    case EBADF: return ErrBadFile;
    case EACCES: return ErrAccessDenied;
    case EPERM: return ErrAccessDenied;
    case EFAULT: return ErrBadAddress;
    case EINVAL: return ErrInvalidArgument;
    case EMFILE: return ErrTooManyOpenFiles;
    case ENFILE: return ErrTooManyOpenFiles;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK: return ErrWouldBlock;
#endif
    case EAGAIN: return ErrWouldBlock;
    case EINPROGRESS: return ErrInProgress;
    case EALREADY: return ErrAlreadyInProgress;
    case ENOTSOCK: return ErrNotSocket;
    case EDESTADDRREQ: return ErrDestinationRequired;
    case EMSGSIZE: return ErrMessageTooLong;
    case EPROTOTYPE: return ErrWrongProtocolType;
    case ENOPROTOOPT: return ErrNoProtocolOption;
    case EPROTONOSUPPORT: return ErrProtocolNotSupported;
    case ESOCKTNOSUPPORT: return ErrSocketTypeNotSupported;
#if EOPNOTSUPP != ENOTSUP
    case ENOTSUP: return ErrNotSupported;
#endif
    case EOPNOTSUPP: return ErrNotSupported;
    case EPFNOSUPPORT: return ErrProtocolFamilyNotSupported;
    case EAFNOSUPPORT: return ErrAddressFamilyNotSupported;
    case EADDRINUSE: return ErrAddressInUse;
    case EADDRNOTAVAIL: return ErrAddressNotAvailable;
    case ENETDOWN: return ErrNetworkDown;
    case ENETUNREACH: return ErrNetworkUnreachable;
    case ENETRESET: return ErrNetworkReset;
    case ECONNABORTED: return ErrConnAborted;
    case ECONNRESET: return ErrConnReset;
    case ENOBUFS: return ErrNoBuffers;
    case ENOMEM: return ErrNoBuffers;
    case EISCONN: return ErrAlreadyConnected;
    case ENOTCONN: return ErrNotConnected;
    case EPIPE: return ErrSendAfterShutdown;
    case ESHUTDOWN: return ErrSendAfterShutdown;
    case ETOOMANYREFS: return ErrTooManyReferences;
    case ETIMEDOUT: return ErrTimedOut;
    case ECONNREFUSED: return ErrRefused;
    case ELOOP: return ErrSymbolicLinkLoop;
    case ENAMETOOLONG: return ErrNameTooLong;
    case EHOSTDOWN: return ErrHostDown;
    case EHOSTUNREACH: return ErrHostUnreachable;
    case ENOTEMPTY: return ErrDirectoryNotEmpty;
    case EUSERS: return ErrTooManyUsers;
    case EDQUOT: return ErrDiskQuota;
    case ESTALE: return ErrStaleHandle;
    case EREMOTE: return ErrRemotePath;
    default: return Errno;
    }
}

int ResolverToSocketError(int ResolverCode, int Errno)
{
    switch (ResolverCode) {
    case 0: return 0;
    case EAI_NONAME: return ErrHostNotFound;
    case EAI_AGAIN: return ErrTryAgain;
    case EAI_FAIL: return ErrNoRecovery;
#ifdef EAI_NODATA
    case EAI_NODATA: return ErrNoData;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return ErrNoData;
#endif
    case EAI_FAMILY: return ErrAddressFamilyNotSupported;
    case EAI_SOCKTYPE: return ErrSocketTypeNotSupported;
    case EAI_SERVICE: return ErrClassTypeNotFound;  // class type not found
    case EAI_BADFLAGS: return ErrInvalidArgument;
    case EAI_MEMORY: return ErrNoBuffers;
    case EAI_SYSTEM: {
        const int Code = ErrnoToSocketError(Errno);
        return Code != 0 ? Code : ErrNoRecovery;
    }
    default: return ErrNoRecovery;
    }
}
