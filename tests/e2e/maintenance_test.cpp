// The maintenance commands of the real window against the simulated unit: the firmware
// upgrade offered at start-up (through the temporary loader of an old boot section) and the
// About box after it, a self-test series with one failing run, the read-out of a programmed
// target in both file formats and a failed one, the signals dialog, and Erase Image before
// a run. Expectations come from what the unit really holds and did (its state file, event
// log and dumps), never from what the window believes.
#include "UnitWindowTest.h"

#include "resources/StringIds.h"

#include <array>
#include <cstdio>

namespace octo::e2e {
namespace {

namespace fs = std::filesystem;

// Rows of the category list.
constexpr int kSelftestRow = 0;
constexpr int kUpgradeRow = 1;
constexpr int kReadOutRow = 2;
constexpr int kEraseImageRow = 3;
constexpr int kSignalsRow = 4;
// Rows of the read-out's file type list.
constexpr int kQxTextRow = 0;
constexpr int kIntelHexRow = 1;

constexpr char kShippedFirmware[] = "OCTO816-156.TXT";
constexpr char kNotFirmware[] = "OCTO816-NOFW.TXT"; // a program named like firmware
constexpr char kUpgradeCompleted[] = "Firmware update completed.";
constexpr char kNewFirmwareVersion[] = "0x0156";
constexpr char kSample[] = "A110_blink.txt";
constexpr char kExecuteCaption[] = "E&xecute";
constexpr char kExitCaption[] = "E&xit";
constexpr char kSeriesEnded[] = "Continual Selftest terminated.";
constexpr char kSeriesBoxTitle[] = "CE-Test Error";
constexpr char kHardwareErrorText[] = "Error at ZEL-OCTO816 hardware!";
constexpr char kAboutTitle[] = "About ZEL816 FLASH Programmer";
constexpr char kReadOutDialogTitle[] = "Read out target";
constexpr char kSignalsTitle[] = "Set signals at target connector";
constexpr char kSupplyOn[] = "on";
constexpr char kSupplyOff[] = "off";
constexpr char kExitSignalWord[] = "0x8000";

// A unit with the firmware before the required one, and a boot section old enough to need
// the temporary loader for an upgrade.
constexpr char kOldFirmwareVersion[] = "0x0155";
constexpr char kOldFirmwareName[] = "OCTO816-155";
constexpr char kOldBootSection[] = "0x0100";
// The program's two waits of an upgrade: the loader's start and the new firmware's.
constexpr int kUpgradeWaitsMs = 600 + 1000;

// A self-test series of three whose second run fails in the unit's VCC check.
constexpr int kSeriesRuns = 3;
constexpr int kFailingRun = 2;
constexpr int kVccErrorNumber = 7;

// Socket 2 never answers: a read-out of it fails.
constexpr int kProgrammedSocket = 1;
constexpr int kSilentSocket = 2;
constexpr int kSockets = 8;
constexpr uint32_t kReadOutOffset = 0x10; // into the image, so the start is the one asked for
constexpr uint32_t kAddressSpaceTop = 0x10000;
constexpr int kSupplyTenths = 30; // the shipped configuration's supply voltage

// Line 8 with "TDO / TDI x", "TCK" and "RESET" checked and "Vcc on" cleared.
constexpr char kChosenSignalWord[] = "0x081F";

std::string hexNumber(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

// The program's configuration file in the program folder.
fs::path configFile(Session& s) {
    return s.programFolder() / kConfigIni;
}

// A number the configuration file holds under `key` (in whichever section).
long long iniNumber(const fs::path& ini, const std::string& key) {
    const std::string text = readWholeFile(ini);
    const std::size_t at = text.find("\n" + key + "=");
    if (at == std::string::npos)
        throw E2eError("no key " + key + " in " + ini.string());
    return std::stoll(text.substr(at + key.size() + 2));
}

bool startupEnded(Session& s) {
    return readWholeFile(configFile(s)).find("\nBusy=1\r\n") != std::string::npos;
}

// Requests of the unit's event log from index `from` on, with that command name.
std::size_t requestsSince(const SimulatedUnit& unit, std::size_t from, const std::string& name) {
    const auto all = unit.events();
    std::size_t count = 0;
    for (std::size_t i = from; i < all.size(); ++i)
        count += all[i].kind == "request" && all[i].command == name;
    return count;
}

// ---- the upgrade offered at start-up -------------------------------------------------------

class FirmwareOffer : public SessionTest {
protected:
    void TearDown() override {
        session_->stopProgram();
        unit_.reset();
    }
    std::unique_ptr<SimulatedUnit> unit_;
};

TEST_F(FirmwareOffer, YesUpgradesAnOldUnitThroughTheTemporaryLoaderAndAboutShowsIt) {
    session_->installProgram();
    setIniKey(configFile(*session_), "Timing", "TimeLoadFirmware", "0");
    unit_ = std::make_unique<SimulatedUnit>(
        session_->programFolder(),
        std::vector<std::string>{std::string("firmware_version=") + kOldFirmwareVersion,
                                 std::string("firmware_name=") + kOldFirmwareName,
                                 std::string("third_version=") + kOldBootSection});
    Window w = session_->launch();

    Window offer = w.waitPopup(kAnswerTimeout);
    const MessageBoxContent box = offer.messageBox();
    EXPECT_EQ(box.text, "User Information:\n\nYour current firmware version is 1.55\n\n"
                        "It is strongly recommended to upgrade your ZEL-OCTO816\n"
                        "programmer unit with firmware OCTO816-156.TXT.\n\n"
                        "Do you want to upgrade now?\n");
    ASSERT_EQ(box.buttons.size(), 2u);
    offer.press(kIdYes);
    offer.waitGone(kAnswerTimeout);

    Window chooser = w.waitPopup(kAnswerTimeout);
    chooser.fileName(windowsPath(Paths::repository() / "dist" / kShippedFirmware));
    chooser.press(kIdOk);
    chooser.waitGone(kAnswerTimeout);
    ASSERT_TRUE(waitUntil(kOperationTimeout, [&] { return startupEnded(*session_); }))
        << "start-up did not end after the upgrade: " << session_->programLog();

    // The unit runs the new firmware, loaded whole once, after its loader was started.
    EXPECT_EQ(unit_->state("identity.firmware_version"), kNewFirmwareVersion);
    EXPECT_EQ(unit_->state("firmware.state"), "installed");
    EXPECT_EQ(unit_->number("firmware.loads"), 1);
    EXPECT_EQ(requestsSince(*unit_, 0, "TempLoader"), 1u);
    EXPECT_GE(iniNumber(configFile(*session_), "TimeLoadFirmware"), kUpgradeWaitsMs)
        << "the upgrade's duration, its waits included";

    w.sysCommand(IDM_ABOUTBOX);
    Window about = w.waitPopup(kAnswerTimeout);
    EXPECT_EQ(about.caption(), kAboutTitle);
    EXPECT_EQ(about.text(IDC_ABOUT_FIRMWARE_VERSION), "1.56");
    EXPECT_EQ(about.text(IDC_ABOUT_FIRMWARE_NAME), unit_->state("identity.firmware_name"));
    about.click(IDC_DIALOG_OK);
    about.waitGone(kAnswerTimeout);
}

// ---- one window for the other commands -----------------------------------------------------

constexpr char kMaintenanceUnit[] =
    R"(# A quick unit whose second self-test fails, with a silent socket.
time_scale = 0.1
selftest = 7
selftest.only_run = 2
target.2.fault.no_answer = yes
dump_targets = yes
)";

class Maintenance : public UnitWindowTest<Maintenance> {
protected:
    static void SetUpTestSuite() {
        openWithUnit("maintenance_unit.txt", kMaintenanceUnit, {},
                     {{"RepeatSelftest", std::to_string(kSeriesRuns)}});
    }

