// Runs commands on the simulated bench in a private directory with its state, log and output.
#pragma once

#include "support/ChildProcess.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <vector>

namespace KovanTest {

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    return { std::istreambuf_iterator<char>(in), {} };
}

struct BenchRun {
    std::string out, err;
    int status = -1; // 128 + the signal when killed: 137 when it overran its time
};

class Bench {
public:
    Bench()
    {
        char pattern[] = "/tmp/quillo-bench-XXXXXX";
        _dir = mkdtemp(pattern) ? pattern : throw std::runtime_error("mkdtemp failed");
    }
    ~Bench()
    {
        std::error_code ignored;
        std::filesystem::remove_all(_dir, ignored);
    }
    Bench(const Bench&) = delete;

    std::string path(const char* name) const { return _dir + "/" + name; }

    // Runs `program` with the words of `args`, TZ=UTC0, this bench's state and log, and no other
    // QUILLO_SIM_ setting than `settings` ("NAME=value"; "TZ=..." too), its input from `input`.
    BenchRun run(const std::string& program, const std::string& args,
        const std::vector<std::string>& settings = {}, const std::string& input = "/dev/null",
        int timeoutSeconds = 20) const
    {
        ChildOptions options;
        options.input = input;
        options.output = path("out");
        options.errors = path("err");
        options.environment = { "LD_PRELOAD*", "QUILLO_SIM_*", "TZ=UTC0",
            "QUILLO_SIM_STATE=" + path("state"), "QUILLO_SIM_LOG=" + path("log") };
        options.environment.insert(options.environment.end(), settings.begin(), settings.end());
        std::vector<std::string> argv = { QUILLO_BENCH_WRAPPER, program };
        std::istringstream more(args);
        for (std::string word; more >> word;)
            argv.push_back(word);
        ChildProcess child(argv, options); // killed, if still there, on the way out
        int status = -1;
        if (!child.wait(timeoutSeconds * 1000, &status))
            status = 137;
        return { readFile(path("out")), readFile(path("err")), status };
    }

    std::vector<std::string> takeLog() const
    {
        std::vector<std::string> lines;
        std::istringstream in(readFile(path("log")));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        std::filesystem::remove(path("log"));
        return lines;
    }

private:
    std::string _dir;
};

} // namespace KovanTest
