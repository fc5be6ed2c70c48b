// Loopback peers for tests and benchmarks, written from plain socket calls so
// they share nothing with the monitor's own socket code.
//
// ScriptServer: a thread that accepts connections one after another and
// plays a script on each, recording every byte the client sent. Scripts are
// lists of steps: send bytes, pause, read until some bytes have arrived,
// close, read until the client closes, answer every request line, or flood.
//
// LoopbackClient: the other end, a connection to a loopback server that
// reads with time-outs and keeps what came for the next call.
#pragma once

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

struct ScriptStep {
    enum Kind { Send, Pause, Expect, Close, ReadToEnd, Reply, Flood };
    Kind What;
    std::string Bytes;  // Send: what to send; Expect: what to wait for;
                        // Reply: what ends a request; Flood: the block sent again and again
    int Ms = 0;         // Pause: how long
    std::string Answer; // Reply: what each request gets
    std::size_t Cap = 0; // Flood: the most bytes sent
};

ScriptStep SendBytes(std::string Bytes);
ScriptStep PauseMs(int Ms);
ScriptStep ExpectBytes(std::string Bytes);
ScriptStep CloseConnection();
ScriptStep ReadToEnd();
// Answers every request ending in `Terminator` with `Answer`, with no delay
// for small packets, until the client closes.
ScriptStep ReplyToEach(std::string Terminator, std::string Answer);
// Sends `Block` over and over as fast as the client takes it, until `Cap`
// bytes are sent or the client closes.
ScriptStep FloodWith(std::string Block, std::size_t Cap);

using Script = std::vector<ScriptStep>;

class ScriptServer {
public:
    // Listens on Host (a loopback address) at Port (0: a free one) and serves
    // one connection per script, in order. With WatchForExtra it then looks a
    // little longer for a connection nobody scripted.
    explicit ScriptServer(std::vector<Script> Scripts, const std::string& Host = "127.0.0.1",
                          bool WatchForExtra = false, int Port = 0);
    ~ScriptServer();
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    std::string Port() const { return std::to_string(FPort); }
    // Waits for every script to finish; the bytes each connection received.
    std::vector<std::string> Received();
    // After Received(), with WatchForExtra: whether another connection came.
    bool ExtraConnectionSeen() const { return FExtraConnection; }
    // After Received(): whether each connection saw the client close in
    // order (its end of the stream), and whether it saw a reset instead.
    std::vector<bool> SawClientClose() const { return FSawClose; }
    std::vector<bool> SawClientReset() const { return FSawReset; }
    // After Received(): the bytes each connection's flood step sent.
    std::vector<std::size_t> Flooded() const { return FFlooded; }

private:
    struct TConnection;
    void Run();
    void Play(TConnection& Connection, const Script& Steps);

    std::vector<Script> FScripts;
    bool FWatchForExtra = false;
    int FListener = -1;
    int FPort = 0;
    std::thread FThread;
    std::vector<std::string> FReceived;
    std::vector<bool> FSawClose;
    std::vector<bool> FSawReset;
    std::vector<std::size_t> FFlooded;
    bool FExtraConnection = false;
    bool FJoined = false;
};

// A listener on 127.0.0.1 that never accepts. Full: its one place in the
// queue is taken by a connection of its own, so a client's connection
// attempt gets no answer at all; otherwise a client connects and then finds
// nobody reading.
class SilentListener {
public:
    explicit SilentListener(bool Full);
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    std::string Port() const { return std::to_string(FPort); }

private:
    int FListener = -1;
    int FFiller = -1;
    int FPort = 0;
};

class LoopbackClient {
public:
    LoopbackClient() = default;
    virtual ~LoopbackClient() { Close(); }
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    // An IPv4 address and port.
    bool Connect(const std::string& Address, int Port);
    void Close();
    // Close with a reset instead of an orderly end.
    void Abort();
    void SendRaw(const std::string& Bytes);

    // The data before the first `Terminator`, which is consumed; nothing when
    // it did not come within `TimeoutMs` of the last packet or the peer closed
    // first (what did come stays for the next call). A negative time-out
    // blocks in the read itself, with no wait for readiness before it.
    std::optional<std::string> ReceiveUntil(const std::string& Terminator, int TimeoutMs = 20000);
    // Reads until the peer closes; false if it was still open after `TimeoutMs`.
    bool WaitForClose(int TimeoutMs = 20000);
    // Reads whatever arrives until `Bytes` data bytes are pending or the wait
    // for one packet runs out.
    void ReadAtLeast(std::size_t Bytes, int TimeoutMs = 20000);

    int Fd() const { return FFd; }
    bool PeerClosed() const { return FPeerClosed; }
    const std::string& Pending() const { return FData; }

protected:
    // Turns bytes off the connection into data; plain data by default.
    virtual void Take(const char* Bytes, std::size_t Count) { FData.append(Bytes, Count); }
    std::string FData;

private:
    bool ReadPacket(int TimeoutMs);

    int FFd = -1;
    bool FPeerClosed = false;
    std::string FChunk;
};

// Bytes from a list of values 0..255, so test tables read like the wire.
std::string B(std::initializer_list<int> Values);
// A port on 127.0.0.1 where nothing listens (bound, then closed again).
std::string UnusedPort();

namespace telnet_test {
// Table rows print as their names in test output, not as raw bytes. Bring it
// into a test file's namespace with `using telnet_test::PrintTo;`.
template <typename Row>
    requires requires(const Row& R) { R.Name; }
void PrintTo(const Row& R, std::ostream* Out)
{
    *Out << R.Name;
}
}  // namespace telnet_test
