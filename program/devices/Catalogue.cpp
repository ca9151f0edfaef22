// The device catalogue of the main window: the offered groups, the type list, making a
// type current with its memory layout from the library, and the interface choice.
#include "app/ProgrammerDialog.h"
#include "resources/resource.h"
#include "settings/ConfigKeys.h"

#include <cstdlib>
#include <vector>

namespace octo {

namespace {

constexpr uint32_t kKindMask = 0xFFFF;
constexpr uint32_t kJtag4DisableBit = 0x1;

// Every section name of the file (none cut off, however many there are), or the single
// placeholder name when the file has none.
std::vector<std::string> catalogueSections(const ProfileSnapshot& file) {
    std::vector<std::string> names = file.sectionNames();
    if (names.empty()) {
        names.emplace_back(kNoDevicesSection);
    }
    return names;
}

// The text-to-number rule for the stored group: blanks, a sign and decimal digits.
int32_t decimalValue(const std::string& text) {
    return static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

} // namespace

void ProgrammerDialog::fillDeviceGroups() {
    for (DeviceGroup& group : deviceGroupTable_) {
        group.typeCount = 0;
    }
    offeredGroups_ = OfferedGroups{};
    // One version of the file for the names and every Group key of this count.
    const ProfileSnapshot file = profile().snapshot();
    for (const std::string& name : catalogueSections(file)) {
        if (!isDeviceTypeSection(name)) {
            continue;
        }
        const int32_t group = file.readInt(name, ini::kGroup, kNoGroup);
        for (DeviceGroup& row : deviceGroupTable_) {
            if (row.groupNumber == group) {
                ++row.typeCount;
            }
        }
    }
    for (const DeviceGroup& row : deviceGroupTable_) {
        if (row.typeCount != 0) {
            offeredGroups_.rows[offeredGroups_.count++] = row;
        }
    }
}

void ProgrammerDialog::fillDeviceGroupList() {
    view_.clearList(IDC_DEVICE_GROUP);
    for (int i = 0; i < offeredGroups_.count; ++i) {
        view_.addListRow(IDC_DEVICE_GROUP, offeredGroups_.rows[i].groupName.data());
    }
    ProfileStore& file = profile();
    const std::string typeName =
        file.readString(ini::kSystem, ini::kDevTypeName, kDefaultDevTypeName, ini::kNameBuffer);
    const int32_t group =
        decimalValue(file.readString(typeName, ini::kGroup, kDefaultGroupText, ini::kNameBuffer));
    int selected = 0;
    for (int i = 0; i < offeredGroups_.count; ++i) {
        if (offeredGroups_.rows[i].groupNumber == group) {
            selected = i;
        }
    }
    if (offeredGroups_.count == 0) {
        view_.clearList(IDC_DEVICE_TYPE);
    } else {
        view_.setListSelection(IDC_DEVICE_GROUP, selected);
        fillDeviceTypes(offeredGroups_.rows[selected].groupNumber, typeName);
    }
    // The stored position is what the type list shows next; one that has no row (types
    // removed from the file since) becomes the first row, or none when the list is empty.
    const int types = view_.listCount(IDC_DEVICE_TYPE);
    if (devType_ < 0 || devType_ >= types) {
        devType_ = types > 0 ? 0 : -1;
    }
}

void ProgrammerDialog::fillDeviceTypes(int32_t groupNumber, const std::string& selectName) {
    const ProfileSnapshot file = profile().snapshot();
    const std::vector<std::string> names = catalogueSections(file);
    view_.clearList(IDC_DEVICE_TYPE);
    for (const std::string& name : names) {
        if (isDeviceTypeSection(name) && file.readInt(name, ini::kGroup, kNoGroup) == groupNumber) {
            view_.addListRow(IDC_DEVICE_TYPE, name);
        }
    }
    const int count = view_.listCount(IDC_DEVICE_TYPE);
    int selected = count > 0 ? 0 : -1;
    for (int i = 0; i < count; ++i) {
        if (view_.listRow(IDC_DEVICE_TYPE, i) == selectName) {
            selected = i;
            break;
        }
    }
    view_.setListSelection(IDC_DEVICE_TYPE, selected);
}

void ProgrammerDialog::onDeviceGroupChanged() {
    const int position = view_.listSelection(IDC_DEVICE_GROUP);
    if (position < 0 || position >= offeredGroups_.count) {
        return;
    }
    fillDeviceTypes(offeredGroups_.rows[position].groupNumber, "");
    // While the settings are locked the new list stays on screen, but the main process
    // keeps the stored type until it re-selects it.
    if (showSettings_ != 0) {
        applyDeviceType();
    }
}

void ProgrammerDialog::onDeviceTypeChanged() {
    if (showSettings_ != 0) {
        applyDeviceType();
    }
}

void ProgrammerDialog::onUseDuoLink() {
    estimateStale_ = 1;
    if (showSettings_ == 0) {
        view_.setChecked(IDC_USE_DUOLINK, useDlk_ != 0);
        view_.setChecked(IDC_USE_JTAG4, useDlk_ == 0);
    }
}

void ProgrammerDialog::applyDeviceType() {
    takeControls();
    if (devType_ < 0 || devType_ >= view_.listCount(IDC_DEVICE_TYPE)) {
        return; // no row, no type to apply
    }
    const std::string typeName = view_.listRow(IDC_DEVICE_TYPE, devType_);
    deviceType_.typeName = typeName;
    deviceType_.vpp = profile().readInt(typeName, ini::kVpp, kDefaultVpp);
    refreshDevice(typeName, true);
    state_.readOutStart = deviceType_.flashStart;
    state_.readOutLength = deviceType_.flashWords * 2;
    reloadRequired_ = 1;
    // New sizes make the last estimate of the run duration worthless.
    estimateStale_ = 1;
}

void ProgrammerDialog::refreshDevice(const std::string& typeName, bool updateControls) {
    DeviceType& d = deviceType_;
    d.dcoBytes = 0;
    d.protectedInfoBytes = 0;
    d.jtag4Allowed = 1;
    const OctoSegmentEntry* table = nullptr;
    if (library().getDevice(typeName, &table) != 0 || table == nullptr) {
        view_.setText(IDC_DEVICE_INFO, kDeviceEntryNotValid);
        return;
    }
    d.hasProtectedInfo = 0;
    d.hasBsl = 0;
    view_.setEnabled(IDC_ERASE_PINFO, false);
    view_.setEnabled(IDC_ERASE_BSL, false);
    view_.setEnabled(IDC_RESTORE_DCO, false);
    d.flashStart = kNoFlashStart;
    uint16_t ram = 0;
    uint16_t info = 0;
    uint32_t flash = 0;
    uint32_t bsl = 0;
    for (int i = 0; i < OCTO_MAX_SEGMENTS; ++i) {
        const OctoSegmentEntry& entry = table[i];
        const uint32_t kind = entry.kind & kKindMask;
        if (kind == OCTO_SEGMENT_END) {
            break;
        }
        const auto length16 = static_cast<uint16_t>(entry.length);
        switch (kind) {
        case OCTO_SEGMENT_RAM:
            ram = static_cast<uint16_t>(ram + length16);
            break;
        case OCTO_SEGMENT_INFO:
            info = static_cast<uint16_t>(info + length16);
            break;
        case OCTO_SEGMENT_FLASH:
            flash += entry.length;
            if (entry.start < d.flashStart) {
                d.flashStart = entry.start;
            }
            break;
        case OCTO_SEGMENT_PROTECTED_INFO:
            info = static_cast<uint16_t>(info + length16);
            d.protectedInfoBytes = static_cast<uint16_t>(d.protectedInfoBytes + length16);
            if (d.protectedInfoBytes != 0) {
                d.hasProtectedInfo = 1;
                if (updateControls &&
                    (view_.isChecked(IDC_ERASE) || view_.isChecked(IDC_ERASE_CHECK))) {
                    view_.setEnabled(IDC_ERASE_PINFO, view_.isChecked(IDC_ERASE_INFO));
                }
            }
            break;
        case OCTO_SEGMENT_DCO:
            d.dcoBytes = static_cast<uint16_t>(d.dcoBytes + length16);
            // Calibration data of its own (not the protected segment itself) can be kept.
            if (d.dcoBytes != 0 && d.dcoBytes != d.protectedInfoBytes) {
                view_.setEnabled(IDC_RESTORE_DCO, true);
                view_.setChecked(IDC_RESTORE_DCO, true);
                restoreDco_ = 1;
            } else {
                view_.setChecked(IDC_RESTORE_DCO, false);
                restoreDco_ = 0;
            }
            break;
        case OCTO_SEGMENT_BSL:
            d.hasBsl = 1;
            if (updateControls) {
                view_.setEnabled(IDC_ERASE_BSL, true);
            }
            bsl += entry.length;
            break;
        default:
            break;
        }
    }
    d.ramBytes = ram;
    d.infoBytes = info;
    d.flashBytes = flash;
    d.bslBytes = bsl;
    d.infoWords = static_cast<uint16_t>(info >> 1);
    d.flashWords = flash >> 1;
    d.bslWords = bsl >> 1;
    if (d.hasBsl == 0) {
        eraseBslSegm_ = 0;
        showMembers();
    }
    view_.setText(IDC_DEVICE_INFO, formatDeviceInfo(d.ramBytes, d.flashBytes, d.infoBytes));
    ProfileStore& file = profile();
    d.dlkAble = file.readInt(typeName, ini::kDlkAble, 0);
    const auto jtag4Disable = static_cast<uint32_t>(file.readInt(typeName, ini::kJtag4Disable, 0));
    d.jtag4Allowed = (jtag4Disable & kJtag4DisableBit) == 0 ? 1 : 0;
    if (d.hasProtectedInfo == 0) {
        view_.setChecked(IDC_ERASE_PINFO, false);
    }
    if (updateControls) {
        applyInterfaceRules();
    }
    takeControls();
}

} // namespace octo
