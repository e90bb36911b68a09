#include "BenchRunner.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace KovanTest {

namespace {

std::string quoted(const std::string& word)
{
    std::string text = "'";
    for (char c : word)
        text += '\'' == c ? std::string("'\\''") : std::string(1, c);
    return text + "'";
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

BenchRun Bench::run(
    const std::vector<std::string>& command, const std::vector<std::string>& settings) const
{
    // Whatever the simulator settings of the tests' own environment, only this run's count.
    std::string line = "env -u LD_PRELOAD";
    for (char** e = environ; *e; ++e) {
        if (0 == strncmp(*e, "QUILLO_SIM_", 11))
            line += " -u " + quoted(std::string(*e, strcspn(*e, "=")));
    }
    std::vector<std::string> words
        = { "TZ=UTC0", "QUILLO_SIM_STATE=" + path("state"), "QUILLO_SIM_LOG=" + path("log") };
    words.insert(words.end(), settings.begin(), settings.end());
    words.insert(words.end(), { "timeout", "-s", "KILL", "20", QUILLO_BENCH_WRAPPER });
    words.insert(words.end(), command.begin(), command.end());
    for (const std::string& word : words)
        line += " " + quoted(word);
    line += " >" + quoted(path("out")) + " 2>" + quoted(path("err"));
    const int status = system(line.c_str());
    return { readFile(path("out")), readFile(path("err")),
        WIFEXITED(status) ? WEXITSTATUS(status) : -1 };
}

std::vector<std::string> Bench::takeLog() const
{
    std::vector<std::string> lines;
    std::istringstream in(readFile(path("log")));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    unlink(path("log").c_str());
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
