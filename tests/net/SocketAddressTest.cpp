#include "net/SocketAddress.h"

#include "tests/net/NetTestSupport.h"

#include <resolv.h>
#include <unistd.h>

class SocketAddressTest : public NetTest { };

TEST_F(SocketAddressTest, LiteralAndSystemAddressesAndRelease)
{
    SocketAddress address;
    // The caller's text, not a canonical form, cut at 15 characters; ports above 32767 kept.
    address.setAddress("127.00000000000000.0.1", short(40000));
    EXPECT_STREQ("127.00000000000", address.hostAddress());
    EXPECT_STREQ("", address.hostName());
    EXPECT_EQ(40000, uint16(address.port()));

    sockaddr_in system = detail::makeInet4Address(inet_addr("192.168.100.200"), 123); // longest
    address.setAddress(&system);
    EXPECT_EQ(std::make_tuple(std::string("192.168.100.200"), std::string("Unknown"), short(123)),
        std::make_tuple(address.hostAddress(), address.hostName(), address.port()));
    // Released, nothing of the old address is left to show through the next literal.
    address.release();
    EXPECT_TRUE(address.isUnresolved());
    EXPECT_EQ(0, address.port());
    address.setAddress("10.1.2.3", 8080);
    EXPECT_STREQ("", address.hostName());
}

TEST_F(SocketAddressTest, NamesResolveOrLeaveTheAddressAsItWas)
{
    // Built where stale bytes lay: none is left in the padding of an address compared whole.
    alignas(sockaddr_in) unsigned char room[sizeof(sockaddr_in)];
    memset(room, 0xA5, sizeof(room));
    auto& system = *new (room) sockaddr_in(detail::makeInet4Address(inet_addr("10.9.9.9"), 7));
    EXPECT_EQ(std::string(8, '\0'), std::string(system.sin_zero, system.sin_zero + 8));
    SocketAddress address;
    address.setAddress(&system);
    address.setAddress("no-such-host.invalid", 80);
    EXPECT_EQ(std::make_pair(std::string("10.9.9.9"), short(7)),
        std::make_pair(std::string(address.hostAddress()), address.port()));
    // Found in the hosts file; the host name is left as it was.
    address.setAddress("localhost", 25);
    EXPECT_EQ(std::make_tuple(std::string("127.0.0.1"), std::string("Unknown"), short(25)),
        std::make_tuple(address.hostAddress(), address.hostName(), address.port()));

    ASSERT_TRUE(detail::replaceFirstNameServer("10.9.8.7"));
    EXPECT_TRUE(0 == _res.nscount || inet_addr("10.9.8.7") == _res.nsaddr_list[0].sin_addr.s_addr);

    // This machine: its host name, cut to what the address holds, on every interface.
    char name[256] = {};
    ASSERT_EQ(0, gethostname(name, sizeof(name) - 1));
    const SocketAddress* local = SocketAddress::localAddress();
    ASSERT_FALSE(local->isUnresolved());
    EXPECT_EQ(std::string(name).substr(0, SocketAddress::HOST_NAME_SIZE - 1), local->hostName());
    EXPECT_STREQ("0.0.0.0", local->hostAddress());
}
