// Reading a traceability log back: which lines are taken, with what, and which are not.
#include "support/TempFolder.h"
#include "trace/trace_log.h"
#include "trace/trace_log_reader.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

namespace octo::trace {
namespace {

using testing::TempFolder;

// A line in the current columns: target, connected, passed, unit, record.
std::string line(int target, const char* connected, const char* passed, const std::string& unit,
                 const std::string& serial) {
    return "2026-12-08T06:42:36Z,ST1,1.56,1.00,ZEL816 A110,1234ABCD," + std::to_string(target) +
           "," + connected + ",1,1,0," + passed + ",0," + unit + ",7," + serial + ",ecpv,1\n";
}

// What a read gives: each taken line as "line:target:connected passed:unit:record".
std::vector<std::string> taken(LogReader& reader) {
    std::vector<std::string> out;
    LogEntry e;
    while (reader.next(e)) {
        out.push_back(std::to_string(e.line) + ":" + std::to_string(e.socket) + ":" +
                      (e.connected ? "c" : "-") + (e.passed ? "p" : "-") + ":" + e.unit + ":" +
                      e.serial);
    }
    return out;
}

TEST(LogReader, TakesWellFormedLinesAndSkipsTheOthersOneByOne) {
    const TempFolder folder("octo_log_reader");
    const std::string header = headerLine() + "\n";
    const struct {
        const char* name;
        std::string text;
        std::vector<std::string> taken;
        uint64_t malformed;
    } cases[] = {
        {"two lines",
         header + line(1, "1", "1", "U1", "0A0B") + line(2, "1", "0", "U1", ""),
         {"2:1:cp:U1:0a0b", "3:2:c-:U1:"},
         0},
        {"a quoted line break is one line",
         header + line(3, "1", "1", "\"U\n1\"", "01") + line(4, "0", "0", "U", "02"),
         {"2:3:cp:U\n1:01", "4:4:--:U:02"},
         0},
        {"a torn quote does not hide the lines after it",
         header + "2026-12-08T06:42:36Z,\"ST\n" + line(5, "1", "1", "U", "03"),
         {"3:5:cp:U:03"},
         1},
        {"fields out of range or too few",
         header + line(9, "1", "1", "U", "04") + line(1, "2", "1", "U", "05") +
             line(1, "1", "1", "U", "0g") + line(1, "1", "1", "U", "123") + "a,b\n" +
             line(6, "1", "1", "U", "06"),
         {"7:6:cp:U:06"},
         5},
        {"a line past the bound",
         header + line(1, "1", "1", std::string(5000, 'u'), "07") + line(7, "1", "1", "U", "08"),
         {"3:7:cp:U:08"},
         1},
        {"line ends of Windows",
         header + "2026-12-08T06:42:36Z,S,,,T,,8,1,1,1,0,1,0,U,,0c,ecpv,1\r\n",
         {"2:8:cp:U:0c"},
         0},
        {"a last line still being written",
         header + line(1, "1", "1", "U", "09") + line(2, "1", "1", "U", "0a").substr(0, 50),
         {"2:1:cp:U:09"},
         0},
        {"a log of the first version",
         firstHeaderLine() + "\n2026-12-08T06:42:36Z,S,,,T,,2,1,1,1,0,1,0\n",
         {"2:2:cp::"},
         0},
    };
    for (const auto& c : cases) {
        const std::string path = folder.file("log.csv");
        std::ofstream(path, std::ios::binary) << c.text;
        LogReader reader(path);
        ASSERT_EQ(reader.problem(), LogReader::Problem::None) << c.name;
        EXPECT_EQ(taken(reader), c.taken) << c.name;
        EXPECT_EQ(reader.malformed(), c.malformed) << c.name;
    }
}

TEST(LogReader, GoesOnFromWhereAnEarlierReadEnded) {
    const TempFolder folder("octo_log_reader");
    const std::string path = folder.file("log.csv");
    std::ofstream(path, std::ios::binary) << headerLine() << "\n" << line(1, "1", "1", "U", "01");
    uint64_t offset = 0;
    uint64_t lineNumber = 0;
    {
        LogReader reader(path);
        EXPECT_EQ(taken(reader).size(), 1u);
        offset = reader.offset();
        lineNumber = reader.line();
        EXPECT_EQ(reader.bytesBefore(offset, 3), ",1\n");
    }
    std::ofstream(path, std::ios::app | std::ios::binary) << line(2, "1", "1", "U", "02");
    LogReader reader(path);
    ASSERT_TRUE(reader.seek(offset, lineNumber));
    EXPECT_EQ(taken(reader), (std::vector<std::string>{"3:2:cp:U:02"}));
    EXPECT_FALSE(reader.seek(reader.offset() + 1, 9)) << "past the end";
}

TEST(LogReader, WhatIsNoLogIsNeverRead) {
    const TempFolder folder("octo_log_reader");
    const std::string pipe = folder.file("pipe.csv");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const std::string notes = folder.file("notes.txt");
    std::ofstream(notes) << "time,station\n";
    const struct {
        std::string path;
        LogReader::Problem problem;
    } cases[] = {
        {folder.file("missing.csv"), LogReader::Problem::Missing},
        {folder.path().string(), LogReader::Problem::NotRegular},
        {pipe, LogReader::Problem::NotRegular},
        {notes, LogReader::Problem::NotALog},
    };
    for (const auto& c : cases) {
        LogReader reader(c.path);
        EXPECT_EQ(reader.problem(), c.problem) << c.path;
        LogEntry entry;
        EXPECT_FALSE(reader.next(entry)) << c.path;
    }
}

} // namespace
} // namespace octo::trace
