// A network namespace of the calling process's own, with only its loopback, up: what a test binds
// (port 123) or sends then never leaves the machine. Needs CAP_SYS_ADMIN (root).
#pragma once

#include <string>

namespace KovanTest {

// Moves the process (call it before any thread starts) into a fresh network namespace; "" on
// success, else what failed.
std::string enterPrivateNetwork();

} // namespace KovanTest
