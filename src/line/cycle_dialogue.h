// The dialogue of one sampling cycle, shared by the window and tirvane-read:
// make the telnet session, log in twice, answer the user name and password
// prompts, wait for the command prompt, fetch the far-end and near-end line
// data into the capture buffer and decode both into the tone table.
//
// Network failures never raise, as in the window's cycle: every step runs
// whatever the one before it gave, and the dialogue ends on whatever text
// arrived. What the window never shows is reported here: whether every step
// went through, and if not, the first one that did not, with the socket's
// error. No widgets: the window's part is its hooks (the event pump before
// the first command, the heartbeat that keeps it answering and can stop the
// dialogue, the hook that turns its lamp green).
#pragma once

#include "line/capture_buffer.h"
#include "line/dialogue_step.h"
#include "line/line_data.h"
#include "line/line_figures.h"

#include <array>
#include <vector>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Every wait of a cycle gives up after this long without a packet.
constexpr int CycleTimeout = 2000;
// However the router behaves, a window's sampling cycle ends this long after
// it began: every blocking step of its dialogue ends at this deadline at the
// latest, so the window never stays frozen for longer.
inline constexpr std::chrono::milliseconds CycleDeadline{15000};
// A reply that never reaches the prompt stops being collected here instead of
// growing without limit; the receive then fails and the cycle goes on.
constexpr int CycleMaxReplyLength = 1 << 20;
// The marker line put in front of each reply; the decoding counts it in.
constexpr char CaptureMarker[] = "xdsl debug bitloadinginfo";

// What the cycle reads from its boxes, as bytes on the wire.
struct TDialogueRequest {
    std::string Host;
    std::string Port = "23";
    std::string Username; // empty: no "name:" is waited for
    std::string Password;
    std::string Prompt;
    int Timeout = CycleTimeout;
    int MaxReplyLength = CycleMaxReplyLength;
    // Every blocking step (connect, send, each wait, each close) ends by
    // then at the latest; a step cut short fails as any other would. None:
    // the steps are bounded only as the telnet session bounds them.
    std::optional<std::chrono::steady_clock::time_point> Deadline;
    // Commands marked TCommandWhen::Figures are sent only when this is on
    // (and the ZyXEL's extra figure commands after its two designed ones).
    bool ReadFigures = false;
    // Commands marked TCommandWhen::Training are sent only when this is on:
    // the caller turns it off while the line has not retrained since it last
    // read QLN and Hlog.
    bool ReadTraining = true;
};

struct TDialogueHooks {
    // Runs every pending event before the first command (a caller without
    // a heartbeat catches up there); unset, nothing is run.
    std::function<void()> PumpEvents;
    // Runs between the end of the dialogue and the near-end decoding.
    std::function<void()> DialogueOver;
    // Runs at every beat of the socket (about every 25 ms) while a step
    // waits, so the window can handle its events meanwhile; true ends the
    // dialogue at once, through the socket's stop flag.
    std::function<bool()> Heartbeat;
};

struct TDialogueOutcome {
    bool Completed = false;
    TDialogueStep Step = TDialogueStep::Connect; // the first step that failed; Done when completed
    int ErrorCode = 0;      // the socket's code (Winsock numbering), -1 for an error raised
    std::string ErrorText;  // the socket's text, or the raised error's
    bool Stopped = false;        // ended by the Heartbeat hook
    bool DeadlinePassed = false; // the first failure came at or after the deadline
    std::string Heard;           // the last data bytes of the connection when it failed
    bool LoginAnswered = false;  // the failure is the router's answer to the login (see reading_failure.h)
    // What the replies said of the line besides its bits: margin, attenuation
    // and power from the heads of the two line-data replies, and with
    // ReadFigures the counters, rates and state of the commands after them.
    TLineFigures Figures;
};

// The ZyXEL commands that give its counters, rates and state, sent after the
// two line-data commands when the figures are asked for.
inline constexpr const char* ZyxelFigureCommands[] = {"wan adsl perfdata", "wan adsl chandata", "wan adsl status"};

// The tone table as a reading keeps it: one byte a tone, values outside
// 0 to 255 (which no decoding produces) held at the nearer end.
std::vector<std::uint8_t> ToneBits(const TZyxelToneTable& tones);

// One dialogue: the capture buffer and the tone table are the cycle's shared
// ones. Errors raised while the session is made, at the first login or in
// the decoding reach the caller; errors inside the dialogue end it quietly
// and are reported in the outcome.
TDialogueOutcome RunCycleDialogue(const TDialogueRequest& request, TCaptureBuffer& memo, TZyxelToneTable& tones,
    const TDialogueHooks& hooks = {});
