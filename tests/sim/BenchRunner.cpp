#include "BenchRunner.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace KovanTest {

namespace {

std::string readAll(int fd)
{
    std::string text;
    char buffer[4096];
    lseek(fd, 0, SEEK_SET);
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

bool startsWith(const char* text, const char* prefix)
{
    return 0 == strncmp(text, prefix, strlen(prefix));
}

// Waits for the child for at most `timeoutMs`, then kills it. Returns waitpid's status, or -1.
int waitBounded(pid_t pid, int timeoutMs)
{
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    bool overran = false;
    if (-1 != pidfd) {
        pollfd p = { pidfd, POLLIN, 0 };
        int ready;
        while (-1 == (ready = poll(&p, 1, timeoutMs)) && EINTR == errno) { }
        overran = 0 == ready;
        close(pidfd);
    }
    if (overran)
        kill(pid, SIGKILL);
    int status = 0;
    while (-1 == waitpid(pid, &status, 0) && EINTR == errno) { }
    return overran ? -1 : status;
}

} // namespace

Bench::Bench()
{
    char pattern[] = "/tmp/quillo-bench-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    _dir = pattern;
}

Bench::~Bench()
{
    std::error_code ignored;
    std::filesystem::remove_all(_dir, ignored);
}

BenchRun Bench::run(const std::vector<std::string>& command,
    const std::vector<std::string>& settings, int timeoutMs) const
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        if (!startsWith(*e, "QUILLO_SIM_") && !startsWith(*e, "TZ=")
            && !startsWith(*e, "LD_PRELOAD="))
            env.emplace_back(*e);
    }
    env.push_back("TZ=UTC0");
    env.push_back("QUILLO_SIM_STATE=" + statePath());
    env.push_back("QUILLO_SIM_LOG=" + logPath());
    env.insert(env.end(), settings.begin(), settings.end());

    std::vector<std::string> args = { QUILLO_BENCH_WRAPPER };
    args.insert(args.end(), command.begin(), command.end());
    std::vector<char*> argv, envp;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const int out = memfd_create("bench-out", MFD_CLOEXEC);
    const int err = memfd_create("bench-err", MFD_CLOEXEC);
    BenchRun result;
    const pid_t pid = fork();
    if (0 == pid) {
        dup2(out, 1);
        dup2(err, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (pid > 0) {
        const int status = waitBounded(pid, timeoutMs);
        if (-1 == status)
            result.status = -1;
        else if (WIFEXITED(status))
            result.status = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            result.status = 128 + WTERMSIG(status);
    }
    result.out = readAll(out);
    result.err = readAll(err);
    close(out);
    close(err);
    return result;
}

std::vector<std::string> Bench::takeLog() const
{
    std::vector<std::string> lines;
    std::istringstream in(readFile(logPath()));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    unlink(logPath().c_str());
    return lines;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

} // namespace KovanTest
