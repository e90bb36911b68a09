#include "support/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

extern char** environ;

namespace KovanTest {

namespace {

std::vector<std::string> environmentWith(const std::vector<std::string>& changes)
{
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry)
        result.emplace_back(*entry);
    for (const std::string& change : changes) {
        const size_t equals = change.find('=');
        const bool prefix = equals == std::string::npos && !change.empty() && change.back() == '*';
        const std::string name = change.substr(0, prefix ? change.size() - 1 : equals);
        result.erase(std::remove_if(result.begin(), result.end(),
                         [&](const std::string& entry) {
                             return 0 == entry.compare(0, name.size(), name)
                                 && (prefix || entry[name.size()] == '=');
                         }),
            result.end());
        if (equals != std::string::npos)
            result.push_back(change);
    }
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& words)
{
    std::vector<char*> result;
    result.reserve(words.size() + 1);
    for (std::string& word : words)
        result.push_back(&word[0]);
    result.push_back(nullptr);
    return result;
}

// In the forked child: only calls that are safe there.
int openOr(const std::string& path, int flags, int otherwise)
{
    return path.empty() ? otherwise : open(path.c_str(), flags | O_CLOEXEC, 0644);
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv)
    : ChildProcess(argv, Options())
{
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const Options& options)
{
    std::vector<std::string> words = argv, environment = environmentWith(options.environment);
    const std::vector<char*> args = pointers(words), envp = pointers(environment);
    int o[2], e[2];
    if (0 != pipe2(o, O_CLOEXEC))
        throw std::system_error(errno, std::generic_category(), "pipe2");
    if (0 != pipe2(e, O_CLOEXEC)) {
        close(o[0]), close(o[1]);
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    _pid = fork();
    if (0 == _pid) {
        setpgid(0, 0);
        dup2(openOr(options.input, O_RDONLY, -1), 0);
        dup2(openOr(options.output, O_WRONLY | O_CREAT | O_TRUNC, o[1]), 1);
        dup2(openOr(options.errors, O_WRONLY | O_CREAT | O_TRUNC, e[1]), 2);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    const int error = errno;
    close(o[1]);
    close(e[1]);
    _fds[0] = o[0];
    _fds[1] = e[0];
    if (_pid < 0) {
        close(o[0]), close(e[0]);
        throw std::system_error(error, std::generic_category(), "fork");
    }
    // Set here too, so that a kill of the group right away cannot miss the child.
    setpgid(_pid, _pid);
}

template <typename Done> bool ChildProcess::pumpUntil(const Done& done, int timeoutMs)
{
    const auto start = std::chrono::steady_clock::now();
    const auto left = [&] {
        return timeoutMs
            - (std::chrono::steady_clock::now() - start) / std::chrono::milliseconds(1);
    };
    while (!done() && left() > 0) {
        pollfd p[2] = { { _fds[0], POLLIN, 0 }, { _fds[1], POLLIN, 0 } };
        // Short slices: without output to wait for, the exit is looked for between them.
        poll(p, 2, static_cast<int>(std::min<long long>(20, left())));
        for (int i = 0; i < 2; ++i) {
            char buffer[4096];
            const ssize_t n = p[i].revents != 0 ? read(_fds[i], buffer, sizeof(buffer)) : -1;
            if (n > 0)
                (i != 0 ? err : out).append(buffer, static_cast<size_t>(n));
            else if (0 == n && 0 == close(_fds[i]))
                _fds[i] = -1;
        }
        _exited = _exited || wait4(_pid, &_status, WNOHANG, &usage) == _pid;
    }
    return done();
}

bool ChildProcess::waitForText(const std::string& text, int timeoutMs)
{
    const auto seen = [&] { return out.find(text) != std::string::npos; };
    return pumpUntil([&] { return seen() || (_fds[0] < 0 && _fds[1] < 0); }, timeoutMs) && seen();
}

bool ChildProcess::wait(int timeoutMs, int* status)
{
    const bool over = pumpUntil([&] { return _exited && _fds[0] < 0 && _fds[1] < 0; }, timeoutMs);
    if (status != nullptr)
        *status = WIFEXITED(_status) ? WEXITSTATUS(_status) : 128 + WTERMSIG(_status);
    return over;
}

int ChildProcess::stop(int graceMs)
{
    int status = 0;
    if (!_exited)
        kill(-_pid, SIGTERM);
    if (!wait(graceMs, &status)) {
        kill(-_pid, SIGKILL);
        // Killed, it is gone at once; only a grandchild still holding its output could delay.
        wait(5000, &status);
    }
    return status;
}

ChildProcess::~ChildProcess()
{
    if (!_exited) {
        kill(-_pid, SIGKILL);
        wait(5000);
    }
    for (int fd : _fds)
        if (fd >= 0)
            close(fd);
}

} // namespace KovanTest
