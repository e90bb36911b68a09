#include "foundation/IpAddress.h"

#include "support/StderrCapture.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <random>
#include <string>

using namespace Kovan;

TEST(IpAddressTest, TextWordAndFieldsAgreeWithTheCLibraryAndABadTextGivesZero)
{
    std::mt19937 random(5);
    char text[16];
    for (int i = 0; i < 2000; ++i) {
        const uint32 word = random();
        const std::string dotted = inet_ntoa(in_addr { word });
        IpAddress ip;
        ip.fromUint32(word);
        ASSERT_EQ(dotted, ip.toString(text));
        ASSERT_EQ(word, IpAddress(dotted.c_str()).toUint32()) << dotted;
        const uint8* bytes = reinterpret_cast<const uint8*>(&word); // network order
        for (int32 k = 0; k < 4; ++k)
            ASSERT_EQ(bytes[k], ip.field(k)) << dotted << " field " << k;
    }
    // A text that is not an address gives zero; a short one keeps the rest.
    for (const char* bad : { "256.1.1.1", "1.2.3.4.5", "1.2.3.4.", "1..2.3", " 1.2.3.4", "",
             "1.2.3.-4", "1.2.3.4x", "+1.2.3.4", "99999999999999999999.1.1.1" }) {
        IpAddress a(9, 9, 9, 9);
        EXPECT_FALSE(a.fromString(bad)) << "'" << bad << "'";
        EXPECT_EQ(IpAddress(0, 0, 0, 0), a) << "'" << bad << "'";
    }
    IpAddress partial(1, 2, 3, 4);
    partial.set("192.168");
    EXPECT_EQ(IpAddress(192, 168, 3, 4), partial);
    EXPECT_EQ(IpAddress(10, 1, 0, 255), IpAddress("010.001.000.255"));
    EXPECT_NE(IpAddress(1, 2, 3, 4), IpAddress(5, 6, 7, 4)) << "equal in the last field only";
    EXPECT_EQ(IpAddress(0, 0, 0, 0), IpAddress());
    EXPECT_CHECK_FAILS(partial.setField(4, 1), "0 <= field && field <= 3", "setField");
    EXPECT_DEATH(IpAddress(0, 0, 0, 256), "f3 <= 255: ");
}
