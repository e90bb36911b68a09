// registry-print FILE [TITLE]: dumps a registry settings file to standard error, opened
// read-only so that looking never changes it. The bench technician's way into a settings file.
// Exit status: 0 for a whole dump, 1 when the file cannot be opened or the dump stops on a
// damaged record, 2 for a wrong command line.
#include "registry/Registry.h"

#include <cstdio>
#include <cstring>

namespace {

const char USAGE[] = "usage: %s [--] FILE [TITLE]\n"
                     "Prints the keys and values of a registry settings file on standard error.\n";

} // namespace

int main(int argc, char** argv)
{
    const char* self = argc > 0 ? argv[0] : "registry-print";
    int first = 1;
    if (argc > 1 && (0 == strcmp(argv[1], "--help") || 0 == strcmp(argv[1], "-h"))) {
        printf(USAGE, self);
        return 0;
    }
    if (argc > 1 && 0 == strcmp(argv[1], "--"))
        ++first;
    const int words = argc - first;
    if (words < 1 || words > 2 || (first == 1 && '-' == argv[1][0] && '\0' != argv[1][1])) {
        (void)fprintf(stderr, USAGE, self);
        return 2;
    }
    const char* filename = argv[first];
    Kovan::Registry registry;
    try {
        registry.open(filename, false);
    } catch (const Kovan::Registry::Exception& e) {
        registry.close();
        (void)fprintf(stderr, "%s: %s (registry failure %d)\n", e.path(),
            2 == e.code() ? "cannot open" : "not a registry file", e.code());
        return 1;
    }
    try {
        registry.dump(words > 1 ? argv[first + 1] : filename);
    } catch (const Kovan::Registry::Exception& e) {
        registry.close();
        (void)fprintf(stderr, "%s: the dump stopped: registry failure %d at %s, id %u\n", filename,
            e.code(), e.path(), e.id());
        return 1;
    }
    const bool intact = registry.testFileChecksum();
    registry.close();
    if (!intact)
        (void)fprintf(stderr, "warning: the stored checksum does not match the file\n");
    return 0;
}
