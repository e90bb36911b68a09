// MD5, Base64, Adler-32 and the scrambles.
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

// The test suite of RFC 1321, appendix A.5.
const std::vector<std::pair<std::string, std::string>> RFC1321 = {
    { "", "d41d8cd98f00b204e9800998ecf8427e" },
    { "a", "0cc175b9c0f1b6a831c399e269772661" },
    { "abc", "900150983cd24fb0d6963f7d28e17f72" },
    { "message digest", "f96b697d7cb7938d525a2f31aaf161d0" },
    { "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b" },
    { "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
        "d174ab98d277d9f5a5611c2c9f419d9f" },
    { "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
        "57edf4a22be3c955ac49da2e2107b67a" },
};

// Digests `text` in pieces ending at `cuts`; each piece resumes from the state saved after the
// one before, and a negative count adds nothing.
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
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8 byte : digest)
        out += { digits[byte >> 4], digits[byte & 15] };
    return out;
}

TEST(Md5Test, RfcSuiteHoweverTheInputIsSplitAndResumedFromSavedStates)
{
    std::mt19937 rng(1321);
    for (const auto& c : RFC1321) {
        // Round 0 appends at once; the others in random pieces, some empty or one byte.
        for (int round = 0; round < 20; ++round) {
            std::vector<size_t> cuts;
            for (size_t at = rng() % 20; round > 0 && at < c.first.size(); at += rng() % 20)
                cuts.push_back(at);
            EXPECT_EQ(c.second, md5Hex(c.first, cuts)) << c.first;
        }
    }
    // Many whole blocks in one append, also behind part of a block.
    const std::string million(1000000, 'a');
    for (const std::vector<size_t>& cuts : { std::vector<size_t>(), { 1, 1000, 333397 } })
        EXPECT_EQ("7707d6ae4e027c70eea2a935c2296f21", md5Hex(million, cuts));
}

std::string encode(const std::string& in)
{
    std::vector<uint8> out(4 * ((in.size() + 2) / 3) + 1, 0xCC);
    base64Encode(
        out.data(), reinterpret_cast<const uint8*>(in.data()), static_cast<int32>(in.size()));
    EXPECT_EQ('\0', out.back());
    return reinterpret_cast<const char*>(out.data());
}

// The count base64Decode returns, a colon, then the bytes it wrote. The plain model must agree,
// also on the bytes written before a bad group, and nothing may be written past them. The text
// sits in an allocation of its exact size, so that AddressSanitizer sees a read past its end.
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

// Encoding is held to RFC 4648's vectors and, for random data of every length to 300, to the
// plain decoder getting the data back.
TEST(Base64Test, Rfc4648VectorsAndRandomDataOfEveryLengthRoundTrip)
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

    std::mt19937 rng(4648);
    for (size_t length = 1; length <= 300; ++length) {
        std::string data(length, '\0');
        for (char& c : data)
            c = static_cast<char>(rng());
        const std::string text = encode(data);
        ASSERT_EQ(4 * ((length + 2) / 3), text.size());
        EXPECT_EQ(decoded(data), decode(text)) << length;
        EXPECT_EQ(decoded(data), decode(text + "\r\n")) << length;
    }
}

TEST(Base64Test, DecoderFollowsThePlainRulesWhereverTheTextEndsOrBreaks)
{
    EXPECT_EQ("3:foo", decode("+ Zm9v"));
    EXPECT_EQ("0:", decode("\rZm9v"));
    EXPECT_EQ("1:f", decode("Zg==Zm9v")) << "padding ends decoding";
    for (const char* bad :
        { "", "Zm9", "Zm 9v", "=m9v", "Z=9v", "Zm\xC3\xA9", "+Zm9v", "Zm9vYm!y" })
        EXPECT_EQ('-', decode(bad)[0]) << bad;
    EXPECT_EQ(-1, decode64(0x80 | 'A'));
    EXPECT_EQ(63, decode64('/'));

    // Each character that ends or breaks a group, in each place of texts of 0 to 130 bytes and
    // around the 4096th character of a longer one (as far as the decoder looks ahead for the
    // end), with and without the "+ " prefix; decode() holds the result to the plain rules.
    std::mt19937 rng(1050);
    for (size_t length = 0; length <= 131; ++length) {
        std::string data(length > 130 ? 3100 : length, '\0');
        for (char& c : data)
            c = static_cast<char>(rng());
        const std::string text = encode(data) + "Zm9v";
        for (size_t at = length > 130 ? 4084 : 0; at < std::min<size_t>(text.size() - 2, 4108);
             ++at)
            for (const std::string prefix : { "", "+ " })
                for (char special : { '\0', '\r', '=', '\n', '*', '\x80' }) {
                    std::string bent = prefix + text;
                    bent[prefix.size() + at] = special;
                    decode(bent);
                }
    }
}

