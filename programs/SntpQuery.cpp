// sntp-query: asks one SNTP server for the time and prints what a technician checks first: the
// server's time, the offset of this machine's clock from it, the round trip, the stratum and the
// leap indicator, on one line like the usual one-shot NTP clients (or as JSON with -j).
//
//   sntp-query [--classic] [-j] [-c COUNT] [-p PORT] [-t MILLISECONDS] SERVER
//   sntp-query --help
//
// Strict by default: only a reply that passes every check of the strict client counts (see
// sntp/SntpClient.h); --classic takes the first datagram from the server, as the library's
// default mode does. With -c the requests go out one after another and the reply with the
// shortest round trip is reported.
//
// Exit status: 0 with a reply, 1 without one (time-out, only bad replies, a kiss-o'-death or no
// way to reach the server), 2 for a bad command line. Every failure is one line of its own: the
// library's trace lines are caught by a trace sink, the last one lending its cause.
#include "programs/UsageError.h"

#include "foundation/Trace.h"
#include "net/SocketException.h"
#include "sntp/SntpClient.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <getopt.h>
#include <string>
#include <unistd.h>

namespace {

const char* const SYNOPSIS = "[--classic] [-j] [-c COUNT] [-p PORT] [-t MILLISECONDS] SERVER";

void help(const char* program)
{
    printf("Usage: %s %s\n"
           "Asks one SNTP server (an IPv4 address or a host name) for the time and prints the\n"
           "server's time, this clock's offset from it, the round trip, stratum and leap.\n"
           "\n"
           "  --classic         take the first datagram from the server, unchecked (the\n"
           "                    library's default mode); strict checks otherwise\n"
           "  -j, --json        one JSON object instead of the line\n"
           "  -c, --count N     N requests one after another (1-100, default 1); the reply\n"
           "                    with the shortest round trip is reported\n"
           "  -p, --port PORT   the server's UDP port (1-65535, default 123)\n"
           "  -t, --timeout MS  wait for each reply (0-600000 ms, default 5000)\n"
           "  -h, --help        this text\n"
           "\n"
           "Exit status: 0 with a reply, 1 without one, 2 for a bad command line.\n",
        program, SYNOPSIS);
}

int usageError(const char* program, const char* what, const char* word)
{
    return KovanPrograms::usageError(program, SYNOPSIS, what, word);
}

// The library's last trace line, kept (not shown) so that a failure can name its cause in the
// program's own line.
std::string _lastTrace;
void keepTrace(const char* text, size_t length, void*)
{
    _lastTrace.assign(text, length);
    while (!_lastTrace.empty() && ('\n' == _lastTrace.back() || ' ' == _lastTrace.back()))
        _lastTrace.pop_back();
    // "SntpClient : connect failed" says "connect failed" in the program's line.
    const size_t colon = _lastTrace.find(" : ");
    if (std::string::npos != colon)
        _lastTrace.erase(0, colon + 3);
}

const char* leapText(int leap)
{
    static const char* const texts[] = { "no-leap", "add-leap", "del-leap", "unsync" };
    return texts[leap & 3];
}

// JSON string contents: quotes, backslashes and control characters escaped.
std::string jsonText(const char* text)
{
    std::string out;
    for (const char* c = text; *c; ++c) {
        const unsigned char u = static_cast<unsigned char>(*c);
        if ('"' == u || '\\' == u) {
            out += '\\';
            out += *c;
        } else if (u < 0x20) {
            char escaped[8];
            (void)snprintf(escaped, sizeof(escaped), "\\u%04x", u);
            out += escaped;
        } else {
            out += *c;
        }
    }
    return out;
}

// A stratum-1 server names its reference in letters ("GPS", "LOCL"); above that, the reference
// id is the IPv4 address of the server's own source.
std::string referenceText(int stratum, Kovan::uint32 id)
{
    char text[16];
    if (stratum <= 1) {
        int n = 0;
        for (int shift = 24; shift >= 0; shift -= 8) {
            const char c = static_cast<char>(id >> shift);
            if (0 == c)
                break;
            text[n++] = (c >= 0x20 && c < 0x7F) ? c : '?';
        }
        text[n] = 0;
    } else {
        (void)snprintf(text, sizeof(text), "%u.%u.%u.%u", id >> 24, (id >> 16) & 0xFF,
            (id >> 8) & 0xFF, id & 0xFF);
    }
    return text;
}

bool parseNumber(const char* text, unsigned long low, unsigned long high, unsigned long* value)
{
    char* end = nullptr;
    *value = strtoul(text, &end, 0);
    return end != text && 0 == *end && *value >= low && *value <= high && '-' != text[0];
}

} // namespace

