// Runs a command on the simulated bench (through the quillo-bench wrapper) and collects what it
// printed and how it ended, with a private directory for the simulator's state file and transfer
// log.
#pragma once

#include <string>
#include <vector>

namespace KovanTest {

struct BenchRun {
    std::string out;
    std::string err;
    // The exit status; 128 + the signal number when killed; -1 when it overran its time.
    int status = -1;
};

class Bench {
public:
    Bench();
    ~Bench();
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    // Runs `command` with QUILLO_SIM_STATE and QUILLO_SIM_LOG in this bench's directory, TZ=UTC0,
    // no other QUILLO_SIM_ setting than `settings` ("NAME=value"), and a limit of `timeoutMs`.
    BenchRun run(const std::vector<std::string>& command,
        const std::vector<std::string>& settings = {}, int timeoutMs = 20000) const;

    // The transfer log's lines since the last call.
    std::vector<std::string> takeLog() const;

    std::string statePath() const { return _dir + "/state"; }
    std::string logPath() const { return _dir + "/log"; }
    std::string path(const char* name) const { return _dir + "/" + name; }

private:
    std::string _dir;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);

} // namespace KovanTest
