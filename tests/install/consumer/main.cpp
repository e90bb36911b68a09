// Uses each installed library through its installed headers; the test compares what it prints.
#include "foundation/Btring.h"
#include "foundation/IpAddress.h"
#include "foundation/Trace.h"
#include "net/ByteBuffer.h"
#include "registry/Base64.h"
#include "registry/Md5.h"
#include "sntp/SntpTime.h"

#include <cstdio>
#include <cstdlib>

#ifdef CONSUMER_OWN_CHECK_HANDLER
void Kovan::assertFunc(const char* expression, const char*, unsigned int, const char*)
{
    fprintf(stderr, "%s\n", expression);
    abort();
}
#endif

int main()
{
    Kovan::Btring<16> name;
    name.printf("%s-%d", "consumer", 1);
    char text[16];
    printf("foundation: %s %s\n", name.cString(), Kovan::IpAddress("192.168.10.20").toString(text));

    Kovan::uint8 digest[16], encoded[4 * 6 + 1];
    Kovan::Md5 md5;
    md5.init(nullptr);
    md5.append("abc", 3);
    md5.finish(digest);
    Kovan::base64Encode(encoded, digest, 16);
    printf("registry: %s\n", reinterpret_cast<const char*>(encoded));

    Kovan::ByteBuffer buffer(8);
    buffer.putInt(0x01020304).flip();
    const unsigned first = static_cast<unsigned char>(buffer.buffer()[0]);
    printf("net: %02x %08x\n", first, static_cast<unsigned>(buffer.getInt()));

    const Kovan::SntpTime ntp(timeval { 1000000000, 500000 });
    printf("sntp: %u %08x\n", ntp.seconds(), ntp.fraction());
}
