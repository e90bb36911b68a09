// quillo: bench tool for the battery-backed clock chip on the board's first I2C bus. One run opens
// the bus, picks the chip from the first argument and performs one operation.
#include "foundation/Trace.h"
#include "net/SocketException.h"
#include "sntp/SntpClient.h"
#include "tool/RtcChip.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

using namespace Kovan;

namespace {

// A public time server, used by the drift test when no IP is given.
const char* const DEFAULT_SERVER_ADDRESS = "129.6.15.28";

int _delay = 3600; // drift-test period, seconds
int _mdelay = 100; // repeated-read period, milliseconds

// The one SNTP client: only ever given a server address and asked for the time; its background
// sync never runs here.
SntpClient _client;

unsigned long number(const char* text) { return strtoul(text, nullptr, 0); }

// number(text) + add as an int, wrapping like the 32-bit arithmetic it stands for: "-2147483648"
// is a year like any other.
int numberPlus(const char* text, int add)
{
    return static_cast<int>(static_cast<unsigned>(number(text)) + static_cast<unsigned>(add));
}

void usage(const char* argv0)
{
    puts("Quillo v1.0.0\n");
    printf("Usage: %s SlaveAddr Option\n\n", argv0);
    printf("SlaveAddr:\n");
    printf("    0x5A        S35391A Rtc Device\n");
    printf("    0x6F        ISL1208 Rtc Device\n\n");
    printf("Option:\n");
    printf("    -r          Read Rtc time\n");
    printf("    -rr NUM     Read Rtc time each NUM msec.\n");
    printf("                (default : NUM = 100 msec.)\n");
    printf("    -ra ADDR    Read Rtc ADDR address value\n");
    printf("    -w          Write Rtc time to Local time\n");
    printf("    -wv VAL     Write Rtc time to VAL time\n");
    printf("    -wa ADDR    Write Rtc ADDR address value\n");
    printf("                (VAL : year month mday wday hour minute second)\n");
    printf("    -s IP NUM   Sync Local & Rtc time to IP(server) time and Check NUM sec.\n");
    printf("                (default : IP = %s, NUM = 1 hour)\n\n", DEFAULT_SERVER_ADDRESS);
}

void sleepMilliseconds(int ms)
{
    if (ms <= 0)
        return;
    timespec t = { ms / 1000, (ms % 1000) * 1000000L };
    while (-1 == nanosleep(&t, &t) && EINTR == errno) { }
}

// One query of the drift test. A SocketException that escapes it (a failed send or close) is a
// failed query like any other: the test reports the loss and goes on, and the error itself goes
// to standard error for whoever looks into it.
bool queryServer(SntpServerResponse* response)
{
    try {
        return _client.getServerTime(response);
    } catch (const SocketException& e) {
        (void)fprintf(
            stderr, "quillo: socket error %d: %s\n", static_cast<int>(e.errorCode()), e.message());
        return false;
    }
}

// The server's time now in whole seconds: the system clock plus the measured offset.
time_t serverSeconds(const SntpServerResponse& response)
{
    const timeval tv = SntpTime::currentTime() + response.offset;
    return tv.tv_sec;
}

// The drift test: set the chip from the server once, then compare the two every _delay seconds.
// The system clock is only the base the offset is added to; it is never changed.
void serverDriftTest()
{
    SntpServerResponse response;
    if (!queryServer(&response)) {
        printf("Connection Fail!\n");
        return;
    }
    printf("Connection Success!!\n");
    time_t server = serverSeconds(response);
    tm serverTime = {};
    localtime_r(&server, &serverTime);
    writeRtc(&serverTime);
    printf("<<<<< Sync Local & Rtc to Server >>>>>\n");
    printf("SERVER- ");
    printDateTime(&serverTime, "\n\n");
    (void)fflush(stdout);

    int count = 0;
    double elapsed = 0.0;
    for (;;) {
        ++count;
        sleep(static_cast<unsigned>(_delay)); // NOLINT(concurrency-mt-unsafe): one thread
        // The nominal sum of the periods, as a 32-bit product.
        elapsed = static_cast<int32>(static_cast<int64>(count) * _delay) / 60.0;

        if (!queryServer(&response)) {
            printf("!!! Connect Fail !!! - Elapsed : %.2f min.\n\n", elapsed);
            (void)fflush(stdout);
            continue;
        }
        server = serverSeconds(response);
        tm chip = {};
        readRtc(&chip);
        localtime_r(&server, &serverTime);

        printf("<<<<< Check Server & Local & Rtc >>>>> - Elapsed : %.2f min.\n", elapsed);
        printf("SERVER- ");
        printDateTime(&serverTime, "\n");
        printf("RTC   - ");
        printDateTime(&chip, "\n\n");

        const time_t difference = server - mktime(&chip);
        printf("DIFF  = %d sec. ", static_cast<int>(difference));
        if (difference > 0)
            printf("(RTC is slower than SERVER)\n\n");
        else if (difference < 0)
            printf("(RTC is fasterthan SERVER)\n\n");
        else
            printf("(RTC is equal to SERVER)\n\n");
        // Each check is worth seeing as it happens, also through a pipe.
        (void)fflush(stdout);
    }
}

// The two endless loops: the drift test against a time server, and the repeated read.
void syncTest(bool withServer)
{
    if (withServer) {
        serverDriftTest();
        return;
    }
    for (;;) {
        tm chip = {};
        readRtc(&chip);
        printDateTime(&chip, "\n");
        // Each reading is worth seeing as it happens, also through a pipe.
        (void)fflush(stdout);
        sleepMilliseconds(_mdelay);
    }
}

tm localNow()
{
    const time_t now = time(nullptr);
    tm local = {};
    localtime_r(&now, &local);
    return local;
}

void run(int argc, char** argv)
{
    const char* option = argv[2];
    if (0 == strcmp(option, "-ra")) {
        if (argc < 4)
            return usage(argv[0]);
        readAddress(number(argv[3]) & 0xFF);
    } else if (0 == strcmp(option, "-wa")) {
        if (argc < 5)
            return usage(argv[0]);
        writeAddress(number(argv[3]) & 0xFF, number(argv[4]) & 0xFF);
    } else if (0 == strcmp(option, "-wv")) {
        if (argc < 10)
            return usage(argv[0]);
        tm t = {};
        t.tm_year = numberPlus(argv[3], -1900);
        t.tm_mon = numberPlus(argv[4], -1);
        t.tm_mday = static_cast<int>(number(argv[5]));
        t.tm_wday = static_cast<int>(number(argv[6]));
        t.tm_hour = static_cast<int>(number(argv[7]));
        t.tm_min = static_cast<int>(number(argv[8]));
        t.tm_sec = static_cast<int>(number(argv[9]));
        writeRtc(&t);
    } else if (0 == strcmp(option, "-r")) {
        // The local time only fills the record; a chip overwrites every field that is printed.
        tm t = localNow();
        readRtc(&t);
        printf("<<<<< Read  Rtc >>>>>\n");
        printRtc(&t);
    } else if (0 == strcmp(option, "-w")) {
        const tm t = localNow();
        writeRtc(&t);
        printf("<<<<< Write Rtc >>>>>\n");
        printRtc(&t);
    } else if (0 == strcmp(option, "-s")) {
        if (argc > 4)
            _delay = static_cast<int>(number(argv[4]));
        syncTest(true);
    } else if (0 == strcmp(option, "-rr")) {
        if (argc > 3)
            _mdelay = static_cast<int>(number(argv[3]));
        syncTest(false);
    } else {
        usage(argv[0]);
    }
}

} // namespace

int main(int argc, char** argv)
{
    try {
        // Even the usage text needs the bus: a missing device is the first thing to report.
        if (!openI2c())
            throw "can't open /dev/i2c-0";
        if (argc < 3) {
            usage(argv[0]);
            closeI2c();
            return 0;
        }
        _slave = static_cast<int>(number(argv[1]));
        // Every option hands the fourth word (or the default) to the client; only -s uses it.
        _client.setServerAddress(argc > 3 ? argv[3] : DEFAULT_SERVER_ADDRESS);
        init();
        run(argc, argv);
        closeI2c();
        return 0;
    } catch (const char* message) {
        const int error = errno;
        char text[256];
        printf("Exception: %s (%d: %s)\n", message, error, strerror_r(error, text, sizeof text));
        closeI2c();
        return -1;
    }
}
