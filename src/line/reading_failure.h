// Why a reading did not complete, in words a user can act on. The window
// writes the text on its chart and in its lamp's tooltip, tirvane-read in its
// error lines; both hand over the dialogue's outcome and what they asked for.
// No widgets: Qt is not needed at all.
#pragma once

#include "line/cycle_dialogue.h"
#include "line/login_answer.h"

#include <chrono>
#include <string>
#include <string_view>

// What a reason is about, for tests and for the reader's exit paths.
enum class TFailureCause {
    None,            // the reading completed
    Stopped,         // the user ended it
    EmptyHost,
    UnknownHost,
    NothingAnswers,  // the connection was refused
    Unreachable,
    NoAnswer,        // the cycle's deadline passed (or a connect that never finished)
    UserNameAsked,
    NoUserNameAsked,
    NoPasswordPrompt,
    PasswordRefused,
    LoginClosed,     // the router hung up after the password
    EmptyPrompt,
    PromptNotSeen,
    ReplyCutBeforeUpstream,
    ReplyCutAfterUpstream,
    ReplyWithoutEnd,
    ConnectionBroken,
    LineDown,        // the router answered: the line is not in showtime
    NotUnderstood,   // the router answered with replies no parser could read
};

struct TReadingFailure {
    TFailureCause Cause = TFailureCause::None;
    std::string Text; // empty when the reading completed
};

// The reason for an outcome of a dialogue asked of host:port with a deadline
// of `deadline` (for the "within N s" of a reading that ran out of time).
TReadingFailure DescribeReadingFailure(const TDialogueOutcome& outcome, const std::string& host,
    const std::string& port, std::chrono::milliseconds deadline);
