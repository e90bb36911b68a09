#include "sntp/SntpClient.h"

#include "foundation/ClockPolicy.h"
#include "foundation/Thread.h"
#include "foundation/Tick.h"
#include "foundation/Trace.h"
#include "net/Inet4.h"
#include "sntp/NtpStamp.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <netdb.h>
#include <sys/random.h>
#include <sys/time.h>

namespace Kovan {

namespace {

// Closes the query's socket on every way out of getServerTime. A failed close on a normal return
// reaches the caller; while another exception (the send's) is already on its way, that one is
// what the caller sees and the close's own failure is dropped.
class SocketCloser {
public:
    explicit SocketCloser(SntpSocket& socket)
        : _socket(socket)
        , _pending(std::uncaught_exceptions())
    {
    }
    ~SocketCloser() noexcept(false)
    {
        if (std::uncaught_exceptions() == _pending) {
            _socket.closeSocket();
            return;
        }
        try {
            _socket.closeSocket();
        } catch (const SocketException&) {
        }
    }
    SocketCloser(const SocketCloser&) = delete;
    SocketCloser& operator=(const SocketCloser&) = delete;

private:
    SntpSocket& _socket;
    const int _pending;
};

// Leap 0, version 4, mode 3 (client): the strict request speaks the current protocol.
constexpr uint8 STRICT_LI_VN_MODE = sntpFirstByte(SNTP_LEAP_NONE, 4, SNTP_MODE_CLIENT);
// The request's transmit time is random below 2^-20 s (under a microsecond): an off-path forger
// who knows the time to the microsecond still cannot guess the org a reply must carry.
constexpr uint64 RANDOM_BITS = 0xFFF;
static_assert(double(RANDOM_BITS + 1) / 4294967296.0 <= SNTP_DELAY_TOLERANCE,
    "the delay tolerance covers the random bits");

uint64 withRandomLowBits(uint64 stamp)
{
    uint64 bits = 0;
    if (static_cast<ssize_t>(sizeof(bits)) != getrandom(&bits, sizeof(bits), GRND_NONBLOCK)) {
        // No entropy yet (early boot): the nanoseconds of the monotonic clock are a poor but
        // unpredictable-enough stand-in for one query.
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        bits = static_cast<uint64>(now.tv_nsec) * 0x9E3779B97F4A7C15ull;
    }
    return (stamp & ~RANDOM_BITS) | (bits & RANDOM_BITS);
}

double monotonicSeconds()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The reply's header fields a report shows, whatever the mode.
void describe(const SntpBasicInfo& reply, SntpQueryReport* report)
{
    report->referenceId = ntohl(reply.refid);
    // A plain char is unsigned on ARM; the exponent is signed on the wire.
    const int32 precision = static_cast<uint8>(reply.precision);
    report->precision = precision >= 128 ? precision - 256 : precision;
    report->poll = reply.ppoll;
    report->version = sntpVersion(reply.li_vn_mode);
    report->rootDelay = sntpShortToSeconds(static_cast<uint32>(reply.rootdelay));
    report->rootDispersion = sntpShortToSeconds(static_cast<uint32>(reply.rootdispersion));
    report->originate = NtpStamp::fromWire(reply.org);
    report->receive = NtpStamp::fromWire(reply.rec);
    report->transmit = NtpStamp::fromWire(reply.xmt);
    if (0 == reply.stratum) {
        memcpy(report->kissCode, &reply.refid, 4);
        for (char& c : report->kissCode)
            if (c != 0 && (c < 0x20 || c > 0x7E))
                c = '?';
        report->kissCode[4] = 0;
    }
}

} // namespace

SntpClient::SntpClient() noexcept
    : Looper("SntpClient", 50, Thread::NORMAL)
    , _port(123)
    , _syncInterval(0)
    , _syncSeconds(0)
    , _timeout(5000)
    , _prevCheckTick(currentTick())
    , _sleepTime(1000)
    , _retryCount(5)
    , _listener(nullptr)
    , _adjustForSameMinute(true)
    , _syncing(false)
    , _stopSync(false)
    , _needSync(false)
    , _strict(false)
    , _stepLimit(DEFAULT_STEP_LIMIT)
    , _synchronised(false)
{
}

SntpClient::~SntpClient() = default;

IpAddress SntpClient::dnsServer() const
{
    MutexLocker lock(_configMutex);
    return _dnsServer;
}

void SntpClient::setDnsServer(const IpAddress& dnsServer)
{
    MutexLocker lock(_configMutex);
    _dnsServer = dnsServer;
}

bool SntpClient::resolveServer(const char* address, char* text)
{
    in_addr server;
    const in_addr_t literal = inet_addr(address);
    if (INADDR_NONE != literal) {
        // The canonical dotted form names the same address and always fits 15 characters, even
        // for a literal written with hexadecimal or octal parts.
        server.s_addr = literal;
        detail::formatInet4Address(server, text, detail::INET4_TEXT_SIZE);
        return true;
    }

    char dnsText[16];
    dnsServer().toString(dnsText);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!detail::replaceFirstNameServer(dnsText))
            return false;
        int resolverError = 0;
        if (detail::lookupHostAddress(address, &server, &resolverError)) {
            detail::formatInet4Address(server, text, detail::INET4_TEXT_SIZE);
            return true;
        }
        // Only a temporary failure is worth one more try.
        if (TRY_AGAIN != resolverError)
            return false;
    }
    return false;
}

