// Job files (--config) as the command line reads them: TOML, strings kept whole, every key
// once and of its type, only a regular file of bounded size, and the command line first.
#include "Invocation.h"
#include "JobFile.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace octo::cli {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kProgram = {"program", "--port", "P", "--type", "T", "a.hex"};
const std::vector<std::string> kSerials = {"serials"};

struct JobCase {
    const char* what;
    std::string text;              // the job file's text, or
    std::string path;              // another file given to --config ("" for the job file)
    std::vector<std::string> args; // the command line, --config added
    std::string refusal;           // the message, "%" standing for the path; "" when accepted
    std::function<bool(const Invocation&)> holds = [](const Invocation&) { return true; };
};

std::string withPath(std::string text, const std::string& path) {
    const size_t at = text.find('%');
    return at == std::string::npos ? text : text.replace(at, 1, path);
}

TEST(JobFile, EachRuleOfTheFileHoldsAndARefusalNamesTheFileTheLineAndTheKey) {
    const testing::TempFolder folder("octo_job");
    const std::string fifo = folder.file("fifo.toml");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string large = folder.file("large.toml");
    std::ofstream(large) << "secure = true\n";
    fs::resize_file(large, kMaxJobFileBytes + 1);
    // The largest file taken: a switch, then blanks up to the bound.
    const std::string largest = folder.file("largest.toml");
    const std::string secure = "secure = true\n";
    std::ofstream(largest, std::ios::binary)
        << secure << std::string(kMaxJobFileBytes - secure.size(), ' ');

    const std::string farApart = "vcc = 3.3\n" + std::string(10, '\n') + "vcc = 2.8\n";
    const auto numbersTyped = [] {
        std::vector<std::string> args = kProgram;
        args.insert(args.end(),
                    {"--serial-start", "1", "--serial-end", "99", "--serial-format", "le32"});
        return args;
    }();
    const std::string scheme = "ledger = \"s.ledger\"\nserial-address = 0x1000\n";
    const JobCase cases[] = {
        {"a # in double quotes", "ledger = \"st#1.ledger\" # the station's\n", "", kSerials, "",
         [](const Invocation& in) { return in.ledgerPath == "st#1.ledger"; }},
        {"a # in single quotes", "log = 'trace#1.csv'\n", "", kProgram, "",
         [](const Invocation& in) { return in.logPath == "trace#1.csv"; }},
        {"the command's table, a hex integer and a text number",
         "[program]\nbaud = 0x4B00\nrepeat = \"0x10\"\nvcc = 3\nsettle = 0.25\n"
         "no-verify = true\nsecure = false\nfiles = [\"b.hex\"]\n",
         "",
         {"program", "--port", "P", "--type", "T"},
         "",
         [](const Invocation& in) {
             return in.baud == 19200u && in.repeat == 16 && in.supplyTenths == 30 &&
                    in.settleMs == 250 && !in.verify && !in.secure &&
                    in.files == std::vector<std::string>{"b.hex"};
         }},
        {"an empty table of the command", "[program]\n", "", kProgram, "",
         [](const Invocation& in) { return in.typeName == "T"; }},
        {"a key without a value", "type = \"T\"\nsecure\n", "", kProgram,
         "%:2: key \"secure\" has no value (key = value; a switch takes true or false)"},
        {"a key with nothing after =", "vcc =\n", "", kProgram,
         "%:1: key \"vcc\" has no value (key = value; a switch takes true or false)"},
        {"a key twice, far apart", farApart, "", kProgram,
         "%:12: key \"vcc\" is given twice (first at line 1)"},
        {"a key twice, quoted", "\"vcc\" = 3.3\n'vcc' = 2.8\n", "", kProgram,
         "%:2: key \"vcc\" is given twice (first at line 1)"},
        {"a key at the top and in the command's table", "vcc = 3.3\n[program]\nvcc = 2.8\n", "",
         kProgram, "%:3: key \"vcc\" is given twice (first at line 1)"},
        {"a switch as text", "secure = \"yes\"\n", "", kProgram,
         "%:1: key \"secure\" takes true or false"},
        {"text as a number", "type = 5\n", "", kProgram, "%:1: key \"type\" takes text in quotes"},
        {"a fraction for runs", "repeat = 2.5\n", "", kProgram,
         "%:1: key \"repeat\" takes a whole number"},
        {"a switch for a supply", "\n\nvcc = true\n", "", kProgram,
         "%:3: key \"vcc\" takes a number"},
        {"a list of numbers for files", "files = [1]\n", "", kProgram,
         "%:1: key \"files\" takes a file name in quotes or a list of them"},
        {"an unknown key", "type = \"T\"\nvcx = 3.0\n", "", kProgram,
         "%:2: unknown key \"vcx\" (octo816 program --help lists the options)"},
        {"another command's table", "[report]\nout = \"r.html\"\n", "", kProgram,
         "%:2: unknown key \"report.out\" (octo816 program --help lists the options)"},
        {"a table inside the command's", "[program.extra]\nvcc = 3.0\n", "", kProgram,
         "%:2: unknown key \"program.extra.vcc\" (octo816 program --help lists the options)"},
        {"the job file itself", "config = \"other.toml\"\n", "", kProgram,
         "%:1: unknown key \"config\" (octo816 program --help lists the options)"},
        {"a value out of range", "vcc = 5.0\n", "", kProgram,
         "%:1: --vcc takes a supply from 1.8 to 3.6 V"},
        {"a negative count", "repeat = -1\n", "", kProgram,
         "%:1: --repeat takes a number of runs from 1 to 100000"},
        {"the command line wins",
         "vcc = 2.5\nsettle = 1\n",
         "",
         {"program", "--port", "P", "--type", "T", "--vcc", "3.0", "a.hex"},
         "",
         [](const Invocation& in) { return in.supplyTenths == 30 && in.settleMs == 1000; }},
        {"numbers typed leave out the file's list", scheme + "serial-list = \"macs.txt\"\n", "",
         numbersTyped, "",
         [](const Invocation& in) { return in.serialList.empty() && in.serialEnd == 99u; }},
        {"a list typed leaves out the file's numbers",
         scheme + "serial-start = 1\nserial-end = 99\nserial-format = \"le32\"\n", "",
         [] {
             std::vector<std::string> args = kProgram;
             args.insert(args.end(), {"--serial-list", "macs.txt"});
             return args;
         }(),
         "", [](const Invocation& in) { return in.serialList == "macs.txt" && !in.serialStart; }},
        {"the sockets in use", "sockets = \"1-6,8\"\n", "", kProgram, "",
         [](const Invocation& in) { return in.sockets == 0xBF; }},
        {"no sockets named: all eight", "type = \"T\"\n", "", kProgram, "",
         [](const Invocation& in) { return in.sockets == 0xFF; }},
        {"the sockets typed win", "sockets = \"1-2\"\n", "",
         [] {
             std::vector<std::string> args = kProgram;
             args.insert(args.end(), {"--sockets", "8"});
             return args;
         }(),
         "", [](const Invocation& in) { return in.sockets == 0x80; }},
        {"info shows the file's sockets",
         "[info]\nsockets = \"2-3\"\n",
         "",
         {"info", "--port", "P"},
         "",
         [](const Invocation& in) { return in.sockets == 0x06; }},
        {"a socket out of range", "\nsockets = \"1-9\"\n", "", kProgram,
         "%:2: --sockets takes sockets 1 to 8 and ranges of them, as in 1-6,8, not \"1-9\""},
        {"a socket as a number", "sockets = 5\n", "", kProgram,
         "%:1: key \"sockets\" takes text in quotes"},
        {"sockets for a command without them", "sockets = \"1\"\n", "", kSerials,
         "%:1: unknown key \"sockets\" (octo816 serials --help lists the options)"},
        {"a FIFO", "", fifo, kProgram, "--config %: not a regular file"},
        {"a device", "", "/dev/urandom", kProgram, "--config %: not a regular file"},
        {"a file past the bound", "", large, kProgram,
         "--config %: larger than 1 MiB, not a job file"},
        {"a file at the bound", "", largest, kProgram, "",
         [](const Invocation& in) { return in.secure; }},
        {"a folder", "", folder.path().string(), kProgram, "--config %: it is a folder"},
        {"no file", "", folder.file("none.toml"), kProgram, "--config %: no such file"},
    };
    for (const JobCase& c : cases) {
        std::string path = c.path;
        if (path.empty()) {
            path = folder.file("job.toml");
            std::ofstream(path, std::ios::binary | std::ios::trunc) << c.text;
        }
        std::vector<std::string> args = c.args;
        args.insert(args.begin() + 1, {"--config", path});
        try {
            const Invocation in = parseArguments(args);
            EXPECT_EQ(c.refusal, "") << c.what;
            EXPECT_TRUE(c.holds(in)) << c.what;
        } catch (const UsageError& e) {
            EXPECT_EQ(e.what(), withPath(c.refusal, path)) << c.what;
        }
    }
}

} // namespace
} // namespace octo::cli
