// MD5, Base64 and the scrambles.
#include "registry/Base64.h"
#include "registry/Encrypt.h"
#include "registry/Md5.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

using namespace Kovan;

namespace {

std::string hex(const uint8* bytes, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

// The test suite of RFC 1321, appendix A.5, plus inputs around the block and padding edges.
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

std::string md5Pieces(const std::string& text, const std::vector<size_t>& cuts)
{
    Md5 md5;
    md5.init(nullptr);
    size_t at = 0;
    for (size_t cut : cuts) {
        md5.append(text.data() + at, static_cast<int32>(cut - at));
        at = cut;
    }
    md5.append(text.data() + at, static_cast<int32>(text.size() - at));
    uint8 digest[16];
    md5.finish(digest);
    return hex(digest, 16);
}

TEST(Md5Test, RfcSuiteHoweverTheInputIsSplit)
{
    std::mt19937 rng(1321);
    for (const auto& c : RFC1321) {
        EXPECT_EQ(c.second, md5Pieces(c.first, {})) << c.first;
        for (int round = 0; round < 20; ++round) {
            std::vector<size_t> cuts;
            for (size_t at = 0; !c.first.empty();) {
                at += rng() % 20;
                if (at >= c.first.size())
                    break;
                cuts.push_back(at);
            }
            EXPECT_EQ(c.second, md5Pieces(c.first, cuts)) << c.first;
        }
    }
    // A million 'a's, in pieces that straddle block boundaries.
    Md5 md5;
    md5.init(nullptr);
    const std::string chunk(1000, 'a');
    for (int i = 0; i < 1000; ++i)
        md5.append(chunk.data(), 1000);
    md5.append(chunk.data(), 0);
    md5.append(chunk.data(), -5);
    uint8 digest[16];
    md5.finish(digest);
    EXPECT_EQ("7707d6ae4e027c70eea2a935c2296f21", hex(digest, 16));
}

TEST(Md5Test, SavedStateResumesOnAnotherObject)
{
    const std::string text = RFC1321.back().first;
    for (size_t split : { 0u, 1u, 55u, 63u, 64u, 65u, 79u }) {
        Md5 first;
        first.init(nullptr);
        first.append(text.data(), static_cast<int32>(split));
        const Md5::State saved = first.state();
        first.append("garbage", 7);

        Md5 second;
        second.init(&saved);
        second.append(text.data() + split, static_cast<int32>(text.size() - split));
        uint8 digest[16];
        second.finish(digest);
        EXPECT_EQ(RFC1321.back().second, hex(digest, 16)) << split;
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

// Decodes into a guarded buffer; the bytes are returned beside the count.
std::pair<int32, std::string> decode(const std::string& in)
{
    std::string out(in.size() + 3, '\x7F');
    const int32 n = base64Decode(&out[0], in.c_str());
    return { n, out.substr(0, n > 0 ? static_cast<size_t>(n) : 0) };
}

TEST(Base64Test, Rfc4648Vectors)
{
    const std::vector<std::pair<std::string, std::string>> vectors = {
        { "", "" },
        { "f", "Zg==" },
        { "fo", "Zm8=" },
        { "foo", "Zm9v" },
        { "foob", "Zm9vYg==" },
        { "fooba", "Zm9vYmE=" },
        { "foobar", "Zm9vYmFy" },
        { "\xFB\xFF", "+/8=" },
    };
    for (const auto& v : vectors) {
        EXPECT_EQ(v.second, encode(v.first));
        if (!v.first.empty()) {
            EXPECT_EQ(
                std::make_pair(static_cast<int32>(v.first.size()), v.first), decode(v.second));
        }
    }
    uint8 out[4] = { 1, 1, 1, 1 };
    base64Encode(out, nullptr, -3);
    EXPECT_EQ(0, out[0]);
}

TEST(Base64Test, RandomDataOfEveryLengthRoundTrips)
{
    std::mt19937 rng(4648);
    for (size_t length = 0; length <= 300; ++length) {
        std::string data(length, '\0');
        for (char& c : data)
            c = static_cast<char>(rng());
        const std::string text = encode(data);
        ASSERT_EQ(4 * ((length + 2) / 3), text.size());
        if (0 == length)
            continue;
        EXPECT_EQ(std::make_pair(static_cast<int32>(length), data), decode(text)) << length;
        EXPECT_EQ(std::make_pair(static_cast<int32>(length), data), decode(text + "\r\n"));
    }
}

TEST(Base64Test, DecoderRulesAndRejections)
{
    EXPECT_EQ(std::make_pair(3, std::string("foo")), decode("+ Zm9v"));
    EXPECT_EQ(std::make_pair(1, std::string("f")), decode("+ Zg=="));
    EXPECT_EQ(0, decode("\rZm9v").first);
    EXPECT_EQ(0, decode("+ \r").first);
    EXPECT_EQ(std::make_pair(3, std::string("foo")), decode("Zm9v\rZm9v"));
    // Decoding ends after a group with padding, whatever follows.
    EXPECT_EQ(std::make_pair(1, std::string("f")), decode("Zg==Zm9v"));

    EXPECT_EQ(-1, decode("").first);
    EXPECT_EQ(-1, decode("Zm9").first);
    EXPECT_EQ(-1, decode("Zm 9v").first);
    EXPECT_EQ(-1, decode("Zm9\n").first);
    EXPECT_EQ(-1, decode("=m9v").first);
    EXPECT_EQ(-1, decode("Z=9v").first);
    EXPECT_EQ(-1, decode("Zm\xC3\xA9").first);
    EXPECT_EQ(-1, decode("+Zm9v").first);
    // A bad second group keeps what the first wrote.
    std::string out(8, '\0');
    EXPECT_EQ(-1, base64Decode(&out[0], "Zm9vYm!y"));
    EXPECT_EQ("foo", out.substr(0, 3));

    EXPECT_EQ(-1, decode64(0x80 | 'A'));
    EXPECT_EQ(-1, decode64('='));
    EXPECT_EQ(0, decode64('A'));
    EXPECT_EQ(63, decode64('/'));
}

class KeyedEncrypt : public Encrypt {
public:
    using Encrypt::encrypt;
};

TEST(EncryptTest, OneWayScrambleGivesTenPrintableCharactersOfTheFirstTen)
{
    char a[11], b[11];
    KeyedEncrypt::encrypt(a, "0123456789tail");
    // The clock's salt stands somewhere in the text; the keyed form with that salt, given only
    // the first ten characters, gives the same text (a second unkeyed call may fall on another
    // tick, so the two unkeyed results are not compared).
    bool matched = false;
    for (int i = 0; i < 10 && !matched; ++i) {
        KeyedEncrypt::encrypt(b, "0123456789", a[i]);
        matched = strcmp(a, b) == 0;
    }
    EXPECT_TRUE(matched) << a;
    ASSERT_EQ(10u, strlen(a));
    EXPECT_EQ(a + 10, std::find_if(a, a + 10, [](char ch) { return ch < '!' || ch > 'z'; }));
    // Keyed: the salt stands in the text, and another salt or password gives another text.
    KeyedEncrypt::encrypt(a, "password", 'K');
    EXPECT_NE(nullptr, strchr(a, 'K'));
    KeyedEncrypt::encrypt(b, "password", 'L');
    EXPECT_STRNE(a, b);
    KeyedEncrypt::encrypt(b, "passworc", 'K');
    EXPECT_STRNE(a, b);
}

TEST(EncryptTest, InvertibleScrambleRoundTrips)
{
    std::mt19937 rng(10);
    for (int round = 0; round < 50; ++round) {
        // Any bytes but the terminator, which ends what is read from the text.
        char plain[10];
        for (char& ch : plain)
            ch = static_cast<char>(1 + rng() % 255);
        char cipher[11];
        Encrypt::encryptInvertable(cipher, plain, 10);
        EXPECT_EQ('\0', cipher[10]);
        char back[10];
        Encrypt::decryptInvertable(back, cipher);
        EXPECT_EQ(0, memcmp(plain, back, 10));
    }
    // A short text comes back terminated; the filler after it does not matter.
    char cipher[11];
    Encrypt::encryptInvertable(cipher, "pin42", 10);
    EXPECT_NE(0, memcmp(cipher, "pin42", 5));
    char back[10];
    Encrypt::decryptInvertable(back, cipher);
    EXPECT_STREQ("pin42", back);
}

} // namespace
