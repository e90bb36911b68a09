// Keeps the system clock in step with one SNTP server: a single query that any thread may call,
// and a background sync on the client's own looper thread that, every interval, queries with
// retries and steps the clock, or slews it when the difference is under a minute.
#pragma once

#include "foundation/Btring.h"
#include "foundation/IpAddress.h"
#include "foundation/Looper.h"
#include "foundation/Mutex.h"
#include "foundation/Types.h"
#include "sntp/SntpPacket.h"
#include "sntp/SntpSocket.h"

#include <atomic>

namespace Kovan {

class SntpClient : public Looper {
public:
    // Told the outcome of every background sync, on the client's thread while the sync is still
    // marked running: it must not change the address or the interval from there.
    class Listener {
    public:
        virtual ~Listener() { }
        // 0: stepped back, 1: stepped to the same second or later,
        // 2: slewed back, 3: slewed to the same second or later.
        virtual void sntpSyncSucceeded(SntpClient* client, int32 code) = 0;
        // 0: no usable reply (or stopped), 1: the new time is invalid, 2: setting the clock failed.
        virtual void sntpSyncFailed(SntpClient* client, int32 code) = 0;
    };

    SntpClient();
    // Does not stop a running sync: the owner quits and joins the thread first.
    ~SntpClient() override;

    // One request and reply. False, with one trace line (none for a failed name lookup), when
    // any step fails. A SocketException from the send or the close passes to the caller; the
    // socket is closed on every path. Queries from several threads take turns.
    bool getServerTime(SntpServerResponse* response);
    // One sync with up to `retryCount` attempts. A SocketException from a query passes to the
    // caller (the sync is then over and no longer marked running).
    void syncNow(uint32 retryCount);

    // A changed address stops a running sync, and wakes the background sync when it has both
    // an address and an interval. A null address counts as empty. Cut at 63 characters.
    void setServerAddress(const char* address);
    void setSyncInterval(uint32 minutes);
    // Waits, 200 ms at a time, for a running sync to give up; an attempt in progress ends first.
    void stopSync();

    const char* serverAddress() const { return _serverAddress.cString(); }
    uint32 port() const { return _port; }
    uint32 syncInterval() const { return _syncInterval; }
    uint32 timeout() const { return _timeout; }
    uint32 sleepTime() const { return _sleepTime; }
    uint32 retryCount() const { return _retryCount; }
    bool adjustForSameMinute() const { return _adjustForSameMinute; }
    IpAddress dnsServer() const;
    Listener* listener() const { return _listener; }
    bool isSyncing() const { return _syncing; }

    // The name server forced on the resolver for host-name lookups (0.0.0.0 unless set).
    void setDnsServer(const IpAddress& dnsServer);
    void setPort(uint32 port) { _port = port; }
    void setTimeout(uint32 milliseconds) { _timeout = milliseconds; }
    void setSleepTime(uint32 milliseconds) { _sleepTime = milliseconds; }
    void setRetryCount(uint32 retryCount) { _retryCount = retryCount; }
    void setAdjustForSameMinute(bool adjust) { _adjustForSameMinute = adjust; }
    void setListener(Listener* listener) { _listener = listener; }

protected:
    // One pass of the background sync; suspends the looper while there is no address or no
    // interval.
    void looperFunc() override;

private:
    // No address or no interval: nothing for the background sync to do.
    bool isIdle() const;
    // The server's address as a dotted text of at most 15 characters, looked up when it is a
    // host name; false when the lookup failed.
    bool resolveServer(const char* address, char* text);
    void notifySucceeded(int32 code);
    void notifyFailed(int32 code);

    // Address and name server are written by the owner and read by the looper thread.
    Btring<64> _serverAddress;
    IpAddress _dnsServer;
    std::atomic<uint32> _port;
    std::atomic<uint32> _syncInterval;
    std::atomic<uint32> _timeout;
    SntpSocket _socket;
    uint32 _prevCheckTick;
    std::atomic<uint32> _sleepTime;
    std::atomic<uint32> _retryCount;
    std::atomic<Listener*> _listener;
    std::atomic<bool> _adjustForSameMinute;
    std::atomic<bool> _syncing;
    std::atomic<bool> _stopSync;
    std::atomic<bool> _needSync;

    mutable Mutex _configMutex; // _serverAddress, _dnsServer
    Mutex _queryMutex; // one query at a time on _socket
};

} // namespace Kovan
