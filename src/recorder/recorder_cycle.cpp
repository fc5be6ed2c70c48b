#include "recorder/recorder_cycle.h"

#include "line/cycle_dialogue.h"
#include "line/family_dialogue.h"
#include "line/reading_failure.h"
#include "recorder/login_backoff.h"

#include <QDateTime>

namespace {

// What the history says of a cycle that did not complete: only the router's
// own answer says anything about the line.
TReadingOutcome FailedOutcome(TFailureCause cause, const TDialogueOutcome& outcome)
{
    const bool answered = outcome.LoginAnswered || outcome.Step > TDialogueStep::Connect;
    if (outcome.LoginAnswered || IsRefusedLogin(cause))
        return TReadingOutcome::LoginRefused;
    switch (cause) {
    case TFailureCause::None: return TReadingOutcome::LineUp;
    case TFailureCause::EmptyHost:
    case TFailureCause::UnknownHost:
    case TFailureCause::NothingAnswers:
    case TFailureCause::Unreachable:
    case TFailureCause::NoAnswer:
    case TFailureCause::Stopped: return TReadingOutcome::NoAnswer;
    default: return answered ? TReadingOutcome::NotUnderstood : TReadingOutcome::NoAnswer;
    }
}

} // namespace

TRecorderReading TakeRecorderReading(const TRecorderLine& line, std::chrono::milliseconds deadline)
{
    TDialogueRequest request;
    request.Host = line.Host.toStdString();
    request.Port = std::to_string(line.Port);
    request.Username = line.Username.toStdString();
    request.Password = line.Password.toStdString();
    request.Prompt = line.Prompt.toStdString();
    request.ReadFigures = line.Figures;
    request.Deadline = std::chrono::steady_clock::now() + deadline;

    TRecorderReading result;
    TReading& reading = result.Reading;
    reading = ZyxelReading();
    TReadingFailure failure;
    if (line.Router == TRouterFamily::Zyxel) {
        TCaptureBuffer memo;
        TToneTable tones{};
        const TDialogueOutcome outcome = RunCycleDialogue(request, memo, tones);
        reading.Completed = outcome.Completed;
        reading.Bits = ToneBits(tones);
        failure = DescribeReadingFailure(outcome, request.Host, request.Port, deadline);
        result.Failure = QString::fromStdString(failure.Text);
        reading.Outcome = FailedOutcome(failure.Cause, outcome);
    } else {
        // The default prompt is the ZyXEL's; any other is one more command prompt.
        if (line.Prompt == TRecorderLine().Prompt)
            request.Prompt.clear();
        const TFamilyCycle cycle = RunFamilyDialogue(request, line.Router);
        reading.Router = RouterFamilyName(line.Router);
        reading.Mode = cycle.Line.Mode;
        reading.Completed = cycle.Line.Ok();
        reading.Bits = cycle.Line.Bits;
        reading.Figures = cycle.Line.Figures;
        failure = DescribeReadingFailure(cycle.Outcome, request.Host, request.Port, deadline);
        if (reading.Completed) {
            reading.SpacingKHz = cycle.Line.SpacingKHz;
            reading.Bands = cycle.Line.Bands;
            reading.Outcome = TReadingOutcome::LineUp;
        } else {
            reading.Bands = {};
            result.Failure = cycle.Outcome.Completed || cycle.Outcome.LoginAnswered
                ? cycle.Line.Failure
                : QString::fromStdString(failure.Text);
            reading.Outcome = cycle.Outcome.Completed ? TReadingOutcome::LineDown
                                                      : FailedOutcome(failure.Cause, cycle.Outcome);
        }
    }
    result.LoginRefused = reading.Outcome == TReadingOutcome::LoginRefused;
    reading.TimeMs = QDateTime::currentMSecsSinceEpoch();
    reading.Host = line.Host;
    return result;
}
