// The maintenance commands on a real configuration file: the self-test series with failing
// runs and the operator's Exit, the self-test outcomes, the firmware upgrade's loader rule,
// the refused firmware file, the start-up offer, and the read-out's file and supply.
#include "ops/Maintenance.h"
#include "support/DialogWithIni.h"

#include <objfile/firmware.h>
#include <objfile/writers.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

namespace octo {
namespace {

using testing::FakeLibrary;

constexpr char kCompleted[] = "Firmware update completed.";
constexpr int kNotWritten = -999;

class FakeSubDialogs final : public SubDialogs {
public:
    void runAboutBox() override {}
    bool runReadOutDialog() override { return true; }
    void runSignalsDialog() override {}
};

class MaintenanceTest : public testing::DialogWithIni {
protected:
    MaintenanceTest() {
        for (int bitmap : {IDB_LAMP_RED, IDB_LAMP_GREEN_TICK, IDB_LAMP_INFO, IDB_LAMP_GREY}) {
            view.loadBitmap(bitmap);
        }
        dialog.results().fillStatusLampTable();
        dialog.progress().setPeriod(100);
        unitVersions(0x0156, 0x0200);
    }
    std::string status() const { return view.text(IDC_STATUS_LINE); }
    // The identification OctoGetResult hands out: version words high byte first.
    void unitVersions(uint16_t firmware, uint16_t third) {
        auto& block = library->resultBlock;
        block[10] = firmware >> 8, block[11] = firmware & 0xFF;
        block[30] = third >> 8, block[31] = third & 0xFF;
    }
    std::string file(const std::string& name, const objfile::Image& image) {
        std::ofstream(folder.file(name)) << objfile::writeObject(image, objfile::Format::QxText);
        return folder.file(name);
    }
    std::string firmwareFile() {
        return file("OCTO816-156.TXT",
                    objfile::buildFirmwareImage(0x0156, "FW", std::vector<uint8_t>(64, 0x5A)));
    }
    // The library calls from index `from` on, as letters.
    std::string letters(std::size_t from) const {
        static const std::map<std::string, char> kLetters = {
            {"OctoGetResult", 'i'},
            {"OctoEraseFirmware 32768 24576", 'l'},
            {"OctoLoadFirmware __TempLoader__", 'T'},
            {"OctoEraseFirmware 9216 55808", 'f'},
            {"OctoSetVccTarget 30", 'v'},
            {"OctoSetVccTarget 1", 'o'}};
        std::string text;
        for (std::size_t i = from; i < library->callLog().size(); ++i) {
            const std::string call = library->callLog()[i];
            const std::string name = call.substr(0, call.find(' '));
            text += kLetters.contains(call)        ? kLetters.at(call)
                    : name == "OctoLoadFirmware"   ? 'F'
                    : name == "OctoCheckFirmware"  ? 'c'
                    : name == "OctoLoadParameters" ? 'P'
                    : name == "OctoReadTargetFile" ? 'R'
                                                   : '?';
        }
        return text;
    }

