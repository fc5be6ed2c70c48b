// Looking up a name while the only name server never answers: the lookup
// ends at the deadline or at a stop like any other step of a session, with
// the resolver's "try again" code, and leaves its thread behind to finish
// on its own; at most a few such threads are ever left at once. A name the
// hosts file knows still resolves through the same path.
//
// The process gets a mount namespace of its own in main, before any thread
// starts, with resolver files naming a silent loopback name server; that
// needs root inside `unshare -n`, as the test suite runs.
#include "support/loopback_peer.h"
#include "support/private_mounts.h"
#include "support/silent_name_server.h"
#include "telnet/name_lookup.h"
#include "telnet/telnet_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace {

using telnet_test::PrintTo;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int ErrTryAgain = 11002;
// How late a lookup may end after its deadline or stop on a loaded machine.
constexpr milliseconds Slack(1500);

std::unique_ptr<SilentNameServer> Server;
bool ResolverIsPrivate = false;

class SilentResolver : public testing::Test {
protected:
    void SetUp() override
    {
        if (!ResolverIsPrivate)
            GTEST_SKIP() << "needs root and a private mount namespace for its own resolver files";
    }
};

// How a session gives up its lookup: at a deadline ahead, at a deadline
// already past, or at a stop its heartbeat asks for.
struct GiveUpCase {
    const char* Name;
    milliseconds Deadline;  // from the start of the login
    milliseconds StopAfter; // 0: no stop, only the deadline
    bool StartsALookup;     // whether a lookup thread was started at all
};

class LookupGivenUp : public SilentResolver, public testing::WithParamInterface<GiveUpCase> {};

TEST_P(LookupGivenUp, EndsThereWithTheResolversCode)
{
    const GiveUpCase& Case = GetParam();
    TTelnetSend Telnet;
    Telnet.SetTargetHost(UnansweredName);
    Telnet.SetTargetPort("23");
    const auto Start = Clock::now();
    const auto Deadline = Start + Case.Deadline;
    Telnet.SetDeadline(Deadline);
    auto Ends = Deadline;
    if (Case.StopAfter.count() > 0) {
        // A stop as the window's Stop asks for one: from a heartbeat.
        Ends = Start + Case.StopAfter;
        Telnet.Sock().SetOnHeartbeat([Ends](TBlockSocket* Sender) {
            if (Clock::now() >= Ends)
                Sender->SetStopFlag(true);
        });
    }
    const int Before = TNameLookup::Running();
    EXPECT_FALSE(Telnet.Login());
    const auto Ended = Clock::now();
    EXPECT_EQ(Telnet.Sock().LastError(), ErrTryAgain);
    EXPECT_EQ(Telnet.Sock().LastErrorDesc(), "Non authoritative - host not found");
    EXPECT_EQ(Telnet.Sock().Socket(), -1);
    EXPECT_FALSE(Telnet.Sock().StopFlag()) << "the stop was not consumed";
    EXPECT_LT(Ended - Ends, Slack) << "the lookup outlasted its end";
    // The name server was really silent: nothing but the end ended it.
    EXPECT_GE(Ended - Start, Ends - Start);
    // The given-up lookup's thread is still asking, and will be on its own.
    EXPECT_EQ(TNameLookup::Running(), Before + (Case.StartsALookup ? 1 : 0));
}

INSTANTIATE_TEST_SUITE_P(Table, LookupGivenUp,
                         testing::Values(GiveUpCase{"AtTheDeadline", milliseconds(800), milliseconds(0), true},
                                         GiveUpCase{"AtAStop", milliseconds(60000), milliseconds(500), true},
                                         GiveUpCase{"DeadlineAlreadyPast", milliseconds(-10), milliseconds(0), false}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// A name the hosts file knows comes back from the lookup thread and the
// session connects to it; with no deadline the lookup runs in place.
struct KnownNameCase {
    const char* Name;
    bool WithDeadline;
};

class KnownName : public SilentResolver, public testing::WithParamInterface<KnownNameCase> {};

TEST_P(KnownName, ResolvesAndConnects)
{
    ScriptServer Peer({{SendBytes("ok>"), ReadToEnd()}});
    const int Before = TNameLookup::Running();
    TTelnetSend Telnet;
    Telnet.SetTargetHost("localhost");
    Telnet.SetTargetPort(Peer.Port());
    Telnet.SetTimeout(5000);
    if (GetParam().WithDeadline)
        Telnet.SetDeadline(Clock::now() + milliseconds(10000));
    ASSERT_TRUE(Telnet.Login()) << Telnet.Sock().LastErrorDesc();
    EXPECT_EQ(Telnet.ReceiveUntil(">"), "ok");
    EXPECT_EQ(AddressText(Telnet.Sock().RemoteAddr()), "127.0.0.1");
    Telnet.Logout();
    EXPECT_EQ(TNameLookup::Running(), Before) << "the answered lookup still counted";
}

INSTANTIATE_TEST_SUITE_P(Table, KnownName,
                         testing::Values(KnownNameCase{"InTurns", true}, KnownNameCase{"InPlace", false}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// Lookups given up one after another leave at most MaxRunning threads: past
// that, a lookup fails at once rather than starting one more. (Declared
// last, so that run in one process it comes after the cases that expect a
// free place.)
struct CapCase {
    const char* Name;
    bool ByStop; // given up by a stop; otherwise by the deadline
};

class LookupCap : public SilentResolver, public testing::WithParamInterface<CapCase> {};

TEST_P(LookupCap, GivenUpLookupsLeaveAtMostTheCap)
{
    // Earlier cases of this process may have left their own lookups asking.
    const int Before = TNameLookup::Running();
    for (int Turn = 0; Turn < TNameLookup::MaxRunning + 2; ++Turn) {
        TTelnetSend Telnet;
        Telnet.SetTargetHost(UnansweredName);
        const auto Start = Clock::now();
        Telnet.SetDeadline(Start + milliseconds(GetParam().ByStop ? 60000 : 100));
        if (GetParam().ByStop)
            Telnet.Sock().SetOnHeartbeat([Start](TBlockSocket* Sender) {
                if (Clock::now() - Start >= milliseconds(100))
                    Sender->SetStopFlag(true);
            });
        EXPECT_FALSE(Telnet.Login());
        EXPECT_EQ(Telnet.Sock().LastError(), ErrTryAgain);
        EXPECT_LT(Clock::now() - Start, milliseconds(100) + Slack);
        EXPECT_EQ(TNameLookup::Running(), std::min(Before + Turn + 1, TNameLookup::MaxRunning));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, LookupCap,
                         testing::Values(CapCase{"ByDeadlines", false}, CapCase{"ByStops", true}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Before any thread: a process with threads cannot leave its mount namespace.
    char Dir[] = "/tmp/tirvane_resolver_XXXXXX";
    if (EnterPrivateMountNamespace() && ::mkdtemp(Dir) != nullptr) {
        Server = std::make_unique<SilentNameServer>();
        ResolverIsPrivate = Server->Listening() && Server->WriteResolverFiles(Dir) && UseResolverFiles(Dir);
    }
    const int Result = RUN_ALL_TESTS();
    // The files stay bound until the namespace ends with the process; the
    // folder they came from can go now.
    if (ResolverIsPrivate) {
        std::error_code Ignored;
        std::filesystem::remove_all(Dir, Ignored);
    }
    return Result;
}
