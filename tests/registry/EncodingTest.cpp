// MD5, Base64, Adler-32 and the scrambles: against RFC vectors, zlib and the plain Base64 rules.
#include "support/Base64Reference.h"

#include "registry/Adler32.h"
#include "registry/Base64.h"
#include "registry/Encrypt.h"
#include "registry/Md5.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <string>
#include <vector>
#ifdef KOVAN_TEST_HAVE_ZLIB
#include <zlib.h>
#endif

using namespace Kovan;

namespace {

// Digests `text` in pieces ending at `cuts`; after each piece the state is saved, spoiled and
// given back, and a negative count adds nothing.
std::string md5Hex(const std::string& text, const std::vector<size_t>& cuts)
{
    Md5 md5;
    md5.init(nullptr);
    size_t from = 0;
    for (size_t cut : cuts) {
        md5.append(text.data() + from, static_cast<int32>(cut - from));
        md5.append(text.data(), -5);
        from = cut;
        const Md5::State saved = md5.state();
        md5.append("garbage", 7);
        md5.init(&saved);
    }
    md5.append(text.data() + from, static_cast<int32>(text.size() - from));
    uint8 digest[16];
    md5.finish(digest);
    char hex[33];
    for (int i = 0; i < 16; ++i)
        snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

TEST(Md5Test, RfcSuiteHoweverTheInputIsSplitAndResumedFromSavedStates)
{
    // RFC 1321, appendix A.5, and a million times "a".
    const std::pair<std::string, std::string> suite[] = {
        { "", "d41d8cd98f00b204e9800998ecf8427e" },
        { "abc", "900150983cd24fb0d6963f7d28e17f72" },
        { "message digest", "f96b697d7cb7938d525a2f31aaf161d0" },
        { "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
            "d174ab98d277d9f5a5611c2c9f419d9f" },
        { "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
            "57edf4a22be3c955ac49da2e2107b67a" },
        { std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21" },
    };
    std::mt19937 rng(1321);
    for (const auto& c : suite) {
        // Round 0 appends at once; the others in random pieces, some empty, some over a block.
        for (int round = 0; round < (c.first.size() > 80 ? 2 : 20); ++round) {
            std::vector<size_t> cuts;
            for (size_t at = rng() % 100; round > 0 && at < c.first.size(); at += rng() % 100)
                cuts.push_back(at);
            EXPECT_EQ(c.second, md5Hex(c.first, cuts)) << c.first.substr(0, 80);
        }
    }
}

std::string encode(const std::string& in)
{
    std::vector<uint8> out(4 * ((in.size() + 2) / 3) + 1, 0xCC);
    base64Encode(
        out.data(), reinterpret_cast<const uint8*>(in.data()), static_cast<int32>(in.size()));
    EXPECT_EQ('\0', out.back());
    return reinterpret_cast<const char*>(out.data());
}

// "count:bytes" of base64Decode, held to the plain rules (also the bytes before a bad group, and
// none past them); the text is allocated to its size, so AddressSanitizer sees a read past it.
std::string decode(const std::string& in)
{
    std::string out(in.size() + 3, '\x7F');
    const std::unique_ptr<char[]> exact(new char[in.size() + 1]);
    memcpy(exact.get(), in.c_str(), in.size() + 1);
    const int32 n = base64Decode(&out[0], exact.get());
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
    uint8 out[4] = { 1, 1, 1, 1 };
    base64Encode(out, nullptr, -3);
    EXPECT_EQ(0, out[0]);
    for (const char* bad :
        { "", "Zm9", "Zm 9v", "=m9v", "Z=9v", "Zm\xC3\xA9", "+Zm9v", "Zm9vYm!y" })
        EXPECT_EQ("-1:", decode(bad)) << bad;

    // Random data of every length to 300, and of one past the decoder's look-ahead, comes back.
    // In the shorter texts each character that ends or breaks a group goes in every place.
    std::mt19937 rng(4648);
    for (size_t length = 1; length <= 301; ++length) {
        std::string data(length > 300 ? 3100 : length, '\0');
        std::generate(data.begin(), data.end(), [&] { return static_cast<char>(rng()); });
        const std::string text = encode(data);
        ASSERT_EQ(4 * ((data.size() + 2) / 3), text.size());
        EXPECT_EQ(decoded(data), decode(text)) << length;
        for (size_t at = 0; length < 48 && at < text.size() + 6; ++at)
            for (char special : { '\0', '\r', '=', '\n', '*', '\x80', ' ' }) {
                std::string bent = "+ " + text + "Zm9v";
                bent[at] = special;
                decode(bent);
            }
    }
}

// Every length to 300 (whole blocks of 128 bytes and every tail) and around the lengths after
// which the sums are reduced, whole and split in two; all 0xFF gives the largest sums.
TEST(Adler32Test, AgreesWithTheDefinitionAndZlibAtEveryLengthAndSplit)
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
#ifdef KOVAN_TEST_HAVE_ZLIB
                EXPECT_EQ((b << 16) | a, ::adler32(1, bytes.data(), n)) << n;
#endif
            }
            a = (a + bytes[n]) % 65521;
            b = (b + a) % 65521;
        }
    }
}

struct KeyedEncrypt : public Encrypt {
    using Encrypt::encrypt;
};

// Each output character but the salt's is ((a work byte + i * i) * salt) mod 90 + 33, the work
// bytes of an empty text being 0 to 9; unkeyed, the clock's salt stands where the salt goes.
TEST(EncryptTest, OneWayScrambleFollowsItsRuleWithTheSaltInItsPlace)
{
    char a[11], b[11];
    KeyedEncrypt::encrypt(a, "", 'K');
    ASSERT_EQ(10u, strlen(a));
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
}

TEST(EncryptTest, InvertibleScrambleRoundTrips)
{
    std::mt19937 rng(10);
    char plain[10], cipher[11] = {}, back[10];
    for (int round = 0; round < 50; ++round) {
        // Any bytes but the terminator, which ends what is read from the text, in any length.
        const int32 n = 1 + round % 10;
        std::generate(plain, plain + 10, [&] { return static_cast<char>(1 + rng() % 255); });
        Encrypt::encryptInvertable(cipher, plain, n);
        Encrypt::decryptInvertable(back, cipher);
        EXPECT_EQ(0, memcmp(plain, back, n)) << n;
        EXPECT_EQ('\0', cipher[n]) << n;
    }
    Encrypt::encryptInvertable(cipher, "pin42", 10);
    EXPECT_NE(0, memcmp(cipher, "pin42", 5));
    Encrypt::decryptInvertable(back, cipher);
    EXPECT_STREQ("pin42", back) << "a short text comes back terminated";
}

} // namespace
