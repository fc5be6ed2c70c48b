#include "telnet/block_socket.h"

#include "telnet/ip_text.h"
#include "telnet/name_lookup.h"
#include "telnet/net_util.h"

#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

TTransportSecurityFactory TransportSecurityClass = [](TTCPBlockSocket& Socket) -> std::unique_ptr<TCustomSSL> {
    return std::make_unique<TSSLNone>(Socket);
};

namespace {

// The largest read handed to the system at once.
constexpr int MaxPendingBytes = 65536;

// A close reads at most this much of what the peer still sends: a peer that
// keeps sending must not hold the close for as long as it likes.
constexpr std::int64_t DrainLimit = 64 * 1024;

}  // namespace

// ---------------------------------------------------------------- TBlockSocket

TBlockSocket::TBlockSocket() = default;

TBlockSocket::~TBlockSocket()
{
    // A derived close has already run; this only releases what is left.
    TBlockSocket::Close();
}

void TBlockSocket::NotifyStatus(THookSocketReason Reason, const std::string& Value)
{
    if (FOnStatus)
        FOnStatus(this, Reason, Value);
}

void TBlockSocket::Heartbeat()
{
    if (FOnHeartbeat && FHeartbeatRate != 0)
        FOnHeartbeat(this);
}

void TBlockSocket::NotifyMonitor(bool Writing, const void* Buffer, int Len)
{
    if (FOnMonitor)
        FOnMonitor(this, Writing, Buffer, Len);
}

void TBlockSocket::NotifySocketCreated()
{
    if (FOnCreateSocket)
        FOnCreateSocket(this);
}

void TBlockSocket::ApplyReadFilter(void* Buffer, int& Length)
{
    if (!FOnReadFilter || Length <= 0)
        return;
    std::string Chunk(static_cast<const char*>(Buffer), static_cast<std::size_t>(Length));
    FOnReadFilter(this, Chunk);
    // The filter may only shorten a chunk: the buffer has no room for more.
    if (Chunk.size() > static_cast<std::size_t>(Length))
        Chunk.resize(static_cast<std::size_t>(Length));
    std::memcpy(Buffer, Chunk.data(), Chunk.size());
    Length = static_cast<int>(Chunk.size());
}

void TBlockSocket::SetLastError(int Code)
{
    FLastErrorCode = Code;
    FLastErrorText = GetErrorDescEx();
}

int TBlockSocket::CheckResult(int SysResult)
{
    const int SavedErrno = errno;
    FLastErrorCode = 0;
    if (SysResult == -1) {
        FLastErrorCode = ErrnoToSocketError(SavedErrno);
        FLastErrorText = GetErrorDescEx();
    }
    return FLastErrorCode;
}

void TBlockSocket::ReportError()
{
    FLastErrorText = GetErrorDescEx();
    if (FLastErrorCode == 0 || FLastErrorCode == ErrWouldBlock || FLastErrorCode == ErrInProgress)
        return;
    NotifyStatus(HR_Error, std::to_string(FLastErrorCode) + "," + FLastErrorText);
    if (FRaiseExcept) {
        char Message[512];
        std::snprintf(Message, sizeof Message, "TCP/IP Socket error %d: %s",
                      FLastErrorCode, FLastErrorText.c_str());
        throw ESocketError(Message, FLastErrorCode, FLastErrorText);
    }
}

bool TBlockSocket::CheckStop()
{
    Heartbeat();
    if (!FStopFlag)
        return false;
    FStopFlag = false;
    SetLastError(ErrConnAborted);
    ReportError();
    return true;
}

void TBlockSocket::Throttle(int Count, int Limit, std::uint32_t& NextTick)
{
    if (FStopFlag || Limit <= 0)
        return;
    const std::uint32_t Now = TickMs();
    if (Now < NextTick) {
        const std::uint32_t Wait = NextTick - Now;
        NotifyStatus(HR_Wait, std::to_string(Wait));
        SleepMs(static_cast<int>(Wait % 250));
        for (std::uint32_t Turn = 0; Turn < Wait / 250; ++Turn) {
            if (FStopFlag)
                break;
            SleepMs(250);
        }
    }
    NextTick = static_cast<std::uint32_t>(static_cast<double>(Count) / Limit * 1000.0) + TickMs();
}

