// The blocking socket against scripted loopback servers: receiving up to a
// terminator with its time-outs and leftovers, the read filter, closing, the
// error reports, and sending into a connection the peer has dropped.
#include "support/loopback_peer.h"
#include "telnet/block_socket.h"
#include "telnet/telnet_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using telnet_test::PrintTo;

constexpr int NoError = 0;

struct ReceiveCase {
    const char* Name;
    Script Server;
    std::string Terminator;
    int Timeout;
    bool InterPacketTimeout;
    int MaxLineLength;
    std::string Result;
    int Error;
    std::string Left;  // InBuffer afterwards
};

std::vector<ReceiveCase> ReceiveCases()
{
    // A server that sends and then stays quiet long past every time-out.
    auto Quiet = [](Script Steps) {
        Steps.push_back(PauseMs(4000));
        Steps.push_back(CloseConnection());
        return Steps;
    };
    return {
        {"PendingDataLeavesRest", Quiet({SendBytes("abc>def")}), ">", 2000, true, 0, "abc", NoError, "def"},
        {"PacketsLessThanTimeoutApart", Quiet({SendBytes("ab"), PauseMs(1000), SendBytes("c>d")}), ">",
         2000, true, 0, "abc", NoError, "d"},
        {"NothingMoreTimesOutKeepingBytes", Quiet({SendBytes("ab")}), ">", 1000, true, 0, "", ErrTimedOut,
         "ab"},
        {"TerminatorSplitOverTwoPackets", Quiet({SendBytes("Pass wo"), PauseMs(300), SendBytes("rd: x")}),
         "word:", 2000, true, 0, "Pass ", NoError, " x"},
        // Each search resumes where a match could still begin: all but the
        // terminator's last byte in the first packet, a near miss before it.
        {"SplitBeforeItsLastByte", Quiet({SendBytes("Pass wor: word"), PauseMs(300), SendBytes(": x")}),
         "word:", 2000, true, 0, "Pass wor: ", NoError, " x"},
        {"TerminatorAtStartGivesEmpty", Quiet({SendBytes("name: x")}), "name:", 2000, true, 0, "", NoError,
         " x"},
        {"PeerCloseKeepsBytes", {SendBytes("ab"), CloseConnection()}, ">", 2000, true, 0, "", ErrConnReset,
         "ab"},
        {"PerPacketTimeoutOutlastsTotal",
         Quiet({SendBytes("a"), PauseMs(1500), SendBytes("b"), PauseMs(1500), SendBytes("c>")}), ">", 2000,
         true, 0, "abc", NoError, ""},
        {"WholeCallTimeoutEndsEarlier",
         Quiet({SendBytes("a"), PauseMs(1500), SendBytes("b"), PauseMs(1500), SendBytes("c>")}), ">", 2000,
         false, 0, "", ErrTimedOut, "ab"},
        {"LineLongerThanLimitFails", Quiet({SendBytes("0123456789abcdef")}), ">", 2000, true, 10, "",
         ErrNoBuffers, "0123456789abcdef"},
        {"LineWithinLimitFoundDespiteMoreBytes", Quiet({SendBytes("abc>0123456789abcdef")}), ">", 2000, true,
         10, "abc", NoError, "0123456789abcdef"},
        {"FoundLineLongerThanLimitKept", Quiet({SendBytes("0123456789abcdef>")}), ">", 2000, true, 10, "",
         ErrNoBuffers, "0123456789abcdef>"},
    };
}

class ReceiveUntilTable : public testing::TestWithParam<ReceiveCase> {};

TEST_P(ReceiveUntilTable, ResultErrorAndLeftover)
{
    const ReceiveCase& Case = GetParam();
    ScriptServer Server({Case.Server});
    TTCPBlockSocket Sock;
    Sock.SetInterPacketTimeout(Case.InterPacketTimeout);
    Sock.SetMaxLineLength(Case.MaxLineLength);
    Sock.Connect("127.0.0.1", Server.Port());
    ASSERT_EQ(Sock.LastError(), NoError);
    EXPECT_EQ(Sock.ReceiveUntil(Case.Timeout, Case.Terminator), Case.Result);
    EXPECT_EQ(Sock.LastError(), Case.Error) << Sock.LastErrorDesc();
    EXPECT_EQ(Sock.InBuffer(), Case.Left);
    Sock.Close();
}

