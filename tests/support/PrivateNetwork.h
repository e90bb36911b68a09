// A network namespace of the process's own, loopback only: nothing a test sends leaves the machine.
#pragma once

#include <string>

namespace KovanTest {

// Moves the process (before any thread starts; needs root) into it: "" on success, else what
// failed.
std::string enterPrivateNetwork();

} // namespace KovanTest
