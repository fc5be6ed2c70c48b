#include "line/cycle_dialogue.h"

#include "telnet/telnet_session.h"

#include <algorithm>
#include <exception>
#include <memory>

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

std::vector<std::uint8_t> ToneBits(const TToneTable& tones)
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
    explicit TStepWatch(TTelnetSend& session)
        : FSession(session)
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
    TTelnetSend& FSession;
    TDialogueStep FStep = TDialogueStep::Connect;
    bool FFailed = false;
    TDialogueOutcome FOutcome;
};

} // namespace

TDialogueOutcome RunCycleDialogue(const TDialogueRequest& request, TCaptureBuffer& memo, TToneTable& tones,
    const TDialogueHooks& hooks)
{
    // The session belongs to this dialogue alone; whatever path it takes, it
    // is released and its connection closed when the dialogue is done with it.
    auto session = std::make_unique<TTelnetSend>();
    session->SetTimeout(request.Timeout);
    session->SetTargetHost(request.Host);
    session->SetTargetPort(request.Port);
    session->Sock().SetMaxLineLength(request.MaxReplyLength);
    session->SetDeadline(request.Deadline);
    session->Login();

    const std::string& prompt = request.Prompt;
    TStepWatch watch(*session);

    // The results of the steps are not acted on: a dead or silent router
    // simply leaves the replies empty. An error raised inside abandons the
    // rest of the dialogue; the cycle goes on with whatever the capture
    // buffer holds.
    try {
        // A fresh connection: the router sees two per cycle, the first closed
        // again at once with whatever it had sent.
        watch.Begin(TDialogueStep::Connect);
        session->Login();
        watch.Check();
        if (!request.Username.empty()) {
            watch.Begin(TDialogueStep::UserPrompt);
            session->WaitFor("name:");
            watch.Check();
            watch.Begin(TDialogueStep::SendUser);
            session->Send(request.Username + "\r\n");
            watch.Check();
        }
        watch.Begin(TDialogueStep::PasswordPrompt);
        session->WaitFor("word:");
        watch.Check();
        watch.Begin(TDialogueStep::SendPassword);
        session->Send(request.Password + "\r\n");
        watch.Check();
        watch.Begin(TDialogueStep::CommandPrompt);
        // An empty prompt is found nowhere: every wait for it returns at
        // once with nothing, and no reply can be read.
        if (prompt.empty())
            watch.Fail(0, "No prompt to wait for");
        session->WaitFor(prompt);
        watch.Check();
        memo.Clear();

        // The one point where the window catches up while a cycle runs: a
        // queued Stop, close or Plot (which runs a whole cycle inside this
        // one) is handled here, before the first command.
        if (hooks.PumpEvents)
            hooks.PumpEvents();
        // A cycle run just now shares the capture buffer and has left its
        // own text there; the replies of this cycle are cut at fixed
        // positions, so they must start from an empty buffer.
        memo.Clear();

        watch.Begin(TDialogueStep::FarCommand);
        session->Send("wan adsl linedata far\r\n");
        watch.Check();
        watch.Begin(TDialogueStep::FarReply);
        memo.Append(CaptureMarker);
        memo.Append(session->ReceiveUntil(prompt));
        watch.Check();
        DecodeFarEnd(memo, tones);
        memo.Clear();

        watch.Begin(TDialogueStep::NearCommand);
        session->Send("wan adsl linedata near\r\n");
        watch.Check();
        watch.Begin(TDialogueStep::NearReply);
        memo.Append(CaptureMarker);
        memo.Append(session->ReceiveUntil(prompt));
        watch.Check();
        session->Logout();
    } catch (const std::exception& error) {
        watch.Fail(-1, error.what());
    } catch (...) {
        watch.Fail(-1, "Unknown error");
    }
    session.reset();

    if (hooks.DialogueOver)
        hooks.DialogueOver();
    DecodeNearEnd(memo, tones);
    return watch.Outcome();
}
