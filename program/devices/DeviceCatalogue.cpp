#include "devices/DeviceCatalogue.h"

#include <cstdio>
#include <cstring>

namespace octo {

namespace {

struct GroupRow {
    int32_t number;
    const char* name;
};

constexpr GroupRow kGroupRows[kDeviceGroupCount] = {
    {1, "ZEL816A1xx"}, {2, "ZEL816A2xx"},  {22, "ZEL816N2xx"}, {21, "ZEL816B2xx"},
    {4, "ZEL816A4xx"}, {41, "ZEL816C4xx"}, {42, "ZEL816D4xx"}, {43, "ZEL816E4xx"},
    {5, "ZEL816A5xx"}, {57, "ZEL816R5xx"}, {6, "ZEL816A6xx"},  {15, "QD816A5xx"},
    {16, "QD816A6xx"}, {23, "VRG xx"},
};

constexpr const char* kFamilyWords[] = {"ZEL816", "QD816", "TRV816", "VRG"};

// Up to this many bytes of flash the information line counts bytes, not kilobytes.
constexpr uint32_t kLargestFlashInBytes = 4100;
constexpr uint32_t kBytesPerKilobyte = 1024;
constexpr std::size_t kInfoLineSize = 96;

} // namespace

DeviceGroupTable makeDeviceGroupTable() {
    DeviceGroupTable table{};
    for (int i = 0; i < kDeviceGroupCount; ++i) {
        table[i].groupNumber = kGroupRows[i].number;
        table[i].typeCount = 0;
        std::strncpy(table[i].groupName.data(), kGroupRows[i].name, kGroupNameBytes - 1);
    }
    return table;
}

bool isDeviceTypeSection(std::string_view sectionName) {
    for (const char* word : kFamilyWords) {
        if (sectionName.find(word) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

std::string formatDeviceInfo(uint16_t ramBytes, uint32_t flashBytes, uint16_t infoBytes) {
    char line[kInfoLineSize];
    if (flashBytes > kLargestFlashInBytes) {
        const uint32_t kilobytes = static_cast<uint32_t>(
            (uint64_t{flashBytes} + kBytesPerKilobyte / 2) / kBytesPerKilobyte);
        std::snprintf(line, sizeof line, " RAM: %u Byte   FLASH: %lu KByte (+%u Byte)",
                      unsigned{ramBytes}, static_cast<unsigned long>(kilobytes),
                      unsigned{infoBytes});
    } else {
        std::snprintf(line, sizeof line, " RAM: %u Byte   FLASH: %lu Byte (+%u Byte)",
                      unsigned{ramBytes}, static_cast<unsigned long>(flashBytes),
                      unsigned{infoBytes});
    }
    return line;
}

} // namespace octo
