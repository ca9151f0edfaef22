// The traceability log's file: whole lines only, whoever appends and whatever a crash left.
#include "support/TempFolder.h"
#include "trace/trace_log.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <map>
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
                ok = appendLines(path, line) && ok;
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
    ASSERT_TRUE(appendLines(path, line));
    const std::vector<std::string> lines = fileLines(path);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "2026-12-08T06:00:00Z,st");
    EXPECT_EQ(lines[2], "next");
}

TEST(TraceLogFile, AFolderThatDoesNotExistIsReported) {
    const TempFolder folder("octo_trace");
    EXPECT_FALSE(appendLines(folder.file("missing/trace.csv"), {}));
}

TEST(TraceLogLines, OneLinePerTargetFoundWithFieldsQuotedWhereCsvNeedsIt) {
    std::array<uint8_t, 256> block{};
    block[0] = 0x05; // connected: targets 1 and 3
    block[1] = 0x01;
    block[2] = 0x01;
    block[3] = 0x40; // target 7 secured before the run: found, not reached
    block[4] = 0x01;
    const RunRecord run{.time = "2026-12-08T06:00:00Z",
                        .station = "line \"A\", bay 2",
                        .firmwareVersion = "1.56",
                        .hardwareVersion = "1.30",
                        .deviceType = "ZEL816 A449",
                        .imageCrc32 = 0x037874A1,
                        .resultCode = 0};
    const std::vector<std::string> lines = runLines(run, block);
    const std::string head =
        "2026-12-08T06:00:00Z,\"line \"\"A\"\", bay 2\",1.56,1.30,ZEL816 A449,037874A1,";
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], head + "1,1,1,1,0,1,0\n");
    EXPECT_EQ(lines[1], head + "3,1,0,0,0,0,0\n");
    EXPECT_EQ(lines[2], head + "7,0,0,0,1,0,0\n");
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
