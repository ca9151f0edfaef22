// octo816, the command-line programmer, as a line runs it: the real program against the
// simulated unit, its exit status, its standard error, its JSON and its traceability log.
#include "SimulatedUnit.h"
#include "objfile/crc32.h"
#include "ops/MainProcess.h"
#include "serials/serial_ledger.h"
#include "serials/sqlite_db.h"
#include "support/TempFolder.h"
#include "trace/trace_log.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <fstream>
#include <numeric>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace octo::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kPassed = 0;
constexpr int kTargetsFailed = 1;
constexpr int kBadInput = 2;
constexpr int kUnitError = 3;
constexpr int kNotLogged = 4;
constexpr int kOutputFailed = 5;
constexpr char kA110[] = "ZEL816 A110";

struct ToolRun {
    int status = -1;
    int signal = 0; // the signal that ended it
    std::string out;
    std::string err;
};

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> fileLines(const fs::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Starts octo816 with its output in files of folder, or its standard output on outFd; with
// at most addressSpace bytes of memory when that is given.
pid_t startTool(const std::vector<std::string>& args, const fs::path& folder, int outFd = -1,
                rlim_t addressSpace = 0) {
    const fs::path out = folder / "tool.out";
    const fs::path err = folder / "tool.err";
    std::vector<char*> argv{const_cast<char*>(OCTO816_PATH)};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(outFd >= 0 ? outFd : open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
             STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
        const rlimit limit{addressSpace, addressSpace};
        if (addressSpace != 0 && setrlimit(RLIMIT_AS, &limit) != 0) {
            _exit(126);
        }
        execv(OCTO816_PATH, argv.data());
        _exit(127);
    }
    return pid;
}

ToolRun finishTool(pid_t pid, const fs::path& folder) {
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
            WIFSIGNALED(status) ? WTERMSIG(status) : 0, fileText(folder / "tool.out"),
            fileText(folder / "tool.err")};
}

// Runs octo816 with its output in files of folder, or its standard output on outFd.
ToolRun runTool(const std::vector<std::string>& args, const fs::path& folder, int outFd = -1) {
    return finishTool(startTool(args, folder, outFd), folder);
}

class CliTest : public ::testing::Test {
protected:
    void start(std::vector<std::string> settings = {}) {
        unit = std::make_unique<SimulatedUnit>(settings);
    }
    ToolRun tool(std::vector<std::string> args, int outFd = -1) {
        if (unit && !args.empty() && args[0] != "types") {
            args.insert(args.begin() + 1, {"--port", unit->link()});
        }
        return runTool(args, unit ? unit->folder() : fs::temp_directory_path(), outFd);
    }
    std::unique_ptr<SimulatedUnit> unit;
};

TEST_F(CliTest, EachCommandsHappyPathEndsWithStatusZeroAndDoesItsWork) {
    start({"target.all.type=ZEL816 A110"});
    const fs::path log = unit->folder() / "trace.csv";
    const fs::path readout = unit->folder() / "target1.hex";
    // The read-out writes the file a link leads to and leaves the link.
    const fs::path link = unit->folder() / "link.hex";
    fs::create_symlink(readout.filename(), link);

    ToolRun run = tool({"info", "--json"});
    EXPECT_EQ(run.status, kPassed) << run.err;
    EXPECT_NE(run.out.find("\"firmware\":\"1.56\",\"firmware_name\":\"OCTO816-156\""),
              std::string::npos)
        << run.out;

    run = tool({"program", "--type", kA110, "--vcc", "3.0", "--repeat", "2", "--log", log.string(),
                samplePath("A110_blink.txt").string()});
    EXPECT_EQ(run.status, kPassed) << run.err;
    EXPECT_NE(run.out.find("8 of 8 targets passed."), std::string::npos) << run.out;
    EXPECT_EQ(unit->state("run.main_processes"), "2");
    EXPECT_EQ(fileLines(log).size(), 1u + 2 * 8) << "the header and 8 targets of 2 runs";

    run =
        tool({"readout", "--target", "1", "--start", "0xFC00", "--length", "1024", link.string()});
    EXPECT_EQ(run.status, kPassed) << run.err;
    EXPECT_TRUE(fs::is_symlink(link));
    const objfile::Image sample = imageOfFile(samplePath("A110_blink.txt"));
    const objfile::Image read = imageOfFile(readout);
    for (const auto& piece : sample.runs()) {
        for (size_t i = 0; i < piece.bytes.size(); ++i) {
            const auto address = static_cast<uint32_t>(piece.start + i);
            ASSERT_EQ(read.at(address), piece.bytes[i]) << std::hex << address;
        }
    }

    run = tool({"selftest"});
    EXPECT_EQ(run.status, kPassed) << run.err;
    EXPECT_EQ(unit->state("run.selftests"), "1");

    run = tool({"erase-image"});
    EXPECT_EQ(run.status, kPassed) << run.err;
    EXPECT_EQ(unit->state("image.0.state"), "erased");

    run = tool({"firmware", (fs::path(OCTO_DIST_DIR) / "OCTO816-150.TXT").string()});
    EXPECT_EQ(run.status, kPassed) << run.err;
    EXPECT_NE(run.out.find("Firmware 1.50"), std::string::npos) << run.out;
    EXPECT_EQ(unit->state("firmware.loads"), "1");

    run = runTool({"types", "--json"}, unit->folder());
    EXPECT_EQ(run.status, kPassed) << run.err;
    EXPECT_NE(run.out.find("{\"name\":\"ZEL816 A110\",\"group\":1,\"vpp\":\"2.7 V\","
                           "\"duolink\":false,\"segments\":[{\"kind\":\"ram\",\"start\":\"0x200\""),
              std::string::npos)
        << run.out;
}

TEST_F(CliTest, FaultyTargetsGetExactlyTheSimulatorsFlagsInTheJsonAndTheLog) {
    start({"target.all.type=ZEL816 A110", "target.3.present=no", "target.5.fault.verify_at=0xFC10",
           "target.6.fault.erase=yes", "target.7.secured=yes", "target.8.fault.no_answer=yes"});
    const fs::path log = unit->folder() / "trace.csv";
    // A Latin-1 name: the byte that is not UTF-8 stands in the JSON as a lone surrogate.
    const fs::path image = unit->folder() / "A110_bl\xE9nk.txt";
    fs::copy_file(samplePath("A110_blink.txt"), image);

    const ToolRun run =
        tool({"program", "--type", kA110, "--vcc", "3.0", "--json", "--log", log.string(), image});

    EXPECT_EQ(run.status, kTargetsFailed) << run.err;
    EXPECT_NE(run.out.find("A110_bl\\udce9nk.txt\""), std::string::npos) << run.out;
    const struct {
        int target;
        const char* last; // the simulator's own account of the target
        bool present, connected, eraseChecked, verified, secured, passed;
    } truth[] = {
        {1, "passed", true, true, true, true, false, true},
        {2, "passed", true, true, true, true, false, true},
        {3, "", false, false, false, false, false, false},
        {4, "passed", true, true, true, true, false, true},
        {5, "marginal verify failed at 0xFC10", true, true, true, false, false, false},
        {6, "erase failed", true, true, false, false, false, false},
        {7, "secured, not reachable", true, false, false, false, true, false},
        {8, "no answer", false, false, false, false, false, false},
    };
    const auto flag = [](bool value) { return value ? "true" : "false"; };
    const auto bit = [](bool value) { return value ? "1" : "0"; };
    const std::vector<std::string> lines = fileLines(log);
    size_t line = 1;
    for (const auto& t : truth) {
        const std::string n = std::to_string(t.target);
        if (*t.last != '\0') {
            EXPECT_EQ(unit->state("target." + n + ".last"), t.last) << n;
        }
        const std::string json =
            std::string("{\"target\":") + n + ",\"present\":" + flag(t.present) +
            ",\"connected\":" + flag(t.connected) + ",\"erase_checked\":" + flag(t.eraseChecked) +
            ",\"verified\":" + flag(t.verified) + ",\"secured\":" + flag(t.secured) +
            ",\"passed\":" + flag(t.passed) + "}";
        EXPECT_NE(run.out.find(json), std::string::npos) << json << "\n" << run.out;
        if (!t.present) {
            continue;
        }
        ASSERT_LT(line, lines.size());
        const std::string ending = "," + n + "," + bit(t.connected) + "," + bit(t.eraseChecked) +
                                   "," + bit(t.verified) + "," + bit(t.secured) + "," +
                                   bit(t.passed) + ",0,OCTO-000001,1,";
        const std::string& logged = lines[line++];
        EXPECT_EQ(logged.substr(logged.size() - ending.size()), ending) << logged;
        EXPECT_NE(logged.find(",1.56,1.30,ZEL816 A110,037874A1,"), std::string::npos) << logged;
    }
    EXPECT_EQ(line, lines.size()) << "one line per target found, no more";
}

