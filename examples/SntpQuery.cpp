// sntp-query: asks one SNTP server for the time, once, and prints what a technician checks
// first: the server's time, the offset of this machine's clock from it, the round trip, the
// stratum and the leap indicator, on one line like the usual one-shot NTP clients.
//
//   sntp-query [-p PORT] [-t MILLISECONDS] SERVER
//
// Exit status: 0 with a reply, 1 without one, 2 for a bad command line.
#include "net/SocketException.h"
#include "sntp/SntpClient.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/time.h>
#include <unistd.h>

namespace {

void usage(const char* program)
{
    fprintf(stderr, "Usage: %s [-p PORT] [-t MILLISECONDS] SERVER\n", program);
}

const char* leapText(int leap)
{
    static const char* const texts[] = { "no-leap", "add-leap", "del-leap", "unsync" };
    return texts[leap & 3];
}

} // namespace

int main(int argc, char** argv)
{
    unsigned long port = 123;
    unsigned long timeout = 5000;
    int option;
    while ((option = getopt(argc, argv, "p:t:h")) != -1) {
        char* end = nullptr;
        switch (option) {
        case 'p':
            port = strtoul(optarg, &end, 0);
            if (*end || 0 == port || port > 65535) {
                fprintf(stderr, "%s: bad port \"%s\"\n", argv[0], optarg);
                return 2;
            }
            break;
        case 't':
            timeout = strtoul(optarg, &end, 0);
            if (*end || timeout > 600000) {
                fprintf(stderr, "%s: bad time-out \"%s\" (0 to 600000 ms)\n", argv[0], optarg);
                return 2;
            }
            break;
        default:
            usage(argv[0]);
            return 2;
        }
    }
    if (optind + 1 != argc) {
        usage(argv[0]);
        return 2;
    }

    Kovan::SntpClient client;
    client.setServerAddress(argv[optind]);
    client.setPort(static_cast<Kovan::uint32>(port));
    client.setTimeout(static_cast<Kovan::uint32>(timeout));

    Kovan::SntpServerResponse response;
    try {
        if (!client.getServerTime(&response)) {
            fprintf(stderr, "%s: no usable reply from %s\n", argv[0], argv[optind]);
            return 1;
        }
    } catch (const Kovan::SocketException& e) {
        fprintf(stderr, "%s: %s: socket error %d: %s\n", argv[0], argv[optind],
            static_cast<int>(e.errorCode()), e.message());
        return 1;
    }

    // The server's time now, as this machine's clock corrected by the offset.
    timeval tv = Kovan::SntpTime::currentTime() + response.offset;
    if (tv.tv_usec >= 1000000) {
        tv.tv_sec += 1;
        tv.tv_usec -= 1000000;
    }
    const time_t seconds = tv.tv_sec;
    tm local;
    localtime_r(&seconds, &local);
    char date[64];
    strftime(date, sizeof(date), "%Y-%m-%d %H:%M:%S", &local);
    char zone[16];
    strftime(zone, sizeof(zone), "%z", &local);

    // Our own timestamps move in whole milliseconds, so a loopback round trip can come out a
    // few microseconds below zero; it is shown as zero.
    const double delay = response.delay > 0 ? response.delay : 0.0;
    printf("%s.%06ld (%s) %+.6f +/- %.6f %s s%d %s\n", date, static_cast<long>(tv.tv_usec), zone,
        response.offset, delay, argv[optind], static_cast<int>(response.stratum),
        leapText(response.leapIndicator));
    return 0;
}
