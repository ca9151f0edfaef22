#include "settings/Settings.h"

#include <string>

#include "resources/resource.h"
#include "run/programming.h"
#include "settings/ConfigKeys.h"

#include <algorithm>
#include <climits>
#include <type_traits>
#include <vector>

namespace octo {

namespace {

using namespace ini;
using E = Encoding;

constexpr int32_t kJtagSpeedLimit = 3;
constexpr uint32_t kLowByte = 0xFF;
constexpr int kBusyValue = 1;

constexpr char kWriteErrorText[] = "Error writing to OCTO816.INI.\nNormal work is not possible.\n"
                                   "Please check if the file is not write protected";
constexpr char kWriteErrorCaption[] = "Error";

// The save order is the order of these rows; BaudRate is written but not read (the start-up
// command sets the highest rate), DevType and the file names are read here and written by
// image loading, and the category has no key at all.
const SettingRow kRows[] = {
    // clang-format off
    {.section = kSystem, .key = kComPort, .fileDefault = 1, .encoding = E::PositionFrom1, .control = IDC_COM_PORT, .field = &Settings::comPort, .saved = true},
    {.section = kSystem, .key = kBaudRate, .encoding = E::Position, .control = IDC_BAUD_RATE, .field = &Settings::baudRate, .loaded = false, .saved = true},
    {.section = kSystem, .key = kSupplyByProg, .fileDefault = 1, .encoding = E::Flag, .control = IDC_SUPPLY_BY_PROG, .field = &Settings::supplyByProg, .saved = true},
    {.section = kSystem, .key = kEraseMain, .fileDefault = 1, .encoding = E::Flag, .control = IDC_ERASE_MAIN, .field = &Settings::eraseMain, .saved = true},
    {.section = kSystem, .key = kEraseInfo, .fileDefault = 1, .encoding = E::Flag, .control = IDC_ERASE_INFO, .field = &Settings::eraseInfo, .saved = true},
    {.section = kSystem, .key = kErasePinfo, .fileDefault = 1, .encoding = E::Flag, .control = IDC_ERASE_PINFO, .field = &Settings::erasePinfo, .saved = true},
    {.section = kSystem, .key = kEraseBslSegm, .fileDefault = 0, .encoding = E::Flag, .control = IDC_ERASE_BSL, .field = &Settings::eraseBslSegm, .saved = true},
    {.section = kSystem, .key = kRestoreDco, .fileDefault = 1, .encoding = E::Flag, .control = IDC_RESTORE_DCO, .field = &Settings::restoreDco, .saved = true},
    {.section = kSystem, .key = kUseDlk, .fileDefault = 1, .encoding = E::Flag, .control = IDC_USE_DUOLINK, .field = &Settings::useDlk, .saved = true},
    {.section = kSystem, .key = kSupplyVoltage, .fileDefault = 30, .encoding = E::SupplyTenths, .control = IDC_SUPPLY_VOLTAGE, .field = &Settings::supplyVoltage, .saved = true},
    {.section = kSystem, .key = kSwitchVccOff, .fileDefault = 1, .encoding = E::Flag, .control = IDC_SWITCH_VCC_OFF, .field = &Settings::switchVccOff, .saved = true},
    {.section = kSystem, .key = kSettleTime, .fileDefault = 0, .encoding = E::Position, .control = IDC_SETTLE_TIME, .field = &Settings::settleTime, .saved = true},
    {.section = kSystem, .key = kErase, .fileDefault = 1, .encoding = E::Flag, .control = IDC_ERASE, .field = &Settings::erase, .saved = true},
    {.section = kSystem, .key = kEraseCheck, .fileDefault = 1, .encoding = E::Flag, .control = IDC_ERASE_CHECK, .field = &Settings::eraseCheck, .saved = true},
    {.section = kSystem, .key = kProgram, .fileDefault = 1, .encoding = E::Flag, .control = IDC_PROGRAM, .field = &Settings::program, .saved = true},
    {.section = kSystem, .key = kVerify, .fileDefault = 1, .encoding = E::Flag, .control = IDC_VERIFY, .field = &Settings::verify, .saved = true},
    {.section = kSystem, .key = kBlowFuse, .fileDefault = 0, .encoding = E::Flag, .control = IDC_SECURE, .field = &Settings::blowFuse, .saved = true},
    {.section = kSystem, .key = kShowSettings, .fileDefault = 1, .encoding = E::Flag, .field = &Settings::showSettings, .saved = true},
    {.section = kUser, .key = kCaptionIndexed, .fileDefault = 0, .encoding = E::Flag, .field = &Settings::captionIndexed, .saved = true},

    {.section = kSystem, .key = kImageFile, .encoding = E::Text, .textBuffer = kPathBuffer, .control = IDC_IMAGE_FILE, .field = &Settings::imageFile},
    {.section = kSystem, .key = kImage2File, .encoding = E::Text, .textBuffer = kPathBuffer, .control = IDC_IMAGE2_FILE, .field = &Settings::image2File},
    {.section = kSystem, .key = kDevType, .fileDefault = 1, .encoding = E::Position, .control = IDC_DEVICE_TYPE, .field = &Settings::devType},
    {.section = kSystem, .key = kJtagSpeed, .fileDefault = 0, .encoding = E::LowByteUpTo3, .field = &Settings::jtagSpeed},
    {.section = kSystem, .key = kVerifyMarginal, .fileDefault = 1, .encoding = E::Flag, .field = &Settings::verifyMarginal},
    {.section = kUser, .key = kMaxSupplyVoltage, .fileDefault = kHighestSupplyTenths, .encoding = E::SupplyTenths, .field = &Settings::maxSupplyIndex},
    {.section = kUser, .key = kRepeatSelftest, .fileDefault = 0, .field = &Settings::repeatSelftest},
    {.section = kUser, .key = kRepeatOctoprog, .fileDefault = 0, .field = &Settings::repeatOctoprog},
    {.section = kUser, .key = kCreateLogFile, .fileDefault = 0, .encoding = E::Flag, .field = &Settings::createLogFile},
    {.section = kUser, .key = kTraceLog, .encoding = E::Text, .textBuffer = kPathBuffer, .field = &Settings::traceLog},
    {.section = kUser, .key = kSockets, .encoding = E::Text, .textBuffer = kPathBuffer, .field = &Settings::sockets},
    {.section = kTiming, .key = kTimeSelfTest, .fileDefault = 5000, .field = &Settings::timeSelfTest},
    {.section = kTiming, .key = kTimeOctoProg, .fileDefault = 60000, .field = &Settings::timeOctoProg},
    {.section = kTiming, .key = kTimeEraseImage, .fileDefault = 1000, .field = &Settings::timeEraseImage},
    {.section = kTiming, .key = kTimeLoadImage, .fileDefault = 4000, .field = &Settings::timeLoadImage},
    {.section = kTiming, .key = kTimeLoadFirmware, .fileDefault = 2000, .field = &Settings::timeLoadFirmware},
    {.section = kSerial, .key = kSerialLedger, .encoding = E::Text, .textBuffer = kPathBuffer, .field = &Settings::serialLedger},
    {.section = kSerial, .key = kSerialAddress, .fileDefault = 0, .field = &Settings::serialAddress},
    {.section = kSerial, .key = kSerialStart, .fileDefault = 0, .field = &Settings::serialStart},
    {.section = kSerial, .key = kSerialEnd, .fileDefault = 0, .field = &Settings::serialEnd},
    {.section = kSerial, .key = kSerialStep, .fileDefault = 1, .field = &Settings::serialStep},
    {.section = kSerial, .key = kSerialFormat, .encoding = E::Text, .textBuffer = kNameBuffer, .field = &Settings::serialFormat},
    {.section = kSerial, .key = kSerialWidth, .fileDefault = 0, .field = &Settings::serialWidth},
    {.section = kSerial, .key = kSerialList, .encoding = E::Text, .textBuffer = kPathBuffer, .field = &Settings::serialList},

    {.control = IDC_CATEGORY, .field = &Settings::category, .loaded = false},
    // clang-format on
};

// stored - offset, without overflow for the lowest numbers a file can hold.
int32_t lessOffset(int32_t stored, int32_t offset) {
    return static_cast<int32_t>(std::max<int64_t>(int64_t{stored} - offset, INT32_MIN));
}

// The number a row keeps in memory for the number the file holds, and back.
int32_t decode(Encoding encoding, int32_t stored) {
    switch (encoding) {
    case E::Flag:
        return stored != 0 ? 1 : 0;
    case E::PositionFrom1:
        return lessOffset(stored, 1);
    case E::SupplyTenths:
        return lessOffset(stored, kLowestSupplyTenths);
    case E::LowByteUpTo3:
        return std::min<int32_t>(static_cast<int32_t>(static_cast<uint32_t>(stored) & kLowByte),
                                 kJtagSpeedLimit);
    default:
        return stored;
    }
}

int32_t encode(Encoding encoding, int32_t value) {
    switch (encoding) {
    case E::PositionFrom1:
        return value + 1;
    case E::SupplyTenths:
        return value + kLowestSupplyTenths;
    default:
        return value;
    }
}

// A list without a selection has no value to store: the file keeps the one it has.
bool keepsFileValue(Encoding encoding, int32_t value) {
    return value < 0 && (encoding == E::Position || encoding == E::SupplyTenths);
}

void readRow(const ProfileSnapshot& file, const SettingRow& row, Settings& settings) {
    std::visit(
        [&](auto member) {
            auto& value = settings.*member;
            using T = std::remove_reference_t<decltype(value)>;
            if constexpr (std::is_same_v<T, std::string>) {
                value = file.readString(row.section, row.key, "", row.textBuffer);
            } else {
                value = static_cast<T>(
                    decode(row.encoding, file.readInt(row.section, row.key, row.fileDefault)));
            }
        },
        row.field);
}

// Numbers and flags of a row as the file stores them; rows of texts are never saved.
int32_t numberOf(const SettingRow& row, const Settings& settings) {
    return std::visit(
        [&](auto member) -> int32_t {
            const auto& value = settings.*member;
            if constexpr (std::is_same_v<std::remove_cvref_t<decltype(value)>, std::string>) {
                return 0;
            } else {
                return static_cast<int32_t>(value);
            }
        },
        row.field);
}

} // namespace

std::span<const SettingRow> settingRows() {
    return kRows;
}

int offeredSupplyIndex(int maxSupplyIndex) {
    return std::clamp(maxSupplyIndex, 0, kHighestSupplyIndex);
}

void loadSettings(ProfileStore& file, Settings& settings) {
    // Every setting from one version of the file, read from the disk once.
    const ProfileSnapshot snapshot = file.snapshot();
    for (const SettingRow& row : kRows) {
        if (row.section != nullptr && row.loaded) {
            readRow(snapshot, row, settings);
        }
    }
    settings.comPort = std::clamp(settings.comPort, 0, kComPortRows - 1);
    settings.maxSupplyIndex = offeredSupplyIndex(settings.maxSupplyIndex);
    settings.supplyVoltage = std::clamp(settings.supplyVoltage, 0, settings.maxSupplyIndex);
    settings.settleTime = std::clamp(settings.settleTime, 0, kSettleTimeRows - 1);
}

void loadSetting(ProfileStore& file, Settings& settings, SettingField field) {
    for (const SettingRow& row : kRows) {
        if (row.field == field && row.section != nullptr) {
            readRow(file.snapshot(), row, settings);
        }
    }
}

bool saveSettings(ProfileStore& file, Settings& settings, View& view) {
    takeControls(view, settings);
    // Edited in the file while the program runs, it wins over the value in memory.
    loadSetting(file, settings, &Settings::captionIndexed);
    // One replace of the file for every key: each replace is flushed to the disk.
    std::vector<ProfileEntry> entries;
    for (const SettingRow& row : kRows) {
        if (!row.saved) {
            continue;
        }
        const int32_t value = numberOf(row, settings);
        if (keepsFileValue(row.encoding, value)) {
            continue;
        }
        entries.push_back({row.section, row.key, std::to_string(encode(row.encoding, value))});
    }
    entries.push_back({kDiagnostic, kBusy, std::to_string(kBusyValue)});
    if (!file.writeEntries(entries)) {
        view.messageBox(kWriteErrorText, kWriteErrorCaption, mb::kOk | mb::kIconStop);
        return false;
    }
    return true;
}

void takeControls(const View& view, Settings& settings) {
    for (const SettingRow& row : kRows) {
        if (row.control == kNoControl) {
            continue;
        }
        std::visit(
            [&](auto member) {
                auto& value = settings.*member;
                using T = std::remove_reference_t<decltype(value)>;
                if constexpr (std::is_same_v<T, std::string>) {
                    value = view.text(row.control);
                } else if (row.encoding == E::Flag) {
                    value = view.isChecked(row.control) ? 1 : 0;
                } else {
                    value = static_cast<T>(view.listSelection(row.control));
                }
            },
            row.field);
    }
}

void showSettings(View& view, const Settings& settings) {
    for (const SettingRow& row : kRows) {
        if (row.control == kNoControl) {
            continue;
        }
        std::visit(
            [&](auto member) {
                const auto& value = settings.*member;
                using T = std::remove_cvref_t<decltype(value)>;
                if constexpr (std::is_same_v<T, std::string>) {
                    view.setText(row.control, value);
                } else if (row.encoding == E::Flag) {
                    view.setChecked(row.control, value != 0);
                } else {
                    view.setListSelection(row.control, static_cast<int>(value));
                }
            },
            row.field);
    }
}

bool refuseWhileLocked(View& view, const Settings& settings) {
    if (settings.locked()) {
        showSettings(view, settings);
    }
    return settings.locked();
}

uint8_t socketsInUse(const Settings& settings) {
    // A text that fills its buffer may have been cut: what is left of it is not the list.
    if (settings.sockets.size() + 1 >= kPathBuffer) {
        return run::kAllSockets;
    }
    return run::parseSockets(settings.sockets).value_or(run::kAllSockets);
}

void writeTiming(ProfileStore& file, const char* key, uint32_t ms) {
    file.write(kTiming, key, std::to_string(ms));
}

} // namespace octo
