// Uses each installed library through its installed headers and prints what it got; the test
// compares the output with the same lines on every platform.
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
namespace Kovan {

void assertFunc(const char* expression, const char* file, unsigned int line, const char* function)
{
    fprintf(stderr, "%s: [%s:%d] %s\n", expression, file, line, function);
    abort();
}

} // namespace Kovan
#endif

int main()
{
    Kovan::Btring<16> name;
    name.printf("%s-%d", "consumer", 1);
    Kovan::IpAddress address("192.168.10.20");
    char text[16];
    printf("foundation: %s %s\n", name.cString(), address.toString(text));

    Kovan::uint8 digest[16];
    Kovan::Md5 md5;
    md5.init(nullptr);
    md5.append("abc", 3);
    md5.finish(digest);
    Kovan::uint8 encoded[4 * 6 + 1];
    Kovan::base64Encode(encoded, digest, 16);
    printf("registry: %s\n", reinterpret_cast<const char*>(encoded));

    Kovan::ByteBuffer buffer(8);
    buffer.putInt(0x01020304);
    buffer.flip();
    const unsigned first = static_cast<unsigned char>(buffer.buffer()[0]);
    const unsigned whole = static_cast<unsigned>(buffer.getInt());
    printf("net: %02x %08x\n", first, whole);

    timeval tv = { 1000000000, 500000 };
    Kovan::SntpTime ntp(tv);
    printf("sntp: %u %08x\n", ntp.seconds(), ntp.fraction());
    return 0;
}
