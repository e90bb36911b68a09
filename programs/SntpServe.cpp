// sntp-serve: answers SNTP requests with this machine's clock until it is interrupted (Ctrl-C or
// SIGTERM). By default it is the modern server (SntpModernServer): only real client requests
// are answered, with 48 bytes, per-client rate limits that leak one in four, a port no other
// process can share, one worker per processor, and no line per request; SIGUSR1 prints its
// counters, and so does stopping. It warns once at start when the kernel calls the clock
// unsynchronised (unless -L). --classic runs the library's
// minimal SntpServer on port 123 instead, with its trace lines on standard error.
//
//   sntp-serve [-a ADDRESS] [-p PORT] [-s STRATUM] [-r REFID] [-w WORKERS] [-l RATE] [-b BURST]
//              [-k] [-L]
//   sntp-serve --classic
//   sntp-serve --help
//
// Exit status: 0 after an interruption, 1 when the port cannot be served (another process holds
// it, or this one may not bind it), 2 for a bad command line.
#include "programs/UsageError.h"

#include "sntp/SntpModernServer.h"
#include "sntp/SntpServer.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <pthread.h>

namespace {

const char* const SYNOPSIS
    = "[-a ADDRESS] [-p PORT] [-s STRATUM] [-r REFID] [-w WORKERS] [-l RATE] "
      "[-b BURST] [-e LEAK] [-k] [-L] | --classic";

void help(const char* program)
{
    printf("Usage: %s [-a ADDRESS] [-p PORT] [-s STRATUM] [-r REFID] [-w WORKERS]\n"
           "          [-l RATE] [-b BURST] [-e LEAK] [-k] [-L]\n"
           "       %s --classic\n"
           "Answers SNTP requests with this machine's clock until interrupted (SIGINT, SIGTERM);\n"
           "SIGUSR1 prints the counters.\n"
           "\n"
           "  -a, --address ADDRESS  IPv4 address to serve on (default 0.0.0.0)\n"
           "  -p, --port PORT        UDP port (0-65535, default 123; 0: any free port)\n"
           "  -s, --stratum N        stratum claimed in replies (1-15, default 10)\n"
           "  -r, --refid ID         reference id, up to 4 characters (default LOCL)\n"
           "  -w, --workers N        worker threads on the one socket (1-256, default 1)\n"
           "  -l, --rate-limit N     requests per second per client address (0: no limit,\n"
           "                         default 16)\n"
           "  -b, --burst N          requests a client may send at once (1-1000000, default 32)\n"
           "  -e, --leak N           over the limit, answer one request in N anyway (0: none,\n"
           "                         default 4), so a forged flood cannot silence a client\n"
           "  -k, --kiss             over the limit, send a RATE kiss-o'-death (one a second)\n"
           "  -L, --local            serve this clock as its own reference, even while the\n"
           "                         kernel says it is unsynchronised (isolated networks)\n"
           "      --classic          the library's minimal server on port 123 instead\n"
           "  -h, --help             this text\n"
           "\n"
           "Exit status: 0 after an interruption, 1 when the port cannot be served, 2 for a bad\n"
           "command line.\n",
        program, program);
}

int usageError(const char* program, const char* what, const char* word)
{
    return KovanPrograms::usageError(program, SYNOPSIS, what, word);
}

// Blocked before any server thread starts, so that only sigwait below sees them.
sigset_t blockSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

bool number(const char* text, unsigned long low, unsigned long high, unsigned long* value)
{
    char* end = nullptr;
    errno = 0;
    *value = strtoul(text, &end, 10);
    return *text != '\0' && *text != '-' && *end == '\0' && errno == 0 && *value >= low
        && *value <= high;
}

void printCounters(const Kovan::SntpModernServer::Counters& c)
{
    const auto n = [](Kovan::uint64 v) { return static_cast<unsigned long long>(v); };
    printf("received %llu answered %llu too-short %llu not-request %llu bad-version %llu "
           "rate-limited %llu kisses %llu send-failed %llu leaked %llu bytes-in %llu "
           "bytes-out %llu\n",
        n(c.received), n(c.answered), n(c.tooShort), n(c.notRequest), n(c.badVersion),
        n(c.rateLimited), n(c.kisses), n(c.sendFailed), n(c.leaked), n(c.bytesIn), n(c.bytesOut));
    (void)fflush(stdout);
}

int serveClassic(const char* program, sigset_t signals)
{
    Kovan::SntpServer server;
    server.setEnable(true);
    if (!server.isEnable()) {
        (void)fprintf(stderr, "%s: cannot serve UDP port %d\n", program, Kovan::SntpServer::PORT);
        return 1;
    }
    if (!server.run()) {
        (void)fprintf(stderr, "%s: cannot start the server thread\n", program);
        return 1;
    }
    printf("serving SNTP on UDP port %d; interrupt to stop\n", Kovan::SntpServer::PORT);
    (void)fflush(stdout);
    int signalNumber = 0;
    while (0 == sigwait(&signals, &signalNumber) && SIGUSR1 == signalNumber) { }
    server.quit();
    server.join();
    server.setEnable(false);
    return 0;
}

int serveModern(
    const char* program, const Kovan::SntpModernServer::Options& options, sigset_t signals)
{
    Kovan::SntpModernServer server(options);
    if (!server.start()) {
        (void)fprintf(stderr, "%s: %s\n", program, server.error().c_str());
        return 1;
    }
    // Said once, before the first reply: an unsynchronised clock is served with leap 3, which
    // strict clients refuse, and nothing else would tell the operator why they do.
    if (!options.localReference && !Kovan::SntpModernServer::clockIsSynchronised())
        (void)fprintf(stderr,
            "%s: warning: the kernel says this clock is unsynchronised: replies carry leap 3 "
            "and strict clients refuse them (synchronise it, or -L to serve it as its own "
            "reference)\n",
            program);
    printf("serving SNTP on %s UDP port %d with %d workers; interrupt to stop\n",
        options.address.c_str(), server.port(), server.workers());
    (void)fflush(stdout);
    int signalNumber = 0;
    while (0 == sigwait(&signals, &signalNumber) && SIGUSR1 == signalNumber)
        printCounters(server.counters());
    server.stop();
    printCounters(server.counters());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    static const option longOptions[] = {
        { "address", required_argument, nullptr, 'a' },
        { "port", required_argument, nullptr, 'p' },
        { "stratum", required_argument, nullptr, 's' },
        { "refid", required_argument, nullptr, 'r' },
        { "workers", required_argument, nullptr, 'w' },
        { "rate-limit", required_argument, nullptr, 'l' },
        { "burst", required_argument, nullptr, 'b' },
        { "leak", required_argument, nullptr, 'e' },
        { "kiss", no_argument, nullptr, 'k' },
        { "local", no_argument, nullptr, 'L' },
        { "classic", no_argument, nullptr, 'C' },
        { "help", no_argument, nullptr, 'h' },
        { nullptr, 0, nullptr, 0 },
    };
    Kovan::SntpModernServer::Options options;
    bool classic = false;
    int modernOptions = 0;
    int option;
    opterr = 0; // its messages would be a second line
    // NOLINTNEXTLINE(concurrency-mt-unsafe): one thread, parsing its own arguments
    while ((option = getopt_long(argc, argv, ":a:p:s:r:w:l:b:e:kLh", longOptions, nullptr)) != -1) {
        unsigned long value = 0;
        bool good = true;
        modernOptions += option != 'C';
        switch (option) {
        case 'a':
            options.address = optarg;
            break;
        case 'p':
            good = number(optarg, 0, 65535, &value);
            options.port = static_cast<Kovan::uint16>(value);
            break;
        case 's':
            good = number(optarg, 1, 15, &value);
            options.stratum = static_cast<Kovan::uint8>(value);
            break;
        case 'r':
            good = strlen(optarg) <= 4;
            options.referenceId = optarg;
            break;
        case 'w':
            good = number(optarg, 1, 256, &value);
            options.workers = static_cast<int>(value);
            break;
        case 'l':
            good = number(optarg, 0, 1000000, &value);
            options.rateLimit = static_cast<Kovan::uint32>(value);
            break;
        case 'b':
            good = number(optarg, 1, 1000000, &value);
            options.rateBurst = static_cast<Kovan::uint32>(value);
            break;
        case 'e':
            good = number(optarg, 0, 1000000, &value);
            options.leak = static_cast<Kovan::uint32>(value);
            break;
        case 'k':
            options.kissOfDeath = true;
            break;
        case 'L':
            options.localReference = true;
            break;
        case 'C':
            classic = true;
            break;
        case 'h':
            help(argv[0]);
            return 0;
        default: {
            char shortName[3] = { '-', static_cast<char>(optopt), 0 };
            const char* word = 0 != optopt ? shortName : argv[optind - 1];
            return usageError(
                argv[0], ':' == option ? "missing value for" : "unknown option", word);
        }
        }
        if (!good) {
            (void)fprintf(stderr, "%s: bad value \"%s\" for -%c\n", argv[0], optarg, option);
            return 2;
        }
    }
    if (optind != argc)
        return usageError(argv[0], "unexpected word", argv[optind]);
    if (classic && modernOptions != 0)
        return usageError(argv[0], "--classic takes no other option", nullptr);

    const sigset_t signals = blockSignals();
    return classic ? serveClassic(argv[0], signals) : serveModern(argv[0], options, signals);
}
