// Scratch files for the registry tests: a private directory per test, whole-file byte access,
// records laid out as the file holds them, and the failure an operation throws.
#pragma once

#include "registry/Registry.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string>
#include <vector>

namespace KovanTest {

typedef std::vector<uint8_t> Bytes;

// A test with a file name of its own in a fresh directory.
class ScratchFileTest : public ::testing::Test {
protected:
    ~ScratchFileTest() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(_dir, ignored);
    }
    std::string file(const std::string& name) const { return _dir + "/" + name; }
    std::string _dir = [] {
        char name[] = "/tmp/kovan-registry-XXXXXX";
        return std::string(mkdtemp(name) ? name : "/nonexistent");
    }();
    std::string _name = file("settings.reg");
};

inline Bytes readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

inline Bytes slice(const Bytes& b, size_t from, size_t n)
{
    return Bytes(b.data() + from, b.data() + from + n);
}

inline void putLe32(Bytes& bytes, size_t at, uint32_t v)
{
    for (size_t i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A 12-byte record as the file holds it, followed by `value`.
inline Bytes record(
    uint16_t id, uint16_t type, uint32_t next, uint32_t childOrSize, const Bytes& value = {})
{
    Bytes r(12);
    putLe32(r, 0, id | static_cast<uint32_t>(type) << 16);
    putLe32(r, 4, next);
    putLe32(r, 8, childOrSize);
    return cat({ r, value });
}

// The 48-byte header of a headed file with the given version and zero application fields.
inline Bytes header(uint32_t version)
{
    Bytes h(48, 0);
    putLe32(h, 0, 0x34299100);
    putLe32(h, 4, version);
    return h;
}

// Runs `op` and describes the failure it threw as "code path id"; "0" when it threw none.
template <typename Op> std::string failureOf(Op op)
{
    try {
        op();
    } catch (const Kovan::Registry::Exception& e) {
        EXPECT_STREQ("Registry", e.message());
        return std::to_string(e.code()) + " " + e.path() + " " + std::to_string(e.id());
    }
    return "0";
}

} // namespace KovanTest
