// The router's side of the telnet protocol for what the client sends: data
// bytes, option negotiation (RFC 854 commands, RFC 1091 terminal type) and a
// doubled 255 standing for one data byte. The parser keeps its state between
// reads, so commands split across packets are understood.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace routersim {

namespace telnet {
constexpr unsigned char IAC = 255;
constexpr unsigned char DONT = 254;
constexpr unsigned char DO = 253;
constexpr unsigned char WONT = 252;
constexpr unsigned char WILL = 251;
constexpr unsigned char SB = 250;
constexpr unsigned char NOP = 241;
constexpr unsigned char SE = 240;
constexpr unsigned char ECHO = 1;
constexpr unsigned char SGA = 3;
constexpr unsigned char TTYPE = 24;
constexpr unsigned char TTYPE_IS = 0;
constexpr unsigned char TTYPE_SEND = 1;
} // namespace telnet

struct TelnetInputEvents {
    std::string data;           // data bytes, in order
    bool willTerminalType = false; // the client offered to send its terminal type
    bool gotTerminalType = false;
    std::string terminalType;   // the last terminal type the client reported
};

class TelnetInput {
public:
    // Parses one chunk; appends data and notes negotiation in `events`.
    void Feed(std::string_view chunk, TelnetInputEvents& events);

private:
    enum class State { Data, Iac, Will, Wont, Do, Dont, SbOption, SbData, SbDataIac };
    State FState = State::Data;
    unsigned char FSubOption = 0;
    std::string FSubData;
};

} // namespace routersim