void TBlockSocket::ResolveAddress(TAddressRecord& Address, const std::string& IP, const std::string& Port)
{
    NotifyStatus(HR_ResolvingBegin, IP + ":" + Port);
    FLastErrorCode = 0;
    TSocketFamily Wanted = FFamily;
    if (FHandle == -1 && FFamily == SF_Any) {
        if (IsIPv4Text(IP))
            Wanted = SF_IP4;
        else if (IsIPv6Text(IP))
            Wanted = SF_IP6;
    }
    if (FHeartbeatRate > 0 && !IsIPv4Text(IP) && !IsIPv6Text(IP))
        FLastErrorCode = ResolveInTurns(Address, IP, Port, FamilyNumber(Wanted));
    else
        FLastErrorCode = FillAddress(Address, IP, Port, FamilyNumber(Wanted), SocketProtocol(), SocketKind(), FPreferIP4);
    FLastErrorText = GetErrorDescEx();
    NotifyStatus(HR_ResolvingEnd, IP + ":" + Port);
}

int TBlockSocket::ResolveInTurns(TAddressRecord& Address, const std::string& IP,
                                 const std::string& Port, int Family)
{
    // A name (an address text never reaches the name service) is looked up
    // on a thread of its own, and its answer waited for in heartbeat turns
    // like any other wait, so a beat that sets StopFlag ends the lookup too
    // (the flag is consumed). An answer that comes later is dropped with the
    // lookup. A lookup given up fails as the resolver itself does when no
    // name server answers in time.
    std::memset(&Address, 0, sizeof Address);
    Heartbeat();
    if (FStopFlag) {
        FStopFlag = false;
        return TNameLookup::ErrTryAgain;
    }
    TNameLookup Lookup(IP, Port, Family, SocketProtocol(), SocketKind(), FPreferIP4);
    while (!Lookup.WaitFor(FHeartbeatRate)) {
        Heartbeat();
        if (FStopFlag) {
            FStopFlag = false;
            return TNameLookup::ErrTryAgain;
        }
    }
    Address = Lookup.Address();
    return Lookup.Result();
}

void TBlockSocket::CreateHandle(const TAddressRecord& Address)
{
    FStopFlag = false;
    FBytesReceived = 0;
    FBytesSent = 0;
    FLastErrorCode = 0;
    if (FHandle != -1)
        return;
    FInBuffer.clear();
    FIsBound = false;
    FUsesIPv6 = Address.sin_family == AF_INET6;
    FHandle = ::socket(Address.sin_family, SocketKind() | SOCK_CLOEXEC, SocketProtocol());
    if (FHandle == -1)
        CheckResult(-1);
    FReadSet = pollfd{FHandle, POLLIN, 0};
    ReportError();
    NotifyStatus(HR_SocketCreate, FUsesIPv6 ? "IPv6" : "IPv4");
    if (FHandle != -1) {
        for (const TSocketOptionRequest& Option : FPendingOptions)
            setsockopt(FHandle, Option.Level, Option.Option, Option.Value.data(),
                       static_cast<socklen_t>(Option.Value.size()));
    }
    FPendingOptions.clear();
    NotifySocketCreated();
}

void TBlockSocket::ReadLocalAndRemote(bool Remote)
{
    socklen_t Length = sizeof FLocalAddr;
    std::memset(&FLocalAddr, 0, sizeof FLocalAddr);
    getsockname(FHandle, reinterpret_cast<sockaddr*>(&FLocalAddr), &Length);
    if (Remote) {
        Length = sizeof FRemoteAddr;
        std::memset(&FRemoteAddr, 0, sizeof FRemoteAddr);
        getpeername(FHandle, reinterpret_cast<sockaddr*>(&FRemoteAddr), &Length);
    }
}

bool TBlockSocket::ResolveAndOpen(TAddressRecord& Address, const std::string& IP,
                                  const std::string& Port)
{
    ResolveAddress(Address, IP, Port);
    if (FLastErrorCode == 0 && FHandle == -1)
        CreateHandle(Address);
    return FLastErrorCode == 0;
}

