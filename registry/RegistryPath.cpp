#include "registry/RegistryPath.h"

namespace Kovan {

const char* parseRegistryPath(const char* text, std::vector<uint32>* ids)
{
    ids->clear();
    if (nullptr == text || '/' != text[0])
        return "a path begins with /";
    if ('\0' == text[1])
        return nullptr;
    for (const char* p = text; '\0' != *p;) {
        if ('/' != *p++) {
            ids->clear();
            return "ids are separated by /";
        }
        uint32 id = 0;
        const char* digits = p;
        // Bounded by the value: past REGISTRY_MAX_ID the loop stops at once.
        for (; '0' <= *p && *p <= '9' && id <= REGISTRY_MAX_ID; ++p)
            id = id * 10 + static_cast<uint32>(*p - '0');
        if (p == digits) {
            ids->clear();
            return "an id is a decimal number";
        }
        if (0 == id || id > REGISTRY_MAX_ID) {
            ids->clear();
            return "an id is 1 to 65534";
        }
        ids->push_back(id);
    }
    return nullptr;
}

std::string registryPathText(const uint32* ids, size_t count)
{
    if (0 == count)
        return "/";
    std::string text;
    for (size_t i = 0; i < count; ++i)
        text += "/" + std::to_string(ids[i]);
    return text;
}

} // namespace Kovan
