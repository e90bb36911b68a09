// A private directory under /tmp for one test's files, removed with all of them afterwards.
#pragma once

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

} // namespace KovanTest
