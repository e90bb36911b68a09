// Keeps the system clock in step with one SNTP server: a single query that any thread may call,
// and a background sync on the client's own looper thread that, every interval, queries with
// retries and steps the clock, or slews it when the difference is under a minute.
//
// Two modes. The classic mode is the default: it takes the first datagram from the server as
// the reply without looking at it, and keeps its time stamps to the millisecond. The strict mode
// (setStrict(true); sntp-query's default) believes only real replies: one that comes from the
// server's address and port, is at least 48 bytes, mode 4 (server), version 1-4, stratum 1-15,
// leap indicator not 3 (unsynchronised), transmit time not 0, and whose org is exactly the
// request's transmit time, a full-resolution time whose bits below a microsecond are random.
// Anything else is skipped and the wait goes on until the time-out; a kiss-o'-death (stratum 0)
// that passes the address and org checks ends the query, reported by its code. Its time stamps
// have the clock's full resolution and its arithmetic is right across NTP eras (2036-02-07). A
// strict background sync never changes the clock from a reply that failed a check: the listener
// hears sntpSyncFailed(0).
//
// The strict checks of a reply are classifySntpReply's (sntp/SntpPacket.h): besides the above,
// receive and transmit time not 0, transmit not before receive, a delay neither negative nor
// longer than the round trip measured here, a reference time not 0 and not after the transmit
// time, and a root distance under 1 s. Once a strict background sync has set the clock, it
// refuses a step larger than stepLimit() seconds (1000 unless the program says otherwise) until
// the same offset, within 1 s, has come back in three consecutive syncs: the listener hears
// sntpSyncFailed(3) for each refusal, and sntpSyncReported says by how much and how many agree.
//
// Thread safety: getServerTime may be called from any thread (queries take turns); the setters
// and stopSync are meant for threads other than the client's own, and may be called while the
// background sync runs; syncNow runs on one thread at a time (the looper's, or the owner's while
// the looper is not started). The listener is called on the thread that runs the sync.
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

// What one strict query saw, beyond the classic SntpServerResponse.
struct SntpQueryReport {
    enum Outcome {
        ANSWERED, // a reply passed every check
        FAILED, // no socket, no address, no connection or no send: the trace line says which
        TIMED_OUT, // no reply passed the checks in time (`rejected` counts those that failed)
        KISS_OF_DEATH, // the server said go away: `kissCode`
    };
    Outcome outcome = FAILED;
    uint32 rejected = 0; // datagrams skipped for a failed check
    char kissCode[5] = { 0 }; // the four ASCII letters of a kiss-o'-death
    // Why the last skipped datagram was skipped (strict mode; ACCEPTED while none was).
    SntpReplyVerdict lastRejection = SntpReplyVerdict::ACCEPTED;
    // From the accepted reply.
    uint32 referenceId = 0; // host order; its bytes are letters for stratum 1
    int32 precision = 0; // log2 seconds
    int32 poll = 0;
    int32 version = 0;
    double rootDelay = 0.0; // seconds
    double rootDispersion = 0.0; // seconds
    // T1-T4 as full-resolution stamps (see sntp/NtpStamp.h).
    uint64 originate = 0, receive = 0, transmit = 0, destination = 0;
};

// What one background sync did, for a listener that wants more than the outcome's code.
struct SntpSyncReport {
    enum Action {
        NONE, // the clock was left alone
        STEP, // settimeofday
        SLEW, // adjtime
    };
    bool succeeded = false;
    int32 code = 0; // as given to sntpSyncSucceeded or sntpSyncFailed
    char server[64] = { 0 }; // the address queried
    SntpQueryReport query; // the last query's report
    bool answered = false; // a reply was used: the four fields below come from it
    double offset = 0.0; // seconds to add to the clock
    double delay = 0.0; // round trip, seconds
    int32 stratum = 0;
    Action action = NONE; // what was tried
    double correction = 0.0; // seconds the clock was to move
    int clockErrno = 0; // why the clock could not be set (code 2), when the system said
    uint32 agreeing = 0; // a refused step (code 3): consecutive syncs that agree on it so far
};

class SntpClient : public Looper {
public:
    // A strict background sync steps at most this far once it has set the clock, unless
    // confirmed: see setStepLimit.
    static constexpr uint32 DEFAULT_STEP_LIMIT = 1000;
    // Consecutive syncs, and the seconds within which their offsets must agree, that confirm a
    // step beyond the limit.
    static constexpr uint32 STEP_CONFIRMATIONS = 3;
    static constexpr double STEP_AGREEMENT = 1.0;

    // Told the outcome of every background sync, on the client's thread while the sync is still
    // marked running: it must not change the address or the interval from there.
    class Listener {
    public:
        virtual ~Listener() { }
        // 0: stepped back, 1: stepped to the same second or later,
        // 2: slewed back, 3: slewed to the same second or later.
        virtual void sntpSyncSucceeded(SntpClient* client, int32 code) = 0;
        // 0: no usable reply (or stopped), 1: the new time is invalid, 2: setting the clock failed,
        // 3 (strict only): a step beyond the step limit, not yet confirmed.
        virtual void sntpSyncFailed(SntpClient* client, int32 code) = 0;
        // Opt-in: after either call above, the whole story of the same sync.
        virtual void sntpSyncReported(SntpClient* client, const SntpSyncReport& report)
        {
            (void)client;
            (void)report;
        }
    };

