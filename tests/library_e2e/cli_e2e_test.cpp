// octo816.exe under Wine against the simulated unit on COM1: a line's program run with its
// JSON and its traceability log, through the real OCTO816.DLL, and Ctrl-C during a run.
#include "SimulatedUnit.h"
#include "WinePaths.h"
#include "serials/serial_ledger.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace octo::testing {
namespace {

namespace fs = std::filesystem;

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(CliUnderWine, ProgramsEightTargetsOnCom1WithJsonAndTraceLog) {
    const fs::path exe = fs::path(OCTO_WINDOWS_BIN_DIR) / "cli" / "octo816.exe";
    ASSERT_TRUE(fs::exists(exe)) << "build the windows preset first: " << exe;
    const char* prefix = std::getenv("OCTO_WINEPREFIX");
    SimulatedUnit unit({"time_scale=0.01", "target.all.type=ZEL816 A110"},
                       fs::path(prefix ? prefix : OCTO_WINEPREFIX_DIR) / "com1");
    const fs::path log = unit.folder() / "trace.csv";
    const fs::path out = unit.folder() / "octo816.out";
    const std::vector<std::string> args = {"program",
                                           "--port",
                                           "COM1",
                                           "--type",
                                           "ZEL816 A110",
                                           "--vcc",
                                           "3.0",
                                           "--json",
                                           "--log",
                                           windowsPath(log),
                                           windowsPath(samplePath("A110_blink.txt"))};
    std::string command =
        quoted(std::string(OCTO_REPOSITORY_DIR) + "/scripts/wine-run") + " " + quoted(exe.string());
    for (const std::string& arg : args) {
        command += " " + quoted(arg);
    }
    command += " >" + quoted(out.string()) + " 2>" + quoted((unit.folder() / "wine.err").string());

    const int status = std::system(command.c_str());

    const std::string json = fileText(out);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << status << "\n"
        << json << fileText(unit.folder() / "wine.err");
    EXPECT_NE(json.find("\"device_type\":\"ZEL816 A110\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"image_crc32\":\"037874A1\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"passed\":true}\r\n"), std::string::npos) << json;
    EXPECT_EQ(unit.state("run.main_processes"), "1");
    const std::string lines = fileText(log);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 1 + 8) << lines;
    // The unit's serial number and run count, through the DLL's optional export.
    EXPECT_NE(lines.find(",1.56,1.30,ZEL816 A110,037874A1,8,1,1,1,0,1,0,OCTO-000001,1,,ecpv,1\n"),
              std::string::npos)
        << lines;
}

fs::path prefixDir() {
    const char* prefix = std::getenv("OCTO_WINEPREFIX");
    return prefix ? fs::path(prefix) : fs::path(OCTO_WINEPREFIX_DIR);
}

// Starts octo816.exe under Wine itself (no shell between), so that a signal reaches it: Wine
// turns SIGINT into the console's Ctrl-C event. Its output goes to files of folder.
pid_t startUnderWine(const std::vector<std::string>& args, const fs::path& folder) {
    std::vector<std::string> argv = {"wine",
                                     (fs::path(OCTO_WINDOWS_BIN_DIR) / "cli" / "octo816.exe")};
    argv.insert(argv.end(), args.begin(), args.end());
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("WINEPREFIX", prefixDir().c_str(), 1);
        setenv("WINEARCH", "win32", 1);
        setenv("WINEDEBUG", "-all", 1);
        dup2(open((folder / "tool.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
             STDOUT_FILENO);
        dup2(open((folder / "tool.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
             STDERR_FILENO);
        std::vector<char*> pointers;
        for (std::string& arg : argv) {
            pointers.push_back(arg.data());
        }
        pointers.push_back(nullptr);
        execvp("wine", pointers.data());
        _exit(127);
    }
    return pid;
}

// One Ctrl-C during the unit's run: the run's records are settled and logged, then the
// program ends with 130. A second one ends it at once, its records left to the next open.
TEST(CliUnderWine, CtrlCDuringARunWaitsForItsResultAndASecondEndsAtOnce) {
    ASSERT_EQ(std::system((std::string(OCTO_REPOSITORY_DIR) + "/scripts/wineprefix").c_str()), 0);
    const struct {
        int stops;
        uint64_t programmed;
        uint64_t interrupted;
        size_t logLines;
    } cases[] = {{1, 8, 0, 1 + 8}, {2, 0, 8, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.stops) + " Ctrl-C");
        SimulatedUnit unit({"target.all.type=ZEL816 A110", "time_scale=1",
                            "timing.erase_image_ms=0", "timing.run_ms=3000"},
                           prefixDir() / "com1");
        const fs::path ledger = unit.folder() / "station.ledger";
        const fs::path log = unit.folder() / "trace.csv";
        std::vector<std::string> args = {"program", "--port", "COM1", "--type", "ZEL816 A110"};
        std::istringstream words("--vcc 3.0 --repeat 2 --serial-address 0x1000 --serial-start 1 "
                                 "--serial-end 100 --serial-format le32");
        for (std::string word; words >> word;) {
            args.push_back(word);
        }
        args.insert(args.end(), {"--log", windowsPath(log), "--ledger", windowsPath(ledger),
                                 windowsPath(samplePath("A110_blink.txt"))});
        const pid_t tool = startUnderWine(args, unit.folder());
        const fs::path err = unit.folder() / "tool.err";
        EXPECT_TRUE(unit.waitFor("run.main_processes", "1", std::chrono::seconds(60)));
        kill(tool, SIGINT);
        for (int i = 0; c.stops == 2 && i < 3000; ++i) {
            if (fileText(err).find("octo816: stopping") != std::string::npos) {
                kill(tool, SIGINT);
                break;
            }
            usleep(10000);
        }
        int status = 0;
        waitpid(tool, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status << fileText(err);
        EXPECT_EQ(fileText(err).find("stopped by Ctrl-C after run 1") != std::string::npos,
                  c.stops == 1)
            << fileText(err);
        EXPECT_EQ(unit.state("run.main_processes"), "1");
        const std::string lines = fileText(log);
        EXPECT_EQ(static_cast<size_t>(std::count(lines.begin(), lines.end(), '\n')), c.logLines)
            << lines;
        const serials::SerialLedger opened = serials::SerialLedger::open(
            ledger.string(),
            serials::SerialScheme::numbers(
                {.start = 1, .end = 100, .step = 1, .format = serials::NumberFormat::Le32}));
        EXPECT_EQ(opened.interruptedAtOpen(), c.interrupted);
        EXPECT_EQ(
            opened.summary().states[static_cast<size_t>(serials::RecordState::Programmed)].count,
            c.programmed);
        unit.waitFor("unit.working", "no");
    }
    // As scripts/wine-run ends each run: the prefix's server goes with its last program.
    const std::string kill = "WINEPREFIX=" + quoted(prefixDir().string()) + " wineserver -k";
    static_cast<void>(std::system(kill.c_str()));
}

} // namespace
} // namespace octo::testing
