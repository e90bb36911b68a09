// The SNTP service beside chronyd and ntpdig, on a loopback of the program's own (a private
// network namespace made before main; run as root):
//
//   BM_ServerLoad/SERVER/WINDOW/RUN  a bounded burst of requests with WINDOW outstanding at a
//                                time, against chronyd, the modern sntp-serve or the classic one
//                                (--classic): replies per second, p50/p99 latency, lost
//                                requests, the server's CPU time per reply (all its threads,
//                                from /proc), the median |offset| the load client computes from
//                                each reply, and for the project's servers the ratios to
//                                chronyd's figures at the same window in the same run. Runs
//                                0, 1 and 2 are interleaved (chronyd and the modern server in
//                                turn, each run after the other), so a change of the machine's
//                                load falls on both; report medians with their range.
//   BM_Fleet/RUN                 the modern server with its default rate limit, loaded from the
//                                65,536 addresses of 127.0.0.0/16 in turn (each below its
//                                limit), 64 outstanding, while 127.1.0.1 asks 1000 times a
//                                second: replies/s (and the ratio to the same run's
//                                single-address figure with no limit), lost fleet requests (a
//                                fleet client rate-limited shows here), and how many of the
//                                abuser's requests were answered (about a quarter leak)
//   BM_FleetBaseline/RUN         the fleet's own client path (unconnected socket, source address
//                                set per datagram) from one address, against the modern server
//                                with no limit: what the fleet's `x_same_client_replies` divides
//                                by, so that the client's own cost of many addresses is not
//                                counted against the server
//   BM_OneShot                   one complete query program run against chronyd: the strict
//                                sntp-query, the classic one and ntpdig in turn, beside
//                                /bin/true as the cost of any process start
//
// Servers are separate processes started and stopped around each benchmark (the project's is
// the sntp-serve example, its output sent to /dev/null); nothing leaves the namespace.
#include "support/Chronyd.h"
#include "support/PrivateNetwork.h"
#include "support/UdpFrom.h"

#include "net/DatagramBatch.h"
#include "sntp/SntpPacket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Per load run; KOVAN_SNTP_BENCH_REQUESTS makes a short smoke run.
int requestCount()
{
    const char* text = getenv("KOVAN_SNTP_BENCH_REQUESTS");
    const long n = text != nullptr ? strtol(text, nullptr, 10) : 0;
    return n > 0 && n <= 10000000 ? static_cast<int>(n) : 40000;
}
const int REQUESTS = requestCount();
const int RUNS = 3;
const int LOAD_LIMIT_S = 20; // and never longer than this
const int LOST_AFTER_MS = 200;
const int MAX_WINDOW = 64;

const bool privateNetwork = KovanTest::enterPrivateNetwork().empty();

int connectedSocket()
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    // Replies carry the kernel's arrival time, so the offsets below do not include the load
    // client's own queueing.
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on));
    sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(123);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    (void)connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    return fd;
}

sockaddr_in serverAddress()
{
    sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(123);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Bound to the wildcard address, so that it receives the replies to any 127.x.y.z it sends from.
int wildcardSocket()
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1, big = 8 << 20;
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on));
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof(big));
    sockaddr_in any;
    memset(&any, 0, sizeof(any));
    any.sin_family = AF_INET;
    if (0 != bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof(any))) {
        close(fd);
        return -1;
    }
    return fd;
}

// A 48-byte client request whose transmit time carries a sequence number; both servers echo it
// back in org, which is how replies are matched to requests.
void request(Kovan::uint32 sequence, Kovan::SntpBasicInfo* packet)
{
    memset(packet, 0, sizeof(*packet));
    packet->li_vn_mode = Kovan::SNTP_CLIENT_LI_VN_MODE;
    packet->xmt.sec = htonl(0xE0000000u);
    packet->xmt.fraction = htonl(sequence);
}

// Polls (bounded) until something answers on port 123.
bool waitForServer()
{
    const int fd = connectedSocket();
    bool answered = false;
    for (int i = 0; i < 150 && !answered; ++i) {
        Kovan::SntpBasicInfo packet;
        request(0, &packet);
        send(fd, &packet, sizeof(packet), 0);
        pollfd p = { fd, POLLIN, 0 };
        if (poll(&p, 1, 100) > 0) {
            char buffer[128];
            answered = recv(fd, buffer, sizeof(buffer), 0) >= 48;
        }
        if (!answered)
            usleep(20000);
    }
    close(fd);
    return answered;
}

