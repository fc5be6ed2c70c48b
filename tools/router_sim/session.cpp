#include "router_sim/session.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace routersim {

namespace {

constexpr std::string_view Prompt = "ras> ";
constexpr int MaxPasswordTries = 3;
// The pause between the bytes of a split command when no --pause-ms is given:
// long enough that each byte arrives in its own read.
constexpr int SplitPauseMs = 15;
constexpr int EndlessLinePauseMs = 50;

std::string Trimmed(const std::string& s)
{
    std::size_t a = 0;
    std::size_t b = s.size();
    while (a < b && static_cast<unsigned char>(s[a]) <= ' ')
        ++a;
    while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ')
        --b;
    return s.substr(a, b - a);
}

std::string Bytes(std::initializer_list<unsigned char> bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

void ServedLog::AppendLine(const std::string& line)
{
    if (FPath.empty())
        return;
    std::lock_guard lock(FMutex);
    if (FILE* f = std::fopen(FPath.c_str(), "a")) {
        std::fputs(line.c_str(), f);
        std::fclose(f);
    }
}

void ServedLog::Record(ReplyKind kind, const BitLoading& bits)
{
    std::string line(KindName(kind));
    for (int b : bits)
        line += ' ' + std::to_string(b);
    AppendLine(line + '\n');
}

void ServedLog::RecordLine(const std::vector<int>& bits)
{
    std::string line("line");
    for (int b : bits)
        line += ' ' + std::to_string(b);
    AppendLine(line + '\n');
}

void ServedLog::RecordFigures(const PrintedFigures& figures)
{
    std::string line = "figures";
    for (const auto& [name, value] : figures)
        line += '\t' + name + '=' + value;
    AppendLine(line + '\n');
}

void ServedLog::RecordSpectrum(const char* name, const std::vector<double>& values)
{
    std::string line(name);
    char number[32];
    for (double v : values) {
        std::snprintf(number, sizeof number, " %.1f", v);
        line += std::isnan(v) ? std::string(" -") : std::string(number);
    }
    AppendLine(line + '\n');
}

void ServedLog::RecordCommand(const std::string& command)
{
    AppendLine("command " + command + '\n');
}

void ServedLog::RecordTerminalType(const std::string& name)
{
    std::string shown;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        shown += u > ' ' && u < 127 ? c : '?';
    }
    AppendLine("ttype " + shown + '\n');
}

void ServedLog::RecordSession(int open)
{
    AppendLine("session " + std::to_string(open) + '\n');
}

Session::Session(int fd, Router& router) : FFd(fd), FRouter(router)
{
    const Options& o = router.options;
    if (o.endless != ReplyChoice::None || o.trickle != ReplyChoice::None || o.floodAfter != ReplyChoice::None
        || o.optionFlood || o.endlessSubnegotiation)
        FFaultEnd = std::chrono::steady_clock::now() + std::chrono::seconds(o.faultSeconds);
}

int Session::MsLeft() const
{
    if (!FFaultEnd)
        return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        *FFaultEnd - std::chrono::steady_clock::now()).count();
    return static_cast<int>(std::max<decltype(left)>(left, 0));
}

bool Session::Pause(int ms)
{
    // Sleeping on the stop pipe: a stop request cuts the pause short, and so
    // does the end of a never-ending fault.
    const int left = MsLeft();
    const bool limited = left >= 0 && left < ms;
    pollfd p{FRouter.stopFd, POLLIN, 0};
    int r;
    while ((r = ::poll(&p, 1, limited ? left : ms)) < 0 && errno == EINTR) {
    }
    return r == 0 && !limited;
}

bool Session::WaitReady(short events)
{
    for (;;) {
        pollfd p[2] = {{FFd, events, 0}, {FRouter.stopFd, POLLIN, 0}};
        const int r = ::poll(p, 2, MsLeft());
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        return r > 0 && p[1].revents == 0;
    }
}

