// The telnet session against scripted loopback servers: logging in and out,
// the failures a login reports, the conversation operations, IPv6 loopback,
// and the bounded session log.
#include "support/loopback_peer.h"
#include "telnet/socket_api.h"
#include "telnet/telnet_session.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <string>

namespace {

using telnet_test::PrintTo;

constexpr int NoError = 0;

// A session aimed at a loopback server with a time-out generous enough for a
// loaded machine.
void Aim(TTelnetSend& Telnet, const std::string& Host, const std::string& Port)
{
    Telnet.SetTargetHost(Host);
    Telnet.SetTargetPort(Port);
    Telnet.SetTimeout(5000);
}

TEST(Defaults, FreshSessionIsClosedWithItsSettings)
{
    TTelnetSend Telnet;
    EXPECT_EQ(Telnet.TargetPort(), "23");
    EXPECT_EQ(Telnet.Timeout(), 60000);
    EXPECT_EQ(Telnet.TermType(), "TIRVANE");
    EXPECT_EQ(Telnet.IPInterface(), "0.0.0.0");
    EXPECT_EQ(Telnet.Sock().Socket(), -1);
    EXPECT_EQ(Telnet.Sock().SSL().LibName(), "ssl_none");
    EXPECT_FALSE(Telnet.Sock().SSL().Enabled());
}

struct LoginFailure {
    const char* Name;
    std::string Host;
    bool UseUnusedPort;
    int Error;
    std::string Text;
};

class LoginFails : public testing::TestWithParam<LoginFailure> {};

TEST_P(LoginFails, FalseWithCodeAndText)
{
    const LoginFailure& Case = GetParam();
    TTelnetSend Telnet;
    Aim(Telnet, Case.Host, Case.UseUnusedPort ? UnusedPort() : "23");
    EXPECT_FALSE(Telnet.Login());
    EXPECT_EQ(Telnet.Sock().LastError(), Case.Error);
    EXPECT_EQ(Telnet.Sock().LastErrorDesc(), Case.Text);
    // Nothing went out of the failed session, and waiting on it ends at once.
    EXPECT_FALSE(Telnet.WaitFor(">"));
    Telnet.Logout();
}

INSTANTIATE_TEST_SUITE_P(
    Table, LoginFails,
    testing::Values(LoginFailure{"NothingListens", "127.0.0.1", true, ErrRefused, "Connection refused"},
                    LoginFailure{"NothingListensIPv6", "::1", true, ErrRefused, "Connection refused"},
                    LoginFailure{"NameRejectedByResolver", "bad..name", false, ErrHostNotFound,
                                 "Host not found"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// A name nobody can resolve. Whether the resolver says "no such name" or
// "no name server answered" depends on the network it has; in the private
// test namespace no name server is reachable. Either way the login fails at
// once with a resolver code, and no socket is opened.
TEST(LoginFailsResolving, UnknownNameGivesResolverCode)
{
    TTelnetSend Telnet;
    Aim(Telnet, "no-such-host.invalid", "23");
    EXPECT_FALSE(Telnet.Login());
    const int Code = Telnet.Sock().LastError();
    EXPECT_TRUE(Code == ErrHostNotFound || Code == ErrTryAgain) << Code;
    EXPECT_EQ(Telnet.Sock().Socket(), -1);
}

// The cycle logs in twice: the first connection must be gone (closed in
// order) before the second is used, and no third ever appears.
TEST(LoginTwice, LeavesExactlyOneConnection)
{
    ScriptServer Server({{ReadToEnd()}, {SendBytes("second>"), ReadToEnd()}}, "127.0.0.1", true);
    TTelnetSend Telnet;
    Aim(Telnet, "127.0.0.1", Server.Port());
    EXPECT_TRUE(Telnet.Login());
    EXPECT_TRUE(Telnet.Login());
    EXPECT_EQ(Telnet.ReceiveUntil(">"), "second");
    Telnet.Logout();
    Server.Received();
    EXPECT_TRUE(Server.SawClientClose().at(0));
    EXPECT_TRUE(Server.SawClientClose().at(1));
    EXPECT_FALSE(Server.ExtraConnectionSeen());
}

// Freeing a session that is still connected closes it, and the close reads
// what is pending through the negotiation; a command among those bytes must
// not find the session half gone.
TEST(Destruction, ClosesWithCommandsPending)
{
    const std::string Pending = B({'x', 255, 253, 24, 255, 251, 1, 'y'});
    ScriptServer Server({{SendBytes(Pending), ReadToEnd()}});
    {
        TTelnetSend Telnet;
        Aim(Telnet, "127.0.0.1", Server.Port());
        ASSERT_TRUE(Telnet.Login());
        for (int Turn = 0; Turn < 200 && Telnet.Sock().PendingBytes() < static_cast<int>(Pending.size()); ++Turn)
            Telnet.Sock().WaitReadable(100);
        ASSERT_EQ(Telnet.Sock().PendingBytes(), static_cast<int>(Pending.size()));
    }
    Server.Received();
    EXPECT_TRUE(Server.SawClientClose().at(0));
}

TEST(Logout, WithoutLoginAndTwiceIsHarmless)
{
    ScriptServer Server({{ReadToEnd()}});
    TTelnetSend Telnet;
    Telnet.Logout();
    Aim(Telnet, "127.0.0.1", Server.Port());
    ASSERT_TRUE(Telnet.Login());
    Telnet.Logout();
    Telnet.Logout();
    EXPECT_EQ(Telnet.Sock().Socket(), -1);
    Server.Received();
    EXPECT_TRUE(Server.SawClientClose().at(0));
}

// A local address to leave from: the socket is created and bound before the
// connect, and the connection really leaves from there.
TEST(Login, FromGivenLocalAddress)
{
    ScriptServer Server({{ReadToEnd()}});
    TTelnetSend Telnet;
    Aim(Telnet, "127.0.0.1", Server.Port());
    Telnet.SetIPInterface("127.0.0.2");
    ASSERT_TRUE(Telnet.Login()) << Telnet.Sock().LastErrorDesc();
    EXPECT_TRUE(Telnet.Sock().IsBound());
    EXPECT_EQ(AddressText(Telnet.Sock().LocalAddr()), "127.0.0.2");
    EXPECT_EQ(AddressText(Telnet.Sock().RemoteAddr()), "127.0.0.1");
    EXPECT_EQ(AddressPort(Telnet.Sock().RemoteAddr()), std::stoi(Server.Port()));
    Telnet.Logout();
}

TEST(Login, OverIPv6Loopback)
{
    ScriptServer Server({{SendBytes("v6>"), ExpectBytes("hi\r\n"), ReadToEnd()}}, "::1");
    TTelnetSend Telnet;
    Aim(Telnet, "::1", Server.Port());
    ASSERT_TRUE(Telnet.Login()) << Telnet.Sock().LastErrorDesc();
    EXPECT_TRUE(Telnet.Sock().UsesIPv6());
    EXPECT_EQ(Telnet.ReceiveUntil(">"), "v6");
    Telnet.Send("hi\r\n");
    Telnet.Logout();
    EXPECT_EQ(Server.Received().at(0), "hi\r\n");
}

struct SendCase {
    const char* Name;
    std::string Value;
    std::string OnWire;
};

class SendDoubles : public testing::TestWithParam<SendCase> {};

TEST_P(SendDoubles, EveryByte255Doubled)
{
    const SendCase& Case = GetParam();
    ScriptServer Server({{ReadToEnd()}});
    TTelnetSend Telnet;
    Aim(Telnet, "127.0.0.1", Server.Port());
    ASSERT_TRUE(Telnet.Login());
    Telnet.Send(Case.Value);
    EXPECT_EQ(Telnet.Sock().LastError(), NoError);
    Telnet.Logout();
    EXPECT_EQ(Server.Received().at(0), Case.OnWire);
}

INSTANTIATE_TEST_SUITE_P(Table, SendDoubles,
                         testing::Values(SendCase{"Middle", B({120, 255, 121}), B({120, 255, 255, 121})},
                                         SendCase{"RunAndEnds", B({255, 255, 'a', 255}),
                                                  B({255, 255, 255, 255, 'a', 255, 255})},
                                         SendCase{"NoneToDouble", "wan adsl linedata far\r\n",
                                                  "wan adsl linedata far\r\n"}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

struct WaitCase {
    const char* Name;
    std::string Pending;
    std::string Prompt;
    bool Found;
    std::string After;  // what the next ReceiveUntil(">") returns
};

class WaitForTable : public testing::TestWithParam<WaitCase> {};

TEST_P(WaitForTable, ResultAndWhatFollows)
{
    const WaitCase& Case = GetParam();
    ScriptServer Server({{SendBytes(Case.Pending), ReadToEnd()}});
    TTelnetSend Telnet;
    Aim(Telnet, "127.0.0.1", Server.Port());
    ASSERT_TRUE(Telnet.Login());
    EXPECT_EQ(Telnet.WaitFor(Case.Prompt), Case.Found);
    EXPECT_EQ(Telnet.Sock().LastError(), NoError);
    EXPECT_EQ(Telnet.ReceiveUntil(">"), Case.After);
    Telnet.Logout();
}

INSTANTIATE_TEST_SUITE_P(
    Table, WaitForTable,
    testing::Values(WaitCase{"TextBeforePrompt", "Password: *>", "word:", true, " *"},
                    WaitCase{"PromptAtStartConsumedButFalse", "name: x>", "name:", false, " x"},
                    WaitCase{"DoubledIacInData", B({'a', 255, 255, ':', 'b', '>'}), ":", true, "b"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(ReceiveUntil, EmptyTerminatorReturnsAtOnce)
{
    ScriptServer Server({{SendBytes("abc>"), ReadToEnd()}});
    TTelnetSend Telnet;
    Aim(Telnet, "127.0.0.1", Server.Port());
    Telnet.SetTimeout(60000);
    ASSERT_TRUE(Telnet.Login());
    EXPECT_EQ(Telnet.ReceiveUntil(""), "");
    EXPECT_EQ(Telnet.Sock().LastError(), NoError);
    EXPECT_EQ(Telnet.ReceiveUntil(">"), "abc");
    Telnet.Logout();
}

// An answer that cannot go out (here the sending direction is already shut)
// fails the receive in progress, and nothing received is lost: the data bytes
// wait in the line buffer.
TEST(NegotiationAnswerFails, ReceiveFailsKeepingData)
{
    ScriptServer Server({{SendBytes("ab" + B({255, 253, 24}) + "cd>"), ReadToEnd()}});
    TTelnetSend Telnet;
    Aim(Telnet, "127.0.0.1", Server.Port());
    ASSERT_TRUE(Telnet.Login());
    ::shutdown(Telnet.Sock().Socket(), SHUT_WR);
    EXPECT_EQ(Telnet.ReceiveUntil(">"), "");
    EXPECT_EQ(Telnet.Sock().LastError(), ErrSendAfterShutdown);
    EXPECT_EQ(Telnet.Sock().InBuffer(), "abcd>");
    Telnet.Logout();
    EXPECT_EQ(Server.Received().at(0), "");
}

// A long session keeps only the latest bytes of its log.
TEST(SessionLog, BoundedToItsLatestBytes)
{
    std::string Stream;
    for (int I = 0; Stream.size() < 200000; ++I)
        Stream += "line " + std::to_string(I) + "\r\n";
    Stream += "END>";
    ScriptServer Server({{SendBytes(Stream), ReadToEnd()}});
    TTelnetSend Telnet;
    Aim(Telnet, "127.0.0.1", Server.Port());
    ASSERT_TRUE(Telnet.Login());
    EXPECT_EQ(Telnet.ReceiveUntil("END>").size(), Stream.size() - 4);
    EXPECT_EQ(Telnet.SessionLog().size(), TTelnetSend::SessionLogLimit);
    EXPECT_EQ(Telnet.SessionLog(), Stream.substr(Stream.size() - TTelnetSend::SessionLogLimit));
    Telnet.Logout();
}

// A fresh login starts a fresh log.
TEST(SessionLog, ClearedByLogin)
{
    ScriptServer Server({{SendBytes("one>"), ReadToEnd()}, {SendBytes("two>"), ReadToEnd()}});
    TTelnetSend Telnet;
    Aim(Telnet, "127.0.0.1", Server.Port());
    ASSERT_TRUE(Telnet.Login());
    EXPECT_EQ(Telnet.ReceiveUntil(">"), "one");
    ASSERT_TRUE(Telnet.Login());
    EXPECT_EQ(Telnet.ReceiveUntil(">"), "two");
    EXPECT_EQ(Telnet.SessionLog(), "two>");
    Telnet.Logout();
}

}  // namespace
