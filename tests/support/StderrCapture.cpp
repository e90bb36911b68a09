#include "support/StderrCapture.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <unistd.h>

namespace KovanTest {

StderrCapture::StderrCapture()
{
    fflush(stderr);
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
    fflush(stderr);
    dup2(_savedFd, 2);
    close(_savedFd);
    close(_fileFd);
    _savedFd = -1;
}

std::string StderrCapture::take()
{
    fflush(stderr);
    std::string out;
    char buf[4096];
    lseek(_fileFd, 0, SEEK_SET);
    ssize_t n;
    while ((n = read(_fileFd, buf, sizeof(buf))) > 0)
        out.append(buf, static_cast<size_t>(n));
    // Start the next take() afresh.
    if (ftruncate(_fileFd, 0) != 0)
        throw std::runtime_error("StderrCapture: ftruncate failed");
    lseek(_fileFd, 0, SEEK_SET);
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