int main(int argc, char** argv)
{
    const char* program = argv[0];
    unsigned long port = 123;
    unsigned long timeout = 5000;
    unsigned long count = 1;
    bool json = false;
    bool classic = false;
    static const option longOptions[] = { { "classic", no_argument, nullptr, 'C' },
        { "json", no_argument, nullptr, 'j' }, { "count", required_argument, nullptr, 'c' },
        { "port", required_argument, nullptr, 'p' }, { "timeout", required_argument, nullptr, 't' },
        { "help", no_argument, nullptr, 'h' }, { nullptr, 0, nullptr, 0 } };
    int opt;
    opterr = 0; // its messages would be a second line
    // NOLINTNEXTLINE(concurrency-mt-unsafe): one thread, parsing its own arguments
    while ((opt = getopt_long(argc, argv, ":c:jp:t:h", longOptions, nullptr)) != -1) {
        switch (opt) {
        case 'c':
            if (!parseNumber(optarg, 1, 100, &count)) {
                (void)fprintf(stderr, "%s: bad count \"%s\" (1 to 100)\n", program, optarg);
                return 2;
            }
            break;
        case 'j':
            json = true;
            break;
        case 'p':
            if (!parseNumber(optarg, 1, 65535, &port)) {
                (void)fprintf(stderr, "%s: bad port \"%s\"\n", program, optarg);
                return 2;
            }
            break;
        case 't':
            if (!parseNumber(optarg, 0, 600000, &timeout)) {
                (void)fprintf(
                    stderr, "%s: bad time-out \"%s\" (0 to 600000 ms)\n", program, optarg);
                return 2;
            }
            break;
        case 'C':
            classic = true;
            break;
        case 'h':
            help(program);
            return 0;
        default: {
            char shortName[3] = { '-', static_cast<char>(optopt), 0 };
            const char* word = 0 != optopt ? shortName : argv[optind - 1];
            return usageError(program, ':' == opt ? "missing value for" : "unknown option", word);
        }
        }
    }
    if (optind == argc)
        return usageError(program, "no server given", nullptr);
    if (optind + 1 != argc)
        return usageError(program, "one server only, not also", argv[optind + 1]);
    const char* server = argv[optind];
    if ('\0' == *server)
        return usageError(program, "empty server name", nullptr);
    if (nullptr != strchr(server, ':'))
        return usageError(program, "IPv4 only, not the IPv6 address", server);
    Kovan::setTraceSink(keepTrace);

    Kovan::SntpClient client;
    client.setServerAddress(server);
    client.setPort(static_cast<Kovan::uint32>(port));
    client.setTimeout(static_cast<Kovan::uint32>(timeout));
    client.setStrict(!classic);

    // The sample with the shortest round trip is the one least disturbed by queueing.
    Kovan::SntpServerResponse best;
    Kovan::SntpQueryReport bestReport, last;
    bool answered = false;
    for (unsigned long sample = 0; sample < count; ++sample) {
        Kovan::SntpServerResponse response;
        try {
            client.getServerTime(&response, &last);
        } catch (const Kovan::SocketException& e) {
            (void)fprintf(stderr, "%s: %s: socket error %d: %s\n", program, server,
                static_cast<int>(e.errorCode()), e.message());
            return 1;
        }
        if (Kovan::SntpQueryReport::ANSWERED == last.outcome
            && (!answered || response.delay < best.delay)) {
            best = response;
            bestReport = last;
            answered = true;
        }
        // A server that says go away is not asked again.
        if (Kovan::SntpQueryReport::KISS_OF_DEATH == last.outcome)
            break;
    }
    if (!answered) {
        if (Kovan::SntpQueryReport::KISS_OF_DEATH == last.outcome)
            (void)fprintf(stderr, "%s: %s: kiss-o'-death %s: the server refuses to serve us\n",
                program, server, last.kissCode);
        else if (Kovan::SntpQueryReport::TIMED_OUT == last.outcome && last.rejected > 0)
            (void)fprintf(stderr,
                "%s: %s: only bad replies (%u rejected, the last: %s) within %lu ms\n", program,
                server, static_cast<unsigned>(last.rejected),
                Kovan::sntpVerdictText(last.lastRejection), timeout);
        else if (Kovan::SntpQueryReport::TIMED_OUT == last.outcome)
            (void)fprintf(stderr, "%s: %s: no reply within %lu ms\n", program, server, timeout);
        else if (!_lastTrace.empty())
            (void)fprintf(stderr, "%s: %s: %s\n", program, server, _lastTrace.c_str());
        else // a failed name lookup is the one failure the library does not trace
            (void)fprintf(stderr, "%s: %s: no such host\n", program, server);
        return 1;
    }

    // The server's time now, as this machine's clock corrected by the offset.
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    const double corrected
        = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9 + best.offset;
    time_t seconds = static_cast<time_t>(std::floor(corrected));
    long micros = std::lround((corrected - static_cast<double>(seconds)) * 1e6);
    if (micros >= 1000000) {
        ++seconds;
        micros -= 1000000;
    }
    // A loopback round trip can come out a few microseconds below zero when the two sides'
    // stamps disagree by that much (and classic stamps move in whole milliseconds): shown as 0.
    const double delay = best.delay > 0 ? best.delay : 0.0;

    if (json) {
        tm utc;
        gmtime_r(&seconds, &utc);
        char date[32];
        (void)strftime(date, sizeof(date), "%Y-%m-%dT%H:%M:%S", &utc);
        printf("{\"server\":\"%s\",\"mode\":\"%s\",\"time\":\"%s.%06ldZ\",\"offset\":%.9f,"
               "\"delay\":%.9f,\"stratum\":%d,\"leap\":%d,\"reference_id\":\"%s\","
               "\"version\":%d,\"precision\":%d,\"root_delay\":%.6f,\"root_dispersion\":%.6f,"
               "\"samples\":%lu}\n",
            jsonText(server).c_str(), classic ? "classic" : "strict", date, micros, best.offset,
            delay, static_cast<int>(best.stratum), static_cast<int>(best.leapIndicator),
            jsonText(referenceText(best.stratum, bestReport.referenceId).c_str()).c_str(),
            static_cast<int>(bestReport.version), static_cast<int>(bestReport.precision),
            bestReport.rootDelay, bestReport.rootDispersion, count);
        return 0;
    }

    tm local;
    localtime_r(&seconds, &local);
    char date[64];
    (void)strftime(date, sizeof(date), "%Y-%m-%d %H:%M:%S", &local);
    char zone[16];
    (void)strftime(zone, sizeof(zone), "%z", &local);
    printf("%s.%06ld (%s) %+.6f +/- %.6f %s s%d %s\n", date, micros, zone, best.offset, delay,
        server, static_cast<int>(best.stratum), leapText(best.leapIndicator));
    return 0;
}
