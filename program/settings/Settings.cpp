// The bulk transfer of the settings between the configuration file and the main window.
#include "app/ProgrammerDialog.h"
#include "ops/TargetPower.h"
#include "resources/resource.h"
#include "settings/ConfigKeys.h"

#include <algorithm>

namespace octo {

namespace {

constexpr int32_t kJtagSpeedLimit = 3;
constexpr int kComPortRows = 50; // "COM1" to "COM50"
constexpr int kBusyValue = 1;

constexpr char kWriteErrorText[] = "Error writing to OCTO816.INI.\nNormal work is not possible.\n"
                                   "Please check if the file is not write protected";
constexpr char kWriteErrorCaption[] = "Error";

// Flags are 0 or 1; any nonzero value in the file counts as set.
int readFlag(ProfileStore& ini, const char* section, const char* key, int defaultValue) {
    return ini.readInt(section, key, defaultValue) != 0 ? 1 : 0;
}

uint32_t readDuration(ProfileStore& ini, const char* key, int32_t defaultValue) {
    return static_cast<uint32_t>(ini.readInt(ini::kTiming, key, defaultValue));
}

} // namespace

ProfileStore& ProgrammerDialog::profile() {
    profile_.setPath(configPath_);
    return profile_;
}

void ProgrammerDialog::loadSettings() {
    using namespace ini;
    ProfileStore& file = profile();
    imageFile_ = file.readString(kSystem, kImageFile, "", kPathBuffer);
    image2File_ = file.readString(kSystem, kImage2File, "", kPathBuffer);
    const int32_t comPort = file.readInt(kSystem, kComPort, 1);
    // Only the low 8 bits of the value count; the limit applies to them.
    jtagSpeed_ = static_cast<uint8_t>(file.readInt(kSystem, kJtagSpeed, 0));
    verifyMarginal_ = readFlag(file, kSystem, kVerifyMarginal, 1);
    devType_ = file.readInt(kSystem, kDevType, 1);
    supplyByProg_ = readFlag(file, kSystem, kSupplyByProg, 1);
    eraseMain_ = readFlag(file, kSystem, kEraseMain, 1);
    eraseInfo_ = readFlag(file, kSystem, kEraseInfo, 1);
    erasePinfo_ = readFlag(file, kSystem, kErasePinfo, 1);
    eraseBslSegm_ = readFlag(file, kSystem, kEraseBslSegm, 0);
    restoreDco_ = readFlag(file, kSystem, kRestoreDco, 1);
    useDlk_ = readFlag(file, kSystem, kUseDlk, 1);
    const int32_t supplyVoltage = file.readInt(kSystem, kSupplyVoltage, 30);
    switchVccOff_ = readFlag(file, kSystem, kSwitchVccOff, 1);
    settleTime_ = file.readInt(kSystem, kSettleTime, 0);
    erase_ = readFlag(file, kSystem, kErase, 1);
    eraseCheck_ = readFlag(file, kSystem, kEraseCheck, 1);
    program_ = readFlag(file, kSystem, kProgram, 1);
    verify_ = readFlag(file, kSystem, kVerify, 1);
    blowFuse_ = readFlag(file, kSystem, kBlowFuse, 0);
    showSettings_ = readFlag(file, kSystem, kShowSettings, 1);

    captionIndexed_ = readFlag(file, kUser, kCaptionIndexed, 0);
    const int32_t maxSupplyVoltage = file.readInt(kUser, kMaxSupplyVoltage, 36);
    repeatSelftest_ = file.readInt(kUser, kRepeatSelftest, 0);
    repeatOctoprog_ = file.readInt(kUser, kRepeatOctoprog, 0);
    createLogFile_ = readFlag(file, kUser, kCreateLogFile, 0);

    timeSelfTest_ = readDuration(file, kTimeSelfTest, 5000);
    timeOctoProg_ = readDuration(file, kTimeOctoProg, 60000);
    timeEraseImage_ = readDuration(file, kTimeEraseImage, 1000);
    timeLoadImage_ = readDuration(file, kTimeLoadImage, 4000);
    timeLoadFirmware_ = readDuration(file, kTimeLoadFirmware, 2000);

    jtagSpeed_ = std::min<uint8_t>(jtagSpeed_, kJtagSpeedLimit);

    // Values that have no row in their list take the nearest row, so that the lists always
    // show what is in effect and no voltage outside the offered range is ever selected.
    comPort_ = std::clamp(comPort, 1, kComPortRows) - 1;
    maxSupplyIndex_ = offeredSupplyIndex(maxSupplyVoltage - kSupplyListBaseTenths);
    state_.supplyVoltageIndex =
        std::clamp(supplyVoltage - kSupplyListBaseTenths, 0, maxSupplyIndex_);
    settleTime_ = std::clamp(settleTime_, 0, kSettleTimeRows - 1);

    const bool erasing = erase_ != 0 || eraseCheck_ != 0;
    view_.setEnabled(IDC_ERASE_MAIN, erasing);
    view_.setEnabled(IDC_ERASE_INFO, erasing);
    view_.setEnabled(IDC_ERASE_PINFO,
                     erasing && eraseInfo_ != 0 && deviceType_.hasProtectedInfo != 0);
    view_.setEnabled(IDC_ERASE_BSL, erasing && deviceType_.hasBsl != 0);

    showMembers();
}

void ProgrammerDialog::saveSettings() {
    using namespace ini;
    takeControls();
    ProfileStore& file = profile();
    captionIndexed_ = readFlag(file, kUser, kCaptionIndexed, 0);
    if (!file.writeInt(kSystem, kComPort, comPort_ + 1)) {
        view_.messageBox(kWriteErrorText, kWriteErrorCaption, mb::kOk | mb::kIconStop);
        return;
    }
    // A list without a selection has no value to store: the file keeps the one it has.
    if (baudRate_ >= 0) {
        file.writeInt(kSystem, kBaudRate, baudRate_);
    }
    file.writeInt(kSystem, kSupplyByProg, supplyByProg_);
    file.writeInt(kSystem, kEraseMain, eraseMain_);
    file.writeInt(kSystem, kEraseInfo, eraseInfo_);
    file.writeInt(kSystem, kErasePinfo, erasePinfo_);
    file.writeInt(kSystem, kEraseBslSegm, eraseBslSegm_);
    file.writeInt(kSystem, kRestoreDco, restoreDco_);
    file.writeInt(kSystem, kUseDlk, useDlk_);
    if (state_.supplyVoltageIndex >= 0) {
        file.writeInt(kSystem, kSupplyVoltage, state_.supplyVoltageIndex + kSupplyListBaseTenths);
    }
    file.writeInt(kSystem, kSwitchVccOff, switchVccOff_);
    if (settleTime_ >= 0) {
        file.writeInt(kSystem, kSettleTime, settleTime_);
    }
    file.writeInt(kSystem, kErase, erase_);
    file.writeInt(kSystem, kEraseCheck, eraseCheck_);
    file.writeInt(kSystem, kProgram, program_);
    file.writeInt(kSystem, kVerify, verify_);
    file.writeInt(kSystem, kBlowFuse, blowFuse_);
    file.writeInt(kSystem, kShowSettings, showSettings_);
    file.writeInt(kUser, kCaptionIndexed, captionIndexed_);
    file.writeInt(kDiagnostic, kBusy, kBusyValue);
}

} // namespace octo