bool SntpClient::getServerTime(SntpServerResponse* response)
{
    SntpQueryReport report;
    return getServerTime(response, &report);
}

bool SntpClient::getServerTime(SntpServerResponse* response, SntpQueryReport* report)
{
    return query(response, report, _strict);
}

bool SntpClient::query(SntpServerResponse* response, SntpQueryReport* report, bool strict)
{
    *report = SntpQueryReport();
    MutexLocker queryLock(_queryMutex);
    Btring<64> address;
    {
        MutexLocker lock(_configMutex);
        address = _serverAddress;
    }

    if (!_socket.createSocket()) {
        trace("SntpClient : Failed to create client socket\n");
        return false;
    }
    SocketCloser closer(_socket);

    char text[detail::INET4_TEXT_SIZE];
    if (!resolveServer(address.cString(), text))
        return false;
    if (!_socket.connectSocket(text, static_cast<int32>(port()))) {
        trace("SntpClient : connect failed\n");
        return false;
    }
    return strict ? exchangeStrict(response, report) : exchangeClassic(response, report);
}

bool SntpClient::exchangeClassic(SntpServerResponse* response, SntpQueryReport* report)
{
    SntpBasicInfo request;
    memset(&request, 0, sizeof(request));
    request.li_vn_mode = SNTP_CLIENT_LI_VN_MODE;
    request.xmt = SntpTime::currentTime();
    if (!_socket.sendSocket(reinterpret_cast<char*>(&request), sizeof(request))) {
        trace("SntpClient : failed in call to send NTP request to server\n");
        return false;
    }

    bool readable = false;
    if (!_socket.isReadable(&readable, timeout()) || !readable) {
        trace("SntpClient : unable to wait for NTP reply from server\n");
        report->outcome = SntpQueryReport::TIMED_OUT;
        return false;
    }
    response->desTime = SntpTime::currentTime();

    // A short reply leaves the rest zero; nothing in it is checked against the request.
    SntpFullPacket reply;
    memset(&reply, 0, sizeof(reply));
    if (0 == _socket.receiveSocket(reinterpret_cast<char*>(&reply), sizeof(reply))) {
        trace("SntpClient : unable to read reply from the SNTP server\n");
        return false;
    }

    response->stratum = reply.basic.stratum;
    response->leapIndicator = sntpLeap(reply.basic.li_vn_mode);
    response->oriTime = reply.basic.org;
    response->recTime = reply.basic.rec;
    response->xmtTime = reply.basic.xmt;
    // RFC 4330: delay = (T4 - T1) - (T3 - T2), offset = ((T2 - T1) + (T3 - T4)) / 2.
    response->delay
        = (response->desTime - response->oriTime) - (response->xmtTime - response->recTime);
    response->offset
        = ((response->recTime - response->oriTime) + (response->xmtTime - response->desTime)) / 2;
    describe(reply.basic, report);
    report->destination = response->desTime.time();
    report->outcome = SntpQueryReport::ANSWERED;
    return true;
}

