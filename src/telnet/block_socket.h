// A blocking TCP client socket with a line buffer, receive-up-to-a-text with
// a time-out, a last-error code with a fixed table of error texts, and
// notification hooks.
//
// Class chain: TBlockSocket (all the behaviour) <- TSocksBlockSocket (proxy
// settings, kept as plain fields) <- TTCPBlockSocket (tunnel settings, the
// transport-security plug-in slot, TCP kind and protocol, orderly close).
//
// Failures are values, not exceptions: every operation records a code in
// LastErrorCode (0 for success) and its text in LastErrorText, and returns
// false, 0 or an empty text. Only with RaiseExcept set does a recorded error
// (other than 0, 10035 and 10036) throw ESocketError.
//
// Hooks are std::function objects called synchronously on the calling thread
// from inside the operation that triggers them; an unset hook is skipped. The
// read filter runs inside every low-level read and may itself send on the
// same socket (the telnet client answers option negotiation from there); an
// error such a send records is what the caller of the read then sees.
//
// Ownership: the socket owns its system handle (closed by Close or the
// destructor) and its transport-security plug-in object.
#pragma once

#include "telnet/socket_api.h"
#include "telnet/socket_errors.h"

#include <poll.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class TBlockSocket;
class TTCPBlockSocket;

enum THookSocketReason {
    HR_ResolvingBegin,
    HR_ResolvingEnd,
    HR_SocketCreate,
    HR_SocketClose,
    HR_Bind,
    HR_Connect,
    HR_CanRead,
    HR_CanWrite,
    HR_Listen,
    HR_Accept,
    HR_ReadCount,
    HR_WriteCount,
    HR_Wait,
    HR_Error
};

enum TSocksType { ST_Socks5, ST_Socks4 };

using THookSocketStatus = std::function<void(TBlockSocket* Sender, THookSocketReason Reason, const std::string& Value)>;
using THookDataFilter = std::function<void(TBlockSocket* Sender, std::string& Value)>;
using THookCreateSocket = std::function<void(TBlockSocket* Sender)>;
using THookAfterConnect = std::function<void(TBlockSocket* Sender)>;
using THookHeartbeat = std::function<void(TBlockSocket* Sender)>;
using THookMonitor = std::function<void(TBlockSocket* Sender, bool Writing, const void* Buffer, int Len)>;

// A socket option waiting for a system socket to exist. Nothing queues one in
// this program; the queue is kept so creation and close treat it uniformly.
struct TSocketOptionRequest {
    int Level = 0;
    int Option = 0;
    std::vector<char> Value;
};

// The transport-security plug-in interface. Only the "none" plug-in exists:
// the socket owns one so the slot is always filled, and as long as it is not
// enabled every send, receive and close bypasses it.
class TCustomSSL {
public:
    explicit TCustomSSL(TTCPBlockSocket& Socket) : FSocket(Socket) {}
    virtual ~TCustomSSL() = default;
    TCustomSSL(const TCustomSSL&) = delete;
    TCustomSSL& operator=(const TCustomSSL&) = delete;

    virtual std::string LibName() { return {}; }
    virtual std::string LibVersion() { return {}; }
    virtual bool Connect() { return false; }
    virtual bool Accept() { return false; }
    virtual bool Shutdown() { return false; }
    virtual int Send(const void* Buffer, int Len) { (void)Buffer; (void)Len; return 0; }
    virtual int Receive(void* Buffer, int Len) { (void)Buffer; (void)Len; return 0; }
    virtual int PendingBytes() { return 0; }
    // Information about the secured connection; empty without one.
    virtual std::string ProtocolVersion() { return {}; }
    virtual std::string PeerSubject() { return {}; }
    virtual std::string PeerIssuer() { return {}; }

    bool Enabled() const { return FEnabled; }
    int LastError() const { return FLastError; }
    const std::string& LastErrorDesc() const { return FLastErrorDesc; }

protected:
    TTCPBlockSocket& FSocket;
    bool FEnabled = false;
    int FLastError = 0;
    std::string FLastErrorDesc;
};

