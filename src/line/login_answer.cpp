#include "line/login_answer.h"

#include <algorithm>
#include <cctype>

namespace {

bool Contains(std::string_view text, std::string_view word)
{
    const auto lower = [](char c) { return char(std::tolower(static_cast<unsigned char>(c))); };
    return std::search(text.begin(), text.end(), word.begin(), word.end(),
               [&](char a, char b) { return lower(a) == lower(b); })
        != text.end();
}

// How routers say no to a login, beside asking for the password again.
constexpr std::string_view RefusalWords[] = {"incorrect", "invalid", "denied", "fail", "wrong", "bad password",
    "not accepted"};

} // namespace

TLoginAnswer ReadLoginAnswer(TDialogueStep step, std::string_view text)
{
    switch (step) {
    case TDialogueStep::UserPrompt:
        // A router without user names asks for the password straight away.
        return Contains(text, "word:") ? TLoginAnswer::PasswordAsked : TLoginAnswer::None;
    case TDialogueStep::PasswordPrompt:
        return Contains(text, "name:") ? TLoginAnswer::UserNameAsked : TLoginAnswer::None;
    case TDialogueStep::CommandPrompt:
        // After the password only the prompt should come; the password
        // prompt again, or a login prompt again, means it was not taken.
        if (Contains(text, "word:") || Contains(text, "login:") || Contains(text, "name:"))
            return TLoginAnswer::PasswordRefused;
        for (std::string_view word : RefusalWords)
            if (Contains(text, word))
                return TLoginAnswer::PasswordRefused;
        return TLoginAnswer::None;
    default:
        return TLoginAnswer::None;
    }
}
