#include "script_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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

}  // namespace

ScriptStep SendBytes(std::string Bytes) { return {ScriptStep::Send, std::move(Bytes), 0}; }
ScriptStep PauseMs(int Ms) { return {ScriptStep::Pause, {}, Ms}; }
ScriptStep ExpectBytes(std::string Bytes) { return {ScriptStep::Expect, std::move(Bytes), 0}; }
ScriptStep CloseConnection() { return {ScriptStep::Close, {}, 0}; }
ScriptStep ReadToEnd() { return {ScriptStep::ReadToEnd, {}, 0}; }

std::string B(std::initializer_list<int> Values)
{
    std::string Result;
    for (const int V : Values)
        Result += static_cast<char>(static_cast<unsigned char>(V));
    return Result;
}

ScriptServer::ScriptServer(std::vector<Script> Scripts, const std::string& Host, bool WatchForExtra)
    : FScripts(std::move(Scripts)), FWatchForExtra(WatchForExtra), FReceived(FScripts.size()),
      FSawClose(FScripts.size(), false)
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
        inet_pton(AF_INET6, Host.c_str(), &A->sin6_addr);
        Length = sizeof *A;
    } else {
        auto* A = reinterpret_cast<sockaddr_in*>(&Address);
        A->sin_family = AF_INET;
        inet_pton(AF_INET, Host.c_str(), &A->sin_addr);
        Length = sizeof *A;
    }
    if (::bind(FListener, reinterpret_cast<sockaddr*>(&Address), Length) != 0
        || ::listen(FListener, 8) != 0)
        throw std::runtime_error("bind/listen on " + Host + " failed: " + std::strerror(errno));
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
        const int Connection = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
        if (Connection < 0)
            return;
        bool SawClose = false;
        Play(Connection, FScripts[I], FReceived[I], SawClose);
        FSawClose[I] = SawClose;
        ::close(Connection);
    }
    if (FWatchForExtra)
        FExtraConnection = WaitReadable(FListener, 500);
}

void ScriptServer::Play(int Connection, const Script& Steps, std::string& Got, bool& SawClose)
{
    auto ReadSome = [&](int Ms) {
        if (!WaitReadable(Connection, Ms))
            return false;
        char Chunk[4096];
        const ssize_t N = ::recv(Connection, Chunk, sizeof Chunk, 0);
        if (N <= 0) {
            SawClose = true;
            return false;
        }
        Got.append(Chunk, static_cast<std::size_t>(N));
        return true;
    };
    std::size_t ExpectFrom = 0;
    for (const ScriptStep& Step : Steps) {
        switch (Step.What) {
        case ScriptStep::Send:
            ::send(Connection, Step.Bytes.data(), Step.Bytes.size(), MSG_NOSIGNAL);
            break;
        case ScriptStep::Pause: {
            // Whatever the client sends meanwhile is recorded; if it hangs
            // up, the script has nobody left to play to.
            const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Step.Ms);
            for (;;) {
                const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    Deadline - std::chrono::steady_clock::now());
                if (Left.count() <= 0)
                    break;
                if (!ReadSome(static_cast<int>(Left.count())) && SawClose)
                    return;
            }
            break;
        }
        case ScriptStep::Expect:
            while (Got.find(Step.Bytes, ExpectFrom) == std::string::npos) {
                if (!ReadSome(StepTimeoutMs))
                    return;
            }
            ExpectFrom = Got.find(Step.Bytes, ExpectFrom) + Step.Bytes.size();
            break;
        case ScriptStep::Close:
            return;
        case ScriptStep::ReadToEnd:
            while (ReadSome(StepTimeoutMs)) {
            }
            return;
        }
    }
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
