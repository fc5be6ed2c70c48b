// The lowest layer of the telnet client: the program-wide start-up and
// shut-down point of the socket layer, the 28-byte address record, turning a
// host text and a port text into an address, and the mapping of the system's
// error numbers onto the socket error codes the rest of the program reports
// (the numbering of the error table in block_socket.h).
//
// On Linux the socket functions are part of the C library, so loading and
// starting the service reduce to bookkeeping; the one start-up and shut-down
// point is kept so the program has a single place where the layer begins and
// ends. Name resolution always takes the address-information path
// (getaddrinfo).
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <string>

struct addrinfo;

// Address family wanted by a socket.
enum TSocketFamily { SF_Any, SF_IP4, SF_IP6 };

// Room for an IPv4 or an IPv6 socket address, zero-filled before use.
// Both layouts begin with the 16-bit family.
union TAddressRecord {
    sa_family_t sin_family;
    sockaddr_in AddressIPv4;   // 16 bytes used
    sockaddr_in6 AddressIPv6;  // 28 bytes used
};
static_assert(sizeof(TAddressRecord) == 28, "the address record holds either family");

// Length handed to the system with Address: 16 for IPv4, 28 for IPv6, else 0.
int AddressRecordLength(const TAddressRecord& Address);

// The system family number for a TSocketFamily (AF_UNSPEC, AF_INET, AF_INET6).
int FamilyNumber(TSocketFamily Family);

// Numeric address text of Address ("127.0.0.1", "::1"); empty for no family.
std::string AddressText(const TAddressRecord& Address);
// Port of Address in host order; 0 for no family.
int AddressPort(const TAddressRecord& Address);

// Program start-up and end of the socket layer. Startup throws ESocketError
// "Error loading Socket interface (ws2_32.dll)!" when the layer cannot be
// brought up; on Linux it always succeeds. Calls may nest; each Startup is
// matched by one Shutdown.
void SocketLayerStartup();
void SocketLayerShutdown();

// Use-counted loading of the socket functions; an empty name means the
// default library. Unload always succeeds and never counts below zero.
bool LoadSocketLibrary(const std::string& LibName);
bool UnloadSocketLibrary();
// How many Loads are not yet matched by an Unload.
int SocketLibraryUseCount();

// IPv6 any-address and loopback, set when the layer starts.
extern in6_addr IPv6AnyAddress;
extern in6_addr IPv6LoopbackAddress;

// Fills Address for IP and Port. With no family given (AF_UNSPEC) a host is looked up
// as IPv4 first and IPv6 second (the reverse when PreferIP4 is false); with a
// given family only that family is asked for. Returns 0 or a resolver error
// code on the socket error numbering (11001 "Host not found" and the like);
// Address stays zeroed on failure.
int FillAddress(TAddressRecord& Address, const std::string& IP, const std::string& Port,
                int Family, int SockProtocol, int SockType, bool PreferIP4);

// One resolver call with the given hint. "0.0.0.0" and "::0" resolve the port
// alone as a passive (any) address; "127.0.0.1" and "::1" resolve the port
// alone, which yields the loopback address without asking the name service.
// Copies the first result into Address; returns 0 or a resolver error code.
int LookupAddress(const std::string& IP, const std::string& Port,
                  const addrinfo& Hint, TAddressRecord& Address);

// errno onto the socket error numbering (EWOULDBLOCK -> 10035, ECONNREFUSED ->
// 10061, ...). 0 stays 0; numbers without a counterpart are returned as they are.
int ErrnoToSocketError(int Errno);

// getaddrinfo result onto the socket error numbering (EAI_NONAME -> 11001,
// EAI_AGAIN -> 11002, EAI_FAIL -> 11003, EAI_NODATA -> 11004, ...).
int ResolverToSocketError(int ResolverCode, int Errno);