    FakeSubDialogs subDialogs;
    Maintenance maintenance{
        {{view, platform, dialog.librarySlot(), dialog.profile(), dialog.settings(),
          dialog.deviceType(), dialog.flags(), state, dialog.statusLine(), dialog.bracket(),
          dialog.progress(), dialog.targetPower()},
         dialog.unitInfo(),
         dialog.imageLoader(),
         subDialogs}};
};

TEST_F(MaintenanceTest, ASeriesCountsFailedRunsAndEndsOnExitButNotWhileLocked) {
    enum { kNoExit, kExit, kExitLocked };
    for (const int exit : {kNoExit, kExit, kExitLocked}) {
        ini("[User]\r\nRepeatSelftest=4\r\n");
        // The run the operator's Exit ends is the last: nothing is left scripted for later.
        library->script("OctoSelftest", exit == kExit ? std::initializer_list<int32_t>{0}
                                                      : std::initializer_list<int32_t>{0, 8, 5, 0});
        library->resultBlock[kMiscErrorsByte] = 6;
        const int before = library->calls("OctoSelftest");
        const std::size_t boxes = view.messageBoxes().size();
        std::vector<std::string> during;
        std::vector<uint32_t> startedAt;
        const uint32_t startMs = platform.now;
        library->whileWaiting = [&](const std::string& function) {
            if (function != "OctoSelftest") {
                return;
            }
            during.push_back(view.text(IDC_EXECUTE) + (view.isEnabled(IDC_EXECUTE) ? "" : " off") +
                             (view.mouseCaptured() ? " captured" : "") + " " + status());
            startedAt.push_back(platform.now - startMs);
            if (exit != kNoExit && during.size() == 1) {
                dialog.settings().showSettings = exit == kExitLocked ? 0 : 1;
                view.click(IDC_EXECUTE);
                EXPECT_EQ(status() == "Continual Selftest terminated.", exit == kExit);
                EXPECT_EQ(view.isEnabled(IDC_EXECUTE), exit != kExit);
            }
        };
        view.click(IDC_EXECUTE);
        EXPECT_EQ(library->calls("OctoSelftest") - before, 1) << "the next run waits in the queue";
        view.runPosted();

        const int runs = exit == kExit ? 1 : 4;
        EXPECT_EQ(library->calls("OctoSelftest") - before, runs) << exit;
        EXPECT_EQ(during, std::vector<std::string>(runs, "E&xit Executing Selftest...")) << exit;
        if (exit != kExit) {
            EXPECT_EQ(startedAt, (std::vector<uint32_t>{0, 750, 750, 750})) << "after a pass";
        }
        EXPECT_EQ(view.text(IDC_EXECUTE), "E&xecute") << exit;
        EXPECT_TRUE(view.isEnabled(IDC_EXECUTE)) << exit;
        if (exit != kExit) {
            EXPECT_EQ(status(), "Continual Selftest terminated.") << exit;
            ASSERT_EQ(view.messageBoxes().size(), boxes + 2) << exit;
            EXPECT_EQ(view.messageBoxes()[boxes].text, "Error at ZEL-OCTO816 hardware!");
            EXPECT_EQ(view.messageBoxes()[boxes + 1].text, "Communication Error!");
            EXPECT_EQ(view.messageBoxes()[boxes + 1].caption, "CE-Test Error");
        }
        dialog.settings().showSettings = exit == kExitLocked ? 0 : 1;
    }
    const std::size_t calls = library->callLog().size();
    view.click(IDC_EXECUTE);
    EXPECT_EQ(library->callLog().size(), calls) << "locked, Execute does nothing";
}

TEST_F(MaintenanceTest, SelftestOutcomeNamesTheFailedPartOrTheMissingAnswer) {
    const struct {
        int32_t selftest, getResult;
        std::string status;
    } cases[] = {
        {0, 0, "Selftest passed."},
        {8, 0, "ERROR: Selftest failed - Target Voltage Generator (VCCT) does not work properly !"},
        {8, 8, "ERROR: Result of operation not received !"},
        {8, 99, "ERROR: Result of operation not received !"},
        {8, 6, FakeLibrary::errorText(6)},
        {6, 0, FakeLibrary::errorText(6)},
    };
    library->resultBlock[kMiscErrorsByte] = 6;
    library->whileWaiting = [&](const std::string& function) {
        platform.now += 1234;
        EXPECT_TRUE(function != "OctoSelftest" || view.timerRunning(ID_TIMER_PROGRESS));
    };
    for (const auto& c : cases) {
        ini("");
        library->script("OctoSelftest", {c.selftest});
        library->setFallback("OctoGetResult", c.getResult);
        view.click(IDC_EXECUTE);
        EXPECT_EQ(status(), c.status) << c.selftest << " " << c.getResult;
        EXPECT_EQ(iniInt("Timing", "TimeSelfTest"), c.selftest == 0 ? 1234 : kNotWritten);
        EXPECT_FALSE(view.timerRunning(ID_TIMER_PROGRESS));
        EXPECT_FALSE(view.mouseCaptured());
    }
}

TEST_F(MaintenanceTest, UpgradeTakesTheTemporaryLoaderByTheUnitsVersionsAndStopsAtAFailure) {
    const struct {
        const char* name;
        int32_t unitAnswer;
        uint16_t firmware, third;
        std::initializer_list<int32_t> erases, loads;
        const char* calls;
        bool completed;
    } cases[] = {
        // clang-format off
        {"third word 0x200 loads directly",       0, 0x0156, 0x0200, {},     {},   "cifF",    true},
        {"third word 0x1FF takes the loader",     0, 0x0156, 0x01FF, {},     {},   "cillTfF", true},
        {"up to 1.45 no third word counts",       0, 0x0145, 0x0300, {},     {},   "cillTfF", true},
        {"a unit that does not answer",           5, 0x0156, 0x0200, {},     {},   "cillTfF", true},
        {"the first loader erase does not count", 0, 0x0156, 0,      {8, 0}, {},   "cillTfF", true},
        {"the second loader erase fails",         0, 0x0156, 0,      {0, 8}, {},   "cill",    false},
        {"the temporary loader fails",            0, 0x0156, 0,      {},     {8},  "cillT",   false},
        {"the firmware area is not erased",       0, 0x0156, 0x0200, {8},    {},   "cif",     false},
        {"the firmware is not loaded",            0, 0x0156, 0x0200, {},     {18}, "cifF",    false},
        // clang-format on
    };
    view.fileChoice = {1, firmwareFile()};
    view.selectRow(IDC_CATEGORY, kCategoryUpgradeFirmware);
    for (const auto& c : cases) {
        ini("");
        unitVersions(c.firmware, c.third);
        library->script("OctoGetResult", {c.unitAnswer});
        library->script("OctoEraseFirmware", c.erases);
        library->script("OctoLoadFirmware", c.loads);
        state.lastResult = 7;
        view.setText(IDC_STATUS_LINE, "");
        const std::size_t from = library->callLog().size();
        view.click(IDC_EXECUTE);
        EXPECT_EQ(letters(from), c.calls) << c.name;
        EXPECT_EQ(state.lastResult, c.completed ? 0 : 1) << c.name;
        EXPECT_EQ(status() == kCompleted, c.completed) << c.name;
        // The temporary loader's start (0.6 s) and the new firmware's (1 s) are waited for.
        const bool loader = std::string(c.calls).find('T') != std::string::npos;
        EXPECT_EQ(iniInt("Timing", "TimeLoadFirmware"),
                  c.completed ? (loader ? 1600 : 1000) : kNotWritten)
            << c.name;
    }
}

TEST_F(MaintenanceTest, AFileTheLibraryWouldRefuseLeavesTheUnitUntouched) {
    objfile::Image noHeader;
    noHeader.insert(0xF000, std::vector<uint8_t>{1, 2, 3});
    std::ofstream(folder.file("TEXT.TXT")) << "hello\n";
    const std::pair<std::string, const char*> cases[] = {
        {folder.file("none.TXT"), "ERROR: Unable to load Firmware. Correct file format?"},
        {folder.file("TEXT.TXT"), "ERROR: Unable to load Firmware. Correct file format?"},
        {file("DATA.TXT", noHeader), "ERROR: Selected file is not a Firmware Update file !"},
    };
    view.selectRow(IDC_CATEGORY, kCategoryUpgradeFirmware);
    for (const auto& [path, text] : cases) {
        view.fileChoice = {1, path};
        state.lastResult = 0;
        const std::size_t from = library->callLog().size();
        view.click(IDC_EXECUTE);
        ASSERT_EQ(library->callLog().size(), from + 1) << path;
        EXPECT_EQ(library->callLog().back(), "OctoCheckFirmware " + path);
        EXPECT_EQ(status(), text) << path;
        EXPECT_EQ(state.lastResult, 1) << path;
    }
}

TEST_F(MaintenanceTest, TheStartupOfferRunsTheUpgradeAndJudgesOnlyItsResult) {
    const struct {
        int chosenFilter;
        int32_t load;
        std::string status;
    } cases[] = {
        {1, 0, kCompleted},
        {1, 8, FakeLibrary::errorText(1)},
        {0, 0, "ZEL-OCTO816 Octo Programmer connected."},
    };
    const std::string path = firmwareFile();
    unitVersions(0x0155, 0x0200);
    for (const auto& c : cases) {
        state.lastResult = 462; // what a failed target power left behind
        view.answerMessageBoxes({mb::kIdYes});
        view.fileChoice = {c.chosenFilter, path};
        library->setFallback("OctoLoadFirmware", c.load);
        dialog.checkFirmwareVersion();
        EXPECT_EQ(status(), c.status);
    }
}

TEST_F(MaintenanceTest, EraseImageKeepsTheLibrarysAnswerAndTimesOnlyASuccess) {
    view.selectRow(IDC_CATEGORY, kCategoryEraseImage);
    bool barRunning = false;
    library->whileWaiting = [&](const std::string& function) {
        if (function == "OctoEraseImage") {
            barRunning = view.timerRunning(ID_TIMER_PROGRESS) && view.mouseCaptured();
            platform.now += 1500;
        }
    };
    platform.now = 1000;
    for (const int32_t answer : {0, 13}) {
        ini("");
        state.lastResult = 7;
        library->script("OctoEraseImage", {answer});
        view.click(IDC_EXECUTE);
        EXPECT_EQ(state.lastResult, answer);
        EXPECT_EQ(iniInt("Timing", "TimeEraseImage"), answer == 0 ? 1500 : kNotWritten);
        EXPECT_TRUE(barRunning) << answer;
        EXPECT_FALSE(view.timerRunning(ID_TIMER_PROGRESS) || view.mouseCaptured()) << answer;
    }
}

TEST_F(MaintenanceTest, TargetConnectorOpensTheSignalsDialog) {
    view.selectRow(IDC_CATEGORY, kCategoryTargetConnector);
    view.click(IDC_EXECUTE);
    EXPECT_EQ(view.openedDialogs(), std::vector<int>{IDD_SIGNALS});
}

TEST_F(MaintenanceTest, Test1PowersTargetOneAndAccessesItsPortOnlyWhenTheSupplyIsSet) {
    for (const int32_t supply : {0, 8}) {
        library->script("OctoSetVccTarget", {supply});
        const std::size_t from = library->callLog().size();
        maintenance.onTest1();
        const std::vector<std::string> calls(library->callLog().begin() + from,
                                             library->callLog().end());
        std::vector<std::string> expected = {"OctoSetVccTarget 32"};
        if (supply == 0) {
            expected.insert(expected.end(),
                            {"OctoAccessTargetSFR 1 3 34 257", "OctoAccessTargetSFR 1 1 33 4403",
                             "OctoAccessTargetSFR 1 4 33 65535"});
        }
        EXPECT_EQ(calls, expected) << supply;
    }
}

TEST(ReadOutPath, TheFormatsExtensionIsAppendedUnlessThePathEndsInItCaseSensitively) {
    const std::tuple<int, const char*, const char*> cases[] = {
        {1, "a", "a.txt"},     {1, "a.txt", "a.txt"}, {1, "a.TXT", "a.TXT.txt"},
        {2, "a", "a.hex"},     {2, "a.hex", "a.hex"}, {2, "a.txt", "a.txt.hex"},
        {3, "a.bin", "a.bin"}, {0, "a", "a"}};
    for (const auto& [format, chosen, written] : cases) {
        EXPECT_EQ(readOutPath(chosen, format), written) << format << chosen;
    }
}

TEST_F(MaintenanceTest, ASupplySwitchedOnForAReadOutIsSwitchedOffEvenWhenTheReadFails) {
    // Supplied, switched, and the results of the parameters, the supply and the read.
    const struct {
        int supplyByProg, switchVccOff;
        int32_t parameters, supply, read;
        const char* calls;
    } cases[] = {
        {1, 1, 0, 0, 0, "PvRvo"}, {1, 1, 0, 0, 8, "PvRvo"}, {1, 0, 0, 0, 8, "PR"},
        {0, 1, 0, 0, 0, "PR"},    {1, 1, 8, 0, 0, "P"},     {1, 1, 0, 8, 0, "Pv"},
    };
    view.saveChoice = {1, folder.file("out.txt")};
    library->whileWaiting = [&](const std::string& function) {
        platform.now += function == "OctoReadTargetFile" ? 2000 : 0;
    };
    for (const auto& c : cases) {
        ini("");
        dialog.settings().supplyByProg = c.supplyByProg;
        dialog.settings().switchVccOff = c.switchVccOff;
        dialog.showMembers();
        library->setFallback("OctoLoadParameters", c.parameters);
        library->setFallback("OctoSetVccTarget", c.supply);
        library->setFallback("OctoReadTargetFile", c.read);
        const std::size_t from = library->callLog().size();
        maintenance.readOutTarget();
        EXPECT_EQ(letters(from), c.calls) << c.calls << " read " << c.read;
        const bool timed = std::string(c.calls).find('R') != std::string::npos && c.read == 0;
        EXPECT_EQ(iniInt("Timing", "TimeReadoutTarget"), timed ? 2000 : kNotWritten) << c.calls;
    }
}

TEST_F(MaintenanceTest, AReadOutSendsItsOwnOptionsAndCountsTheTargetsFromZero) {
    const struct {
        int useDlk, dlkAble, eraseBsl;
        uint32_t options;
    } cases[] = {
        {0, 1, 0, 0x2000},
        {1, 1, 1, 0x2000 | 0x800 | 0x10000},
        {1, 0, 0, 0x2000},
    };
    view.selectRow(IDC_CATEGORY, kCategoryReadOutTarget);
    const std::string chosen = folder.file("out");
    view.saveChoice = {kIntelHexFormat, chosen};
    bool lockedDuringRead = false;
    library->whileWaiting = [&](const std::string& function) {
        lockedDuringRead =
            function == "OctoReadTargetFile" ? view.mouseCaptured() : lockedDuringRead;
    };
    for (const auto& c : cases) {
        dialog.settings().useDlk = c.useDlk;
        dialog.settings().eraseBslSegm = c.eraseBsl;
        dialog.settings().jtagSpeed = 2;
        dialog.deviceType().dlkAble = c.dlkAble;
        dialog.showMembers();
        view.operateNextDialog([](testing::InMemoryView& readOut) {
            readOut.setEditText(IDC_READOUT_TARGET, "3");
            readOut.setEditText(IDC_READOUT_START, "0x1000");
            readOut.setEditText(IDC_READOUT_LENGTH, "0x20");
            readOut.click(IDC_DIALOG_OK);
        });
        const std::size_t from = library->callLog().size();
        view.click(IDC_EXECUTE);
        const std::vector<std::string> calls(library->callLog().begin() + from,
                                             library->callLog().end());
        EXPECT_EQ(calls, (std::vector<std::string>{
                             "OctoLoadParameters " + std::to_string(c.options) + " 30 200",
                             "OctoReadTargetFile 2 4096 32 " + chosen + ".hex 2"}))
            << c.useDlk << c.dlkAble;
        EXPECT_EQ(status(), "Reading target 3 ...");
        EXPECT_TRUE(lockedDuringRead);
        EXPECT_FALSE(view.mouseCaptured());
    }
}

TEST_F(MaintenanceTest, TheReadOutPathIsTriedFirstAndAnExistingFileKeepsItsContent) {
    std::ofstream(folder.file("old.txt")) << "old content";
    std::ofstream(folder.file("ro.txt")) << "write-protected";
    std::filesystem::permissions(folder.file("ro.txt"), std::filesystem::perms::owner_read);
    std::filesystem::create_symlink("/dev/null", folder.file("null.txt"));
    // The chosen file, whether the read starts, and the file after a failed read.
    const std::tuple<const char*, bool, std::optional<std::string>> cases[] = {
        {"none/a.txt", false, std::nullopt},
        {"old.txt", true, "old content"},
        {"new.txt", true, std::nullopt},
        {"ro.txt", false, "write-protected"}, // refused whoever runs the program
        {"null.txt", false, ""},              // a device, also behind a link
    };
    library->setFallback("OctoReadTargetFile", 13);
    for (const auto& [chosen, read, after] : cases) {
        view.saveChoice = {1, folder.file(chosen)};
        view.setText(IDC_STATUS_LINE, "");
        const int reads = library->calls("OctoReadTargetFile");
        maintenance.readOutTarget();
        EXPECT_EQ(library->calls("OctoReadTargetFile") - reads, read ? 1 : 0) << chosen;
        EXPECT_EQ(status() == "ERROR: Unable to open file !", !read) << chosen;
        std::ifstream in(folder.file(chosen));
        EXPECT_EQ(in ? std::optional(std::string(std::istreambuf_iterator<char>(in), {}))
                     : std::nullopt,
                  after)
            << chosen;
    }
}

} // namespace
} // namespace octo