std::string hexText(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

// The unit receives the parameter block the window's main process sends for the same
// choices.
TEST_F(CliTest, TheParameterBlockIsTheWindowsForTheSameChoices) {
    start({"target.all.type=ZEL816 A201", "external_supply=30"});
    const fs::path image = unit->folder() / "a201.txt";
    std::ofstream(image) << "@F800\n01 02 03 04\nq\n";
    // A job file in its command's section; the --vcc typed wins over the file's.
    const fs::path job = unit->folder() / "a201.toml";
    std::ofstream(job) << "[program]\nerase = \"main\"\nno-verify = true\nduolink = true\n"
                          "vcc = 2.5\nsettle = 1.5\n";
    DeviceType a201;
    a201.dlkAble = 1;
    const struct {
        std::vector<std::string> options;
        Settings window;   // the window's settings that make the same choices
        uint16_t settleMs; // the settling time the window's list gives
    } cases[] = {
        // Securing comes last: a secured chip is never reached again.
        {{"--duolink", "--vcc", "3.0"},
         [] {
             Settings s;
             s.useDlk = 1;
             s.supplyVoltage = 30 - kLowestSupplyTenths;
             s.settleTime = 1;
             return s;
         }(),
         200},
        {{"--erase", "none", "--duolink"},
         [] {
             Settings s;
             s.erase = s.eraseCheck = 0;
             s.useDlk = 1;
             s.supplyByProg = 0;
             return s;
         }(),
         0},
        {{"--config", job.string(), "--vcc", "3.0"},
         [] {
             Settings s;
             s.eraseInfo = 0;
             s.verify = 0;
             s.useDlk = 1;
             s.supplyVoltage = 30 - kLowestSupplyTenths;
             return s;
         }(),
         1500},
        {{"--erase", "pinfo,bsl", "--no-verify", "--secure", "--duolink", "--vcc", "2.5",
          "--settle", "1.5"},
         [] {
             Settings s;
             s.eraseMain = 0;
             s.erasePinfo = s.eraseBslSegm = 1;
             s.verify = 0;
             s.blowFuse = 1;
             s.useDlk = 1;
             s.supplyVoltage = 25 - kLowestSupplyTenths;
             return s;
         }(),
         1500},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::vector<std::string> args = {"program", "--type", "ZEL816 A201"};
        args.insert(args.end(), cases[i].options.begin(), cases[i].options.end());
        args.push_back(image.string());
        const ToolRun run = tool(args);
        EXPECT_EQ(run.status, kPassed) << i << run.err;
        const ProgrammingParameters window =
            programmingParameters(cases[i].window, a201, cases[i].settleMs);
        EXPECT_EQ(unit->state("params.options"), hexText(window.options, 5)) << i;
        EXPECT_EQ(unit->state("params.target_vcc"), hexText(window.targetVcc, 2)) << i;
        EXPECT_EQ(unit->state("params.settle_ms"), std::to_string(window.settleMs)) << i;
    }
}

TEST_F(CliTest, BadArgumentsFilesAndAMissingUnitGiveOneLineAndTheirStatus) {
    const TempFolder folder("octo_cli");
    const std::string blink = samplePath("A110_blink.txt").string();
    const std::string badJob = (folder.path() / "bad.toml").string();
    std::ofstream(badJob) << "type = \"ZEL816 A110\"\nvcx = 3.0\n";
    const std::string lowJob = (folder.path() / "low.toml").string();
    std::ofstream(lowJob) << "vcc = 1.0\n";
    const std::string emptyLog = (folder.path() / "empty.csv").string();
    std::ofstream{emptyLog};
    const std::string readOnly = (folder.path() / "read-only.hex").string();
    std::ofstream(readOnly) << "kept";
    fs::permissions(readOnly, fs::perms::owner_read);
    // A file of the operator's named as the read-out's probe was once.
    const std::string out = (folder.path() / "out.hex").string();
    std::ofstream(out + ".octo816-probe") << "kept";
    // Neither a FIFO nor a huge (sparse) file is opened for reading.
    const std::string fifo = (folder.path() / "list.fifo").string();
    mkfifo(fifo.c_str(), 0600);
    const std::string hugeList = (folder.path() / "huge.txt").string();
    std::ofstream(hugeList) << "0011\n";
    fs::resize_file(hugeList, uintmax_t{3} << 30);
    const std::string newLog = (folder.path() / "new.csv").string();
    const std::string newLedger = (folder.path() / "new.ledger").string();
    const std::vector<std::string> readout = {"readout", "--port",  "/dev/null", "--target",
                                              "1",       "--start", "0",         "--length"};
    const auto readTo = [&](const std::string& path, const char* length = "1") {
        std::vector<std::string> args = readout;
        args.insert(args.end(), {length, path});
        return args;
    };
    const struct {
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {{}, kBadInput, "no command given"},
        {{"burn"}, kBadInput, "unknown command \"burn\""},
        {{"program", "--type", kA110, blink}, kBadInput, "--port is required"},
        {{"program", "--port", "/dev/null", blink}, kBadInput, "--type is required"},
        {{"program", "--port", "/dev/null", "--type", "ZEL816 X999", blink},
         kBadInput,
         "unknown device type \"ZEL816 X999\""},
        {{"program", "--port", "/dev/null", "--type", kA110, "--vcc", "5", blink},
         kBadInput,
         "--vcc takes a supply from 1.8 to 3.6 V"},
        {{"program", "--port", "/dev/null", "--type", kA110, "--vcc", "2.0", blink},
         kBadInput,
         "--vcc 2.0 V is below the 2.7 V that ZEL816 A110 needs"},
        {{"program", "--port", "/dev/null", "--type", kA110, "--erase", "bsl,boot", blink},
         kBadInput,
         "--erase takes main, info, pinfo, bsl or none, not \"boot\""},
        {{"program", "--port", "/dev/null", "--type", kA110, "--duolink", blink},
         kBadInput,
         "ZEL816 A110 cannot be programmed over DuoLink"},
        {{"program", "--port", "/dev/null", "--type", kA110, blink, blink, blink},
         kBadInput,
         "expected one or two image files"},
        {{"program", "--port", "/dev/null", "--config", "none.toml", blink},
         kBadInput,
         "--config none.toml: no such file"},
        {{"program", "--port", "/dev/null", "--config", badJob, blink},
         kBadInput,
         "bad.toml:2: unknown key \"vcx\""},
        {{"program", "--port", "/dev/null", "--type", kA110, "--config", lowJob, blink},
         kBadInput,
         "low.toml:1: --vcc takes a supply from 1.8 to 3.6 V"},
        {{"info", "--port", "/dev/null", "--type", kA110}, kBadInput, "unknown option --type"},
        {{"program", "--port", "/dev/null", "--type", kA110, "--repeat", "0", blink},
         kBadInput,
         "--repeat takes a number of runs"},
        {{"program", "--port", "/dev/null", "--type", kA110, "missing.txt"},
         kBadInput,
         "missing.txt: cannot be opened"},
        {{"program", "--port", "/dev/null", "--type", kA110,
          samplePath("broken_checksum.hex").string()},
         kBadInput,
         "(invalid record)"},
        {{"program", "--port", "/dev/null", "--type", kA110,
          samplePath("A110_outside.txt").string()},
         kBadInput,
         "(invalid record)"},
        {{"info", "--port", "/dev/null", "--baud", "1234"}, kBadInput, "--baud takes 9600"},
        {{"readout", "--port", "/dev/null", "--target", "9", "out.txt"},
         kBadInput,
         "--target takes a target from 1 to 8"},
        {{"readout", "--port", "/dev/null", "--target", "0", "out.txt"},
         kBadInput,
         "--target takes a target from 1 to 8"},
        {{"readout", "--port", "/dev/null", "--target", "1", "--start", "0", "out.txt"},
         kBadInput,
         "readout needs --target, --start and --length"},
        {{"firmware", "--port", "/dev/null", blink}, kBadInput, "not a firmware file of the unit"},
        {{"firmware", "--port", "/dev/null"}, kBadInput, "expected one firmware file"},
        {{"report", "missing.csv"}, kBadInput, "missing.csv: no such file"},
        {{"report", folder.path().string()}, kBadInput, "not a regular file"},
        {{"report", "--since", "yesterday", emptyLog}, kBadInput, "--since takes a time like"},
        {{"report", "--out", (folder.path() / "no-folder" / "r.html").string(), emptyLog},
         kBadInput,
         "r.html: cannot be written"},
        {{"program", "--port", (folder.path() / "no-port").string(), "--type", kA110, blink},
         kUnitError,
         "no unit on "},
        // Numbers are decimal unless written 0x: no octal, no blank, no sign.
        {{"program", "--port", "/dev/null", "--type", kA110, "--repeat", "0100001", blink},
         kBadInput,
         "--repeat takes a number of runs"},
        {{"program", "--port", "/dev/null", "--type", kA110, "--repeat", " 5", blink},
         kBadInput,
         "--repeat takes a number of runs"},
        {{"program", "--port", "/dev/null", "--type", kA110, "--vcc", "+3.0", blink},
         kBadInput,
         "--vcc takes a supply from 1.8 to 3.6 V"},
        {{"program", "--port", "/dev/null", "--type", kA110, "--settle", "0x1p-2", blink},
         kBadInput,
         "--settle takes a settling time"},
        {{"readout", "--port", "/dev/null", "--target", "010", "--start", "0", "--length", "1",
          "out.txt"},
         kBadInput,
         "--target takes a target from 1 to 8"},
        {{"readout", "--port", "/dev/null", "--target", "1", "--start", "0100", "--length",
          "0xFFFA0", "out.txt"},
         kBadInput,
         "--start and --length run past"},
        {{"info", "--port", "/dev/null", "--baud", "+9600"}, kBadInput, "--baud takes 9600"},
        {{"readout", "--port", "/dev/null", "--target", "1", "--start", "0x100000", "--length", "1",
          "out.txt"},
         kBadInput,
         "--start lies outside a target's address space"},
        // Options that only program takes.
        {{"readout", "--port", "/dev/null", "--log", "x.csv"}, kBadInput, "unknown option --log"},
        {{"readout", "--port", "/dev/null", "--repeat", "2"}, kBadInput, "unknown option --repeat"},
        {{"readout", "--port", "/dev/null", "--secure", "o.txt"},
         kBadInput,
         "unknown option --secure"},
        {{"readout", "--port", "/dev/null", "--type", kA110}, kBadInput, "unknown option --type"},
        // The log: named, a log or empty, and not created by a command that fails before it.
        {{"program", "--port", "/dev/null", "--type", kA110, "--log", "", blink},
         kBadInput,
         "--log needs a file name"},
        {{"program", "--port", "/dev/null", "--type", kA110, "--log", blink, blink},
         kBadInput,
         "A110_blink.txt is not a traceability log"},
        {{"program", "--port", (folder.path() / "no-port").string(), "--type", kA110, "--log",
          newLog, blink},
         kUnitError,
         "no unit on "},
        // The read-out's file: a regular file the caller may write, or none yet.
        {readTo(""), kBadInput, "out needs a file name"},
        {readTo(folder.path().string()), kBadInput, "it is a folder"},
        {readTo("/dev/null"), kBadInput, "it is not a regular file"},
        {readTo(readOnly), kBadInput, "it is write-protected"},
        {readTo(out), kUnitError, "no unit on /dev/null"},
        // Serial records: a ledger and a whole scheme, or neither.
        {{"program", "--port", "/dev/null", "--type", kA110, "--serial-address", "0x1000",
          "--serial-start", "1", "--serial-end", "9", "--serial-format", "le32", blink},
         kBadInput,
         "serial records need --ledger"},
        {{"program", "--port", "/dev/null", "--type", kA110, "--ledger", newLedger, blink},
         kBadInput,
         "--ledger needs a serial scheme"},
        {{"program", "--port", "/dev/null", "--type", kA110, "--ledger", newLedger,
          "--serial-start", "1", "--serial-end", "9", "--serial-format", "le32", blink},
         kBadInput,
         "serial records need --serial-address"},
        {{"program", "--port", "/dev/null", "--type", kA110, "--ledger", newLedger,
          "--serial-address", "0x1000", "--serial-list", blink, "--serial-start", "1", blink},
         kBadInput,
         "--serial-list takes no --serial-start"},
        {{"program", "--port", "/dev/null", "--type", kA110, "--ledger", newLedger,
          "--serial-address", "0x1000", "--serial-start", "1", "--serial-format", "le32", blink},
         kBadInput,
         "serial numbers need --serial-start, --serial-end and --serial-format"},
        {{"program", "--port", "/dev/null", "--type", kA110, "--ledger", newLedger,
          "--serial-address", "0x1000", "--serial-start", "1", "--serial-end", "9",
          "--serial-format", "le32", "--serial-width", "4", blink},
         kBadInput,
         "--serial-width goes with --serial-format ascii"},
        {{"program", "--port", "/dev/null", "--type", kA110, "--serial-format", "le24", blink},
         kBadInput,
         "--serial-format takes le16, le32"},
        {{"program", "--port", "/dev/null", "--type", kA110, "--serial-address", "0x100000", blink},
         kBadInput,
         "--serial-address lies outside a target's address space"},
        {{"program", "--port", "/dev/null", "--type", kA110, "--serial-step", "0", blink},
         kBadInput,
         "--serial-step takes a step of 1 or more"},
        {{"program", "--port", "/dev/null", "--type", kA110, "--ledger", newLedger,
          "--serial-address", "0xFFFFE", "--serial-start", "1", "--serial-end", "9",
          "--serial-format", "le32", blink},
         kBadInput,
         "runs past a target's address space"},
        {{"program", "--port", "/dev/null", "--type", kA110, "--ledger", newLedger,
          "--serial-address", "0x1000", "--serial-start", "9", "--serial-end", "1",
          "--serial-format", "le32", blink},
         kBadInput,
         "the end 1 lies below the start 9"},
        {{"program", "--port", "/dev/null", "--type", kA110, "--ledger", newLedger,
          "--serial-address", "0x1000", "--serial-list", fifo, blink},
         kBadInput,
         "list.fifo is not a regular file"},
        {{"program", "--port", "/dev/null", "--type", kA110, "--ledger", newLedger,
          "--serial-address", "0x1000", "--serial-list", hugeList, blink},
         kBadInput,
         "huge.txt is larger than 8 MiB"},
        {{"info", "--port", "/dev/null", "--config", fifo},
         kBadInput,
         "list.fifo: not a regular file"},
        // Control characters typed are shown escaped, on the one line.
        {{"burn\n\x1B[2J\xE9"}, kBadInput, "unknown command \"burn\\x0A\\x1B[2J\\xE9\""},
    };
    for (const auto& c : cases) {
        const ToolRun run = runTool(c.args, folder.path());
        EXPECT_EQ(run.status, c.status) << c.message << ": " << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.message << ": " << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_TRUE(run.out.empty()) << run.out;
    }
    EXPECT_FALSE(fs::exists(newLog)) << "no header-only log";
    EXPECT_FALSE(fs::exists(newLedger)) << "no ledger made by a refused command";
    EXPECT_EQ(fileText(out + ".octo816-probe"), "kept");
    EXPECT_EQ(fileText(readOnly), "kept");
}

// The log holds every run the unit carried out, whatever becomes of the report: a reader
// that went away and a full disk are their own outcome after the log is written, and a log
// another process keeps locked is one after the chips are programmed.
TEST_F(CliTest, AReportOrALogThatCannotBeWrittenIsItsOwnOutcomeAndTheLogStaysTrue) {
    start({"target.all.type=ZEL816 A110"});
    const fs::path log = unit->folder() / "trace.csv";
    const std::vector<std::string> program = {"program",
                                              "--type",
                                              kA110,
                                              "--vcc",
                                              "3.0",
                                              "--json",
                                              "--repeat",
                                              "3",
                                              "--log",
                                              log,
                                              samplePath("A110_blink.txt")};
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    close(pipeEnds[0]); // the reader is gone before the first line
    ToolRun run = tool(program, pipeEnds[1]);
    close(pipeEnds[1]);
    EXPECT_EQ(run.status, kOutputFailed) << run.err;
    EXPECT_NE(run.err.find("the report cannot be written"), std::string::npos) << run.err;
    EXPECT_EQ(unit->state("run.main_processes"), "1");
    EXPECT_EQ(fileLines(log).size(), 1u + 8) << "the header and the one run carried out";

    const int full = open("/dev/full", O_WRONLY);
    run = tool({"types"}, full);
    close(full);
    EXPECT_EQ(run.status, kOutputFailed) << run.err;

    const int holder = open(log.c_str(), O_RDONLY);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    run = tool(program);
    close(holder);
    EXPECT_EQ(run.status, kNotLogged) << run.err;
    EXPECT_NE(run.err.find("run 1 programmed the chips but is not in the log: another process "
                           "held"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(unit->state("run.main_processes"), "2");
    EXPECT_EQ(fileLines(log).size(), 1u + 8);
}

// The whole pipeline with a worn socket: the unit's runs, the log the tool writes and the
// report read from it agree, socket by socket, with what the simulator did. Socket 3's runs
// without a chip are chips not found, except where three or more come in a row (a socket
// that held no chip then, counted as not in use).
TEST_F(CliTest, AWornSocketsRunsReachTheReportAsTheUnitCountedThem) {
    constexpr int kRuns = 20;
    start({"target.all.type=ZEL816 A110", "unit.serial=OCTO-000777", "fault.seed=7",
           "target.3.fault.connect_rate=0.5"});
    const fs::path log = unit->folder() / "L.csv";
    ToolRun run = tool({"program", "--type", kA110, "--vcc", "3.0", "--repeat",
                        std::to_string(kRuns), "--log", log, samplePath("A110_blink.txt")});
    EXPECT_EQ(run.status, kPassed) << run.err;
    ASSERT_EQ(unit->state("run.main_processes"), std::to_string(kRuns));
    const int reached = std::stoi(unit->state("target.3.runs"));
    ASSERT_GT(reached, 0);
    ASSERT_LT(reached, kRuns) << "the seed makes socket 3 miss some runs";
    // A line for each socket in use, found = 0 where no chip answered.
    const std::vector<std::string> lines = fileLines(log);
    ASSERT_EQ(lines.size(), 1u + 8 * kRuns);
    EXPECT_TRUE(lines.back().ends_with(",OCTO-000777," + std::to_string(kRuns) + ",,ecpv,1"))
        << lines.back();
    const auto fields = [](const std::string& line) {
        std::vector<std::string> out;
        std::stringstream text(line);
        for (std::string field; std::getline(text, field, ',');) {
            out.push_back(field);
        }
        return out;
    };
    const std::vector<std::string> header = fields(lines[0]);
    const auto target =
        static_cast<size_t>(std::find(header.begin(), header.end(), "target") - header.begin());
    ASSERT_EQ(header.back(), "found");
    std::vector<int> missedInARow; // socket 3's runs without a chip, by stretch
    bool before = false;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> line = fields(lines[i]);
        if (line.at(target) != "3") {
            continue;
        }
        const bool missed = line.back() == "0";
        if (missed && !before) {
            missedInARow.push_back(0);
        }
        if (missed) {
            ++missedInARow.back();
        }
        before = missed;
    }
    int notInUse = 0;
    int stretches = 0;
    for (const int missed : missedInARow) {
        notInUse += missed >= 3 ? missed : 0;
        stretches += missed >= 3 ? 1 : 0;
    }
    const int inUse = kRuns - notInUse;
    ASSERT_EQ(std::accumulate(missedInARow.begin(), missedInARow.end(), 0), kRuns - reached);

    run = runTool({"report", "--json", log.string()}, unit->folder());
    ASSERT_EQ(run.status, kPassed) << run.err;
    const auto socket = [](int n, int chips, int passed) {
        return "{\"socket\":" + std::to_string(n) + ",\"chips\":" + std::to_string(chips) +
               ",\"passed\":" + std::to_string(passed) +
               ",\"not_found\":" + std::to_string(chips - passed) +
               ",\"not_connected\":0,\"erase_check\":0,\"verify\":0,\"secure\":0,"
               "\"erase_or_program\":0,\"in_use\":" +
               std::to_string(chips) + "}";
    };
    std::string sockets;
    for (int n = 1; n <= 8; ++n) {
        sockets +=
            (n > 1 ? "," : "") + (n == 3 ? socket(n, inUse, reached) : socket(n, kRuns, kRuns));
    }
    EXPECT_EQ(run.out.substr(0, run.out.find(",\"first_pass_yield\"")),
              "{\"runs\":" + std::to_string(kRuns) +
                  ",\"chips\":" + std::to_string(7 * kRuns + inUse))
        << run.out;
    EXPECT_NE(run.out.find("\"units\":[{\"unit\":\"OCTO-000777\",\"runs\":" +
                           std::to_string(kRuns) + ",\"sockets\":[" + sockets + "]"),
              std::string::npos)
        << run.out;
    size_t listed = 0;
    for (size_t at = run.out.find("{\"socket\":3,\"from\":"); at != std::string::npos;
         at = run.out.find("{\"socket\":3,\"from\":", at + 1)) {
        ++listed;
    }
    EXPECT_EQ(listed, static_cast<size_t>(stretches)) << run.out;
    EXPECT_NE(run.out.find("\"asked\":{\"ecpv\":" + std::to_string(kRuns) + "}"),
              std::string::npos);
}

// --out writes a new file or replaces an earlier page; a log, a ledger or what a link leads
// to is left as it was, and the command fails.
TEST(CliReportTest, ThePageGoesOnlyToANewFileOrOverAnEarlierPage) {
    const TempFolder folder("octo_cli_out");
    const fs::path log = folder.path() / "trace.csv";
    std::ofstream(log) << trace::headerLine() << "\n";
    const fs::path ledger = folder.path() / "station.ledger";
    serials::SerialLedger::open(ledger.string(), serials::SerialScheme::numbers(
                                                     {1, 100, 1, serials::NumberFormat::Le32, 0}));
    const fs::path page = folder.path() / "week.html";
    ASSERT_EQ(runTool({"report", "--out", page.string(), log.string()}, folder.path()).status,
              kPassed);
    const fs::path toLog = folder.path() / "to-log.html";
    fs::create_symlink(log.filename(), toLog);
    const fs::path toPage = folder.path() / "to-page.html";
    fs::create_symlink(page.filename(), toPage);
    const fs::path empty = folder.path() / "empty.html";
    std::ofstream{empty};
    const struct {
        fs::path out;
        const char* refusal; // nullptr: the page is written
    } cases[] = {
        {log, "trace.csv is not a yield report page"},
        {ledger, "station.ledger is not a yield report page"},
        {toLog, "to-log.html is not a yield report page"},
        {"", "--out needs a file name"},
        {folder.path(), ": cannot be written: it is a folder"},
        {page, nullptr},
        {toPage, nullptr},
        {empty, nullptr},
        {folder.path() / "new.html", nullptr},
    };
    for (const auto& c : cases) {
        const std::string before = fs::is_regular_file(c.out) ? fileText(c.out) : "";
        // A second log with a run, so that a page written differs from one written before.
        const fs::path runs = folder.path() / "runs.csv";
        std::ofstream(runs) << trace::headerLine() << "\n2026-12-08T06:00:00Z,st,1.56,1.30,A,,"
                            << (&c - cases) + 1 << ",1,1,1,0,1,0,U,1,,ecpv,1\n";
        const ToolRun run =
            runTool({"report", "--out", c.out.string(), runs.string()}, folder.path());
        if (c.refusal != nullptr) {
            EXPECT_EQ(run.status, kBadInput) << c.out;
            EXPECT_NE(run.err.find(c.refusal), std::string::npos) << run.err;
            EXPECT_EQ(fs::is_regular_file(c.out) ? fileText(c.out) : "", before) << c.out;
            continue;
        }
        EXPECT_EQ(run.status, kPassed) << c.out << run.err;
        const std::string written = fileText(c.out);
        EXPECT_TRUE(written.starts_with("<!DOCTYPE html>")) << c.out;
        EXPECT_NE(written, before) << c.out;
    }
    EXPECT_TRUE(fs::is_symlink(toPage)) << "the link stays, the page behind it is replaced";
}

// A log of 500,000 units of one run each (names a hostile or broken writer made up): the
// first units found get panels, the others one row, so that the page stays small and the
// report needs little memory (it once made a 2.4 GB page with 7.5 GB).
TEST(CliReportTest, FiveHundredThousandUnitNamesMakeASmallPageInLittleMemory) {
    constexpr int kUnits = 500000;
    constexpr rlim_t kMemory = rlim_t{1} << 30;
    const TempFolder folder("octo_cli_units");
    const fs::path log = folder.path() / "names.csv";
    {
        std::ofstream out(log);
        out << trace::headerLine() << "\n";
        for (int u = 0; u < kUnits; ++u) {
            out << "2026-12-08T06:00:00Z,st,1.56,1.30,A,,1,1,1,1,0,1,0,u" << u << ",1,,ecpv,1\n";
        }
    }
    const fs::path page = folder.path() / "page.html";
    const ToolRun run =
        finishTool(startTool({"report", "--json", "--out", page.string(), log.string()},
                             folder.path(), -1, kMemory),
                   folder.path());
    ASSERT_EQ(run.status, kPassed) << run.err;
    EXPECT_LT(fs::file_size(page), uintmax_t{2} << 20);
    // Each run has the line of socket 1 alone: the other sockets were not in use.
    EXPECT_TRUE(run.out.starts_with("{\"runs\":500000,\"chips\":500000,")) << run.out.substr(0, 80);
    EXPECT_NE(run.out.find("\"other_units\":{\"units\":499800,\"runs\":499800,"),
              std::string::npos);
    size_t units = 0;
    for (size_t at = run.out.find("{\"unit\":"); at != std::string::npos;
         at = run.out.find("{\"unit\":", at + 1)) {
        ++units;
    }
    EXPECT_EQ(units, 200u);
}

// The alarm's least effect and the maintenance file as options, and as a job file's keys: a
// value refused is bad input before any log is read; the file cuts a socket's history.
TEST(CliReportTest, TheLeastEffectAndTheMaintenanceFileReachTheAlarm) {
    const TempFolder folder("octo_cli_alarm");
    // 400 runs 30 s apart: each socket fails once in 100 runs, socket 6 every other run from
    // run 200 on.
    const fs::path log = folder.path() / "line1.csv";
    {
        std::ofstream out(log);
        out << trace::headerLine() << "\n";
        for (int r = 0; r < 400; ++r) {
            std::array<char, 32> time{};
            std::snprintf(time.data(), time.size(), "2026-12-08T%02d:%02d:%02dZ", r * 30 / 3600,
                          r * 30 / 60 % 60, r * 30 % 60);
            for (int s = 1; s <= 8; ++s) {
                const bool failed =
                    (s == 6 && r >= 200 && r % 2 == 0) || (7 * r + 13 * s) % 100 == 0;
                out << time.data() << ",st,1.56,1.30,A,," << s
                    << (failed ? ",1,1,0,0,0" : ",1,1,1,0,1") << ",0,line1," << r + 1
                    << ",,ecpv,1\n";
            }
        }
    }
    const fs::path serviced = folder.path() / "serviced.csv";
    std::ofstream(serviced) << "time,unit,socket,note\n2026-12-08T18:00:00Z,line1,9,typo\n"
                               "2026-12-09,line1,all,new contacts\n";
    const fs::path job = folder.path() / "strict.toml";
    std::ofstream(job) << "min-ratio = 1000\n";
    const std::string alarm = "Unit line1, socket 6: ";
    const struct {
        std::vector<std::string> options;
        int status;
        const char* words; // in the output, or the refusal on standard error
        bool alarmed;
    } cases[] = {
        {{}, kPassed, "", true},
        {{"--min-ratio", "2.5", "--min-points", "0"}, kPassed, "", true},
        {{"--min-ratio", "1000"}, kPassed, "", false},
        {{"--min-points", "90"}, kPassed, "", false},
        {{"--config", job.string()}, kPassed, "", false},
        {{"--maintenance", serviced.string()},
         kPassed,
         "serviced.csv:2: socket \"9\" is not 1 to 8 or all, skipped",
         false},
        {{"--min-ratio", "1"}, kBadInput, "--min-ratio takes a ratio above 1", false},
        {{"--min-ratio", "0.5"}, kBadInput, "--min-ratio takes a ratio above 1", false},
        {{"--min-ratio", "x"}, kBadInput, "--min-ratio takes a ratio above 1", false},
        {{"--min-points", "-1"}, kBadInput, "--min-points takes percentage points", false},
        {{"--min-points", "100.5"}, kBadInput, "--min-points takes percentage points", false},
        {{"--maintenance", "none.csv"}, kBadInput, "none.csv: no such file", false},
        {{"--maintenance", ""}, kBadInput, "--maintenance needs a file name", false},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"report"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(log.string());
        const ToolRun run = runTool(args, folder.path());
        const std::string what = c.options.empty() ? "(none)" : c.options[0] + " " + c.options[1];
        EXPECT_EQ(run.status, c.status) << what << run.err;
        EXPECT_NE((c.status == kPassed && *c.words == '\0' ? run.out : run.err).find(c.words),
                  std::string::npos)
            << what << run.err;
        EXPECT_EQ(run.out.find(alarm) != std::string::npos, c.alarmed) << what << run.out;
        if (c.status != kPassed) {
            EXPECT_EQ(run.out, "") << what;
        }
    }
}

TEST(CliHelpTest, ACommandsHelpNamesItsOptions) {
    const TempFolder folder("octo_cli_help");
    const ToolRun run = runTool({"program", "--help"}, folder.path());
    EXPECT_EQ(run.status, kPassed) << run.err;
    for (const char* option : {"--port", "--type", "--erase", "--vcc", "--repeat", "--config"}) {
        EXPECT_NE(run.out.find(option), std::string::npos) << option << "\n" << run.out;
    }
}

TEST_F(CliTest, AFailingSelftestIsAUnitErrorWithItsNumber) {
    start({"selftest=4"});
    ToolRun run = tool({"selftest", "--json"});
    EXPECT_EQ(run.status, kUnitError);
    EXPECT_NE(run.err.find("selftest failed: unit error 4"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("\"result\":{\"code\":8,"), std::string::npos) << run.out;
}

TEST(CliSerialsTest, AListingShowsCountsRangesAndVoidsAndRefusesWhatIsNoLedger) {
    const TempFolder folder("octo_cli_serials");
    const std::string path = (folder.path() / "station.ledger").string();
    {
        using namespace serials;
        SerialLedger ledger =
            SerialLedger::open(path, SerialScheme::numbers({1, 100, 1, NumberFormat::Le32, 0}));
        constexpr std::array<int, kSockets> kAll = {1, 2, 3, 4, 5, 6, 7, 8};
        ledger.settle(ledger.reserve({"COM1", 0x1234u}, kAll),
                      {Outcome::Passed, Outcome::Passed, Outcome::Failed, Outcome::Passed,
                       Outcome::Passed, Outcome::NotConnected, Outcome::Passed, Outcome::Passed});
    }
    ToolRun run = runTool({"serials", "--ledger", path}, folder.path());
    EXPECT_EQ(run.status, kPassed) << run.err;
    EXPECT_NE(run.out.find("le32 from 1 to 100 step 1, 1 runs\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("programmed         6  1-2, 4-5, 7-8\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("  3  run 1 socket 3  failed  "), std::string::npos) << run.out;

    run = runTool({"serials", "--ledger", path, "--json"}, folder.path());
    EXPECT_EQ(run.status, kPassed) << run.err;
    EXPECT_NE(run.out.find("\"counts\":{\"reserved\":0,\"programmed\":6,\"void\":1,"
                           "\"released\":1,\"released_outside_scheme\":0},\"ranges\":{"
                           "\"reserved\":[],\"programmed\":"
                           "[{\"first\":1,\"last\":2},"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\"voids\":[{\"value\":\"03000000\",\"number\":3,\"reason\":"
                           "\"failed\",\"run\":1,\"socket\":3,"),
              std::string::npos)
        << run.out;

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"serials"},
          std::vector<std::string>{"serials", "--ledger", folder.path().string()}}) {
        run = runTool(args, folder.path());
        EXPECT_EQ(run.status, kBadInput) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

// The unit's image erase lasts long enough (3 s at the tests' time scale) for the test to
// act while the tool waits for it.
constexpr char kLongImageErase[] = "timing.erase_image_ms=300000";

TEST_F(CliTest, AnImageReplacedAfterItsCheckIsReportedWithTheCrcOfWhatWasLoaded) {
    start({"target.all.type=ZEL816 A110", kLongImageErase});
    const fs::path image = unit->folder() / "image.txt";
    const fs::path other = unit->folder() / "other.txt";
    const fs::path log = unit->folder() / "trace.csv";
    fs::copy_file(samplePath("A110_blink.txt"), image);
    std::ofstream(other) << "@FC00\n5A A5\nq\n";
    const pid_t pid = startTool({"program", "--port", unit->link(), "--type", kA110, "--vcc", "3.0",
                                 "--json", "--log", log.string(), image.string()},
                                unit->folder());
    ASSERT_TRUE(unit->waitFor("unit.working", "yes"));
    fs::rename(other, image);
    const ToolRun run = finishTool(pid, unit->folder());
    ASSERT_EQ(run.status, kPassed) << run.err << run.out;
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08X", objfile::imageCrc32(imageOfFile(image)));
    EXPECT_NE(run.out.find(std::string("\"image_bytes\":2,\"image_crc32\":\"") + crc + "\""),
              std::string::npos)
        << run.out;
    const std::vector<std::string> lines = fileLines(log);
    ASSERT_EQ(lines.size(), 1u + 8);
    EXPECT_NE(lines[1].find(std::string(",") + crc + ","), std::string::npos) << lines[1];
}

TEST_F(CliTest, ASecondProgramOnTheSamePortIsRefusedAtOnceAndTheFirstCompletes) {
    start({kLongImageErase});
    const fs::path firstFolder = unit->folder() / "first";
    fs::create_directory(firstFolder);
    const pid_t first = startTool({"erase-image", "--port", unit->link()}, firstFolder);
    ASSERT_TRUE(unit->waitFor("unit.working", "yes"));
    const ToolRun second = tool({"info"});
    EXPECT_EQ(second.status, kUnitError);
    EXPECT_NE(second.err.find("already in use? (code 2)"), std::string::npos) << second.err;
    const ToolRun run = finishTool(first, firstFolder);
    EXPECT_EQ(run.status, kPassed) << run.err;
    EXPECT_EQ(unit->state("image.0.state"), "erased");
}

// One line of the simulator's chip log: what reached a chip.
struct ChipRecord {
    int run = 0;
    int socket = 0;
    std::string data;
    bool verified = false;
};

std::vector<ChipRecord> chipRecords(const SimulatedUnit& unit) {
    static const std::regex kLine(
        R"(run=(\d+) socket=(\d) address=0x1000 data=([0-9a-f]+) verified=([01]))");
    std::vector<ChipRecord> records;
    for (const std::string& line : unit.chipLog()) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, kLine)) << line;
        if (!m.empty()) {
            records.push_back({std::stoi(m[1]), std::stoi(m[2]), m[3], m[4] == "1"});
        }
    }
    return records;
}