    SntpClient() noexcept;
    // Does not stop a running sync: the owner quits and joins the thread first.
    ~SntpClient() override;

    // One request and reply. False, with one trace line (none for a failed name lookup), when
    // any step fails. A SocketException from the send or the close passes to the caller; the
    // socket is closed on every path. Queries from several threads take turns.
    bool getServerTime(SntpServerResponse* response);
    // The same, with what the query saw in `report` (filled in both modes; the classic mode
    // knows only ANSWERED, FAILED and TIMED_OUT).
    bool getServerTime(SntpServerResponse* response, SntpQueryReport* report);
    // One sync with up to `retryCount` attempts. A SocketException from a query passes to the
    // caller (the sync is then over and no longer marked running).
    void syncNow(uint32 retryCount);

    // A changed address stops a running sync, and wakes the background sync when it has both
    // an address and an interval. A null address counts as empty. Cut at 63 characters in the
    // classic mode; the strict mode refuses a longer name instead (false, with one trace line,
    // the address left as it was), since a cut name would be another server's.
    bool setServerAddress(const char* address);
    // The background sync's period in minutes (0: none)...
    void setSyncInterval(uint32 minutes);
    // ... or in seconds, which, when not 0, is used instead of the minutes. At most
    // MAX_SYNC_SECONDS (49 days, the millisecond tick's range); more is cut to that.
    void setSyncIntervalSeconds(uint32 seconds);
    static constexpr uint32 MAX_SYNC_SECONDS = 4294967;
    // Waits, 200 ms at a time, for a running sync to give up; an attempt in progress ends first.
    void stopSync();

    const char* serverAddress() const { return _serverAddress.cString(); }
    uint32 port() const { return _port; }
    uint32 syncInterval() const { return _syncInterval; }
    uint32 syncIntervalSeconds() const { return _syncSeconds; }
    uint32 timeout() const { return _timeout; }
    uint32 sleepTime() const { return _sleepTime; }
    uint32 retryCount() const { return _retryCount; }
    bool adjustForSameMinute() const { return _adjustForSameMinute; }
    IpAddress dnsServer() const;
    Listener* listener() const { return _listener; }
    bool isSyncing() const { return _syncing; }
    bool isStrict() const { return _strict; }
    uint32 stepLimit() const { return _stepLimit; }

    // The name server forced on the resolver for host-name lookups (0.0.0.0 unless set).
    void setDnsServer(const IpAddress& dnsServer);
    void setPort(uint32 port) { _port = port; }
    void setTimeout(uint32 milliseconds) { _timeout = milliseconds; }
    void setSleepTime(uint32 milliseconds) { _sleepTime = milliseconds; }
    void setRetryCount(uint32 retryCount) { _retryCount = retryCount; }
    void setAdjustForSameMinute(bool adjust) { _adjustForSameMinute = adjust; }
    void setListener(Listener* listener) { _listener = listener; }
    // Strict or classic mode (the default) for the queries that start after the call.
    void setStrict(bool strict) { _strict = strict; }
    // Seconds a strict background sync may step the clock once it has set it; 0: no limit.
    void setStepLimit(uint32 seconds) { _stepLimit = seconds; }

protected:
    // One pass of the background sync; suspends the looper while there is no address or no
    // interval.
    void looperFunc() override;

private:
    // No address or no interval: nothing for the background sync to do.
    bool isIdle() const;
    // The period between background syncs, in milliseconds (0: none).
    uint64 periodMs() const;
    // Wakes the background sync for a sync at once when it has an address and an interval.
    void wakeIfReady();
    // The server's address as a dotted text of at most 15 characters, looked up when it is a
    // host name; false when the lookup failed.
    bool resolveServer(const char* address, char* text);
    // getServerTime in the given mode.
    bool query(SntpServerResponse* response, SntpQueryReport* report, bool strict);
    // The two exchanges over the connected socket; the caller closes it.
    bool exchangeClassic(SntpServerResponse* response, SntpQueryReport* report);
    bool exchangeStrict(SntpServerResponse* response, SntpQueryReport* report);
    // Tells the listener, if any, the outcome and then the report.
    void notify(bool succeeded, int32 code, SntpSyncReport* report);
    // Whether a strict sync may move the clock by `offset` now (see setStepLimit).
    bool admitsStep(double offset, SntpSyncReport* report);

    // Address and name server are written by the owner and read by the looper thread.
    Btring<64> _serverAddress;
    IpAddress _dnsServer;
    std::atomic<uint32> _port;
    std::atomic<uint32> _syncInterval;
    std::atomic<uint32> _syncSeconds;
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
    std::atomic<bool> _strict;
    std::atomic<uint32> _stepLimit;
    // The syncing thread's own: whether a strict sync has set the clock, and the far step that
    // is waiting for confirmation.
    bool _synchronised;
    double _pendingOffset = 0.0;
    uint32 _pendingSteps = 0;

    mutable Mutex _configMutex; // _serverAddress, _dnsServer
    Mutex _queryMutex; // one query at a time on _socket
};

} // namespace Kovan
