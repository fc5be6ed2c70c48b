#include "line/reading_failure.h"

#include "telnet/socket_errors.h"

namespace {

std::string Seconds(std::chrono::milliseconds span)
{
    return std::to_string((span.count() + 999) / 1000) + " s";
}

} // namespace

TReadingFailure DescribeReadingFailure(const TDialogueOutcome& outcome, const std::string& host,
    const std::string& port, std::chrono::milliseconds deadline)
{
    using C = TFailureCause;
    const auto is = [&](C cause, std::string text) { return TReadingFailure{cause, std::move(text)}; };
    if (outcome.Completed)
        return {};
    if (outcome.Stopped)
        return is(C::Stopped, "Stopped before the reading was complete");
    const int code = outcome.ErrorCode;
    const std::string at = host + " port " + port;
    if (host.empty())
        return is(C::EmptyHost, "Host is empty: type the router's address in Host");

    switch (outcome.Step) {
    case TDialogueStep::Connect:
        if (code == ErrRefused)
            return is(C::NothingAnswers, "Nothing answers at " + at);
        if (code >= ErrHostNotFound && code <= ErrNoData)
            return is(C::UnknownHost, "No address is known for " + host + ": check Host");
        if (code == ErrNetworkUnreachable || code == ErrHostUnreachable)
            return is(C::Unreachable, host + " cannot be reached from this computer: check Host and the network");
        if (outcome.DeadlinePassed || code == ErrTimedOut)
            return is(C::NoAnswer, "No answer within " + Seconds(deadline));
        return is(C::ConnectionBroken, "Could not connect to " + at + ": " + outcome.ErrorText);
    case TDialogueStep::UserPrompt:
        if (ReadLoginAnswer(TDialogueStep::UserPrompt, outcome.Heard) == TLoginAnswer::PasswordAsked)
            return is(C::NoUserNameAsked, "The router asked for no user name: empty Username");
        break;
    // The dialogue reads the router's answer after these two steps itself,
    // from the text of the step alone (what was heard before holds the
    // prompts already answered).
    case TDialogueStep::PasswordPrompt:
        if (outcome.LoginAnswered)
            return is(C::UserNameAsked, "The router asked for a user name: fill in Username");
        break;
    case TDialogueStep::CommandPrompt:
        if (outcome.LoginAnswered)
            return is(C::PasswordRefused, "The router did not accept the password");
        if (code == 0)
            return is(C::EmptyPrompt, "Prompt is empty: type the router's prompt (such as >) in Prompt");
        if (code == ErrConnReset || code == ErrConnAborted) {
            if (!outcome.DeadlinePassed)
                return is(C::LoginClosed, "The router ended the login after the password: check Username and Password");
        }
        break;
    case TDialogueStep::FarReply:
    case TDialogueStep::NearReply:
        if (code == ErrNoBuffers)
            return is(C::ReplyWithoutEnd, "The reply never reached the prompt: check Prompt");
        if (outcome.Step == TDialogueStep::FarReply)
            return is(C::ReplyCutBeforeUpstream, "The reply stopped before the upstream tones");
        return is(C::ReplyCutAfterUpstream, "The reply stopped after the upstream tones");
    default:
        break;
    }

    // Login steps the router did not answer in the way that tells.
    if (outcome.DeadlinePassed)
        return is(C::NoAnswer, "No answer within " + Seconds(deadline));
    if (code == ErrConnReset || code == ErrConnAborted)
        return is(C::ConnectionBroken, "The router closed the connection while " + std::string(DialogueStepText(outcome.Step)));
    if (outcome.Step == TDialogueStep::CommandPrompt)
        return is(C::PromptNotSeen, "The router's prompt did not come: check Prompt");
    if (outcome.Step == TDialogueStep::UserPrompt || outcome.Step == TDialogueStep::PasswordPrompt)
        return is(C::NoPasswordPrompt, "The router did not ask for the login: no answer while "
                + std::string(DialogueStepText(outcome.Step)));
    return is(C::ConnectionBroken, "The connection broke while " + std::string(DialogueStepText(outcome.Step)));
}
