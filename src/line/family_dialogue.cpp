#include "line/family_dialogue.h"

#include "line/family_parsers.h"
#include "line/family_per_tone.h"

#include "telnet/socket_errors.h"
#include "telnet/telnet_session.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <stdexcept>

std::string WithoutEscapes(const std::string& text)
{
    enum class TState { Text, Escape, Csi };
    std::string out;
    out.reserve(text.size());
    TState state = TState::Text;
    for (const char c : text) {
        switch (state) {
        case TState::Text:
            if (c == '\x1b')
                state = TState::Escape;
            else
                out += c;
            break;
        case TState::Escape:
            state = c == '[' ? TState::Csi : TState::Text;
            break;
        case TState::Csi:
            // Parameters and intermediates run to the final byte, @ to ~.
            if (c >= '@' && c <= '~')
                state = TState::Text;
            break;
        }
    }
    return out;
}

TPromptSets FamilyPrompts(TRouterFamily family, const std::string& extraPrompt)
{
    TPromptSets sets;
    switch (family) {
    case TRouterFamily::Broadcom:
        sets = {{"login:", "Login:"}, {"Password:"}, {"#", "$", ">"}, {"ATP>"}};
        break;
    case TRouterFamily::Lantiq:
        sets = {{"login:"}, {"Password:"}, {"#"}, {}};
        break;
    case TRouterFamily::Draytek:
        sets = {{"Account:", "Username:"}, {"Password:"}, {">"}, {}};
        break;
    case TRouterFamily::Zyxel:
        break;
    }
    if (!extraPrompt.empty())
        sets.Command.push_back(extraPrompt);
    return sets;
}

namespace {

std::string TrimmedRight(std::string text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    return text;
}

// The last line of what came, where a prompt stands.
std::string LastLine(const std::string& text)
{
    const std::size_t nl = text.find_last_of("\r\n");
    return TrimmedRight(nl == std::string::npos ? text : text.substr(nl + 1));
}

bool EndsWithAny(const std::string& line, const std::vector<std::string>& prompts)
{
    return std::any_of(prompts.begin(), prompts.end(), [&](const std::string& p) {
        const std::string t = TrimmedRight(p);
        return !t.empty() && line.size() >= t.size() && line.compare(line.size() - t.size(), t.size(), t) == 0;
    });
}

enum class TPromptKind { None, User, Password, Shell, Command };

TPromptKind PromptKind(const std::string& received, const TPromptSets& sets)
{
    // Only the last line can be a prompt: its escapes alone are taken out,
    // so a long reply costs no more at each packet than a short one.
    const std::size_t lastBreak = received.find_last_of("\r\n");
    const std::string line
        = LastLine(WithoutEscapes(lastBreak == std::string::npos ? received : received.substr(lastBreak + 1)));
    if (EndsWithAny(line, sets.User))
        return TPromptKind::User;
    if (EndsWithAny(line, sets.Password))
        return TPromptKind::Password;
    // "ATP>" also ends with ">": the shell step is looked at first.
    if (EndsWithAny(line, sets.Shell))
        return TPromptKind::Shell;
    if (EndsWithAny(line, sets.Command))
        return TPromptKind::Command;
    return TPromptKind::None;
}

class TFamilySession {
public:
    TFamilySession(const TDialogueRequest& request, TRouterFamily family, const TDialogueHooks& hooks)
        : FRequest(request)
        , FSets(FamilyPrompts(family, request.Prompt))
    {
        FSession.SetTimeout(request.Timeout);
        FSession.SetTargetHost(request.Host);
        FSession.SetTargetPort(request.Port);
        FSession.SetDeadline(request.Deadline);
        if (hooks.Heartbeat) {
            TTCPBlockSocket& sock = FSession.Sock();
            THookHeartbeat deadlineBeat = sock.OnHeartbeat();
            sock.SetHeartbeatRate(TTelnetSend::DeadlineBeatMs);
            sock.SetOnHeartbeat([this, &hooks, deadlineBeat](TBlockSocket* sender) {
                if (deadlineBeat)
                    deadlineBeat(sender);
                if (!FStopped && hooks.Heartbeat())
                    FStopped = true;
                if (FStopped)
                    sender->SetStopFlag(true);
            });
        }
    }

    // A stop asked for ends the dialogue at once, in the middle of a reply
    // too: a router that trickles its reply must not hold the user's Stop.
    bool Stopped() const { return FStopped; }

    TTelnetSend& Session() { return FSession; }

    // Reads until the last line is one of the prompts; None when the socket
    // failed first (its error is then the session's) or the reply grew past
    // the cap.
    TPromptKind ReadToPrompt(std::string& received)
    {
        received.clear();
        for (;;) {
            received += FSession.Sock().NextPacket(FRequest.Timeout);
            if (FSession.Sock().LastError() != 0)
                return TPromptKind::None;
            if (int(received.size()) > FRequest.MaxReplyLength) {
                FTooLong = true;
                return TPromptKind::None;
            }
            if (const TPromptKind kind = PromptKind(received, FSets); kind != TPromptKind::None)
                return kind;
        }
    }

    bool TooLong() const { return FTooLong; }

private:
    const TDialogueRequest& FRequest;
    TPromptSets FSets;
    TTelnetSend FSession;
    bool FTooLong = false;
    bool FStopped = false;
};

} // namespace

