#pragma once
// The network layer's exception family. Every class derives from EMailException; the texts are
// the ones callers and the activity log show.
#include <cstdint>
#include <string>

#include "message/MailException.h"
#include "message/StreamLines.h"

namespace tarnwick {

// The peer closed and nothing is left to read.
class EMailConnClosedGracefully : public EMailSilentException {
public:
    EMailConnClosedGracefully() : EMailSilentException("Connection Closed Gracefully.", TMailErrorKind::ConnectionLost) {}
};

class EMailAlreadyConnected : public EMailException {
public:
    EMailAlreadyConnected() : EMailException("Already connected.") {}
};

// The transport was asked to receive or send without a socket.
class EMailClosedSocket : public EMailException {
public:
    EMailClosedSocket() : EMailException("Disconnected.", TMailErrorKind::ConnectionLost) {}
};

class EMailReadTimeout : public EMailException {
public:
    EMailReadTimeout() : EMailException("Read Timeout", TMailErrorKind::TimedOut) {}
};

// The peer took no bytes within the time-out (it stopped reading); the connection is dropped.
class EMailWriteTimeout : public EMailException {
public:
    EMailWriteTimeout() : EMailException("Write Timeout", TMailErrorKind::TimedOut) {}
};

class EMailReadLnMaxLineLengthExceeded : public EMailException {
public:
    EMailReadLnMaxLineLengthExceeded() : EMailException("Max line length exceeded.", TMailErrorKind::LocalLimit) {}
};

// A reply or a listing ran past its line limit.
class EMailTooManyLines : public EMailException {
public:
    explicit EMailTooManyLines(std::string message) : EMailException(std::move(message), TMailErrorKind::LocalLimit) {}
};

// A message over the size limit: by the size the server announced (Size > 0), or found while
// reading it (Size 0: only known to be over Limit).
class EMailMessageTooLarge : public EMailException {
public:
    EMailMessageTooLarge(int64_t size, int64_t limit)
        : EMailException(size > 0 ? "Message of " + std::to_string(size) + " bytes is over the size limit of " +
                                        std::to_string(limit) + " bytes."
                                  : "Message is over the size limit of " + std::to_string(limit) + " bytes.",
                         TMailErrorKind::LocalLimit),
          Size(size),
          Limit(limit) {}
    int64_t Size;
    int64_t Limit;
};

class EMailInvalidServiceName : public EMailException {
public:
    using EMailException::EMailException;
};

// A reply code outside the allowed list; the message is the reply's text lines.
class EMailProtocolReplyError : public EMailException {
public:
    EMailProtocolReplyError(int32_t replyCode, std::string message)
        : EMailException(std::move(message), replyCode >= 500 && replyCode <= 599   ? TMailErrorKind::PermanentRefusal
                                             : replyCode >= 400 && replyCode <= 499 ? TMailErrorKind::TemporaryRefusal
                                                                                    : TMailErrorKind::Other),
          ReplyCode(replyCode) {}
    // A protocol whose answers carry no such number says what the refusal means itself.
    EMailProtocolReplyError(int32_t replyCode, std::string message, TMailErrorKind kind)
        : EMailException(std::move(message), kind), ReplyCode(replyCode) {}
    int32_t ReplyCode;
};

class EMailConnectTimeout : public EMailException {
public:
    EMailConnectTimeout() : EMailException("Connect timed out.", TMailErrorKind::TimedOut) {}
};

// A connect under a time-out failed; carries the failure's own message.
class EMailConnectException : public EMailException {
public:
    using EMailException::EMailException;
};

// Proxy failures: no proxy is ever configured, kept so callers can name the family.
class EMailSocksError : public EMailException {
public:
    using EMailException::EMailException;
};

class EMailInvalidSocket : public EMailException {
public:
    using EMailException::EMailException;
};

// A socket call failed. ErrorCode uses the Windows Sockets numbering (10061 = refused).
class EMailSocketError : public EMailException {
public:
    EMailSocketError(int32_t errorCode, std::string message)
        : EMailException(std::move(message), TMailErrorKind::ConnectionLost), ErrorCode(errorCode) {}
    int32_t ErrorCode;
};

// Failure to reach the system's socket library (kept for callers; Linux sockets never raise it).
class EMailWS2StubError : public EMailException {
public:
    EMailWS2StubError(std::string title, int32_t systemError, std::string systemErrorText)
        : EMailException(systemError == 0 ? title : title + ": " + systemErrorText),
          Title(std::move(title)),
          SystemError(systemError),
          SystemErrorText(std::move(systemErrorText)) {}
    std::string Title;
    int32_t SystemError;
    std::string SystemErrorText;
};

class EMailStackError : public EMailException {
public:
    using EMailException::EMailException;
};
class EMailStackInitializationFailed : public EMailStackError {
public:
    EMailStackInitializationFailed() : EMailStackError("Winsock Initialization Error.") {}
};
class EMailStackSetSizeExceeded : public EMailStackError {
public:
    EMailStackSetSizeExceeded() : EMailStackError("Set Size Exceeded.") {}
};

class EMailSocketHandleError : public EMailException {
public:
    using EMailException::EMailException;
};
class EMailCouldNotBindSocket : public EMailSocketHandleError {
public:
    EMailCouldNotBindSocket()
        : EMailSocketHandleError("Could not bind socket. Address and port are already in use.") {}
};
class EMailCanNotBindPortInRange : public EMailSocketHandleError {
public:
    using EMailSocketHandleError::EMailSocketHandleError;
};
class EMailInvalidPortRange : public EMailSocketHandleError {
public:
    using EMailSocketHandleError::EMailSocketHandleError;
};

class EMailTCPConnectionError : public EMailException {
public:
    using EMailException::EMailException;
};
class EMailObjectTypeNotSupported : public EMailTCPConnectionError {
public:
    EMailObjectTypeNotSupported() : EMailTCPConnectionError("Object type not supported.") {}
};
class EMailNotEnoughDataInBuffer : public EMailTCPConnectionError {
public:
    EMailNotEnoughDataInBuffer() : EMailTCPConnectionError("Not enough data in buffer.") {}
};
class EMailNoDataToRead : public EMailTCPConnectionError {
public:
    EMailNoDataToRead() : EMailTCPConnectionError("No data to read.") {}
};
class EMailNotConnected : public EMailTCPConnectionError {
public:
    EMailNotConnected() : EMailTCPConnectionError("Not Connected", TMailErrorKind::ConnectionLost) {}
};
class EMailFileNotFound : public EMailTCPConnectionError {
public:
    explicit EMailFileNotFound(const std::string& fileName)
        : EMailTCPConnectionError("File \"" + fileName + "\" not found") {}
};

// EMailEndOfStream (a line reader on a plain stream found nothing left) is in
// message/StreamLines.h.

}  // namespace tarnwick
