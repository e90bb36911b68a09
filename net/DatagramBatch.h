// UDP plumbing beyond the socket wrapper's one-call contract, for servers that answer many
// datagrams: batches moved with one system call each way (recvmmsg, sendmmsg), each received
// datagram carrying the kernel's arrival time, and time limits on blocking calls. Failures throw
// SocketException with errno, as the wrapper's do.
#pragma once

#include "foundation/Types.h"
#include "net/SocketApiWrapper.h"

#include <ctime>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>

struct mmsghdr;

namespace Kovan {
namespace detail {

// Blocking receive and send calls on `fd` give up after `ms` milliseconds (EAGAIN), so a thread
// that owns the socket sees a stop request within that time.
void setSocketTimeouts(SOCKET_FD fd, int ms);

} // namespace detail

// Up to `capacity` datagrams received at once, each cut to `slotSize` bytes, and the replies
// made for them sent at once. Not thread-safe: one batch per worker thread.
class DatagramBatch {
public:
    DatagramBatch(int capacity, int slotSize);
    ~DatagramBatch();
    DatagramBatch(const DatagramBatch&) = delete;
    DatagramBatch& operator=(const DatagramBatch&) = delete;

    // Waits for the first datagram as long as the socket's receive time-out lets it (forever on
    // a blocking socket without one), then takes whatever else is already queued; with `wait`
    // false, only what is already queued. The number received; 0 on a time-out, an interrupted
    // wait or nothing queued. Forgets the replies of the last batch.
    int receive(SOCKET_FD fd, bool wait = true);

    int size() const { return _received; }
    const uint8* data(int i) const { return _in.get() + slot(i); }
    // The datagram's own length, which may exceed slotSize (only slotSize bytes are kept).
    int length(int i) const;
    // The sender's IPv4 address and port in network order; family 0 for another family.
    const sockaddr_in& peer(int i) const { return _peers[i]; }
    // When the datagram arrived, by the kernel's real-time clock; {0, 0} when the socket does not
    // stamp arrivals (SO_TIMESTAMPNS).
    const timespec& arrival(int i) const { return _arrivals[i]; }

    // Room for a reply of `length` bytes (at most slotSize) to datagram i, queued for
    // sendReplies. Each datagram gets at most one reply; asking again returns the same room.
    uint8* reply(int i, int length);
    int replies() const { return _queued; }
    // Sends `count` queued replies from queue position `first` (all of them by default), in as
    // few calls as the kernel allows. A reply the system refuses is skipped and the rest still go.
    // The number sent.
    int sendReplies(SOCKET_FD fd, int first = 0, int count = -1);

private:
    size_t slot(int i) const { return static_cast<size_t>(i) * static_cast<size_t>(_slotSize); }

    int _capacity;
    int _slotSize;
    int _received = 0;
    int _queued = 0;
    std::unique_ptr<uint8[]> _in;
    std::unique_ptr<uint8[]> _out;
    std::unique_ptr<sockaddr_in[]> _peers;
    std::unique_ptr<timespec[]> _arrivals;
    std::unique_ptr<iovec[]> _inVectors;
    std::unique_ptr<iovec[]> _outVectors;
    std::unique_ptr<char[]> _controls;
    std::unique_ptr<mmsghdr[]> _inHeaders;
    std::unique_ptr<mmsghdr[]> _outHeaders;
    std::unique_ptr<int[]> _replyOf; // the queued position of each datagram's reply, or -1
};

} // namespace Kovan
