// Telnet client over a blocking TCP socket.
//
// RFC 854  telnet protocol: IAC command bytes, option negotiation
//          (WILL/WONT/DO/DONT) and sub-negotiation (SB ... IAC SE).
// RFC 857  echo option (1): refused, the router's echo is plain data to us.
// RFC 858  suppress go-ahead option (3): accepted from the server.
// RFC 1091 terminal type option (24): we offer ours when asked (SEND -> IS).
#include "telnet/telnet_session.h"

namespace {

constexpr unsigned char IAC = 255;
constexpr unsigned char DONT = 254;
constexpr unsigned char DO = 253;
constexpr unsigned char WONT = 252;
constexpr unsigned char WILL = 251;
constexpr unsigned char SB = 250;
constexpr unsigned char SE = 240;
constexpr unsigned char OptionSuppressGoAhead = 3;
constexpr unsigned char OptionTerminalType = 24;
constexpr unsigned char TerminalTypeSend = 1;
constexpr unsigned char TerminalTypeIs = 0;

std::string Bytes(std::initializer_list<unsigned char> List)
{
    return std::string(List.begin(), List.end());
}

}  // namespace

// ------------------------------------------------------------------ TNetClient

TNetClient::TNetClient()
    : FTargetHost("127.0.0.1"), FTargetPort("0"), FIPInterface("0.0.0.0"), FTimeout(5000)
{
}

TNetClient::~TNetClient() = default;

// -------------------------------------------------------------- TTelnetMachine

std::string TTelnetMachine::Negotiate(const std::string& Chunk, const AnswerSink& Sink)
{
    std::string Result;
    Result.reserve(Chunk.size());
    for (const char Raw : Chunk) {
        const auto Byte = static_cast<unsigned char>(Raw);
        unsigned char Reply = 0;
        switch (NegState) {
        case TTelnetState::Data:
            // Plain data, unless IAC announces a command.
            if (Byte == IAC)
                NegState = TTelnetState::Iac;
            else
                Result += Raw;
            break;

        case TTelnetState::Iac:
            // The byte after IAC: the command itself.
            NegState = TTelnetState::Data;
            switch (Byte) {
            case IAC:  // IAC IAC is one data byte 255
                Result += Raw;
                break;
            case SB:  // sub-negotiation begins; its option comes next
                SubData.clear();
                SubOption = 0;
                NegState = TTelnetState::IacSb;
                break;
            case WILL:
                NegState = TTelnetState::IacWill;
                break;
            case WONT:
                NegState = TTelnetState::IacWont;
                break;
            case DO:
                NegState = TTelnetState::IacDo;
                break;
            case DONT:
                NegState = TTelnetState::IacDont;
                break;
            default:  // NOP, go-ahead, end of record, a stray SE...: nothing to do
                break;
            }
            break;

        case TTelnetState::IacWill:
            // The server offers to perform this option: we want it to
            // suppress go-ahead, and nothing else (not even echo).
            Reply = Byte == OptionSuppressGoAhead ? DO : DONT;
            NegState = TTelnetState::Data;
            break;

        case TTelnetState::IacWont:
            // The server will not perform this option: confirm.
            Reply = DONT;
            NegState = TTelnetState::Data;
            break;

        case TTelnetState::IacDo:
            // The server asks us to perform this option: only the terminal
            // type is something we can do.
            Reply = Byte == OptionTerminalType ? WILL : WONT;
            NegState = TTelnetState::Data;
            break;

        case TTelnetState::IacDont:
            // The server tells us not to perform this option: confirm.
            Reply = WONT;
            NegState = TTelnetState::Data;
            break;

        case TTelnetState::IacSb:
            // The option the sub-negotiation is about.
            SubOption = Byte;
            NegState = TTelnetState::SbData;
            break;

        case TTelnetState::SbData:
            // Sub-negotiation payload, until IAC; beyond the limit dropped.
            if (Byte == IAC)
                NegState = TTelnetState::SbDataIac;
            else if (SubData.size() < SubDataLimit)
                SubData += Raw;
            break;

        case TTelnetState::SbDataIac:
            // IAC inside a sub-negotiation: SE ends it, IAC IAC is one 255
            // of payload, anything else abandons it.
            if (Byte == SE) {
                std::string Payload;
                if (SubOption == OptionTerminalType && !SubData.empty()
                    && static_cast<unsigned char>(SubData[0]) == TerminalTypeSend) {
                    Payload += static_cast<char>(TerminalTypeIs);
                    Payload += TermType;
                }
                Sink(Bytes({IAC, SB, SubOption}) + Payload + Bytes({IAC, SE}));
                NegState = TTelnetState::Data;
            } else if (Byte == IAC) {
                if (SubData.size() < SubDataLimit)
                    SubData += Raw;
                NegState = TTelnetState::SbData;
            } else {
                NegState = TTelnetState::Data;
            }
            break;
        }
        if (Reply != 0)
            Sink(Bytes({IAC, Reply, Byte}));
    }
    return Result;
}

