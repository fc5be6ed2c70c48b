// The router simulator as a process, over real loopback sockets: the login,
// the prompts and echo, the reply layout the monitor cuts at, every fault
// mode doing what it is named for, and the process itself (loopback only,
// several clients, clean end on a signal). Each simulator gets its own
// 127.x.y.z address on port 23, so run inside a private network namespace.
#include "line/capture_buffer.h"
#include "line/line_data.h"
#include "support/router_sim_process.h"
#include "support/telnet_probe.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char* FarCommand = "wan adsl linedata far\r\n";
constexpr const char* NearCommand = "wan adsl linedata near\r\n";

RouterSimProcess::Options SimOptions(std::vector<std::string> extra = {})
{
    RouterSimProcess::Options o;
    o.address = RouterSimProcess::UniqueLoopbackAddress();
    o.extraArgs = std::move(extra);
    return o;
}

// Logs in as the monitor does: the user name only when one is set, the
// password, then the prompt's ">".
bool LogIn(TelnetProbe& probe, const std::string& password, const std::string& username = {})
{
    if (!username.empty()) {
        if (!probe.ReceiveUntil("name:"))
            return false;
        probe.Send(username + "\r\n");
    }
    if (!probe.ReceiveUntil("word:"))
        return false;
    probe.Send(password + "\r\n");
    return probe.ReceiveUntil(">").has_value();
}

struct Replies {
    std::optional<std::string> far;
    std::optional<std::string> near;
};

Replies FetchBoth(TelnetProbe& probe)
{
    Replies r;
    probe.Send(FarCommand);
    r.far = probe.ReceiveUntil(">");
    probe.Send(NearCommand);
    r.near = probe.ReceiveUntil(">");
    return r;
}

// The far-end reply as the client reads it, and the bytes it arrived in on
// the wire, telnet commands and doubled 255s included.
struct WiredReply {
    std::optional<std::string> text;
    std::string wire;
};

WiredReply FetchFarWithWire(TelnetProbe& probe)
{
    const auto wireBefore = probe.Wire().size();
    probe.Send(FarCommand);
    WiredReply r;
    r.text = probe.ReceiveUntil(">");
    r.wire = probe.Wire().substr(wireBefore);
    return r;
}

std::array<int, 513> Decode(const Replies& r)
{
    TZyxelToneTable tones{};
    TCaptureBuffer memo;
    memo.Append("xdsl debug bitloadinginfo");
    memo.Append(r.far.value_or(""));
    DecodeFarEnd(memo, tones);
    memo.Clear();
    memo.Append("xdsl debug bitloadinginfo");
    memo.Append(r.near.value_or(""));
    DecodeNearEnd(memo, tones);
    std::array<int, 513> out{};
    std::copy(tones.begin(), tones.end(), out.begin());
    return out;
}

// ---- whole dialogues whose replies must decode exactly to what was served ----

struct DialogueCase {
    const char* name;
    std::vector<std::string> args;
    std::string username = {};
    bool ttype = false;
    unsigned seed = 1;
};

class SimulatorDialogue : public ::testing::TestWithParam<DialogueCase> {};

