// A loopback TCP server for the telnet tests: a thread that accepts
// connections one after another and plays a script on each, recording every
// byte the client sent. Scripts are lists of steps: send bytes, pause, read
// until some bytes have arrived, close, or read until the client closes.
#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

struct ScriptStep {
    enum Kind { Send, Pause, Expect, Close, ReadToEnd };
    Kind What;
    std::string Bytes;  // Send: what to send; Expect: what to wait for
    int Ms = 0;         // Pause: how long
};

ScriptStep SendBytes(std::string Bytes);
ScriptStep PauseMs(int Ms);
ScriptStep ExpectBytes(std::string Bytes);
ScriptStep CloseConnection();
ScriptStep ReadToEnd();

using Script = std::vector<ScriptStep>;

class ScriptServer {
public:
    // Listens on Host (a loopback address) at a free port and serves one
    // connection per script, in order. With WatchForExtra it then looks a
    // little longer for a connection nobody scripted.
    explicit ScriptServer(std::vector<Script> Scripts, const std::string& Host = "127.0.0.1",
                          bool WatchForExtra = false);
    ~ScriptServer();
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    std::string Port() const { return std::to_string(FPort); }
    // Waits for every script to finish; the bytes each connection received.
    std::vector<std::string> Received();
    // After Received(), with WatchForExtra: whether another connection came.
    bool ExtraConnectionSeen() const { return FExtraConnection; }
    // After Received(): whether each connection saw the client close.
    std::vector<bool> SawClientClose() const { return FSawClose; }

private:
    void Run();
    void Play(int Connection, const Script& Steps, std::string& Got, bool& SawClose);

    std::vector<Script> FScripts;
    bool FWatchForExtra = false;
    int FListener = -1;
    int FPort = 0;
    std::thread FThread;
    std::vector<std::string> FReceived;
    std::vector<bool> FSawClose;
    bool FExtraConnection = false;
    bool FJoined = false;
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
