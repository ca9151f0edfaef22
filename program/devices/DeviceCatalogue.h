// The fixed device groups, which configuration sections are device types, and the device
// information line.
#pragma once

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

} // namespace octo
