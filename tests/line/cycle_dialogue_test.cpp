// The cycle's dialogue on its own against the router simulator on loopback
// (in a private network namespace, as root): what it decodes, where its
// hooks run, and the step and socket error it reports when it breaks off.
#include "line/cycle_dialogue.h"
#include "support/router_sim_process.h"
#include "telnet/socket_errors.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

RouterSimProcess::Options SimOn(const std::string& address, std::vector<std::string> extra, const std::string& user = {})
{
    RouterSimProcess::Options options;
    options.address = address;
    options.username = user;
    options.extraArgs = std::move(extra);
    return options;
}

TDialogueRequest Request(const std::string& host, const std::string& user, const std::string& prompt = ">")
{
    TDialogueRequest request;
    request.Host = host;
    request.Username = user;
    request.Password = "1234";
    request.Prompt = prompt;
    return request;
}

TEST(CycleDialogueTest, DecodesWhatTheRouterServed)
{
    for (const auto& [user, extra] : {std::pair<std::string, std::vector<std::string>>{"", {}}, {"admin", {}},
             {"", {"--ttype", "--chunk", "1"}}}) {
        RouterSimProcess sim(SimOn(RouterSimProcess::UniqueLoopbackAddress(), extra, user));
        TCaptureBuffer memo;
        TZyxelToneTable tones;
        tones.fill(99);
        int pumped = 0, nearWhenOver = -1;
        TDialogueHooks hooks;
        // A cycle run at the catch-up point leaves its text in the shared buffer.
        hooks.PumpEvents = [&] { memo.SetText("left by a nested cycle\r\n"), ++pumped; };
        hooks.DialogueOver = [&] { nearWhenOver = tones[300]; };
        const TDialogueOutcome outcome = RunCycleDialogue(Request(sim.Address(), user), memo, tones, hooks);
        EXPECT_TRUE(outcome.Completed) << DialogueStepText(outcome.Step) << ": " << outcome.ErrorText;
        EXPECT_EQ(outcome.Step, TDialogueStep::Done);
        EXPECT_EQ(pumped, 1);
        EXPECT_EQ(nearWhenOver, 99); // the near-end decoding comes after the hook
        std::array<int, 513> expected = sim.ExpectedTones();
        expected[0] = 99; // never written
        EXPECT_TRUE(std::equal(tones.begin(), tones.end(), expected.begin())) << user;
    }
}

TEST(CycleDialogueTest, ReportsTheStepWhereItBrokeOff)
{
    const struct {
        bool simulator;
        std::vector<std::string> extra;
        std::string user, prompt;
        TDialogueStep step;
        int code;
        const char* text;
    } cases[] = {
        {false, {}, "", ">", TDialogueStep::Connect, ErrRefused, "Connection refused"},
        // Told from the second password prompt, not from the time-out after it.
        {true, {"--wrong-password"}, "", ">", TDialogueStep::CommandPrompt, 0, "The router asked for the password again"},
        {true, {}, "admin", ">", TDialogueStep::UserPrompt, ErrTimedOut, "Connection timed out"}, // no name asked
        {true, {"--drop", "far"}, "", ">", TDialogueStep::FarReply, ErrConnReset, "Connection reset by peer"},
        {true, {"--drop", "near"}, "", ">", TDialogueStep::NearReply, ErrConnReset, "Connection reset by peer"},
        {true, {}, "", "", TDialogueStep::CommandPrompt, 0, "No prompt to wait for"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text + std::string(" ") + DialogueStepText(c.step));
        const std::string address = RouterSimProcess::UniqueLoopbackAddress();
        std::optional<RouterSimProcess> sim;
        if (c.simulator)
            sim.emplace(SimOn(address, c.extra));
        TCaptureBuffer memo;
        TZyxelToneTable tones{};
        bool over = false;
        const TDialogueOutcome outcome
            = RunCycleDialogue(Request(address, c.user, c.prompt), memo, tones, {nullptr, [&] { over = true; }, nullptr});
        EXPECT_FALSE(outcome.Completed);
        EXPECT_EQ(outcome.Step, c.step);
        EXPECT_EQ(outcome.ErrorCode, c.code);
        EXPECT_EQ(outcome.ErrorText, c.text);
        EXPECT_TRUE(over); // the cycle goes on to its end whatever broke
    }
}

} // namespace
