#include "sntp/SntpServer.h"

#include "foundation/Trace.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/select.h>

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

    sockaddr_in local;
    memset(&local, 0, sizeof(local));
    local.sin_family = AF_INET;
    local.sin_port = htons(PORT);
    local.sin_addr.s_addr = htonl(INADDR_ANY);

    _socket = SocketApiWrapper::createDatagramSocket();
    if (SocketApiWrapper::INVALID_FD == _socket) {
        trace("SntpServer cannot open socket...\n");
        return false;
    }
    SocketApiWrapper::configureBlocking(_socket, false);

    const int reuse = 1;
    if (-1 == setsockopt(_socket, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse))) {
        trace("SntpServer cannot re-use address...\n");
        return false;
    }
    if (-1 == bind(_socket, reinterpret_cast<const sockaddr*>(&local), sizeof(local))) {
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

bool SntpServer::waitForRequest(sockaddr* from, uint32* len, SntpBasicInfo* nbi)
{
    trace("SntpServer is waiting for request...\n");
    fd_set readSet;
    FD_ZERO(&readSet);
    while (!_quitRequested && isEnable()) {
        timeval timeout;
        timeout.tv_sec = 1;
        timeout.tv_usec = 0;
        FD_SET(_socket, &readSet);
        const int result = select(_socket + 1, &readSet, nullptr, nullptr, &timeout);
        if (SocketApiWrapper::RETURN_ERROR == result) {
            trace("SntpServer::waitForRequest(): select error\n");
            throw false;
        }
        if (0 == result)
            continue;
        if (!_quitRequested && isEnable()) {
            KOVAN_CHECK(FD_ISSET(_socket, &readSet));
            trace("waitForRequest(): recvfrom\n");
            const ssize_t count = recvfrom(_socket, nbi, sizeof(SntpBasicInfo), 0, from, len);
            return -1 != count && 0 != count;
        }
    }
    return false;
}

bool SntpServer::respondToRequest(const sockaddr* from, uint32 len, const SntpFullPacket* nfp)
{
    fd_set writeSet;
    FD_ZERO(&writeSet);
    while (!_quitRequested && isEnable()) {
        timeval timeout;
        timeout.tv_sec = 1;
        timeout.tv_usec = 0;
        FD_SET(_socket, &writeSet);
        const int result = select(_socket + 1, nullptr, &writeSet, nullptr, &timeout);
        if (SocketApiWrapper::RETURN_ERROR == result) {
            trace("SntpServer::respondToRequest(): select error\n");
            throw false;
        }
        if (0 == result)
            continue;
        if (!_quitRequested && isEnable()) {
            KOVAN_CHECK(FD_ISSET(_socket, &writeSet));
            trace("SntpServer responds for request.\n");
            sendto(_socket, nfp, sizeof(SntpFullPacket), 0, from, len);
            return true;
        }
    }
    return false;
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

        sockaddr_in client;
        uint32 length = sizeof(client);
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
