// A small blocking telnet client for the simulator's tests, written from plain
// socket calls so the simulator is tested without the monitor's own telnet
// code. It answers negotiation as the monitor's client does (agrees to the
// server suppressing go-ahead and to send its terminal type, refuses all
// else), strips commands from the data, turns a doubled 255 into one, and
// keeps every raw byte for tests that look at the wire.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>

class TelnetProbe {
public:
    TelnetProbe() = default;
    ~TelnetProbe() { Close(); }
    TelnetProbe(const TelnetProbe&) = delete;
    TelnetProbe& operator=(const TelnetProbe&) = delete;

    bool Connect(const std::string& address, int port)
    {
        Close();
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1)
            return false;
        FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        return FFd >= 0 && ::connect(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }

    void Close()
    {
        if (FFd >= 0)
            ::close(FFd);
        FFd = -1;
    }

    // Close with a reset instead of an orderly end.
    void Abort()
    {
        if (FFd < 0)
            return;
        linger l{1, 0};
        ::setsockopt(FFd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        Close();
    }

    void Send(const std::string& text)
    {
        std::string wire;
        for (char c : text) {
            wire += c;
            if (static_cast<unsigned char>(c) == 255)
                wire += c;
        }
        SendRaw(wire);
    }

    void SendRaw(const std::string& bytes)
    {
        if (FFd >= 0)
            ::send(FFd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }

    // The data before the first `terminator`, which is consumed; nothing when
    // it did not come within `timeoutMs` of the last packet or the peer closed
    // first (what did come stays for the next call).
    std::optional<std::string> ReceiveUntil(const std::string& terminator, int timeoutMs = 20000)
    {
        for (;;) {
            const auto at = FData.find(terminator);
            if (at != std::string::npos) {
                std::string before = FData.substr(0, at);
                FData.erase(0, at + terminator.size());
                return before;
            }
            if (!ReadPacket(timeoutMs))
                return std::nullopt;
        }
    }

    // Reads until the peer closes; false if it was still open after `timeoutMs`.
    bool WaitForClose(int timeoutMs = 20000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!FPeerClosed) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now()).count();
            if (left <= 0)
                return false;
            ReadPacket(static_cast<int>(left));
        }
        return true;
    }

    // Reads whatever arrives until `bytes` data bytes are pending or the wait
    // for one packet runs out.
    void ReadAtLeast(std::size_t bytes, int timeoutMs = 20000)
    {
        while (FData.size() < bytes && ReadPacket(timeoutMs)) {
        }
    }

    bool PeerClosed() const { return FPeerClosed; }
    const std::string& Pending() const { return FData; }
    const std::string& Wire() const { return FWire; }
    std::string& TerminalType() { return FTermType; }

private:
    enum class State { Data, Iac, Will, Wont, Do, Dont, SbOption, SbData, SbIac };

    bool ReadPacket(int timeoutMs)
    {
        if (FFd < 0 || FPeerClosed)
            return false;
        pollfd p{FFd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return false;
        char buf[65536];
        const auto n = ::recv(FFd, buf, sizeof buf, 0);
        if (n <= 0) {
            FPeerClosed = true;
            return false;
        }
        FWire.append(buf, static_cast<std::size_t>(n));
        for (ssize_t i = 0; i < n; ++i)
            Feed(static_cast<unsigned char>(buf[i]));
        return true;
    }

    void Answer(unsigned char verb, unsigned char option)
    {
        SendRaw(std::string{'\xff', static_cast<char>(verb), static_cast<char>(option)});
    }

    void Feed(unsigned char b)
    {
        switch (FState) {
        case State::Data:
            if (b == 255)
                FState = State::Iac;
            else
                FData += static_cast<char>(b);
            break;
        case State::Iac:
            FState = State::Data;
            if (b == 255) FData += '\xff';
            else if (b == 251) FState = State::Will;
            else if (b == 252) FState = State::Wont;
            else if (b == 253) FState = State::Do;
            else if (b == 254) FState = State::Dont;
            else if (b == 250) { FSub.clear(); FState = State::SbOption; }
            break;
        case State::Will: Answer(b == 3 ? 253 : 254, b); FState = State::Data; break;
        case State::Wont: Answer(254, b); FState = State::Data; break;
        case State::Do: Answer(b == 24 ? 251 : 252, b); FState = State::Data; break;
        case State::Dont: Answer(252, b); FState = State::Data; break;
        case State::SbOption: FSubOption = b; FState = State::SbData; break;
        case State::SbData:
            if (b == 255) FState = State::SbIac;
            else FSub += static_cast<char>(b);
            break;
        case State::SbIac:
            FState = State::Data;
            if (b == 255) { FSub += '\xff'; FState = State::SbData; }
            else if (b == 240 && FSubOption == 24 && !FSub.empty() && FSub[0] == 1)
                SendRaw(std::string("\xff\xfa\x18\x00", 4) + FTermType + "\xff\xf0");
            break;
        }
    }

    int FFd = -1;
    bool FPeerClosed = false;
    State FState = State::Data;
    unsigned char FSubOption = 0;
    std::string FSub;
    std::string FData;
    std::string FWire;
    std::string FTermType = "TIRVANE";
};
