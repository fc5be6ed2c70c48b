// The negotiation machine: the same byte streams fed whole, byte by byte, in
// odd chunks and split in two at every point must give the same data and the
// same answers, each answer exactly once. Then the same table over a real
// loopback connection, with the split falling between two network reads.
#include "support/loopback_peer.h"
#include "telnet/telnet_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

using telnet_test::PrintTo;

struct NegotiationCase {
    const char* Name;
    std::string Received;
    std::string Data;                  // data bytes the caller sees
    std::vector<std::string> Answers;  // one entry per send, in order
};

const std::string TermTypeAnswer = B({255, 250, 24, 0}) + "TIRVANE" + B({255, 240});

std::vector<NegotiationCase> NegotiationCases()
{
    return {
        {"DoubledIacIsOneDataByte", B({97, 98, 255, 255, 99}), B({97, 98, 255, 99}), {}},
        {"DoTerminalTypeAgreed", B({255, 253, 24}), "", {B({255, 251, 24})}},
        {"DoOtherOptionRefused", B({255, 253, 31}), "", {B({255, 252, 31})}},
        {"WillEchoRefused", B({255, 251, 1}), "", {B({255, 254, 1})}},
        {"WillSuppressGoAheadAgreed", B({255, 251, 3}), "", {B({255, 253, 3})}},
        {"WontConfirmed", B({255, 252, 5}), "", {B({255, 254, 5})}},
        {"DontConfirmed", B({255, 254, 24}), "", {B({255, 252, 24})}},
        {"TerminalTypeSendAnswered", B({255, 250, 24, 1, 255, 240}), "", {TermTypeAnswer}},
        {"OtherSubNegotiationEmptyAnswer", B({255, 250, 31, 0, 80, 0, 24, 255, 240}), "",
         {B({255, 250, 31, 255, 240})}},
        {"TerminalTypeEmptyPayload", B({255, 250, 24, 255, 240}), "", {B({255, 250, 24, 255, 240})}},
        {"TerminalTypeIsNotSend", B({255, 250, 24, 0, 255, 240}), "", {B({255, 250, 24, 255, 240})}},
        {"DoubledIacInSubPayload", B({255, 250, 24, 1, 255, 255, 255, 240}), "", {TermTypeAnswer}},
        {"NopAndGoAheadVanish", "a" + B({255, 241}) + "b" + B({255, 249}) + "c", "abc", {}},
        {"BrokenSubNegotiationDropped", B({255, 250, 24, 1, 255, 7}) + "x", "x", {}},
        {"RepeatedRequestAnsweredAgain", B({255, 251, 3, 255, 251, 3}), "",
         {B({255, 253, 3}), B({255, 253, 3})}},
        {"RouterOpening",
         B({255, 251, 1, 255, 251, 3, 255, 253, 24, 255, 250, 24, 1, 255, 240}) + "Password: ",
         "Password: ",
         {B({255, 254, 1}), B({255, 253, 3}), B({255, 251, 24}), TermTypeAnswer}},
    };
}

std::string Join(const std::vector<std::string>& Parts)
{
    std::string All;
    for (const auto& Part : Parts)
        All += Part;
    return All;
}

struct FeedResult {
    std::string Data;
    std::vector<std::string> Answers;
};

// Feeds Received to a fresh machine in pieces of the given sizes (the last
// piece takes what is left).
FeedResult Feed(const std::string& Received, const std::vector<std::size_t>& Pieces)
{
    TTelnetMachine Machine;
    FeedResult Out;
    const auto Sink = [&Out](const std::string& Answer) { Out.Answers.push_back(Answer); };
    std::size_t At = 0;
    for (const std::size_t Size : Pieces) {
        if (At >= Received.size())
            break;
        Out.Data += Machine.Negotiate(Received.substr(At, Size), Sink);
        At += Size;
    }
    if (At < Received.size())
        Out.Data += Machine.Negotiate(Received.substr(At), Sink);
    EXPECT_EQ(Machine.NegState, TTelnetState::Data) << "stream ends mid-command";
    return Out;
}

