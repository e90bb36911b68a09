// registry-tool and registry-print as a shell script meets them: every command and exit status
// against files made with the library, a failed command leaving the file as it was, the writer
// lock against a daemon, and output that carries no byte a terminal would act on.
#include "support/StderrCapture.h"
#include "tests/registry/ScratchDir.h"

#include "registry/Registry.h"
#include "registry/TextEscape.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <numeric>
#include <regex>
#include <sstream>
#include <stdlib.h>
#include <string>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace Kovan;

namespace {

typedef std::vector<std::string> Words;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

using KovanTest::readFile;

class RegistryToolTest : public KovanTest::ScratchDirTest {
protected:
    RegistryToolTest()
    {
        Registry reg;
        reg.setAppInfo(7, 3, "2.4.0", "b118");
        reg.create(_name.c_str());
        reg.addKey(1);
        reg.addKey(2);
        reg.setPath(1, 0);
        reg.addInt32(5, 300);
        const double gains[2] = { 1.5, -2 };
        reg.addDoubleArray(6, gains, 2);
        reg.addBinary(7, "eth0", 4);
        reg.addData(8, Registry::STRING, "ab\\c", 4);
        reg.addBool(9, true);
        reg.addUint64(10, UINT64_MAX);
        reg.addFloat(11, 0.1f);
        reg.addInt8(12, -128);
        reg.saveFileChecksum();
    }

    // Runs `program` with `args` ("{F}" stands for the settings file) from the shell, as a script
    // would, standard input empty.
    Outcome run(const char* program, const Words& args)
    {
        const auto quoted = [](const std::string& word) {
            return "'" + std::regex_replace(word, std::regex("'"), "'\\''") + "'";
        };
        std::string line = quoted(program);
        for (const std::string& arg : args)
            line += " " + quoted(subst(arg));
        line += " </dev/null >" + quoted(file("out")) + " 2>" + quoted(file("err"));
        const int status = system(line.c_str()); // NOLINT(cert-env33-c): every word is quoted
        return { WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(file("out")),
            readFile(file("err")) };
    }
    Outcome tool(const Words& args) { return run(REGISTRY_TOOL, args); }

