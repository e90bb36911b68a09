// Adler-32 throughput: the registry's own beside zlib's, over the same 64 KiB.
#include "registry/Adler32.h"

#include <benchmark/benchmark.h>
#include <random>
#include <vector>
#include <zlib.h>

namespace {

const std::vector<uint8_t>& data()
{
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b(64 * 1024);
        std::mt19937 rng(1);
        for (auto& x : b)
            x = static_cast<uint8_t>(rng());
        return b;
    }();
    return bytes;
}

void kovanAdler32(benchmark::State& state)
{
    const auto& d = data();
    for (auto _ : state)
        benchmark::DoNotOptimize(Kovan::adler32(1, d.data(), static_cast<Kovan::uint32>(d.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.size()));
}
BENCHMARK(kovanAdler32);

void zlibAdler32(benchmark::State& state)
{
    const auto& d = data();
    for (auto _ : state)
        benchmark::DoNotOptimize(adler32(1, d.data(), static_cast<uInt>(d.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.size()));
}
BENCHMARK(zlibAdler32);

} // namespace