enum Server { CHRONYD, MODERN, CLASSIC };

// The server under test: chronyd through the tests' launcher, or the sntp-serve example with its
// output sent to /dev/null (nothing reads it, and a full pipe would stall it). Killed when this
// goes.
class RunningServer {
public:
    explicit RunningServer(Server server, bool fleet = false)
    {
        if (server == CHRONYD) {
            _chronyd = std::make_unique<KovanTest::Chronyd>();
            _ready = _chronyd->ready();
            return;
        }
        KovanTest::ChildOptions quiet;
        quiet.output = quiet.errors = "/dev/null";
        // The same footing as chronyd's local reference, and no rate limit: the load comes from
        // one address. The fleet keeps the default limit: that is what it measures.
        std::vector<std::string> argv = { SNTP_SERVE_PATH, "--classic" };
        if (server == MODERN)
            argv = fleet
                ? std::vector<std::string> { SNTP_SERVE_PATH, "--local" }
                : std::vector<std::string> { SNTP_SERVE_PATH, "--local", "--rate-limit", "0" };
        _serve = std::make_unique<KovanTest::ChildProcess>(argv, quiet);
        _ready = waitForServer();
    }
    bool ready() const { return _ready; }
    pid_t pid() const { return _chronyd ? _chronyd->pid() : _serve->pid(); }

private:
    std::unique_ptr<KovanTest::Chronyd> _chronyd;
    std::unique_ptr<KovanTest::ChildProcess> _serve;
    bool _ready = false;
};

// CPU time used so far by all threads of `pid`, in nanoseconds (the scheduler's own account, so
// short runs are measured to the nanosecond rather than to the clock tick).
double cpuNs(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    double total = 0;
    DIR* dir = opendir(tasks.c_str());
    if (dir == nullptr)
        return 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream in(tasks + "/" + entry->d_name + "/schedstat");
        double ns = 0;
        if (in >> ns)
            total += ns;
    }
    closedir(dir);
    return total;
}

// NTP seconds in long double: a double's 52 bits would leave only microseconds beside 2^32 s.
using Seconds = long double;

Seconds realNtp()
{
    timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return Seconds(t.tv_sec) + 2208988800.0L + Seconds(t.tv_nsec) * 1e-9L;
}

Seconds ntpSeconds(const Kovan::SntpTimePacket& p)
{
    return Seconds(ntohl(p.sec)) + Seconds(ntohl(p.fraction)) / 4294967296.0L;
}

// chronyd's and the modern server's figures per window and run, for the ratios of the rows that
// follow them in the same run.
using Figures = std::map<std::pair<int, int>, std::map<std::string, double>>;
Figures& chronydFigures()
{
    static Figures figures;
    return figures;
}
Figures& baselineFigures()
{
    static Figures figures;
    return figures;
}

Figures& modernFigures()
{
    static Figures figures;
    return figures;
}

void sendFrom(
    int fd, Kovan::uint32 source, const sockaddr_in& to, const Kovan::SntpBasicInfo& packet)
{
    (void)KovanTest::sendFrom(fd, source, to, &packet, sizeof(packet));
}

// Sequence numbers with this bit set are the abuser's.
const Kovan::uint32 ABUSER_BIT = 0x80000000u;

// Where the load comes from: one connected socket, the fleet of addresses (and the abuser), or
// the fleet's client path from one address.
enum Load { ONE, FLEET, ONE_AS_FLEET };