void TBlockSocket::Bind(const std::string& IP, const std::string& Port)
{
    FLastErrorCode = 0;
    // Binding to any address and any port is what the system does anyway on
    // connect, so an unopened socket needs nothing for it.
    if (FHandle == -1 && FFamily == SF_Any && IP == "0.0.0.0" && Port == "0")
        return;
    TAddressRecord Address{};
    if (ResolveAndOpen(Address, IP, Port)) {
        CheckResult(::bind(FHandle, reinterpret_cast<const sockaddr*>(&Address),
                           static_cast<socklen_t>(AddressRecordLength(Address))));
        ReadLocalAndRemote(false);
        FInBuffer.clear();
        FIsBound = true;
    }
    ReportError();
    NotifyStatus(HR_Bind, IP + ":" + Port);
}

void TBlockSocket::Connect(const std::string& IP, const std::string& Port)
{
    PlainConnect(IP, Port);
}

void TBlockSocket::PlainConnect(const std::string& IP, const std::string& Port)
{
    TAddressRecord Address{};
    if (ResolveAndOpen(Address, IP, Port)) {
        if (FHeartbeatRate == 0) {
            // Blocking connect: bounded only by the system's own time-out.
            CheckResult(::connect(FHandle, reinterpret_cast<const sockaddr*>(&Address),
                                  static_cast<socklen_t>(AddressRecordLength(Address))));
        } else {
            ConnectInTurns(Address);
        }
        if (FLastErrorCode == 0)
            ReadLocalAndRemote(true);
    }
    FInBuffer.clear();
    FSawCR = false;
    FSawLF = false;
    ReportError();
    NotifyStatus(HR_Connect, IP + ":" + Port);
}

void TBlockSocket::ConnectInTurns(const TAddressRecord& Address)
{
    // With a heartbeat the connect must be able to end early: it is started
    // without blocking and its completion waited for in heartbeat turns, so
    // a stop requested by a beat abandons it (10053) instead of waiting out
    // the system's own time-out. The socket blocks again afterwards.
    if (CheckStop())
        return;
    int NonBlocking = 1;
    ::ioctl(FHandle, FIONBIO, &NonBlocking);
    int Error = 0;
    if (::connect(FHandle, reinterpret_cast<const sockaddr*>(&Address),
                  static_cast<socklen_t>(AddressRecordLength(Address))) != 0)
        Error = errno;
    if (Error == EINPROGRESS || Error == EINTR) {
        bool Stopped = false;
        if (WaitInTurns(POLLOUT, -1, Stopped)) {
            socklen_t Length = sizeof Error;
            if (::getsockopt(FHandle, SOL_SOCKET, SO_ERROR, &Error, &Length) != 0)
                Error = errno;
        } else {
            Error = Stopped ? ECONNABORTED : (errno != 0 ? errno : ETIMEDOUT);
        }
    }
    NonBlocking = 0;
    ::ioctl(FHandle, FIONBIO, &NonBlocking);
    errno = Error;
    CheckResult(Error == 0 ? 0 : -1);
}

int TBlockSocket::SendText(const std::string& Value)
{
    if (Value.empty())
        return 0;
    return SendBytes(Value.data(), static_cast<int>(Value.size()));
}

