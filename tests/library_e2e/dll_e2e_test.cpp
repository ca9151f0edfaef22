// The real OCTO816.DLL under Wine: it loads, resolves its 22 names, carries FileVersion
// 1.56, talks to the simulated unit through Wine's COM1, and keeps its calls whole while
// the caller's window handlers torture its message pump.
#include "Operations.h"
#include "SimulatedUnit.h"
#include "WinePaths.h"

#include "support/EveryExport.h"

#include <octo816.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <unistd.h>

namespace octo::testing {
namespace {

// Runs a client program of the DLL under Wine and returns its output lines as
// "key" -> "rest".
std::multimap<std::string, std::string> runClient(const std::string& program,
                                                  const std::vector<std::string>& args) {
    const std::filesystem::path exe = std::filesystem::path(OCTO_WINDOWS_BIN_DIR) / program;
    if (!std::filesystem::exists(exe) ||
        !std::filesystem::exists(std::filesystem::path(OCTO_WINDOWS_BIN_DIR) / "OCTO816.DLL")) {
        ADD_FAILURE() << "build the windows preset first: " << exe;
        return {};
    }
    const auto output =
        std::filesystem::temp_directory_path() / ("octo-dll-check-" + std::to_string(getpid()));
    std::string command =
        quoted(std::string(OCTO_REPOSITORY_DIR) + "/scripts/wine-run") + " " + quoted(exe.string());
    for (const auto& arg : args) {
        command += " " + quoted(arg);
    }
    command += " >" + quoted(output.string()) + " 2>/dev/null";
    const int status = std::system(command.c_str());
    EXPECT_EQ(status, 0) << command;
    std::ifstream in(output);
    std::multimap<std::string, std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const auto space = line.find(' ');
        lines.emplace(line.substr(0, space),
                      space == std::string::npos ? "" : line.substr(space + 1));
    }
    std::filesystem::remove(output);
    return lines;
}

// The simulated unit on the link the test prefix maps COM1 to.
std::filesystem::path com1Link() {
    const char* prefix = std::getenv("OCTO_WINEPREFIX");
    return std::filesystem::path(prefix ? prefix : OCTO_WINEPREFIX_DIR) / "com1";
}

std::string first(const std::multimap<std::string, std::string>& lines, const std::string& key) {
    const auto found = lines.find(key);
    return found == lines.end() ? "<missing>" : found->second;
}

TEST(LibraryDll, LoadsUnderWineWithAll22NamesAndFileVersion156AndTalksOnCom1) {
    // The test prefix (the one scripts/wine-run uses) maps COM1 onto this link.
    SimulatedUnit unit({"time_scale=0.01"}, com1Link());
    const auto sample = samplePath("A110_blink.txt");
    const auto readout = unit.folder() / "target1.txt";
    const auto lines = runClient("octo_dll_check.exe", {"\\\\.\\COM1", windowsPath(sample),
                                                        "ZEL816 A110", windowsPath(readout)});

    EXPECT_EQ(first(lines, "loaded"), "yes");
    std::vector<std::string> names;
#define OCTO_NAME(name) names.push_back(#name);
    OCTO816_EXPORTS(OCTO_NAME)
#undef OCTO_NAME
    ASSERT_EQ(names.size(), 22u);
    EXPECT_EQ(lines.count("export"), 22u);
    for (const auto& name : names) {
        bool found = false;
        for (auto [it, end] = lines.equal_range("export"); it != end; ++it) {
            found = found || it->second == name + " yes";
        }
        EXPECT_TRUE(found) << name;
    }
    std::vector<std::string> targetData;
#define OCTO_NAME(name) targetData.push_back(std::string(#name) + " yes");
    OCTO816_TARGET_DATA_EXPORTS(OCTO_NAME)
    OCTO816_UNIT_INFO_EXPORTS(OCTO_NAME)
#undef OCTO_NAME
    std::vector<std::string> found;
    for (auto [it, end] = lines.equal_range("export_target_data"); it != end; ++it) {
        found.push_back(it->second);
    }
    EXPECT_EQ(found, targetData);
    EXPECT_EQ(first(lines, "fileversion"), "1.56");

    EXPECT_EQ(first(lines, "initcom"), "0");
    EXPECT_EQ(first(lines, "result"), "0 0130 0156 OCTO816-156");
    EXPECT_EQ(first(lines, "erase"), "0");
    EXPECT_EQ(first(lines, "load"), "0");
    EXPECT_EQ(unit.state("image.0.state"), "complete");
    EXPECT_TRUE(unit.slot(0) == imageOfFile(sample));

    // Eight targets programmed; target 1 read back over the same file name twice.
    EXPECT_EQ(first(lines, "run"), "0 FF");
    EXPECT_EQ(first(lines, "readout"), "0");
    EXPECT_EQ(first(lines, "readout_again"), "0");
    const objfile::Image back = imageOfFile(readout);
    EXPECT_EQ(back.byteCount(), 0x400u);
    const objfile::Image programmed = imageOfFile(sample);
    for (const auto& piece : programmed.runs()) {
        for (size_t i = 0; i < piece.bytes.size(); ++i) {
            EXPECT_EQ(back.at(piece.start + static_cast<uint32_t>(i)), piece.bytes[i]);
        }
    }
    EXPECT_FALSE(temporaryLeftovers(readout.parent_path())) << readout.parent_path();
}

// One outer call of the torture client: "<code> <ms> <handled>".
struct OuterCall {
    int code = -1;
    long long ms = -1;
    int handled = -1;
};

OuterCall outerCall(const std::multimap<std::string, std::string>& lines, const std::string& key) {
    OuterCall call;
    std::istringstream(first(lines, key)) >> call.code >> call.ms >> call.handled;
    return call;
}

TEST(LibraryDll, CallsFromInsideThePumpAreRefusedAndTortureLeavesTheCallsWhole) {
    constexpr long long kBlockMs = 2000;
    // An erase the unit takes 300 ms for: the library pumps many times while it waits.
    SimulatedUnit unit({"time_scale=1", "timing.erase_image_ms=300"}, com1Link());
    const auto sample = samplePath("A110_blink.txt");
    const auto scratch = unit.folder() / "never_written.txt";
    const auto lines =
        runClient("octo_dll_torture.exe", {"pump", "\\\\.\\COM1", windowsPath(sample),
                                           "ZEL816 A110", windowsPath(scratch)});
    EXPECT_EQ(first(lines, "initcom"), "0");

    // All 22 called from the window's handler while an erase waits.
    EXPECT_EQ(outerCall(lines, "nested_erase").code, 0);
    EXPECT_EQ(outerCall(lines, "nested_erase").handled, 1);
    EXPECT_EQ(lines.count("nested"), 22u);
    for (auto [it, end] = lines.equal_range("nested"); it != end; ++it) {
        std::istringstream fields(it->second);
        std::string name;
        int code = -1;
        fields >> name >> code;
        EXPECT_EQ(code, codeInsideThePump(name)) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(scratch));

    // A handler that posts itself again each time it runs: the erase still ends.
    const OuterCall selfPost = outerCall(lines, "selfpost_erase");
    EXPECT_EQ(selfPost.code, 0);
    EXPECT_GT(selfPost.handled, 1);

    // A handler that blocks for 2 s, in an erase and in an image load.
    for (const char* key : {"block_erase", "block_load"}) {
        const OuterCall blocked = outerCall(lines, key);
        EXPECT_EQ(blocked.code, 0) << key;
        EXPECT_EQ(blocked.handled, 1) << key;
        EXPECT_GE(blocked.ms, kBlockMs) << key;
    }

    // The unit and the link serve the next calls.
    EXPECT_EQ(first(lines, "after_result"), "0");
    EXPECT_EQ(first(lines, "after_load"), "0");
    EXPECT_EQ(unit.state("image.0.state"), "complete");
    EXPECT_TRUE(unit.slot(0) == imageOfFile(sample));
}

} // namespace
} // namespace octo::testing