// ----------------------------------------------------------------- TTelnetSend

TTelnetSend::TTelnetSend() : FSock(std::make_unique<TTCPBlockSocket>())
{
    FSock->SetOnReadFilter([this](TBlockSocket* Sender, std::string& Value) {
        FilterReceived(Sender, Value);
    });
    FTimeout = 60000;
    FTargetPort = "23";
    FMachine.SubData.clear();
    FMachine.SubOption = 0;
    FMachine.TermType = "TIRVANE";
}

TTelnetSend::~TTelnetSend()
{
    // Close while both this object and its socket are whole: the close reads
    // what is still pending through FilterReceived, which may answer on the
    // socket. Once the owning pointer is being reset it no longer points at it.
    FSock->Close();
    FSock.reset();
}

bool TTelnetSend::Login()
{
    // The old connection is closed first: its last bytes are read through
    // the negotiation, and may stop in the middle of a command. The new
    // connection then starts from plain data with a log of its own.
    FSock->Close();
    FSessionLog.clear();
    FMachine.NegState = TTelnetState::Data;
    FSock->SetInBuffer("");
    FSock->Bind(FIPInterface, "0");
    FSock->Connect(FTargetHost, FTargetPort);
    return FSock->LastError() == 0;
}

void TTelnetSend::Logout()
{
    FSock->Close();
}

void TTelnetSend::Send(const std::string& Value)
{
    std::string Doubled;
    Doubled.reserve(Value.size());
    for (const char C : Value) {
        Doubled += C;
        if (static_cast<unsigned char>(C) == IAC)
            Doubled += C;
    }
    FSock->SendText(Doubled);
}

bool TTelnetSend::WaitFor(const std::string& Value)
{
    return !FSock->ReceiveUntil(FTimeout, Value).empty();
}

std::string TTelnetSend::ReceiveUntil(const std::string& Value)
{
    return FSock->ReceiveUntil(FTimeout, Value);
}

void TTelnetSend::SetDeadline(std::optional<TDeadline> Value)
{
    FDeadline = Value;
    if (!FDeadline) {
        FSock->SetHeartbeatRate(0);
        FSock->SetOnHeartbeat(nullptr);
        return;
    }
    // The socket's heartbeat looks at the clock during every wait and before
    // every send and read; past the deadline it asks the socket to stop.
    FSock->SetHeartbeatRate(DeadlineBeatMs);
    FSock->SetOnHeartbeat([this](TBlockSocket* Sender) {
        if (FDeadline && std::chrono::steady_clock::now() >= *FDeadline)
            Sender->SetStopFlag(true);
    });
}

void TTelnetSend::FilterReceived(TBlockSocket* Sender, std::string& Value)
{
    (void)Sender;
    Value = Negotiate(Value);
    FSessionLog += Value;
    if (FSessionLog.size() > SessionLogLimit)
        FSessionLog.erase(0, FSessionLog.size() - SessionLogLimit);
}

std::string TTelnetSend::Negotiate(const std::string& Value)
{
    return FMachine.Negotiate(Value, [this](const std::string& Answer) { FSock->SendText(Answer); });
}

void TTelnetSend::SetSessionLog(const std::string& Value)
{
    FSessionLog = Value.size() > SessionLogLimit ? Value.substr(Value.size() - SessionLogLimit) : Value;
}
