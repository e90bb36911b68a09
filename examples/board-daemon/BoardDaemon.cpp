// board-daemon: a small board service built on the installed Kovan libraries, the way a board
// developer starts one. Its settings live in a registry file (made with defaults on the first
// run); a strict SNTP client keeps the system clock in step from its background thread; a looper
// of its own does the board's periodic work (here a heartbeat line); and an SNTP server runs in
// the same process, so the other boards on the network can take their time from this one.
//
//   board-daemon [-f SETTINGS] [-s SERVER] [-p PORT] [-n BEATS]
//
// -f  the settings file (default board-daemon.reg in the working folder)
// -s  the SNTP server to follow (default: the settings' one; "self" is the in-process server)
// -p  the UDP port to serve on (default: the settings' one; 0 lets the system pick)
// -n  stop after this many heartbeats (default: run until SIGINT or SIGTERM)
//
// Setting the clock needs CAP_SYS_TIME: without it the sync says so and the daemon carries on.
// Exit status: 0 after a stop, 1 when the settings or the server fail, 2 for a bad command line.
#include "foundation/Looper.h"
#include "foundation/SyncFlag.h"
#include "foundation/Trace.h"
#include "registry/Settings.h"
#include "sntp/SntpClient.h"
#include "sntp/SntpModernServer.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const USAGE = "Usage: %s [-f SETTINGS] [-s SERVER] [-p PORT] [-n BEATS]\n";

// The settings: one key, /1, with four values under it. The checked API (Kovan::Settings) names
// the type of every value it reads, so a value of another type or size is an error that says
// where, never a silent default.
const char* const SERVER = "/1/1"; // STRING: the server's name or address ("self": in-process)
const char* const INTERVAL = "/1/2"; // UINT32: seconds between background syncs
const char* const SERVE_PORT = "/1/3"; // UINT16: the in-process server's UDP port, 0 for any
const char* const BEAT = "/1/4"; // UINT32: milliseconds between heartbeats

struct Config {
    std::string server = "self";
    Kovan::uint32 intervalSeconds = 3600;
    Kovan::uint16 servePort = 0;
    Kovan::uint32 beatMilliseconds = 200;
};

// Reads the settings, first writing the defaults to a new file. An open registry holds a lock of
// the whole process (and a writable one the file's writer lock), so it is closed again before
// the threads start: the board's scripts may change a value with registry-tool meanwhile.
Config loadConfig(const char* filename)
{
    Config c;
    Kovan::Settings settings;
    struct stat st;
    if (0 != stat(filename, &st)) {
        settings.create(filename);
        settings.addKey("/1");
        settings.addString(SERVER, c.server);
        settings.addUint32(INTERVAL, c.intervalSeconds);
        settings.addUint16(SERVE_PORT, c.servePort);
        settings.addUint32(BEAT, c.beatMilliseconds);
        settings.close();
    }
    settings.open(filename, false);
    c.server = settings.getString(SERVER);
    c.intervalSeconds = settings.getUint32(INTERVAL);
    c.servePort = settings.getUint16(SERVE_PORT);
    c.beatMilliseconds = settings.getUint32(BEAT);
    settings.close();
    return c;
}

// Told about each background sync, on the client's thread: the short outcome first, then the
// whole report, which is what this daemon prints.
class SyncReport : public Kovan::SntpClient::Listener {
public:
    void sntpSyncSucceeded(Kovan::SntpClient*, Kovan::int32) override { }
    void sntpSyncFailed(Kovan::SntpClient*, Kovan::int32) override { }
    void sntpSyncReported(Kovan::SntpClient*, const Kovan::SntpSyncReport& r) override
    {
        static const char* const action[] = { "left alone", "stepped", "slewed" };
        if (r.answered)
            printf("sync: %s answered, stratum %d, offset %+.6f s, delay %.6f s; clock %s",
                r.server, static_cast<int>(r.stratum), r.offset, r.delay, action[r.action]);
        else
            printf("sync: no usable reply from %s", r.server);
        char text[128];
        if (!r.succeeded && 0 != r.clockErrno) // strerror_r: this runs on the client's thread
            printf(" (setting the clock failed: %s)", strerror_r(r.clockErrno, text, sizeof(text)));
        else if (!r.succeeded && 3 == r.code)
            printf(" (a step beyond the limit, %u sync(s) agree so far)",
                static_cast<unsigned>(r.agreeing));
        printf("\n");
        (void)fflush(stdout);
    }
};

