// Runs a fuzzer's body over its saved inputs, so every build with tests (gcc, the sanitizers,
// armhf under emulation) replays what the fuzzers once found, without libFuzzer:
//   kovan_fuzz_NAME_replay FOLDER
// Each input is named on standard output before it runs, so a crash names its input. A folder
// without inputs fails: a renamed folder must not pass by replaying nothing.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    if (2 != argc) {
        (void)fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    std::vector<std::filesystem::path> inputs;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1], error))
        if (entry.is_regular_file())
            inputs.push_back(entry.path());
    if (error || inputs.empty()) {
        (void)fprintf(stderr, "%s: no saved inputs in %s\n", argv[0], argv[1]);
        return 1;
    }
    std::sort(inputs.begin(), inputs.end());
    for (const auto& path : inputs) {
        std::ifstream file(path, std::ios::binary);
        const std::vector<char> bytes { std::istreambuf_iterator<char>(file), {} };
        (void)printf("replay %s (%zu bytes)\n", path.filename().c_str(), bytes.size());
        (void)fflush(stdout);
        // libFuzzer never hands over a null pointer, even for an empty input.
        static const uint8_t none = 0;
        (void)LLVMFuzzerTestOneInput(
            bytes.empty() ? &none : reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    (void)printf("%zu inputs replayed\n", inputs.size());
    return 0;
}
