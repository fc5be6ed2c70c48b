// One sampling cycle with a Broadcom, Lantiq or DrayTek router: one telnet
// session that logs in through the family's prompts, takes the shell steps
// some models need ("sh" after "ATP>"), sends the family's commands one by
// one, each read up to the command prompt coming back, and leaves only then.
// Terminal escapes are removed, the echo of a command and a redrawn prompt
// are not part of its reply. The ZyXEL dialogue is cycle_dialogue's.
#pragma once

#include "line/cycle_dialogue.h"
#include "line/parsed_line.h"

#include <functional>
#include <string>
#include <vector>

// The text with terminal escape sequences (ESC [ ... letter, ESC and one
// character) taken out.
std::string WithoutEscapes(const std::string& text);

// The prompts a family's login and command line are recognised by; the
// Prompt box's text, when given, is a command prompt too.
struct TPromptSets {
    std::vector<std::string> User, Password, Command;
    std::vector<std::string> Shell; // a CLI that needs "sh" for the commands
};
TPromptSets FamilyPrompts(TRouterFamily family, const std::string& extraPrompt);

// What a reply is once the echo of the command, redrawn prompts before it
// and the prompt after it are taken off.
std::string ReplyBody(const std::string& received, const std::string& command);

struct TFamilyCycle {
    TDialogueOutcome Outcome;
    TFamilyReplies Replies;
    TParsedLine Line; // its Failure also names a dialogue that broke off
};

// The hooks run as in the ZyXEL dialogue: a stop ends the dialogue at once,
// also in the middle of a command's reply, and no command is sent after it.
TFamilyCycle RunFamilyDialogue(const TDialogueRequest& request, TRouterFamily family,
    const TDialogueHooks& hooks = {});
