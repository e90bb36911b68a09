// The error of a failed byte-buffer operation. A plain value class, thrown by value; it is not a
// Kovan::Exception, nor a std::exception (that base would make it polymorphic): catch it by its
// own type.
#pragma once

namespace Kovan {

class ByteBufferException {
public:
    enum ErrorCode {
        BUFFER_OVERFLOW = 0,
        BUFFER_UNDERFLOW = 1,
        ILLEGAL_ARGUMENT = 2,
        INDEX_OUT_OF_BOUNDS = 3,
        INVALID_MARK = 4,
        OUT_OF_MEMORY = 5,
    };

    explicit ByteBufferException(ErrorCode errorCode)
        : _errorCode(errorCode)
    {
    }

    ErrorCode errorCode() const { return _errorCode; }
    const char* message() const { return getMessage(_errorCode); }

    // The text of a code; a value outside the enumeration is a failed check.
    static const char* getMessage(ErrorCode errorCode);

private:
    ErrorCode _errorCode;
};

} // namespace Kovan