int TBlockSocket::SendBytes(const void* Buffer, int Length)
{
    if (CheckStop())
        return 0;
    FLastErrorCode = 0;
    NotifyMonitor(true, Buffer, Length);
    const char* Bytes = static_cast<const char*>(Buffer);
    // MSG_NOSIGNAL: a peer that has gone must give an error code here, not a
    // signal that ends the whole program. With a heartbeat a send must be
    // able to end early too: it hands the system only what fits at once and
    // waits for room in heartbeat turns, so a peer that never reads cannot
    // hold it beyond a stop.
    const int Flags = MSG_NOSIGNAL | (FHeartbeatRate != 0 ? MSG_DONTWAIT : 0);
    int Done = 0;
    while (Done < Length) {
        const int Piece = std::min(Length - Done, FSendMaxChunk);
        if (Piece <= 0)
            break;
        Throttle(Piece, FMaxSendBandwidth, FNextSendTick);
        ssize_t Sent;
        do {
            Sent = ::send(FHandle, Bytes + Done, static_cast<std::size_t>(Piece), Flags);
        } while (Sent == -1 && errno == EINTR);
        CheckResult(static_cast<int>(Sent));
        if (FLastErrorCode == ErrWouldBlock) {
            if (!WaitWritable(FNonblockSendTimeout)) {
                SetLastError(ErrTimedOut);
                break;
            }
            // Room again: offer the piece once more, unless a stop came.
            if (CheckStop())
                break;
            continue;
        }
        if (FLastErrorCode != 0)
            break;
        Done += static_cast<int>(Sent);
        FBytesSent += Sent;
        NotifyStatus(HR_WriteCount, std::to_string(Sent));
    }
    ReportError();
    return Done;
}

int TBlockSocket::ReadFromSocket(void* Buffer, int Length)
{
    if (CheckStop())
        return 0;
    Throttle(Length, FMaxRecvBandwidth, FNextRecvTick);
    ssize_t Got;
    do {
        Got = ::recv(FHandle, Buffer, static_cast<std::size_t>(Length), 0);
    } while (Got == -1 && errno == EINTR);
    if (Got == 0)
        SetLastError(ErrConnReset);  // orderly close by the peer
    else
        CheckResult(static_cast<int>(Got));
    ReportError();
    int Count = Got > 0 ? static_cast<int>(Got) : 0;
    if (Count > 0) {
        FBytesReceived += Count;
        NotifyStatus(HR_ReadCount, std::to_string(Count));
        NotifyMonitor(false, Buffer, Count);
        ApplyReadFilter(Buffer, Count);
    }
    return Count;
}

int TBlockSocket::PendingBytes()
{
    int Pending = 0;
    if (FHandle == -1 || ioctl(FHandle, FIONREAD, &Pending) != 0)
        return 0;
    if (Pending < 0)
        return 0;
    return std::min(Pending, MaxPendingBytes);
}

bool TBlockSocket::PollFor(short Events, int Timeout)
{
    // -1 waits without a limit; any other negative value does not wait.
    if (FHandle == -1) {
        // Nothing to wait on: say so at once instead of sleeping out the time.
        FLastErrorCode = 0;
        SetLastError(ErrNotSocket);
        return false;
    }
    const bool Forever = Timeout == -1;
    int Left = Forever ? -1 : std::max(Timeout, 0);
    const std::uint32_t Start = TickMs();
    int Ready;
    pollfd Set = FReadSet;
    Set.fd = FHandle;
    Set.events = Events;
    for (;;) {
        Set.revents = 0;
        Ready = ::poll(&Set, 1, Left);
        if (Ready != -1 || errno != EINTR)
            break;
        // A signal cut the wait short: wait for what is left of it.
        if (!Forever) {
            const std::uint32_t Spent = TickDiff(Start, TickMs());
            Left = Spent >= static_cast<std::uint32_t>(Timeout) ? 0 : Timeout - static_cast<int>(Spent);
        }
    }
    CheckResult(Ready);
    return Ready > 0 && FLastErrorCode == 0;
}

bool TBlockSocket::PollReadable(int Timeout)
{
    return PollFor(POLLIN, Timeout);
}

bool TBlockSocket::WaitInTurns(short Events, int Timeout, bool& Stopped)
{
    // The wait is cut into heartbeat-sized turns with a beat between them; a
    // beat that sets StopFlag ends it (the flag is consumed). Without a
    // heartbeat: one wait of Timeout, then one immediate look. Timeout -1
    // waits without a limit, in turns when there is a heartbeat.
    Stopped = false;
    const bool Endless = Timeout == -1 && FHeartbeatRate > 0;
    int Turns = 0;
    int First = Timeout;
    if (Endless) {
        First = 0;
    } else if (FHeartbeatRate != 0 && Timeout != -1) {
        Turns = Timeout / FHeartbeatRate;
        First = Timeout % FHeartbeatRate;
    }
    // A first wait of no time at all is left out: the beat's turn after it
    // sees the socket ready just as soon, and every wait of a session with a
    // heartbeat saves a system call.
    bool Result = false;
    if (First == 0 && FHeartbeatRate > 0 && (Endless || Turns > 0))
        FLastErrorCode = 0;
    else
        Result = PollFor(Events, First);
    for (int Turn = 0; !Result && FLastErrorCode == 0 && (Endless || Turn <= Turns); ++Turn) {
        Heartbeat();
        if (FStopFlag) {
            FStopFlag = false;
            Stopped = true;
            break;
        }
        Result = PollFor(Events, FHeartbeatRate);
    }
    return Result;
}