// Without transport security: every operation records -1 "SSL/TLS support is
// not compiled!" and fails; it is never enabled.
class TSSLNone : public TCustomSSL {
public:
    using TCustomSSL::TCustomSSL;
    std::string LibName() override { return "ssl_none"; }
    std::string LibVersion() override { return "Without SSL support"; }
    bool Connect() override { return NotCompiled(); }
    bool Accept() override { return NotCompiled(); }
    bool Shutdown() override { return NotCompiled(); }
    int Send(const void*, int) override { NotCompiled(); return 0; }
    int Receive(void*, int) override { NotCompiled(); return 0; }

private:
    bool NotCompiled() {
        FLastError = -1;
        FLastErrorDesc = "SSL/TLS support is not compiled!";
        return false;
    }
};

// Program-wide choice of plug-in class; makes TSSLNone unless replaced.
using TTransportSecurityFactory = std::function<std::unique_ptr<TCustomSSL>(TTCPBlockSocket&)>;
extern TTransportSecurityFactory TransportSecurityClass;

class TBlockSocket {
public:
    TBlockSocket();
    virtual ~TBlockSocket();
    TBlockSocket(const TBlockSocket&) = delete;
    TBlockSocket& operator=(const TBlockSocket&) = delete;

    // ---- published properties ----
    int Tag() const { return FTag; }
    void SetTag(int Value) { FTag = Value; }
    bool RaiseExcept() const { return FRaiseExcept; }
    void SetRaiseExcept(bool Value) { FRaiseExcept = Value; }
    int MaxLineLength() const { return FMaxLineLength; }
    void SetMaxLineLength(int Value) { FMaxLineLength = Value; }
    int MaxSendBandwidth() const { return FMaxSendBandwidth; }
    void SetMaxSendBandwidth(int Value) { FMaxSendBandwidth = Value; }
    int MaxRecvBandwidth() const { return FMaxRecvBandwidth; }
    void SetMaxRecvBandwidth(int Value) { FMaxRecvBandwidth = Value; }
    void SetMaxBandwidth(int Value) { FMaxSendBandwidth = Value; FMaxRecvBandwidth = Value; }
    bool ConvertLineEnd() const { return FConvertLineEnd; }
    void SetConvertLineEnd(bool Value) { FConvertLineEnd = Value; }
    TSocketFamily Family() const { return FFamily; }
    void SetFamily(TSocketFamily Value) { FFamily = Value; FFamilyDefault = Value; }
    bool PreferIP4() const { return FPreferIP4; }
    void SetPreferIP4(bool Value) { FPreferIP4 = Value; }
    bool InterPacketTimeout() const { return FInterPacketTimeout; }
    void SetInterPacketTimeout(bool Value) { FInterPacketTimeout = Value; }
    int SendMaxChunk() const { return FSendMaxChunk; }
    void SetSendMaxChunk(int Value) { FSendMaxChunk = Value; }
    bool StopFlag() const { return FStopFlag; }
    void SetStopFlag(bool Value) { FStopFlag = Value; }
    int NonblockSendTimeout() const { return FNonblockSendTimeout; }
    void SetNonblockSendTimeout(int Value) { FNonblockSendTimeout = Value; }
    const THookSocketStatus& OnStatus() const { return FOnStatus; }
    void SetOnStatus(THookSocketStatus Value) { FOnStatus = std::move(Value); }
    const THookDataFilter& OnReadFilter() const { return FOnReadFilter; }
    void SetOnReadFilter(THookDataFilter Value) { FOnReadFilter = std::move(Value); }
    const THookCreateSocket& OnCreateSocket() const { return FOnCreateSocket; }
    void SetOnCreateSocket(THookCreateSocket Value) { FOnCreateSocket = std::move(Value); }
    const THookMonitor& OnMonitor() const { return FOnMonitor; }
    void SetOnMonitor(THookMonitor Value) { FOnMonitor = std::move(Value); }
    const THookHeartbeat& OnHeartbeat() const { return FOnHeartbeat; }
    void SetOnHeartbeat(THookHeartbeat Value) { FOnHeartbeat = std::move(Value); }
    int HeartbeatRate() const { return FHeartbeatRate; }
    void SetHeartbeatRate(int Value) { FHeartbeatRate = Value; }