// Each target's record and its state in one run's JSON, socket n at n - 1.
std::vector<std::pair<std::string, std::string>> jsonRecords(const std::string& runJson) {
    static const std::regex kTarget(
        R"re(\{"target":(\d)[^}]*"record":"([0-9a-f]*)","record_state":"(\w+)"\})re");
    std::vector<std::pair<std::string, std::string>> records;
    for (auto it = std::sregex_iterator(runJson.begin(), runJson.end(), kTarget);
         it != std::sregex_iterator(); ++it) {
        records.emplace_back((*it)[2], (*it)[3]);
    }
    return records;
}

std::set<uint64_t> numbersIn(const std::vector<serials::NumberRun>& runs) {
    std::set<uint64_t> numbers;
    for (const serials::NumberRun& run : runs) {
        for (uint64_t n = run.first; n <= run.last; ++n) {
            numbers.insert(n);
        }
    }
    return numbers;
}

uint64_t le32Number(const std::string& hex) {
    uint64_t number = 0;
    for (size_t i = hex.size(); i >= 2; i -= 2) {
        number = number * 256 + std::stoul(hex.substr(i - 2, 2), nullptr, 16);
    }
    return number;
}

const serials::StateSummary& stateIn(const serials::LedgerSummary& s, serials::RecordState state) {
    return s.states[static_cast<size_t>(state)];
}

