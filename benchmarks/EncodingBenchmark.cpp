// MD5 and Base64 beside OpenSSL, over the same bytes in the same run. The references are what a
// program would call: a reused EVP digest context (the digest fetched once), EVP_EncodeBlock and
// EVP_DecodeBlock.
#include "benchmarks/SideBySide.h"

#include "registry/Base64.h"
#include "registry/Md5.h"

#include <openssl/evp.h>
#include <vector>

namespace {

void md5(benchmark::State& state)
{
    const uint8_t* d = KovanBench::randomBytes().data();
    const size_t n = static_cast<size_t>(state.range(0));
    EVP_MD* md = EVP_MD_fetch(nullptr, "MD5", nullptr);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    uint8_t digest[EVP_MAX_MD_SIZE];
    KovanBench::sideBySide(
        state, n,
        [&] {
            Kovan::Md5 m;
            m.init(nullptr);
            m.append(d, static_cast<Kovan::int32>(n));
            m.finish(digest);
            benchmark::DoNotOptimize(digest);
        },
        [&] {
            unsigned int length = 0;
            EVP_DigestInit_ex2(ctx, md, nullptr);
            EVP_DigestUpdate(ctx, d, n);
            EVP_DigestFinal_ex(ctx, digest, &length);
            benchmark::DoNotOptimize(digest);
        });
    EVP_MD_CTX_free(ctx);
    EVP_MD_free(md);
}
BENCHMARK(md5)->Arg(64)->Arg(1024)->Arg(1 << 20)->Apply(KovanBench::repeated);

void base64Encode(benchmark::State& state)
{
    const uint8_t* d = KovanBench::randomBytes().data();
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> out(4 * ((n + 2) / 3) + 1);
    KovanBench::sideBySide(
        state, n,
        [&] {
            Kovan::base64Encode(out.data(), d, static_cast<Kovan::int32>(n));
            benchmark::DoNotOptimize(out.data());
        },
        [&] {
            EVP_EncodeBlock(out.data(), d, static_cast<int>(n));
            benchmark::DoNotOptimize(out.data());
        });
}
BENCHMARK(base64Encode)->Arg(48)->Arg(1024)->Arg(1 << 20)->Apply(KovanBench::repeated);

// The text of `n` random bytes; speeds count the decoded bytes.
void base64Decode(benchmark::State& state)
{
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> text(4 * ((n + 2) / 3) + 1);
    Kovan::base64Encode(
        text.data(), KovanBench::randomBytes().data(), static_cast<Kovan::int32>(n));
    const char* in = reinterpret_cast<const char*>(text.data());
    std::vector<uint8_t> out(n + 3);
    KovanBench::sideBySide(
        state, n,
        [&] {
            benchmark::DoNotOptimize(Kovan::base64Decode(reinterpret_cast<char*>(out.data()), in));
        },
        [&] {
            benchmark::DoNotOptimize(
                EVP_DecodeBlock(out.data(), text.data(), static_cast<int>(text.size() - 1)));
        });
}
BENCHMARK(base64Decode)->Arg(48)->Arg(1024)->Arg(1 << 20)->Apply(KovanBench::repeated);

} // namespace
