#include "sntp/SntpClient.h"

#include "foundation/ClockPolicy.h"
#include "foundation/Thread.h"
#include "foundation/Tick.h"
#include "foundation/Trace.h"
#include "net/Inet4.h"

#include <arpa/inet.h>
#include <cstring>
#include <ctime>
#include <exception>
#include <netdb.h>

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

} // namespace

SntpClient::SntpClient()
    : Looper("SntpClient", 50, Thread::NORMAL)
    , _port(123)
    , _syncInterval(0)
    , _timeout(5000)
    , _prevCheckTick(currentTick())
    , _sleepTime(1000)
    , _retryCount(5)
    , _listener(nullptr)
    , _adjustForSameMinute(true)
    , _syncing(false)
    , _stopSync(false)
    , _needSync(false)
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
    response->leapIndicator = (reply.basic.li_vn_mode & 0xC0) >> 6;
    response->oriTime = reply.basic.org;
    response->recTime = reply.basic.rec;
    response->xmtTime = reply.basic.xmt;
    // RFC 4330: delay = (T4 - T1) - (T3 - T2), offset = ((T2 - T1) + (T3 - T4)) / 2.
    response->delay
        = (response->desTime - response->oriTime) - (response->xmtTime - response->recTime);
    response->offset
        = ((response->recTime - response->oriTime) + (response->xmtTime - response->desTime)) / 2;
    return true;
}

void SntpClient::notifySucceeded(int32 code)
{
    if (Listener* listener = _listener)
        listener->sntpSyncSucceeded(this, code);
}

void SntpClient::notifyFailed(int32 code)
{
    if (Listener* listener = _listener)
        listener->sntpSyncFailed(this, code);
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

    {
        MutexLocker lock(_configMutex);
        trace("SntpClient : connect to \"%s\" on port %d\n", _serverAddress.cString(),
            static_cast<int>(port()));
    }

    SntpServerResponse response;
    bool received = false;
    for (uint32 attempt = 0; attempt < retryCount && !received; ++attempt) {
        if (_stopSync)
            continue;
        received = getServerTime(&response);
    }
    if (_stopSync || !received) {
        notifyFailed(0);
        return;
    }

    const time_t before = time(nullptr);
    const SntpTime newTime = SntpTime::currentTime() + response.offset;
    const timeval tv = newTime;
    if (static_cast<int32>(tv.tv_sec) < 0 || tv.tv_usec > 999999) {
        trace("SntpClient : new time is invalid\n");
        notifyFailed(1);
        return;
    }
    trace("SntpTime : current=%u, newtime=%u!\n", static_cast<unsigned>(before),
        static_cast<unsigned>(tv.tv_sec));

    const bool earlier = tv.tv_sec < before;
    if (_adjustForSameMinute && ClockPolicy::slews(tv.tv_sec, before)) {
        if (SntpTime::adjustCurrentTime(newTime)) {
            trace("SntpClient(adj) : time was synchronised successfully\n");
            notifySucceeded(earlier ? 2 : 3);
        } else {
            trace("SntpClient(adj) : failed to set the local time\n");
            notifyFailed(2);
        }
    } else {
        if (SntpTime::setCurrentTime(newTime)) {
            trace("SntpClient : time was synchronised successfully\n");
            notifySucceeded(earlier ? 0 : 1);
        } else {
            trace("SntpClient : failed to set the local time\n");
            notifyFailed(2);
        }
    }
}

void SntpClient::setServerAddress(const char* address)
{
    if (nullptr == address)
        address = "";
    {
        MutexLocker lock(_configMutex);
        if (_serverAddress == address)
            return;
    }
    stopSync();
    bool wake;
    {
        MutexLocker lock(_configMutex);
        _serverAddress = address;
        wake = !_serverAddress.isEmpty() && 0 != _syncInterval;
    }
    if (wake) {
        _needSync = true;
        resume();
    }
}

void SntpClient::setSyncInterval(uint32 minutes)
{
    if (minutes == _syncInterval)
        return;
    stopSync();
    _syncInterval = minutes;
    bool wake;
    {
        MutexLocker lock(_configMutex);
        wake = !_serverAddress.isEmpty() && 0 != minutes;
    }
    if (wake) {
        _needSync = true;
        resume();
    }
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
    return _serverAddress.isEmpty() || 0 == _syncInterval;
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
    if (_needSync || diffTick(_prevCheckTick, now) > _syncInterval * 60000u) {
        try {
            syncNow(_retryCount);
        } catch (const SocketException& e) {
            // Nobody above this thread could catch it: report it as a sync without a usable
            // reply and keep the background sync alive for the next interval.
            trace(
                "SntpClient : socket error %d: %s\n", static_cast<int>(e.errorCode()), e.message());
            notifyFailed(0);
        }
        _prevCheckTick = now;
        _needSync = false;
    }
    Thread::sleep(_sleepTime);
}

} // namespace Kovan
