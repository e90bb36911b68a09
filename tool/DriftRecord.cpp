#include "tool/DriftRecord.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Kovan {

namespace {

constexpr const char* MAGIC = "quillo-rtc drift record 1";
constexpr size_t MAX_FILE_SIZE = 4096;
// The chips count years 2000 to 2099 only: a last set outside them is not one of ours.
constexpr int64_t FIRST_SET = 946684800; // 2000-01-01T00:00:00Z
constexpr int64_t LAST_SET = 4102444799; // 2099-12-31T23:59:59Z

const char* const KEYS[] = { "chip", "clock", "set", "rate", "uncertainty", "source" };
constexpr size_t KEY_COUNT = sizeof KEYS / sizeof KEYS[0];

bool knownChip(const std::string& chip) { return "isl1208" == chip || "s35391a" == chip; }

// A decimal number and nothing else: no leading blank (strtod would skip it), no hexadecimal, no
// infinity or NaN, within `limit` in magnitude.
bool parseNumber(const std::string& text, double limit, double* value)
{
    if (text.empty() || text.size() > 32)
        return false;
    for (char c : text)
        if (nullptr == strchr("+-.0123456789", c))
            return false;
    char* end = nullptr;
    errno = 0;
    const double v = strtod(text.c_str(), &end);
    if (0 != errno || end != text.c_str() + text.size() || !std::isfinite(v)
        || std::fabs(v) > limit)
        return false;
    *value = v;
    return true;
}

bool parseSecond(const std::string& text, int64_t* value)
{
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != text.npos)
        return false;
    char* end = nullptr;
    errno = 0;
    const long long v = strtoll(text.c_str(), &end, 10);
    if (0 != errno || end != text.c_str() + text.size() || v < FIRST_SET || v > LAST_SET)
        return false;
    *value = v;
    return true;
}

std::string lineProblem(size_t line, const std::string& what)
{
    return "line " + std::to_string(line) + ": " + what;
}

std::string systemProblem(const char* path, const char* what)
{
    char text[128];
    return std::string(path) + ": " + what + ": " + strerror_r(errno, text, sizeof text);
}

bool writeAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && EINTR == errno)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string directoryOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == path.npos)
        return ".";
    return 0 == slash ? "/" : path.substr(0, slash);
}

// Creates the temporary file beside `path`: exclusively, so neither a planted link nor a file
// left by a crashed run is ever written through.
int createTemporary(const std::string& path, std::string* name)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        *name = path + ".tmp" + std::to_string(getpid()) + "." + std::to_string(attempt);
        const int fd
            = open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0 || EEXIST != errno)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

} // namespace

const char* driftSourceName(DriftRecord::Source source)
{
    switch (source) {
    case DriftRecord::DRIFT:
        return "drift";
    case DriftRecord::SYSTOHC:
        return "systohc";
    case DriftRecord::NONE:
        break;
    }
    return "none";
}

bool validDriftRecord(const DriftRecord& r)
{
    const bool hasRate = DriftRecord::NONE != r.source;
    return knownChip(r.chip) && (!r.hasLastSet || (r.lastSet >= FIRST_SET && r.lastSet <= LAST_SET))
        && (!hasRate || (std::isfinite(r.ratePpm) && std::fabs(r.ratePpm) <= DRIFT_RECORD_MAX_PPM))
        && (!r.hasUncertainty
            || (hasRate && std::isfinite(r.uncertaintyPpm) && r.uncertaintyPpm >= 0
                && r.uncertaintyPpm <= DRIFT_RECORD_MAX_PPM));
}

std::string formatDriftRecord(const DriftRecord& r)
{
    char rate[32] = "none";
    char uncertainty[32] = "none";
    if (DriftRecord::NONE != r.source)
        (void)snprintf(rate, sizeof rate, "%+.3f", r.ratePpm);
    if (r.hasUncertainty)
        (void)snprintf(uncertainty, sizeof uncertainty, "%.3f", r.uncertaintyPpm);
    return std::string(MAGIC) + "\nchip " + r.chip + "\nclock "
        + (DriftRecord::UTC == r.clock ? "utc" : "local") + "\nset "
        + (r.hasLastSet ? std::to_string(r.lastSet) : "none") + "\nrate " + rate + "\nuncertainty "
        + uncertainty + "\nsource " + driftSourceName(r.source) + "\n";
}

