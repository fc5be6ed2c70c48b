#include "support/loopback_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

namespace {

// Generous, for a loaded machine: a script step that waits longer than this
// means the client is stuck, and the test fails rather than hangs.
constexpr int StepTimeoutMs = 20000;

bool WaitReadable(int Fd, int Ms)
{
    pollfd Set{Fd, POLLIN, 0};
    return ::poll(&Set, 1, Ms) > 0;
}

// Closed: the client ended its side in order (a read of 0 bytes); Reset:
// the read failed, as it does when the client dropped the connection.
enum class TRead { Got, TimedOut, Closed, Reset };

// One recv appended to Into, after waiting up to Ms for it (a negative Ms:
// no wait, the read itself blocks).
TRead ReadInto(int Fd, std::string& Into, int Ms)
{
    if (Ms >= 0 && !WaitReadable(Fd, Ms))
        return TRead::TimedOut;
    char Chunk[65536];
    const ssize_t N = ::recv(Fd, Chunk, sizeof Chunk, 0);
    if (N == 0)
        return TRead::Closed;
    if (N < 0)
        return TRead::Reset;
    Into.append(Chunk, static_cast<std::size_t>(N));
    return TRead::Got;
}

int MsLeft(std::chrono::steady_clock::time_point Deadline)
{
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
        Deadline - std::chrono::steady_clock::now()).count());
}

}  // namespace

ScriptStep SendBytes(std::string Bytes) { return {ScriptStep::Send, std::move(Bytes), 0, {}, 0}; }
ScriptStep PauseMs(int Ms) { return {ScriptStep::Pause, {}, Ms, {}, 0}; }
ScriptStep ExpectBytes(std::string Bytes) { return {ScriptStep::Expect, std::move(Bytes), 0, {}, 0}; }
ScriptStep CloseConnection() { return {ScriptStep::Close, {}, 0, {}, 0}; }
ScriptStep ReadToEnd() { return {ScriptStep::ReadToEnd, {}, 0, {}, 0}; }
ScriptStep ReplyToEach(std::string Terminator, std::string Answer)
{
    return {ScriptStep::Reply, std::move(Terminator), 0, std::move(Answer), 0};
}
ScriptStep FloodWith(std::string Block, std::size_t Cap)
{
    return {ScriptStep::Flood, std::move(Block), 0, {}, Cap};
}

std::string B(std::initializer_list<int> Values)
{
    std::string Result;
    for (const int V : Values)
        Result += static_cast<char>(static_cast<unsigned char>(V));
    return Result;
}

// One accepted connection while its script plays.
struct ScriptServer::TConnection {
    int Fd = -1;
    std::string Got;
    bool SawClose = false;
    bool SawReset = false;
    std::size_t Flooded = 0;

    // Reads one chunk into Got; false on time-out or when the client has gone.
    bool ReadSome(int Ms)
    {
        const TRead Result = ReadInto(Fd, Got, Ms);
        SawClose = SawClose || Result == TRead::Closed;
        SawReset = SawReset || Result == TRead::Reset;
        return Result == TRead::Got;
    }
    bool Gone() const { return SawClose || SawReset; }
};

ScriptServer::ScriptServer(std::vector<Script> Scripts, const std::string& Host, bool WatchForExtra, int Port)
    : FScripts(std::move(Scripts)), FWatchForExtra(WatchForExtra), FReceived(FScripts.size()),
      FSawClose(FScripts.size(), false), FSawReset(FScripts.size(), false), FFlooded(FScripts.size(), 0)
{
    const bool V6 = Host.find(':') != std::string::npos;
    FListener = ::socket(V6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FListener < 0)
        throw std::runtime_error("socket failed");
    const int One = 1;
    setsockopt(FListener, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One);
    sockaddr_storage Address{};
    socklen_t Length;
    if (V6) {
        auto* A = reinterpret_cast<sockaddr_in6*>(&Address);
        A->sin6_family = AF_INET6;
        A->sin6_port = htons(static_cast<std::uint16_t>(Port));
        inet_pton(AF_INET6, Host.c_str(), &A->sin6_addr);
        Length = sizeof *A;
    } else {
        auto* A = reinterpret_cast<sockaddr_in*>(&Address);
        A->sin_family = AF_INET;
        A->sin_port = htons(static_cast<std::uint16_t>(Port));
        inet_pton(AF_INET, Host.c_str(), &A->sin_addr);
        Length = sizeof *A;
    }
    if (::bind(FListener, reinterpret_cast<sockaddr*>(&Address), Length) != 0
        || ::listen(FListener, 8) != 0) {
        const std::string Why = std::strerror(errno);
        ::close(FListener);
        throw std::runtime_error("bind/listen on " + Host + " failed: " + Why);
    }
    getsockname(FListener, reinterpret_cast<sockaddr*>(&Address), &Length);
    FPort = V6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&Address)->sin6_port)
               : ntohs(reinterpret_cast<sockaddr_in*>(&Address)->sin_port);
    FThread = std::thread([this] { Run(); });
}

ScriptServer::~ScriptServer()
{
    Received();
    ::close(FListener);
}

std::vector<std::string> ScriptServer::Received()
{
    if (!FJoined && FThread.joinable())
        FThread.join();
    FJoined = true;
    return FReceived;
}

void ScriptServer::Run()
{
    for (std::size_t I = 0; I < FScripts.size(); ++I) {
        if (!WaitReadable(FListener, StepTimeoutMs))
            return;
        TConnection Connection;
        Connection.Fd = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
        if (Connection.Fd < 0)
            return;
        Play(Connection, FScripts[I]);
        ::close(Connection.Fd);
        FReceived[I] = std::move(Connection.Got);
        FSawClose[I] = Connection.SawClose;
        FSawReset[I] = Connection.SawReset;
        FFlooded[I] = Connection.Flooded;
    }
    if (FWatchForExtra)
        FExtraConnection = WaitReadable(FListener, 500);
}