    // Chooses a category and presses Execute; the command's boxes come after.
    void execute(int row) {
        w().select(IDC_CATEGORY, row);
        ASSERT_EQ(eventually([&] { return w().comboSelection(IDC_CATEGORY).index; }, row), row);
        w().click(IDC_EXECUTE);
    }

    // Loads the shipped sample by its typed name into the unit's selected slot.
    void loadSample() {
        w().setText(IDC_IMAGE2_FILE, "");
        w().setText(IDC_IMAGE_FILE, windowsPath(samplePath()));
        ASSERT_EQ(w().click(IDC_LOAD_IMAGES, kOperationTimeout), Outcome::Done);
        ASSERT_EQ(unit().state(selectedSlot() + "state"), "complete") << w().text(IDC_STATUS_LINE);
    }
    static fs::path samplePath() { return Paths::repository() / "dist" / "samples" / kSample; }
    std::string selectedSlot() { return "image." + unit().state("image.selected") + "."; }

    std::array<std::string, kSockets> targetCrcs() {
        std::array<std::string, kSockets> crcs;
        for (int t = 0; t < kSockets; ++t)
            crcs[t] = unit().state("target." + std::to_string(t + 1) + ".crc32");
        return crcs;
    }

    // The read-out dialog filled and confirmed, the save dialog answered with the file type
    // row and the path; returns when the command has ended. Its end is told by the category
    // list, which the command disables once it has begun, not by the file: the path is
    // tried (created and removed) before it begins.
    void readOut(int socket, uint32_t start, uint32_t length, int typeRow, const fs::path& file) {
        const std::size_t before = unit().events().size();
        ASSERT_NO_FATAL_FAILURE(execute(kReadOutRow));
        Window dialog = w().waitPopup(kAnswerTimeout);
        ASSERT_EQ(dialog.caption(), kReadOutDialogTitle);
        dialog.setText(IDC_READOUT_TARGET, std::to_string(socket));
        dialog.setText(IDC_READOUT_START, hexNumber(start));
        dialog.setText(IDC_READOUT_LENGTH, hexNumber(length));
        dialog.click(IDC_DIALOG_OK);
        dialog.waitGone(kAnswerTimeout);

        Window saver = w().waitPopup(kAnswerTimeout);
        EXPECT_EQ(saver.caption(), "Read out target " + std::to_string(socket));
        saver.fileFilter(typeRow);
        saver.fileName(windowsPath(file));
        saver.press(kIdOk);
        saver.waitGone(kAnswerTimeout);
        ASSERT_TRUE(
            waitUntil(kOperationTimeout,
                      [&] { return requestsSince(unit(), before, "ReadTargetBegin") == 1; }))
            << "the read-out never reached the unit: " << w().text(IDC_STATUS_LINE);
        ASSERT_TRUE(eventually([&] { return w().enabled(IDC_CATEGORY); }, true, kOperationTimeout))
            << "the read-out did not end";
    }
};

TEST_F(Maintenance, SelftestSeriesOfThreeAsksAboutTheFailingRunAndCountsEveryRun) {
    ASSERT_EQ(unit().number("run.selftests"), 0);
    ASSERT_NO_FATAL_FAILURE(execute(kSelftestRow));
    EXPECT_EQ(eventually([&] { return w().text(IDC_EXECUTE); }, std::string(kExitCaption)),
              kExitCaption);

    Window box = w().waitPopup(kSeriesTimeout);
    const MessageBoxContent content = box.messageBox();
    EXPECT_EQ(content.title, kSeriesBoxTitle);
    EXPECT_EQ(content.text, kHardwareErrorText);
    ASSERT_EQ(content.buttons.size(), 1u);
    EXPECT_EQ(content.buttons[0].first, kIdOk);
    // The box stands for the run that failed, and its part is named in the status line.
    EXPECT_EQ(unit().number("run.selftests"), kFailingRun);
    EXPECT_EQ(w().text(IDC_STATUS_LINE), programString(300 + kVccErrorNumber));
    EXPECT_EQ(w().text(IDC_EXECUTE), kExitCaption);
    box.press(kIdOk);
    box.waitGone(kAnswerTimeout);

    EXPECT_EQ(eventually([&] { return w().text(IDC_STATUS_LINE); }, std::string(kSeriesEnded),
                         kSeriesTimeout),
              kSeriesEnded);
    EXPECT_EQ(unit().number("run.selftests"), kSeriesRuns);
    EXPECT_EQ(eventually([&] { return w().text(IDC_EXECUTE); }, std::string(kExecuteCaption)),
              kExecuteCaption);
    EXPECT_TRUE(eventually([&] { return w().enabled(IDC_EXECUTE); }, true));
    EXPECT_THROW(w().waitPopup(kStrayBoxWait), E2eError) << "a box for a run that passed";
}

TEST_F(Maintenance, ReadOutOfAProgrammedTargetEqualsTheImageInBothFormats) {
    ASSERT_NO_FATAL_FAILURE(loadSample());
    ASSERT_EQ(w().click(IDC_START, kOperationTimeout), Outcome::Done);
    ASSERT_EQ(unit().state("target." + std::to_string(kProgrammedSocket) + ".last"), "passed");

    const objfile::Image image = readObject(samplePath());
    const objfile::Image chip = readObject(unit().targetDump(kProgrammedSocket));
    const uint32_t start = *image.lowestAddress() + kReadOutOffset;
    const uint32_t length = kAddressSpaceTop - start;
    // Format 1 without an extension gets ".txt"; format 2 keeps its ".hex".
    const std::array<std::pair<int, std::string>, 2> formats = {
        {{kQxTextRow, "readout_qx"}, {kIntelHexRow, "readout_ih.hex"}}};
    for (const auto& [row, name] : formats) {
        SCOPED_TRACE(name);
        const fs::path written = folder() / (row == kQxTextRow ? name + ".txt" : name);
        ASSERT_NO_FATAL_FAILURE(readOut(kProgrammedSocket, start, length, row, folder() / name));
        ASSERT_TRUE(fs::exists(written)) << w().text(IDC_STATUS_LINE);

        const objfile::Image read = readObject(written);
        ASSERT_EQ(read.ranges(), (std::vector<objfile::Image::Range>{{start, length}}));
        for (uint32_t a = start; a < kAddressSpaceTop; ++a) {
            ASSERT_EQ(read.at(a), chip.at(a)) << "at 0x" << std::hex << a;
            if (image.at(a)) {
                ASSERT_EQ(read.at(a), image.at(a)) << "at 0x" << std::hex << a;
            }
        }
        EXPECT_EQ(unit().state("supply.mode"), kSupplyOff);
    }
}

TEST_F(Maintenance, FailedReadOutLeavesNoFileAndTheSupplyOff) {
    const fs::path file = folder() / "silent.hex";
    const std::size_t before = unit().events().size();
    ASSERT_NO_FATAL_FAILURE(readOut(kSilentSocket, 0xFC00, 0x400, kIntelHexRow, file));
    ASSERT_TRUE(waitUntil(kOperationTimeout, [&] {
        return requestsSince(unit(), before, "ReadTargetBegin") == 1;
    })) << "the read-out never reached the unit";
    EXPECT_TRUE(eventually([&] { return w().enabled(IDC_EXECUTE); }, true, kOperationTimeout));

    // The supply was on for the read and is off after it.
    EXPECT_GE(requestsSince(unit(), before, "SetSupply"), 2u);
    EXPECT_EQ(unit().state("supply.mode"), kSupplyOff);
    for (const auto& entry : fs::directory_iterator(folder()))
        EXPECT_EQ(entry.path().filename().string().rfind("silent", 0), std::string::npos)
            << entry.path();
}

TEST_F(Maintenance, SignalsDialogSetReachesTheUnitAndLeavingSendsTheExitWord) {
    ASSERT_NO_FATAL_FAILURE(execute(kSignalsRow));
    Window dialog = w().waitPopup(kAnswerTimeout);
    ASSERT_EQ(dialog.caption(), kSignalsTitle);
    dialog.click(IDC_SIGNAL_LINE_LAST);
    dialog.click(IDC_SIGNAL_TDO_TDI_X);
    dialog.click(IDC_SIGNAL_TCK);
    dialog.click(IDC_SIGNAL_RESET);
    dialog.click(IDC_SIGNAL_VCC_ON);
    ASSERT_EQ(dialog.checkState(IDC_SIGNAL_VCC_ON), 0);
    dialog.click(IDC_SIGNAL_SET);
    EXPECT_EQ(
        eventually([&] { return unit().state("signals.word"); }, std::string(kChosenSignalWord)),
        kChosenSignalWord);
    EXPECT_EQ(unit().number("signals.supply"), kSupplyTenths);

    dialog.click(IDC_SIGNAL_EXIT);
    dialog.waitGone(kAnswerTimeout);
    EXPECT_EQ(
        eventually([&] { return unit().state("signals.word"); }, std::string(kExitSignalWord)),
        kExitSignalWord);
    EXPECT_EQ(eventually([&] { return unit().state("supply.mode"); }, std::string(kSupplyOn)),
              kSupplyOn);
    EXPECT_EQ(unit().number("supply.voltage"), kSupplyTenths);
}

TEST_F(Maintenance, UpgradeRefusesAFileThatIsNoFirmwareThenLoadsTheShippedOneWithoutLoader) {
    const long long loads = unit().number("firmware.loads");
    auto upgradeWith = [&](const std::string& name) {
        ASSERT_NO_FATAL_FAILURE(execute(kUpgradeRow));
        Window chooser = w().waitPopup(kAnswerTimeout);
        chooser.fileName(windowsPath(Paths::repository() / "dist" / name));
        chooser.press(kIdOk);
        chooser.waitGone(kAnswerTimeout);
    };

    // Refused before anything is erased: the unit keeps its firmware.
    std::size_t before = unit().events().size();
    w().setText(IDC_STATUS_LINE, "-");
    ASSERT_NO_FATAL_FAILURE(upgradeWith(kNotFirmware));
    const std::string refused = programString(IDS_NOT_FIRMWARE_FILE);
    EXPECT_EQ(eventually([&] { return w().text(IDC_STATUS_LINE); }, refused, kOperationTimeout),
              refused);
    // The text comes inside the command: the list is enabled again at its end.
    ASSERT_TRUE(eventually([&] { return w().enabled(IDC_CATEGORY); }, true, kOperationTimeout));
    EXPECT_EQ(requestsSince(unit(), before, "FirmwareErase"), 0u);
    EXPECT_EQ(unit().state("firmware.state"), "installed");
    EXPECT_EQ(unit().number("firmware.loads"), loads);

    // A unit with a boot section of 0x200 or later takes the file without the loader.
    before = unit().events().size();
    ASSERT_NO_FATAL_FAILURE(upgradeWith(kShippedFirmware));
    EXPECT_EQ(eventually([&] { return w().text(IDC_STATUS_LINE); }, std::string(kUpgradeCompleted),
                         kOperationTimeout),
              kUpgradeCompleted);
    EXPECT_EQ(unit().number("firmware.loads"), loads + 1);
    EXPECT_EQ(unit().state("identity.firmware_version"), kNewFirmwareVersion);
    EXPECT_EQ(requestsSince(unit(), before, "TempLoader"), 0u);
    EXPECT_EQ(requestsSince(unit(), before, "FirmwareErase"), 1u);
    EXPECT_TRUE(eventually([&] { return w().enabled(IDC_CATEGORY); }, true, kOperationTimeout));
}

TEST_F(Maintenance, EraseImageThenStartTouchesNoTarget) {
    ASSERT_NO_FATAL_FAILURE(loadSample());
    const std::string slot = selectedSlot() + "state";
    const auto crcs = targetCrcs();
    const long long runs = unit().number("run.main_processes");

    w().select(IDC_CATEGORY, kEraseImageRow);
    ASSERT_EQ(w().click(IDC_EXECUTE, kOperationTimeout), Outcome::Done);
    EXPECT_EQ(unit().state(slot), "erased");

    w().setText(IDC_STATUS_LINE, "-");
    ASSERT_EQ(w().click(IDC_START, kOperationTimeout), Outcome::Done);
    EXPECT_EQ(w().text(IDC_STATUS_LINE), programString(IDS_IMAGE_CORRUPTED));
    EXPECT_EQ(unit().number("run.main_processes"), runs + 1);
    EXPECT_EQ(targetCrcs(), crcs);
}

} // namespace
} // namespace octo::e2e
