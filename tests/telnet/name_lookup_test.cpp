// Looking up a name while the only name server never answers: with a
// deadline the lookup ends there or at a stop, with the resolver's "try
// again" code, and its thread is left to finish alone (at most MaxRunning
// of them); a name the hosts file knows still resolves and connects.
//
// main gives the process, before any thread starts, a mount namespace of
// its own whose resolver files name a silent loopback name server (root
// inside `unshare -n`, as the suite runs).
#include "support/loopback_peer.h"
#include "support/private_mounts.h"
#include "support/silent_name_server.h"
#include "telnet/name_lookup.h"
#include "telnet/telnet_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace {

using telnet_test::PrintTo;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int NoError = 0;
constexpr int ErrTryAgain = 11002;
// How late a lookup may end after its deadline or stop on a loaded machine.
constexpr milliseconds Slack(1500);

bool ResolverIsPrivate = false;

struct LookupCase {
    const char* Name;
    std::string Host;
    milliseconds Deadline;  // from the start of the login
    milliseconds StopAfter; // 0: no stop asked for
    int Error;
    int ThreadsLeft;        // lookup threads still running afterwards
};

class LookupInTurns : public testing::TestWithParam<LookupCase> {};

TEST_P(LookupInTurns, EndsAtTheDeadlineOrAStop)
{
    if (!ResolverIsPrivate)
        GTEST_SKIP() << "needs root and a private mount namespace for its own resolver files";
    const LookupCase& Case = GetParam();
    // A peer only where the lookup can succeed: one never reached would
    // wait for its connection.
    std::optional<ScriptServer> Peer;
    if (Case.Error == NoError)
        Peer.emplace(std::vector<Script>{{SendBytes("ok>"), ReadToEnd()}});
    TTelnetSend Telnet;
    Telnet.SetTargetHost(Case.Host);
    Telnet.SetTargetPort(Peer ? Peer->Port() : "23");
    const auto Start = Clock::now();
    Telnet.SetDeadline(Start + Case.Deadline);
    auto Ends = Start + Case.Deadline;
    if (Case.StopAfter.count() > 0) {
        // A stop as the window's Stop asks for one: from a heartbeat.
        Ends = Start + Case.StopAfter;
        Telnet.Sock().SetOnHeartbeat([Ends](TBlockSocket* Sender) {
            if (Clock::now() >= Ends)
                Sender->SetStopFlag(true);
        });
    }
    const int Before = TNameLookup::Running();
    EXPECT_EQ(Telnet.Login(), Case.Error == NoError);
    const auto Ended = Clock::now();
    EXPECT_EQ(Telnet.Sock().LastError(), Case.Error) << Telnet.Sock().LastErrorDesc();
    EXPECT_FALSE(Telnet.Sock().StopFlag()) << "the stop was not consumed";
    EXPECT_EQ(TNameLookup::Running(), Before + Case.ThreadsLeft);
    if (Case.Error == NoError) {
        EXPECT_EQ(Telnet.ReceiveUntil(">"), "ok");
        Telnet.Logout();
        return;
    }
    EXPECT_EQ(Telnet.Sock().Socket(), -1);
    // The name server was silent: only the deadline or the stop ended it.
    EXPECT_GE(Ended, Ends);
    EXPECT_LT(Ended - Ends, Slack) << "the lookup outlasted its end";
}

INSTANTIATE_TEST_SUITE_P(
    Table, LookupInTurns,
    testing::Values(LookupCase{"AtTheDeadline", UnansweredName, milliseconds(800), {}, ErrTryAgain, 1},
                    LookupCase{"AtAStop", UnansweredName, milliseconds(60000), milliseconds(500), ErrTryAgain, 1},
                    LookupCase{"DeadlineAlreadyPast", UnansweredName, milliseconds(-10), {}, ErrTryAgain, 0},
                    LookupCase{"NameInTheHostsFile", "localhost", milliseconds(10000), {}, NoError, 0}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// Given-up lookups leave at most MaxRunning threads; past that a lookup
// fails at once instead of starting another. Last in the file: run in one
// process, it comes after the cases that need a free place.
class LookupCap : public testing::TestWithParam<const char*> {};

TEST_P(LookupCap, GivenUpLookupsLeaveAtMostTheCap)
{
    if (!ResolverIsPrivate)
        GTEST_SKIP() << "needs root and a private mount namespace for its own resolver files";
    const int Before = TNameLookup::Running();
    for (int Turn = 0; Turn < TNameLookup::MaxRunning + 2; ++Turn) {
        TTelnetSend Telnet;
        Telnet.SetTargetHost(UnansweredName);
        const auto Start = Clock::now();
        Telnet.SetDeadline(Start + milliseconds(100));
        EXPECT_FALSE(Telnet.Login());
        EXPECT_EQ(Telnet.Sock().LastError(), ErrTryAgain);
        EXPECT_LT(Clock::now() - Start, milliseconds(100) + Slack);
        EXPECT_EQ(TNameLookup::Running(), std::min(Before + Turn + 1, TNameLookup::MaxRunning));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, LookupCap, testing::Values("ByDeadlines"));

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    char Dir[] = "/tmp/tirvane_resolver_XXXXXX";
    std::unique_ptr<SilentNameServer> Server;
    if (EnterPrivateMountNamespace() && ::mkdtemp(Dir) != nullptr) {
        Server = std::make_unique<SilentNameServer>();
        ResolverIsPrivate = Server->Listening() && Server->WriteResolverFiles(Dir) && UseResolverFiles(Dir);
        // The files stay bound while the namespace lasts; their folder can go.
        std::error_code Ignored;
        std::filesystem::remove_all(Dir, Ignored);
    }
    return RUN_ALL_TESTS();
}