void serverLoad(benchmark::State& state, Server which, int window, int run, Load load)
{
    const bool fleet = load == FLEET;
    if (!privateNetwork) {
        state.SkipWithError("needs root for a private network namespace");
        return;
    }
    const RunningServer server(which, fleet);
    if (!server.ready()) {
        state.SkipWithError("the server did not answer");
        return;
    }
    const int fd = load == ONE ? connectedSocket() : wildcardSocket();
    if (fd < 0) {
        state.SkipWithError("no client socket");
        return;
    }
    const sockaddr_in to = serverAddress();
    long abuserSent = 0, abuserAnswered = 0;
    Kovan::detail::setSocketTimeouts(fd, LOST_AFTER_MS);
    Kovan::DatagramBatch replies(MAX_WINDOW, sizeof(Kovan::SntpFullPacket));
    std::vector<double> latencies, offsets;
    latencies.reserve(REQUESTS);
    offsets.reserve(REQUESTS);
    long lost = 0;
    double seconds = 0, cpu = 0;

    for (auto _ : state) {
        std::vector<Clock::time_point> sentAt(REQUESTS);
        std::vector<Seconds> sentNtp(REQUESTS);
        std::vector<bool> done(REQUESTS, false);
        int next = 0, outstanding = 0, answered = 0;
        const double cpuBefore = cpuNs(server.pid());
        const auto start = Clock::now();
        const auto limit = start + std::chrono::seconds(LOAD_LIMIT_S);
        while ((next < REQUESTS || outstanding > 0) && Clock::now() < limit) {
            // Each request stamped just before its own send (the offsets below need it); the
            // replies taken in batches with the kernel's arrival stamps, which keeps the load
            // client's own cost out of the servers' way.
            while (fleet
                && abuserSent
                    < std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)
                          .count()) {
                Kovan::SntpBasicInfo packet;
                request(ABUSER_BIT | static_cast<Kovan::uint32>(++abuserSent), &packet);
                sendFrom(fd, 0x7F010001u, to, packet);
            }
            while (outstanding < window && next < REQUESTS) {
                Kovan::SntpBasicInfo packet;
                request(static_cast<Kovan::uint32>(next + 1), &packet);
                sentAt[next] = Clock::now();
                sentNtp[next] = realNtp();
                if (load != ONE)
                    sendFrom(fd,
                        fleet ? 0x7F000000u + static_cast<Kovan::uint32>(next & 0xFFFF)
                              : 0x7F000001u,
                        to, packet);
                else
                    send(fd, &packet, sizeof(packet), 0);
                ++next;
                ++outstanding;
            }
            const int received = replies.receive(fd);
            if (received == 0) {
                // Nothing for a while: whatever is outstanding is given up as lost.
                outstanding = 0;
                continue;
            }
            const auto now = Clock::now();
            for (int i = 0; i < received; ++i) {
                if (replies.length(i) < 48)
                    continue;
                Kovan::SntpBasicInfo reply;
                memcpy(&reply, replies.data(i), sizeof(reply));
                const Kovan::uint32 sequence = ntohl(reply.org.fraction);
                if (0 != (sequence & ABUSER_BIT)) {
                    ++abuserAnswered;
                    continue;
                }
                if (sequence < 1 || sequence > static_cast<Kovan::uint32>(next)
                    || done[sequence - 1])
                    continue;
                done[sequence - 1] = true;
                latencies.push_back(
                    std::chrono::duration<double, std::micro>(now - sentAt[sequence - 1]).count());
                const timespec& t = replies.arrival(i);
                const Seconds arrived
                    = Seconds(t.tv_sec) + 2208988800.0L + Seconds(t.tv_nsec) * 1e-9L;
                const Seconds t1 = sentNtp[sequence - 1];
                offsets.push_back(static_cast<double>(std::fabs(
                    ((ntpSeconds(reply.rec) - t1) + (ntpSeconds(reply.xmt) - arrived)) / 2)));
                --outstanding;
                ++answered;
            }
        }
        lost = REQUESTS - answered; // timed out, or never sent before the limit
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
        cpu = cpuNs(server.pid()) - cpuBefore;
        state.SetIterationTime(seconds);
    }
    close(fd);

    std::sort(latencies.begin(), latencies.end());
    std::sort(offsets.begin(), offsets.end());
    const auto percentile = [](const std::vector<double>& v, double q) {
        return v.empty() ? 0.0 : v[static_cast<size_t>(q * static_cast<double>(v.size() - 1))];
    };
    std::map<std::string, double> figures;
    figures["replies/s"] = static_cast<double>(latencies.size()) / seconds;
    figures["p50_us"] = percentile(latencies, 0.50);
    figures["p99_us"] = percentile(latencies, 0.99);
    figures["lost"] = static_cast<double>(lost);
    figures["cpu_us/reply"]
        = latencies.empty() ? 0.0 : cpu / 1000.0 / static_cast<double>(latencies.size());
    figures["offset_us"] = percentile(offsets, 0.50) * 1e6;
    const std::pair<int, int> key(window, run);
    if (fleet) {
        figures["abuser_sent"] = static_cast<double>(abuserSent);
        figures["abuser_answered"] = static_cast<double>(abuserAnswered);
        if (modernFigures().count(key) != 0)
            figures["x_single_replies"] = figures["replies/s"] / modernFigures()[key]["replies/s"];
        if (baselineFigures().count(key) != 0)
            figures["x_same_client_replies"]
                = figures["replies/s"] / baselineFigures()[key]["replies/s"];
    } else if (load == ONE_AS_FLEET)
        baselineFigures()[key] = figures;
    else if (which == CHRONYD)
        chronydFigures()[key] = figures;
    else if (chronydFigures().count(key) != 0) {
        std::map<std::string, double>& chronyd = chronydFigures()[key];
        figures["x_chronyd_replies"] = figures["replies/s"] / chronyd["replies/s"];
        figures["x_chronyd_cpu"] = figures["cpu_us/reply"] / chronyd["cpu_us/reply"];
        figures["x_chronyd_p99"] = figures["p99_us"] / chronyd["p99_us"];
    }
    if (load == ONE && which == MODERN)
        modernFigures()[key] = figures;
    for (const auto& f : figures)
        state.counters[f.first] = f.second;
}