    std::string subst(const std::string& text) const
    {
        return std::regex_replace(text, std::regex("\\{F\\}"), _name);
    }
};

struct Case {
    Words args;
    int status;
    // Standard output exactly; for failures, the one line on standard error.
    std::string expected;
};

// Each command in turn; a command that fails leaves the file's bytes as they were.
TEST_F(RegistryToolTest, CommandsPrintPlainValuesChangeOnlyWhatTheySayAndExitAsDocumented)
{
    const std::string in = "registry-tool: {F}: ";
    std::vector<Case> cases = {
        { { "get", "{F}", "/1/5" }, 0, "300\n" },
        { { "get", "{F}", "/1/6" }, 0, "1.5 -2\n" },
        { { "get", "{F}", "/1/7" }, 0, "eth0\n" },
        { { "get", "{F}", "/1/8" }, 0, "ab\\\\c\n" },
        { { "--raw", "get", "{F}", "/1/8" }, 0, "ab\\c\n" },
        { { "get", "{F}", "/1/9" }, 0, "true\n" },
        { { "get", "{F}", "/1/10" }, 0, "18446744073709551615\n" },
        { { "get", "{F}", "/1/11" }, 0, "0.100000001\n" },
        { { "get", "{F}", "/1/12" }, 0, "-128\n" },
        { { "--json", "get", "{F}", "/1/6" }, 0,
            "{\"path\":\"/1/6\",\"type\":\"DOUBLE\",\"size\":16,\"value\":[1.5,-2]}\n" },
        { { "--json", "list", "{F}", "/2" }, 0,
            "{\"file\":\"{F}\",\"version\":3,\"app-product\":7,\"app-oem\":3,\"app-version\":"
            "\"2.4.0\",\"app-build\":\"b118\",\"path\":\"/2\",\"items\":[]}\n" },
        { { "get", "{F}", "/1/99" }, 1, in + "/1/99: no such id (registry failure 6)\n" },
        { { "get", "{F}", "/3/1" }, 1, in + "/3/1: no such key (registry failure 5)\n" },
        { { "get", "{F}", "/1" }, 1, in + "/1: a key, not a value; use list\n" },
        { { "get", "{F}.missing", "/1/5" }, 1,
            "registry-tool: {F}.missing: cannot open the file: No such file or directory "
            "(registry failure 2)\n" },
        { { "set", "{F}", "/1/5", "301" }, 0, "" },
        { { "get", "{F}", "/1/5" }, 0, "301\n" },
        { { "set", "{F}", "/1/5", "010" }, 0, "" },
        { { "get", "{F}", "/1/5" }, 0, "10\n" },
        { { "set", "{F}", "/1/5", "x" }, 1, in + "/1/5: not a value of type INT32\n" },
        { { "set", "{F}", "/1/5", "1", "2" }, 1,
            in + "/1/5: the stored size differs (registry failure 7)\n" },
        { { "set", "{F}", "/1/12", "128" }, 1, in + "/1/12: not a value of type INT8\n" },
        { { "set", "{F}", "/1/7", "wlan0" }, 1,
            in + "/1/7: the new value is 5 bytes, the stored one 4; a value keeps its size\n" },
        { { "set", "{F}", "/1/7", "wlan" }, 0, "" },
        { { "set", "{F}", "/1", "1" }, 1, in + "/1: a key, not a value\n" },
        { { "set", "{F}", "/1/6", "0x10", "-1e3" }, 0, "" },
        { { "get", "{F}", "/1/6" }, 0, "16 -1000\n" },
        { { "add", "{F}", "/1/13", "uint16", "65535", "0" }, 0, "" },
        { { "--json", "get", "{F}", "/1/13" }, 0,
            "{\"path\":\"/1/13\",\"type\":\"UINT16\",\"size\":4,\"value\":[65535,0]}\n" },
        { { "add", "{F}", "/1/13", "INT32", "1" }, 1,
            in + "/1/13: already exists; set changes it\n" },
        { { "add", "{F}", "/2/3", "KEY" }, 0, "" },
        { { "add", "{F}", "/2/3/4", "STRING", "" }, 0, "" },
        { { "get", "{F}", "/2/3/4" }, 0, "\n" },
    };
    // Usage errors, each before the file is opened.
    for (const char* usage :
        { "", "get {F}", "frob {F}", "get {F} 1/5", "get {F} /1/0", "get {F} /1/65535",
            "get {F} /1//5", "list {F} /1/2/3/4/5/6/7/8/9/10/11/12/13/14/15/16",
            "--wait x set {F} /1/5 1", "--json set {F} /1/5 1", "--bogus get {F} /1/5",
            "add {F} /1/20 FLOAT", "add {F} /1/20 KEY 1", "add {F} /1/20 WORD 1",
            "add {F} /1/20 STRING a b", "--app-build 123456789 create {F}.new" }) {
        std::istringstream words(usage);
        cases.push_back({ Words(std::istream_iterator<std::string>(words), {}), 2, "" });
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const std::string before = readFile(_name), expected = subst(c.expected);
        const Outcome r = tool(c.args);
        EXPECT_EQ(
            std::make_pair(c.status, c.status ? "" : expected), std::make_pair(r.status, r.out));
        if (2 == c.status) {
            EXPECT_EQ(1, std::count(r.err.begin(), r.err.end(), '\n')) << r.err;
        } else {
            EXPECT_EQ(c.status ? expected : "", r.err);
        }
        if (0 != c.status) {
            EXPECT_EQ(before, readFile(_name)) << "a failed command changed the file";
        }
    }
    // The changes went through the library, and a file whose checksum matched still does.
    Registry reg(_name.c_str(), false);
    EXPECT_TRUE(reg.testFileChecksum());
    reg.setPath(1, 0);
    char text[4] = {};
    reg.getBinary(7, text, 4, 0);
    EXPECT_EQ("wlan", std::string(text, 4));
    EXPECT_FALSE(std::filesystem::exists(_name + ".new"));
}

// list prints what registry-print prints; a subtree is the same lines, one indent less.
TEST_F(RegistryToolTest, ListIsTheDumpAndASubtreeIsItsPart)
{
    const Outcome all = tool({ "list", "{F}" }), dump = run(REGISTRY_PRINT, { "{F}" });
    EXPECT_EQ(std::make_pair(0, 0), std::make_pair(all.status, dump.status));
    EXPECT_EQ(dump.err, all.out);
    const size_t from = all.out.find("    [1]: KEY\n"), to = all.out.find("    [2]: KEY\n");
    ASSERT_NE(std::string::npos, to);
    std::string part;
    for (size_t at = from; at < to; at = all.out.find('\n', at) + 1)
        part += all.out.substr(at + 4, all.out.find('\n', at) + 1 - at - 4);
    EXPECT_EQ(part, tool({ "list", "{F}", "/1" }).out);
}

TEST_F(RegistryToolTest, WriterLockKeepsChangesOutWhileReadsGoOn)
{
    Registry daemon(_name.c_str(), true);
    const std::string before = readFile(_name);
    EXPECT_EQ(subst("registry-tool: {F}: in use by another process (pid " + std::to_string(getpid())
                  + "); try again later or with a longer --wait (registry failure 9)\n"),
        tool({ "--wait", "0", "set", "{F}", "/1/5", "1" }).err);
    EXPECT_EQ(1, tool({ "--wait", "0", "add", "{F}", "/1/30", "KEY" }).status);
    EXPECT_EQ(before, readFile(_name));
    EXPECT_EQ("300\n", tool({ "get", "{F}", "/1/5" }).out);
    daemon.close();
    EXPECT_EQ(0, tool({ "--wait", "0", "set", "{F}", "/1/5", "1" }).status);
}

TEST_F(RegistryToolTest, DamagedFilesAndNewFiles)
{
    // Cut inside the last value: its lookup and the listing fail with the damage code.
    const std::string bytes = readFile(_name);
    std::ofstream(_name, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()) - 1);
    EXPECT_EQ(
        subst("registry-tool: {F}: /1/12: damaged file or failed read (registry failure 3)\n"),
        tool({ "get", "{F}", "/1/12" }).err);
    EXPECT_EQ(1, tool({ "list", "{F}" }).status);
    std::ofstream(_name, std::ios::binary | std::ios::trunc) << "not a registry file";
    EXPECT_EQ(subst("registry-tool: {F}: damaged file or failed read (registry failure 3)\n"),
        tool({ "get", "{F}", "/1/5" }).err);

