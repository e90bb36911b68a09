#include "net/DatagramBatch.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/time.h>

namespace Kovan {

namespace {

[[noreturn]] void throwSystemError() { throw SocketException(errno); }

// Room for one SCM_TIMESTAMPNS message, aligned as the kernel writes it.
constexpr size_t CONTROL_SIZE = CMSG_SPACE(sizeof(timespec));

} // namespace

namespace detail {

void setSocketTimeouts(SOCKET_FD fd, int ms)
{
    timeval limit;
    limit.tv_sec = ms / 1000;
    limit.tv_usec = static_cast<suseconds_t>(ms % 1000) * 1000;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit)) != 0
        || ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit)) != 0)
        throwSystemError();
}

} // namespace detail

DatagramBatch::DatagramBatch(int capacity, int slotSize)
    : _capacity(std::max(1, capacity))
    , _slotSize(std::max(1, slotSize))
    , _in(new uint8[static_cast<size_t>(_capacity) * _slotSize])
    , _out(new uint8[static_cast<size_t>(_capacity) * _slotSize])
    , _peers(new sockaddr_in[_capacity])
    , _arrivals(new timespec[_capacity])
    , _inVectors(new iovec[_capacity])
    , _outVectors(new iovec[_capacity])
    , _controls(new char[_capacity * CONTROL_SIZE])
    , _inHeaders(new mmsghdr[_capacity])
    , _outHeaders(new mmsghdr[_capacity])
    , _replyOf(new int[_capacity])
{
    memset(_inHeaders.get(), 0, sizeof(mmsghdr) * _capacity);
    memset(_outHeaders.get(), 0, sizeof(mmsghdr) * _capacity);
    for (int i = 0; i < _capacity; ++i) {
        _inVectors[i].iov_base = _in.get() + slot(i);
        _inVectors[i].iov_len = static_cast<size_t>(_slotSize);
        msghdr& header = _inHeaders[i].msg_hdr;
        header.msg_iov = &_inVectors[i];
        header.msg_iovlen = 1;
        header.msg_name = &_peers[i];
        header.msg_control = _controls.get() + i * CONTROL_SIZE;
        _outHeaders[i].msg_hdr.msg_iov = &_outVectors[i];
        _outHeaders[i].msg_hdr.msg_iovlen = 1;
    }
}

DatagramBatch::~DatagramBatch() = default;

int DatagramBatch::receive(SOCKET_FD fd, bool wait)
{
    _received = 0;
    _queued = 0;
    // The kernel shortens these to what it wrote; each call starts from full room again.
    for (int i = 0; i < _capacity; ++i) {
        _inHeaders[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
        _inHeaders[i].msg_hdr.msg_controllen = CONTROL_SIZE;
        _inHeaders[i].msg_hdr.msg_flags = 0;
    }
    const int count = ::recvmmsg(fd, _inHeaders.get(), static_cast<unsigned>(_capacity),
        wait ? MSG_WAITFORONE : MSG_DONTWAIT, nullptr);
    if (count < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return 0;
        throwSystemError();
    }
    for (int i = 0; i < count; ++i) {
        _replyOf[i] = -1;
        msghdr& header = _inHeaders[i].msg_hdr;
        if (header.msg_namelen != sizeof(sockaddr_in) || _peers[i].sin_family != AF_INET)
            memset(&_peers[i], 0, sizeof(sockaddr_in));
        _arrivals[i] = timespec { 0, 0 };
        for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS)
                memcpy(&_arrivals[i], CMSG_DATA(c), sizeof(timespec));
        }
    }
    _received = count;
    return count;
}

int DatagramBatch::length(int i) const
{
    // Without MSG_TRUNC the kernel reports what it copied; a cut datagram is at least the slot.
    return static_cast<int>(_inHeaders[i].msg_len);
}

uint8* DatagramBatch::reply(int i, int length)
{
    if (_replyOf[i] < 0) {
        const int at = _queued++;
        _replyOf[i] = at;
        msghdr& header = _outHeaders[at].msg_hdr;
        header.msg_name = &_peers[i];
        header.msg_namelen = sizeof(sockaddr_in);
        _outVectors[at].iov_base = _out.get() + slot(i);
    }
    _outVectors[_replyOf[i]].iov_len = static_cast<size_t>(std::min(length, _slotSize));
    return _out.get() + slot(i);
}

int DatagramBatch::sendReplies(SOCKET_FD fd, int first, int count)
{
    const int end = count < 0 ? _queued : std::min(_queued, first + count);
    int sent = 0;
    for (int at = std::max(0, first); at < end;) {
        const int done
            = ::sendmmsg(fd, _outHeaders.get() + at, static_cast<unsigned>(end - at), MSG_NOSIGNAL);
        if (done > 0) {
            sent += done;
            at += done;
        } else if (done < 0 && errno == EINTR) {
            continue;
        } else {
            ++at; // refused (or the send time-out passed): skip it, the others may still go
        }
    }
    return sent;
}

} // namespace Kovan
