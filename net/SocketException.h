// The error value of the networking library and of the SNTP datagram socket. A plain value class:
// it is not a Kovan::Exception, so handlers catch it by its own type. Nor is it a std::exception
// (unlike Kovan::Exception, which had a virtual table already): that base would give it one, and
// this class stays the plain, non-polymorphic value it is designed as.
#pragma once

#include "foundation/Types.h"

namespace Kovan {

class SocketException {
public:
    enum { MESSAGE_SIZE = 256 };

    // A null message takes the system's text for the error number. Either text is cut at 255
    // characters.
    explicit SocketException(int32 errorCode, const char* message = nullptr);
    ~SocketException() { }

    // An errno value, or the resolver's h_errno value for a failed name lookup.
    int32 errorCode() const { return _errorCode; }
    const char* message() const { return _message; }

private:
    int32 _errorCode;
    char _message[MESSAGE_SIZE];
};

} // namespace Kovan
