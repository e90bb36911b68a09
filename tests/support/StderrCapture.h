// Captures what is written to standard error (descriptor 2), to compare trace lines byte for byte.
#pragma once

#include <string>

namespace KovanTest {

class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // Everything written since construction or the last take(); nothing another thread writes
    // meanwhile is lost.
    std::string take();

private:
    int _savedFd, _fileFd;
    long long _taken = 0; // bytes of the file already returned by take()
};

// The line the test assertion handler writes for a failed check, as a death-test pattern.
std::string checkRegex(const std::string& expression, const std::string& function);

} // namespace KovanTest

// A precondition check fails with this expression text and function name.
#define EXPECT_CHECK_FAILS(statement, expression, function)                                        \
    EXPECT_DEATH(statement, ::KovanTest::checkRegex(expression, function))
