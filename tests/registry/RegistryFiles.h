// Scratch files, file images built from records, and the failure an operation throws.
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

class ScratchFileTest : public ::testing::Test {
protected:
    ~ScratchFileTest() override { std::filesystem::remove_all(_dir, _ignored); }
    std::string file(const std::string& name) const { return _dir + "/" + name; }
    char _pattern[27] = "/tmp/kovan-registry-XXXXXX";
    std::string _dir = mkdtemp(_pattern) ? _pattern : "/nonexistent";
    std::string _name = file("settings.reg");
    std::error_code _ignored;
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

inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline Bytes le32(uint32_t v)
{
    return { uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24) };
}

// A 12-byte record as the file holds it, followed by `value`.
inline Bytes record(
    uint16_t id, uint16_t type, uint32_t next, uint32_t child, const Bytes& value = {})
{
    return cat({ le32(id | static_cast<uint32_t>(type) << 16), le32(next), le32(child), value });
}

// The header of a headed file with zero application fields, and the bytes that follow it.
inline Bytes header(uint32_t version, const Bytes& rest = {})
{
    return cat({ le32(0x34299100), le32(version), Bytes(40, 0), rest });
}

// A scan's ids at the top level and the others (the root's first), and its last value.
struct Walked : public Kovan::Registry::Scanner {
    void keyLoaded(uint16_t id) override { (1 == depth() ? top : others).push_back(id); }
    void itemLoaded(uint16_t id, uint16_t, uint32_t stored) override
    {
        keyLoaded(id);
        size = stored;
        seen = buffer() ? Bytes(buffer(), buffer() + bufferSize()) : Bytes();
    }
    std::vector<uint32_t> top, others;
    uint32_t size = 0;
    Bytes seen;
};

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
