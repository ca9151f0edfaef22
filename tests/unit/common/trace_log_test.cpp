// The traceability log's file: whole lines only, whoever appends and whatever a crash left.
#include "support/TempFolder.h"
#include "trace/trace_log.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace octo::trace {
namespace {

using testing::TempFolder;

std::vector<std::string> fileLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// A line of its writer, long enough that a torn write would show.
std::string writerLine(int writer, int number) {
    return std::to_string(writer) + "," + std::to_string(number) + "," +
           std::string(static_cast<size_t>(200 + number % 300), static_cast<char>('a' + writer)) +
           "\n";
}

TEST(TraceLogFile, TwoProcessesAppendingLeaveOneHeaderAndOnlyWholeLines) {
    const TempFolder folder("octo_trace");
    const std::string path = folder.file("trace.csv");
    constexpr int kWriters = 2;
    constexpr int kLinesEach = 400;
    std::vector<pid_t> children;
    for (int writer = 0; writer < kWriters; ++writer) {
        const pid_t pid = fork();
        if (pid == 0) {
            bool ok = true;
            for (int n = 0; n < kLinesEach; ++n) {
                const std::array<std::string, 1> line{writerLine(writer, n)};
                ok = appendLines(path, line) == LogWrite::Written && ok;
            }
            _exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::vector<std::string> lines = fileLines(path);
    ASSERT_EQ(lines.size(), 1u + kWriters * kLinesEach);
    EXPECT_EQ(lines[0], headerLine());
    std::map<int, int> next;
    for (size_t i = 1; i < lines.size(); ++i) {
        const int writer = lines[i][0] - '0';
        ASSERT_EQ(lines[i] + "\n", writerLine(writer, next[writer]++)) << "line " << i;
    }
}

TEST(TraceLogFile, ALineTornByACrashIsEndedBeforeTheNextOne) {
    const TempFolder folder("octo_trace");
    const std::string path = folder.file("trace.csv");
    std::ofstream(path, std::ios::binary) << headerLine() << "\n2026-12-08T06:00:00Z,st";
    const std::array<std::string, 1> line{"next\n"};
    ASSERT_EQ(appendLines(path, line), LogWrite::Written);
    const std::vector<std::string> lines = fileLines(path);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "2026-12-08T06:00:00Z,st");
    EXPECT_EQ(lines[2], "next");
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What the check before a run and the append itself say of what is at the log's path, and
// that a refused file keeps its bytes and a missing one is not created by the check.
TEST(TraceLogFile, OnlyAnEmptyFileOrOneThatStartsWithAHeaderIsAppendedTo) {
    const TempFolder folder("octo_trace");
    const std::string header = headerLine();
    const struct {
        const char* name;
        std::optional<std::string> content; // none: no file
        LogWrite expected;
    } cases[] = {
        {"missing/trace.csv", std::nullopt, LogWrite::CannotWrite},
        {"new.csv", std::nullopt, LogWrite::Written},
        {"empty.csv", "", LogWrite::Written},
        {"log.csv", header + "\n", LogWrite::Written},
        {"first.csv", firstHeaderLine() + "\n", LogWrite::Written},
        {"edited.csv", header + "\r\nx\r\n", LogWrite::Written},
        {"image.txt", "@FC00\n01 02\nq\n", LogWrite::NotALog},
        {"longer.csv", header + ",extra\n", LogWrite::NotALog},
        {"blank.csv", "\n" + header + "\n", LogWrite::NotALog},
    };
    const std::array<std::string, 1> line{"line\n"};
    for (const auto& c : cases) {
        const std::string path = folder.file(c.name);
        if (c.content) {
            std::ofstream(path, std::ios::binary) << *c.content;
        }
        EXPECT_EQ(checkLog(path), c.expected) << c.name;
        EXPECT_EQ(std::filesystem::exists(path), c.content.has_value()) << c.name;
        EXPECT_EQ(appendLines(path, line), c.expected) << c.name;
        if (c.expected == LogWrite::NotALog) {
            EXPECT_EQ(fileText(path), *c.content) << c.name;
        }
    }
    const std::string fifo = folder.file("fifo.csv");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(checkLog(fifo), LogWrite::CannotWrite);
    EXPECT_EQ(appendLines(fifo, line), LogWrite::CannotWrite);
}

TEST(TraceLogFile, ALockHeldPastTheWaitIsBusyAndLeavesTheLogAsItWas) {
    const TempFolder folder("octo_trace");
    const std::string path = folder.file("trace.csv");
    std::ofstream(path, std::ios::binary) << headerLine() << "\n";
    const int holder = open(path.c_str(), O_RDONLY);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    const std::array<std::string, 1> line{"line\n"};
    EXPECT_EQ(appendLines(path, line, std::chrono::milliseconds(50)), LogWrite::Busy);
    EXPECT_EQ(fileText(path), headerLine() + "\n");
    close(holder);
    EXPECT_EQ(appendLines(path, line, std::chrono::milliseconds(50)), LogWrite::Written);
}

TEST(TraceLogLines, OneLinePerSocketInUseAndPerChipFoundWithFieldsQuotedWhereCsvNeedsIt) {
    std::array<uint8_t, 256> block{};
    block[0] = 0x05; // connected: targets 1 and 3
    block[1] = 0x03; // target 2's bits without a chip found: not a chip's outcome
    block[2] = 0x03;
    block[3] = 0x40; // target 7 secured before the run: found, not reached
    block[4] = 0x03;
    const RunRecord run{.time = "2026-12-08T06:00:00Z",
                        .station = "line \"A\", bay 2",
                        .firmwareVersion = "1.56",
                        .hardwareVersion = "1.30",
                        .deviceType = "ZEL816 A449",
                        .imageCrc32 = 0x037874A1,
                        .resultCode = 0,
                        .unit = "U,7",
                        .run = 41,
                        .serials = {"S\"1", "S2", "S3"}, // S2 released: socket 2 is empty
                        .asked = "ecpv",
                        .socketsInUse = 0x07};
    const std::vector<std::string> lines = runLines(run, block);
    const std::string head =
        "2026-12-08T06:00:00Z,\"line \"\"A\"\", bay 2\",1.56,1.30,ZEL816 A449,037874A1,";
    ASSERT_EQ(lines.size(), 4u) << "sockets 1 to 3 are in use; a chip sits in socket 7";
    EXPECT_EQ(lines[0], head + "1,1,1,1,0,1,0,\"U,7\",41,\"S\"\"1\",ecpv,1\n");
    EXPECT_EQ(lines[1], head + "2,0,0,0,0,0,0,\"U,7\",41,,ecpv,0\n");
    EXPECT_EQ(lines[2], head + "3,1,0,0,0,0,0,\"U,7\",41,S3,ecpv,1\n");
    EXPECT_EQ(lines[3], head + "7,0,0,0,1,0,0,\"U,7\",41,,ecpv,1\n");
    EXPECT_EQ(runLines(RunRecord{}, block)[0], ",,,,,,1,1,1,1,0,1,0,,,,,1\n")
        << "an unknown unit, run, serial and steps are empty fields";
    EXPECT_EQ(runLines(RunRecord{}, block).size(), 8u) << "every socket is in use by default";
}

// A log keeps the columns of the header it began with, whatever the fields hold.
TEST(TraceLogFile, ALogIsAppendedToInTheColumnsOfItsOwnHeader) {
    const TempFolder folder("octo_trace");
    std::array<uint8_t, 256> block{};
    block[0] = 0x01;
    const RunRecord run{.time = "8 Dec, 06:00",
                        .station = "bay \"2\", west",
                        .firmwareVersion = "",
                        .hardwareVersion = "",
                        .deviceType = "",
                        .imageCrc32 = 0x037874A1,
                        .resultCode = 0,
                        .unit = "U-7",
                        .run = 3,
                        .serials = {"S,1"},
                        .asked = "p",
                        .socketsInUse = 0x03};
    const std::string head = "\"8 Dec, 06:00\",\"bay \"\"2\"\", west\",,,,037874A1,";
    const std::string found = head + "1,1,0,0,0,0,0";
    const std::string second = "time,station,firmware,hardware,device_type,image_crc32,target,"
                               "connected,erase_checked,verified,secured,passed,result_code,"
                               "unit,run,serial";
    // Socket 2 is in use and empty: only a log with the found column has a line for it.
    const struct {
        const char* name;
        std::optional<std::string> content;
        std::string header;
        std::vector<std::string> lines;
    } cases[] = {
        {"new.csv",
         std::nullopt,
         headerLine(),
         {found + ",U-7,3,\"S,1\",p,1", head + "2,0,0,0,0,0,0,U-7,3,,p,0"}},
        {"log.csv",
         headerLine() + "\n",
         headerLine(),
         {found + ",U-7,3,\"S,1\",p,1", head + "2,0,0,0,0,0,0,U-7,3,,p,0"}},
        {"second.csv", second + "\n", second, {found + ",U-7,3,\"S,1\""}},
        {"first.csv", firstHeaderLine() + "\n", firstHeaderLine(), {found}},
        {"edited.csv", firstHeaderLine() + "\r\n", firstHeaderLine() + "\r", {found}},
    };
    for (const auto& c : cases) {
        const std::string path = folder.file(c.name);
        if (c.content) {
            std::ofstream(path, std::ios::binary) << *c.content;
        }
        ASSERT_EQ(appendLines(path, runLines(run, block)), LogWrite::Written) << c.name;
        std::vector<std::string> expected{c.header};
        expected.insert(expected.end(), c.lines.begin(), c.lines.end());
        EXPECT_EQ(fileLines(path), expected) << c.name;
    }
}

TEST(TraceLogLines, TheUnitIsNamedFromABlockThatReachesItsThirdVersionWord) {
    std::array<uint8_t, 32> block{};
    block[10] = 0x01;
    block[11] = 0x56;
    EXPECT_EQ(unitIdentity(block).firmwareVersion, 0x0156);
    EXPECT_FALSE(unitIdentity(std::span(block).first(31)).firmwareVersion);
}

TEST(TraceLogLines, TheTimeIsTheCurrentSecondInUtcWrittenWhole) {
    const std::time_t before = std::time(nullptr);
    const std::string stamp = utcTimestamp();
    const std::time_t after = std::time(nullptr);
    std::tm read{};
    std::istringstream(stamp) >> std::get_time(&read, "%Y-%m-%dT%H:%M:%S");
    ASSERT_EQ(stamp.size(), 20u) << stamp;
    EXPECT_EQ(stamp.back(), 'Z');
    EXPECT_LE(before, timegm(&read)) << stamp;
    EXPECT_LE(timegm(&read), after) << stamp;
}

TEST(TraceLogLines, AVersionIsItsTwoBytesInHexadecimalAndNoneIsEmpty) {
    EXPECT_EQ(versionText(0x0156), "1.56");
    EXPECT_EQ(versionText(0x0A0B), "A.0B");
    EXPECT_EQ(versionText(std::nullopt), "");
}

} // namespace
} // namespace octo::trace