bool TBlockSocket::WaitReadable(int Timeout)
{
    bool Stopped = false;
    const bool Result = WaitInTurns(POLLIN, Timeout, Stopped);
    ReportError();
    if (Result)
        NotifyStatus(HR_CanRead, "");
    return Result;
}

bool TBlockSocket::WaitWritable(int Timeout)
{
    bool Stopped = false;
    const bool Result = WaitInTurns(POLLOUT, Timeout, Stopped);
    ReportError();
    if (Result)
        NotifyStatus(HR_CanWrite, "");
    return Result;
}

std::string TBlockSocket::NextPacket(int Timeout)
{
    FLastErrorCode = 0;
    std::string Result;
    if (!FInBuffer.empty()) {
        Result.swap(FInBuffer);
    } else {
        SleepMs(0);
        auto ReadPending = [this, &Result](int Count) {
            Result.resize(static_cast<std::size_t>(Count));
            const int Got = ReadFromSocket(Result.data(), Count);
            Result.resize(static_cast<std::size_t>(Got));
        };
        int Pending = PendingBytes();
        if (Pending > 0) {
            ReadPending(Pending);
        } else if (WaitReadable(Timeout)) {
            Pending = PendingBytes();
            if (Pending == 0)
                SetLastError(ErrConnReset);  // readable with nothing to read: the peer has closed
            else
                ReadPending(Pending);
        } else {
            SetLastError(ErrTimedOut);
        }
    }
    if (FConvertLineEnd && !Result.empty()) {
        // The previous line ended in a lone CR or LF; its partner may open
        // this packet and belongs to that line end.
        if (FSawCR && Result.front() == '\n')
            Result.erase(0, 1);
        else if (FSawLF && Result.front() == '\r')
            Result.erase(0, 1);
        FSawCR = false;
        FSawLF = false;
    }
    ReportError();
    return Result;
}

std::string TBlockSocket::ReceiveUntil(int Timeout, const std::string& Terminator)
{
    FLastErrorCode = 0;
    std::string Result;
    if (Terminator.empty())
        return Result;
    const bool CrLfMode = FConvertLineEnd && Terminator == "\r\n";
    std::string Accumulator;
    int Position = 0;
    std::size_t TerminatorLength = Terminator.size();
    // How far earlier searches have looked without a match. Each search
    // resumes where a match could still begin, so a long reply costs time in
    // proportion to its length, not to its square.
    std::size_t Searched = 0;
    for (;;) {
        const std::uint32_t Start = TickMs();
        Accumulator += NextPacket(Timeout);
        if (FLastErrorCode != 0)
            break;
        Position = 0;
        if (!Accumulator.empty()) {
            if (CrLfMode) {
                // No line end so far: none can start before the new bytes.
                std::string LineEnd;
                Position = FindLineEnd(Accumulator, LineEnd, Searched);
                TerminatorLength = LineEnd.size();
                if (LineEnd == "\r")
                    FSawCR = true;
                if (LineEnd == "\n")
                    FSawLF = true;
            } else {
                // A terminator may straddle the old end and the new bytes.
                const std::size_t Overlap = Terminator.size() - 1;
                const std::size_t From = Searched > Overlap ? Searched - Overlap : 0;
                const auto At = Accumulator.find(Terminator, From);
                Position = At == std::string::npos ? 0 : static_cast<int>(At) + 1;
                TerminatorLength = Terminator.size();
            }
            Searched = Accumulator.size();
        }
        if (FMaxLineLength != 0 && Accumulator.size() > static_cast<std::size_t>(FMaxLineLength)) {
            // A line that fits within the limit is still a line, even when
            // more bytes have arrived behind it.
            if (Position <= 0 || Position - 1 > FMaxLineLength) {
                Position = 0;
                SetLastError(ErrNoBuffers);
                break;
            }
        }
        if (Position > 0)
            break;
        if (!FInterPacketTimeout) {
            Timeout -= static_cast<int>(TickDiff(Start, TickMs()));
            if (Timeout <= 0) {
                SetLastError(ErrTimedOut);
                break;
            }
        }
    }
    if (Position > 0) {
        Result = Accumulator.substr(0, static_cast<std::size_t>(Position - 1));
        Accumulator.erase(0, static_cast<std::size_t>(Position - 1) + TerminatorLength);
    }
    FInBuffer = std::move(Accumulator);
    ReportError();
    return Result;
}

