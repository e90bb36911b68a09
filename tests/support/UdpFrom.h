// Datagrams from many loopback addresses through one socket: a private network namespace owns all
// of 127.0.0.0/8, so one socket bound to the wildcard address can speak as any of them and
// receives the replies to every one. The tests and the benchmarks load a server this way.
#pragma once

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

namespace KovanTest {

// Sends `size` bytes at `data` to `to` from the local address `source` (host order); true when
// the whole datagram went.
inline bool sendFrom(int fd, uint32_t source, const sockaddr_in& to, const void* data, size_t size)
{
    iovec part = { const_cast<void*>(data), size };
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message
        = { const_cast<sockaddr_in*>(&to), sizeof(to), &part, 1, control, sizeof(control), 0 };
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    const in_pktinfo info = { 0, { htonl(source) }, {} };
    memcpy(CMSG_DATA(header), &info, sizeof(info));
    return sendmsg(fd, &message, 0) == static_cast<ssize_t>(size);
}

} // namespace KovanTest