std::vector<std::string> serialProgram(const fs::path& ledger, const char* start, const char* end) {
    return {"program",
            "--type",
            kA110,
            "--vcc",
            "3.0",
            "--json",
            "--ledger",
            ledger.string(),
            "--serial-address",
            "0x1000",
            "--serial-start",
            start,
            "--serial-end",
            end,
            "--serial-format",
            "le32",
            samplePath("A110_blink.txt")};
}

TEST_F(CliTest, EachChipGetsItsOwnRecordAndTheChipLogTheLedgerAndTheJsonAgree) {
    start({"target.all.type=ZEL816 A110", "target.3.present=no", "target.5.fault.record=yes"});
    const fs::path ledger = unit->folder() / "station.ledger";
    // The scheme from a job file, as a line keeps it.
    const fs::path job = unit->folder() / "job.toml";
    std::ofstream(job) << "type = \"ZEL816 A110\"\nvcc = 3.0\nserial-address = \"0x1000\"\n"
                          "serial-start = 1\nserial-end = 100\nserial-format = \"le32\"\n";
    const ToolRun run = tool({"program", "--config", job.string(), "--ledger", ledger.string(),
                              "--json", "--repeat", "2", samplePath("A110_blink.txt")});
    EXPECT_EQ(run.status, kTargetsFailed) << run.err;

    std::vector<std::string> runs;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        runs.push_back(line);
    }
    ASSERT_EQ(runs.size(), 2u) << run.out;
    const std::vector<ChipRecord> chips = chipRecords(*unit);
    EXPECT_EQ(chips.size(), 2u * 7) << "no line for the empty socket";
    std::set<std::string> seen;
    for (const ChipRecord& chip : chips) {
        EXPECT_TRUE(seen.insert(chip.data).second) << chip.data << " reached two chips";
        const auto records = jsonRecords(runs[static_cast<size_t>(chip.run - 1)]);
        ASSERT_EQ(records.size(), 8u) << runs[static_cast<size_t>(chip.run - 1)];
        EXPECT_EQ(records[static_cast<size_t>(chip.socket - 1)],
                  std::make_pair(chip.data, std::string(chip.verified ? "programmed" : "void")))
            << "run " << chip.run << " socket " << chip.socket;
        EXPECT_EQ(chip.verified, chip.socket != 5) << chip.socket;
    }
    // The empty socket's record was never written; the next run gives it out first.
    const auto first = jsonRecords(runs[0]);
    const auto second = jsonRecords(runs[1]);
    ASSERT_EQ(first.size(), 8u);
    ASSERT_EQ(second.size(), 8u);
    EXPECT_EQ(first[2].second, "released");
    EXPECT_EQ(second[0], std::make_pair(first[2].first, std::string("programmed")));
    EXPECT_NE(run.out.find("\"record\":\"01000000\",\"record_state\":\"programmed\""),
              std::string::npos)
        << "socket 1 gets the scheme's first record, in le32";

    const serials::LedgerSummary summary = serials::SerialLedger::inspect(ledger.string());
    std::set<uint64_t> programmed;
    std::set<uint64_t> voided;
    for (const ChipRecord& chip : chips) {
        (chip.verified ? programmed : voided).insert(le32Number(chip.data));
    }
    EXPECT_EQ(numbersIn(stateIn(summary, serials::RecordState::Programmed).ranges), programmed);
    EXPECT_EQ(numbersIn(stateIn(summary, serials::RecordState::Void).ranges), voided);
    EXPECT_EQ(stateIn(summary, serials::RecordState::Released).count, 1u) << "run 2's empty socket";
    EXPECT_EQ(stateIn(summary, serials::RecordState::Reserved).count, 0u);

    const fs::path log = unit->folder() / "trace.csv";
    const ToolRun human = tool({"program", "--config", job.string(), "--ledger", ledger.string(),
                                "--log", log.string(), samplePath("A110_blink.txt")});
    EXPECT_NE(human.out.find("  target 1  connected yes  erase-checked yes  verified yes  secured "
                             "no   passed  record 0a000000 programmed\n"),
              std::string::npos)
        << human.out;
    // The log's last column names the record the target got.
    const std::vector<std::string> logged = fileLines(log);
    ASSERT_GE(logged.size(), 2u);
    EXPECT_TRUE(logged[1].ends_with(",0a000000")) << logged[1];
}