    // ---- other state ----
    const TAddressRecord& LocalAddr() const { return FLocalAddr; }
    const TAddressRecord& RemoteAddr() const { return FRemoteAddr; }
    const std::string& InBuffer() const { return FInBuffer; }
    void SetInBuffer(const std::string& Value) { FInBuffer = Value; }
    bool NonBlocking() const { return FNonBlocking; }
    bool SawCR() const { return FSawCR; }
    bool SawLF() const { return FSawLF; }
    bool IsBound() const { return FIsBound; }
    bool UsesIPv6() const { return FUsesIPv6; }
    std::int64_t BytesReceived() const { return FBytesReceived; }
    std::int64_t BytesSent() const { return FBytesSent; }
    // The system handle, -1 when closed.
    int Socket() const { return FHandle; }
    int Handle() const { return FHandle; }
    int LastErrorCode() const { return FLastErrorCode; }
    const std::string& LastErrorText() const { return FLastErrorText; }
    int LastError() const { return FLastErrorCode; }
    const std::string& LastErrorDesc() const { return FLastErrorText; }

    // ---- operations ----
    // Fills Address for IP:Port and records the resolver's code in LastErrorCode.
    void ResolveAddress(TAddressRecord& Address, const std::string& IP, const std::string& Port);
    // Creates the system socket for Address's family unless one is open.
    void CreateHandle(const TAddressRecord& Address);
    void Bind(const std::string& IP, const std::string& Port);

    virtual bool PollReadable(int Timeout);
    virtual void Close();
    virtual void ReleaseSocket();
    virtual void Connect(const std::string& IP, const std::string& Port);
    virtual int SendBytes(const void* Buffer, int Length);
    virtual int SendText(const std::string& Value);
    virtual int ReadFromSocket(void* Buffer, int Length);
    virtual std::string ReceiveUntil(int Timeout, const std::string& Terminator);
    virtual std::string NextPacket(int Timeout);
    virtual int PendingBytes();
    virtual int CheckResult(int SysResult);
    virtual bool WaitReadable(int Timeout);
    virtual bool WaitWritable(int Timeout);
    virtual int SocketKind() const { return 0; }
    virtual int SocketProtocol() const { return 0; }
    virtual std::string GetErrorDescEx();

    // Reads and discards what is pending (through the read filter).
    void DrainInput();
    // Records Code with its text, as a failed system call would.
    void SetLastError(int Code);
    // Reports the recorded error: status HR_Error and, with RaiseExcept, throws.
    void ReportError();
    // True (and records 10053) when StopFlag was set; consumes the flag.
    bool CheckStop();
    // Sleeps as needed to keep Count bytes within Limit bytes per second.
    void Throttle(int Count, int Limit, std::uint32_t& NextTick);

    static std::string GetErrorDesc(int ErrorCode);

protected:
    void NotifyStatus(THookSocketReason Reason, const std::string& Value);
    void Heartbeat();
    void NotifyMonitor(bool Writing, const void* Buffer, int Len);
    void NotifySocketCreated();
    void ApplyReadFilter(void* Buffer, int& Length);
    void ReadLocalAndRemote(bool Remote);
    void PlainConnect(const std::string& IP, const std::string& Port);
    // Resolves IP:Port into Address and opens a socket of its family unless
    // one is open; true when both went well (LastErrorCode says otherwise).
    bool ResolveAndOpen(TAddressRecord& Address, const std::string& IP, const std::string& Port);
    // ResolveAddress's lookup of a name while there is a heartbeat: it ends
    // at a stop like any other wait. Returns the resolver's code.
    int ResolveInTurns(TAddressRecord& Address, const std::string& IP, const std::string& Port,
                       int Family);
    bool PollFor(short Events, int Timeout);
    // Waits for Events in heartbeat turns; Stopped tells a wait ended by
    // StopFlag from one that ran out of time.
    bool WaitInTurns(short Events, int Timeout, bool& Stopped);
    void ConnectInTurns(const TAddressRecord& Address);

    int FTag = 0;
    bool FRaiseExcept = false;
    int FMaxLineLength = 0;
    int FMaxSendBandwidth = 0;
    int FMaxRecvBandwidth = 0;
    bool FConvertLineEnd = false;
    TSocketFamily FFamily = SF_Any;
    bool FPreferIP4 = true;
    bool FInterPacketTimeout = true;
    int FSendMaxChunk = 65536;
    bool FStopFlag = false;
    int FNonblockSendTimeout = 15000;
    THookSocketStatus FOnStatus;
    THookDataFilter FOnReadFilter;
    THookCreateSocket FOnCreateSocket;
    THookMonitor FOnMonitor;
    THookHeartbeat FOnHeartbeat;
    int FHeartbeatRate = 0;

