// quillo-rtc's drift command: samples of the chip's edges against an SNTP server's time, one line
// each, a summary at the end or at Ctrl-C, and the plot.
#include "foundation/Trace.h"
#include "net/SocketAddress.h"
#include "net/SocketException.h"
#include "sntp/SntpClient.h"
#include "tool/ChipBus.h"
#include "tool/Isl1208Trim.h"
#include "tool/RtcClock.h"
#include "tool/RtcCommands.h"
#include "tool/RtcDrift.h"
#include "tool/RtcFailure.h"
#include "tool/RtcText.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kovan {

namespace {

// The server's offset from this machine's clock and the round trip, in seconds, from the
// client in its strict mode (drift() sets it).
bool queryServer(SntpClient& client, double* offset, double* delay)
{
    // The client traces its failures; this program says what to do instead, in one line.
    setTraceSink([](const char*, size_t, void*) {});
    // Of a few exchanges the quickest: half its round trip bounds its offset's error.
    bool ok = false;
    SntpQueryReport report;
    // After Ctrl-C one exchange still completes the sample under way.
    for (int attempt = 0; attempt < (interrupted() ? 1 : 3) && !(ok && *delay <= 0.002);
         ++attempt) {
        try {
            SntpServerResponse response;
            if (client.getServerTime(&response, &report) && (!ok || response.delay < *delay)) {
                *offset = response.offset;
                *delay = response.delay;
                ok = true;
            }
        } catch (const SocketException&) {
        }
        if (SntpQueryReport::KISS_OF_DEATH == report.outcome)
            break;
    }
    setTraceSink(nullptr);
    if (SntpQueryReport::KISS_OF_DEATH == report.outcome)
        fail("the time server refuses to answer (kiss-o'-death %s); ask another server, or less "
             "often (--interval)",
            report.kissCode);
    return ok;
}

// The plot's file, opened before the run so that a path that cannot be written fails before any
// time is spent measuring. A regular file only: a FIFO would hold the end of a long run until
// someone reads it, a device would take the drawing as data. An existing file keeps its contents
// until the drawing replaces them; one this run created goes again when the run fails.
class PlotFile {
public:
    explicit PlotFile(const std::string& path)
        : _path(path)
    {
        if (path.empty())
            return;
        _fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        _created = -1 != _fd;
        struct stat info = {};
        if (-1 == _fd && EEXIST == errno) {
            if (0 == lstat(path.c_str(), &info) && !S_ISREG(info.st_mode))
                notRegular();
            _fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
        }
        if (-1 == _fd)
            fail("cannot write the plot %s: %s", path.c_str(), errorText(errno).c_str());
        if (0 != fstat(_fd, &info) || !S_ISREG(info.st_mode))
            notRegular();
    }
    ~PlotFile()
    {
        if (-1 == _fd)
            return;
        close(_fd);
        if (_created)
            unlink(_path.c_str());
    }
    PlotFile(const PlotFile&) = delete;
    PlotFile& operator=(const PlotFile&) = delete;

    void draw(const std::vector<DriftSample>& samples, const DriftFit& fit)
    {
        if (-1 == _fd)
            return;
        FILE* f = 0 == ftruncate(_fd, 0) ? fdopen(_fd, "w") : nullptr;
        if (!f)
            fail("cannot write the plot %s: %s", _path.c_str(), errorText(errno).c_str());
        _fd = -1;
        _created = false;
        const bool drawn = plotDrift(f, samples, fit);
        const int error = errno;
        if (0 != fclose(f) || !drawn)
            fail("cannot write the plot %s: %s", _path.c_str(), errorText(error).c_str());
    }

private:
    [[noreturn]] void notRegular()
    {
        fail("the plot %s is not a regular file; name a new or a regular file, e.g. drift.svg",
            _path.c_str());
    }

    std::string _path;
    int _fd = -1;
    bool _created = false;
};

} // namespace

