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

StderrCapture::~StderrCapture()
{
    (void)fflush(stderr);
    dup2(_savedFd, 2);
    close(_savedFd);
    close(_fileFd);
}

std::string StderrCapture::take()
{
    (void)fflush(stderr);
    // pread: the shared offset stays where the writers have it.
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = pread(_fileFd, buf, sizeof(buf), static_cast<off_t>(_taken))) > 0;
         _taken += n)
        out.append(buf, static_cast<size_t>(n));
    return out;
}

// An extended regular expression that matches `text` literally.
static std::string literalRegex(const std::string& text)
{
    std::string out;
    for (char c : text)
        out.append(std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos ? "\\" : "") += c;
    return out;
}

std::string checkRegex(const std::string& expression, const std::string& function)
{
    return literalRegex(expression + ": [") + "[^]]+:[0-9]+" + literalRegex("] " + function);
}

} // namespace KovanTest
