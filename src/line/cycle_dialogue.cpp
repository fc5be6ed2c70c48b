#include "line/cycle_dialogue.h"

#include "line/figure_parsers.h"
#include "line/login_answer.h"
#include "telnet/telnet_session.h"

#include <algorithm>
#include <exception>
#include <memory>

std::vector<std::uint8_t> ToneBits(const TZyxelToneTable& tones)
{
    std::vector<std::uint8_t> bits(tones.size());
    for (std::size_t tone = 0; tone < bits.size(); ++tone)
        bits[tone] = std::uint8_t(std::clamp(tones[tone], 0, 255));
    return bits;
}

namespace {

// Keeps the first failure of a dialogue; later steps run on regardless and
// their failures are consequences of it.
class TStepWatch {
public:
    TStepWatch(TTelnetSend& session, std::optional<std::chrono::steady_clock::time_point> deadline)
        : FSession(session)
        , FDeadline(deadline)
    {
    }

    void Begin(TDialogueStep step) { FStep = step; }

    // After a step: a socket error there is the dialogue's first failure,
    // unless one came before.
    void Check()
    {
        TTCPBlockSocket& sock = FSession.Sock();
        if (sock.LastError() != 0)
            Fail(sock.LastError(), sock.LastErrorDesc());
    }

    void Fail(int code, const std::string& text)
    {
        if (FFailed)
            return;
        FFailed = true;
        FOutcome.Step = FStep;
        FOutcome.ErrorCode = code;
        FOutcome.ErrorText = text;
        FOutcome.DeadlinePassed = FDeadline && std::chrono::steady_clock::now() >= *FDeadline;
        // The connection's last words say more than a time-out does: a
        // prompt for something else, or a refusal.
        const std::string& log = FSession.SessionLog();
        FOutcome.Heard = log.substr(log.size() - std::min<std::size_t>(log.size(), HeardLength));
    }

    void Answered(TLoginAnswer answer)
    {
        Fail(0, answer == TLoginAnswer::UserNameAsked ? "The router asked for a user name"
                                                       : "The router asked for the password again");
        FOutcome.LoginAnswered = true;
    }

    void Stop()
    {
        Fail(ErrConnAborted, "Stopped");
        FOutcome.Stopped = true;
    }

    TDialogueOutcome Outcome() const
    {
        TDialogueOutcome outcome = FOutcome;
        outcome.Completed = !FFailed;
        if (!FFailed)
            outcome.Step = TDialogueStep::Done;
        return outcome;
    }

private:
    static constexpr std::size_t HeardLength = 256;

    TTelnetSend& FSession;
    std::optional<std::chrono::steady_clock::time_point> FDeadline;
    TDialogueStep FStep = TDialogueStep::Connect;
    bool FFailed = false;
    TDialogueOutcome FOutcome;
};

// Ends the dialogue at once, past every step still to come.
struct TDialogueEnded {};

// Waits for `wanted` as the session's WaitFor does, except that it ends as
// soon as the router's text answers the login otherwise (a second password
// prompt, a refusal, a question for a user name): such a login goes nowhere,
// and its time-out would only hide why. What follows `wanted` stays for the
// next wait.
TLoginAnswer WaitForOrAnswer(TTelnetSend& session, const std::string& wanted, TDialogueStep step, int maxLength)
{
    TTCPBlockSocket& sock = session.Sock();
    std::string heard;
    for (;;) {
        heard += sock.NextPacket(session.Timeout());
        if (sock.LastError() != 0)
            return TLoginAnswer::None;
        const std::size_t at = heard.find(wanted);
        const TLoginAnswer answer
            = ReadLoginAnswer(step, std::string_view(heard).substr(0, at == std::string::npos ? heard.size() : at));
        if (answer != TLoginAnswer::None)
            return answer;
        if (at != std::string::npos) {
            sock.SetInBuffer(heard.substr(at + wanted.size()));
            return TLoginAnswer::None;
        }
        if (heard.size() > std::size_t(maxLength)) {
            sock.SetLastError(ErrNoBuffers); // as a reply past the limit fails
            return TLoginAnswer::None;
        }
    }
}

} // namespace

