#include "line/take_reading.h"

#include "line/counter_counts.h"
#include "line/family_dialogue.h"

#include <QDateTime>

namespace {

std::string WireBytes(const QString& text, TWireText encoding)
{
    const QByteArray bytes = encoding == TWireText::Latin1 ? text.toLatin1() : text.toUtf8();
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

// What the history makes of each reason a reading did not complete: only a
// line down is an outage of the line; a router that did not answer, or
// refused the login, says nothing of it.
TReadingOutcome OutcomeOf(TFailureCause cause)
{
    using C = TFailureCause;
    switch (cause) {
    case C::None:
        return TReadingOutcome::LineUp;
    case C::LineDown:
        return TReadingOutcome::LineDown;
    case C::UserNameAsked:
    case C::NoUserNameAsked:
    case C::PasswordRefused:
    case C::LoginClosed:
        return TReadingOutcome::LoginRefused;
    case C::EmptyPrompt:
    case C::PromptNotSeen:
    case C::ReplyWithoutEnd:
    case C::NotUnderstood:
        return TReadingOutcome::NotUnderstood;
    case C::UnknownHost:
    case C::NothingAnswers:
    case C::Unreachable:
    case C::NoAnswer:
    case C::NoPasswordPrompt:
    case C::ReplyCutBeforeUpstream:
    case C::ReplyCutAfterUpstream:
    case C::ConnectionBroken:
        return TReadingOutcome::NoAnswer;
    case C::Stopped:
    case C::EmptyHost:
        break;
    }
    return TReadingOutcome::Unknown;
}

// The one place a reading's failure is chosen: the dialogue's own account
// when it broke off, the parser's when the replies came whole (and when the
// router's answer to another family's login was the failure, in its words).
TReadingFailure FailureOf(const TDialogueOutcome& outcome, const TParsedLine* line, const TDialogueRequest& wire,
    std::chrono::milliseconds deadlineSpan)
{
    if (line && (outcome.Completed || (outcome.LoginAnswered && !outcome.Stopped))) {
        if (line->Ok())
            return {};
        const TFailureCause cause = !outcome.Completed ? TFailureCause::PasswordRefused
            : line->LineDown                           ? TFailureCause::LineDown
                                                       : TFailureCause::NotUnderstood;
        return {cause, line->Failure.toStdString()};
    }
    return DescribeReadingFailure(outcome, wire.Host, wire.Port, deadlineSpan);
}

} // namespace

bool TrainingToRead(const TReading* previous)
{
    if (!previous || previous->Outcome != TReadingOutcome::LineUp)
        return true;
    return previous->Spectra.Qln.Empty() && previous->Spectra.Hlog.Empty();
}

TTakenReading TakeReading(const TReadingRequest& request, const TDialogueHooks& hooks)
{
    TTakenReading taken;
    TReading& reading = taken.Reading;
    reading.Host = request.Host;
    reading.Router = RouterFamilyName(request.Family);

    TDialogueRequest wire;
    wire.Host = WireBytes(request.Host, request.Text);
    wire.Port = std::to_string(request.Port);
    wire.Username = WireBytes(request.User, request.Text);
    wire.Password = WireBytes(request.Password, request.Text);
    wire.Prompt = WireBytes(request.Prompt, request.Text);
    wire.Deadline = request.Deadline;
    wire.ReadFigures = request.ReadFigures;
    wire.ReadTraining = TrainingToRead(request.Previous);

    TDialogueOutcome outcome;
    if (request.Family == TRouterFamily::Zyxel) {
        TCaptureBuffer ownCapture;
        TZyxelToneTable ownTones{};
        TZyxelToneTable& tones = request.Tones ? *request.Tones : ownTones;
        outcome = RunCycleDialogue(wire, request.Capture ? *request.Capture : ownCapture, tones, hooks);
        reading.Bits = ToneBits(tones);
        reading.Figures = outcome.Figures;
        taken.Failure = FailureOf(outcome, nullptr, wire, request.DeadlineSpan);
    } else {
        // The ZyXEL's prompt means the family's own prompts.
        if (request.Prompt == QLatin1String(ZyxelPrompt))
            wire.Prompt.clear();
        const TFamilyCycle cycle = RunFamilyDialogue(wire, request.Family, hooks);
        outcome = cycle.Outcome;
        const TParsedLine& line = cycle.Line;
        reading.Mode = line.Mode;
        reading.Figures = line.Figures;
        reading.Spectra = line.Spectra;
        // A line that is no reading has no tones to show, not zero bars.
        reading.Bits = line.Bits;
        reading.Bands = {};
        if (line.Ok()) {
            reading.SpacingKHz = line.SpacingKHz;
            reading.Bands = line.Bands;
        }
        if (reading.Figures.State.isEmpty())
            reading.Figures.State = line.State;
        taken.Failure = FailureOf(outcome, &line, wire, request.DeadlineSpan);
    }
    reading.TimeMs = QDateTime::currentMSecsSinceEpoch();
    reading.Outcome = OutcomeOf(taken.Failure.Cause);
    reading.Completed = taken.Complete();
    if (!taken.Complete())
        taken.ErrorCode = outcome.ErrorCode;
    // QLN and Hlog of the training this line is still in.
    if (!wire.ReadTraining && request.Previous && taken.Complete()) {
        const std::optional<bool> retrained = RetrainedBetween(request.Previous->Figures, reading.Figures);
        if (!retrained.value_or(false)) {
            reading.Spectra.Qln = request.Previous->Spectra.Qln;
            reading.Spectra.Hlog = request.Previous->Spectra.Hlog;
        }
    }
    return taken;
}