bool parseDriftRecord(const std::string& text, DriftRecord* record, std::string* problem)
{
    if (text.size() > MAX_FILE_SIZE) {
        *problem = "longer than " + std::to_string(MAX_FILE_SIZE) + " bytes";
        return false;
    }
    if (text.find('\0') != text.npos) {
        *problem = "holds a NUL byte: not a drift record";
        return false;
    }
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        if (end == text.npos) {
            *problem = lineProblem(lines.size() + 1, "not ended by a newline (cut short?)");
            return false;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (lines.empty() || MAGIC != lines[0]) {
        *problem = "line 1: not a quillo-rtc drift record";
        return false;
    }
    if (lines.size() != 1 + KEY_COUNT) {
        *problem = std::to_string(lines.size()) + " lines where a drift record has "
            + std::to_string(1 + KEY_COUNT);
        return false;
    }
    std::string values[KEY_COUNT];
    for (size_t i = 0; i < KEY_COUNT; ++i) {
        const std::string& line = lines[i + 1];
        const std::string key = std::string(KEYS[i]) + " ";
        if (0 != line.compare(0, key.size(), key) || line.size() == key.size()) {
            *problem = lineProblem(i + 2, std::string("expected \"") + KEYS[i] + " <value>\"");
            return false;
        }
        values[i] = line.substr(key.size());
    }

    DriftRecord r;
    r.chip = values[0];
    if (!knownChip(r.chip)) {
        *problem = lineProblem(2, "unknown chip");
        return false;
    }
    if ("utc" != values[1] && "local" != values[1]) {
        *problem = lineProblem(3, "clock is neither utc nor local");
        return false;
    }
    r.clock = "utc" == values[1] ? DriftRecord::UTC : DriftRecord::LOCAL;
    r.hasLastSet = "none" != values[2];
    if (r.hasLastSet && !parseSecond(values[2], &r.lastSet)) {
        *problem = lineProblem(4, "the time of the last set is not a second of 2000 to 2099");
        return false;
    }
    const bool hasRate = "none" != values[3];
    if (hasRate && !parseNumber(values[3], DRIFT_RECORD_MAX_PPM, &r.ratePpm)) {
        *problem = lineProblem(5, "the rate is not a number of ppm within +/-1000");
        return false;
    }
    r.hasUncertainty = "none" != values[4];
    if (r.hasUncertainty
        && (!hasRate || !parseNumber(values[4], DRIFT_RECORD_MAX_PPM, &r.uncertaintyPpm)
            || r.uncertaintyPpm < 0)) {
        *problem = lineProblem(6, "the uncertainty is not a number of ppm 0 to 1000 beside a rate");
        return false;
    }
    if ("drift" == values[5])
        r.source = DriftRecord::DRIFT;
    else if ("systohc" == values[5])
        r.source = DriftRecord::SYSTOHC;
    else if ("none" != values[5]) {
        *problem = lineProblem(7, "the source is not drift, systohc or none");
        return false;
    }
    if (hasRate != (DriftRecord::NONE != r.source)) {
        *problem = lineProblem(7, "a rate needs its source, and a source its rate");
        return false;
    }
    *record = r;
    return true;
}

DriftLoad loadDriftRecord(const char* path, DriftRecord* record, std::string* problem)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer; fstat refuses it next.
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (ENOENT == errno)
            return DriftLoad::MISSING;
        *problem = ELOOP == errno ? std::string(path) + ": a symbolic link, not a drift record"
                                  : systemProblem(path, "cannot open");
        return DriftLoad::REFUSED;
    }
    std::string failure;
    struct stat st = {};
    std::string text;
    if (0 != fstat(fd, &st))
        failure = systemProblem(path, "cannot examine");
    else if (!S_ISREG(st.st_mode))
        failure = std::string(path) + ": not a regular file";
    else if (st.st_size > static_cast<off_t>(MAX_FILE_SIZE))
        failure = std::string(path) + ": longer than 4096 bytes: not a drift record";
    else {
        // One byte more than allowed tells a file that grew since fstat.
        char buffer[MAX_FILE_SIZE + 1];
        size_t got = 0;
        while (got < sizeof buffer) {
            const ssize_t n = read(fd, buffer + got, sizeof buffer - got);
            if (n < 0 && EINTR == errno)
                continue;
            if (n < 0) {
                failure = systemProblem(path, "cannot read");
                break;
            }
            if (0 == n)
                break;
            got += static_cast<size_t>(n);
        }
        text.assign(buffer, got);
    }
    close(fd);
    if (!failure.empty()) {
        *problem = failure;
        return DriftLoad::REFUSED;
    }
    std::string what;
    if (!parseDriftRecord(text, record, &what)) {
        *problem = std::string(path) + ": " + what;
        return DriftLoad::REFUSED;
    }
    return DriftLoad::LOADED;
}

