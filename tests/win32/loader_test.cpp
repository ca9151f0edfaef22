// The run-time loader of the Programmer library and the Win32 platform services.
#include "win32/DllProgrammerLibrary.h"
#include "win32/Win32Platform.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <string>

namespace octo {
namespace {

std::string besideThisProgram(const std::string& name) {
    Win32Platform platform;
    std::string path = platform.modulePath();
    return path.substr(0, path.find_last_of('\\') + 1) + name;
}

TEST(DllLoader, ResolvesAll22FunctionsAndPassesArgumentsInOrder) {
    auto library = loadDllProgrammerLibrary(besideThisProgram("octo_loader_complete.dll"));
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(library->initProgress(nullptr, nullptr), 1);
    EXPECT_EQ(library->initCom("\\\\.\\COM3", 115200), 8 * 1000000 + 115200);
    EXPECT_EQ(library->releaseCom(), 5);
    EXPECT_EQ(library->getErrorString(7), "seven");
    const OctoSegmentEntry* table = nullptr;
    EXPECT_EQ(library->getDevice("ZEL816 A110", &table), 0);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table[0].start, 0xF000u);
    EXPECT_EQ(library->loadParameters(3, 30, 12), 3 * 10000 + 30 * 100 + 12);
    EXPECT_EQ(library->mainProcess(650), 651);
    std::array<uint8_t, OCTO_RESULT_BLOCK_BYTES> block{};
    EXPECT_EQ(library->getResult(block.data()), 0);
    EXPECT_EQ(block[255], 255);
    EXPECT_EQ(library->selftest(50), 52);
    EXPECT_EQ(library->eraseImage(), 11);
    EXPECT_EQ(library->loadImage("abc", "de"), 302);
    EXPECT_EQ(library->appendImage(), 12);
    EXPECT_EQ(library->selectImage(1), 4);
    EXPECT_EQ(library->eraseFirmware(0x8000, 0x6000), 0x2000);
    EXPECT_EQ(library->loadFirmware("__TempLoader__"), 14);
    EXPECT_EQ(library->selectBaudrate(3), 6);
    EXPECT_EQ(library->setVccTarget(30), 34);
    EXPECT_EQ(library->readTargetFile(2, 0x1100, 0x100, "x.txt", 1), 2000 + 0x1000 + 50 + 1);
    EXPECT_EQ(library->setSignals(0x8000, 30), 0x8000 - 30);
    uint16_t value = 0x0101;
    EXPECT_EQ(library->accessTargetSfr(1, 3, 0x22, &value), 13);
    EXPECT_EQ(value, 0x0123);
    EXPECT_EQ(library->checkFirmware("OCTO.TXT"), 28);
    // The unit's record is looked up on its own: a library without it loads and says so.
    std::string serial = "kept";
    uint32_t runs = 7;
    EXPECT_EQ(library->getUnitInfo(serial, runs), kNotAvailableResult);
    EXPECT_EQ(serial + std::to_string(runs), "kept7");
}

TEST(DllLoader, TargetRecordCallsReachTheirExportsOrAnswerThatTheLibraryLacksThem) {
    const uint8_t record[] = {0xe8, 0x03, 0x00, 0x07};
    auto records = loadDllProgrammerLibrary(besideThisProgram("octo_loader_records.dll"));
    ASSERT_NE(records, nullptr);
    EXPECT_EQ(records->setTargetData(3, 0x1000, record, 4), 300000 + 0x1000 + 70 + 4);
    EXPECT_EQ(records->clearTargetData(), 15);
    auto without = loadDllProgrammerLibrary(besideThisProgram("octo_loader_complete.dll"));
    ASSERT_NE(without, nullptr) << "the 21 suffice to load";
    EXPECT_EQ(without->setTargetData(3, 0x1000, record, 4), kNotAvailableResult);
    EXPECT_EQ(without->clearTargetData(), kNotAvailableResult);
}

TEST(DllLoader, RefusesALibraryThatLacksAFunctionOrDoesNotExist) {
    EXPECT_EQ(loadDllProgrammerLibrary(besideThisProgram("octo_loader_incomplete.dll")), nullptr);
    EXPECT_EQ(loadDllProgrammerLibrary(besideThisProgram("no_such_library.dll")), nullptr);
    // The refused module was released again.
    EXPECT_EQ(GetModuleHandleA("octo_loader_incomplete.dll"), nullptr);
}

TEST(Win32Platform, FindsFilesAndVersionStrings) {
    Win32Platform platform;
    const std::string self = platform.modulePath();
    EXPECT_TRUE(self.ends_with(".exe")) << self;
    EXPECT_TRUE(platform.fileExists(self));
    EXPECT_FALSE(platform.fileExists(besideThisProgram("missing.ini")));
    // This test program carries the program's own version resource.
    EXPECT_EQ(platform.fileVersionString(self, "FileVersion"), "1.56");
    EXPECT_EQ(platform.fileVersionString(self, "NoSuchValue"), "???");
    EXPECT_EQ(
        platform.fileVersionString(besideThisProgram("octo_loader_complete.dll"), "FileVersion"),
        "???");
    EXPECT_EQ(platform.fileVersionString(besideThisProgram("missing.dll"), "FileVersion"), "???");
}

} // namespace
} // namespace octo
