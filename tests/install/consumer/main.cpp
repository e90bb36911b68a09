// Uses each installed library through its installed headers and prints what it got; the test
// compares the output with the same lines on every platform.
#include "foundation/Btring.h"
#include "foundation/IpAddress.h"
#include "foundation/Trace.h"

#include <cstdio>
#include <cstdlib>

namespace Kovan {

void assertFunc(const char* expression, const char* file, unsigned int line, const char* function)
{
    fprintf(stderr, "%s: [%s:%d] %s\n", expression, file, line, function);
    abort();
}

} // namespace Kovan

int main()
{
    Kovan::Btring<16> name;
    name.printf("%s-%d", "consumer", 1);
    Kovan::IpAddress address("192.168.10.20");
    char text[16];
    printf("foundation: %s %s\n", name.cString(), address.toString(text));
    return 0;
}
