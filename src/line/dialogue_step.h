// The steps of a sampling cycle's dialogue with the router, in the order they
// run, and the words each is named by in messages. Shared by the dialogues,
// the reading of the router's login answers and the failure sentences.
#pragma once

// Where a dialogue stands, in the order its steps run.
enum class TDialogueStep {
    Connect,        // the second login, whose connection the dialogue uses
    UserPrompt,     // waiting for "name:"
    SendUser,
    PasswordPrompt, // waiting for "word:"
    SendPassword,
    CommandPrompt,  // waiting for the prompt after the password
    FarCommand,
    FarReply,
    NearCommand,
    NearReply,
    Done,
};

// What a step was doing, for messages: "connecting", "waiting for the prompt".
const char* DialogueStepText(TDialogueStep step);
