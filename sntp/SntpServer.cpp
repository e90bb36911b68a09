#include "sntp/SntpServer.h"

#include "foundation/Trace.h"

#include <cstring>

namespace Kovan {

SntpServer::SntpServer()
    : Thread("SntpServer", 50, Thread::NORMAL)
    , _enable(false)
    , _checking(false)
    , _quitRequested(false)
    , _socket(SocketApiWrapper::INVALID_FD)
{
}

SntpServer::~SntpServer()
{
    try {
        cleanupSocket();
    } catch (const SocketException&) {
        // Nobody to hand it to from a destructor.
    }
}

void SntpServer::setEnable(bool enable)
{
    if (enable == _enable)
        return;
    _enable = enable;
    if (enable)
        initSocket();
    else
        cleanupSocket();
}

bool SntpServer::initSocket()
{
    MutexLocker lock(_socketMutex);
    if (SocketApiWrapper::INVALID_FD != _socket)
        return true;

    _socket = SocketApiWrapper::createDatagramSocket();
    if (SocketApiWrapper::INVALID_FD == _socket) {
        trace("SntpServer cannot open socket...\n");
        return false;
    }
    SocketApiWrapper::configureBlocking(_socket, false);

    try {
        SocketApiWrapper::setOption(_socket, SOL_SOCKET, SO_REUSEADDR, 1);
    } catch (const SocketException&) {
        trace("SntpServer cannot re-use address...\n");
        return false;
    }
    try {
        SocketApiWrapper::bind(_socket, static_cast<short>(PORT));
    } catch (const SocketException&) {
        // Another server holds the port, or the process may not bind below 1024. Waiting on an
        // unbound socket would serve nothing, and retrying at once would only spin: let go of
        // the socket and switch off until the owner tries again.
        trace("SntpServer cannot bind port 123...\n");
        SocketApiWrapper::closeSocket(_socket);
        _socket = SocketApiWrapper::INVALID_FD;
        _enable = false;
        return false;
    }
    trace("SntpServer is ready to respond...\n");
    return true;
}

void SntpServer::cleanupSocket()
{
    _socketMutex.lock();
    if (SocketApiWrapper::INVALID_FD == _socket) {
        _socketMutex.unlock();
        return;
    }
    while (_checking) {
        _socketMutex.unlock();
        trace("waiting for SntpServer checking...\n");
        Thread::sleep(200);
        _socketMutex.lock();
    }
    try {
        SocketApiWrapper::closeSocket(_socket);
    } catch (const SocketException&) {
        _socketMutex.unlock();
        throw;
    }
    _socket = SocketApiWrapper::INVALID_FD;
    _socketMutex.unlock();
    trace("SntpServer is finished...\n");
}

bool SntpServer::waitUntilReady(bool forWriting, const char* selectFailure)
{
    // A second at most per wait, so that switching off or quitting is seen within it.
    while (!_quitRequested && isEnable()) {
        bool ready;
        try {
            ready = forWriting ? SocketApiWrapper::waitWritable(_socket, 1000)
                               : SocketApiWrapper::waitReadable(_socket, 1000);
        } catch (const SocketException&) {
            trace("%s", selectFailure);
            throw false;
        }
        if (ready && !_quitRequested && isEnable())
            return true;
    }
    return false;
}

bool SntpServer::waitForRequest(sockaddr* from, uint32* len, SntpBasicInfo* nbi)
{
    trace("SntpServer is waiting for request...\n");
    if (!waitUntilReady(false, "SntpServer::waitForRequest(): select error\n"))
        return false;
    trace("waitForRequest(): recvfrom\n");
    try {
        *len = sizeof(sockaddr_in);
        return 0 < SocketApiWrapper::recvFrom(
                   _socket, nbi, sizeof(SntpBasicInfo), reinterpret_cast<sockaddr_in*>(from));
    } catch (const SocketException&) {
        return false;
    }
}

bool SntpServer::respondToRequest(const sockaddr* from, uint32 /*len*/, const SntpFullPacket* nfp)
{
    // `from` is what waitForRequest stored: always an IPv4 address, of its own length.
    if (!waitUntilReady(true, "SntpServer::respondToRequest(): select error\n"))
        return false;
    trace("SntpServer responds for request.\n");
    try {
        SocketApiWrapper::sendTo(
            _socket, nfp, sizeof(SntpFullPacket), *reinterpret_cast<const sockaddr_in*>(from));
    } catch (const SocketException&) {
        // Not examined: the client asks again if it cares.
    }
    return true;
}

bool SntpServer::beginCycle()
{
    MutexLocker lock(_socketMutex);
    // The controller may have switched off and closed the socket since the caller looked.
    if (SocketApiWrapper::INVALID_FD == _socket || !_enable)
        return false;
    _checking = true;
    return true;
}

void SntpServer::endCycle()
{
    MutexLocker lock(_socketMutex);
    _checking = false;
}

void SntpServer::threadFunc()
{
    while (!_quitRequested) {
        if (!isEnable()) {
            Thread::sleep(1000);
            continue;
        }
        bool needSocket;
        {
            MutexLocker lock(_socketMutex);
            needSocket = SocketApiWrapper::INVALID_FD == _socket;
        }
        if (needSocket && !initSocket())
            continue;
        if (!beginCycle())
            continue;

        sockaddr_storage client = {};
        uint32 length = sizeof(sockaddr_in);
        SntpBasicInfo nbi;
        memset(&nbi, 0, sizeof(nbi));
        try {
            if (waitForRequest(reinterpret_cast<sockaddr*>(&client), &length, &nbi)) {
                SntpFullPacket nfp;
                memset(&nfp, 0, sizeof(nfp));
                nfp.basic.li_vn_mode = SNTP_SERVER_LI_VN_MODE;
                nfp.basic.stratum = STRATUM;
                // Echoed as its bytes stand: already in network order.
                nfp.basic.org = nbi.xmt;
                nfp.basic.rec = SntpTime::currentTime();
                nfp.basic.xmt = SntpTime::currentTime();
                respondToRequest(reinterpret_cast<const sockaddr*>(&client), length, &nfp);
            }
        } catch (...) {
            trace("SntpServer: exception occurred\n");
        }

        endCycle();
        Thread::yield();
    }
}

void SntpServer::quitRequested() { _quitRequested = true; }

} // namespace Kovan