void TBlockSocket::DrainInput()
{
    try {
        // Give the peer up to a millisecond to answer our half-close with its
        // last bytes or its own close. Waiting for readiness instead of
        // sleeping the whole millisecond ends the wait as soon as it does,
        // which halves the time a sampling cycle spends closing.
        pollfd Peer{FHandle, POLLIN, 0};
        ::poll(&Peer, 1, 1);
        const std::int64_t Before = FBytesReceived;
        while (!FInBuffer.empty() || PendingBytes() > 0) {
            NextPacket(0);
            if (FLastErrorCode != 0 || FBytesReceived - Before >= DrainLimit)
                break;
        }
    } catch (...) {
        // Draining is best effort on the way out; nothing may escape it.
    }
    FLastErrorCode = 0;
    FLastErrorText.clear();
}

void TBlockSocket::Close()
{
    ReleaseSocket();
}

void TBlockSocket::ReleaseSocket()
{
    if (FHandle != -1)
        ::close(FHandle);
    FHandle = -1;
    FReadSet.fd = -1;
    FPendingOptions.clear();
    FFamily = FFamilyDefault;
    NotifyStatus(HR_SocketClose, "");
}

std::string TBlockSocket::GetErrorDescEx()
{
    return GetErrorDesc(FLastErrorCode);
}

std::string TBlockSocket::GetErrorDesc(int ErrorCode)
{
    switch (ErrorCode) {
    case 0: return "";
    case ErrInterrupted: return "Interrupted system call";
    case ErrBadFile: return "Bad file number";
    case ErrAccessDenied: return "Permission denied";
    case ErrBadAddress: return "Bad address";
    case ErrInvalidArgument: return "Invalid argument";
    case ErrTooManyOpenFiles: return "Too many open files";
    case ErrWouldBlock: return "Operation would block";
    case ErrInProgress: return "Operation now in progress";
    case ErrAlreadyInProgress: return "Operation already in progress";
    case ErrNotSocket: return "Socket operation on nonsocket";
    case ErrDestinationRequired: return "Destination address required";
    case ErrMessageTooLong: return "Message too long";
    case ErrWrongProtocolType: return "Protocol wrong type for Socket";
    case ErrNoProtocolOption: return "Protocol not available";
    case ErrProtocolNotSupported: return "Protocol not supported";
    case ErrSocketTypeNotSupported: return "Socket not supported";
    case ErrNotSupported: return "Operation not supported on Socket";
    case ErrProtocolFamilyNotSupported: return "Protocol family not supported";
    case ErrAddressFamilyNotSupported: return "Address family not supported";
    case ErrAddressInUse: return "Address already in use";
    case ErrAddressNotAvailable: return "Can't assign requested address";
    case ErrNetworkDown: return "Network is down";
    case ErrNetworkUnreachable: return "Network is unreachable";
    case ErrNetworkReset: return "Network dropped connection on reset";
    case ErrConnAborted: return "Software caused connection abort";
    case ErrConnReset: return "Connection reset by peer";
    case ErrNoBuffers: return "No Buffer space available";
    case ErrAlreadyConnected: return "Socket is already connected";
    case ErrNotConnected: return "Socket is not connected";
    case ErrSendAfterShutdown: return "Can't send after Socket shutdown";
    case ErrTooManyReferences: return "Too many references:can't splice";
    case ErrTimedOut: return "Connection timed out";
    case ErrRefused: return "Connection refused";
    case ErrSymbolicLinkLoop: return "Too many levels of symbolic links";
    case ErrNameTooLong: return "File name is too long";
    case ErrHostDown: return "Host is down";
    case ErrHostUnreachable: return "No route to host";
    case ErrDirectoryNotEmpty: return "Directory is not empty";
    case ErrTooManyProcesses: return "Too many processes";
    case ErrTooManyUsers: return "Too many users";
    case ErrDiskQuota: return "Disk quota exceeded";
    case ErrStaleHandle: return "Stale NFS file handle";
    case ErrRemotePath: return "Too many levels of remote in path";
    case ErrSystemNotReady: return "Network subsystem is unusable";
    case ErrVersionNotSupported: return "Winsock DLL cannot support this application";
    case ErrNotInitialised: return "Winsock not initialized";
    case ErrDisconnect: return "Disconnect";
    case ErrHostNotFound: return "Host not found";
    case ErrTryAgain: return "Non authoritative - host not found";
    case ErrNoRecovery: return "Non recoverable error";
    case ErrNoData: return "Valid name, no data record of requested type";
    default: return "Other Winsock error (" + std::to_string(ErrorCode) + ")";
    }
}

