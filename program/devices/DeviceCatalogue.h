// The device catalogue of the main window: the fixed device groups, which configuration
// sections are device types, the group and type lists, making a type current with its
// memory layout from the library, the device information line and the interface rules.
#pragma once

#include "app/OperationFlags.h"
#include "app/ProgramState.h"
#include "app/UnitInfo.h"
#include "app/View.h"
#include "devices/DeviceType.h"
#include "link/ProgrammerLibrary.h"
#include "settings/ProfileStore.h"
#include "settings/Settings.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace octo {

inline constexpr int kDeviceGroupCount = 14;
inline constexpr std::size_t kGroupNameBytes = 16;

struct DeviceGroup {
    int32_t groupNumber = 0;
    int32_t typeCount = 0;
    std::array<char, kGroupNameBytes> groupName{}; // zero-terminated
};

using DeviceGroupTable = std::array<DeviceGroup, kDeviceGroupCount>;

// The groups in the order of the group list, with their counts at zero.
DeviceGroupTable makeDeviceGroupTable();

// The groups that have at least one type, in table order.
struct OfferedGroups {
    std::array<DeviceGroup, kDeviceGroupCount> rows{};
    int count = 0;
};

// A section is a device type when its name holds one of the family words (case-sensitive).
bool isDeviceTypeSection(std::string_view sectionName);

// What the type list reads when the file has no section at all.
inline constexpr char kNoDevicesSection[] = "ZEL816 no devices";
// Defaults of the device-type keys.
inline constexpr int32_t kNoGroup = -1;
inline constexpr int32_t kDefaultVpp = 27;
inline constexpr char kDefaultDevTypeName[] = "ZEL816 A110";
inline constexpr char kDefaultGroupText[] = "1";

// " RAM: 512 Byte   FLASH: 60 KByte (+256 Byte)": flash above 4100 bytes in kilobytes
// rounded half up, otherwise in bytes.
std::string formatDeviceInfo(uint16_t ramBytes, uint32_t flashBytes, uint16_t infoBytes);

inline constexpr char kDeviceEntryNotValid[] = " Device type entry not valid !";

class DeviceCatalogue {
public:
    DeviceCatalogue(View& view, LibrarySlot& library, ProfileStore& profile, Settings& settings,
                    DeviceType& deviceType, UnitInfo& unitInfo, OperationFlags& flags,
                    ProgramState& state)
        : view_(view), library_(library), profile_(profile), settings_(settings),
          deviceType_(deviceType), unitInfo_(unitInfo), flags_(flags), state_(state) {}

    // Counts the types of each group from the file and keeps the groups that have some.
    void fillDeviceGroups();
    // Fills the group list with the offered groups, selects the group of the stored
    // DevTypeName, fills the type list and makes the stored DevType a valid position
    // (the first row when it is none; -1 when the list is empty).
    void fillDeviceGroupList();
    // Lists every device type of the group, sorted, and selects selectName (or the first).
    void fillDeviceTypes(int32_t groupNumber, const std::string& selectName);
    // Makes the type selected in the type list the current one; nothing when no row is
    // selected.
    void applyDeviceType();
    // Reads the type's memory layout from the library into the current type and shows it.
    void refreshDevice(const std::string& typeName, bool updateControls);
    // Chooses the programming interface from the type and the unit's versions.
    void applyInterfaceRules();

    void onDeviceGroupChanged();
    void onDeviceTypeChanged();
    // A click on either interface button: the estimate is stale; undone while locked.
    void onUseDuoLink();

    const DeviceGroupTable& deviceGroupTable() const { return deviceGroupTable_; }
    const OfferedGroups& offeredGroups() const { return offeredGroups_; }

private:
    // Checks one button of the interface pair and clears the other.
    void showInterfaceChoice(bool duoLink);

    View& view_;
    LibrarySlot& library_;
    ProfileStore& profile_;
    Settings& settings_;
    DeviceType& deviceType_;
    UnitInfo& unitInfo_;
    OperationFlags& flags_;
    ProgramState& state_;
    DeviceGroupTable deviceGroupTable_ = makeDeviceGroupTable();
    OfferedGroups offeredGroups_;
};

} // namespace octo
