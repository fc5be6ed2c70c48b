#include "router_sim/telnet_input.h"

namespace routersim {

void TelnetInput::Feed(std::string_view chunk, TelnetInputEvents& events)
{
    using namespace telnet;
    for (char c : chunk) {
        const auto b = static_cast<unsigned char>(c);
        switch (FState) {
        case State::Data:
            // Plain data, unless IAC opens a command.
            if (b == IAC)
                FState = State::Iac;
            else
                events.data.push_back(c);
            break;
        case State::Iac:
            // The byte after IAC: a command, or a second 255 standing for data.
            switch (b) {
            case IAC: events.data.push_back(c); FState = State::Data; break;
            case WILL: FState = State::Will; break;
            case WONT: FState = State::Wont; break;
            case DO: FState = State::Do; break;
            case DONT: FState = State::Dont; break;
            case SB: FSubData.clear(); FState = State::SbOption; break;
            default: FState = State::Data; break; // NOP, GA and the like
            }
            break;
        case State::Will:
            // The client offers an option of its own; only the terminal type matters.
            if (b == TTYPE)
                events.willTerminalType = true;
            FState = State::Data;
            break;
        case State::Wont:
        case State::Do:
        case State::Dont:
            // Answers to our offers; the router echoes and suppresses go-ahead
            // whatever the client says, as the real one does.
            FState = State::Data;
            break;
        case State::SbOption:
            // The option a sub-negotiation is about.
            FSubOption = b;
            FState = State::SbData;
            break;
        case State::SbData:
            // Sub-negotiation payload until IAC SE.
            if (b == IAC)
                FState = State::SbDataIac;
            else
                FSubData.push_back(c);
            break;
        case State::SbDataIac:
            // IAC SE ends the payload; IAC IAC is a 255 inside it.
            if (b == SE) {
                if (FSubOption == TTYPE && !FSubData.empty()
                    && static_cast<unsigned char>(FSubData[0]) == TTYPE_IS) {
                    events.gotTerminalType = true;
                    events.terminalType = FSubData.substr(1);
                }
                FState = State::Data;
            } else if (b == IAC) {
                FSubData.push_back(c);
                FState = State::SbData;
            } else {
                FState = State::Data;
            }
            break;
        }
    }
}

} // namespace routersim
