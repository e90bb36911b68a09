// A minimal SNTP server on UDP port 123: its own thread waits, while enabled, for one request
// at a time and answers it with the board's system time, a fixed stratum of 14 and the
// request's transmit time echoed. It keeps no state between requests. The library's default
// server; SntpModernServer is the one for an open network.
//
// Thread safety: one controlling thread calls setEnable, run, quit, join and destroys it; the
// server thread is its own. The hand-over of the socket between the two is locked inside.
#pragma once

#include "foundation/Mutex.h"
#include "foundation/Thread.h"
#include "foundation/Types.h"
#include "net/SocketApiWrapper.h"
#include "sntp/SntpPacket.h"

#include <atomic>
#include <sys/socket.h>

namespace Kovan {

class SntpServer : public Thread {
public:
    typedef SOCKET_FD SOCKET;

    static constexpr uint16 PORT = 123;
    static constexpr uint8 STRATUM = 14;

    SntpServer();
    // Closes the socket (waiting for a cycle in progress); the owner quits and joins the thread
    // first.
    ~SntpServer() override;

    // Switching on makes the socket on the caller's thread; switching off waits for the cycle in
    // progress (at most about a second), then closes it. A server that cannot bind its port
    // switches itself off again, so isEnable() tells the caller whether it is serving.
    void setEnable(bool enable);
    bool isEnable() const { return _enable; }

protected:
    // False, with a trace line, when the socket cannot be made, its address not re-used, or the
    // port not bound. A socket already held is kept.
    bool initSocket();
    // Waits for the cycle in progress to end, polling every 200 ms, then closes the socket.
    void cleanupSocket();
    // `len`: in, the room behind `from`; out, the length used. Throws the boolean false when
    // select fails.
    bool waitForRequest(sockaddr* from, uint32* len, SntpBasicInfo* nbi);
    bool respondToRequest(const sockaddr* from, uint32 len, const SntpFullPacket* nfp);

    void threadFunc() override;
    void quitRequested() override;

private:
    // The one wait both directions share: true once the socket is ready and the server still
    // on; false once it is switched off or told to quit. A failed wait traces `selectFailure`
    // and throws the boolean false.
    bool waitUntilReady(bool forWriting, const char* selectFailure);
    // Takes the socket for one cycle: false when there is none to take or the server is off.
    bool beginCycle();
    void endCycle();

    std::atomic<bool> _enable;
    // Raised, under _socketMutex, before the server thread touches the socket and lowered after:
    // the controller closes the socket only after seeing it low, holding the mutex from that
    // test to the close so that no cycle can start in between.
    std::atomic<bool> _checking;
    std::atomic<bool> _quitRequested;
    SOCKET _socket;
    Mutex _socketMutex;
};

} // namespace Kovan
