// Runs commands on the simulated bench in a private directory with its state, log and output.
#pragma once

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace KovanTest {

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    return { std::istreambuf_iterator<char>(in), {} };
}

struct BenchRun {
    std::string out, err;
    int status = -1; // 137 when it overran its time
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
        auto quoted = [](const std::string& word) {
            return "'" + std::regex_replace(word, std::regex("'"), "'\\''") + "'";
        };
        std::string line = "env -u LD_PRELOAD";
        for (char** e = environ; *e; ++e) {
            if (0 == strncmp(*e, "QUILLO_SIM_", 11))
                line += " -u " + quoted(std::string(*e, strcspn(*e, "=")));
        }
        std::vector<std::string> words
            = { "TZ=UTC0", "QUILLO_SIM_STATE=" + path("state"), "QUILLO_SIM_LOG=" + path("log") };
        words.insert(words.end(), settings.begin(), settings.end());
        words.insert(words.end(),
            { "timeout", "-s", "KILL", std::to_string(timeoutSeconds), QUILLO_BENCH_WRAPPER,
                program });
        std::istringstream more(args);
        for (std::string word; more >> word;)
            words.push_back(word);
        for (const std::string& word : words)
            line += " " + quoted(word);
        line += " <" + quoted(input) + " >" + quoted(path("out")) + " 2>" + quoted(path("err"));
        const int status = system(line.c_str()); // NOLINT(cert-env33-c): every word is quoted
        return { readFile(path("out")), readFile(path("err")),
            WIFEXITED(status) ? WEXITSTATUS(status) : -1 };
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
