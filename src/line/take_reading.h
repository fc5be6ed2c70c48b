// One reading of the line, whatever the router's family: the window and
// tirvane-read both ask here and never tell the families apart themselves.
// The ZyXEL's dialogue runs on the caller's capture buffer and tone table
// when it passes them in (the window's, shared with a cycle started inside
// another), so its bytes on the wire stay as designed; the other families
// run their session of commands and parse the replies. Either way the
// result is one TReading with its outcome and, when it is not a complete
// reading, one sentence saying why, chosen in one place. No widgets.
#pragma once

#include "line/capture_buffer.h"
#include "line/cycle_dialogue.h"
#include "line/line_data.h"
#include "line/reading.h"
#include "line/reading_failure.h"
#include "line/router_family.h"

#include <QString>

#include <chrono>
#include <optional>

// How the boxes' text becomes bytes on the wire: the window sends Latin-1
// as it always has, tirvane-read the UTF-8 of its command line and files.
enum class TWireText { Latin1, Utf8 };

// The prompt the ZyXEL prints; for the other families it means "their own
// prompts only", and any other text is one more command prompt of theirs.
inline constexpr char ZyxelPrompt[] = ">";

struct TReadingRequest {
    QString Host; // as typed: the reading keeps it; empty: a failure the history does not keep
    int Port = 23;
    QString User;
    QString Password;
    QString Prompt = QString::fromLatin1(ZyxelPrompt);
    TWireText Text = TWireText::Utf8;
    TRouterFamily Family = TRouterFamily::Zyxel;
    // The line's figures and counters are read too (commands the families
    // send only then).
    bool ReadFigures = false;
    // Every blocking step ends by then at the latest; DeadlineSpan is the
    // "within N s" a reading that ran out of time names.
    std::optional<std::chrono::steady_clock::time_point> Deadline;
    std::chrono::milliseconds DeadlineSpan = CycleDeadline;
    // The ZyXEL's buffer and table; none: the reading uses its own.
    TCaptureBuffer* Capture = nullptr;
    TZyxelToneTable* Tones = nullptr;
    // This host's last reading: while the line has not retrained since, QLN
    // and Hlog (measured at training) are not asked for again but carried
    // over from it. None: they are read.
    const TReading* Previous = nullptr;
};

struct TTakenReading {
    TReading Reading;        // TimeMs is when the reading ended
    TReadingFailure Failure; // Cause None for a complete reading; Text in UTF-8
    int ErrorCode = 0;       // the socket's code when the dialogue broke off

    bool Complete() const { return Failure.Cause == TFailureCause::None; }
    // Readings the history keeps: not one the user stopped, nor one of no host.
    bool Recordable() const
    {
        return Failure.Cause != TFailureCause::Stopped && Failure.Cause != TFailureCause::EmptyHost;
    }
    QString FailureText() const { return QString::fromUtf8(Failure.Text.c_str()); }
};

// Whether QLN and Hlog are to be read: the line (re)trained since the
// previous reading, or that reading has none to carry over.
bool TrainingToRead(const TReading* previous);

// Runs one cycle through the hooks and makes the reading of it. Errors
// raised while the ZyXEL's session is made or its replies decoded reach the
// caller, as they always have.
TTakenReading TakeReading(const TReadingRequest& request, const TDialogueHooks& hooks = {});