// One round runs each program once, in turn, so load on the machine falls on all of them alike;
// the benchmark's time is the strict sntp-query's, the counters give all three and the ratio.
void BM_OneShot(benchmark::State& state)
{
    if (!privateNetwork) {
        state.SkipWithError("needs root for a private network namespace");
        return;
    }
    const KovanTest::Chronyd chronyd;
    if (!chronyd.ready()) {
        state.SkipWithError("chronyd did not answer");
        return;
    }
    const std::vector<std::string> programs[] = {
        { SNTP_QUERY_PATH, "-t", "2000", "127.0.0.1" },
        { SNTP_QUERY_PATH, "--classic", "-t", "2000", "127.0.0.1" },
        { "ntpdig", "-t", "2", "127.0.0.1" },
        { "true" }, // what starting any process costs on this machine now
    };
    KovanTest::ChildOptions quiet;
    quiet.output = quiet.errors = "/dev/null";
    // Wall time, and the child's own CPU time, which a machine busy with other work disturbs less.
    double total[4] = { 0, 0, 0, 0 }, cpu[4] = { 0, 0, 0, 0 };
    int failures = 0;
    for (auto _ : state) {
        for (int k = 0; k < 4; ++k) {
            const auto start = Clock::now();
            KovanTest::ChildProcess query(programs[k], quiet);
            int status = -1;
            query.wait(60000, &status);
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            const rusage& usage = query.usage;
            failures += 0 != status;
            total[k] += seconds;
            cpu[k] += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
            if (0 == k)
                state.SetIterationTime(seconds);
        }
    }
    const double runs = static_cast<double>(state.iterations());
    const char* names[4] = { "strict", "classic", "ntpdig", "true" };
    for (int k = 0; k < 4; ++k) {
        state.counters[std::string(names[k]) + "_ms"] = total[k] / runs * 1e3;
        state.counters[std::string(names[k]) + "_cpu_ms"] = cpu[k] / runs * 1e3;
    }
    state.counters["ntpdig/strict"] = total[2] / total[0];
    state.counters["failures"] = failures;
}

void BM_ServerLoad(benchmark::State& state, Server which)
{
    serverLoad(
        state, which, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), ONE);
}

void BM_Fleet(benchmark::State& state)
{
    serverLoad(state, MODERN, MAX_WINDOW, static_cast<int>(state.range(0)), FLEET);
}

void BM_FleetBaseline(benchmark::State& state)
{
    serverLoad(state, MODERN, MAX_WINDOW, static_cast<int>(state.range(0)), ONE_AS_FLEET);
}

// Interleaved: in each run, chronyd first (the project's rows report their ratios to its figures),
// then the modern server, then the fleet's client from one address, then the fleet (its ratios
// are to the modern single-address figure and to that baseline).
const bool registered = [] {
    for (int run = 0; run < RUNS; ++run) {
        for (int window : { 1, MAX_WINDOW })
            for (Server server : { CHRONYD, MODERN })
                benchmark::RegisterBenchmark(
                    server == CHRONYD ? "BM_ServerLoad/chronyd" : "BM_ServerLoad/modern",
                    BM_ServerLoad, server)
                    ->Args({ window, run })
                    ->Iterations(1)
                    ->UseManualTime()
                    ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_FleetBaseline", BM_FleetBaseline)
            ->Arg(run)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_Fleet", BM_Fleet)
            ->Arg(run)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();
BENCHMARK_CAPTURE(BM_ServerLoad, classic, CLASSIC)
    ->Args({ 1, 0 })
    ->Args({ MAX_WINDOW, 0 })
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OneShot)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
