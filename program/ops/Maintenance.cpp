#include "ops/Maintenance.h"

#include "link/ResultGrid.h"
#include "ops/MainProcess.h"
#include "resources/StringIds.h"
#include "resources/resource.h"
#include "settings/ConfigKeys.h"

#include "files/output_file.h"
#include "objfile/firmware.h"
#include "wire/messages.h"

#include <array>
#include <cstdio>

namespace octo {

namespace {

namespace option = wire::option;

// The read-out runs at the fixed interface supply of 3.0 V in its parameter block.
constexpr uint32_t kReadOutTargetVcc = 30;
// Supply code: supplied by the programmer, but switched off.
constexpr uint32_t kSupplySwitchedOff = 1;
constexpr unsigned kSupplyOffSettleMs = 50;
// The temporary loader needs this long to start, new firmware this long to initialise.
constexpr unsigned kTempLoaderStartMs = 600;
constexpr unsigned kFirmwareStartMs = 1000;
constexpr int32_t kCallSucceeded = 0;
constexpr int32_t kCallFailed = 1;
// The library's code for a file that is not a firmware file of the unit.
constexpr int32_t kNotFirmwareCode = 18;
constexpr char kReadOutTitle[] = "Read out target %d";
constexpr char kReadingTarget[] = "Reading target %d ...";
constexpr std::size_t kFormattedTextChars = 64;

// Test&1: target 1 at 3.2 V, then three register accesses.
constexpr uint32_t kTest1SupplyTenths = 32;
constexpr unsigned kTest1SettleMs = 100;
constexpr uint32_t kTest1Target = 1;
struct RegisterAccess {
    uint32_t operation;
    uint32_t address;
    uint16_t value;
};
constexpr std::array<RegisterAccess, 3> kTest1Accesses = {{
    {3, 0x22, 0x0101},
    {1, 0x21, 0x1133}, // 0x21: the target's port A output register
    {4, 0x21, 0xFFFF},
}};

std::string formatted(const char* format, int number) {
    std::array<char, kFormattedTextChars> text{};
    std::snprintf(text.data(), text.size(), format, number);
    return text.data();
}

} // namespace

std::string readOutPath(std::string path, int format) {
    const char* extension = format == kQxTextFormat     ? ".txt"
                            : format == kIntelHexFormat ? ".hex"
                                                        : nullptr;
    if (extension != nullptr && !path.ends_with(extension)) {
        path += extension;
    }
    return path;
}

bool canWriteFile(const std::string& path) {
    return files::checkOutputFile(path).check == files::OutputCheck::Writable;
}

Maintenance::Maintenance(const MaintenanceParts& parts)
    : Operation(parts.common), unitInfo_(parts.unitInfo), loader_(parts.loader),
      dialogs_(parts.dialogs),
      series_(view_, platform_, flags_, &OperationFlags::continualSelftest,
              {IDC_EXECUTE, kExecuteCaption, kExitCaption, kSelftestTerminated, IDC_RUN_SELFTEST}) {
}

void Maintenance::onExecute() {
    if (settings_.locked()) {
        return;
    }
    takeControls(view_, settings_);
    switch (settings_.category) {
    case kCategorySelftest:
        startSelftest();
        return;
    case kCategoryUpgradeFirmware:
        upgradeFirmware();
        return;
    case kCategoryReadOutTarget:
        readOutTarget();
        return;
    case kCategoryEraseImage:
        eraseImage();
        return;
    case kCategoryTargetConnector:
        dialogs_.runSignalsDialog();
        return;
    default:
        return;
    }
}

void Maintenance::onCategoryChanged() {
    if (!settings_.locked()) {
        takeControls(view_, settings_);
    }
}

void Maintenance::startSelftest() {
    loadSetting(profile_, settings_, &Settings::repeatSelftest);
    if (series_.press(settings_.repeatSelftest) != Series::Press::Ended) {
        runSelftest();
    }
}

void Maintenance::runSelftest() {
    const uint32_t startMs = platform_.tickCount();
    bracket_.beginOperation();
    progress_.startProgress(settings_.timeSelfTest, progress_.period(), true);
    view_.setText(IDC_STATUS_LINE, kExecutingSelftest);
    state_.lastResult = library_->selftest(libraryTimeout(settings_.timeSelfTest));
    progress_.stopProgress(true);
    const SelftestOutcome outcome = showSelftestOutcome(startMs);
    bracket_.endOperation();
    if (series_.active()) {
        series_.afterRun(outcome == SelftestOutcome::Passed          ? nullptr
                         : outcome == SelftestOutcome::HardwareError ? kHardwareError
                                                                     : kCommunicationError,
                         [this] { startSelftest(); });
    }
}

Maintenance::SelftestOutcome Maintenance::showSelftestOutcome(uint32_t startMs) {
    if (state_.lastResult == 0) {
        settings_.timeSelfTest = platform_.tickCount() - startMs;
        writeTiming(profile_, ini::kTimeSelfTest, settings_.timeSelfTest);
        status_.showStatus(kShowString, IDS_SELFTEST_PASSED);
        return SelftestOutcome::Passed;
    }
    if (state_.lastResult != kFailedDetails) {
        status_.showStatus(state_.lastResult, 0);
        return SelftestOutcome::CommunicationError;
    }
    // The unit names the failed part in the result block.
    state_.lastResult = library_->getResult(state_.runResult.data());
    if (state_.lastResult != 0) {
        status_.showStatus(state_.lastResult, IDS_NO_RESULT);
        return SelftestOutcome::CommunicationError;
    }
    status_.showStatus(kShowString, kFirstProgramCode + state_.runResult[kMiscErrorsByte]);
    return SelftestOutcome::HardwareError;
}

void Maintenance::upgradeFirmware() {
    if (loader_.selectObjectFile(ObjectFileKind::Upgrade, IDS_FIRMWARE_FILE_FILTER) == 0) {
        return;
    }
    const uint32_t startMs = platform_.tickCount();
    bracket_.beginOperation();
    if (firmwareFileAccepted()) {
        installFirmware(startMs);
    }
    bracket_.endOperation();
}

bool Maintenance::firmwareFileAccepted() {
    // The library reads and checks the file whole before the unit's firmware is erased, and
    // later sends what it read then: a file refused after the erase, or one changed in
    // between, would leave the unit without firmware.
    const int32_t checked = library_->checkFirmware(state_.firmwareFile);
    if (checked == 0) {
        return true;
    }
    state_.lastResult = kCallFailed;
    status_.showStatus(kShowString, checked == kNotFirmwareCode ? IDS_NOT_FIRMWARE_FILE
                                                                : IDS_FIRMWARE_NOT_LOADED);
    return false;
}

void Maintenance::installFirmware(uint32_t startMs) {
    const bool loaderNeeded =
        !readUnitInfo(*library_, unitInfo_) || unitInfo_.thirdVersion < kLoaderlessThirdVersion;
    if (loaderNeeded) {
        // Erased twice; only the second answer is relied on.
        library_->eraseFirmware(objfile::kLoaderAreaStart, objfile::kLoaderAreaLength);
        if (!counted(
                library_->eraseFirmware(objfile::kLoaderAreaStart, objfile::kLoaderAreaLength)) ||
            !counted(library_->loadFirmware(kTempLoaderName))) {
            return;
        }
        platform_.sleep(kTempLoaderStartMs);
    }
    if (!counted(
            library_->eraseFirmware(objfile::kFirmwareAreaStart, objfile::kFirmwareAreaLength)) ||
        !counted(library_->loadFirmware(state_.firmwareFile))) {
        return;
    }
    view_.setText(IDC_STATUS_LINE, kInitializingFirmware);
    platform_.sleep(kFirmwareStartMs);
    settings_.timeLoadFirmware = platform_.tickCount() - startMs;
    writeTiming(profile_, ini::kTimeLoadFirmware, settings_.timeLoadFirmware);
    view_.setText(IDC_STATUS_LINE, kFirmwareCompleted);
}

bool Maintenance::counted(int32_t result) {
    state_.lastResult = result == 0 ? kCallSucceeded : kCallFailed;
    return result == 0;
}

void Maintenance::readOutTarget() {
    if (!dialogs_.runReadOutDialog()) {
        return;
    }
    const FileChoice choice = view_.chooseFileToSave(formatted(kReadOutTitle, state_.readOutTarget),
                                                     view_.loadString(IDS_READOUT_FILE_FILTER));
    if (choice.filterIndex == 0) {
        return;
    }
    readOutFile_ = readOutPath(choice.path, choice.filterIndex);
    // A read can take minutes: a file that cannot be written is refused before the unit
    // and the target are touched.
    if (!canWriteFile(readOutFile_)) {
        status_.showStatus(kShowString, IDS_FILE_NOT_OPENED);
        return;
    }
    bracket_.beginOperation();
    readTarget(static_cast<uint32_t>(choice.filterIndex));
    bracket_.endOperation();
}

void Maintenance::readTarget(uint32_t format) {
    const uint32_t options = (static_cast<uint32_t>(settings_.jtagSpeed) << option::kSpeedShift) |
                             (settings_.useDlk != 0 && deviceType_.dlkAble ? option::kDuoLink : 0) |
                             (settings_.eraseBslSegm != 0 ? option::kEraseBsl : 0);
    if (library_->loadParameters(options, kReadOutTargetVcc, kExternalSupplySettleMs) != 0) {
        return;
    }
    const bool switchesSupply = settings_.supplyByProg != 0 && settings_.switchVccOff != 0;
    const auto supplyTenths = static_cast<uint32_t>(settings_.supplyVoltage + kLowestSupplyTenths);
    if (switchesSupply) {
        if (library_->setVccTarget(supplyTenths) != 0) {
            return;
        }
        platform_.sleep(power_.settleMs());
    }
    const uint32_t startMs = platform_.tickCount();
    view_.setText(IDC_STATUS_LINE, formatted(kReadingTarget, state_.readOutTarget));
    const int32_t read =
        library_->readTargetFile(static_cast<uint32_t>(state_.readOutTarget - 1),
                                 state_.readOutStart, state_.readOutLength, readOutFile_, format);
    if (read == 0) {
        writeTiming(profile_, ini::kTimeReadoutTarget, platform_.tickCount() - startMs);
    }
    // Also after a failed read: a target left powered by a failed command is unsafe for
    // the operator who takes it out.
    if (switchesSupply) {
        library_->setVccTarget(supplyTenths);
        library_->setVccTarget(kSupplySwitchedOff);
        platform_.sleep(kSupplyOffSettleMs);
    }
}

void Maintenance::eraseImage() {
    bracket_.beginOperation();
    const uint32_t startMs = platform_.tickCount();
    progress_.startProgress(settings_.timeEraseImage, progress_.period(), true);
    state_.lastResult = library_->eraseImage();
    state_.imageCrc32.fill(std::nullopt);
    progress_.stopProgress(true);
    if (state_.lastResult == 0) {
        settings_.timeEraseImage = platform_.tickCount() - startMs;
        writeTiming(profile_, ini::kTimeEraseImage, settings_.timeEraseImage);
    }
    bracket_.endOperation();
}

void Maintenance::onTest1() {
    state_.lastResult = library_->setVccTarget(kTest1SupplyTenths);
    platform_.sleep(kTest1SettleMs);
    if (state_.lastResult != 0) {
        return;
    }
    for (const RegisterAccess& access : kTest1Accesses) {
        uint16_t value = access.value;
        state_.lastResult =
            library_->accessTargetSfr(kTest1Target, access.operation, access.address, &value);
    }
}

} // namespace octo
