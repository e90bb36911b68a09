// MD5, Base64, Adler-32 and the scrambles: against OpenSSL, RFC vectors and the plain rules.
#include "support/Base64Reference.h"

#include "registry/Adler32.h"
#include "registry/Base64.h"
#include "registry/Encrypt.h"
#include "registry/Md5.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>
#ifdef KOVAN_TEST_HAVE_OPENSSL
#include <openssl/evp.h>
#endif

using namespace Kovan;

namespace {

// Random data in random pieces, the state saved, spoiled and given back after each.
TEST(Md5Test, AgreesWithOpenSslHoweverTheInputIsSplitAndResumed)
{
#ifndef KOVAN_TEST_HAVE_OPENSSL
    GTEST_SKIP() << "built without OpenSSL";
#else
    std::mt19937 rng(1321);
    for (size_t length = 0; length <= 301; ++length) {
        std::vector<uint8> data(length > 300 ? 1000000 : length);
        std::generate(data.begin(), data.end(), [&] { return static_cast<uint8>(rng()); });
        Md5 md5;
        md5.init(nullptr);
        for (size_t from = 0, cut = 0; from < data.size(); from = cut) {
            cut = std::min(data.size(), from + rng() % 150);
            md5.append(data.data() + from, static_cast<int32>(cut - from));
            md5.append(data.data(), -5);
            const Md5::State saved = md5.state();
            md5.append("garbage", 7);
            md5.init(&saved);
        }
        std::vector<uint8> digest(16), expected(16);
        md5.finish(digest.data());
        EVP_Digest(data.data(), data.size(), expected.data(), nullptr, EVP_md5(), nullptr);
        EXPECT_EQ(expected, digest) << length;
    }
#endif
}

// Bytes behind the input are set, so that reading one would show.
std::string encode(const std::string& in)
{
    std::vector<uint8> out(4 * ((in.size() + 2) / 3) + 1, 0xCC), bytes(in.begin(), in.end());
    bytes.insert(bytes.end(), 3, 0xFF);
    base64Encode(out.data(), bytes.data(), static_cast<int32>(in.size()));
    EXPECT_EQ('\0', out.back());
    return reinterpret_cast<const char*>(out.data());
}

// "count:bytes" of base64Decode, held to the plain rules byte for byte, also past the count.
std::string decode(const std::string& in)
{
    std::string out(in.size() + 3, '\x7F');
    std::vector<char> exact(in.c_str(), in.c_str() + in.size() + 1);
    const int32 n = base64Decode(&out[0], exact.data());
    std::string model;
    EXPECT_EQ(KovanTest::referenceBase64Decode(&model, in.c_str()), n) << in;
    EXPECT_EQ(model + std::string(out.size() - model.size(), '\x7F'), out) << in;
    return std::to_string(n) + ":" + out.substr(0, n > 0 ? static_cast<size_t>(n) : 0);
}

std::string decoded(const std::string& bytes) { return std::to_string(bytes.size()) + ":" + bytes; }

TEST(Base64Test, Rfc4648VectorsRoundTripsAndEveryWayATextEndsOrBreaks)
{
    const std::pair<std::string, std::string> vectors[]
        = { { "f", "Zg==" }, { "fo", "Zm8=" }, { "foo", "Zm9v" }, { "foob", "Zm9vYg==" },
              { "fooba", "Zm9vYmE=" }, { "foobar", "Zm9vYmFy" }, { "\xFB\xFF", "+/8=" } };
    for (const auto& v : vectors) {
        EXPECT_EQ(v.second, encode(v.first));
        EXPECT_EQ(decoded(v.first), decode(v.second)) << v.second;
    }
    EXPECT_EQ("", encode(""));
    for (const char* bad : { "", "Zm", "Zm9", "Zm 9v", "=m9v", "Z=9v", "Zm\xC3\xA9", "+Zm9v",
             "Zm9vYm!y", "Zm9v\n", "Zm9vZm9vZm9v*" })
        EXPECT_EQ("-1:", decode(bad)) << bad;
    for (const char* good : { "+ Zm9v", "\rZm9v", "Zm9v\rZ", "Zg==Zm9v", "Zm9vZm9vZm9vZg==" })
        decode(good);

    // Random data of every length to 300, and one past the decoder's look-ahead, comes back.
    std::mt19937 rng(4648);
    for (size_t length = 1; length <= 301; ++length) {
        std::string data(length > 300 ? 3100 : length, '\0');
        std::generate(data.begin(), data.end(), [&] { return static_cast<char>(rng()); });
        const std::string text = encode(data);
        ASSERT_EQ(4 * ((data.size() + 2) / 3), text.size());
        EXPECT_EQ(decoded(data), decode(text)) << length;
    }
}

// RFC 1950's sums at every short length and around each reduction, whole and split; 0xFF: largest.
TEST(Adler32Test, AgreesWithTheDefinitionAtEveryLengthAndSplit)
{
    std::mt19937 rng(1950);
    std::vector<uint8> bytes(11200);
    for (int round = 0; round < 2; ++round) {
        std::generate(bytes.begin(), bytes.end(), [&] { return round ? 0xFF : rng(); });
        uint32 a = 1, b = 0;
        for (uint32 n = 0; n < bytes.size(); ++n) {
            if (n <= 300 || (n + 2) % 5504 < 5 || (n + 2) % 5552 < 5) {
                const uint32 split = rng() % (n + 1);
                const uint32 first = Kovan::adler32(1, bytes.data(), split);
                EXPECT_EQ((b << 16) | a, Kovan::adler32(1, bytes.data(), n)) << n;
                EXPECT_EQ((b << 16) | a, Kovan::adler32(first, &bytes[split], n - split)) << n;
            }
            a = (a + bytes[n]) % 65521;
            b = (b + a) % 65521;
        }
    }
}

struct KeyedEncrypt : public Encrypt {
    using Encrypt::encrypt;
};

// Each character but the salt is ((a work byte + i * i) * salt) mod 90 + 33; those of "" are 0..9.
TEST(EncryptTest, OneWayScrambleFollowsItsRuleWithTheSaltInItsPlace)
{
    char a[11], b[11];
    KeyedEncrypt::encrypt(a, "", 'K');
    int hole = -1;
    for (int i = 0; i < 10; ++i) {
        bool fits = false;
        for (int j = 0; j < 10; ++j)
            fits |= a[i] == ((j + i * i) * 'K') % 90 + 33;
        hole = fits ? hole : i;
        EXPECT_TRUE(fits || 'K' == a[i]) << i << " in " << a;
    }
    ASSERT_LE(0, hole) << "the salt stands nowhere";
    KeyedEncrypt::encrypt(b, "0123456789tail");
    KeyedEncrypt::encrypt(a, "0123456789", b[hole]);
    EXPECT_STREQ(a, b);
    // A shorter text is padded with the places' own numbers.
    KeyedEncrypt::encrypt(a, "abc", 'K');
    KeyedEncrypt::encrypt(b, "abc\3\4\5\6\7\10\11", 'K');
    EXPECT_STREQ(a, b);
}

TEST(EncryptTest, InvertibleScrambleRoundTrips)
{
    std::mt19937 rng(10);
    char plain[10], cipher[11] = {}, back[10];
    int ended = 0, leaked = 0;
    for (int round = 0; round < 50; ++round) {
        // Any bytes in any length, a third ended early: what follows the terminator is filler,
        // never the text's own bytes behind it.
        const int32 n = 1 + round % 10, kept = round % 3 ? n : std::min(n, 5);
        std::generate(plain, plain + 10, [&] { return static_cast<char>(1 + rng() % 255); });
        plain[4] = round % 3 ? plain[4] : '\0';
        Encrypt::encryptInvertable(cipher, plain, n);
        Encrypt::decryptInvertable(back, cipher);
        EXPECT_EQ(0, memcmp(plain, back, kept)) << n;
        EXPECT_EQ('\0', cipher[n]) << n;
        ended += kept < n;
        leaked += kept < n && back[5] == plain[5];
    }
    EXPECT_LT(leaked, ended);
    Encrypt::encryptInvertable(cipher, plain, 0);
    EXPECT_STREQ("", cipher) << "no room but for the terminator";
}

} // namespace
