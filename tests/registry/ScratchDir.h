// A private directory under /tmp for one test's files, removed with all of them afterwards, and
// the registry failure an operation throws.
#pragma once

#include "registry/Registry.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string>

namespace KovanTest {

class ScratchDirTest : public ::testing::Test {
protected:
    ~ScratchDirTest() override { std::filesystem::remove_all(_dir, _ignored); }
    std::string file(const std::string& name) const { return _dir + "/" + name; }

    char _pattern[27] = "/tmp/kovan-registry-XXXXXX";
    std::string _dir = mkdtemp(_pattern) ? _pattern : "/nonexistent";
    std::string _name = file("settings.reg");
    std::error_code _ignored;
};

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs `op` and describes the failure it threw as "code path id", followed by errno when there
// is one; "0" when it threw none.
template <typename Op> std::string failureOf(Op op)
{
    try {
        op();
    } catch (const Kovan::Registry::Exception& e) {
        EXPECT_STREQ("Registry", e.message());
        return std::to_string(e.code()) + " " + e.path() + " " + std::to_string(e.id())
            + (e.error() ? " " + std::to_string(e.error()) : "");
    }
    return "0";
}

} // namespace KovanTest
