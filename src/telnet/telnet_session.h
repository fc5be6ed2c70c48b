// A blocking telnet client (RFC 854) for talking to a router's command line.
//
// TTelnetSend owns one TTCPBlockSocket. It strips telnet commands from
// everything received and answers the server's option negotiation on its own,
// from inside the socket's read filter, so callers only ever see data bytes:
// it agrees to the server suppressing go-ahead (RFC 858) and to sending its
// own terminal type (RFC 1091), and refuses every other option in both
// directions, echo (RFC 857) included. Byte 255 in data is doubled on the way
// out and undoubled on the way in.
//
// Every operation blocks; failures are codes in Sock().LastError() and
// false or empty results, never exceptions (with the socket's defaults).
#pragma once

#include "telnet/block_socket.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Common to protocol clients: the target and the credentials.
class TNetClient {
public:
    TNetClient();
    virtual ~TNetClient();
    TNetClient(const TNetClient&) = delete;
    TNetClient& operator=(const TNetClient&) = delete;

    const std::string& TargetHost() const { return FTargetHost; }
    void SetTargetHost(const std::string& Value) { FTargetHost = Value; }
    const std::string& TargetPort() const { return FTargetPort; }
    void SetTargetPort(const std::string& Value) { FTargetPort = Value; }
    const std::string& IPInterface() const { return FIPInterface; }
    void SetIPInterface(const std::string& Value) { FIPInterface = Value; }
    int Timeout() const { return FTimeout; }
    void SetTimeout(int ms) { FTimeout = ms; }
    const std::string& UserName() const { return FUserName; }
    void SetUserName(const std::string& Value) { FUserName = Value; }
    const std::string& Password() const { return FPassword; }
    void SetPassword(const std::string& Value) { FPassword = Value; }

protected:
    std::string FTargetHost;
    std::string FTargetPort;
    std::string FIPInterface;
    int FTimeout;
    std::string FUserName;
    std::string FPassword;
};

// Where the negotiation parser stands between two bytes.
enum class TTelnetState { Data, Iac, IacSb, IacWill, IacWont, IacDo, IacDont, SbData, SbDataIac };

// The byte-level negotiation machine on its own, with no socket: it turns
// received chunks into data bytes and hands every answer to a sink. Its state
// lives across calls, so a command split between two reads is parsed whole.
class TTelnetMachine {
public:
    // A sub-negotiation keeps at most this many payload bytes; a peer that
    // sends more (or never ends it) has the rest dropped until IAC SE, so its
    // bytes cannot grow our memory. Ours only ever needs the first byte.
    static constexpr std::size_t SubDataLimit = 4096;

    using AnswerSink = std::function<void(const std::string& Answer)>;

    // Returns the data bytes of Chunk; each answer goes to Sink as it arises.
    std::string Negotiate(const std::string& Chunk, const AnswerSink& Sink);

    TTelnetState NegState = TTelnetState::Data;
    std::string SubData;
    unsigned char SubOption = 0;
    std::string TermType = "TIRVANE";
};

class TTelnetSend : public TNetClient {
public:
    // SessionLog keeps at most this many of the latest bytes.
    static constexpr std::size_t SessionLogLimit = 64 * 1024;
    // With a deadline, how often a blocking step looks at the clock: a step
    // ends at most this long after the deadline.
    static constexpr int DeadlineBeatMs = 25;

    using TDeadline = std::chrono::steady_clock::time_point;

    TTelnetSend();
    ~TTelnetSend() override;

    // Opens the connection (closing any previous one first); true when the
    // socket reports no error. Reads nothing from the server.
    bool Login();
    // Closes the connection; harmless when none is open.
    void Logout();
    // Sends Value with every byte 255 doubled; nothing is added.
    void Send(const std::string& Value);
    // Receives up to Value; true when some text came before it.
    bool WaitFor(const std::string& Value);
    // Receives up to Value and returns what came before it (without Value).
    std::string ReceiveUntil(const std::string& Value);

    // Every blocking step (looking up a host name, connect, send, each wait
    // for data, the drain of a close) ends at Value at the latest; once it
    // has passed, each further step fails at once. A step cut short fails
    // with 10060 or 10053 (a name lookup with 11002) and keeps what it
    // received. Empty (the default): no deadline, and the
    // socket runs without a heartbeat.
    void SetDeadline(std::optional<TDeadline> Value);
    const std::optional<TDeadline>& Deadline() const { return FDeadline; }

    TTCPBlockSocket& Sock() { return *FSock; }

    // The socket's read filter: replaces Value by its data bytes and logs them.
    void FilterReceived(TBlockSocket* Sender, std::string& Value);
    // Runs the negotiation machine over Value, answering on Sock.
    std::string Negotiate(const std::string& Value);

    TTelnetState NegState() const { return FMachine.NegState; }
    const std::string& SubData() const { return FMachine.SubData; }
    unsigned char SubOption() const { return FMachine.SubOption; }
    const std::string& TermType() const { return FMachine.TermType; }
    void SetTermType(const std::string& Value) { FMachine.TermType = Value; }
    // The latest data bytes received since the last Login (at most
    // SessionLogLimit of them, so a long session cannot grow without bound).
    const std::string& SessionLog() const { return FSessionLog; }
    void SetSessionLog(const std::string& Value);

private:
    std::unique_ptr<TTCPBlockSocket> FSock;
    TTelnetMachine FMachine;
    std::string FSessionLog;
    std::optional<TDeadline> FDeadline;
};
