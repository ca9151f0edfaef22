// The maintenance commands on a real configuration file: the self-test series with failing
// runs and the operator's Exit, the self-test outcomes, the firmware upgrade's loader rule,
// the refused firmware file, the start-up offer, and the read-out's file and supply.
#include "ops/Maintenance.h"
#include "support/DialogWithIni.h"

#include <objfile/firmware.h>
#include <objfile/writers.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>

namespace octo {
namespace {

using testing::DialogWithIni;
using testing::FakeLibrary;

constexpr char kConnected[] = "ZEL-OCTO816 Octo Programmer connected.";
constexpr char kCompleted[] = "Firmware update completed.";
constexpr int kNotWritten = -999;

class FakeSubDialogs final : public SubDialogs {
public:
    void runAboutBox() override {}
    bool runReadOutDialog() override { return true; }
    void runSignalsDialog() override {}
};

class MaintenanceTest : public DialogWithIni {
protected:
    MaintenanceTest() {
        for (int bitmap : {IDB_LAMP_RED, IDB_LAMP_GREEN_TICK, IDB_LAMP_INFO, IDB_LAMP_GREY}) {
            view.loadBitmap(bitmap);
        }
        dialog.results().fillStatusLampTable();
        dialog.targetPower().fillTargetPowerLists();
        dialog.progress().setPeriod(100);
        dialog.showMembers();
        unitVersions(0x0156, 0x0200);
    }
    std::string status() const { return view.text(IDC_STATUS_LINE); }
    // The identification OctoGetResult hands out: version words high byte first.
    void unitVersions(uint16_t firmware, uint16_t third) {
        library->resultBlock[10] = static_cast<uint8_t>(firmware >> 8);
        library->resultBlock[11] = static_cast<uint8_t>(firmware);
        library->resultBlock[30] = static_cast<uint8_t>(third >> 8);
        library->resultBlock[31] = static_cast<uint8_t>(third);
    }
    std::string file(const std::string& name, const std::string& content) {
        std::ofstream(folder.file(name), std::ios::binary) << content;
        return folder.file(name);
    }
    static std::string objectText(const objfile::Image& image) {
        return objfile::writeObject(image, objfile::Format::QxText);
    }
    std::string firmwareFile() {
        const std::vector<uint8_t> code(64, 0x5A);
        return file("OCTO816-156.TXT", objectText(objfile::buildFirmwareImage(0x0156, "FW", code)));
    }
    // The library calls from index `from` on as letters.
    std::string letters(std::size_t from) const {
        std::string text;
        const auto& calls = library->callLog();
        for (std::size_t i = from; i < calls.size(); ++i) {
            const std::string& c = calls[i];
            text += c == "OctoGetResult"                     ? 'i'
                    : c == "OctoEraseFirmware 32768 24576"   ? 'l'
                    : c == "OctoLoadFirmware __TempLoader__" ? 'T'
                    : c == "OctoEraseFirmware 9216 55808"    ? 'f'
                    : c.starts_with("OctoLoadFirmware ")     ? 'F'
                    : c.starts_with("OctoLoadParameters ")   ? 'P'
                    : c == "OctoSetVccTarget 30"             ? 'v'
                    : c == "OctoSetVccTarget 1"              ? 'o'
                    : c.starts_with("OctoReadTargetFile ")   ? 'R'
                                                             : '?';
        }
        return text;
    }