int drift(const Options& options)
{
    if (options.server.empty())
        usageError("drift needs --server HOST");
    PlotFile plot(options.plot);
    // Names are looked up here, with the system's resolver; the client gets the address.
    const SocketAddress server(options.server.c_str(), 123);
    if (server.isUnresolved())
        fail("cannot find the time server \"%s\"; check the name or give its address",
            options.server.c_str());
    // Strict: only the server's own replies, checked, with full-resolution time stamps.
    SntpClient client;
    client.setStrict(true);
    client.setServerAddress(server.hostAddress());

    ChipBus bus(options.bus, options.force);
    bus.choose(options.chip);
    const ChipModel& chip = bus.chip();
    // The trimming in force, from which the summary proposes a better one.
    const bool trimmed = chip.digitalTrimRegister >= 0;
    const int trimPpm = trimmed ? isl1208DtrPpm(bus.readByte(chip.digitalTrimRegister)) : 0;
    DriftRecord record = freshRecord(options, chip);
    if (options.save)
        (void)chipRecord(options, chip, &record);

    std::vector<DriftSample> samples;
    double firstServerTime = 0, rate = 1.0;
    Edge last;
    bool haveLast = false;
    const double start = monotonicNow();
    for (long k = 0; !interrupted(); ++k) {
        if (options.count && k >= options.count)
            break;
        // The samples planned over the duration (a busy machine can make one take longer).
        if (options.duration > 0
            && static_cast<double>(k) * options.interval > options.duration + 1e-9)
            break;
        sleepUntil(monotonicNow, start + static_cast<double>(k) * options.interval);
        if (interrupted())
            break;
        // The next edge from the last one at the chip's measured rate; the window widens with
        // the time the rate has to be trusted over.
        double predicted = 0, window = 0.03;
        if (haveLast) {
            const double now = realNow() + 0.005;
            const double edges = std::ceil((now - last.system) * rate + 0.05);
            predicted = last.system + edges / rate;
            window = std::min(0.03 + 0.002 * edges, 0.3);
        }
        const Edge edge
            = findEdge(bus, predicted, window, samples.size() >= 2 ? 1.0 / rate : 0, options.utc);
        // Ctrl-C during the search keeps the best edge it had found.
        if (0 == edge.system)
            break;
        double offset = 0, delay = 0;
        if (!queryServer(client, &offset, &delay)) {
            if (samples.empty())
                fail("no answer from the time server %s; check that it serves NTP on UDP port 123 "
                     "and that the network lets it through",
                    options.server.c_str());
            warn("sample %ld: no answer from %s; skipped", k + 1, options.server.c_str());
            continue;
        }
        const double serverTime = edge.system + offset;
        const double chipTime = static_cast<double>(calendarInstant(edge.fields, options.utc));
        if (samples.empty())
            firstServerTime = serverTime;
        // The edge lies within its half-width; the server's time within half the round trip.
        const DriftSample sample = { serverTime - firstServerTime, (chipTime - serverTime) * 1e3,
            std::hypot(edge.halfWidth, delay / 2) * 1e3 };
        samples.push_back(sample);
        last = edge;
        haveLast = true;
        const DriftFit fit = fitDrift(samples);
        if (fit.hasRate)
            rate = std::min(std::max(1.0 + fit.ratePpm * 1e-6, 0.5), 2.0);
        if (options.json)
            printf("{\"time\":\"%s\",\"elapsed_s\":%.3f,\"offset_ms\":%.3f,\"delay_ms\":%.3f,"
                   "\"edge_ms\":%.3f}\n",
                isoUtcMs(serverTime).c_str(), sample.elapsed, sample.offsetMs, delay * 1e3,
                edge.halfWidth * 1e3);
        else
            printf("%s  offset %+10.3f ms  (delay %.3f ms, edge +/- %.3f ms)\n",
                isoUtcMs(serverTime).c_str(), sample.offsetMs, delay * 1e3, edge.halfWidth * 1e3);
        (void)fflush(stdout);
    }

    if (samples.empty())
        fail("no sample taken; nothing to report");
    const DriftFit fit = fitDrift(samples);
    if (options.json) {
        printf("{\"summary\":{\"offset_ms\":%.3f,", fit.offsetMs);
        if (fit.hasRate)
            printf("\"rate_ppm\":%.3f,", fit.ratePpm);
        else
            printf("\"rate_ppm\":null,");
        if (fit.hasUncertainty)
            printf("\"rate_uncertainty_ppm\":%.3f,", fit.rateUncertaintyPpm);
        else
            printf("\"rate_uncertainty_ppm\":null,");
        if (trimmed && fit.hasRate) {
            const DtrProposal p = proposeIsl1208Dtr(fit.ratePpm, trimPpm);
            printf("\"dtr_ppm\":%d,\"proposed_dtr_ppm\":%d,\"residual_ppm\":%.3f,", trimPpm, p.ppm,
                p.residualPpm);
        }
        printf("\"samples\":%d,\"duration_s\":%.3f}}\n", fit.samples, fit.duration);
    } else {
        printf("summary: offset %+.3f ms, rate ", fit.offsetMs);
        if (!fit.hasRate)
            printf("unknown");
        else if (fit.hasUncertainty)
            printf("%+.1f +/- %.1f ppm", fit.ratePpm, fit.rateUncertaintyPpm);
        else
            printf("%+.1f ppm", fit.ratePpm);
        printf(", %d samples over %.1f s\n", fit.samples, fit.duration);
        if (trimmed && fit.hasRate) {
            const DtrProposal p = proposeIsl1208Dtr(fit.ratePpm, trimPpm);
            if (p.ppm == trimPpm)
                printf("trim: the digital trim of %+d ppm is the best there is (about %+.1f ppm "
                       "left)\n",
                    trimPpm, p.residualPpm);
            else
                printf("trim: 'quillo-rtc trim set --dtr %+d' leaves about %+.1f ppm (now %+d "
                       "ppm)\n",
                    p.ppm, p.residualPpm, trimPpm);
        }
    }
    if (options.save) {
        if (!fit.hasRate)
            fail("one sample gives no rate; the drift record was not changed");
        record.source = DriftRecord::DRIFT;
        record.ratePpm = fit.ratePpm;
        record.hasUncertainty = fit.hasUncertainty;
        record.uncertaintyPpm = fit.rateUncertaintyPpm;
        saveRecord(options, record);
    }
    plot.draw(samples, fit);
    return 0;
}

} // namespace Kovan