TEST(Adler32Test, AgreesWithTheDefinitionAndZlibAtEveryLengthAndSplit)
{
    // Every length to 300 (whole blocks of 128 bytes and every tail) and around the lengths after
    // which the sums are reduced; all 0xFF gives the largest sums.
    std::mt19937 rng(1950);
    std::vector<uint8> bytes(11200);
    for (int round = 0; round < 2; ++round) {
        for (uint8& x : bytes)
            x = round ? 0xFF : static_cast<uint8>(rng());
        uint32 a = 1, b = 0;
        for (size_t length = 0; length < bytes.size(); ++length) {
            if (length <= 300 || (length + 2) % 5504 < 5 || (length + 2) % 5552 < 5) {
                const uint32 expected = (b << 16) | a, n = static_cast<uint32>(length),
                             split = static_cast<uint32>(rng() % (length + 1));
                EXPECT_EQ(expected, Kovan::adler32(1, bytes.data(), n)) << length;
                EXPECT_EQ(expected,
                    Kovan::adler32(
                        Kovan::adler32(1, bytes.data(), split), bytes.data() + split, n - split))
                    << length << " split at " << split;
#ifdef KOVAN_TEST_HAVE_ZLIB
                EXPECT_EQ(expected, ::adler32(1, bytes.data(), n)) << length;
#endif
            }
            a = (a + bytes[length]) % 65521;
            b = (b + a) % 65521;
        }
    }
}

class KeyedEncrypt : public Encrypt {
public:
    using Encrypt::encrypt;
};

TEST(EncryptTest, OneWayScrambleGivesTenPrintableCharactersOfTheFirstTen)
{
    // The clock's salt stands somewhere in the text, so some keyed form of the first ten
    // characters matches (two unkeyed calls may fall on different ticks: never compare them).
    char a[11], b[11];
    KeyedEncrypt::encrypt(a, "0123456789tail");
    bool matched = false;
    for (int i = 0; i < 10 && !matched; ++i) {
        KeyedEncrypt::encrypt(b, "0123456789", a[i]);
        matched = strcmp(a, b) == 0;
    }
    EXPECT_TRUE(matched) << a;
    ASSERT_EQ(10u, strlen(a));
    EXPECT_EQ(a + 10, std::find_if(a, a + 10, [](char ch) { return ch < '!' || ch > 'z'; }));
    // Keyed: the salt stands in the text, and another password gives another text.
    KeyedEncrypt::encrypt(a, "password", 'K');
    EXPECT_NE(nullptr, strchr(a, 'K'));
    KeyedEncrypt::encrypt(b, "passworc", 'K');
    EXPECT_STRNE(a, b);
}

TEST(EncryptTest, InvertibleScrambleRoundTrips)
{
    std::mt19937 rng(10);
    for (int round = 0; round < 50; ++round) {
        // Any bytes but the terminator, which ends what is read from the text.
        char plain[10], cipher[11], back[10];
        for (char& ch : plain)
            ch = static_cast<char>(1 + rng() % 255);
        Encrypt::encryptInvertable(cipher, plain, 10);
        EXPECT_EQ('\0', cipher[10]);
        Encrypt::decryptInvertable(back, cipher);
        EXPECT_EQ(0, memcmp(plain, back, 10));
    }
    // A short text comes back terminated.
    char cipher[11], back[10];
    Encrypt::encryptInvertable(cipher, "pin42", 10);
    EXPECT_NE(0, memcmp(cipher, "pin42", 5));
    Encrypt::decryptInvertable(back, cipher);
    EXPECT_STREQ("pin42", back);
}

} // namespace