class NegotiationMachine : public testing::TestWithParam<NegotiationCase> {};

TEST_P(NegotiationMachine, WholeBytewiseAndOddChunksAgree)
{
    const NegotiationCase& Case = GetParam();
    const std::vector<std::vector<std::size_t>> Splittings = {
        {Case.Received.size()},
        std::vector<std::size_t>(Case.Received.size(), 1),
        std::vector<std::size_t>(Case.Received.size(), 3),
        {2, 5, 1, 7},
    };
    for (const auto& Pieces : Splittings) {
        const FeedResult Got = Feed(Case.Received, Pieces);
        EXPECT_EQ(Got.Data, Case.Data);
        EXPECT_EQ(Got.Answers, Case.Answers);
    }
}

TEST_P(NegotiationMachine, EverySplitPointAnswersOnce)
{
    const NegotiationCase& Case = GetParam();
    for (std::size_t Split = 1; Split < Case.Received.size(); ++Split) {
        const FeedResult Got = Feed(Case.Received, {Split});
        EXPECT_EQ(Got.Data, Case.Data) << "split at " << Split;
        EXPECT_EQ(Got.Answers, Case.Answers) << "split at " << Split;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, NegotiationMachine, testing::ValuesIn(NegotiationCases()),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST(NegotiationMachineState, SubPayloadKeepsOneByte255)
{
    TTelnetMachine Machine;
    Machine.Negotiate(B({255, 250, 24, 1, 255, 255, 2, 255, 240}), [](const std::string&) {});
    EXPECT_EQ(Machine.SubData, B({1, 255, 2}));
    EXPECT_EQ(Machine.SubOption, 24);
}

TEST(NegotiationMachineState, TerminalTypeIsSentUnchanged)
{
    TTelnetMachine Machine;
    Machine.TermType = B({'V', 255, 'T'});
    std::vector<std::string> Answers;
    Machine.Negotiate(B({255, 250, 24, 1, 255, 240}),
                      [&Answers](const std::string& A) { Answers.push_back(A); });
    ASSERT_EQ(Answers.size(), 1u);
    EXPECT_EQ(Answers[0], B({255, 250, 24, 0, 'V', 255, 'T', 255, 240}));
}

// ---- the same table over a real connection ----

class NegotiationOverSocket : public testing::TestWithParam<NegotiationCase> {};

// The server sends the bytes in two writes with a pause between, so the
// client reads them in two pieces; then a marker the client waits for. The
// server records what the client answered until the client hangs up.
TEST_P(NegotiationOverSocket, SplitBetweenReadsAnsweredOnce)
{
    const NegotiationCase& Case = GetParam();
    for (std::size_t Split = 1; Split < Case.Received.size(); ++Split) {
        ScriptServer Server({{SendBytes(Case.Received.substr(0, Split)), PauseMs(60),
                              SendBytes(Case.Received.substr(Split) + "<END>"), ReadToEnd()}});
        TTelnetSend Telnet;
        Telnet.SetTargetHost("127.0.0.1");
        Telnet.SetTargetPort(Server.Port());
        Telnet.SetTimeout(10000);
        ASSERT_TRUE(Telnet.Login());
        EXPECT_EQ(Telnet.ReceiveUntil("<END>"), Case.Data) << "split at " << Split;
        EXPECT_EQ(Telnet.Sock().LastError(), 0);
        Telnet.Logout();
        EXPECT_EQ(Server.Received().at(0), Join(Case.Answers)) << "split at " << Split;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, NegotiationOverSocket, testing::ValuesIn(NegotiationCases()),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// Packets made only of commands carry no data: the receive answers them and
// waits on, each time with a fresh time-out, although together they outlast it.
TEST(NegotiationOverSocketWait, CommandOnlyPacketsKeepTheWaitGoing)
{
    ScriptServer Server({{SendBytes(B({255, 253, 24})), PauseMs(700), SendBytes(B({255, 251, 3})),
                          PauseMs(700), SendBytes(B({255, 241})), PauseMs(700), SendBytes("ras>"),
                          ReadToEnd()}});
    TTelnetSend Telnet;
    Telnet.SetTargetHost("127.0.0.1");
    Telnet.SetTargetPort(Server.Port());
    Telnet.SetTimeout(1500);
    ASSERT_TRUE(Telnet.Login());
    EXPECT_EQ(Telnet.ReceiveUntil(">"), "ras");
    EXPECT_EQ(Telnet.Sock().LastError(), 0);
    Telnet.Logout();
    EXPECT_EQ(Server.Received().at(0), B({255, 251, 24, 255, 253, 3}));
}

// ---- sub-negotiations longer than anyone needs ----

// A peer decides how long a sub-negotiation is. Whatever it sends, the
// session keeps at most SubDataLimit bytes of it, drops the rest until IAC
// SE, answers the option as usual and reads on; a body that never ends costs
// no more memory than a short one and ends with the step at the deadline.
struct LongSubCase {
    const char* Name;
    Script Server;
    bool PromptArrives;    // "word:" follows the sub-negotiation
    std::string Answers;   // what the client sent back, in order
    std::size_t AtLeastSent; // payload bytes the peer got in, at the least
};

constexpr std::size_t Limit = TTelnetMachine::SubDataLimit;

Script ManyPackets()
{
    // The body crosses the limit in the middle of the packets, with a
    // doubled 255 on each side of it, each packet read on its own.
    Script Steps = {SendBytes(B({255, 250, 24, 1}))};
    for (int Packet = 0; Packet < 40; ++Packet) {
        Steps.push_back(SendBytes(std::string(500, 'p') + B({255, 255})));
        Steps.push_back(PauseMs(5));
    }
    Steps.push_back(SendBytes(B({255, 240}) + "Password:"));
    Steps.push_back(ReadToEnd());
    return Steps;
}

std::vector<LongSubCase> LongSubCases()
{
    return {
        {"EndlessBody", {SendBytes(B({255, 253, 24, 255, 250, 24, 1})), ExpectBytes(B({255, 251, 24})),
          FloodWith(std::string(65536, 'x'), 1u << 30)},
         false, B({255, 251, 24}), 16 * Limit},
        {"SplitOverManyPackets", ManyPackets(), true, TermTypeAnswer, 40 * 500},
        {"EndsAfterALongBody",
         {SendBytes(B({255, 250, 24, 1}) + std::string(4u << 20, 'y') + B({255, 240}) + "Password:"), ReadToEnd()},
         true, TermTypeAnswer, 4u << 20},
    };
}

class LongSubNegotiation : public testing::TestWithParam<LongSubCase> {};

TEST_P(LongSubNegotiation, KeepsAtMostTheLimitAndAnswersAsUsual)
{
    const LongSubCase& Case = GetParam();
    ScriptServer Server({Case.Server});
    TTelnetSend Telnet;
    Telnet.SetTargetHost("127.0.0.1");
    Telnet.SetTargetPort(Server.Port());
    Telnet.SetTimeout(5000);
    Telnet.SetDeadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(1500));
    ASSERT_TRUE(Telnet.Login());
    EXPECT_EQ(Telnet.WaitFor("word:"), Case.PromptArrives);
    EXPECT_LE(Telnet.SubData().size(), Limit);
    EXPECT_LE(Telnet.SubData().capacity(), 2 * Limit) << "the dropped bytes were kept somewhere";
    EXPECT_EQ(Telnet.SessionLog(), Case.PromptArrives ? "Password:" : "");
    EXPECT_GE(Telnet.Sock().BytesReceived(), static_cast<std::int64_t>(Case.AtLeastSent));
    Telnet.Logout();
    EXPECT_EQ(Server.Received().at(0), Case.Answers);
}

INSTANTIATE_TEST_SUITE_P(Table, LongSubNegotiation, testing::ValuesIn(LongSubCases()),
                         [](const auto& Info) { return std::string(Info.param.Name); });

}  // namespace
