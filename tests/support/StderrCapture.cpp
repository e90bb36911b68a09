#include "support/StderrCapture.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <unistd.h>

namespace KovanTest {

StderrCapture::StderrCapture()
{
    (void)fflush(stderr);
    char name[] = "/tmp/kovan-stderr-XXXXXX";
    _fileFd = mkstemp(name);
    if (_fileFd < 0)
        throw std::runtime_error("StderrCapture: mkstemp failed");
    unlink(name);
    _savedFd = dup(2);
    dup2(_fileFd, 2);
}

StderrCapture::~StderrCapture() { restore(); }

void StderrCapture::restore()
{
    if (_savedFd < 0)
        return;
    (void)fflush(stderr);
    dup2(_savedFd, 2);
    close(_savedFd);
    close(_fileFd);
    _savedFd = -1;
}

std::string StderrCapture::take()
{
    (void)fflush(stderr);
    // Reading on from the last take() without moving the shared offset loses no line another
    // thread writes meanwhile.
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = pread(_fileFd, buf, sizeof(buf), static_cast<off_t>(_taken))) > 0) {
        out.append(buf, static_cast<size_t>(n));
        _taken += n;
    }
    return out;
}

std::string literalRegex(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos)
            out += '\\';
        out += c;
    }
    return out;
}

std::string checkRegex(const std::string& expression, const std::string& function)
{
    return literalRegex(expression + ": [") + "[^]]+:[0-9]+" + literalRegex("] " + function);
}

} // namespace KovanTest
