// Adler-32: the registry's own beside zlib's, over the same bytes in the same run.
#include "benchmarks/SideBySide.h"

#include "registry/Adler32.h"

#include <zlib.h>

namespace {

void adler32(benchmark::State& state)
{
    const uint8_t* d = KovanBench::randomBytes().data();
    const size_t n = static_cast<size_t>(state.range(0));
    KovanBench::sideBySide(
        state, n,
        [&] { benchmark::DoNotOptimize(Kovan::adler32(1, d, static_cast<Kovan::uint32>(n))); },
        [&] { benchmark::DoNotOptimize(::adler32(1, d, static_cast<uInt>(n))); });
}
BENCHMARK(adler32)->Arg(64)->Arg(1024)->Arg(64 << 10)->Arg(1 << 20)->Apply(KovanBench::repeated);

} // namespace