INSTANTIATE_TEST_SUITE_P(Table, ReceiveUntilTable, testing::ValuesIn(ReceiveCases()),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// With ConvertLineEnd a CR LF terminator matches any line end, and the
// partner of a lone CR or LF that arrives with the next packet is dropped
// rather than read as an empty line.
struct LineEndCase {
    const char* Name;
    Script Server;
    std::vector<std::string> Lines;
};

class ConvertLineEndTable : public testing::TestWithParam<LineEndCase> {};

TEST_P(ConvertLineEndTable, EveryLineEndEndsALine)
{
    const LineEndCase& Case = GetParam();
    ScriptServer Server({Case.Server});
    TTCPBlockSocket Sock;
    Sock.SetConvertLineEnd(true);
    Sock.Connect("127.0.0.1", Server.Port());
    ASSERT_EQ(Sock.LastError(), NoError);
    for (const std::string& Line : Case.Lines) {
        EXPECT_EQ(Sock.ReceiveUntil(5000, "\r\n"), Line);
        EXPECT_EQ(Sock.LastError(), NoError);
    }
    Sock.Close();
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConvertLineEndTable,
    testing::Values(LineEndCase{"AllKindsInOnePacket", {SendBytes("one\rtwo\nthree\r\nfour\n\rfive\r\n"), ReadToEnd()},
                                {"one", "two", "three", "four", "five"}},
                    LineEndCase{"CrThenLfInNextPacket",
                                {SendBytes("a\r"), PauseMs(300), SendBytes("\nb\r\n"), ReadToEnd()}, {"a", "b"}},
                    LineEndCase{"LfThenCrInNextPacket",
                                {SendBytes("a\n"), PauseMs(300), SendBytes("\rb\n"), ReadToEnd()}, {"a", "b"}},
                    LineEndCase{"EmptyLineKept", {SendBytes("a\r\n\r\nb\r\n"), ReadToEnd()}, {"a", "", "b"}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// The wait for data is cut into heartbeat-sized turns; a heartbeat that sets
// StopFlag ends the wait at once.
struct HeartbeatCase {
    const char* Name;
    int Timeout;
    int Rate;
    int StopAtBeat;  // 0: never stop
    int Beats;
};

class HeartbeatTable : public testing::TestWithParam<HeartbeatCase> {};

TEST_P(HeartbeatTable, BeatsDuringAQuietWait)
{
    const HeartbeatCase& Case = GetParam();
    ScriptServer Server({{ReadToEnd()}});
    TTCPBlockSocket Sock;
    Sock.Connect("127.0.0.1", Server.Port());
    ASSERT_EQ(Sock.LastError(), NoError);
    int Beats = 0;
    Sock.SetHeartbeatRate(Case.Rate);
    Sock.SetOnHeartbeat([&](TBlockSocket* Sender) {
        ++Beats;
        if (Beats == Case.StopAtBeat)
            Sender->SetStopFlag(true);
    });
    EXPECT_FALSE(Sock.WaitReadable(Case.Timeout));
    EXPECT_EQ(Beats, Case.Beats);
    EXPECT_FALSE(Sock.StopFlag()) << "the stop request is consumed";
    Sock.SetOnHeartbeat(nullptr);
    Sock.Close();
}

INSTANTIATE_TEST_SUITE_P(Table, HeartbeatTable,
                         testing::Values(HeartbeatCase{"TurnsPlusOne", 350, 100, 0, 4},
                                         HeartbeatCase{"StopEndsWait", 5000, 100, 2, 2},
                                         HeartbeatCase{"NoRateNoBeats", 200, 0, 0, 0}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// A leftover is handed out first, and what arrives later joins it.
TEST(ReceiveUntilLeftover, NextCallStartsWithLeftover)
{
    ScriptServer Server({{SendBytes("Password: "), PauseMs(200), SendBytes("ras>"), ReadToEnd()}});
    TTelnetSend Telnet;
    Telnet.SetTargetHost("127.0.0.1");
    Telnet.SetTargetPort(Server.Port());
    Telnet.SetTimeout(5000);
    ASSERT_TRUE(Telnet.Login());
    EXPECT_TRUE(Telnet.WaitFor("word:"));
    EXPECT_EQ(Telnet.Sock().InBuffer().substr(0, 1), " ");
    EXPECT_EQ(Telnet.ReceiveUntil(">"), " ras");
    Telnet.Logout();
}

// Cases that must not touch the system at all: run on a socket never opened,
// where any system call would record an error.
TEST(NoSystemCall, ClosedSocketOperationsThatNeedNoSystem)
{
    TTCPBlockSocket Sock;
    Sock.SetInBuffer("xy>z");
    EXPECT_EQ(Sock.ReceiveUntil(2000, ">"), "xy");
    EXPECT_EQ(Sock.LastError(), NoError);
    EXPECT_EQ(Sock.InBuffer(), "z");

    EXPECT_EQ(Sock.ReceiveUntil(2000, ""), "");
    EXPECT_EQ(Sock.InBuffer(), "z");

    Sock.Bind("0.0.0.0", "0");
    EXPECT_EQ(Sock.LastError(), NoError);
    EXPECT_EQ(Sock.Socket(), -1);

    EXPECT_EQ(Sock.SendText(""), 0);
    EXPECT_EQ(Sock.LastError(), NoError);
}

// Waiting on a socket that is not open fails at once rather than sleeping.
TEST(NoSystemCall, WaitOnClosedSocketFailsAtOnce)
{
    TTCPBlockSocket Sock;
    EXPECT_FALSE(Sock.WaitReadable(60000));
    EXPECT_EQ(Sock.LastError(), ErrNotSocket);
}

struct FilterCase {
    const char* Name;
    std::string Append;  // the filter adds this to every chunk
    std::size_t Cut;     // then keeps at most this many bytes
    std::string Expected;
};

class ReadFilter : public testing::TestWithParam<FilterCase> {};

TEST_P(ReadFilter, ResultNeverLongerThanWhatArrived)
{
    const FilterCase& Case = GetParam();
    ScriptServer Server({{SendBytes("abcdef"), ReadToEnd()}});
    TTCPBlockSocket Sock;
    Sock.SetOnReadFilter([&Case](TBlockSocket*, std::string& Value) {
        Value = (Value + Case.Append).substr(0, Case.Cut);
    });
    Sock.Connect("127.0.0.1", Server.Port());
    ASSERT_EQ(Sock.LastError(), NoError);
    std::string Got;
    while (Got.size() < Case.Expected.size() && Sock.LastError() == NoError)
        Got += Sock.NextPacket(5000);
    EXPECT_EQ(Got, Case.Expected);
    Sock.Close();
}

INSTANTIATE_TEST_SUITE_P(Table, ReadFilter,
                         testing::Values(FilterCase{"LongerIsCut", "XYZ", 100, "abcdef"},
                                         FilterCase{"ShorterKept", "", 2, "ab"},
                                         FilterCase{"EqualKept", "", 100, "abcdef"}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// Closing with unread data reads it first, through the read filter like any
// other received data, so the close is orderly: the peer sees the end of the
// stream, not a reset.
TEST(CloseDrains, PendingBytesPassTheFilterAndPeerSeesOrderlyClose)
{
    const std::string Pending(3000, 'j');
    ScriptServer Server({{SendBytes(Pending), ReadToEnd()}});
    TTCPBlockSocket Sock;
    std::string Filtered;
    Sock.SetOnReadFilter([&Filtered](TBlockSocket*, std::string& Value) { Filtered += Value; });
    Sock.Connect("127.0.0.1", Server.Port());
    ASSERT_EQ(Sock.LastError(), NoError);
    for (int Turn = 0; Turn < 200 && Sock.PendingBytes() < static_cast<int>(Pending.size()); ++Turn)
        Sock.WaitReadable(100);
    ASSERT_EQ(Sock.PendingBytes(), static_cast<int>(Pending.size()));
    Sock.Close();
    EXPECT_EQ(Sock.Socket(), -1);
    EXPECT_EQ(Filtered, Pending);
    EXPECT_EQ(Sock.LastError(), NoError);
    Server.Received();
    EXPECT_TRUE(Server.SawClientClose().at(0));
}

// After a failed operation the close skips the shutdown and drain.
TEST(CloseDrains, CloseAfterErrorStillReleases)
{
    ScriptServer Server({{CloseConnection()}});
    TTCPBlockSocket Sock;
    Sock.Connect("127.0.0.1", Server.Port());
    ASSERT_EQ(Sock.LastError(), NoError);
    Sock.ReceiveUntil(5000, ">");
    EXPECT_EQ(Sock.LastError(), ErrConnReset);
    Sock.Close();
    EXPECT_EQ(Sock.Socket(), -1);
}

TEST(ErrorReport, RaiseExceptThrowsWithCodeAndText)
{
    TTCPBlockSocket Sock;
    std::vector<std::string> Errors;
    Sock.SetOnStatus([&Errors](TBlockSocket*, THookSocketReason Reason, const std::string& Value) {
        if (Reason == HR_Error)
            Errors.push_back(Value);
    });
    Sock.SetRaiseExcept(true);
    try {
        Sock.Connect("127.0.0.1", UnusedPort());
        FAIL() << "no exception";
    } catch (const ESocketError& Error) {
        EXPECT_STREQ(Error.what(), "TCP/IP Socket error 10061: Connection refused");
        EXPECT_EQ(Error.ErrorCode(), ErrRefused);
        EXPECT_EQ(Error.ErrorMessage(), "Connection refused");
    }
    EXPECT_EQ(Errors, std::vector<std::string>{"10061,Connection refused"});
}

TEST(ErrorReport, StopFlagAbortsSend)
{
    TTCPBlockSocket Sock;
    Sock.SetStopFlag(true);
    EXPECT_EQ(Sock.SendText("abc"), 0);
    EXPECT_EQ(Sock.LastError(), ErrConnAborted);
    EXPECT_FALSE(Sock.StopFlag());
}

// The peer closes; sending on must record an error, not kill the process.
TEST(SendToClosedPeer, ProcessSurvivesAndErrorIsRecorded)
{
    ScriptServer Server({{CloseConnection()}});
    TTCPBlockSocket Sock;
    Sock.Connect("127.0.0.1", Server.Port());
    ASSERT_EQ(Sock.LastError(), NoError);
    Server.Received();
    const std::string Block(65536, 'x');
    for (int Attempt = 0; Attempt < 50 && Sock.LastError() == NoError; ++Attempt)
        Sock.SendText(Block);
    EXPECT_TRUE(Sock.LastError() == ErrConnReset || Sock.LastError() == ErrSendAfterShutdown
                || Sock.LastError() == ErrConnAborted)
        << Sock.LastError();
}

TEST(SendInPieces, LargeTextArrivesWholeInSmallChunks)
{
    std::string Text;
    for (int I = 0; I < 20000; ++I)
        Text += static_cast<char>('a' + I % 26);
    Text += "<END>";
    ScriptServer Server({{ExpectBytes("<END>"), CloseConnection()}});
    TTCPBlockSocket Sock;
    Sock.SetSendMaxChunk(1000);
    Sock.Connect("127.0.0.1", Server.Port());
    ASSERT_EQ(Sock.LastError(), NoError);
    EXPECT_EQ(Sock.SendText(Text), static_cast<int>(Text.size()));
    EXPECT_EQ(Server.Received().at(0), Text);
    Sock.Close();
}

}  // namespace
