// The socket error codes the program reports, by name. Every failure of the
// telnet client ends up as one of these numbers: the error table in
// block_socket.cpp gives each its text, socket_api.cpp maps the system's
// errno and resolver results onto them, and the numbers show in the messages
// a user reads ("Connection refused (10061)"), so they never change.
#pragma once

#include <stdexcept>
#include <string>

constexpr int ErrInterrupted = 10004;
constexpr int ErrBadFile = 10009;
constexpr int ErrAccessDenied = 10013;
constexpr int ErrBadAddress = 10014;
constexpr int ErrInvalidArgument = 10022;
constexpr int ErrTooManyOpenFiles = 10024;
constexpr int ErrWouldBlock = 10035;
constexpr int ErrInProgress = 10036;
constexpr int ErrAlreadyInProgress = 10037;
constexpr int ErrNotSocket = 10038;
constexpr int ErrDestinationRequired = 10039;
constexpr int ErrMessageTooLong = 10040;
constexpr int ErrWrongProtocolType = 10041;
constexpr int ErrNoProtocolOption = 10042;
constexpr int ErrProtocolNotSupported = 10043;
constexpr int ErrSocketTypeNotSupported = 10044;
constexpr int ErrNotSupported = 10045;
constexpr int ErrProtocolFamilyNotSupported = 10046;
constexpr int ErrAddressFamilyNotSupported = 10047;
constexpr int ErrAddressInUse = 10048;
constexpr int ErrAddressNotAvailable = 10049;
constexpr int ErrNetworkDown = 10050;
constexpr int ErrNetworkUnreachable = 10051;
constexpr int ErrNetworkReset = 10052;
constexpr int ErrConnAborted = 10053;
constexpr int ErrConnReset = 10054;
constexpr int ErrNoBuffers = 10055;
constexpr int ErrAlreadyConnected = 10056;
constexpr int ErrNotConnected = 10057;
constexpr int ErrSendAfterShutdown = 10058;
constexpr int ErrTooManyReferences = 10059;
constexpr int ErrTimedOut = 10060;
constexpr int ErrRefused = 10061;
constexpr int ErrSymbolicLinkLoop = 10062;
constexpr int ErrNameTooLong = 10063;
constexpr int ErrHostDown = 10064;
constexpr int ErrHostUnreachable = 10065;
constexpr int ErrDirectoryNotEmpty = 10066;
constexpr int ErrTooManyProcesses = 10067;
constexpr int ErrTooManyUsers = 10068;
constexpr int ErrDiskQuota = 10069;
constexpr int ErrStaleHandle = 10070;
constexpr int ErrRemotePath = 10071;
constexpr int ErrSystemNotReady = 10091;
constexpr int ErrVersionNotSupported = 10092;
constexpr int ErrNotInitialised = 10093;
constexpr int ErrDisconnect = 10101;
constexpr int ErrClassTypeNotFound = 10109;
constexpr int ErrHostNotFound = 11001;
constexpr int ErrTryAgain = 11002;
constexpr int ErrNoRecovery = 11003;
constexpr int ErrNoData = 11004;

// The error a socket throws when RaiseExcept is set, and the start-up failure
// of the socket layer.
class ESocketError : public std::runtime_error {
public:
    ESocketError(const std::string& Message, int ErrorCode, const std::string& ErrorMessage)
        : std::runtime_error(Message), FErrorCode(ErrorCode), FErrorMessage(ErrorMessage) {}
    int ErrorCode() const { return FErrorCode; }
    const std::string& ErrorMessage() const { return FErrorMessage; }

private:
    int FErrorCode;
    std::string FErrorMessage;
};
