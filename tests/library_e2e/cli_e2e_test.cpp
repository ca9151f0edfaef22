// octo816.exe under Wine against the simulated unit on COM1: a line's program run with its
// JSON and its traceability log, through the real OCTO816.DLL.
#include "SimulatedUnit.h"
#include "WinePaths.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
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
    EXPECT_NE(lines.find(",1.56,1.30,ZEL816 A110,037874A1,8,1,1,1,0,1,0,OCTO-000001,1,\n"),
              std::string::npos)
        << lines;
}

} // namespace
} // namespace octo::testing
