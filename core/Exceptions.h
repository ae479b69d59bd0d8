// Exception classes of the foundation library. Each carries its message as
// a QString (the text shown to the user or written to a log).
#pragma once

#include <QString>

#include <cstdint>
#include <stdexcept>

namespace vl {

class Exception : public std::runtime_error {
public:
    explicit Exception(const QString &message)
        : std::runtime_error(message.toStdString()), FMessage(message) {}
    const QString &Message() const { return FMessage; }

private:
    QString FMessage;
};

// A text that is no valid number, date or format pattern.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// Stream errors: a file that cannot be opened or created, a failed read or
// write.
class EStreamError : public Exception {
public:
    using Exception::Exception;
};
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
// An input/output failure that carries its error number
// (platform/SysErrors.h).
class EInOutError : public EStreamError {
public:
    EInOutError(const QString &message, uint32_t code) : EStreamError(message), FErrorCode(code) {}
    uint32_t ErrorCode() const { return FErrorCode; }

private:
    uint32_t FErrorCode;
};

} // namespace vl
