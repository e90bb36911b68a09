// Base of the exceptions that travel through Kovan::Exception handlers (registry failures).
// Socket and byte-buffer failures are separate value classes and need their own handlers.
//
// It is also a std::exception, so a program's catch (const std::exception&) catches it rather
// than ending in std::terminate; what() is the message. This costs nothing in the layout: the
// class is polymorphic anyway, std::exception has no data, and the fields stay as they are.
//
// Thread safety: a plain value; one owner at a time.
#pragma once

#include "foundation/Btring.h"
#include "foundation/Types.h"

#include <exception>

namespace Kovan {

class Exception : public std::exception {
public:
    // Class and method names stay empty; they are filled only through init.
    Exception(const char* message, int32 code, const char* fileName, int32 lineNumber);
    // Message, class and method, with the file name and line of the throw site.
    Exception(const char* message, const char* className, const char* methodName,
        const char* fileName, int32 lineNumber);
    // Class and method, with the file name and line of the throw site; the message stays empty.
    Exception(
        const char* className, const char* methodName, const char* fileName, int32 lineNumber);
    ~Exception() override;

    // The message (for a registry failure "Registry"); traceException gives the whole line.
    const char* what() const noexcept override;

    const char* message() const { return _message.cString(); }
    const char* className() const { return _className.cString(); }
    const char* methodName() const { return _methodName.cString(); }
    const char* fileName() const { return _fileName.cString(); }
    int32 code() const { return _code; }
    int32 lineNumber() const { return _lineNumber; }

protected:
    // A null text leaves its field as it was; code and line are always stored.
    void init(const char* message, const char* className, const char* methodName, int32 code,
        const char* fileName, int32 lineNumber);

private:
    Btring<32> _message;
    Btring<32> _className;
    Btring<32> _methodName;
    Btring<32> _fileName;
    int32 _code;
    int32 _lineNumber;
};

// One line: "Exception(message): code=N, Class::method() at file:line".
void traceException(const Exception& e);

} // namespace Kovan