bool Session::WriteAll(std::string_view bytes)
{
    while (!bytes.empty()) {
        if (!WaitReady(POLLOUT))
            return false;
        // No SIGPIPE when the client has gone: the send just fails.
        const auto n = ::send(FFd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            return false; // EPIPE, ECONNRESET: the client is gone
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool Session::SendPackets(std::string_view wire, std::size_t chunk)
{
    const int pause = FRouter.options.pauseMs;
    if (chunk == 0)
        chunk = wire.size();
    while (!wire.empty()) {
        if (FSentAny && pause > 0 && !Pause(pause))
            return false;
        const auto piece = wire.substr(0, chunk);
        if (!WriteAll(piece))
            return false;
        FSentAny = true;
        wire.remove_prefix(piece.size());
    }
    return true;
}

bool Session::SendText(std::string_view text)
{
    std::string wire;
    wire.reserve(text.size() + 8);
    for (char c : text) {
        wire.push_back(c);
        if (static_cast<unsigned char>(c) == telnet::IAC)
            wire.push_back(c);
    }
    return SendPackets(wire, FRouter.options.chunk);
}

bool Session::SendCommand(std::string_view bytes)
{
    if (!FRouter.options.splitCommands)
        return SendPackets(bytes, FRouter.options.chunk);
    for (char c : bytes) {
        if (FSentAny && FRouter.options.pauseMs == 0 && !Pause(SplitPauseMs))
            return false;
        if (!SendPackets(std::string_view(&c, 1), 1))
            return false;
    }
    return true;
}

bool Session::ReadMore()
{
    char buf[4096];
    for (;;) {
        if (!WaitReady(POLLIN))
            return false;
        const auto n = ::recv(FFd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false; // closed or reset
        TelnetInputEvents ev;
        FParser.Feed(std::string_view(buf, static_cast<std::size_t>(n)), ev);
        FPending += ev.data;
        if (ev.willTerminalType && FRouter.options.ttype && !FAskedType) {
            FAskedType = true;
            using namespace telnet;
            if (!SendCommand(Bytes({IAC, SB, TTYPE, TTYPE_SEND, IAC, SE})))
                return false;
        }
        if (ev.gotTerminalType)
            FRouter.served.RecordTerminalType(ev.terminalType);
        return true;
    }
}

std::optional<std::string> Session::ReadLine(Echo echo)
{
    std::string line;
    for (;;) {
        // Echo what has come so far, as a router in character mode does.
        std::string echoed;
        std::size_t used = 0;
        bool done = false;
        while (used < FPending.size() && !done) {
            const char c = FPending[used++];
            if (FSkipLineFeed) {
                FSkipLineFeed = false;
                if (c == '\n' || c == '\0')
                    continue;
            }
            if (c == '\r' || c == '\n') {
                FSkipLineFeed = c == '\r';
                echoed += "\r\n";
                done = true;
            } else if (c == '\b' || c == '\x7f') {
                if (!line.empty()) {
                    line.pop_back();
                    echoed += "\b \b";
                }
            } else {
                line += c;
                echoed += echo == Echo::Stars ? '*' : c;
            }
        }
        FPending.erase(0, used);
        if (!echoed.empty() && !SendText(echoed))
            return std::nullopt;
        if (done)
            return line;
        if (!ReadMore())
            return std::nullopt;
    }
}

bool Session::WaitForClose()
{
    while (ReadMore())
        FPending.clear();
    return false;
}

bool Session::Flood(const std::string& block)
{
    while (WriteAll(block)) {
    }
    return false;
}

bool Session::SendReply(ReplyKind kind, const std::string& header, const std::string& table,
                        const std::vector<std::string>& runOn)
{
    const Options& o = FRouter.options;
    const std::string text = header + table;
    if (Hits(o.drop, kind)) {
        SendText(std::string_view(text).substr(0, text.size() / 2));
        return false;
    }
    if (Hits(o.stall, kind)) {
        if (!SendText(std::string_view(text).substr(0, text.size() / 2)))
            return false;
        return WaitForClose();
    }
    if (Hits(o.trickle, kind)) {
        // A byte at a time, each well within a client's wait for the next,
        // and never the prompt.
        for (std::size_t line = runOn.size();; line = (line + 1) % runOn.size()) {
            const std::string& text = line == runOn.size() ? header : runOn[line];
            for (const char c : text)
                if (!SendText(std::string_view(&c, 1)) || !Pause(o.trickleMs))
                    return false;
        }
    }
    if (Hits(o.endless, kind)) {
        if (!SendText(header))
            return false;
        for (std::size_t line = 0;; line = (line + 1) % runOn.size()) {
            if (!SendText(runOn[line]))
                return false;
            if (!Pause(std::max(o.pauseMs, EndlessLinePauseMs)))
                return false;
        }
    }

    if (o.splitCommands) {
        // Commands in the middle of a reply, each byte in its own packet: the
        // client must take them out without losing its place in the text.
        using namespace telnet;
        return SendText(header) && SendCommand(Bytes({IAC, NOP})) && SendCommand(Bytes({IAC, WILL, SGA}))
               && SendText(table);
    }
    return SendText(text);
}

const LineFigures& Session::Figures()
{
    if (!FFigures) {
        const Options& o = FRouter.options;
        const std::int64_t now = o.clock ? o.clock : std::int64_t(std::time(nullptr));
        FFigures = FiguresAt(o.seed, now, TopDownKbps(o.family, o.profile));
    }
    return *FFigures;
}

bool Session::ServeZyxelFigures(const std::string& command, bool& served)
{
    const auto reply = FigureReply(Family::Zyxel, Figures(), true, false, command);
    served = reply.has_value();
    if (!reply)
        return true;
    if (!SendText(*reply))
        return false;
    // Only what this command printed: its counters, its rates or the state.
    for (const auto& [name, value] : FiguresPrinted(Family::Zyxel, Figures(), true, false)) {
        const bool mine = command.ends_with("perfdata") ? name.starts_with("counters.")
            : command.ends_with("chandata")             ? name.ends_with("rate_kbps")
                                                        : name == "figures.state";
        if (mine)
            FServedFigures[name] = value;
    }
    FRouter.served.RecordFigures(FServedFigures);
    return true;
}

bool Session::ServeReply(ReplyKind kind)
{
    const Options& o = FRouter.options;
    const auto index = FRouter.nextReading++;
    const auto reading = FRouter.model.Reading(index);
    const Reply reply = BuildReply(kind, reading, {o.garbage, o.iacData}, o.seed * 2654435761u + index);
    std::vector<std::string> runOn;
    for (int line = 0; line < TableLines; ++line)
        runOn.push_back(TableLine(line, reading.bits) + "\r\n");
    if (!SendReply(kind, reply.header, reply.table, runOn))
        return false;
    // Recorded before the prompt goes out, so a client that has read the
    // prompt finds the record already there.
    FRouter.served.Record(kind, reply.served);
    for (const auto& [name, value] : HeaderFigures(kind, reading))
        FServedFigures[name] = value;
    FRouter.served.RecordFigures(FServedFigures);
    FFloodAfterPrompt = Hits(o.floodAfter, kind);
    return true;
}

void Session::Run()
{
    using namespace telnet;
    const Options& o = FRouter.options;

    if (o.optionFlood) {
        // One option request after another, without end; the client's
        // answers are never read, so they pile up until it cannot send.
        std::string requests;
        for (int i = 0; requests.size() < 12288; ++i)
            requests += Bytes({IAC, DO, static_cast<unsigned char>(32 + i % 64)});
        Flood(requests);
        return;
    }

    if (o.endlessSubnegotiation) {
        // The terminal type asked for, then payload as fast as the client
        // takes it, without the IAC SE that would end it.
        if (!SendCommand(Bytes({IAC, SB, TTYPE, TTYPE_SEND})))
            return;
        Flood(std::string(16384, 'x'));
        return;
    }

    if (o.family != Family::Zyxel) {
        RunFamily();
        return;
    }

    std::string offer = Bytes({IAC, WILL, ECHO, IAC, WILL, SGA});
    if (o.ttype)
        offer += Bytes({IAC, DO, TTYPE});
    if (!SendCommand(offer))
        return;

    std::string user;
    if (!o.username.empty()) {
        if (!SendText("Username: "))
            return;
        const auto typed = ReadLine(Echo::Plain);
        if (!typed)
            return;
        user = *typed;
    }

    bool loggedIn = false;
    for (int attempt = 0; attempt < MaxPasswordTries && !loggedIn; ++attempt) {
        if (!SendText("Password: "))
            return;
        const auto typed = ReadLine(Echo::Stars);
        if (!typed || o.refuseLogin)
            return;
        loggedIn = !o.wrongPassword && *typed == o.password && user == o.username;
    }
    if (!loggedIn)
        return;

    for (;;) {
        if (!SendText(Prompt))
            return;
        if (FFloodAfterPrompt) {
            // The router goes on talking after its prompt, as fast as the
            // client takes it: lines of noise without a prompt among them.
            std::string noise;
            while (noise.size() < 16384)
                noise += "line noise 0123456789abcdef\r\n";
            Flood(noise);
            return;
        }
        const auto typed = ReadLine(Echo::Plain);
        if (!typed)
            return;
        const std::string command = Trimmed(*typed);
        if (command.empty())
            continue;
        if (command == "exit" || command == "quit")
            return;
        if (command == CommandFor(ReplyKind::Far)) {
            if (!ServeReply(ReplyKind::Far))
                return;
        } else if (command == CommandFor(ReplyKind::Near)) {
            if (!ServeReply(ReplyKind::Near))
                return;
        } else {
            bool figures = false;
            if (!ServeZyxelFigures(command, figures))
                return;
            if (!figures && !SendText("invalid command\r\n"))
                return;
        }
    }
}

} // namespace routersim
