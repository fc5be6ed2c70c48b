// Telnet client costs, measured side by side in one run:
//  - the negotiation machine over a router-sized reply, fed whole against
//    fed a byte per read (the worst a router can do to us);
//  - one command/reply exchange over loopback through the telnet session
//    against the same exchange over a bare socket, which shows what the
//    layer (readiness wait, pending count, read filter, line buffer) adds.
// Run inside a private network namespace with loopback only.
#include "telnet/telnet_session.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

namespace {

// A far-end reply's shape: header, 16 table lines of 32 tones, prompt.
std::string RouterReply()
{
    std::string Reply = "wan adsl linedata far\r\nnoise margin downstream: 12.3 db\r\n"
                        "output power upstream: 12 db\r\nattenuation downstream: 40.0 db\r\n\r\n";
    for (int Line = 0; Line < 16; ++Line) {
        char Head[32];
        std::snprintf(Head, sizeof Head, "tone %3d-%3d: ", Line * 32, Line * 32 + 31);
        Reply += Head;
        for (int Tone = 0; Tone < 16; ++Tone)
            Reply += "88 ";
        Reply += "\r\n";
    }
    // A few doubled 255s, as a data byte 255 would arrive.
    Reply += std::string("\xff\xff\xff\xff", 4);
    Reply += "\r\nras>";
    return Reply;
}

void BM_NegotiateWhole(benchmark::State& State)
{
    const std::string Reply = RouterReply();
    TTelnetMachine Machine;
    const auto Sink = [](const std::string&) {};
    for (auto _ : State)
        benchmark::DoNotOptimize(Machine.Negotiate(Reply, Sink));
    State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) * static_cast<std::int64_t>(Reply.size()));
}
BENCHMARK(BM_NegotiateWhole);

void BM_NegotiateBytewise(benchmark::State& State)
{
    const std::string Reply = RouterReply();
    TTelnetMachine Machine;
    const auto Sink = [](const std::string&) {};
    for (auto _ : State) {
        std::string Data;
        for (const char C : Reply)
            Data += Machine.Negotiate(std::string(1, C), Sink);
        benchmark::DoNotOptimize(Data);
    }
    State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) * static_cast<std::int64_t>(Reply.size()));
}
BENCHMARK(BM_NegotiateBytewise);

// Answers every "x\r\n" with the router reply, until the client hangs up.
class ReplyServer {
public:
    ReplyServer() : FReply(RouterReply())
    {
        FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in A{};
        A.sin_family = AF_INET;
        A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t Length = sizeof A;
        ::bind(FListener, reinterpret_cast<sockaddr*>(&A), Length);
        ::listen(FListener, 4);
        getsockname(FListener, reinterpret_cast<sockaddr*>(&A), &Length);
        FPort = ntohs(A.sin_port);
        FThread = std::thread([this] { Serve(); });
    }
    ~ReplyServer()
    {
        FThread.join();
        ::close(FListener);
    }
    int Port() const { return FPort; }

private:
    void Serve()
    {
        const int C = ::accept(FListener, nullptr, nullptr);
        const int One = 1;
        setsockopt(C, IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
        std::string Got;
        char Buffer[256];
        for (;;) {
            const ssize_t N = ::recv(C, Buffer, sizeof Buffer, 0);
            if (N <= 0)
                break;
            Got.append(Buffer, static_cast<std::size_t>(N));
            for (auto At = Got.find("\r\n"); At != std::string::npos; At = Got.find("\r\n")) {
                Got.erase(0, At + 2);
                ::send(C, FReply.data(), FReply.size(), MSG_NOSIGNAL);
            }
        }
        ::close(C);
    }

    std::string FReply;
    int FListener = -1;
    int FPort = 0;
    std::thread FThread;
};

void BM_ExchangeTelnetSession(benchmark::State& State)
{
    ReplyServer Server;
    TTelnetSend Telnet;
    Telnet.SetTargetHost("127.0.0.1");
    Telnet.SetTargetPort(std::to_string(Server.Port()));
    Telnet.SetTimeout(10000);
    if (!Telnet.Login()) {
        State.SkipWithError("login failed");
        return;
    }
    const int One = 1;
    setsockopt(Telnet.Sock().Socket(), IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
    for (auto _ : State) {
        Telnet.Send("x\r\n");
        benchmark::DoNotOptimize(Telnet.ReceiveUntil("ras>"));
    }
    Telnet.Logout();
}
BENCHMARK(BM_ExchangeTelnetSession)->UseRealTime();

void BM_ExchangeBareSocket(benchmark::State& State)
{
    ReplyServer Server;
    const int S = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    A.sin_port = htons(static_cast<std::uint16_t>(Server.Port()));
    if (::connect(S, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0) {
        State.SkipWithError("connect failed");
        ::close(S);
        return;
    }
    const int One = 1;
    setsockopt(S, IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
    char Buffer[65536];
    for (auto _ : State) {
        ::send(S, "x\r\n", 3, MSG_NOSIGNAL);
        std::string Got;
        while (Got.find("ras>") == std::string::npos) {
            const ssize_t N = ::recv(S, Buffer, sizeof Buffer, 0);
            if (N <= 0)
                break;
            Got.append(Buffer, static_cast<std::size_t>(N));
        }
        benchmark::DoNotOptimize(Got);
    }
    ::shutdown(S, SHUT_WR);
    ::close(S);
}
BENCHMARK(BM_ExchangeBareSocket)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
