// The words a failed reading is shown with, against the router simulator's
// faults on loopback (in a private network namespace, as root): each fault
// gives the reason a user can act on, and a refused password is told from
// what the router sends back without waiting out the time-out. (A stop
// through the heartbeat is checked where the window asks for it.)
#include "line/reading_failure.h"
#include "support/router_sim_process.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using namespace std::chrono_literals;

struct TFaultCase {
    const char* name;
    bool simulator; // false: nothing listens at the address
    std::vector<std::string> args;
    std::string simUser, typedUser, prompt;
    std::chrono::milliseconds deadline;
    TFailureCause cause;
    std::string text; // "@": the address the case uses
    std::chrono::milliseconds within; // the dialogue's whole run takes less
};

std::string WithAddress(std::string text, const std::string& address)
{
    if (const auto at = text.find('@'); at != std::string::npos)
        text.replace(at, 1, address);
    return text;
}

TEST(ReadingFailureTest, EachRouterFaultIsNamedInWords)
{
    const TFaultCase cases[] = {
        {"a router that answers", true, {}, "", "", ">", 15s, TFailureCause::None, "", 5s},
        {"nothing listening", false, {}, "", "", ">", 15s, TFailureCause::NothingAnswers,
            "Nothing answers at @ port 23", 1s},
        {"wrong password", true, {"--wrong-password"}, "", "", ">", 15s, TFailureCause::PasswordRefused,
            "The router did not accept the password", 1500ms}, // before the 2 s wait would end
        {"login refused", true, {"--refuse-login"}, "", "", ">", 15s, TFailureCause::LoginClosed,
            "The router ended the login after the password: check Username and Password", 1500ms},
        {"a user name asked, none typed", true, {}, "admin", "", ">", 15s, TFailureCause::UserNameAsked,
            "The router asked for a user name: fill in Username", 1500ms},
        {"a user name typed, none asked", true, {}, "", "admin", ">", 15s, TFailureCause::NoUserNameAsked,
            "The router asked for no user name: empty Username", 4s},
        {"a prompt that never comes", true, {}, "", "", "#", 15s, TFailureCause::PromptNotSeen,
            "The router's prompt did not come: check Prompt", 9s},
        {"an empty prompt", true, {}, "", "", "", 15s, TFailureCause::EmptyPrompt,
            "Prompt is empty: type the router's prompt (such as >) in Prompt", 3s},
        {"dropped in the far reply", true, {"--drop", "far"}, "", "", ">", 15s,
            TFailureCause::ReplyCutBeforeUpstream, "The reply stopped before the upstream tones", 3s},
        {"dropped in the near reply", true, {"--drop", "near"}, "", "", ">", 15s,
            TFailureCause::ReplyCutAfterUpstream, "The reply stopped after the upstream tones", 3s},
        {"near reply stalls", true, {"--stall", "near"}, "", "", ">", 15s,
            TFailureCause::ReplyCutAfterUpstream, "The reply stopped after the upstream tones", 5s},
        {"near reply trickles", true, {"--trickle", "near", "--trickle-ms", "100"}, "", "", ">", 3s,
            TFailureCause::ReplyCutAfterUpstream, "The reply stopped after the upstream tones", 4s},
        {"no answer to the connection", true, {"--full-queue"}, "", "", ">", 2s, TFailureCause::NoAnswer,
            "No answer within 2 s", 3s},
    };
    for (const TFaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string address = RouterSimProcess::UniqueLoopbackAddress();
        std::optional<RouterSimProcess> sim;
        if (c.simulator)
            sim.emplace(RouterSimProcess::Options{address, 23, "1234", c.simUser, false, 1, c.args});
        TDialogueRequest request;
        request.Host = address;
        request.Username = c.typedUser;
        request.Password = "1234";
        request.Prompt = c.prompt;
        const auto start = std::chrono::steady_clock::now();
        request.Deadline = start + c.deadline;
        TCaptureBuffer memo;
        TZyxelToneTable tones{};
        const TDialogueOutcome outcome = RunCycleDialogue(request, memo, tones);
        EXPECT_LT(std::chrono::steady_clock::now() - start, c.within);
        const TReadingFailure failure = DescribeReadingFailure(outcome, address, "23", c.deadline);
        EXPECT_EQ(failure.Cause, c.cause) << DialogueStepText(outcome.Step) << ": " << outcome.ErrorText;
        EXPECT_EQ(failure.Text, WithAddress(c.text, address));
    }
}

TEST(ReadingFailureTest, TheRoutersWordsAfterALoginStep)
{
    const struct {
        TDialogueStep step;
        const char* text;
        TLoginAnswer answer;
    } cases[] = {
        {TDialogueStep::CommandPrompt, "****\r\nPassword: ", TLoginAnswer::PasswordRefused},
        {TDialogueStep::CommandPrompt, "\r\nLogin incorrect\r\n", TLoginAnswer::PasswordRefused},
        {TDialogueStep::CommandPrompt, "\r\nACCESS DENIED", TLoginAnswer::PasswordRefused},
        {TDialogueStep::CommandPrompt, "\r\nlogin: ", TLoginAnswer::PasswordRefused},
        {TDialogueStep::CommandPrompt, "****\r\n\r\nCopyright (c) 1994 - 2006 ZyXEL\r\n", TLoginAnswer::None},
        {TDialogueStep::PasswordPrompt, "\r\nUsername: ", TLoginAnswer::UserNameAsked},
        {TDialogueStep::PasswordPrompt, "\r\nWelcome\r\n", TLoginAnswer::None},
        {TDialogueStep::UserPrompt, "Password: ", TLoginAnswer::PasswordAsked},
        // The far reply may hold any words: they are data, not an answer.
        {TDialogueStep::FarReply, "invalid command\r\nPassword: ", TLoginAnswer::None},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadLoginAnswer(c.step, c.text), c.answer) << DialogueStepText(c.step) << ": " << c.text;
}

} // namespace
