// The device catalogue of the main window: the offered groups, the type list, making a
// type current with its memory layout from the library (the interface choice is in
// InterfaceRules.cpp).
#include "devices/DeviceCatalogue.h"

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

void DeviceCatalogue::fillDeviceGroups() {
    for (DeviceGroup& group : deviceGroupTable_) {
        group.typeCount = 0;
    }
    offeredGroups_ = OfferedGroups{};
    // One version of the file for the names and every Group key of this count.
    const ProfileSnapshot file = profile_.snapshot();
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

void DeviceCatalogue::fillDeviceGroupList() {
    std::vector<std::string> groupNames;
    for (int i = 0; i < offeredGroups_.count; ++i) {
        groupNames.emplace_back(offeredGroups_.rows[i].groupName.data());
    }
    view_.setListRows(IDC_DEVICE_GROUP, groupNames);
    const std::string typeName =
        profile_.readString(ini::kSystem, ini::kDevTypeName, kDefaultDevTypeName, ini::kNameBuffer);
    const int32_t group = decimalValue(
        profile_.readString(typeName, ini::kGroup, kDefaultGroupText, ini::kNameBuffer));
    int selected = 0;
    for (int i = 0; i < offeredGroups_.count; ++i) {
        if (offeredGroups_.rows[i].groupNumber == group) {
            selected = i;
        }
    }
    if (offeredGroups_.count == 0) {
        view_.setListRows(IDC_DEVICE_TYPE, {});
    } else {
        view_.setListSelection(IDC_DEVICE_GROUP, selected);
        fillDeviceTypes(offeredGroups_.rows[selected].groupNumber, typeName);
    }
    // The stored position is what the type list shows next; one that has no row (types
    // removed from the file since) becomes the first row, or none when the list is empty.
    const int types = view_.listCount(IDC_DEVICE_TYPE);
    if (settings_.devType < 0 || settings_.devType >= types) {
        settings_.devType = types > 0 ? 0 : -1;
    }
}

void DeviceCatalogue::fillDeviceTypes(int32_t groupNumber, const std::string& selectName) {
    const ProfileSnapshot file = profile_.snapshot();
    const std::vector<std::string> names = catalogueSections(file);
    std::vector<std::string> types;
    for (const std::string& name : names) {
        if (isDeviceTypeSection(name) && file.readInt(name, ini::kGroup, kNoGroup) == groupNumber) {
            types.push_back(name);
        }
    }
    view_.setListRows(IDC_DEVICE_TYPE, types);
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

void DeviceCatalogue::onDeviceGroupChanged() {
    const int position = view_.listSelection(IDC_DEVICE_GROUP);
    if (position < 0 || position >= offeredGroups_.count) {
        return;
    }
    fillDeviceTypes(offeredGroups_.rows[position].groupNumber, "");
    // While the settings are locked the new list stays on screen, but the main process
    // keeps the stored type until it re-selects it.
    if (!settings_.locked()) {
        applyDeviceType();
    }
}

void DeviceCatalogue::onDeviceTypeChanged() {
    if (!settings_.locked()) {
        applyDeviceType();
    }
}

void DeviceCatalogue::applyDeviceType() {
    takeControls(view_, settings_);
    if (settings_.devType < 0 || settings_.devType >= view_.listCount(IDC_DEVICE_TYPE)) {
        return; // no row, no type to apply
    }
    const std::string typeName = view_.listRow(IDC_DEVICE_TYPE, settings_.devType);
    deviceType_.typeName = typeName;
    deviceType_.vpp = profile_.readInt(typeName, ini::kVpp, kDefaultVpp);
    refreshDevice(typeName, true);
    state_.readOutStart = deviceType_.flashStart;
    state_.readOutLength = deviceType_.flashWords * 2;
    flags_.reloadRequired = true;
    // New sizes make the last estimate of the run duration worthless.
    flags_.estimateStale = true;
}

void DeviceCatalogue::refreshDevice(const std::string& typeName, bool updateControls) {
    DeviceType& d = deviceType_;
    d.dcoBytes = 0;
    d.protectedInfoBytes = 0;
    d.jtag4Allowed = true;
    const OctoSegmentEntry* table = nullptr;
    if (library_->getDevice(typeName, &table) != 0 || table == nullptr) {
        view_.setText(IDC_DEVICE_INFO, kDeviceEntryNotValid);
        return;
    }
    d.hasProtectedInfo = false;
    d.hasBsl = false;
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
                d.hasProtectedInfo = true;
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
                settings_.restoreDco = 1;
            } else {
                view_.setChecked(IDC_RESTORE_DCO, false);
                settings_.restoreDco = 0;
            }
            break;
        case OCTO_SEGMENT_BSL:
            d.hasBsl = true;
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
    if (!d.hasBsl) {
        settings_.eraseBslSegm = 0;
        showSettings(view_, settings_);
    }
    view_.setText(IDC_DEVICE_INFO, formatDeviceInfo(d.ramBytes, d.flashBytes, d.infoBytes));
    d.dlkAble = profile_.readInt(typeName, ini::kDlkAble, 0);
    const auto jtag4Disable =
        static_cast<uint32_t>(profile_.readInt(typeName, ini::kJtag4Disable, 0));
    d.jtag4Allowed = (jtag4Disable & kJtag4DisableBit) == 0;
    if (!d.hasProtectedInfo) {
        view_.setChecked(IDC_ERASE_PINFO, false);
    }
    if (updateControls) {
        applyInterfaceRules();
    }
    takeControls(view_, settings_);
}

} // namespace octo
