// How the router's words after a login step are told apart (a second
// password prompt, a refusal, a question for a user name): the dialogue uses
// it to end a refused login at once instead of at its time-out, and the
// failure sentences to name what the router said. No Qt.
#pragma once

#include "line/dialogue_step.h"

#include <string_view>

// What the router's text says about the login it was answering.
enum class TLoginAnswer {
    None,            // nothing that tells: go on waiting
    UserNameAsked,   // "Username:" while the password was awaited
    PasswordAsked,   // "Password:" while a user name was awaited
    PasswordRefused, // a second password prompt, or the router's words for a refusal
};

// Looks at text the router sent while the dialogue waited for the password
// prompt (PasswordPrompt), for the user name prompt (UserPrompt) or, after
// the password, for the command prompt (CommandPrompt). Case does not matter.
TLoginAnswer ReadLoginAnswer(TDialogueStep step, std::string_view text);