    // create never replaces a file; a new one carries its header fields and a matching checksum.
    EXPECT_EQ(subst("registry-tool: {F}: cannot create the file: File exists\n"),
        tool({ "create", "{F}" }).err);
    const std::string made = _name + ".new";
    EXPECT_EQ(0,
        tool({ "--product", "0x10", "--oem", "4294967295", "--app-version", "0123456789abcdef",
                 "--app-build", "b", "create", made })
            .status);
    Registry reg(made.c_str(), false);
    EXPECT_EQ(std::make_tuple(16u, 4294967295u, std::string("0123456789abcdef"), std::string("b")),
        std::make_tuple(reg.appProduct(), reg.appOem(), std::string(reg.appVersion()),
            std::string(reg.appBuild())));
    EXPECT_TRUE(reg.testFileChecksum());
    EXPECT_EQ(60u, std::filesystem::file_size(made));
}

// A file made to attack the terminal: every output of both programs, but --raw, is free of
// control bytes (a newline ends each line), and the JSON gives back every byte.
TEST_F(RegistryToolTest, NoOutputCarriesAControlByteUnlessRawAsksForIt)
{
    const std::string esc = "\x1b[2J\x1b]0;owned\x07\r\x9b"
                            "31m\x7f\xc3\x28\xe2\x82\xff\x85",
                      version = "\x1b[H\x1b[2J\x9b\xff\x0e\x84\x80",
                      build = "\x07\r\b\x1b"
                              "c\xc0";
    std::string binary(256, '\0');
    std::iota(binary.rbegin(), binary.rend(), '\0');
    {
        Registry reg;
        reg.setAppInfo(1, 2, version.c_str(), build.c_str());
        reg.create(_name.c_str());
        reg.addKey(1);
        reg.setPath(1, 0);
        reg.addData(2, Registry::STRING, esc.data(), static_cast<uint32>(esc.size()));
        reg.addBinary(3, binary.data(), static_cast<uint32>(binary.size()));
        reg.addData(4, 200, esc.data(), static_cast<uint32>(esc.size()));
    }
    const std::string title = "all settings OK\x1b[1A\r";
    const Outcome runs[] = { run(REGISTRY_PRINT, { "{F}", title }), tool({ "list", "{F}" }),
        tool({ "list", "{F}", "/1" }), tool({ "get", "{F}", "/1/2" }),
        tool({ "get", "{F}", "/1/3" }), tool({ "get", "{F}", "/1/4" }),
        tool({ "--json", "list", "{F}" }), tool({ "--json", "get", "{F}", "/1/2" }),
        tool({ "get", "{F}", "/1/9" }), run(REGISTRY_PRINT, { "{F}.\x1b[2J" }),
        run(REGISTRY_PRINT, { "{F}", title + title + title }) };
    const auto control
        = [](unsigned char b) { return ('\n' != b && b < 0x20) || (b - 0x7fu) <= 0x20; };
    for (const Outcome& r : runs)
        for (const std::string* text : { &r.out, &r.err })
            EXPECT_EQ(text->end(), std::find_if(text->begin(), text->end(), control)) << *text;
    EXPECT_NE(std::string::npos, runs[0].err.find("\\x1b[H\\x1b[2J\\x9b"));
    EXPECT_EQ(
        std::make_tuple(0, 1, 1), std::make_tuple(runs[0].status, runs[8].status, runs[9].status));

    // --raw passes the bytes on: the dump is Registry::print's, byte for byte.
    EXPECT_EQ(esc + "\n", tool({ "--raw", "get", "{F}", "/1/2" }).out);
    KovanTest::StderrCapture printed;
    {
        Registry reg(_name.c_str(), false);
        reg.print(title.c_str());
    }
    const std::string original = printed.take();
    EXPECT_EQ(
        original, run(REGISTRY_PRINT, { "--raw", "{F}", title }).err.substr(0, original.size()));

    // Python's JSON reader as the second reader: each byte is one code point.
    const std::string json = _dir + "/list.json", script = _dir + "/check.py";
    std::ofstream(json) << runs[6].out;
    std::ofstream(script) << "import json, sys\n"
                             "d = json.load(open(sys.argv[1]))\n"
                             "v = d['items'][0]['items']\n"
                             "t = [d['app-version'], d['app-build'], v[0]['value'], v[1]['value'],"
                             " str(v[2]['type']), v[2]['value']]\n"
                             "sys.stdout.buffer.write('|'.join(t).encode('latin-1'))\n";
    const Outcome python = run("/usr/bin/python3", { script, json });
    EXPECT_EQ(version + "|" + build + "|" + esc + "|" + binary + "|200|" + esc, python.out)
        << python.err;
}

// An empty line has no final newline to keep: the printer looks at no byte before it.
TEST(FilePrinterTest, AnEmptyLineWritesNothing)
{
    FILE* out = tmpfile();
    ASSERT_NE(nullptr, out);
    const char newline[] = "\n";
    FilePrinter(out, false).line(newline + 1, 0);
    EXPECT_EQ(0, ftell(out));
    EXPECT_EQ(0, fclose(out));
}

} // namespace