TEST_F(CliTest, AnUnplugDuringASerialRunVoidsItsRecordsAndTheNextRunGivesNewOnes) {
    // At full time scale the run takes over a second: long enough to pull the cable.
    start({"target.all.type=ZEL816 A110", "time_scale=1", "timing.erase_image_ms=0",
           "unplug.for_ms=300"});
    const fs::path ledger = unit->folder() / "station.ledger";
    const std::vector<std::string> program = serialProgram(ledger, "1", "100");
    std::vector<std::string> args = program;
    args.insert(args.begin() + 1, {"--port", unit->link()});
    const pid_t pid = startTool(args, unit->folder());
    ASSERT_TRUE(unit->waitFor("run.main_processes", "1"));
    unit->signal(SIGUSR1);
    const ToolRun unplugged = finishTool(pid, unit->folder());
    EXPECT_EQ(unplugged.status, kUnitError) << unplugged.err;
    ASSERT_TRUE(unit->waitFor("link.unplugs", "1"));
    ASSERT_TRUE(unit->waitFor("link.state", "plugged"));
    serials::LedgerSummary summary = serials::SerialLedger::inspect(ledger.string());
    EXPECT_EQ(stateIn(summary, serials::RecordState::Void).count, 8u) << "the run gave no result";

    const ToolRun run = tool(program);
    EXPECT_EQ(run.status, kPassed) << run.err;
    const std::vector<ChipRecord> chips = chipRecords(*unit);
    EXPECT_EQ(chips.size(), 16u);
    std::set<std::string> seen;
    for (const ChipRecord& chip : chips) {
        EXPECT_TRUE(seen.insert(chip.data).second) << chip.data << " reached two chips";
    }
    summary = serials::SerialLedger::inspect(ledger.string());
    EXPECT_EQ(numbersIn(stateIn(summary, serials::RecordState::Programmed).ranges),
              (std::set<uint64_t>{9, 10, 11, 12, 13, 14, 15, 16}));
}