// The board's own periodic work. A looper paces itself: the wait on `_wake` is also what makes
// a quit prompt, since quitRequested() signals it.
class Heartbeat : public Kovan::Looper {
public:
    Heartbeat(Kovan::uint32 periodMs, long beats)
        : Looper("Heartbeat", 10, Kovan::Thread::NORMAL)
        , _periodMs(periodMs)
        , _beats(beats)
    {
    }
    ~Heartbeat() override
    {
        quit();
        join();
    }
    Heartbeat(const Heartbeat&) = delete;
    Heartbeat& operator=(const Heartbeat&) = delete;

protected:
    void looperFunc() override
    {
        if (Kovan::SyncFlag::SIGNALED == _wake.waitForSignal(_periodMs))
            return; // a quit
        ++_count;
        printf("heartbeat %ld\n", _count);
        (void)fflush(stdout);
        if (_beats > 0 && _count == _beats)
            kill(getpid(), SIGTERM); // the same way out as a stop from outside
    }
    void quitRequested() override
    {
        Looper::quitRequested();
        _wake.signal();
    }

private:
    Kovan::uint32 _periodMs;
    long _beats;
    long _count = 0;
    Kovan::SyncFlag _wake;
};

bool number(const char* text, long low, long high, long* value)
{
    char* end = nullptr;
    errno = 0;
    *value = strtol(text, &end, 10);
    return '\0' != *text && '\0' == *end && 0 == errno && low <= *value && *value <= high;
}

} // namespace

int main(int argc, char** argv)
{
    const char* self = argc > 0 ? argv[0] : "board-daemon";
    if (2 == argc && (0 == strcmp(argv[1], "--help") || 0 == strcmp(argv[1], "-h"))) {
        printf(USAGE, self);
        return 0;
    }
    const char* filename = "board-daemon.reg";
    const char* server = nullptr;
    long port = -1, beats = 0;
    int opt = 0;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): no thread runs yet
    while (-1 != (opt = getopt(argc, argv, "f:s:p:n:"))) {
        bool good = true;
        if ('f' == opt)
            filename = optarg;
        else if ('s' == opt)
            server = optarg;
        else if ('p' == opt)
            good = number(optarg, 0, 65535, &port);
        else if ('n' == opt)
            good = number(optarg, 1, 1000000, &beats);
        else
            good = false;
        if (!good) {
            (void)fprintf(stderr, USAGE, self);
            return 2;
        }
    }
    if (optind != argc) {
        (void)fprintf(stderr, USAGE, self);
        return 2;
    }

    Config settings;
    try {
        settings = loadConfig(filename);
    } catch (const std::exception& e) {
        // Kovan::SettingsError: the operation, the path, the registry's code and errno.
        (void)fprintf(stderr, "%s: settings: %s\n", self, e.what());
        return 1;
    }
    if (server)
        settings.server = server;
    if (port >= 0)
        settings.servePort = static_cast<Kovan::uint16>(port);

    // Blocked before any thread starts, so only the sigwait below takes them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    Kovan::SntpModernServer::Options options;
    options.port = settings.servePort;
    // This board is the reference of its network: served as synchronised even where the
    // kernel does not say so.
    options.localReference = true;
    options.workers = 1;
    Kovan::SntpModernServer timeServer(options);
    if (!timeServer.start()) {
        (void)fprintf(stderr, "%s: cannot serve SNTP: %s\n", self, timeServer.error().c_str());
        return 1;
    }
    printf("serving SNTP on UDP port %u\n", static_cast<unsigned>(timeServer.port()));

    Kovan::SntpClient client;
    SyncReport report;
    client.setStrict(true);
    if ("self" == settings.server) {
        client.setServerAddress("127.0.0.1");
        client.setPort(timeServer.port());
    } else {
        client.setServerAddress(settings.server.c_str());
    }
    // One query first, which changes nothing: how far off the clock is now.
    Kovan::SntpServerResponse response;
    Kovan::SntpQueryReport query;
    if (client.getServerTime(&response, &query))
        printf("query: answered by %s, offset %.3f s\n", client.serverAddress(), response.offset);
    else
        printf("query: no answer from %s\n", client.serverAddress());
    client.setListener(&report);
    client.setSyncIntervalSeconds(settings.intervalSeconds);
    client.run();

    {
        Heartbeat heartbeat(settings.beatMilliseconds, beats);
        heartbeat.run();
        int signalNumber = 0;
        sigwait(&signals, &signalNumber);
    } // the heartbeat stops here

    client.stopSync();
    client.quit();
    client.join();
    timeServer.stop();
    printf("stopped\n");
    return 0;
}