std::string ReplyBody(const std::string& received, const std::string& command)
{
    std::string text = WithoutEscapes(received);
    // The prompt after the reply.
    const std::size_t lastBreak = text.find_last_of('\n');
    text = lastBreak == std::string::npos ? std::string() : text.substr(0, lastBreak + 1);
    // Before the echo: blank lines and prompts drawn again; the echo line
    // itself ends with the command.
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            break;
        std::string line = text.substr(pos, end - pos);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        pos = end + 1;
        if (!command.empty() && line.size() >= command.size()
            && line.compare(line.size() - command.size(), command.size(), command) == 0)
            return text.substr(pos);
        if (!line.empty() && line.find_first_not_of("\r ") != std::string::npos && line.size() > 40)
            break; // data: the router sent no echo
    }
    return text;
}

TFamilyCycle RunFamilyDialogue(const TDialogueRequest& request, TRouterFamily family, const TDialogueHooks& hooks)
{
    TFamilyCycle cycle;
    TDialogueOutcome& outcome = cycle.Outcome;
    const auto fail = [&](TDialogueStep step, int code, const std::string& text) {
        if (outcome.ErrorCode != 0 || !outcome.ErrorText.empty())
            return;
        outcome.Step = step;
        outcome.ErrorCode = code;
        outcome.ErrorText = text;
    };
    const std::string user = request.Username.empty() ? RouterFamilyRow(family).User : request.Username;
    auto dialogue = std::make_unique<TFamilySession>(request, family, hooks);
    TTelnetSend& session = dialogue->Session();
    const auto socketFailed = [&](TDialogueStep step) {
        outcome.DeadlinePassed = request.Deadline && std::chrono::steady_clock::now() >= *request.Deadline;
        const std::string& log = session.SessionLog();
        outcome.Heard = log.substr(log.size() - std::min<std::size_t>(log.size(), 256));
        if (dialogue->Stopped()) {
            outcome.Stopped = true;
            fail(step, ErrConnAborted, "Stopped");
        } else if (dialogue->TooLong())
            fail(step, 0, "The reply grew past " + std::to_string(request.MaxReplyLength) + " bytes");
        else
            fail(step, session.Sock().LastError(), session.Sock().LastErrorDesc());
    };
    try {
        session.Login();
        // The socket's own code, so a refused or unknown host is told in the
        // same words as for the ZyXEL.
        if (session.Sock().LastError() != 0) {
            socketFailed(TDialogueStep::Connect);
            throw std::runtime_error("");
        }
        std::string received;
        int users = 0, passwords = 0, shells = 0;
        TDialogueStep step = TDialogueStep::UserPrompt;
        bool atCommand = false;
        while (!atCommand) {
            const TPromptKind kind = dialogue->ReadToPrompt(received);
            switch (kind) {
            case TPromptKind::None:
                socketFailed(step);
                throw std::runtime_error("");
            case TPromptKind::User:
                // Asked again after a password: the login was refused.
                if (users++ > 0 || passwords > 0) {
                    fail(TDialogueStep::SendPassword, 0, "The router refused the user name or the password");
                    outcome.LoginAnswered = true;
                    throw std::runtime_error("");
                }
                step = TDialogueStep::SendUser;
                session.Send(user + "\r\n");
                step = TDialogueStep::PasswordPrompt;
                break;
            case TPromptKind::Password:
                if (passwords++ > 0) {
                    fail(TDialogueStep::SendPassword, 0, "The router refused the password");
                    outcome.LoginAnswered = true;
                    throw std::runtime_error("");
                }
                step = TDialogueStep::SendPassword;
                session.Send(request.Password + "\r\n");
                step = TDialogueStep::CommandPrompt;
                break;
            case TPromptKind::Shell:
                if (shells++ > 0) {
                    fail(TDialogueStep::CommandPrompt, 0, "The router's CLI did not open a shell");
                    throw std::runtime_error("");
                }
                session.Send("sh\r\n");
                break;
            case TPromptKind::Command:
                atCommand = true;
                break;
            }
            if (session.Sock().LastError() != 0) {
                socketFailed(step);
                throw std::runtime_error("");
            }
        }

        if (hooks.PumpEvents)
            hooks.PumpEvents();
        for (const TFamilyCommand& command : FamilyCommands(family)) {
            if ((command.When == TCommandWhen::Figures && !request.ReadFigures)
                || (command.When == TCommandWhen::Training && !request.ReadTraining))
                continue;
            if (dialogue->Stopped()) {
                outcome.Stopped = true;
                fail(TDialogueStep::FarCommand, ErrConnAborted, "Stopped");
                break;
            }
            const std::string text = FamilyCommandText(command, cycle.Replies);
            session.Send(text + "\r\n");
            if (session.Sock().LastError() != 0) {
                socketFailed(TDialogueStep::FarCommand);
                throw std::runtime_error("");
            }
            if (dialogue->ReadToPrompt(received) == TPromptKind::None) {
                socketFailed(TDialogueStep::FarReply);
                throw std::runtime_error("");
            }
            cycle.Replies[command.Role] = ReplyBody(received, text);
        }
        // Leaving: the shell first where there was one, then the CLI; the
        // router closes the connection itself.
        for (int i = 0; i <= shells; ++i)
            session.Send("exit\r\n");
        session.Logout();
    } catch (const std::exception& error) {
        fail(TDialogueStep::Connect, -1, error.what());
    }
    dialogue.reset();
    if (hooks.DialogueOver)
        hooks.DialogueOver();

    outcome.Completed = outcome.ErrorCode == 0 && outcome.ErrorText.empty();
    if (outcome.Completed) {
        outcome.Step = TDialogueStep::Done;
        cycle.Line = ParseFamilyReplies(family, cycle.Replies);
    } else {
        cycle.Line.Failure = outcome.Stopped ? QStringLiteral("stopped")
                                     : QStringLiteral("%1 while %2")
                                           .arg(QString::fromLocal8Bit(outcome.ErrorText.c_str()),
                                               QString::fromLatin1(DialogueStepText(outcome.Step)));
    }
    return cycle;
}