    TAddressRecord FLocalAddr{};
    TAddressRecord FRemoteAddr{};
    std::string FInBuffer;
    bool FNonBlocking = false;
    std::uint32_t FNextSendTick = 0;
    std::uint32_t FNextRecvTick = 0;
    bool FSawCR = false;
    bool FSawLF = false;
    bool FIsBound = false;
    TSocketFamily FFamilyDefault = SF_Any;
    bool FUsesIPv6 = false;
    std::vector<TSocketOptionRequest> FPendingOptions;
    pollfd FReadSet{-1, 0, 0};
    std::int64_t FBytesReceived = 0;
    std::int64_t FBytesSent = 0;
    int FHandle = -1;
    int FLastErrorCode = 0;
    std::string FLastErrorText;
};

class TSocksBlockSocket : public TBlockSocket {
public:
    const std::string& SocksIP() const { return FSocksIP; }
    void SetSocksIP(const std::string& Value) { FSocksIP = Value; }
    const std::string& SocksPort() const { return FSocksPort; }
    void SetSocksPort(const std::string& Value) { FSocksPort = Value; }
    int SocksTimeout() const { return FSocksTimeout; }
    void SetSocksTimeout(int Value) { FSocksTimeout = Value; }
    const std::string& SocksUsername() const { return FSocksUsername; }
    void SetSocksUsername(const std::string& Value) { FSocksUsername = Value; }
    const std::string& SocksPassword() const { return FSocksPassword; }
    void SetSocksPassword(const std::string& Value) { FSocksPassword = Value; }
    bool SocksResolver() const { return FSocksResolver; }
    void SetSocksResolver(bool Value) { FSocksResolver = Value; }
    TSocksType SocksType() const { return FSocksType; }
    void SetSocksType(TSocksType Value) { FSocksType = Value; }

protected:
    std::string FSocksIP;
    std::string FSocksPort = "1080";
    int FSocksTimeout = 60000;
    std::string FSocksUsername;
    std::string FSocksPassword;
    bool FSocksResolver = true;
    TSocksType FSocksType = ST_Socks5;
};

class TTCPBlockSocket : public TSocksBlockSocket {
public:
    TTCPBlockSocket();
    ~TTCPBlockSocket() override;

    const std::string& HTTPTunnelIP() const { return FHTTPTunnelIP; }
    void SetHTTPTunnelIP(const std::string& Value) { FHTTPTunnelIP = Value; }
    const std::string& HTTPTunnelPort() const { return FHTTPTunnelPort; }
    void SetHTTPTunnelPort(const std::string& Value) { FHTTPTunnelPort = Value; }
    const std::string& HTTPTunnelUser() const { return FHTTPTunnelUser; }
    void SetHTTPTunnelUser(const std::string& Value) { FHTTPTunnelUser = Value; }
    const std::string& HTTPTunnelPass() const { return FHTTPTunnelPass; }
    void SetHTTPTunnelPass(const std::string& Value) { FHTTPTunnelPass = Value; }
    int HTTPTunnelTimeout() const { return FHTTPTunnelTimeout; }
    void SetHTTPTunnelTimeout(int Value) { FHTTPTunnelTimeout = Value; }
    const THookAfterConnect& OnAfterConnect() const { return FOnAfterConnect; }
    void SetOnAfterConnect(THookAfterConnect Value) { FOnAfterConnect = std::move(Value); }
    TCustomSSL& SSL() { return *FSSL; }

    void Close() override;
    void Connect(const std::string& IP, const std::string& Port) override;
    int SendBytes(const void* Buffer, int Length) override;
    int ReadFromSocket(void* Buffer, int Length) override;
    int PendingBytes() override;
    int SocketKind() const override { return SOCK_STREAM; }
    int SocketProtocol() const override { return IPPROTO_TCP; }
    std::string GetErrorDescEx() override;

private:
    std::string FHTTPTunnelIP;
    std::string FHTTPTunnelPort;
    std::string FHTTPTunnelUser;
    std::string FHTTPTunnelPass;
    int FHTTPTunnelTimeout = 30000;
    THookAfterConnect FOnAfterConnect;
    std::unique_ptr<TCustomSSL> FSSL;
};
