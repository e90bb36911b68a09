#include "sntp/SntpModernServer.h"

#include "net/DatagramBatch.h"
#include "net/Inet4.h"
#include "sntp/NtpStamp.h"
#include "sntp/SntpPacket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <mutex>
#include <random>
#include <sys/timex.h>
#include <unistd.h>

namespace Kovan {

namespace {

constexpr int HEADER_SIZE = sizeof(SntpBasicInfo);
// Enough to drain a busy socket in a few calls, small enough to stay in the cache.
constexpr int BATCH = 64;
// How long a worker may block before it looks at the stop flag.
constexpr int WAKE_MS = 250;
// No pause between receives: under load the next batch is already waiting, and a pause to let
// requests gather only idled the worker while they queued. Batches form by themselves.
// Replies go out this many per system call; each is stamped with the moment it is expected to
// leave (see `work`).
constexpr int SEND_GROUP = 8;
constexpr int64 NS_PER_S = 1000000000;
// The most one reply's send may be taken to last when stamping the replies after it.
constexpr int64 MAX_SEND_NS = 50000;
// While requests come close together but few at a time, a worker that has just answered looks
// for the next one this long before it sleeps: falling asleep and being woken costs more than
// the wait. Only while the last wait was shorter than DENSE_NS, so a quiet server never polls;
// and a poll that finds nothing is not tried again for the next 1, 2, 4 ... MAX_POLL_BACKOFF
// wake-ups, so requests paced just too far apart (a client's or a flood's) cannot keep the
// worker polling in vain.
constexpr int64 POLL_NS = 50000;
constexpr int64 DENSE_NS = 200000;
constexpr int MAX_POLL_BACKOFF = 64;

int64 nanoseconds(const timespec& t) { return int64(t.tv_sec) * NS_PER_S + t.tv_nsec; }

timespec now(clockid_t clock)
{
    timespec t;
    clock_gettime(clock, &t);
    return t;
}

SntpTimePacket toPacket(const timespec& t) { return NtpStamp::toWire(NtpStamp::fromTimespec(t)); }

int32 toShortFormat(double seconds) { return static_cast<int32>(sntpSecondsToShort(seconds)); }

// A small, fast generator for the leak: one per worker, seeded at random, never shared.
class Leak {
public:
    Leak()
        : _state((uint64(std::random_device()()) << 32 | std::random_device()()) | 1)
    {
    }
    // True one time in `oneIn` (never for 0).
    bool next(uint32 oneIn)
    {
        _state ^= _state << 13;
        _state ^= _state >> 7;
        _state ^= _state << 17;
        return oneIn != 0 && (_state >> 32) % oneIn == 0;
    }

private:
    uint64 _state;
};

// log2 of the smallest step between two different readings of the real-time clock (or of its
// resolution, if coarser), rounded up: what a client may expect of our time stamps.
int measurePrecision()
{
    timespec resolution;
    clock_getres(CLOCK_REALTIME, &resolution);
    int64 step = NS_PER_S;
    for (int i = 0; i < 64; ++i) {
        const int64 first = nanoseconds(now(CLOCK_REALTIME));
        int64 second = first;
        for (int spin = 0; spin < 1000 && second == first; ++spin)
            second = nanoseconds(now(CLOCK_REALTIME));
        if (second > first)
            step = std::min(step, second - first);
    }
    step = std::max<int64>(step, nanoseconds(resolution));
    return std::max(-30, static_cast<int>(std::ceil(std::log2(double(step) / NS_PER_S))));
}

// What every reply of the coming second says about this clock, from the kernel's own view
// (a read-only query: nothing is changed).
struct ClockState {
    uint8 leap = SNTP_LEAP_UNSYNCHRONISED;
    int32 rootDispersion = 0;
    SntpTimePacket referenceTime = {};
    int64 refreshedAt = 0; // monotonic ns
};

ClockState readClockState(bool localReference, int precision)
{
    ClockState state;
    timex query;
    memset(&query, 0, sizeof(query));
    const int kernel = adjtimex(&query);
    const bool synchronised = SntpModernServer::isSynchronised(kernel);
    const double precisionSeconds = std::ldexp(1.0, precision);
    if (synchronised) {
        state.leap = kernel == TIME_INS ? SNTP_LEAP_ADD_SECOND
            : kernel == TIME_DEL        ? SNTP_LEAP_DELETE_SECOND
                                        : SNTP_LEAP_NONE;
        state.rootDispersion
            = toShortFormat(std::max(precisionSeconds, double(query.esterror) / 1e6));
    } else if (localReference) {
        state.leap = SNTP_LEAP_NONE;
        state.rootDispersion = toShortFormat(precisionSeconds);
    } else {
        state.rootDispersion = toShortFormat(16.0);
    }
    state.referenceTime = toPacket(now(CLOCK_REALTIME));
    state.refreshedAt = nanoseconds(now(CLOCK_MONOTONIC));
    return state;
}

enum {
    RECEIVED,
    ANSWERED,
    TOO_SHORT,
    NOT_REQUEST,
    BAD_VERSION,
    RATE_LIMITED,
    KISSES,
    SEND_FAILED,
    LEAKED,
    BYTES_IN,
    BYTES_OUT,
    COUNTERS
};

} // namespace

bool SntpModernServer::isSynchronised(int kernelState)
{
    return kernelState != -1 && kernelState != TIME_ERROR;
}

bool SntpModernServer::clockIsSynchronised()
{
    timex query;
    memset(&query, 0, sizeof(query));
    return isSynchronised(adjtimex(&query));
}

// Written by one worker only, read by anyone: plain stores of relaxed atomics, each worker on
// its own cache line.
struct alignas(64) SntpModernServer::WorkerCounters {
    std::atomic<uint64> values[COUNTERS];

