// Telnet client costs, measured side by side in one run:
//  - the negotiation machine over a router-sized reply, fed whole against
//    fed a byte per read (the worst a router can do to us);
//  - one command/reply exchange over loopback through the telnet session
//    against the same exchange over a bare socket, which shows what the
//    layer (readiness wait, pending count, read filter, line buffer) adds.
// Run inside a private network namespace with loopback only.
#include "support/loopback_peer.h"
#include "telnet/telnet_session.h"

#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <string>

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
ScriptServer ReplyServer() { return ScriptServer({{ReplyToEach("\r\n", RouterReply())}}); }

void BM_ExchangeTelnetSession(benchmark::State& State)
{
    ScriptServer Server = ReplyServer();
    TTelnetSend Telnet;
    Telnet.SetTargetHost("127.0.0.1");
    Telnet.SetTargetPort(Server.Port());
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
    ScriptServer Server = ReplyServer();
    LoopbackClient Client;
    if (!Client.Connect("127.0.0.1", std::stoi(Server.Port()))) {
        State.SkipWithError("connect failed");
        return;
    }
    const int One = 1;
    setsockopt(Client.Fd(), IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
    for (auto _ : State) {
        Client.SendRaw("x\r\n");
        // A plain blocking read, no readiness wait: the bare cost.
        benchmark::DoNotOptimize(Client.ReceiveUntil("ras>", -1));
    }
}
BENCHMARK(BM_ExchangeBareSocket)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