bool SntpClient::exchangeStrict(SntpServerResponse* response, SntpQueryReport* report)
{
    sockaddr_in server = {};
    SocketApiWrapper::getPeerName(_socket.fd(), &server);

    SntpBasicInfo request;
    memset(&request, 0, sizeof(request));
    request.li_vn_mode = STRICT_LI_VN_MODE;
    try {
        SocketApiWrapper::setOption(_socket.fd(), SOL_SOCKET, SO_TIMESTAMPNS, 1);
    } catch (const SocketException&) {
        // Without the kernel's stamp the clock read after the receive stands in for it.
    }
    // The round trip's start is read before T1, its end after T4, so that it spans them even
    // when this thread is held up in between.
    const double sentAt = monotonicSeconds();
    const uint64 originate = withRandomLowBits(NtpStamp::now());
    request.xmt = NtpStamp::toWire(originate);
    if (!_socket.sendSocket(reinterpret_cast<char*>(&request), sizeof(request))) {
        trace("SntpClient : failed in call to send NTP request to server\n");
        return false;
    }

    const uint32 limit = timeout();
    const uint32 start = currentTick();
    for (;;) {
        const uint32 elapsed = diffTick(start, currentTick());
        bool readable = false;
        if (elapsed >= limit || !_socket.isReadable(&readable, limit - elapsed) || !readable)
            break;
        // Room for more than a header, so that a longer datagram still shows its length.
        unsigned char datagram[sizeof(SntpFullPacket) + 4];
        sockaddr_in source = {};
        timespec arrival;
        int length;
        try {
            length = SocketApiWrapper::recvFrom(
                _socket.fd(), datagram, sizeof(datagram), &source, &arrival);
        } catch (const SocketException&) {
            // An ICMP error (anyone may forge one) is no reply either: wait on.
            continue;
        }
        // The kernel's arrival time leaves our wake-up and the receive call out of the delay.
        const uint64 destination
            = 0 != arrival.tv_sec ? NtpStamp::fromTimespec(arrival) : NtpStamp::now();
        const double roundTrip = monotonicSeconds() - sentAt;

        const bool fromServer = source.sin_family == AF_INET
            && source.sin_addr.s_addr == server.sin_addr.s_addr
            && source.sin_port == server.sin_port;
        const SntpReplyVerdict check = fromServer
            ? classifySntpReply(datagram, static_cast<size_t>(std::max(length, 0)), originate,
                destination, roundTrip)
            : SntpReplyVerdict::NOT_OURS;
        if (SntpReplyVerdict::ACCEPTED != check && SntpReplyVerdict::KISS != check) {
            ++report->rejected;
            report->lastRejection = check;
            continue;
        }
        SntpBasicInfo reply;
        memcpy(&reply, datagram, sizeof(reply));
        describe(reply, report);
        if (SntpReplyVerdict::KISS == check) {
            report->outcome = SntpQueryReport::KISS_OF_DEATH;
            trace("SntpClient : kiss-o'-death %s from the SNTP server\n", report->kissCode);
            return false;
        }

        report->originate = originate;
        report->receive = NtpStamp::fromWire(reply.rec);
        report->transmit = NtpStamp::fromWire(reply.xmt);
        report->destination = destination;
        response->stratum = reply.stratum;
        response->leapIndicator = sntpLeap(reply.li_vn_mode);
        response->oriTime.setTime(report->originate);
        response->recTime.setTime(report->receive);
        response->xmtTime.setTime(report->transmit);
        response->desTime.setTime(report->destination);
        // Differences modulo 2^64: right when the stamps straddle an era.
        const double t21 = NtpStamp::difference(report->receive, report->originate);
        const double t34 = NtpStamp::difference(report->transmit, report->destination);
        response->delay = NtpStamp::difference(report->destination, report->originate)
            - NtpStamp::difference(report->transmit, report->receive);
        response->offset = (t21 + t34) / 2;
        report->outcome = SntpQueryReport::ANSWERED;
        return true;
    }
    report->outcome = SntpQueryReport::TIMED_OUT;
    if (0 == report->rejected)
        trace("SntpClient : no valid NTP reply from server (0 rejected)\n");
    else
        trace("SntpClient : no valid NTP reply from server (%u rejected, the last: %s)\n",
            static_cast<unsigned>(report->rejected), sntpVerdictText(report->lastRejection));
    return false;
}

