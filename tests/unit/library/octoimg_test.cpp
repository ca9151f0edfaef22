// The octoimg tool as engineers run it: output, conversions, exit codes and messages.
#include "objfile/crc32.h"
#include "objfile/load.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int exitCode;
    std::string output; // stdout and stderr together
};

// shellSetup runs in the shell before the tool (limits for it).
ToolRun octoimg(const std::string& arguments, const std::string& shellSetup = "") {
    const std::string command = shellSetup + std::string(OCTOIMG_PATH) + " " + arguments + " 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    ToolRun run{-1, {}};
    if (pipe == nullptr) {
        return run;
    }
    std::array<char, 4096> buffer;
    size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        run.output.append(buffer.data(), got);
    }
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

class OctoImg : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return dir_.file(name); }
    octo::testing::TempFolder dir_{"octoimg_test"};
};

TEST_F(OctoImg, InfoPrintsRangesByteCountAndCrc) {
    writeFile(path("a.txt"), "@FFFE\n01 02 03 04\n@20000\n05\nq\n");
    const ToolRun run = octoimg("info " + path("a.txt"));
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("0x0FFFE-0x10001  4 bytes"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("0x20000-0x20000  1 bytes"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("bytes:   5\n"), std::string::npos) << run.output;
    const uint8_t data[] = {1, 2, 3, 4, 5};
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08X", octo::objfile::crc32(data));
    EXPECT_NE(run.output.find(std::string("crc32:   ") + crc), std::string::npos) << run.output;
}

TEST_F(OctoImg, ConvertsBetweenAllThreeFormatsWithoutLoss) {
    writeFile(path("in.txt"), "@F000\n31 40 00 03\n@F010\nAA\n@FFFE\n00 F0\n@10000\nEE\nq\n");
    ASSERT_EQ(octoimg("convert " + path("in.txt") + " " + path("a.hex")).exitCode, 0);
    ASSERT_EQ(octoimg("convert " + path("a.hex") + " " + path("b.TXT")).exitCode, 0);
    EXPECT_EQ(readFile(path("b.TXT")),
              "@F000\r\n31 40 00 03\r\n@F010\r\nAA\r\n@FFFE\r\n00 F0 EE\r\nq\r\n");
    ASSERT_EQ(octoimg("convert " + path("b.TXT") + " " + path("c.bin")).exitCode, 0);
    const std::string binary = readFile(path("c.bin"));
    ASSERT_EQ(binary.size(), 0x1001u);
    EXPECT_EQ(binary.substr(0, 5), std::string("\x31\x40\x00\x03\xFF", 5));
    EXPECT_EQ(static_cast<uint8_t>(binary[0x10]), 0xAA);
    EXPECT_EQ(static_cast<uint8_t>(binary[0x1000]), 0xEE);
    // A binary is read at address 0.
    ASSERT_EQ(octoimg("convert " + path("c.bin") + " " + path("d.int")).exitCode, 0);
    octo::objfile::Image image;
    ASSERT_TRUE(
        octo::objfile::readImage(readFile(path("d.int")), octo::objfile::Format::IntelHex, image)
            .ok());
    EXPECT_EQ(image.lowestAddress(), 0u);
    EXPECT_EQ(image.byteCount(), 0x1001u);
}

TEST_F(OctoImg, FailsWithTheFileLineAndCode) {
    writeFile(path("bad.hex"), ":0100000011EE\n:0100010022DD\n");
    writeFile(path("sparse.txt"), "@0\n01\n@FFFFFF00\n02\nq\n");
    writeFile(path("ok.txt"), "@F000\n01\nq\n");
    writeFile(path("huge.hex"), "");
    fs::resize_file(path("huge.hex"), 100ull << 30); // sparse: refused before it is read
    const std::string folder = dir_.path().string();
    struct Case {
        std::string arguments;
        int exitCode;
        std::string messagePart;
    };
    const Case cases[] = {
        {"info " + path("bad.hex"), 1, "bad.hex:2: error 11 (invalid record): checksum"},
        {"info " + path("missing.hex"), 1, "error 15 (unable to open the file)"},
        {"convert " + path("bad.hex") + " " + path("out.txt"), 1, "bad.hex:2: error 11"},
        {"convert " + path("sparse.txt") + " " + path("out.bin"), 1, "refusing"},
        {"convert " + path("ok.txt") + " " + path("out.s19"), 2, "unknown output format"},
        {"convert " + path("ok.txt") + " " + path("no/such/dir/out.hex"), 1, "out.hex: error 15"},
        {"info " + path("ok.txt") + " --device \"ZEL816 A110\"", 1, "0x0F000 lies outside"},
        {"info " + path("ok.txt") + " --device \"ZEL816 A413\"", 0, "all data lies in its memory"},
        {"info " + path("ok.txt") + " --device NOPE", 2, "unknown device type"},
        {"frobnicate", 2, "usage:"},
        {"info " + folder, 1, "error 15 (unable to open the file): is not a regular file"},
        {"convert " + folder + " " + path("x.hex"), 1, "is not a regular file"},
        {"info " + path("huge.hex"), 1, "error 13 (file I/O error): is larger than"},
    };
    for (const auto& c : cases) {
        const ToolRun run = octoimg(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(c.messagePart), std::string::npos) << c.arguments << "\n"
                                                                     << run.output;
    }
    EXPECT_FALSE(fs::exists(path("out.txt"))) << "a failed conversion must not leave output";
    EXPECT_FALSE(fs::exists(path("out.bin")));
    EXPECT_FALSE(fs::exists(path("x.hex")));
}

TEST_F(OctoImg, AFailedWriteLeavesTheOldOutputFileAsItWas) {
    std::string big = "@0\n";
    for (int line = 0; line < 4096; ++line) {
        big += "00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF\n";
    }
    writeFile(path("big.txt"), big + "q\n");
    writeFile(path("precious.hex"), "keep me\n");
    // The disk full after a few blocks: writes fail (EFBIG) instead of ending the tool.
    const ToolRun run = octoimg("convert " + path("big.txt") + " " + path("precious.hex"),
                                "trap '' XFSZ; ulimit -f 8; ");
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("error 13"), std::string::npos) << run.output;
    EXPECT_EQ(readFile(path("precious.hex")), "keep me\n");
}

TEST_F(OctoImg, MemoryRunningOutEndsWithOneLineAndItsOwnCode) {
    writeFile(path("large.txt"), "");
    fs::resize_file(path("large.txt"), 48ull << 20); // within the bound, sparse
    const ToolRun run = octoimg("info " + path("large.txt"), "ulimit -v 40960; ");
    EXPECT_EQ(run.exitCode, 3) << run.output;
    EXPECT_EQ(run.output.rfind("octoimg: ", 0), 0u) << run.output;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
}

} // namespace
