// One codec beside its reference over the same bytes: the two run in alternating batches of the
// same thread, each batch timed by that thread's CPU clock, so that both meet the same load of a
// shared machine, and the result is three counters: the project's speed, the reference's and
// their ratio (above 1 when the project is faster). Speeds are in MB/s (10^6 bytes) of the
// unencoded data. Each case repeats five times and reports the median beside the mean.
#pragma once

#include <benchmark/benchmark.h>
#include <cstddef>
#include <cstdint>
#include <random>
#include <time.h>
#include <vector>

namespace KovanBench {

inline double cpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The same random bytes for every case: a case of N bytes takes the first N.
inline const std::vector<uint8_t>& randomBytes()
{
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b(1 << 20);
        std::mt19937 rng(1);
        for (auto& x : b)
            x = static_cast<uint8_t>(rng());
        return b;
    }();
    return bytes;
}

// `ours` and `theirs` each process `bytes` bytes per call.
template <typename Ours, typename Theirs>
void sideBySide(benchmark::State& state, size_t bytes, Ours ours, Theirs theirs)
{
    // About 64 KiB a batch, so that the clock's own cost disappears even for the small cases.
    const size_t calls = bytes < 65536 ? 65536 / bytes : 1;
    double oursTime = 0, theirsTime = 0;
    auto batch = [calls](auto& run, double& total) {
        const double start = cpuSeconds();
        for (size_t i = 0; i < calls; ++i)
            run();
        total += cpuSeconds() - start;
    };
    bool oursFirst = true;
    for (auto _ : state) {
        if (oursFirst) {
            batch(ours, oursTime);
            batch(theirs, theirsTime);
        } else {
            batch(theirs, theirsTime);
            batch(ours, oursTime);
        }
        oursFirst = !oursFirst;
    }
    const double total
        = static_cast<double>(bytes * calls) * static_cast<double>(state.iterations());
    state.counters["kovan_MB/s"] = total / oursTime / 1e6;
    state.counters["ref_MB/s"] = total / theirsTime / 1e6;
    state.counters["ratio"] = theirsTime / oursTime;
}

// For BENCHMARK(...)->Apply: five repetitions, reported as their mean, median and spread.
inline void repeated(benchmark::internal::Benchmark* b)
{
    b->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);
}

} // namespace KovanBench
