// A small blocking telnet client for the simulator's tests, on a plain
// loopback connection so the simulator is tested without the monitor's own
// telnet code. It answers negotiation as the monitor's client does (agrees
// to the server suppressing go-ahead and to send its terminal type, refuses
// all else), strips commands from the data, turns a doubled 255 into one,
// and keeps every raw byte for tests that look at the wire.
#pragma once

#include "support/loopback_peer.h"

#include <string>

class TelnetProbe : public LoopbackClient {
public:
    ~TelnetProbe() override = default;

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

    const std::string& Wire() const { return FWire; }
    std::string& TerminalType() { return FTermType; }

protected:
    void Take(const char* bytes, std::size_t count) override
    {
        FWire.append(bytes, count);
        for (std::size_t i = 0; i < count; ++i)
            Feed(static_cast<unsigned char>(bytes[i]));
    }

private:
    enum class State { Data, Iac, Will, Wont, Do, Dont, SbOption, SbData, SbIac };

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

    State FState = State::Data;
    unsigned char FSubOption = 0;
    std::string FSub;
    std::string FWire;
    std::string FTermType = "TIRVANE";
};
