// Registry paths as text, the way people and scripts write them: "/1/20/3" is id 3 under key 20
// under key 1, "/" is the root. Each id is decimal, 1 to 65534 (0 is the root's and 65535 is
// never stored); nothing else is a path: no empty element, sign, space or trailing slash.
//
// Thread safety: pure functions; any thread may call them.
#pragma once

#include "foundation/Types.h"

#include <string>
#include <vector>

namespace Kovan {

constexpr uint32 REGISTRY_MAX_ID = 0xFFFE;

// The ids of `text` into `ids`; nullptr, or the reason `text` is not a path (ids then empty).
const char* parseRegistryPath(const char* text, std::vector<uint32>* ids);

// "/" for no ids, else "/1/20/3".
std::string registryPathText(const uint32* ids, size_t count);

} // namespace Kovan