TEST_P(SimulatorDialogue, RepliesDecodeToTheServedTables)
{
    const auto& c = GetParam();
    auto options = SimOptions(c.args);
    options.username = c.username;
    options.ttype = c.ttype;
    options.seed = c.seed;
    RouterSimProcess sim(options);

    // Two connections, as in every cycle: the first is given up at once.
    TelnetProbe first, probe;
    ASSERT_TRUE(first.Connect(sim.Address(), sim.Port()));
    ASSERT_TRUE(probe.Connect(sim.Address(), sim.Port()));
    first.Close();

    ASSERT_TRUE(LogIn(probe, "1234", c.username));
    const auto replies = FetchBoth(probe);
    ASSERT_TRUE(replies.far && replies.near);

    // The client sees the echo of its command first, and "ras" last.
    EXPECT_EQ(replies.far->substr(0, 24), " wan adsl linedata far\r\n");
    EXPECT_EQ(replies.near->substr(0, 25), " wan adsl linedata near\r\n");
    EXPECT_TRUE(replies.far->ends_with("\r\n\r\nras"));
    EXPECT_TRUE(replies.near->ends_with("\r\n\r\nras"));
    EXPECT_EQ(replies.far->substr(117, 14), "tone   0- 31: ");
    const auto nearLine = replies.near->rfind("\r\n", 150) + 2;
    EXPECT_EQ(replies.near->substr(nearLine, 14), "tone   0- 31: ");

    ASSERT_TRUE(sim.LastServed("far"));
    ASSERT_TRUE(sim.LastServed("near"));
    const auto expected = sim.ExpectedTones();
    const auto decoded = Decode(replies);
    for (int t = 0; t <= 512; ++t)
        ASSERT_EQ(decoded[t], expected[t]) << "tone " << t;
    // A real line, not an empty table.
    EXPECT_GT(std::count_if(expected.begin(), expected.end(), [](int b) { return b > 0; }), 200);

    if (c.ttype)
        EXPECT_EQ(sim.TerminalType(), "TIRVANE");
    else
        EXPECT_EQ(sim.TerminalType(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SimulatorDialogue,
    ::testing::Values(
        DialogueCase{"Plain", {}},
        DialogueCase{"OtherSeed", {}, "", false, 314159},
        DialogueCase{"ByteAtATime", {"--chunk", "1"}},
        DialogueCase{"FewBytesWithPauses", {"--chunk", "7", "--pause-ms", "1"}},
        DialogueCase{"SplitCommands", {"--split-commands"}},
        DialogueCase{"SplitCommandsByteAtATime", {"--split-commands", "--chunk", "1"}},
        DialogueCase{"DoubledIacInData", {"--iac-data"}},
        DialogueCase{"DoubledIacSplitAcrossPackets", {"--iac-data", "--chunk", "1"}},
        DialogueCase{"GarbageDigits", {"--garbage"}},
        DialogueCase{"TerminalType", {}, "", true},
        DialogueCase{"Username", {}, "admin"},
        DialogueCase{"EveryFaultThatKeepsTheLayout",
                     {"--split-commands", "--iac-data", "--garbage", "--chunk", "5"}, "admin", true, 8}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimulatorDialogue, PromptsAndEcho)
{
    RouterSimProcess sim(SimOptions());
    TelnetProbe probe;
    ASSERT_TRUE(probe.Connect(sim.Address(), sim.Port()));
    const auto beforePassword = probe.ReceiveUntil("Password: ");
    ASSERT_TRUE(beforePassword);
    EXPECT_EQ(*beforePassword, "");
    // Offers to echo and to suppress go-ahead come first on the wire.
    EXPECT_EQ(probe.Wire().substr(0, 6), "\xff\xfb\x01\xff\xfb\x03");
    probe.Send("1234\r\n");
    EXPECT_EQ(probe.ReceiveUntil("ras> "), "****\r\n");
    probe.Send("bogus\r\n");
    EXPECT_EQ(probe.ReceiveUntil("ras> "), "bogus\r\ninvalid command\r\n");
    probe.Send("\r\n");
    EXPECT_EQ(probe.ReceiveUntil("ras> "), "\r\n");
    probe.Send("exit\r\n");
    EXPECT_TRUE(probe.WaitForClose());
}

TEST(SimulatorDialogue, ReadingsDriftFromCycleToCycle)
{
    RouterSimProcess sim(SimOptions());
    std::vector<std::array<int, 513>> seen;
    for (int cycle = 0; cycle < 3; ++cycle) {
        TelnetProbe probe;
        ASSERT_TRUE(probe.Connect(sim.Address(), sim.Port()));
        ASSERT_TRUE(LogIn(probe, "1234"));
        const auto decoded = Decode(FetchBoth(probe));
        ASSERT_EQ(decoded, sim.ExpectedTones());
        seen.push_back(decoded);
    }
    EXPECT_NE(seen[0], seen[1]);
    EXPECT_NE(seen[1], seen[2]);
    for (int t = 0; t <= 512; ++t)
        EXPECT_LE(std::abs(seen[0][t] - seen[1][t]), 2) << "tone " << t;
}

TEST(SimulatorDialogue, SameSeedServesTheSameReadings)
{
    std::array<int, 513> tables[2];
    for (auto& table : tables) {
        auto options = SimOptions();
        options.seed = 4242;
        RouterSimProcess sim(options);
        TelnetProbe probe;
        ASSERT_TRUE(probe.Connect(sim.Address(), sim.Port()));
        ASSERT_TRUE(LogIn(probe, "1234"));
        table = Decode(FetchBoth(probe));
    }
    EXPECT_EQ(tables[0], tables[1]);
}

// ---- faults that break the dialogue ----

TEST(SimulatorFaults, WrongPasswordModeRefusesTheRightPassword)
{
    RouterSimProcess sim(SimOptions({"--wrong-password"}));
    TelnetProbe probe;
    ASSERT_TRUE(probe.Connect(sim.Address(), sim.Port()));
    ASSERT_TRUE(probe.ReceiveUntil("Password: "));
    for (int attempt = 1; attempt <= 2; ++attempt) {
        probe.Send("1234\r\n");
        EXPECT_EQ(probe.ReceiveUntil("Password: "), "****\r\n") << "attempt " << attempt;
    }
    probe.Send("1234\r\n");
    EXPECT_TRUE(probe.WaitForClose()) << "three refusals end the connection";
    EXPECT_EQ(probe.Pending().find('>'), std::string::npos);
}

struct LoginCase {
    const char* name;
    std::string username;  // what the simulator expects
    std::string typedUser; // what the client types, when asked
    std::string password;
    bool accepted;
};

class SimulatorLogin : public ::testing::TestWithParam<LoginCase> {};

TEST_P(SimulatorLogin, ChecksNameAndPassword)
{
    const auto& c = GetParam();
    auto options = SimOptions();
    options.username = c.username;
    RouterSimProcess sim(options);
    TelnetProbe probe;
    ASSERT_TRUE(probe.Connect(sim.Address(), sim.Port()));
    if (!c.username.empty()) {
        ASSERT_TRUE(probe.ReceiveUntil("Username: "));
        probe.Send(c.typedUser + "\r\n");
        EXPECT_EQ(probe.ReceiveUntil("\r\n"), c.typedUser) << "the name is echoed as typed";
    }
    ASSERT_TRUE(probe.ReceiveUntil("Password: "));
    probe.Send(c.password + "\r\n");
    EXPECT_EQ(probe.ReceiveUntil("\r\n"), std::string(c.password.size(), '*'));
    if (c.accepted) {
        EXPECT_TRUE(probe.ReceiveUntil("ras> "));
    } else {
        EXPECT_TRUE(probe.ReceiveUntil("Password: "));
        EXPECT_EQ(probe.Pending().find('>'), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimulatorLogin,
    ::testing::Values(LoginCase{"RightPassword", "", "", "1234", true},
                      LoginCase{"WrongPassword", "", "", "4321", false},
                      LoginCase{"PasswordWithTrailingSpace", "", "", "1234 ", false},
                      LoginCase{"EmptyPassword", "", "", "", false},
                      LoginCase{"RightNameAndPassword", "admin", "admin", "1234", true},
                      LoginCase{"WrongName", "admin", "root", "1234", false},
                      LoginCase{"NameCaseMatters", "admin", "Admin", "1234", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimulatorFaults, RefusedLoginClosesAfterThePassword)
{
    RouterSimProcess sim(SimOptions({"--refuse-login"}));
    TelnetProbe probe;
    ASSERT_TRUE(probe.Connect(sim.Address(), sim.Port()));
    ASSERT_TRUE(probe.ReceiveUntil("Password: "));
    probe.Send("1234\r\n");
    EXPECT_TRUE(probe.WaitForClose());
    EXPECT_EQ(probe.Pending(), "****\r\n");
}

struct BrokenReplyCase {
    const char* name;
    std::vector<std::string> args;
    bool farWhole;     // the far reply arrives up to its prompt
    bool closes;       // the simulator ends the connection inside a reply
};

class SimulatorBrokenReply : public ::testing::TestWithParam<BrokenReplyCase> {};

TEST_P(SimulatorBrokenReply, ReplyEndsWithoutItsPrompt)
{
    const auto& c = GetParam();
    RouterSimProcess sim(SimOptions(c.args));
    TelnetProbe probe;
    ASSERT_TRUE(probe.Connect(sim.Address(), sim.Port()));
    ASSERT_TRUE(LogIn(probe, "1234"));
    probe.Send(FarCommand);
    if (c.farWhole) {
        ASSERT_TRUE(probe.ReceiveUntil(">"));
        ASSERT_TRUE(sim.LastServed("far"));
        probe.Send(NearCommand);
    }
    const std::string broken = c.farWhole ? "near" : "far";
    if (c.closes) {
        EXPECT_TRUE(probe.WaitForClose());
        EXPECT_EQ(probe.ReceiveUntil(">", 100), std::nullopt);
        // Half a reply: the header and part of the table.
        EXPECT_NE(probe.Pending().find("tone   0- 31: "), std::string::npos);
        EXPECT_GT(probe.Pending().size(), 400u);
        EXPECT_LT(probe.Pending().size(), 800u);
    } else {
        // Nothing more comes, yet the connection stays open.
        probe.ReadAtLeast(400);
        EXPECT_EQ(probe.ReceiveUntil(">", 1500), std::nullopt);
        EXPECT_FALSE(probe.PeerClosed());
    }
    EXPECT_FALSE(sim.LastServed(broken)) << "a broken reply is not recorded as served";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimulatorBrokenReply,
    ::testing::Values(BrokenReplyCase{"DropFar", {"--drop", "far"}, false, true},
                      BrokenReplyCase{"DropNear", {"--drop", "near"}, true, true},
                      BrokenReplyCase{"DropBothHitsFarFirst", {"--drop", "both"}, false, true},
                      BrokenReplyCase{"StallFar", {"--stall", "far"}, false, false},
                      BrokenReplyCase{"StallNear", {"--stall", "near"}, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimulatorFaults, EndlessReplyKeepsComingWithoutAPrompt)
{
    RouterSimProcess sim(SimOptions({"--endless", "near", "--pause-ms", "5"}));
    TelnetProbe probe;
    ASSERT_TRUE(probe.Connect(sim.Address(), sim.Port()));
    ASSERT_TRUE(LogIn(probe, "1234"));
    probe.Send(FarCommand);
    ASSERT_TRUE(probe.ReceiveUntil(">"));
    probe.Send(NearCommand);
    // More than the whole table's worth, twice over, and still no prompt.
    probe.ReadAtLeast(2 * 16 * 64 + 200);
    EXPECT_GT(probe.Pending().size(), 2u * 16 * 64);
    EXPECT_EQ(probe.Pending().find('>'), std::string::npos);
    EXPECT_FALSE(probe.PeerClosed());
}

// On the raw wire: the terminal type asked for in a sub-negotiation whose
// payload runs on far past any sensible length without an IAC, so never IAC SE.
TEST(SimulatorFaults, EndlessSubnegotiationNeverReachesItsEnd)
{
    RouterSimProcess sim(SimOptions({"--endless-subnegotiation"}));
    LoopbackClient client;
    ASSERT_TRUE(client.Connect(sim.Address(), sim.Port()));
    client.ReadAtLeast(1u << 20);
    const std::string& wire = client.Pending();
    ASSERT_GE(wire.size(), std::size_t(1u << 20));
    EXPECT_EQ(wire.substr(0, 4), B({255, 250, 24, 1}));
    EXPECT_EQ(wire.find('\xff', 4), std::string::npos);
    EXPECT_FALSE(client.PeerClosed());
}

// Faults that never end on their own: something keeps coming (or the
// client's answers are never taken), never the prompt, and the simulator
// closes the connection once --fault-seconds have passed, not before.
struct NeverEndingCase {
    const char* name;
    std::vector<std::string> args;
    int commands;         // line-data commands sent after the login (0: no login)
    std::size_t atLeast;  // wire bytes that arrive after the last one's echo
    std::size_t atMost;   // ... and no more within the fault's second
    long prompts = 0;     // prompts among them (a reply's own, before a flood)
};

class SimulatorNeverEnding : public ::testing::TestWithParam<NeverEndingCase> {};

TEST_P(SimulatorNeverEnding, KeepsOnUntilItsTimeLimit)
{
    const auto& c = GetParam();
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--fault-seconds", "1"});
    RouterSimProcess sim(SimOptions(args));
    TelnetProbe probe;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(probe.Connect(sim.Address(), sim.Port()));
    if (c.commands > 0) {
        ASSERT_TRUE(LogIn(probe, "1234"));
        probe.Send(FarCommand);
        if (c.commands > 1) {
            ASSERT_TRUE(probe.ReceiveUntil(">"));
            probe.Send(NearCommand);
        }
        ASSERT_TRUE(probe.ReceiveUntil("\r\n")) << "the command's echo";
    }
    const std::size_t before = probe.Wire().size();
    EXPECT_TRUE(probe.WaitForClose(10000));
    const auto lasted = std::chrono::steady_clock::now() - start;
    EXPECT_GE(lasted, std::chrono::milliseconds(950));
    EXPECT_LT(lasted, std::chrono::milliseconds(6000));
    const std::string after = probe.Wire().substr(before);
    EXPECT_GE(after.size(), c.atLeast);
    EXPECT_LE(after.size(), c.atMost);
    EXPECT_EQ(std::count(probe.Pending().begin(), probe.Pending().end(), '>'), c.prompts);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimulatorNeverEnding,
    ::testing::Values(
        // A byte per 50 ms: about 20 in the second, one at a time.
        NeverEndingCase{"TrickleFar", {"--trickle", "far", "--trickle-ms", "50"}, 1, 10, 30},
        NeverEndingCase{"TrickleNear", {"--trickle", "near", "--trickle-ms", "50"}, 2, 10, 30},
        NeverEndingCase{"EndlessFar", {"--endless", "far"}, 1, 500, 100000},
        NeverEndingCase{"FloodAfterNear", {"--flood-after", "near"}, 2, 1u << 20, std::size_t(-1), 1},
        // Requests only, as fast as the client takes them, until its answers
        // pile up unread.
        NeverEndingCase{"OptionFlood", {"--option-flood"}, 0, 100000, std::size_t(-1)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimulatorFaults, PausesSpreadPacketsOut)
{
    // "Password: " a byte per packet with 40 ms between: it cannot arrive in
    // less than 9 pauses.
    RouterSimProcess sim(SimOptions({"--chunk", "1", "--pause-ms", "40"}));
    TelnetProbe probe;
    ASSERT_TRUE(probe.Connect(sim.Address(), sim.Port()));
    ASSERT_TRUE(probe.ReceiveUntil("P"));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(probe.ReceiveUntil("word: "));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(8 * 40));
}

TEST(SimulatorFaults, SplitCommandsAppearInsideTheReply)
{
    RouterSimProcess sim(SimOptions({"--split-commands"}));
    TelnetProbe probe;
    ASSERT_TRUE(probe.Connect(sim.Address(), sim.Port()));
    ASSERT_TRUE(LogIn(probe, "1234"));
    const auto [far, replyWire] = FetchFarWithWire(probe);
    ASSERT_TRUE(far);
    EXPECT_NE(replyWire.find("\xff\xf1"), std::string::npos) << "no-operation inside the reply";
    EXPECT_NE(replyWire.find("\xff\xfb\x03"), std::string::npos) << "a repeated offer inside the reply";
    EXPECT_EQ(far->find('\xff'), std::string::npos) << "no command bytes left in the text";
}

TEST(SimulatorFaults, DoubledIacOnTheWireSingleInTheText)
{
    RouterSimProcess sim(SimOptions({"--iac-data"}));
    TelnetProbe probe;
    ASSERT_TRUE(probe.Connect(sim.Address(), sim.Port()));
    ASSERT_TRUE(LogIn(probe, "1234"));
    const auto [far, onWire] = FetchFarWithWire(probe);
    ASSERT_TRUE(far);
    const auto singles = std::count(far->begin(), far->end(), '\xff');
    EXPECT_GT(singles, 0);
    EXPECT_EQ(std::count(onWire.begin(), onWire.end(), '\xff'), 2 * singles);
}

// ---- the process ----

TEST(SimulatorProcess, ClientsThatVanishDoNotStopIt)
{
    RouterSimProcess sim(SimOptions({"--chunk", "16", "--pause-ms", "1"}));
    for (int i = 0; i < 3; ++i) {
        // Reset in the middle of a reply, and closed without a word.
        TelnetProbe rude, silent;
        ASSERT_TRUE(rude.Connect(sim.Address(), sim.Port()));
        ASSERT_TRUE(LogIn(rude, "1234"));
        rude.Send(FarCommand);
        rude.ReadAtLeast(50);
        rude.Abort();
        ASSERT_TRUE(silent.Connect(sim.Address(), sim.Port()));
        silent.Close();
    }
    TelnetProbe probe;
    ASSERT_TRUE(probe.Connect(sim.Address(), sim.Port()));
    ASSERT_TRUE(LogIn(probe, "1234"));
    const auto decoded = Decode(FetchBoth(probe));
    EXPECT_EQ(decoded, sim.ExpectedTones());
    EXPECT_EQ(::kill(sim.Pid(), 0), 0);
}

TEST(SimulatorProcess, ServesSeveralClientsAtOnce)
{
    RouterSimProcess sim(SimOptions());
    std::vector<std::unique_ptr<TelnetProbe>> probes;
    for (int i = 0; i < 4; ++i) {
        probes.push_back(std::make_unique<TelnetProbe>());
        ASSERT_TRUE(probes.back()->Connect(sim.Address(), sim.Port()));
    }
    for (auto& p : probes)
        ASSERT_TRUE(LogIn(*p, "1234"));
    for (auto& p : probes) {
        p->Send(FarCommand);
        const auto far = p->ReceiveUntil(">");
        ASSERT_TRUE(far);
        EXPECT_EQ(far->substr(117, 14), "tone   0- 31: ");
    }
}

// Runs the simulator to its end with `args`; gives its exit code and output.
std::pair<int, std::string> RunToEnd(std::vector<std::string> args)
{
    args.insert(args.begin(), RouterSimProcess::Path());
    const auto result = support::RunCommand(args, {}, std::chrono::seconds(30));
    return {result.exitCode, result.output};
}

class SimulatorRefusesAddress : public ::testing::TestWithParam<const char*> {};

TEST_P(SimulatorRefusesAddress, WillNotListenOffLoopback)
{
    const auto [code, output] = RunToEnd({"--port", "2323", "--address", GetParam()});
    EXPECT_EQ(code, 2);
    EXPECT_NE(output.find("loopback"), std::string::npos) << output;
    EXPECT_EQ(output.find("listening"), std::string::npos) << output;
}

INSTANTIATE_TEST_SUITE_P(Addresses, SimulatorRefusesAddress,
                         ::testing::Values("0.0.0.0", "192.168.1.1", "10.0.0.1", "128.0.0.1", "::",
                                           "::ffff:127.0.0.1", "localhost", ""));

TEST(SimulatorProcess, ListensOnIpv6Loopback)
{
    RouterSimProcess::Options o;
    o.address = "::1";
    o.port = 2323;
    EXPECT_NO_THROW(RouterSimProcess sim(o));
}

TEST(SimulatorProcess, HelpAndBadOptions)
{
    const auto [helpCode, help] = RunToEnd({"--help"});
    EXPECT_EQ(helpCode, 0);
    EXPECT_NE(help.find("usage: tirvane-router-sim"), std::string::npos);
    EXPECT_EQ(RunToEnd({"--no-such-option"}).first, 2);
    EXPECT_EQ(RunToEnd({"--port", "70000"}).first, 2);
    EXPECT_EQ(RunToEnd({"--drop", "sideways"}).first, 2);
    EXPECT_EQ(RunToEnd({"--chunk"}).first, 2);
}

TEST(SimulatorProcess, AddressInUseIsAnError)
{
    RouterSimProcess first(SimOptions());
    RouterSimProcess::Options same;
    same.address = first.Address();
    EXPECT_THROW(RouterSimProcess second(same), std::runtime_error);
}

class SimulatorStops : public ::testing::TestWithParam<int> {};

TEST_P(SimulatorStops, EndsCleanlyOnSignalEvenWithClientsWaiting)
{
    RouterSimProcess sim(SimOptions({"--stall", "far"}));
    TelnetProbe idle, stalled;
    ASSERT_TRUE(idle.Connect(sim.Address(), sim.Port()));
    ASSERT_TRUE(stalled.Connect(sim.Address(), sim.Port()));
    ASSERT_TRUE(LogIn(stalled, "1234"));
    stalled.Send(FarCommand);
    stalled.ReadAtLeast(100);

    ASSERT_EQ(::kill(sim.Pid(), GetParam()), 0);
    EXPECT_TRUE(idle.WaitForClose());
    EXPECT_TRUE(stalled.WaitForClose());
    EXPECT_EQ(sim.Stop(), 0); // reaps the process, already ending: it exited with 0
}

INSTANTIATE_TEST_SUITE_P(Signals, SimulatorStops, ::testing::Values(SIGTERM, SIGINT));

} // namespace
