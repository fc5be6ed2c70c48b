// The cycle's dialogue on its own, without a window, against the router
// simulator on loopback: it decodes what the router served, runs the event
// pump once before the first command and the lamp's hook before the near-end
// decoding, and reports the first step that failed with the socket's error.
// Runs inside a private network namespace (unshare -n) as root: each
// simulator listens on port 23 of an address of its own.
#include "app/cycle_dialogue.h"
#include "support/router_sim_process.h"

#include <gtest/gtest.h>

namespace {

RouterSimProcess::Options SimOn(std::vector<std::string> extra, const std::string& username = {})
{
    RouterSimProcess::Options options;
    options.address = RouterSimProcess::UniqueLoopbackAddress();
    options.username = username;
    options.extraArgs = std::move(extra);
    return options;
}

TDialogueRequest RequestFor(const std::string& address)
{
    TDialogueRequest request;
    request.Host = address;
    request.Password = "1234";
    request.Prompt = ">";
    return request;
}

std::array<int, 513> AsArray(const TToneTable& tones)
{
    std::array<int, 513> out{};
    std::copy(tones.begin(), tones.end(), out.begin());
    return out;
}

TEST(CycleDialogueTest, DecodesWhatTheRouterServed)
{
    const struct {
        const char* name;
        std::vector<std::string> extra;
        std::string username;
    } cases[] = {
        {"password only", {}, ""},
        {"user name first", {}, "admin"},
        {"terminal type asked, a byte a packet", {"--ttype", "--chunk", "1"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RouterSimProcess sim(SimOn(c.extra, c.username));
        TDialogueRequest request = RequestFor(sim.Address());
        request.Username = c.username;
        TCaptureBuffer memo;
        TToneTable tones;
        tones.fill(99);
        int pumped = 0;
        int nearToneWhenOver = -1;
        TDialogueHooks hooks;
        hooks.PumpEvents = [&] {
            ++pumped;
            memo.SetText("left by a cycle run inside this one\r\n");
        };
        hooks.DialogueOver = [&] { nearToneWhenOver = tones[300]; };

        const TDialogueOutcome outcome = RunCycleDialogue(request, memo, tones, hooks);
        EXPECT_TRUE(outcome.Completed) << DialogueStepText(outcome.Step) << ": " << outcome.ErrorText;
        EXPECT_EQ(outcome.Step, TDialogueStep::Done);
        EXPECT_EQ(outcome.ErrorCode, 0);
        EXPECT_EQ(pumped, 1);
        EXPECT_EQ(nearToneWhenOver, 99); // the near-end decoding comes after the hook
        std::array<int, 513> expected = sim.ExpectedTones();
        expected[0] = 99; // never written
        EXPECT_EQ(AsArray(tones), expected);
    }
}

TEST(CycleDialogueTest, ReportsTheStepWhereItBrokeOff)
{
    const struct {
        const char* name;
        bool simulator;
        std::vector<std::string> extra;
        std::string username;
        std::string prompt;
        TDialogueStep step;
        int code;
        const char* text;
    } cases[] = {
        {"refused connection", false, {}, "", ">", TDialogueStep::Connect, 10061, "Connection refused"},
        {"wrong password", true, {"--wrong-password"}, "", ">", TDialogueStep::CommandPrompt, 10060,
            "Connection timed out"},
        {"no user name asked", true, {}, "admin", ">", TDialogueStep::UserPrompt, 10060, "Connection timed out"},
        {"far reply cut short", true, {"--drop", "far"}, "", ">", TDialogueStep::FarReply, 10054,
            "Connection reset by peer"},
        {"near reply cut short", true, {"--drop", "near"}, "", ">", TDialogueStep::NearReply, 10054,
            "Connection reset by peer"},
        {"empty prompt", true, {}, "", "", TDialogueStep::CommandPrompt, 0, "No prompt to wait for"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string address = RouterSimProcess::UniqueLoopbackAddress();
        std::optional<RouterSimProcess> sim;
        if (c.simulator) {
            RouterSimProcess::Options options = SimOn(c.extra);
            options.address = address;
            sim.emplace(options);
        }
        TDialogueRequest request = RequestFor(address);
        request.Username = c.username;
        request.Prompt = c.prompt;
        TCaptureBuffer memo;
        TToneTable tones{};
        bool over = false;
        TDialogueHooks hooks;
        hooks.DialogueOver = [&] { over = true; };

        const TDialogueOutcome outcome = RunCycleDialogue(request, memo, tones, hooks);
        EXPECT_FALSE(outcome.Completed);
        EXPECT_EQ(DialogueStepText(outcome.Step), std::string(DialogueStepText(c.step)));
        EXPECT_EQ(outcome.ErrorCode, c.code);
        EXPECT_EQ(outcome.ErrorText, c.text);
        EXPECT_TRUE(over); // the cycle goes on to its end whatever broke
    }
}

} // namespace
