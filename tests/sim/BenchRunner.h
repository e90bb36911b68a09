// Runs a command on the simulated bench (through the quillo-bench wrapper) in a private directory
// that holds the simulator's state file, its transfer log and the run's output.
#pragma once

#include <string>
#include <vector>

namespace KovanTest {

struct BenchRun {
    std::string out;
    std::string err;
    int status = -1; // 128 + the signal number when killed, 137 when it overran its 20 s
};

class Bench {
public:
    Bench();
    ~Bench();
    Bench(const Bench&) = delete;

    // Runs `command` with TZ=UTC0, this bench's state and log, and no other QUILLO_SIM_ setting
    // than `settings` ("NAME=value").
    BenchRun run(const std::vector<std::string>& command,
        const std::vector<std::string>& settings = {}) const;
    // The transfer log's lines since the last call.
    std::vector<std::string> takeLog() const;
    std::string path(const char* name) const { return _dir + "/" + name; }

private:
    std::string _dir;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);

} // namespace KovanTest