void SntpClient::notify(bool succeeded, int32 code, SntpSyncReport* report)
{
    report->succeeded = succeeded;
    report->code = code;
    Listener* listener = _listener;
    if (nullptr == listener)
        return;
    if (succeeded)
        listener->sntpSyncSucceeded(this, code);
    else
        listener->sntpSyncFailed(this, code);
    listener->sntpSyncReported(this, *report);
}

bool SntpClient::admitsStep(double offset, SntpSyncReport* report)
{
    const uint32 limit = _stepLimit;
    if (!_synchronised || 0 == limit || std::fabs(offset) <= limit) {
        _pendingSteps = 0;
        return true;
    }
    // A far step is believed only when it keeps coming back: a single lying or broken server
    // answer cannot throw the clock years away once it has been set.
    if (0 != _pendingSteps && std::fabs(offset - _pendingOffset) <= STEP_AGREEMENT)
        ++_pendingSteps;
    else {
        _pendingOffset = offset;
        _pendingSteps = 1;
    }
    report->agreeing = _pendingSteps;
    if (_pendingSteps >= STEP_CONFIRMATIONS) {
        _pendingSteps = 0;
        return true;
    }
    return false;
}

void SntpClient::syncNow(uint32 retryCount)
{
    // Cleared on every way out, an escaping SocketException included, so that stopSync never
    // waits for a sync that is over.
    struct SyncingMark {
        std::atomic<bool>& flag;
        explicit SyncingMark(std::atomic<bool>& f)
            : flag(f)
        {
            flag = true;
        }
        ~SyncingMark() { flag = false; }
    } mark(_syncing);

    SntpSyncReport sync;
    {
        MutexLocker lock(_configMutex);
        trace("SntpClient : connect to \"%s\" on port %d\n", _serverAddress.cString(),
            static_cast<int>(port()));
        (void)snprintf(sync.server, sizeof(sync.server), "%s", _serverAddress.cString());
    }

    // The mode of the whole sync: a change in between does not mix the two.
    const bool strict = _strict;
    SntpServerResponse response;
    bool received = false;
    for (uint32 attempt = 0; attempt < retryCount && !received; ++attempt) {
        if (_stopSync)
            continue;
        received = query(&response, &sync.query, strict);
    }
    if (_stopSync || !received) {
        if (strict)
            _pendingSteps = 0;
        notify(false, 0, &sync);
        return;
    }
    sync.answered = true;
    sync.offset = response.offset;
    sync.delay = response.delay;
    sync.stratum = response.stratum;

    const time_t before = time(nullptr);
    // Classic: the new time to the millisecond, slewed toward its whole second. Strict: to the
    // microsecond, slewed by exactly the offset, so that a sub-second error is corrected rather
    // than traded for another.
    const SntpTime newTime = SntpTime::currentTime() + response.offset;
    timeval tv = newTime;
    if (strict) {
        timeval now;
        gettimeofday(&now, nullptr);
        tv = ClockPolicy::later(now, response.offset);
    }
    if (static_cast<int32>(tv.tv_sec) < 0 || tv.tv_usec > 999999) {
        trace("SntpClient : new time is invalid\n");
        notify(false, 1, &sync);
        return;
    }
    if (strict && !admitsStep(response.offset, &sync)) {
        trace("SntpClient : step of %.3f s refused: over the limit of %u s, %u of %u syncs agree\n",
            response.offset, static_cast<unsigned>(_stepLimit),
            static_cast<unsigned>(sync.agreeing), static_cast<unsigned>(STEP_CONFIRMATIONS));
        notify(false, 3, &sync);
        return;
    }
    trace("SntpTime : current=%u, newtime=%u!\n", static_cast<unsigned>(before),
        static_cast<unsigned>(tv.tv_sec));

    const bool earlier = tv.tv_sec < before;
    sync.correction = response.offset;
    errno = 0;
    if (_adjustForSameMinute && ClockPolicy::slews(tv.tv_sec, before)) {
        sync.action = SntpSyncReport::SLEW;
        const bool slewed = strict ? ClockPolicy::slew(ClockPolicy::correctionOf(response.offset),
                                SntpTime::rtc(), tv.tv_sec)
                                   : SntpTime::adjustCurrentTime(newTime);
        if (slewed) {
            trace("SntpClient(adj) : time was synchronised successfully\n");
            _synchronised = _synchronised || strict;
            notify(true, earlier ? 2 : 3, &sync);
        } else {
            sync.clockErrno = errno;
            trace("SntpClient(adj) : failed to set the local time\n");
            notify(false, 2, &sync);
        }
    } else {
        sync.action = SntpSyncReport::STEP;
        const bool stepped = strict ? ClockPolicy::step(tv, SntpTime::rtc(), ClockPolicy::RTC_FIRST)
                                    : SntpTime::setCurrentTime(newTime);
        if (stepped) {
            trace("SntpClient : time was synchronised successfully\n");
            _synchronised = _synchronised || strict;
            notify(true, earlier ? 0 : 1, &sync);
        } else {
            sync.clockErrno = errno;
            trace("SntpClient : failed to set the local time\n");
            notify(false, 2, &sync);
        }
    }
}

