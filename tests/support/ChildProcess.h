// A program run as a child process, for the tests and the benchmarks: its standard output and
// error collected (or written to files), in a process group of its own that is killed whole
// when the object goes.
#pragma once

#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <vector>

namespace KovanTest {

struct ChildOptions {
    std::string input = "/dev/null";
    // Files for standard output and error; "" collects them in `out` and `err`.
    std::string output, errors;
    // Changes to this process's environment, in order: "NAME=value" sets, "PREFIX*" removes
    // every variable whose name starts with PREFIX.
    std::vector<std::string> environment;
};

class ChildProcess {
public:
    // Starts argv[0] (looked up in PATH when it has no slash); throws when it cannot.
    explicit ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Collects output until `text` is in `out`, the output ends or `timeoutMs` has passed.
    bool waitForText(const std::string& text, int timeoutMs);
    // True, with the status (128 + the signal when killed), once it has exited and its output
    // ended; false if that took longer than `timeoutMs`.
    bool wait(int timeoutMs, int* status = nullptr);

    pid_t pid() const { return _pid; }

    std::string out, err;
    rusage usage = {}; // the child's own, once it has exited

private:
    template <typename Done> bool pumpUntil(const Done& done, int timeoutMs);
    pid_t _pid = -1;
    int _fds[2] = { -1, -1 };
    bool _exited = false;
    int _status = 0;
};

} // namespace KovanTest