    WorkerCounters()
    {
        for (auto& v : values)
            v.store(0, std::memory_order_relaxed);
    }
    void add(int which, uint64 count)
    {
        if (count != 0)
            values[which].store(
                values[which].load(std::memory_order_relaxed) + count, std::memory_order_relaxed);
    }
};

// A token bucket per client address in a fixed, set-associative table: a new address takes the
// place of the least recently seen one in its set. The sets are salted at random, so nobody can
// choose addresses that crowd out a given client.
class SntpModernServer::RateTable {
public:
    enum Verdict { PASS, DROP, KISS };

    RateTable(uint32 entries, uint32 rate, uint32 burst)
        : _sets(std::max<uint32>(1, (entries + WAYS - 1) / WAYS))
        , _entries(new Entry[size_t(_sets) * WAYS])
        , _rate(double(rate) / NS_PER_S)
        , _burst(std::max<uint32>(1, burst))
        , _salt(std::random_device()() | 1u)
    {
    }

    Verdict admit(uint32 address, int64 nowNs)
    {
        const uint32 set = static_cast<uint32>((uint64(address * _salt) * _sets) >> 32);
        std::lock_guard<std::mutex> lock(_locks[set % LOCKS]);
        Entry* ways = &_entries[size_t(set) * WAYS];
        Entry* slot = &ways[0];
        for (int i = 0; i < WAYS; ++i) {
            if (ways[i].used && ways[i].address == address) {
                slot = &ways[i];
                break;
            }
            if (!ways[i].used || ways[i].lastSeen < slot->lastSeen)
                slot = &ways[i];
        }
        if (!slot->used || slot->address != address) {
            *slot = Entry { address, true, double(_burst) - 1.0, nowNs, nowNs - NS_PER_S };
            return PASS;
        }
        const double elapsed = double(std::max<int64>(0, nowNs - slot->lastSeen));
        slot->tokens = std::min(double(_burst), slot->tokens + elapsed * _rate);
        slot->lastSeen = nowNs;
        if (slot->tokens >= 1.0) {
            slot->tokens -= 1.0;
            return PASS;
        }
        if (nowNs - slot->lastKiss >= NS_PER_S) {
            slot->lastKiss = nowNs;
            return KISS;
        }
        return DROP;
    }

