// MD5 and Base64 throughput beside OpenSSL's, over the same data in the same run.
#include "registry/Base64.h"
#include "registry/Md5.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <random>
#include <vector>

namespace {

const size_t SIZE = 48 * 1024; // a multiple of 3, so both encoders see whole groups

const std::vector<uint8_t>& data()
{
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b(SIZE);
        std::mt19937 rng(2);
        for (auto& x : b)
            x = static_cast<uint8_t>(rng());
        return b;
    }();
    return bytes;
}

void kovanMd5(benchmark::State& state)
{
    const auto& d = data();
    uint8_t digest[16];
    for (auto _ : state) {
        Kovan::Md5 md5;
        md5.init(nullptr);
        md5.append(d.data(), static_cast<Kovan::int32>(d.size()));
        md5.finish(digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.size()));
}
BENCHMARK(kovanMd5);

void opensslMd5(benchmark::State& state)
{
    const auto& d = data();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    for (auto _ : state) {
        EVP_Digest(d.data(), d.size(), digest, &length, EVP_md5(), nullptr);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.size()));
}
BENCHMARK(opensslMd5);

void kovanBase64Encode(benchmark::State& state)
{
    const auto& d = data();
    std::vector<uint8_t> out(SIZE / 3 * 4 + 1);
    for (auto _ : state) {
        Kovan::base64Encode(out.data(), d.data(), static_cast<Kovan::int32>(d.size()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.size()));
}
BENCHMARK(kovanBase64Encode);

void opensslBase64Encode(benchmark::State& state)
{
    const auto& d = data();
    std::vector<uint8_t> out(SIZE / 3 * 4 + 1);
    for (auto _ : state) {
        EVP_EncodeBlock(out.data(), d.data(), static_cast<int>(d.size()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.size()));
}
BENCHMARK(opensslBase64Encode);

const std::vector<uint8_t>& encoded()
{
    static const std::vector<uint8_t> text = [] {
        std::vector<uint8_t> t(SIZE / 3 * 4 + 1);
        Kovan::base64Encode(t.data(), data().data(), static_cast<Kovan::int32>(SIZE));
        return t;
    }();
    return text;
}

void kovanBase64Decode(benchmark::State& state)
{
    const auto& t = encoded();
    std::vector<char> out(SIZE + 3);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            Kovan::base64Decode(out.data(), reinterpret_cast<const char*>(t.data())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * SIZE));
}
BENCHMARK(kovanBase64Decode);

void opensslBase64Decode(benchmark::State& state)
{
    const auto& t = encoded();
    std::vector<uint8_t> out(SIZE + 3);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            EVP_DecodeBlock(out.data(), t.data(), static_cast<int>(t.size() - 1)));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * SIZE));
}
BENCHMARK(opensslBase64Decode);

} // namespace
