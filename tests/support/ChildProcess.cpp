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
        const bool set = change.back() != '*';
        const size_t length = set ? change.find('=') + 1 : change.size() - 1;
        result.erase(
            std::remove_if(result.begin(), result.end(),
                [&](const std::string& e) { return 0 == e.compare(0, length, change, 0, length); }),
            result.end());
        if (set)
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

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options)
{
    std::vector<std::string> words = argv, environment = environmentWith(options.environment);
    const std::vector<char*> args = pointers(words), envp = pointers(environment);
    const auto file = [](const std::string& path, int flags, int pipe) {
        return path.empty() ? pipe : open(path.c_str(), flags | O_CLOEXEC, 0644);
    };
    int o[2] = { -1, -1 }, e[2] = { -1, -1 };
    if (0 != pipe2(o, O_CLOEXEC) || 0 != pipe2(e, O_CLOEXEC) || (_pid = fork()) < 0) {
        const int error = errno;
        for (int fd : { o[0], o[1], e[0], e[1] })
            close(fd);
        throw std::system_error(error, std::generic_category(), "starting " + argv[0]);
    }
    if (0 == _pid) { // only calls that are safe in a forked child
        setpgid(0, 0);
        dup2(file(options.input, O_RDONLY, -1), 0);
        dup2(file(options.output, O_WRONLY | O_CREAT | O_TRUNC, o[1]), 1);
        dup2(file(options.errors, O_WRONLY | O_CREAT | O_TRUNC, e[1]), 2);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    setpgid(_pid, _pid); // here too, so that a kill of the group at once cannot miss the child
    close(o[1]);
    close(e[1]);
    _fds[0] = o[0];
    _fds[1] = e[0];
}

template <typename Done> bool ChildProcess::pumpUntil(const Done& done, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done() && std::chrono::steady_clock::now() < end) {
        pollfd p[2] = { { _fds[0], POLLIN, 0 }, { _fds[1], POLLIN, 0 } };
        poll(p, 2, 20); // short slices: the exit is looked for between them
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