TDialogueOutcome RunCycleDialogue(const TDialogueRequest& request, TCaptureBuffer& memo, TZyxelToneTable& tones,
    const TDialogueHooks& hooks)
{
    // Set once the caller asks to stop; declared before the session, whose
    // closing beats still read it.
    bool stopped = false;
    // The session belongs to this dialogue alone; whatever path it takes, it
    // is released and its connection closed when the dialogue is done with it.
    auto session = std::make_unique<TTelnetSend>();
    session->SetTimeout(request.Timeout);
    session->SetTargetHost(request.Host);
    session->SetTargetPort(request.Port);
    session->Sock().SetMaxLineLength(request.MaxReplyLength);
    session->SetDeadline(request.Deadline);
    // The caller's heartbeat rides on the deadline's: every beat looks at
    // the clock, then lets the caller run; once the caller asks to stop,
    // every step still running or to come is cut short.
    if (hooks.Heartbeat) {
        TTCPBlockSocket& sock = session->Sock();
        THookHeartbeat deadlineBeat = sock.OnHeartbeat();
        sock.SetHeartbeatRate(TTelnetSend::DeadlineBeatMs);
        sock.SetOnHeartbeat([&stopped, &hooks, deadlineBeat](TBlockSocket* sender) {
            if (deadlineBeat)
                deadlineBeat(sender);
            if (!stopped && hooks.Heartbeat())
                stopped = true;
            if (stopped)
                sender->SetStopFlag(true);
        });
    }
    session->Login();

    const std::string& prompt = request.Prompt;
    TStepWatch watch(*session, request.Deadline);
    // After each step: a stop asked for meanwhile ends the dialogue here.
    const auto check = [&] {
        if (stopped) {
            watch.Stop();
            throw TDialogueEnded{};
        }
        watch.Check();
    };
    const auto waitOrAnswer = [&](const std::string& wanted, TDialogueStep step) {
        const TLoginAnswer answer = WaitForOrAnswer(*session, wanted, step, request.MaxReplyLength);
        check();
        if (answer != TLoginAnswer::None) {
            watch.Answered(answer);
            throw TDialogueEnded{};
        }
    };

    bool farCaptured = false;  // the far reply is in the buffer
    bool farDecoded = false;
    bool nearCaptured = false; // the near reply is in the buffer
    // The texts the figures are read from, once the session is over.
    std::vector<std::string> figureTexts;
    // The results of the steps are not acted on: a dead or silent router
    // simply leaves the replies empty. An error raised inside abandons the
    // rest of the dialogue; the cycle goes on with whatever the capture
    // buffer holds.
    try {
        // A fresh connection: the router sees two per cycle, the first closed
        // again at once with whatever it had sent.
        watch.Begin(TDialogueStep::Connect);
        session->Login();
        check();
        if (!request.Username.empty()) {
            watch.Begin(TDialogueStep::UserPrompt);
            session->WaitFor("name:");
            check();
            watch.Begin(TDialogueStep::SendUser);
            session->Send(request.Username + "\r\n");
            check();
        }
        watch.Begin(TDialogueStep::PasswordPrompt);
        waitOrAnswer("word:", TDialogueStep::PasswordPrompt);
        watch.Begin(TDialogueStep::SendPassword);
        session->Send(request.Password + "\r\n");
        check();
        watch.Begin(TDialogueStep::CommandPrompt);
        // An empty prompt is found nowhere: every wait for it returns at
        // once with nothing, and no reply can be read.
        if (prompt.empty()) {
            watch.Fail(0, "No prompt to wait for");
            session->WaitFor(prompt);
            check();
        } else {
            waitOrAnswer(prompt, TDialogueStep::CommandPrompt);
        }
        memo.Clear();

        // The point where the window catches up even without a heartbeat: a
        // queued Stop, close or Plot is handled here, before the first
        // command; the window's Stop or Plot ends this dialogue through the
        // heartbeat, never runs a second one inside it.
        if (hooks.PumpEvents)
            hooks.PumpEvents();
        // A cycle run just now shares the capture buffer and has left its
        // own text there; the replies of this cycle are cut at fixed
        // positions, so they must start from an empty buffer.
        memo.Clear();

        watch.Begin(TDialogueStep::FarCommand);
        session->Send("wan adsl linedata far\r\n");
        check();
        watch.Begin(TDialogueStep::FarReply);
        memo.Append(CaptureMarker);
        figureTexts.push_back(session->ReceiveUntil(prompt));
        memo.Append(figureTexts.back());
        farCaptured = true;
        check();
        DecodeFarEnd(memo, tones);
        farDecoded = true;
        memo.Clear();

        watch.Begin(TDialogueStep::NearCommand);
        session->Send("wan adsl linedata near\r\n");
        check();
        watch.Begin(TDialogueStep::NearReply);
        memo.Append(CaptureMarker);
        figureTexts.push_back(session->ReceiveUntil(prompt));
        memo.Append(figureTexts.back());
        nearCaptured = true;
        check();
        // The line's bits are whole by now: a figure command the router
        // refuses or leaves unanswered costs its figures, not the reading.
        if (request.ReadFigures)
            for (const char* command : ZyxelFigureCommands) {
                if (stopped)
                    break;
                session->Send(std::string(command) + "\r\n");
                std::string reply = session->ReceiveUntil(prompt);
                if (session->Sock().LastError() != 0)
                    break;
                figureTexts.push_back(std::move(reply));
            }
        session->Logout();
    } catch (const TDialogueEnded&) {
        // A dialogue ended early leaves what a dead connection would have
        // left: the replies it did not read count as empty, so no tone of
        // an earlier reading is drawn as if it were this one's.
        if (!farDecoded) {
            if (!farCaptured) {
                memo.Clear();
                memo.Append(CaptureMarker);
                memo.Append("");
            }
            DecodeFarEnd(memo, tones);
        }
        if (!nearCaptured) {
            memo.Clear();
            memo.Append(CaptureMarker);
            memo.Append("");
        }
    } catch (const std::exception& error) {
        watch.Fail(-1, error.what());
    } catch (...) {
        watch.Fail(-1, "Unknown error");
    }
    // Closing drains what is pending; a stopped dialogue's beats cut it short.
    session.reset();
    TDialogueOutcome outcome = watch.Outcome();
    outcome.Figures = ZyxelFigures(std::vector<std::string_view>(figureTexts.begin(), figureTexts.end()));

    if (hooks.DialogueOver)
        hooks.DialogueOver();
    DecodeNearEnd(memo, tones);
    return outcome;
}
