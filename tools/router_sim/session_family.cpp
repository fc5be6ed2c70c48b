// The Broadcom, Lantiq and DrayTek command lines: each family's login
// prompts, the usual user, Broadcom's "sh" from "ATP>" to a "# " shell, and
// the replies of family_reply. A session serves one reading, as a cycle
// reads it all in one session.
#include "router_sim/session.h"

namespace routersim {

namespace {

constexpr int MaxLoginTries = 3;

const char* UsualUser(Family family)
{
    return family == Family::Draytek ? "admin" : "root";
}

std::string Bytes(std::initializer_list<unsigned char> bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::string Trim(const std::string& s)
{
    const auto a = s.find_first_not_of(" \t");
    if (a == std::string::npos)
        return {};
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

bool IsBitsCommand(const std::string& command)
{
    return command.find("Bits") != std::string::npos || command.find("bansg") != std::string::npos
           || command.find("showbins") != std::string::npos;
}

} // namespace

bool Session::ServeFamilyReply(const std::string& command, const std::string& reply, std::uint32_t faultSeed)
{
    const Options& o = FRouter.options;
    if (!IsBitsCommand(command))
        return SendText(reply);
    // The bits table takes the faults the ZyXEL line-data table takes; what
    // runs on for ever is the table, line after line, without the prompt.
    const ReplyKind kind = command.ends_with(" up") || command.ends_with("bansg 0") ? ReplyKind::Far : ReplyKind::Near;
    const std::size_t start = FamilyTableStart(reply);
    const std::string table = SpoilDigits(reply.substr(start), {o.garbage, o.iacData}, faultSeed);
    std::vector<std::string> runOn;
    for (std::size_t pos = 0; pos < table.size();) {
        const std::size_t end = std::min(table.find('\n', pos), table.size() - 1) + 1;
        runOn.push_back(table.substr(pos, end - pos));
        pos = end;
    }
    if (runOn.empty())
        runOn.push_back("\r\n");
    return SendReply(kind, reply.substr(0, start), table, runOn);
}

void Session::RunFamily()
{
    using namespace telnet;
    const Options& o = FRouter.options;
    const FamilyPrompts prompts = PromptsFor(o.family);
    if (!SendCommand(Bytes({IAC, WILL, ECHO, IAC, WILL, SGA})))
        return;
    if (o.family == Family::Broadcom && !SendText("BCM963381 Broadband Router\r\n"))
        return;

    const std::string wantUser = o.username.empty() ? UsualUser(o.family) : o.username;
    bool loggedIn = false;
    for (int attempt = 0; attempt < MaxLoginTries && !loggedIn; ++attempt) {
        if (!SendText(prompts.user))
            return;
        const auto user = ReadLine(Echo::Plain);
        if (!user || !SendText(prompts.password))
            return;
        const auto password = ReadLine(Echo::Stars);
        if (!password || o.refuseLogin)
            return;
        loggedIn = !o.wrongPassword && *password == o.password && Trim(*user) == wantUser;
        if (!loggedIn && !SendText("Login incorrect\r\n"))
            return;
    }
    if (!loggedIn)
        return;

    const FamilyLine line = MakeFamilyLine(o.profile, o.seed, FRouter.nextReading++);
    // The figures a session's replies print, whichever of them the client asks for.
    FRouter.served.RecordFigures(FiguresPrinted(o.family, Figures(), !o.training, o.notMeasured));
    bool recorded = false;
    bool spectrumRecorded[3] = {};
    // Broadcom's CLI takes only "sh" to a shell; the others start there.
    bool shell = o.family != Family::Broadcom;
    for (;;) {
        if (!SendText(shell && o.family == Family::Broadcom ? "# " : prompts.command))
            return;
        const auto typed = ReadLine(Echo::Plain);
        if (!typed)
            return;
        const std::string command = Trim(*typed);
        if (command.empty())
            continue;
        FRouter.served.RecordCommand(command);
        if (command == "exit" || command == "quit" || command == "logout") {
            if (shell && o.family == Family::Broadcom) {
                shell = false;
                continue;
            }
            return;
        }
        if (!shell) {
            if (command == "sh" || command == "shell")
                shell = true;
            else if (!SendText("Command failed.\r\n"))
                return;
            continue;
        }
        const auto reply
            = FamilyReply(o.family, o.profile, line, !o.training, command, Figures(), o.notMeasured, o.olderApi);
        if (!reply) {
            const std::string refusal = o.family == Family::Draytek
                ? "Invalid command \"" + command.substr(0, command.find(' ')) + "\"\r\n"
                : "sh: " + command.substr(0, command.find(' ')) + ": not found\r\n";
            if (!SendText(refusal))
                return;
            continue;
        }
        const bool bits = IsBitsCommand(command);
        if (!ServeFamilyReply(command, *reply, o.seed * 2654435761u + FRouter.nextReading))
            return;
        // Recorded before the prompt goes out, so a client that has read
        // the prompt finds the record there.
        if (bits && !recorded && !o.training) {
            recorded = true;
            FRouter.served.RecordLine(line.bits);
        }
        // What a spectrum reply held, once a session each, when it held it.
        const auto quantity = SpectrumCommand(command);
        if (quantity && !o.training && reply->find("nReturn=-1") == std::string::npos
            && !spectrumRecorded[int(*quantity)]) {
            spectrumRecorded[int(*quantity)] = true;
            FRouter.served.RecordSpectrum(QuantityName(*quantity),
                o.family == Family::Lantiq ? LantiqToneValues(line, *quantity) : ToneValues(line, *quantity));
        }
    }
}

} // namespace routersim