    // Fixed at construction, whatever the number of clients seen.
    size_t bytes() const { return sizeof(*this) + size_t(_sets) * WAYS * sizeof(Entry); }

private:
    static constexpr int WAYS = 4;
    static constexpr int LOCKS = 64;
    struct Entry {
        uint32 address = 0;
        bool used = false;
        double tokens = 0;
        int64 lastSeen = 0;
        int64 lastKiss = 0;
    };

    uint32 _sets;
    std::unique_ptr<Entry[]> _entries;
    double _rate; // tokens per nanosecond
    uint32 _burst;
    uint32 _salt;
    std::mutex _locks[LOCKS];
};

SntpModernServer::SntpModernServer(const Options& options)
    : _options(options)
{
}

SntpModernServer::~SntpModernServer() { stop(); }

bool SntpModernServer::start()
{
    if (isRunning())
        return true;
    _error.clear();
    if (_options.referenceId.size() > 4) {
        _error = "a reference id has at most 4 characters";
        return false;
    }
    if (_options.stratum < 1 || _options.stratum > 15) {
        _error = "the stratum is 1 to 15";
        return false;
    }
    char id[4] = {};
    memcpy(id, _options.referenceId.data(), _options.referenceId.size());
    memcpy(&_referenceId, id, sizeof(id));
    _precision = measurePrecision();

    int workers = _options.workers;
    if (workers <= 0)
        workers = static_cast<int>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
    workers = std::min(workers, 256);

    // One socket, bound without SO_REUSEPORT or SO_REUSEADDR and shared by every worker: while
    // it is open no other socket, of this user or any other, can bind the port and take a share
    // of the requests, and a port that anybody holds is refused rather than shared.
    const std::string where = _options.address + " port " + std::to_string(_options.port);
    in_addr host;
    int resolverError = 0;
    if (!detail::resolveHostAddress(_options.address.c_str(), &host, &resolverError)) {
        _error = "\"" + _options.address + "\" is not an IPv4 address";
        return false;
    }
    sockaddr_in local = detail::makeInet4Address(host.s_addr, _options.port);
    const SOCKET_FD fd = SocketApiWrapper::createDatagramSocket();
    if (SocketApiWrapper::isInvalidFd(fd)) {
        _error = std::string("cannot open a socket: ") + SocketException(errno).message();
        return false;
    }
    _sockets.push_back(fd);
    try {
        try {
            SocketApiWrapper::setOption(fd, SOL_SOCKET, SO_TIMESTAMPNS, 1);
        } catch (const SocketException&) {
            // No arrival stamps (some emulators): rec is read right after the receive.
        }
        detail::setSocketTimeouts(fd, WAKE_MS);
        SocketApiWrapper::bind(fd, local);
        SocketApiWrapper::getSocketName(fd, &local);
        _boundPort = ntohs(local.sin_port);
    } catch (const SocketException& e) {
        _error = e.errorCode() == EADDRINUSE ? where + " is held by another process"
                                             : "cannot serve " + where + ": " + e.message();
        closeSockets();
        _boundPort = 0;
        return false;
    }

    _rates.reset(_options.rateLimit == 0
            ? nullptr
            : new RateTable(_options.rateClients, _options.rateLimit, _options.rateBurst));
    _counters.reset(new WorkerCounters[workers]);
    _counterCount = workers;
    _stopping = false;
    for (int i = 0; i < workers; ++i)
        _threads.emplace_back(&SntpModernServer::work, this, fd, &_counters[i]);
    return true;
}

void SntpModernServer::stop()
{
    _stopping = true;
    for (std::thread& t : _threads)
        t.join();
    _threads.clear();
    closeSockets();
    _boundPort = 0;
}

void SntpModernServer::closeSockets()
{
    for (SOCKET_FD fd : _sockets) {
        try {
            SocketApiWrapper::closeSocket(fd);
        } catch (const SocketException&) {
            // Already gone: nothing else holds it.
        }
    }
    _sockets.clear();
}

size_t SntpModernServer::rateTableBytes() const { return _rates ? _rates->bytes() : 0; }

SntpModernServer::Counters SntpModernServer::counters() const
{
    uint64 sums[COUNTERS] = {};
    for (int w = 0; w < _counterCount; ++w)
        for (int i = 0; i < COUNTERS; ++i)
            sums[i] += _counters[w].values[i].load(std::memory_order_relaxed);
    Counters c;
    c.received = sums[RECEIVED];
    c.answered = sums[ANSWERED];
    c.tooShort = sums[TOO_SHORT];
    c.notRequest = sums[NOT_REQUEST];
    c.badVersion = sums[BAD_VERSION];
    c.rateLimited = sums[RATE_LIMITED];
    c.kisses = sums[KISSES];
    c.sendFailed = sums[SEND_FAILED];
    c.leaked = sums[LEAKED];
    c.bytesIn = sums[BYTES_IN];
    c.bytesOut = sums[BYTES_OUT];
    return c;
}

void SntpModernServer::work(SOCKET_FD fd, WorkerCounters* counters)
{
    DatagramBatch batch(BATCH, HEADER_SIZE);
    ClockState clock = readClockState(_options.localReference, _precision);
    SntpBasicInfo* stampLater[BATCH];
    Leak leak;

    int64 sendNsPerReply = 0; // what one reply's share of a send call took, smoothed
    bool dense = false; // whether the last wait for a request was short
    int backoff = 0, skipPolls = 0; // after polls that found nothing: wake-ups not to poll on
    while (!_stopping.load(std::memory_order_relaxed)) {
        int received = 0;
        const int64 waitBegan = nanoseconds(now(CLOCK_MONOTONIC));
        try {
            if (dense && skipPolls > 0) {
                --skipPolls;
            } else if (dense) {
                do
                    received = batch.receive(fd, false);
                while (received == 0 && nanoseconds(now(CLOCK_MONOTONIC)) - waitBegan < POLL_NS);
                backoff = received != 0 ? 0 : std::min(MAX_POLL_BACKOFF, std::max(1, 2 * backoff));
                skipPolls = backoff;
            }
            if (received == 0)
                received = batch.receive(fd);
        } catch (const SocketException&) {
            // Not a time-out: something the system ran short of. Do not spin on it.
            usleep(10000);
        }
        // A wake-up that brings a batch is paid for by all of it; polling pays only when
        // requests come one or two at a time, close together.
        dense = received != 0 && received < SEND_GROUP
            && nanoseconds(now(CLOCK_MONOTONIC)) - waitBegan < DENSE_NS;
        const int64 monotonic = nanoseconds(now(CLOCK_MONOTONIC_COARSE));
        if (monotonic - clock.refreshedAt >= NS_PER_S)
            clock = readClockState(_options.localReference, _precision);
        if (received == 0)
            continue;

        uint64 counts[COUNTERS] = {};
        counts[RECEIVED] = uint64(received);
        int stamped = 0;
        for (int i = 0; i < received; ++i) {
            const uint8* request = batch.data(i);
            counts[BYTES_IN] += uint64(batch.length(i));
            const SntpRequestVerdict verdict
                = classifySntpRequest(request, static_cast<size_t>(batch.length(i)));
            if (verdict == SntpRequestVerdict::TOO_SHORT) {
                ++counts[TOO_SHORT];
                continue;
            }
            if (verdict == SntpRequestVerdict::NOT_REQUEST || batch.peer(i).sin_family != AF_INET) {
                ++counts[NOT_REQUEST];
                continue;
            }
            if (verdict == SntpRequestVerdict::BAD_VERSION) {
                ++counts[BAD_VERSION];
                continue;
            }
            const uint8 version = sntpVersion(request[0]);
            bool kiss = false;
            if (_rates) {
                const RateTable::Verdict admitted
                    = _rates->admit(batch.peer(i).sin_addr.s_addr, monotonic);
                if (admitted == RateTable::KISS && _options.kissOfDeath)
                    kiss = true;
                else if (admitted != RateTable::PASS) {
                    // Over the limit, one in `leak` is still answered: a flood forged with a
                    // client's address then cannot silence that client, and the flood itself
                    // gets back less than it sends.
                    if (!leak.next(_options.leak)) {
                        ++counts[RATE_LIMITED];
                        continue;
                    }
                    ++counts[LEAKED];
                }
            }

            SntpBasicInfo* reply = reinterpret_cast<SntpBasicInfo*>(batch.reply(i, HEADER_SIZE));
            const SntpBasicInfo* asked = reinterpret_cast<const SntpBasicInfo*>(request);
            const uint8 leap = kiss ? SNTP_LEAP_UNSYNCHRONISED : clock.leap;
            reply->li_vn_mode = sntpFirstByte(leap, version, SNTP_MODE_SERVER);
            reply->stratum = kiss ? SNTP_STRATUM_KISS : _options.stratum;
            reply->ppoll = asked->ppoll;
            reply->precision = static_cast<char>(_precision);
            reply->rootdelay = 0;
            reply->rootdispersion = clock.rootDispersion;
            if (kiss)
                memcpy(&reply->refid, "RATE", 4);
            else
                reply->refid = _referenceId;
            reply->reftime = clock.referenceTime;
            reply->org = asked->xmt;
            const timespec& arrival = batch.arrival(i);
            reply->rec = toPacket(arrival.tv_sec != 0 ? arrival : now(CLOCK_REALTIME));
            stampLater[stamped++] = reply;
            ++counts[kiss ? KISSES : ANSWERED];
        }

        if (stamped != 0) {
            // A few replies per call. The kernel sends them one after the other, so the k-th of
            // a group leaves about k times one reply's send time after the clock was read: each
            // is stamped with that moment, from the time the last calls took, instead of all
            // with the moment the first leaves, which would put the later ones microseconds off.
            int sent = 0;
            for (int first = 0; first < stamped; first += SEND_GROUP) {
                const int count = std::min(SEND_GROUP, stamped - first);
                const int64 transmit = nanoseconds(now(CLOCK_REALTIME));
                for (int i = 0; i < count; ++i) {
                    const int64 leaves = transmit + i * sendNsPerReply;
                    stampLater[first + i]->xmt
                        = toPacket(timespec { static_cast<time_t>(leaves / NS_PER_S),
                            static_cast<long>(leaves % NS_PER_S) });
                }
                const int64 began = nanoseconds(now(CLOCK_MONOTONIC));
                sent += batch.sendReplies(fd, first, count);
                const int64 took = (nanoseconds(now(CLOCK_MONOTONIC)) - began) / count;
                // Down at once, up slowly and never past the cap: a call held up by preemption
                // must not push the stamps of the calls after it ahead of their replies.
                sendNsPerReply = took <= sendNsPerReply
                    ? took
                    : std::min(MAX_SEND_NS, sendNsPerReply + (took - sendNsPerReply) / 8);
            }
            const int failed = stamped - sent;
            counts[SEND_FAILED] = uint64(failed);
            counts[BYTES_OUT] = uint64(sent) * HEADER_SIZE;
            // Refused replies are counted once, as failed, not as answered or kissed.
            counts[ANSWERED] -= std::min<uint64>(counts[ANSWERED], uint64(failed));
        }
        for (int i = 0; i < COUNTERS; ++i)
            counters->add(i, counts[i]);
    }
}

} // namespace Kovan
