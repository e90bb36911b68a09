// An SNTP server fit for an open network, beside the minimal SntpServer, which stays the library's
// default: a program opts in by using this class (the sntp-serve example does, unless --classic).
//
// It answers only what is a client request (at least 48 bytes, mode 3, version 1 to 4), with
// exactly 48 bytes, so no reply is ever larger than its request and no reply answers a reply:
// two servers cannot be made to talk to each other forever, and nobody can use it to multiply
// traffic towards a forged source. Each reply is laid out as RFC 5905 says: the request's version
// and poll, mode 4, the configured stratum and reference id, the clock's measured precision, the
// kernel's leap and synchronisation state, org = the request's transmit time, rec = when the
// kernel took the datagram in (SO_TIMESTAMPNS; where a kernel or emulator gives no stamps, the
// clock read right after the receive), xmt = the clock read just before sending, both to the
// nanosecond.
//
// Each client address may ask `rateLimit` times a second on average (bursts of `rateBurst`); the
// table that remembers clients has a fixed number of entries, the oldest making way for a new
// address, so a flood from forged addresses costs no memory. Over the limit one request in
// `leak` (4 unless set) is still answered, so that a flood forged with a client's address cannot
// silence that client; every reply is 48 bytes for a request of at least 48, so bytes out never
// exceed bytes in. Nothing is traced per request: the counters tell what happened.
//
// The port is its alone: one socket, bound without SO_REUSEADDR or SO_REUSEPORT, shared by all
// workers, so no other process (of this user or any other) can bind the port beside it and take
// a share of the requests. A worker takes the queued requests with one system call, answers them
// a few per call, each stamped with the moment it is expected to leave, and never pauses; while
// requests come close together it looks for the next one for up to 50 µs before it sleeps (and
// backs off after a look that finds nothing); a quiet server never does. One worker is the
// default: on a 2-core machine two workers on the one socket answered about half as many
// requests as one did with 64 in flight, for more processor time per reply.
// stop() is seen by the workers within a quarter of a second.
//
// Thread safety: start, stop and the destructor from one controlling thread; counters(), port(),
// workers() and the other readers from any thread while it runs.
#pragma once

#include "foundation/Types.h"
#include "net/SocketApiWrapper.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace Kovan {

struct SntpModernServerOptions {
    std::string address = "0.0.0.0"; // dotted IPv4 address to serve on
    uint16 port = 123; // 0: the system picks one (see port())
    uint8 stratum = 10; // as a server on a local clock would claim
    std::string referenceId = "LOCL"; // up to 4 ASCII characters, zero-padded
    // Threads serving the one socket; 0: one per online processor. One is the default: the
    // workers can only share the socket, where more of them mostly contend.
    int workers = 1;
    uint32 rateLimit = 16; // requests per second per client address; 0: no limit
    uint32 rateBurst = 32; // requests a client may send at once before the limit bites
    uint32 rateClients = 4096; // client addresses remembered for the limit (fixed memory)
    // Over the limit, answer with a RATE kiss-o'-death (at most one a second per client)
    // instead of silence.
    bool kissOfDeath = false;
    // Serve the clock as synchronised even while the kernel says it is not (LI 0 instead of
    // 3), as a server that is its own reference does. For isolated networks.
    bool localReference = false;
    // Over the rate limit, answer one request in this many anyway (0: none).
    uint32 leak = 4;
};

// What the workers have seen since start(); the sum of the dropped reasons, rateLimited,
// kisses, answered and sendFailed is received. leaked counts the answered that were over the
// limit; bytesOut is never more than bytesIn.
struct SntpModernServerCounters {
    uint64 received = 0;
    uint64 answered = 0;
    uint64 tooShort = 0; // fewer than 48 bytes
    uint64 notRequest = 0; // mode other than 3: replies, broadcasts, control messages
    uint64 badVersion = 0; // version 0 or above 4
    uint64 rateLimited = 0; // over the client's rate: dropped
    uint64 kisses = 0; // over the client's rate: RATE kiss-o'-death sent
    uint64 sendFailed = 0; // replies the system refused
    uint64 leaked = 0; // over the client's rate, answered anyway (part of answered)
    uint64 bytesIn = 0; // of every datagram received, each counted up to 48 bytes
    uint64 bytesOut = 0; // of every reply sent, kisses included
};

class SntpModernServer {
public:
    using Options = SntpModernServerOptions;
    using Counters = SntpModernServerCounters;

    explicit SntpModernServer(const Options& options = Options());
    ~SntpModernServer();
    SntpModernServer(const SntpModernServer&) = delete;
    SntpModernServer& operator=(const SntpModernServer&) = delete;

    // Binds the port and starts the workers. False, with error() telling why, when the options
    // are bad, another process holds the port (it is never taken over: no SO_REUSEADDR), or
    // the process may not bind it. True at once when already running.
    bool start();
    // Stops the workers (within about a quarter of a second) and closes the sockets.
    void stop();
    bool isRunning() const { return !_threads.empty(); }
    const std::string& error() const { return _error; }
    // The port served (useful after asking for port 0); 0 when not running.
    uint16 port() const { return _boundPort; }
    int workers() const { return static_cast<int>(_threads.size()); }
    // log2 of the clock's reading step, in seconds, as sent in each reply.
    int precision() const { return _precision; }
    Counters counters() const;
    // The memory of the rate table, fixed by rateClients; 0 without a limit.
    size_t rateTableBytes() const;

    // Whether the kernel counts the system clock as synchronised (adjtimex, read only): while it
    // does not, replies carry leap 3 and strict clients refuse them, unless localReference.
    static bool clockIsSynchronised();
    // The same judgement of a state adjtimex returned.
    static bool isSynchronised(int kernelState);

private:
    struct WorkerCounters;
    class RateTable;

    void work(SOCKET_FD fd, WorkerCounters* counters);
    void closeSockets();

    Options _options;
    std::string _error;
    uint32 _referenceId = 0; // network order
    int _precision = 0;
    uint16 _boundPort = 0;
    std::atomic<bool> _stopping { false };
    std::vector<SOCKET_FD> _sockets; // the one shared socket while running
    std::vector<std::thread> _threads;
    std::unique_ptr<WorkerCounters[]> _counters; // kept after stop() until the next start()
    int _counterCount = 0;
    std::unique_ptr<RateTable> _rates;
};

} // namespace Kovan
