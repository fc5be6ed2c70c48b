// A session with a deadline against loopback peers that misbehave: a full
// queue that never answers the connect, a peer that never reads, a reply
// that trickles in for ever, option requests without end, and a flood at
// the close. Each blocking step ends at the deadline, fails with its code,
// keeps what it received and leaves no descriptor open. Also: the close's
// bounded drain, and a login that starts afresh after an old connection cut
// off in the middle of a command.
#include "support/loopback_peer.h"
#include "telnet/telnet_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>

namespace {

using telnet_test::PrintTo;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int NoError = 0;

// How far ahead each case sets its deadline, and how late a step may end
// after it on a loaded machine.
constexpr milliseconds Ahead(800);
constexpr milliseconds Slack(1500);

int OpenDescriptors()
{
    int Count = 0;
    for ([[maybe_unused]] const auto& Entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++Count;
    return Count;
}

// A start, then one byte every 200 ms for far longer than any case waits:
// each wait sees a packet well within the session's time-out.
Script Trickle()
{
    Script Steps = {SendBytes("abc")};
    for (int I = 0; I < 60; ++I) {
        Steps.push_back(PauseMs(200));
        Steps.push_back(SendBytes(std::string(1, static_cast<char>('d' + I % 20))));
    }
    return Steps;
}

enum class Peer { FullQueue, NeverReads, Scripted };

struct DeadlineCase {
    const char* Name;
    Peer Kind;
    Script Server;  // for Peer::Scripted
    bool LoggedIn;  // whether Login itself succeeds
    // The step that must end at the deadline.
    std::function<void(TTelnetSend&)> Step;
    std::set<int> Codes;
    // Received data the step must keep for the next call: a prefix of the
    // line buffer (empty: nothing to keep).
    std::string Kept;
};

std::vector<DeadlineCase> DeadlineCases()
{
    // Requests to perform an option, each answered with a refusal: far more
    // answers than a peer that never reads can take in.
    const ScriptStep OptionFlood = FloodWith(B({255, 253, 31}), 64u << 20);
    const ScriptStep Flood = FloodWith(std::string(65536, '7'), 64u << 20);
    return {
        {"ConnectToAFullQueue", Peer::FullQueue, {}, false, [](TTelnetSend&) {}, {ErrConnAborted}, ""},
        {"SendIntoAPeerThatNeverReads", Peer::NeverReads, {}, true,
         [](TTelnetSend& T) { T.Send(std::string(16u << 20, 'x')); }, {ErrTimedOut, ErrConnAborted}, ""},
        {"TricklingReply", Peer::Scripted, Trickle(), true,
         [](TTelnetSend& T) { EXPECT_EQ(T.ReceiveUntil(">"), ""); }, {ErrTimedOut, ErrConnAborted}, "abc"},
        {"OptionRequestsWithoutEnd", Peer::Scripted, {SendBytes("Pass"), OptionFlood},
         true, [](TTelnetSend& T) { EXPECT_FALSE(T.WaitFor("word:")); }, {ErrTimedOut, ErrConnAborted}, "Pass"},
        // The close reads what is pending; the deadline ends that too.
        {"DrainOfAFlood", Peer::Scripted, {Flood}, true,
         [](TTelnetSend& T) {
             T.Sock().WaitReadable(5000);
             std::this_thread::sleep_for(Ahead + milliseconds(100));
             const auto Before = T.Sock().BytesReceived();
             T.Logout();
             EXPECT_EQ(T.Sock().BytesReceived(), Before);
         },
         {NoError}, ""},
    };
}

class DeadlineTable : public testing::TestWithParam<DeadlineCase> {};

TEST_P(DeadlineTable, StepEndsAtTheDeadlineKeepingWhatCame)
{
    const DeadlineCase& Case = GetParam();
    const int Descriptors = OpenDescriptors();
    {
        std::optional<SilentListener> Silent;
        std::optional<ScriptServer> Server;
        std::string Port;
        if (Case.Kind == Peer::Scripted) {
            Server.emplace(std::vector<Script>{Case.Server});
            Port = Server->Port();
        } else {
            Silent.emplace(Case.Kind == Peer::FullQueue);
            Port = Silent->Port();
        }
        TTelnetSend Telnet;
        Telnet.SetTargetHost("127.0.0.1");
        Telnet.SetTargetPort(Port);
        Telnet.SetTimeout(5000);
        const auto Deadline = Clock::now() + Ahead;
        Telnet.SetDeadline(Deadline);
        EXPECT_EQ(Telnet.Login(), Case.LoggedIn);
        if (Case.LoggedIn) {
            // Whatever a scripted peer sends first arrives before the step.
            for (int Turn = 0; Server && Turn < 50 && Telnet.Sock().PendingBytes() < 3; ++Turn)
                Telnet.Sock().WaitReadable(20);
            Case.Step(Telnet);
        }
        const auto Ended = Clock::now();
        EXPECT_LT(Ended - Deadline, Slack) << "the step outlasted its deadline";
        EXPECT_TRUE(Case.Codes.count(Telnet.Sock().LastError())) << Telnet.Sock().LastError();
        EXPECT_EQ(Telnet.Sock().InBuffer().substr(0, Case.Kept.size()), Case.Kept);
        // Past the deadline every further step fails at once.
        const auto Again = Clock::now();
        Telnet.Login();
        Telnet.Send("more\r\n");
        Telnet.ReceiveUntil(">");
        EXPECT_LT(Clock::now() - Again, milliseconds(500));
        EXPECT_NE(Telnet.Sock().LastError(), NoError);
    }
    EXPECT_EQ(OpenDescriptors(), Descriptors);
}

INSTANTIATE_TEST_SUITE_P(Table, DeadlineTable, testing::ValuesIn(DeadlineCases()),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// Without a deadline the close still stops reading a peer that keeps
// sending, after a bounded amount.
TEST(CloseDrain, StopsAfterABoundedAmount)
{
    ScriptServer Server({{SendBytes(std::string(8u << 20, '7')), ReadToEnd()}});
    TTelnetSend Telnet;
    Telnet.SetTargetHost("127.0.0.1");
    Telnet.SetTargetPort(Server.Port());
    ASSERT_TRUE(Telnet.Login());
    Telnet.Sock().WaitReadable(5000);
    const auto Before = Telnet.Sock().BytesReceived();
    Telnet.Logout();
    EXPECT_EQ(Telnet.Sock().Socket(), -1);
    EXPECT_GT(Telnet.Sock().BytesReceived(), Before);
    EXPECT_LE(Telnet.Sock().BytesReceived() - Before, 2 * 65536);
}

// The old connection's last bytes stop after IAC; the close reads them
// through the negotiation. The new connection must still start from plain
// data: its option request is answered, not taken for text.
TEST(LoginAfresh, OldConnectionCutMidCommand)
{
    ScriptServer Server({{SendBytes("x" + B({255})), ReadToEnd()},
                         {SendBytes(B({255, 251, 1}) + "ok>"), ExpectBytes(B({255, 254, 1})), ReadToEnd()}});
    TTelnetSend Telnet;
    Telnet.SetTargetHost("127.0.0.1");
    Telnet.SetTargetPort(Server.Port());
    Telnet.SetTimeout(5000);
    ASSERT_TRUE(Telnet.Login());
    for (int Turn = 0; Turn < 200 && Telnet.Sock().PendingBytes() < 2; ++Turn)
        Telnet.Sock().WaitReadable(20);
    ASSERT_TRUE(Telnet.Login());
    EXPECT_EQ(Telnet.NegState(), TTelnetState::Data);
    EXPECT_EQ(Telnet.ReceiveUntil(">"), "ok");
    EXPECT_EQ(Telnet.SessionLog(), "ok>");
    Telnet.Logout();
    EXPECT_EQ(Server.Received().at(1), B({255, 254, 1}));
}

}  // namespace