    FakeSubDialogs subDialogs;
    Maintenance maintenance{{view, platform, dialog.librarySlot(), dialog.profile(),
                             dialog.settings(), dialog.deviceType(), dialog.flags(), state,
                             dialog.unitInfo(), dialog.statusLine(), dialog.bracket(),
                             dialog.progress(), dialog.targetPower(), dialog.imageLoader(),
                             subDialogs}};
};

TEST_F(MaintenanceTest, ASelftestSeriesCountsFailedRunsAndKeepsExitUsable) {
    ini("[User]\r\nRepeatSelftest=4\r\n");
    library->script("OctoSelftest", {0, 8, 5, 0});
    library->resultBlock[kMiscErrorsByte] = 6;
    std::vector<std::string> during;
    library->whileWaiting = [&](const std::string& function) {
        if (function == "OctoSelftest") {
            during.push_back(view.text(IDC_EXECUTE) + (view.isEnabled(IDC_EXECUTE) ? "" : " off") +
                             (view.mouseCaptured() ? " captured" : ""));
        }
    };
    view.click(IDC_EXECUTE);
    view.runPosted();

    EXPECT_EQ(during, std::vector<std::string>(4, "E&xit"));
    ASSERT_EQ(view.messageBoxes().size(), 2u);
    EXPECT_EQ(view.messageBoxes()[0].text, "Error at ZEL-OCTO816 hardware!");
    EXPECT_EQ(view.messageBoxes()[1].text, "Communication Error!");
    for (const auto& box : view.messageBoxes()) {
        EXPECT_EQ(box.caption, "CE-Test Error");
        EXPECT_EQ(box.style, mb::kOk);
    }
    EXPECT_EQ(view.text(IDC_EXECUTE), "E&xecute");
    EXPECT_TRUE(view.isEnabled(IDC_EXECUTE));
    EXPECT_EQ(status(), "Continual Selftest terminated.");
    EXPECT_FALSE(dialog.flags().continualSelftest);
}

TEST_F(MaintenanceTest, ExitDuringARunEndsTheSeriesButNotWhileLocked) {
    for (const bool locked : {false, true}) {
        ini("[User]\r\nRepeatSelftest=3\r\n");
        const int before = library->calls("OctoSelftest");
        library->whileWaiting = [&](const std::string& function) {
            if (function == "OctoSelftest" && library->calls("OctoSelftest") == before + 1) {
                dialog.settings().showSettings = locked ? 0 : 1;
                view.click(IDC_EXECUTE);
                EXPECT_EQ(status() == "Continual Selftest terminated.", !locked) << locked;
            }
        };
        view.click(IDC_EXECUTE);
        view.runPosted();
        EXPECT_EQ(library->calls("OctoSelftest") - before, locked ? 3 : 1) << locked;
        EXPECT_EQ(view.text(IDC_EXECUTE), "E&xecute") << locked;
        EXPECT_TRUE(view.isEnabled(IDC_EXECUTE)) << locked;
    }
    library->whileWaiting = nullptr;
    const std::size_t calls = library->callLog().size();
    view.fileChoice = {1, firmwareFile()};
    view.saveChoice = {1, folder.file("out.txt")};
    for (int row = kCategorySelftest; row <= kCategoryTargetConnector; ++row) {
        view.selectRow(IDC_CATEGORY, row);
        view.click(IDC_EXECUTE);
    }
    EXPECT_EQ(library->callLog().size(), calls) << "locked: Execute does nothing";
    EXPECT_TRUE(view.fileDialogs().empty());
}

TEST_F(MaintenanceTest, SelftestOutcomeNamesTheFailedPartOrTheMissingAnswer) {
    const struct {
        int32_t selftest;
        int32_t getResult;
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
    library->whileWaiting = [&](const std::string&) { platform.now += 1234; };
    for (const auto& c : cases) {
        ini("");
        library->script("OctoSelftest", {c.selftest});
        if (c.selftest == 8) {
            library->script("OctoGetResult", {c.getResult});
        }
        view.click(IDC_EXECUTE);
        EXPECT_EQ(status(), c.status) << c.selftest << " " << c.getResult;
        EXPECT_EQ(iniInt("Timing", "TimeSelfTest"), c.selftest == 0 ? 1234 : kNotWritten);
    }
}

TEST_F(MaintenanceTest, UpgradeTakesTheTemporaryLoaderByTheUnitsVersionsAndStopsAtAFailure) {
    const struct {
        const char* name;
        int32_t unitAnswer;
        uint16_t firmware;
        uint16_t third;
        std::initializer_list<int32_t> erases;
        std::initializer_list<int32_t> loads;
        const char* calls;
        bool completed;
    } cases[] = {
        {"third word 0x200 loads directly", 0, 0x0156, 0x0200, {}, {}, "ifF", true},
        {"third word 0x1FF takes the loader", 0, 0x0156, 0x01FF, {}, {}, "illTfF", true},
        {"up to 1.45 no third word counts", 0, 0x0145, 0x0300, {}, {}, "illTfF", true},
        {"a unit that does not answer", 5, 0x0156, 0x0200, {}, {}, "illTfF", true},
        {"the first loader erase does not count", 0, 0x0156, 0, {8, 0}, {}, "illTfF", true},
        {"the second loader erase fails", 0, 0x0156, 0, {0, 8}, {}, "ill", false},
        {"the temporary loader fails", 0, 0x0156, 0, {}, {8}, "illT", false},
        {"the firmware area is not erased", 0, 0x0156, 0x0200, {8}, {}, "if", false},
        {"the firmware is not loaded", 0, 0x0156, 0x0200, {}, {18}, "ifF", false},
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

        const bool completed = c.completed;
        EXPECT_EQ(letters(from), c.calls) << c.name;
        EXPECT_EQ(state.lastResult, completed ? 0 : 1) << c.name;
        EXPECT_EQ(status() == kCompleted, completed) << c.name;
        EXPECT_EQ(iniInt("Timing", "TimeLoadFirmware") != kNotWritten, completed) << c.name;
    }
}

objfile::Image dataAtF000() {
    objfile::Image image;
    const std::vector<uint8_t> bytes{1, 2, 3};
    image.insert(0xF000, bytes);
    return image;
}

TEST_F(MaintenanceTest, AFileTheLibraryWouldRefuseLeavesTheUnitUntouched) {
    const struct {
        const char* name;
        std::optional<std::string> content;
        const char* status;
    } cases[] = {
        {"missing", std::nullopt, "ERROR: Unable to load Firmware. Correct file format?"},
        {"no object file", "hello\n", "ERROR: Unable to load Firmware. Correct file format?"},
        {"no firmware header", objectText(dataAtF000()),
         "ERROR: Selected file is not a Firmware Update file !"},
    };
    view.selectRow(IDC_CATEGORY, kCategoryUpgradeFirmware);
    for (const auto& c : cases) {
        view.fileChoice = {1, c.content ? file("OCTO.TXT", *c.content) : folder.file("none.TXT")};
        state.lastResult = 0;
        const std::size_t from = library->callLog().size();
        view.click(IDC_EXECUTE);
        EXPECT_EQ(library->callLog().size(), from) << c.name;
        EXPECT_EQ(status(), c.status) << c.name;
        EXPECT_EQ(state.lastResult, 1) << c.name;
    }
}

TEST_F(MaintenanceTest, TheStartupOfferRunsTheUpgradeAndJudgesOnlyItsResult) {
    const struct {
        const char* name;
        int chosenFilter;
        int32_t load;
        int checked;
        std::string status;
    } cases[] = {
        {"upgraded", 1, 0, 1, kCompleted},
        {"not loaded", 1, 8, 0, FakeLibrary::errorText(1)},
        {"no file chosen", 0, 0, 1, kConnected},
    };
    const std::string path = firmwareFile();
    unitVersions(0x0155, 0x0200);
    for (const auto& c : cases) {
        state.lastResult = 462; // what a failed target power left behind
        view.answerMessageBoxes({mb::kIdYes});
        view.fileChoice = {c.chosenFilter, path};
        library->script("OctoLoadFirmware", {c.load});
        EXPECT_EQ(dialog.checkFirmwareVersion(), c.checked) << c.name;
        EXPECT_EQ(status(), c.status) << c.name;
    }
}

TEST_F(MaintenanceTest, ReadOutFileTakesItsFormatsExtensionCaseSensitively) {
    const struct {
        int format;
        const char* chosen;
        const char* written;
    } cases[] = {
        {1, "a", "a.txt"},     {1, "a.txt", "a.txt"}, {1, "a.TXT", "a.TXT.txt"},
        {2, "a", "a.hex"},     {2, "a.hex", "a.hex"}, {2, "a.txt", "a.txt.hex"},
        {3, "a.bin", "a.bin"},
    };
    state.readOutTarget = 8;
    for (const auto& c : cases) {
        view.saveChoice = {c.format, folder.file(c.chosen)};
        maintenance.readOutTarget();
        EXPECT_EQ(library->callLog().back(), "OctoReadTargetFile 7 61440 4096 " +
                                                 folder.file(c.written) + " " +
                                                 std::to_string(c.format));
    }
    EXPECT_EQ(view.fileDialogs().back().title, "Read out target 8");
    EXPECT_EQ(view.fileDialogs().back().filter,
              "QX-Text file (*.txt)|*.txt|Intel-Hex file (*.int;  *.hex;  *.zhx)|*.int;*.hex;"
              "*.zhx||");
    EXPECT_TRUE(view.fileDialogs().back().save);
}

TEST_F(MaintenanceTest, ASupplySwitchedOnForAReadOutIsSwitchedOffEvenWhenTheReadFails) {
    const struct {
        int supplyByProg;
        int switchVccOff;
        int32_t parameters;
        int32_t supply;
        int32_t read;
        const char* calls;
    } cases[] = {
        {1, 1, 0, 0, 0, "PvRvo"}, {1, 1, 0, 0, 8, "PvRvo"}, {1, 0, 0, 0, 8, "PR"},
        {0, 1, 0, 0, 0, "PR"},    {1, 1, 8, 0, 0, "P"},     {1, 1, 0, 8, 0, "Pv"},
    };
    view.saveChoice = {1, folder.file("out.txt")};
    library->whileWaiting = [&](const std::string& function) {
        if (function == "OctoReadTargetFile") {
            platform.now += 2000;
        }
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

TEST_F(MaintenanceTest, TheReadOutPathIsTriedFirstAndAnExistingFileKeepsItsContent) {
    const struct {
        const char* name;
        const char* chosen;
        std::optional<std::string> before;
        bool read;
        std::optional<std::string> after;
    } cases[] = {
        {"a folder that does not exist", "none/a.txt", std::nullopt, false, std::nullopt},
        {"an existing file", "old.txt", "old content", true, "old content"},
        {"a new file", "new.txt", std::nullopt, true, std::nullopt},
    };
    library->setFallback("OctoReadTargetFile", 13); // every read fails
    for (const auto& c : cases) {
        if (c.before) {
            file(c.chosen, *c.before);
        }
        view.saveChoice = {1, folder.file(c.chosen)};
        view.setText(IDC_STATUS_LINE, "");
        const int reads = library->calls("OctoReadTargetFile");
        maintenance.readOutTarget();
        EXPECT_EQ(library->calls("OctoReadTargetFile") - reads, c.read ? 1 : 0) << c.name;
        EXPECT_EQ(status() == "ERROR: Unable to open file !", !c.read) << c.name;
        std::ifstream in(folder.file(c.chosen), std::ios::binary);
        const std::optional<std::string> after =
            in ? std::optional(std::string(std::istreambuf_iterator<char>(in), {})) : std::nullopt;
        EXPECT_EQ(after, c.after) << c.name;
    }
}

} // namespace
} // namespace octo
