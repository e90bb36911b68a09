#include "foundation/Exception.h"

#include "foundation/Trace.h"

namespace Kovan {

Exception::Exception(const char* message, int32 code, const char* fileName, int32 lineNumber)
    : _code(0)
    , _lineNumber(0)
{
    init(message, nullptr, nullptr, code, fileName, lineNumber);
}

Exception::Exception(const char* message, const char* className, const char* methodName,
    const char* fileName, int32 lineNumber)
    : _code(0)
    , _lineNumber(0)
{
    init(message, className, methodName, 0, fileName, lineNumber);
}

Exception::Exception(
    const char* className, const char* methodName, const char* fileName, int32 lineNumber)
    : _code(0)
    , _lineNumber(0)
{
    init(nullptr, className, methodName, 0, fileName, lineNumber);
}

Exception::~Exception() = default;

const char* Exception::what() const noexcept { return _message.cString(); }

void Exception::init(const char* message, const char* className, const char* methodName, int32 code,
    const char* fileName, int32 lineNumber)
{
    if (message)
        _message = message;
    if (className)
        _className = className;
    if (methodName)
        _methodName = methodName;
    if (fileName)
        _fileName = fileName;
    _code = code;
    _lineNumber = lineNumber;
}

void traceException(const Exception& e)
{
    trace("Exception(%s): code=%d, %s::%s() at %s:%d\n", e.message(), e.code(), e.className(),
        e.methodName(), e.fileName(), e.lineNumber());
}

} // namespace Kovan
