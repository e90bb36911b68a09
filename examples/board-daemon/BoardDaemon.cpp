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
#include "registry/Registry.h"
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

// The settings: one key, 1, with four values under it.
enum : Kovan::uint32 {
    KEY_TIME = 1,
    ID_SERVER = 1, // BINARY of SERVER_SIZE bytes: the server's name or address, 0-padded
    ID_INTERVAL = 2, // INT32: minutes between background syncs
    ID_SERVE_PORT = 3, // INT32: the UDP port of the in-process server, 0 for any
    ID_BEAT = 4, // INT32: milliseconds between heartbeats
};

// A lookup matches a value by id and byte size, so the text is kept in a field of fixed size.
const Kovan::uint32 SERVER_SIZE = 64;

struct Settings {
    std::string server = "self";
    Kovan::int32 intervalMinutes = 60;
    Kovan::int32 servePort = 0;
    Kovan::int32 beatMilliseconds = 200;
};

// Reads the settings, first writing the defaults to a new file. The registry holds a lock of the
// whole process from open to close, so it is closed again before the threads start.
Settings loadSettings(const char* filename)
{
    Settings s;
    Kovan::Registry registry;
    struct stat st;
    if (0 != stat(filename, &st)) {
        registry.create(filename);
        registry.setPath(0);
        registry.addKey(KEY_TIME);
        registry.setPath(KEY_TIME, 0);
        char server[SERVER_SIZE] = { 0 };
        s.server.copy(server, SERVER_SIZE - 1);
        registry.addBinary(ID_SERVER, server, SERVER_SIZE);
        registry.addInt32(ID_INTERVAL, s.intervalMinutes);
        registry.addInt32(ID_SERVE_PORT, s.servePort);
        registry.addInt32(ID_BEAT, s.beatMilliseconds);
        registry.close();
    }
    registry.open(filename, false);
    registry.setPath(KEY_TIME, 0);
    char server[SERVER_SIZE + 1] = { 0 };
    registry.getBinary(ID_SERVER, server, SERVER_SIZE, 0);
    s.server = server;
    // A typed get answers with a code instead of throwing; a missing value keeps the default.
    registry.getInt32(ID_INTERVAL, &s.intervalMinutes);
    registry.getInt32(ID_SERVE_PORT, &s.servePort);
    registry.getInt32(ID_BEAT, &s.beatMilliseconds);
    registry.close();
    return s;
}

// Told about each background sync, on the client's thread.
class SyncReport : public Kovan::SntpClient::Listener {
public:
    void sntpSyncSucceeded(Kovan::SntpClient*, Kovan::int32 code) override
    {
        static const char* const how[] = { "stepped back", "stepped", "slewed back", "slewed" };
        printf("sync: clock %s\n", 0 <= code && code <= 3 ? how[code] : "set");
        (void)fflush(stdout);
    }
    void sntpSyncFailed(Kovan::SntpClient*, Kovan::int32 code) override
    {
        static const char* const why[]
            = { "no usable reply", "the new time is invalid", "setting the clock failed" };
        printf("sync: failed, %s\n", 0 <= code && code <= 2 ? why[code] : "unknown reason");
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

    Settings settings;
    try {
        settings = loadSettings(filename);
    } catch (const Kovan::Registry::Exception& e) {
        // The registry's own exception knows the path and the id beside the code.
        (void)fprintf(stderr, "%s: settings %s: registry failure %d at %s, id %u\n", self, filename,
            e.code(), e.path(), e.id());
        return 1;
    } catch (const std::exception& e) {
        (void)fprintf(stderr, "%s: settings %s: %s\n", self, filename, e.what());
        return 1;
    }
    if (server)
        settings.server = server;
    if (port >= 0)
        settings.servePort = static_cast<Kovan::int32>(port);

    // Blocked before any thread starts, so only the sigwait below takes them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    Kovan::SntpModernServer::Options options;
    options.port = static_cast<Kovan::uint16>(settings.servePort);
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
    client.setSyncInterval(static_cast<Kovan::uint32>(settings.intervalMinutes));
    client.run();

    {
        Heartbeat heartbeat(static_cast<Kovan::uint32>(settings.beatMilliseconds), beats);
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