// The ledger as the next run opens it (what a kill or a second stop left reserved becomes
// void): how many it found reserved, and the count in each state.
std::pair<uint64_t, std::array<uint64_t, serials::kStates>> openLedger(const fs::path& ledger) {
    const serials::SerialLedger opened = serials::SerialLedger::open(
        ledger.string(),
        serials::SerialScheme::numbers(
            {.start = 1, .end = 100, .step = 1, .format = serials::NumberFormat::Le32}));
    std::array<uint64_t, serials::kStates> counts{};
    for (size_t i = 0; i < counts.size(); ++i) {
        counts[i] = opened.summary().states[i].count;
    }
    return {opened.interruptedAtOpen(), counts};
}

// A stop before the main process hands the records back; during the unit's run it waits for
// the result, which settles and logs them; a second stop ends at once and leaves them to the
// next open. The series stops in each case, and the program ends by the signal.
TEST_F(CliTest, EachStopSignalAtEachPhaseOfASerialRun) {
    const struct {
        const char* setting; // makes the phase long enough to meet
        const char* key;     // the unit's state that says the phase has begun
        const char* value;
        bool second;
        size_t chips;
        const char* stopped; // the last line of standard error, after the signal's name
        std::pair<uint64_t, std::array<uint64_t, serials::kStates>> ledger;
    } phases[] = {
        // clang-format off
        {"timing.erase_image_ms=2500", "unit.last_command", "ImageErase", false, 0,
         " before run 1: its records are released\n", {0, {0, 0, 0, 8}}},
        {"timing.run_ms=2500", "run.main_processes", "1", false, 7,
         " after run 1\n", {0, {0, 6, 1, 1}}},
        {"timing.run_ms=2500", "run.main_processes", "1", true, 7,
         nullptr, {8, {0, 0, 8, 0}}},
        // clang-format on
    };
    const std::pair<int, const char*> signals[] = {
        {SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};
    for (const auto& [number, name] : signals) {
        for (const auto& p : phases) {
            SCOPED_TRACE(std::string(name) + " " + p.setting + (p.second ? " twice" : ""));
            start({"target.all.type=ZEL816 A110", "target.3.present=no",
                   "target.5.fault.record=yes", "time_scale=1", "timing.erase_image_ms=0",
                   p.setting});
            const fs::path log = unit->folder() / "trace.csv";
            std::vector<std::string> args = serialProgram(unit->folder() / "l", "1", "100");
            args.insert(args.begin() + 1,
                        {"--port", unit->link(), "--repeat", "2", "--log", log.string()});
            const pid_t pid = startTool(args, unit->folder());
            ASSERT_TRUE(unit->waitFor(p.key, p.value));
            kill(pid, number);
            for (int i = 0; p.second && i < 2000; ++i) {
                if (fileText(unit->folder() / "tool.err").find("stopping") != std::string::npos) {
                    kill(pid, number);
                    break;
                }
                usleep(10000);
            }
            const ToolRun run = finishTool(pid, unit->folder());
            EXPECT_EQ(run.signal, number) << run.err;
            if (p.stopped != nullptr) {
                EXPECT_TRUE(
                    run.err.ends_with(std::string("octo816: stopped by ") + name + p.stopped))
                    << run.err;
            } else {
                EXPECT_EQ(run.err.find("stopped by"), std::string::npos) << run.err;
            }
            EXPECT_EQ(unit->state("run.main_processes"), p.chips == 0 ? "0" : "1");
            EXPECT_EQ(openLedger(unit->folder() / "l"), p.ledger);
            // Each chip's record, and the log's line for it when the run was settled.
            const std::vector<ChipRecord> chips = chipRecords(*unit);
            EXPECT_EQ(chips.size(), p.chips);
            const std::vector<std::string> lines = fileLines(log);
            EXPECT_EQ(lines.size(), p.stopped && p.chips > 0 ? 1 + p.chips : 0);
            for (size_t i = 1; i < lines.size() && i <= chips.size(); ++i) {
                EXPECT_TRUE(lines[i].ends_with("," + chips[i - 1].data)) << lines[i];
            }
        }
    }
}

// A stop signal the caller ignores stays ignored (a hang-up under nohup): the series goes on,
// and a stop by another signal does not make it count either.
TEST_F(CliTest, AStopSignalIgnoredByTheCallerStaysIgnored) {
    start({"target.all.type=ZEL816 A110", "time_scale=1", "timing.erase_image_ms=0",
           "timing.run_ms=1500"});
    std::vector<std::string> args = serialProgram(unit->folder() / "l", "1", "100");
    args.insert(args.begin() + 1, {"--port", unit->link(), "--repeat", "2"});
    // The child keeps the disposition through fork and exec.
    const auto before = std::signal(SIGHUP, SIG_IGN);
    const pid_t pid = startTool(args, unit->folder());
    std::signal(SIGHUP, before);
    ASSERT_TRUE(unit->waitFor("run.main_processes", "1"));
    kill(pid, SIGHUP);
    ASSERT_TRUE(unit->waitFor("run.main_processes", "2"));
    kill(pid, SIGINT);
    for (int i = 0; i < 2000; ++i) {
        if (fileText(unit->folder() / "tool.err").find("stopping") != std::string::npos) {
            kill(pid, SIGHUP);
            break;
        }
        usleep(10000);
    }
    const ToolRun run = finishTool(pid, unit->folder());
    EXPECT_EQ(run.signal, SIGINT) << run.err;
    EXPECT_TRUE(run.err.ends_with("octo816: stopped by SIGINT after run 2\n")) << run.err;
}

// A stop waits for the command's end within a bound: here the report cannot be written, as a
// pipe its reader no longer empties holds it up. The run was settled and logged before.
TEST_F(CliTest, AStopThatTheCommandCannotMeetEndsItWithinItsWait) {
    start({"target.all.type=ZEL816 A110"});
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);
    for (size_t piece : {4096, 1}) {
        const std::string filler(piece, 'x');
        while (write(pipeFds[1], filler.data(), filler.size()) > 0) {
        }
    }
    fcntl(pipeFds[1], F_SETFL, 0);
    const fs::path log = unit->folder() / "trace.csv";
    std::vector<std::string> args = serialProgram(unit->folder() / "l", "1", "100");
    args.insert(args.begin() + 1, {"--port", unit->link(), "--log", log.string()});
    const pid_t pid = startTool(args, unit->folder(), pipeFds[1]);
    close(pipeFds[1]);
    for (int i = 0; i < 2000 && fileLines(log).size() < 1 + 8; ++i) {
        usleep(10000);
    }
    kill(pid, SIGTERM);
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 6000 && (ended = waitpid(pid, &status, WNOHANG)) == 0; ++i) {
        usleep(10000);
    }
    if (ended == 0) {
        ADD_FAILURE() << "octo816 still waits a minute after the stop";
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    close(pipeFds[0]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    const std::string err = fileText(unit->folder() / "tool.err");
    EXPECT_NE(err.find("in at most 10 s"), std::string::npos) << err;
    EXPECT_NE(err.find("did not stop within the stop's wait: ended at once"), std::string::npos)
        << err;
    EXPECT_EQ(openLedger(unit->folder() / "l"),
              std::make_pair(uint64_t{0}, std::array<uint64_t, serials::kStates>{0, 8, 0, 0}));
}

// The ledger names the unit by its serial number and its port; a run the unit counts as
// failed (50: its image memory lost the image) is settled by its result block, which says
// the unit reached no chip, so its records are given out again.
TEST_F(CliTest, TheLedgerNamesTheUnitAndAFailedRunIsSettledByItsBlock) {
    start({"target.all.type=ZEL816 A110", "target.3.present=no", "image.lost_at_run=2",
           "unit.serial=OCTO-0042"});
    const fs::path ledger = unit->folder() / "l";
    std::vector<std::string> args = serialProgram(ledger, "1", "100");
    args.insert(args.begin() + 1, {"--repeat", "2"});
    const ToolRun run = tool(args);
    EXPECT_EQ(run.status, kUnitError) << run.err;
    const std::vector<std::string> runs = fileLines(unit->folder() / "tool.out");
    ASSERT_EQ(runs.size(), 2u) << run.out;
    EXPECT_NE(runs[1].find("\"result\":{\"code\":50,"), std::string::npos) << runs[1];
    const auto records = jsonRecords(runs[1]);
    EXPECT_EQ(records.size(), 8u) << runs[1];
    for (const auto& [record, state] : records) {
        EXPECT_EQ(state, "released") << record;
    }
    EXPECT_EQ(openLedger(ledger).second, (std::array<uint64_t, serials::kStates>{0, 7, 0, 8}));
    serials::sqlite::Database db(ledger.string(), SQLITE_OPEN_READONLY);
    EXPECT_EQ(db.textOf("SELECT group_concat(DISTINCT unit) FROM runs"),
              "OCTO-0042 " + unit->link());
    EXPECT_EQ(db.textOf("SELECT group_concat(DISTINCT unit) FROM serials"),
              "OCTO-0042 " + unit->link());
}

TEST_F(CliTest, ASchemeThatCannotServeEverySocketIsRefusedBeforeTheUnitIsTouched) {
    start({"target.all.type=ZEL816 A110"});
    const fs::path ledger = unit->folder() / "station.ledger";
    ToolRun run = tool(serialProgram(ledger, "1", "7"));
    EXPECT_EQ(run.status, kBadInput) << run.err;
    EXPECT_NE(run.err.find("the serial scheme has run out"), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(unit->state("unit.commands"), "0");

    // No unit on the port: nothing is reserved before the unit has told its serial number.
    std::vector<std::string> noUnit = serialProgram(ledger, "1", "8");
    noUnit.insert(noUnit.begin() + 1, {"--port", (unit->folder() / "no-port").string()});
    run = runTool(noUnit, unit->folder());
    EXPECT_EQ(run.status, kUnitError) << run.err;
    for (const serials::StateSummary& state :
         serials::SerialLedger::inspect(ledger.string()).states) {
        EXPECT_EQ(state.count, 0u) << serials::stateName(state.state);
    }

    run = tool(serialProgram(ledger, "1", "8"));
    EXPECT_EQ(run.status, kPassed) << run.err;
    run = tool(serialProgram(ledger, "1", "8"));
    EXPECT_EQ(run.status, kBadInput) << run.err << " a used-up scheme";
    EXPECT_EQ(unit->state("run.main_processes"), "1");
    EXPECT_EQ(unit->chipLog().size(), 8u);
}

// Records the library refuses at the run never reached a chip: they are given out again.
TEST_F(CliTest, RecordsRefusedAtTheRunAreReleased) {
    const struct {
        const char* firmware;
        const char* address;
        const char* message;
    } cases[] = {
        {"firmware_version=0x156", "0x0200", "outside the device's flash and information memory"},
        {"firmware_version=0x155", "0x1000", "(code 57)"},
    };
    for (const auto& c : cases) {
        start({"target.all.type=ZEL816 A110", c.firmware});
        const fs::path ledger = unit->folder() / "station.ledger";
        std::vector<std::string> args = serialProgram(ledger, "1", "8");
        *(std::find(args.begin(), args.end(), "--serial-address") + 1) = c.address;
        const ToolRun run = tool(args);
        EXPECT_EQ(run.status, kUnitError) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(
            stateIn(serials::SerialLedger::inspect(ledger.string()), serials::RecordState::Released)
                .count,
            8u)
            << run.err;
        EXPECT_TRUE(unit->chipLog().empty());
    }
}

// The serial ledger's files and the log, as a line keeps them: the chip log is the truth.
std::vector<std::string> withLog(std::vector<std::string> args, const fs::path& log) {
    args.insert(args.end() - 1, {"--log", log.string()});
    return args;
}

std::vector<std::string> sideFiles(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with("-wal") || name.ends_with("-shm") || name.ends_with("-journal")) {
            found.push_back(name);
        }
    }
    return found;
}

