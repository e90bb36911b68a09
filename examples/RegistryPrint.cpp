// registry-print FILE [TITLE]: dumps a registry settings file to standard error, opened
// read-only so that looking never changes it. The bench technician's way into a settings file.
#include "registry/Registry.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: %s FILE [TITLE]\n", argc > 0 ? argv[0] : "registry-print");
        return 2;
    }
    const char* filename = argv[1];
    Kovan::Registry registry;
    try {
        registry.open(filename, false);
    } catch (const Kovan::Registry::Exception& e) {
        registry.close();
        fprintf(stderr, "%s: %s (registry failure %d)\n", e.path(),
            2 == e.code() ? "cannot open" : "not a registry file", e.code());
        return 1;
    }
    registry.print(argc > 2 ? argv[2] : filename);
    const bool intact = registry.testFileChecksum();
    registry.close();
    if (!intact)
        fprintf(stderr, "warning: the stored checksum does not match the file\n");
    return 0;
}
