#include "line/dialogue_step.h"

const char* DialogueStepText(TDialogueStep step)
{
    switch (step) {
    case TDialogueStep::Connect: return "connecting";
    case TDialogueStep::UserPrompt: return "waiting for \"name:\"";
    case TDialogueStep::SendUser: return "sending the user name";
    case TDialogueStep::PasswordPrompt: return "waiting for \"word:\"";
    case TDialogueStep::SendPassword: return "sending the password";
    case TDialogueStep::CommandPrompt: return "waiting for the prompt";
    case TDialogueStep::FarCommand: return "sending \"wan adsl linedata far\"";
    case TDialogueStep::FarReply: return "reading the far-end line data";
    case TDialogueStep::NearCommand: return "sending \"wan adsl linedata near\"";
    case TDialogueStep::NearReply: return "reading the near-end line data";
    case TDialogueStep::Done: return "done";
    }
    return "";
}