// ------------------------------------------------------------- TTCPBlockSocket

TTCPBlockSocket::TTCPBlockSocket() : FSSL(TransportSecurityClass(*this)) {}

TTCPBlockSocket::~TTCPBlockSocket()
{
    TTCPBlockSocket::Close();
}

void TTCPBlockSocket::Close()
{
    if (FSSL->Enabled())
        FSSL->Shutdown();
    if (FHandle != -1 && FLastErrorCode == 0) {
        // Say we are done sending, then read what the peer still had on the
        // way so the close is orderly rather than a reset.
        ::shutdown(FHandle, SHUT_WR);
        DrainInput();
    }
    ReleaseSocket();
}

void TTCPBlockSocket::Connect(const std::string& IP, const std::string& Port)
{
    if (!FSocksIP.empty() || !FHTTPTunnelIP.empty()) {
        // Proxy connects are not built. Going straight to the target instead
        // would silently bypass the proxy the caller asked for, so refuse.
        FLastErrorCode = 0;
        SetLastError(ErrNotSupported);
        ReportError();
        NotifyStatus(HR_Connect, IP + ":" + Port);
        return;
    }
    PlainConnect(IP, Port);
    if (FLastErrorCode == 0 && FOnAfterConnect)
        FOnAfterConnect(this);
}

int TTCPBlockSocket::SendBytes(const void* Buffer, int Length)
{
    if (FSSL->Enabled()) {
        FLastErrorCode = 0;
        const int Sent = FSSL->Send(Buffer, Length);
        if (FSSL->LastError() != 0)
            SetLastError(FSSL->LastError());
        ReportError();
        return Sent;
    }
    return TBlockSocket::SendBytes(Buffer, Length);
}

int TTCPBlockSocket::ReadFromSocket(void* Buffer, int Length)
{
    if (FSSL->Enabled()) {
        FLastErrorCode = 0;
        int Count = FSSL->Receive(Buffer, Length);
        if (FSSL->LastError() != 0)
            SetLastError(FSSL->LastError());
        ReportError();
        ApplyReadFilter(Buffer, Count);
        return Count;
    }
    return TBlockSocket::ReadFromSocket(Buffer, Length);
}

int TTCPBlockSocket::PendingBytes()
{
    if (FSSL->Enabled())
        return std::min(FSSL->PendingBytes(), 65536);
    return TBlockSocket::PendingBytes();
}

std::string TTCPBlockSocket::GetErrorDescEx()
{
    if (FSSL->Enabled() && FLastErrorCode == FSSL->LastError() && FLastErrorCode != 0)
        return FSSL->LastErrorDesc();
    return TBlockSocket::GetErrorDescEx();
}
