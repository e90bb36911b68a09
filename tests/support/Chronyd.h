// chronyd as the reference peer of the SNTP tests and benchmarks: serving 127.0.0.1:123 from its
// own local stratum-10 reference, never touching the clock (-x). It binds port 123, so it belongs
// in a private network namespace (support/PrivateNetwork.h).
#pragma once

#include "support/ChildProcess.h"

#include <memory>
#include <string>

namespace KovanTest {

class Chronyd {
public:
    // Starts it and waits, bounded, until it answers a request.
    Chronyd();
    ~Chronyd();
    Chronyd(const Chronyd&) = delete;
    Chronyd& operator=(const Chronyd&) = delete;

    bool ready() const { return _ready; }
    pid_t pid() const { return _process->pid(); }
    // Its exit status (-1 while it runs) and what it wrote: for a failure's message.
    std::string log() const;

private:
    std::string _dir;
    std::unique_ptr<ChildProcess> _process;
    bool _ready = false;
    int _status = -1;
};

} // namespace KovanTest