void ScriptServer::Play(TConnection& C, const Script& Steps)
{
    std::size_t ExpectFrom = 0;
    for (const ScriptStep& Step : Steps) {
        switch (Step.What) {
        case ScriptStep::Send:
            ::send(C.Fd, Step.Bytes.data(), Step.Bytes.size(), MSG_NOSIGNAL);
            break;
        case ScriptStep::Pause: {
            // Whatever the client sends meanwhile is recorded; if it hangs
            // up, the script has nobody left to play to.
            const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Step.Ms);
            for (int Left = MsLeft(Deadline); Left > 0; Left = MsLeft(Deadline)) {
                if (!C.ReadSome(Left) && C.Gone())
                    return;
            }
            break;
        }
        case ScriptStep::Expect:
            while (C.Got.find(Step.Bytes, ExpectFrom) == std::string::npos) {
                if (!C.ReadSome(StepTimeoutMs))
                    return;
            }
            ExpectFrom = C.Got.find(Step.Bytes, ExpectFrom) + Step.Bytes.size();
            break;
        case ScriptStep::Close:
            return;
        case ScriptStep::ReadToEnd:
            while (C.ReadSome(StepTimeoutMs)) {
            }
            return;
        case ScriptStep::Reply: {
            const int One = 1;
            setsockopt(C.Fd, IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
            for (;;) {
                for (auto At = C.Got.find(Step.Bytes, ExpectFrom); At != std::string::npos;
                     At = C.Got.find(Step.Bytes, ExpectFrom)) {
                    ExpectFrom = At + Step.Bytes.size();
                    ::send(C.Fd, Step.Answer.data(), Step.Answer.size(), MSG_NOSIGNAL);
                }
                if (!C.ReadSome(StepTimeoutMs))
                    return;
            }
        }
        case ScriptStep::Flood:
            while (C.Flooded < Step.Cap) {
                const ssize_t N = ::send(C.Fd, Step.Bytes.data(), Step.Bytes.size(), MSG_NOSIGNAL);
                if (N <= 0) {
                    // Sending fails once the client has dropped the
                    // connection with our bytes unread.
                    C.SawReset = true;
                    return;
                }
                C.Flooded += static_cast<std::size_t>(N);
            }
            break;
        }
    }
}

SilentListener::SilentListener(bool Full)
{
    FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Length = sizeof A;
    if (FListener < 0 || ::bind(FListener, reinterpret_cast<sockaddr*>(&A), Length) != 0
        || ::listen(FListener, Full ? 0 : 4) != 0)
        throw std::runtime_error("silent listener: cannot listen");
    ::getsockname(FListener, reinterpret_cast<sockaddr*>(&A), &Length);
    FPort = ntohs(A.sin_port);
    if (Full) {
        // A backlog of 0 leaves room for one connection, and this one takes
        // it for good.
        FFiller = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (FFiller < 0 || ::connect(FFiller, reinterpret_cast<sockaddr*>(&A), Length) != 0)
            throw std::runtime_error("silent listener: cannot fill the queue");
    }
}

SilentListener::~SilentListener()
{
    if (FFiller >= 0)
        ::close(FFiller);
    ::close(FListener);
}

std::string UnusedPort()
{
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Length = sizeof A;
    ::bind(Fd, reinterpret_cast<sockaddr*>(&A), Length);
    getsockname(Fd, reinterpret_cast<sockaddr*>(&A), &Length);
    ::close(Fd);
    return std::to_string(ntohs(A.sin_port));
}

bool LoopbackClient::Connect(const std::string& Address, int Port)
{
    Close();
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_port = htons(static_cast<std::uint16_t>(Port));
    if (inet_pton(AF_INET, Address.c_str(), &A.sin_addr) != 1)
        return false;
    FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return FFd >= 0 && ::connect(FFd, reinterpret_cast<sockaddr*>(&A), sizeof A) == 0;
}

void LoopbackClient::Close()
{
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
}

void LoopbackClient::Abort()
{
    if (FFd < 0)
        return;
    linger L{1, 0};
    ::setsockopt(FFd, SOL_SOCKET, SO_LINGER, &L, sizeof L);
    Close();
}

void LoopbackClient::SendRaw(const std::string& Bytes)
{
    if (FFd >= 0)
        ::send(FFd, Bytes.data(), Bytes.size(), MSG_NOSIGNAL);
}

std::optional<std::string> LoopbackClient::ReceiveUntil(const std::string& Terminator, int TimeoutMs)
{
    for (;;) {
        const auto At = FData.find(Terminator);
        if (At != std::string::npos) {
            std::string Before = FData.substr(0, At);
            FData.erase(0, At + Terminator.size());
            return Before;
        }
        if (!ReadPacket(TimeoutMs))
            return std::nullopt;
    }
}

bool LoopbackClient::WaitForClose(int TimeoutMs)
{
    const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (!FPeerClosed) {
        const int Left = MsLeft(End);
        if (Left <= 0)
            return false;
        ReadPacket(Left);
    }
    return true;
}

void LoopbackClient::ReadAtLeast(std::size_t Bytes, int TimeoutMs)
{
    while (FData.size() < Bytes && ReadPacket(TimeoutMs)) {
    }
}

bool LoopbackClient::ReadPacket(int TimeoutMs)
{
    if (FFd < 0 || FPeerClosed)
        return false;
    FChunk.clear(); // keeps its room: no allocation per read
    const TRead Result = ReadInto(FFd, FChunk, TimeoutMs);
    FPeerClosed = Result == TRead::Closed;
    Take(FChunk.data(), FChunk.size());
    return Result == TRead::Got;
}