// A plain copy of the ledger's file taken while a series runs holds every run settled before
// it; restored after more runs, it is refused while the log names what it lacks, and once
// reconciled it gives no record a second time.
TEST_F(CliTest, ACopyTakenMidSeriesIsTheLedgerAsItWasAndRestoredIsRefusedUntilReconciled) {
    start({"target.all.type=ZEL816 A110", "target.3.present=no", "target.5.fault.record=yes"});
    const fs::path ledger = unit->folder() / "station.ledger";
    const fs::path log = unit->folder() / "trace.csv";
    const fs::path copy = unit->folder() / "copy.ledger";
    std::vector<std::string> series = withLog(serialProgram(ledger, "1", "100000"), log);
    *(std::find(series.begin(), series.end(), "--json")) = "--repeat";
    series.insert(std::find(series.begin(), series.end(), "--repeat") + 1, "12");
    series.insert(series.begin() + 1, {"--port", unit->link()});
    const pid_t pid = startTool(series, unit->folder());
    ASSERT_TRUE(unit->waitFor("run.main_processes", "6"));
    fs::copy_file(ledger, copy);
    EXPECT_EQ(finishTool(pid, unit->folder()).status, kTargetsFailed);

    const serials::LedgerSummary copied = serials::SerialLedger::inspect(copy.string());
    EXPECT_GE(stateIn(copied, serials::RecordState::Programmed).count, 6u * 5)
        << "five runs settled before the copy, six chips passed in each";
    fs::copy_file(copy, ledger, fs::copy_options::overwrite_existing);
    const std::vector<std::string> one = withLog(serialProgram(ledger, "1", "100000"), log);
    ToolRun run = tool(one);
    EXPECT_EQ(run.status, kBadInput) << run.err;
    EXPECT_NE(run.err.find("is older than the log " + log.string() + ": line "), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("--reconcile " + log.string()), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(unit->state("run.main_processes"), "12") << "refused before the unit was touched";

    run = runTool({"serials", "--ledger", ledger.string(), "--reconcile", log.string()},
                  unit->folder());
    EXPECT_EQ(run.status, kPassed) << run.err;
    EXPECT_NE(run.out.find(" void; "), std::string::npos) << run.out;
    run = tool(one);
    EXPECT_EQ(run.status, kTargetsFailed) << run.err;
    std::set<std::string> seen;
    for (const ChipRecord& chip : chipRecords(*unit)) {
        EXPECT_TRUE(seen.insert(chip.data).second) << chip.data << " reached two chips";
    }
    EXPECT_EQ(seen.size(), 13u * 7);
}

// While a station holds the ledger for a series, a listing and a copy read it as of its last
// commit, and no file is made beside it.
TEST_F(CliTest, AListingAndABackupDuringASeriesReadTheLedgerAndMakeNoFile) {
    start({"target.all.type=ZEL816 A110"});
    const fs::path ledger = unit->folder() / "station.ledger";
    const fs::path copy = unit->folder() / "copy.ledger";
    std::vector<std::string> series = serialProgram(ledger, "1", "100000");
    *(std::find(series.begin(), series.end(), "--json")) = "--repeat";
    series.insert(std::find(series.begin(), series.end(), "--repeat") + 1, "40");
    series.insert(series.begin() + 1, {"--port", unit->link()});
    const pid_t pid = startTool(series, unit->folder());
    ASSERT_TRUE(unit->waitFor("run.main_processes", "2"));
    const fs::path reader = unit->folder() / "reader";
    fs::create_directory(reader);
    ToolRun run = runTool({"serials", "--ledger", ledger.string()}, reader);
    EXPECT_EQ(run.status, kPassed) << run.err;
    EXPECT_NE(run.out.find("in use by a station"), std::string::npos) << run.out;
    run = runTool({"serials", "--ledger", ledger.string(), "--backup", copy.string()}, reader);
    EXPECT_EQ(run.status, kPassed) << run.err;
    for (const std::string& name : sideFiles(unit->folder())) {
        EXPECT_TRUE(name.ends_with("-journal")) << name << ": only a commit's own journal";
    }
    EXPECT_EQ(finishTool(pid, unit->folder()).status, kPassed);
    EXPECT_TRUE(sideFiles(unit->folder()).empty());
    const serials::LedgerSummary copied = serials::SerialLedger::inspect(copy.string());
    EXPECT_GE(stateIn(copied, serials::RecordState::Programmed).count, 8u);
    EXPECT_FALSE(copied.inUse);
}

// What a ledger path can be that is no ledger to write: refused before the unit is touched,
// with one line, the file as it was and nothing left beside it.
TEST_F(CliTest, ALedgerThatIsNoPlainLedgerIsRefusedBeforeTheUnitIsTouched) {
    start({"target.all.type=ZEL816 A110"});
    const fs::path good = unit->folder() / "good.ledger";
    ASSERT_EQ(tool(serialProgram(good, "1", "100")).status, kPassed);
    const auto crafted = [&](const char* name, const char* sql) {
        const fs::path path = unit->folder() / name;
        fs::copy_file(good, path);
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
        sqlite3_close(db);
        return path;
    };
    const fs::path pipe = unit->folder() / "pipe.ledger";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const fs::path foreignWal = unit->folder() / "wal.ledger";
    fs::copy_file(good, foreignWal);
    std::ofstream(foreignWal.string() + "-wal", std::ios::binary) << std::string(4096, 'w');
    const struct {
        fs::path path;
        const char* words;
        bool writerRefuses; // a writer never reads the rows the change made too long
    } cases[] = {
        {crafted("trigger.ledger", "CREATE TRIGGER back AFTER UPDATE ON serials BEGIN UPDATE "
                                   "serials SET state = 'released'; END"),
         "is no serial ledger or is damaged", true},
        {crafted("view.ledger", "CREATE VIEW forever AS WITH RECURSIVE c(i) AS (SELECT 1 UNION "
                                "ALL SELECT i + 1 FROM c) SELECT i FROM c"),
         "is no serial ledger or is damaged", true},
        {crafted("long.ledger", "UPDATE serials SET reason = hex(zeroblob(100000))"),
         "is no serial ledger or is damaged", false},
        {pipe, "it is not a regular file", true},
        {foreignWal, "-wal beside it that is not its own", true},
    };
    for (const auto& c : cases) {
        const fs::path kept = c.path.string() + ".kept";
        if (c.path != pipe) {
            fs::copy_file(c.path, kept);
        }
        const std::vector<std::string> sides = sideFiles(unit->folder());
        for (const bool listing : {true, false}) {
            if (!listing && !c.writerRefuses) {
                continue;
            }
            const ToolRun run =
                listing ? runTool({"serials", "--ledger", c.path.string()}, unit->folder())
                        : tool(serialProgram(c.path, "1", "100"));
            EXPECT_EQ(run.status, kBadInput) << c.path << " " << run.err;
            EXPECT_NE(run.err.find(c.words), std::string::npos) << run.err;
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        }
        if (c.path != pipe) {
            EXPECT_TRUE(fileText(c.path) == fileText(kept)) << c.path << " changed";
        }
        EXPECT_EQ(sideFiles(unit->folder()), sides) << c.path;
    }
    EXPECT_EQ(unit->state("run.main_processes"), "1");
}

// A ledger path written as an SQLite URI is a file name: two stations given it are one
// ledger's holder and a refused second.
TEST_F(CliTest, ALedgerPathWrittenAsAUriIsAFileName) {
    start({"target.all.type=ZEL816 A110", kLongImageErase});
    const std::string name = "file:u6.ledger?vfs=unix-none";
    std::vector<std::string> first = serialProgram(name, "1", "100");
    first.insert(first.begin() + 1, {"--port", unit->link()});
    // The name is relative: the tools run in the unit's folder.
    const fs::path was = fs::current_path();
    fs::current_path(unit->folder());
    const pid_t pid = startTool(first, unit->folder());
    fs::current_path(was);
    ASSERT_TRUE(unit->waitFor("unit.working", "yes"));
    const fs::path other = unit->folder() / "other";
    fs::create_directory(other);
    fs::create_symlink(unit->folder() / name, other / name);
    std::vector<std::string> second = serialProgram(name, "1", "100");
    second.insert(second.begin() + 1, {"--port", (unit->folder() / "no-port").string()});
    fs::current_path(other);
    const ToolRun refused = runTool(second, other);
    fs::current_path(was);
    EXPECT_EQ(refused.status, kBadInput) << refused.err;
    EXPECT_NE(refused.err.find("is in use by another program"), std::string::npos) << refused.err;
    EXPECT_EQ(finishTool(pid, unit->folder()).status, kPassed);
    EXPECT_TRUE(fs::is_regular_file(unit->folder() / name));
    EXPECT_FALSE(fs::exists(unit->folder() / "u6.ledger"));
}

// --find and --export say of each record what the chips got.
TEST_F(CliTest, FindAndExportAgreeWithTheChipLog) {
    start({"target.all.type=ZEL816 A110", "target.5.fault.record=yes"});
    const fs::path ledger = unit->folder() / "station.ledger";
    ASSERT_EQ(tool(serialProgram(ledger, "1000", "2000")).status, kTargetsFailed);
    const std::vector<ChipRecord> chips = chipRecords(*unit);
    ASSERT_EQ(chips.size(), 8u);
    for (const ChipRecord& chip : chips) {
        const std::string state = chip.verified ? "programmed" : "void";
        const std::string number = std::to_string(le32Number(chip.data));
        for (const std::string& value : {chip.data, number}) {
            ToolRun run =
                runTool({"serials", "--ledger", ledger.string(), "--find", value}, unit->folder());
            EXPECT_EQ(run.status, kPassed) << run.err;
            EXPECT_NE(run.out.find("record " + number + " (" + chip.data + "): " + state +
                                   ", run 1 socket " + std::to_string(chip.socket) + ", unit "),
                      std::string::npos)
                << run.out;
        }
        const ToolRun json =
            runTool({"serials", "--ledger", ledger.string(), "--find", chip.data, "--json"},
                    unit->folder());
        EXPECT_NE(json.out.find("\"records\":[{\"value\":\"" + chip.data +
                                "\",\"number\":" + number + ",\"state\":\"" + state +
                                "\",\"run\":1,\"socket\":" + std::to_string(chip.socket) + ","),
                  std::string::npos)
            << json.out;
    }
    ToolRun run =
        runTool({"serials", "--ledger", ledger.string(), "--find", "3000"}, unit->folder());
    EXPECT_EQ(run.status, kPassed) << run.err;
    EXPECT_NE(run.out.find("3000: not in the ledger"), std::string::npos) << run.out;

    const fs::path csv = unit->folder() / "programmed.csv";
    run =
        runTool({"serials", "--ledger", ledger.string(), "--export", csv.string()}, unit->folder());
    EXPECT_EQ(run.status, kPassed) << run.err;
    const std::vector<std::string> lines = fileLines(csv);
    ASSERT_EQ(lines.size(), 1u + 7);
    EXPECT_EQ(lines[0], "value,number,run,socket,unit,time,image_crc32");
    std::set<std::string> exported;
    for (size_t i = 1; i < lines.size(); ++i) {
        exported.insert(lines[i].substr(0, lines[i].find(',')));
    }
    std::set<std::string> verified;
    for (const ChipRecord& chip : chips) {
        if (chip.verified) {
            verified.insert(chip.data);
        }
    }
    EXPECT_EQ(exported, verified);
    // Only an earlier export is replaced: not the ledger, not a log.
    const fs::path log = unit->folder() / "trace.csv";
    std::ofstream(log) << "time,station\n";
    for (const fs::path& target : {ledger, log}) {
        const std::string before = fileText(target);
        run = runTool({"serials", "--ledger", ledger.string(), "--export", target.string()},
                      unit->folder());
        EXPECT_EQ(run.status, kBadInput) << target;
        EXPECT_EQ(fileText(target), before) << target;
    }
}

// The ledger's texts reach the terminal as printable text: a control sequence a crafted or
// damaged ledger holds is shown, never obeyed.
TEST(CliSerialsTest, TheLedgersTextsArePrintedAsText) {
    const TempFolder folder("octo_cli_serials");
    const std::string path = (folder.path() / "station\x1b[2J.ledger").string();
    {
        using namespace serials;
        SerialLedger ledger =
            SerialLedger::open(path, SerialScheme::numbers({1, 100, 1, NumberFormat::Le32, 0}));
        constexpr std::array<int, kSockets> kAll = {1, 2, 3, 4, 5, 6, 7, 8};
        ledger.settleWithoutResult(ledger.reserve({"COM1\x07", 0x1234u}, kAll), "bad\x1b]0;x\x07");
    }
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"serials", "--ledger", path},
          std::vector<std::string>{"serials", "--ledger", path, "--find", "1"}}) {
        const ToolRun run = runTool(args, folder.path());
        EXPECT_EQ(run.status, kPassed) << run.err;
        EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find('\x07'), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("bad\\x1B]0;x\\x07"), std::string::npos) << run.out;
    }
}

} // namespace
} // namespace octo::testing