bool SntpClient::setServerAddress(const char* address)
{
    if (nullptr == address)
        address = "";
    if (_strict && strlen(address) >= sizeof(Btring<64>)) {
        trace("SntpClient : server name of %u characters refused: at most %u\n",
            static_cast<unsigned>(strlen(address)), static_cast<unsigned>(sizeof(Btring<64>) - 1));
        return false;
    }
    {
        MutexLocker lock(_configMutex);
        if (_serverAddress == address)
            return true;
    }
    stopSync();
    {
        MutexLocker lock(_configMutex);
        _serverAddress = address;
    }
    wakeIfReady();
    return true;
}

void SntpClient::setSyncInterval(uint32 minutes)
{
    if (minutes == _syncInterval)
        return;
    stopSync();
    _syncInterval = minutes;
    wakeIfReady();
}

void SntpClient::setSyncIntervalSeconds(uint32 seconds)
{
    seconds = std::min(seconds, MAX_SYNC_SECONDS);
    if (seconds == _syncSeconds)
        return;
    stopSync();
    _syncSeconds = seconds;
    wakeIfReady();
}

void SntpClient::wakeIfReady()
{
    if (!isIdle()) {
        _needSync = true;
        resume();
    }
}

uint64 SntpClient::periodMs() const
{
    const uint32 seconds = _syncSeconds;
    return 0 != seconds ? uint64(seconds) * 1000u : uint64(uint32(_syncInterval * 60000u));
}

void SntpClient::stopSync()
{
    _stopSync = true;
    while (_syncing)
        Thread::sleep(200);
    _stopSync = false;
}

bool SntpClient::isIdle() const
{
    MutexLocker lock(_configMutex);
    return _serverAddress.isEmpty() || (0 == _syncInterval && 0 == _syncSeconds);
}

void SntpClient::looperFunc()
{
    if (isIdle()) {
        trace("SntpClient is suspended...\n");
        suspend();
        // An address or interval given between the check above and suspend() found the looper
        // still working, so its resume() did nothing: wake ourselves instead of parking forever.
        if (!isIdle())
            resume();
        return;
    }

    const uint32 now = currentTick();
    // The threshold is a 32-bit millisecond count: intervals above 71582 minutes wrap.
    if (_needSync || diffTick(_prevCheckTick, now) > periodMs()) {
        try {
            syncNow(_retryCount);
        } catch (const SocketException& e) {
            // Nobody above this thread could catch it: report it as a sync without a usable
            // reply and keep the background sync alive for the next interval.
            trace(
                "SntpClient : socket error %d: %s\n", static_cast<int>(e.errorCode()), e.message());
            SntpSyncReport sync;
            notify(false, 0, &sync);
        }
        _prevCheckTick = now;
        _needSync = false;
    }
    Thread::sleep(_sleepTime);
}

} // namespace Kovan
