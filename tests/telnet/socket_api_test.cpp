// The socket layer: error texts, the mapping of system and resolver errors
// onto socket error numbers, resolving numeric texts and the special
// addresses, and loading and starting the layer.
#include "support/loopback_peer.h"
#include "telnet/block_socket.h"
#include "telnet/net_util.h"
#include "telnet/socket_api.h"

#include <gtest/gtest.h>

#include <netdb.h>

#include <cerrno>
#include <string>

namespace {

using telnet_test::PrintTo;

struct DescCase {
    int Code;
    const char* Text;
};

void PrintTo(const DescCase& C, std::ostream* Out) { *Out << C.Code; }

// The numbers show in the messages a user reads and scripts match them: a
// name must never come to stand for another number.
TEST(SocketErrorCodes, KeepTheirNumbers)
{
    const struct {
        int Code;
        int Number;
    } Cases[] = {
        {ErrWouldBlock, 10035}, {ErrInProgress, 10036}, {ErrNotSocket, 10038}, {ErrAddressInUse, 10048},
        {ErrNetworkUnreachable, 10051}, {ErrConnAborted, 10053}, {ErrConnReset, 10054}, {ErrNoBuffers, 10055},
        {ErrSendAfterShutdown, 10058}, {ErrTooManyReferences, 10059}, {ErrTimedOut, 10060}, {ErrRefused, 10061},
        {ErrHostUnreachable, 10065}, {ErrDisconnect, 10101}, {ErrHostNotFound, 11001}, {ErrTryAgain, 11002},
        {ErrNoRecovery, 11003}, {ErrNoData, 11004},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(C.Code, C.Number);
}

class ErrorTexts : public testing::TestWithParam<DescCase> {};
TEST_P(ErrorTexts, Text) { EXPECT_EQ(TBlockSocket::GetErrorDesc(GetParam().Code), GetParam().Text); }
INSTANTIATE_TEST_SUITE_P(
    Table, ErrorTexts,
    testing::Values(DescCase{0, ""}, DescCase{ErrWouldBlock, "Operation would block"},
                    DescCase{ErrConnReset, "Connection reset by peer"}, DescCase{ErrNoBuffers, "No Buffer space available"},
                    DescCase{ErrTooManyReferences, "Too many references:can't splice"}, DescCase{ErrTimedOut, "Connection timed out"},
                    DescCase{ErrRefused, "Connection refused"}, DescCase{ErrDisconnect, "Disconnect"},
                    DescCase{ErrHostNotFound, "Host not found"},
                    DescCase{ErrNoData, "Valid name, no data record of requested type"},
                    DescCase{12345, "Other Winsock error (12345)"}, DescCase{-1, "Other Winsock error (-1)"},
                    DescCase{10072, "Other Winsock error (10072)"}));

struct MapCase {
    int From;
    int To;
};

void PrintTo(const MapCase& C, std::ostream* Out) { *Out << C.From; }

class ErrnoMapping : public testing::TestWithParam<MapCase> {};
TEST_P(ErrnoMapping, OntoSocketNumbers) { EXPECT_EQ(ErrnoToSocketError(GetParam().From), GetParam().To); }
INSTANTIATE_TEST_SUITE_P(Table, ErrnoMapping,
                         testing::Values(MapCase{0, 0}, MapCase{EWOULDBLOCK, ErrWouldBlock}, MapCase{EAGAIN, ErrWouldBlock},
                                         MapCase{EINPROGRESS, ErrInProgress}, MapCase{ECONNREFUSED, ErrRefused},
                                         MapCase{ETIMEDOUT, ErrTimedOut}, MapCase{ECONNRESET, ErrConnReset},
                                         MapCase{ECONNABORTED, ErrConnAborted}, MapCase{ENETUNREACH, ErrNetworkUnreachable},
                                         MapCase{EHOSTUNREACH, ErrHostUnreachable}, MapCase{EADDRINUSE, ErrAddressInUse},
                                         MapCase{EPIPE, ErrSendAfterShutdown}, MapCase{ESHUTDOWN, ErrSendAfterShutdown}));

class ResolverMapping : public testing::TestWithParam<MapCase> {};
TEST_P(ResolverMapping, OntoSocketNumbers)
{
    EXPECT_EQ(ResolverToSocketError(GetParam().From, 0), GetParam().To);
}
INSTANTIATE_TEST_SUITE_P(Table, ResolverMapping,
                         testing::Values(MapCase{EAI_NONAME, ErrHostNotFound}, MapCase{EAI_AGAIN, ErrTryAgain},
                                         MapCase{EAI_FAIL, ErrNoRecovery}, MapCase{EAI_NODATA, ErrNoData},
                                         MapCase{EAI_ADDRFAMILY, ErrNoData}));

// ---- resolution: numeric texts and the special addresses need no name service ----

struct ResolveCase {
    const char* Name;
    const char* IP;
    const char* Port;
    int Family;
    const char* Address;
    int PortNumber;
};

class ResolveTable : public testing::TestWithParam<ResolveCase> {};
TEST_P(ResolveTable, FamilyAddressAndPort)
{
    const ResolveCase& Case = GetParam();
    TTCPBlockSocket Sock;
    TAddressRecord Address{};
    Sock.ResolveAddress(Address, Case.IP, Case.Port);
    EXPECT_EQ(Sock.LastError(), 0) << Sock.LastErrorDesc();
    EXPECT_EQ(Address.sin_family, Case.Family);
    EXPECT_EQ(AddressText(Address), Case.Address);
    EXPECT_EQ(AddressPort(Address), Case.PortNumber);
    EXPECT_EQ(AddressRecordLength(Address), Case.Family == AF_INET ? 16 : 28);
    EXPECT_EQ(Sock.Socket(), -1) << "resolving opens nothing";
}
INSTANTIATE_TEST_SUITE_P(
    Table, ResolveTable,
    testing::Values(ResolveCase{"Loopback4", "127.0.0.1", "23", AF_INET, "127.0.0.1", 23},
                    ResolveCase{"Loopback6", "::1", "2323", AF_INET6, "::1", 2323},
                    ResolveCase{"Any4", "0.0.0.0", "0", AF_INET, "0.0.0.0", 0},
                    ResolveCase{"Any6", "::0", "0", AF_INET6, "::", 0},
                    ResolveCase{"RouterAddressIsIPv4Only", "192.168.1.1", "23", AF_INET, "192.168.1.1", 23},
                    ResolveCase{"NameFromHostsFilePrefersIPv4", "localhost", "23", AF_INET, "127.0.0.1", 23}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(SocketLayer, NestedLoadsNeedMatchingUnloads)
{
    const int Before = SocketLibraryUseCount();
    ASSERT_TRUE(LoadSocketLibrary(""));
    ASSERT_TRUE(LoadSocketLibrary(""));
    UnloadSocketLibrary();
    EXPECT_EQ(SocketLibraryUseCount(), Before + 1);
    UnloadSocketLibrary();
    EXPECT_EQ(SocketLibraryUseCount(), Before);
    for (int I = 0; I < Before + 2; ++I)
        UnloadSocketLibrary();
    EXPECT_EQ(SocketLibraryUseCount(), 0) << "never below zero";
}

TEST(SocketLayer, StartupSucceedsAndSetsIPv6Constants)
{
    EXPECT_NO_THROW(SocketLayerStartup());
    EXPECT_EQ(IPv6LoopbackAddress.s6_addr[15], 1);
    EXPECT_EQ(IPv6AnyAddress.s6_addr[15], 0);
    SocketLayerShutdown();
}

}  // namespace