bool saveDriftRecord(const char* path, const DriftRecord& record, std::string* problem)
{
    if (!validDriftRecord(record)) {
        *problem = std::string(path) + ": the record to save is not valid";
        return false;
    }
    struct stat st = {};
    if (0 == lstat(path, &st) && !S_ISREG(st.st_mode)) {
        *problem = std::string(path) + ": not a regular file; left alone";
        return false;
    }
    const std::string target = path;
    const std::string directory = directoryOf(target);
    std::string temporary;
    int fd = createTemporary(target, &temporary);
    if (fd < 0 && ENOENT == errno && 0 == mkdir(directory.c_str(), 0755))
        fd = createTemporary(target, &temporary);
    if (fd < 0) {
        *problem = systemProblem(temporary.c_str(), "cannot create");
        return false;
    }
    const std::string text = formatDriftRecord(record);
    const char* failed = nullptr;
    if (!writeAll(fd, text))
        failed = "cannot write";
    else if (0 != fsync(fd))
        failed = "cannot flush";
    if (0 != close(fd) && nullptr == failed)
        failed = "cannot close";
    if (nullptr == failed && 0 != rename(temporary.c_str(), path))
        failed = "cannot rename into place";
    if (nullptr != failed) {
        *problem = systemProblem(temporary.c_str(), failed);
        unlink(temporary.c_str());
        return false;
    }
    // The rename is durable only once the directory is on the disk too.
    const int dir = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0 || 0 != fsync(dir)) {
        *problem = systemProblem(directory.c_str(), "saved, but the directory cannot be flushed");
        if (dir >= 0)
            close(dir);
        return false;
    }
    close(dir);
    return true;
}

bool correctChipTime(const DriftRecord& record, double chipTime, double* corrected)
{
    if (!record.hasLastSet || DriftRecord::NONE == record.source)
        return false;
    const double lastSet = static_cast<double>(record.lastSet);
    *corrected = lastSet + (chipTime - lastSet) / (1.0 + record.ratePpm * 1e-6);
    return true;
}

DriftUpdate updateDriftRate(
    DriftRecord* record, double trueTime, double chipTime, double errorSeconds, double* span)
{
    if (!record->hasLastSet)
        return DriftUpdate::NO_LAST_SET;
    const double elapsed = trueTime - static_cast<double>(record->lastSet);
    if (nullptr != span)
        *span = elapsed;
    if (!(elapsed >= DRIFT_MIN_UPDATE_SPAN))
        return DriftUpdate::TOO_SHORT;
    const double measured = (chipTime - trueTime) / elapsed * 1e6;
    if (!(std::fabs(measured) <= DRIFT_RECORD_MAX_PPM))
        return DriftUpdate::OUT_OF_RANGE;
    const double measuredUncertainty = std::fabs(errorSeconds) / elapsed * 1e6;

    double rate = measured;
    double uncertainty = measuredUncertainty;
    if (DriftRecord::NONE != record->source && record->hasUncertainty) {
        const double old = std::max(record->uncertaintyPpm, DRIFT_MIN_UNCERTAINTY_PPM);
        const double apart = std::fabs(measured - record->ratePpm);
        if (apart <= 3 * std::hypot(old, measuredUncertainty)) {
            const double oldWeight = 1 / (old * old);
            const double newWeight
                = measuredUncertainty > 0 ? 1 / (measuredUncertainty * measuredUncertainty) : 1e12;
            rate = (record->ratePpm * oldWeight + measured * newWeight) / (oldWeight + newWeight);
            uncertainty = 1 / std::sqrt(oldWeight + newWeight);
        }
    }
    record->source = DriftRecord::SYSTOHC;
    record->ratePpm = rate;
    record->hasUncertainty = true;
    record->uncertaintyPpm = std::max(uncertainty, DRIFT_MIN_UNCERTAINTY_PPM);
    return DriftUpdate::UPDATED;
}

void afterTrim(DriftRecord* record, double deltaPpm)
{
    if (DriftRecord::NONE != record->source)
        record->ratePpm += deltaPpm;
    record->hasLastSet = false;
}

} // namespace Kovan
