#include "net/SocketException.h"

#include <cstring>

namespace Kovan {

namespace {

// strerror_r comes in two shapes: the GNU one returns the text (which may live elsewhere), the
// XSI one fills the buffer and returns a status. Overloads pick whichever the library declares.
[[maybe_unused]] const char* systemText(char* result, char*) { return result; }

[[maybe_unused]] const char* systemText(int status, char* buffer)
{
    return status == 0 ? buffer : "Unknown error";
}

} // namespace

SocketException::SocketException(int32 errorCode, const char* message)
    : _errorCode(errorCode)
{
    char scratch[MESSAGE_SIZE];
    scratch[0] = '\0';
    const char* text = message;
    if (text == nullptr)
        text = systemText(strerror_r(errorCode, scratch, sizeof(scratch)), scratch);
    strncpy(_message, text, MESSAGE_SIZE - 1);
    _message[MESSAGE_SIZE - 1] = '\0';
}

} // namespace Kovan
