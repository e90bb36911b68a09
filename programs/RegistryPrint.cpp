// registry-print FILE [TITLE]: dumps a registry settings file to standard error, opened
// read-only so that looking never changes it. The bench technician's way into a settings file.
// Bytes from the file that a terminal would act on (escape sequences, control bytes) show as
// \xHH escapes unless --raw asks for them as they are.
// Exit status: 0 for a whole dump, 1 when the file cannot be opened or the dump stops on a
// damaged record, 2 for a wrong command line.
#include "registry/Registry.h"
#include "registry/TextEscape.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char USAGE[] = "usage: %s [--raw] [--] FILE [TITLE]\n"
                     "Prints the keys and values of a registry settings file on standard error.\n"
                     "  --raw  text from the file as it is, control bytes included\n";

std::string safe(const char* text)
{
    std::string out;
    Kovan::escapeText(text, strlen(text), Kovan::EscapeStyle::TERMINAL, &out);
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    const char* self = "registry-print";
    int first = 1;
    bool raw = false;
    for (; first < argc && '-' == argv[first][0] && '\0' != argv[first][1]; ++first) {
        if (0 == strcmp(argv[first], "--help") || 0 == strcmp(argv[first], "-h")) {
            printf(USAGE, self);
            return 0;
        }
        if (0 == strcmp(argv[first], "--")) {
            ++first;
            break;
        }
        if (0 != strcmp(argv[first], "--raw")) {
            (void)fprintf(stderr, USAGE, self);
            return 2;
        }
        raw = true;
    }
    const int words = argc - first;
    if (words < 1 || words > 2) {
        (void)fprintf(stderr, USAGE, self);
        return 2;
    }
    const char* filename = argv[first];
    Kovan::Registry registry;
    try {
        registry.open(filename, false);
    } catch (const Kovan::Registry::Exception& e) {
        registry.close();
        (void)fprintf(stderr, "%s: %s (registry failure %d)\n", safe(e.path()).c_str(),
            2 == e.code() ? "cannot open" : "not a registry file", e.code());
        return 1;
    }
    try {
        Kovan::FilePrinter printer(stderr, raw);
        registry.dump(words > 1 ? argv[first + 1] : filename, printer);
    } catch (const Kovan::Registry::Exception& e) {
        registry.close();
        (void)fprintf(stderr, "%s: the dump stopped: registry failure %d at %s, id %u\n",
            safe(filename).c_str(), e.code(), e.path(), e.id());
        return 1;
    }
    const bool intact = registry.testFileChecksum();
    registry.close();
    if (!intact)
        (void)fprintf(stderr, "warning: the stored checksum does not match the file\n");
    return 0;
}
