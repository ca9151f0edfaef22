// The device database: every ZEL816-family type the library knows, with the segment table
// GetDevice hands out and the keys the type's section of OCTO816.INI carries.
#pragma once

#include "devices/segments.h"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace octo::devices {

// A section of the configuration file is a device type when its name holds one of these.
inline constexpr std::array<std::string_view, 4> kFamilyWords = {"ZEL816", "QD816", "TRV816",
                                                                 "VRG"};

struct DeviceGroup {
    int32_t number;
    std::string_view name;
};

// The program's fixed group table, in the order of its group list.
inline constexpr std::array<DeviceGroup, 14> kDeviceGroups = {{
    {1, "ZEL816A1xx"},
    {2, "ZEL816A2xx"},
    {22, "ZEL816N2xx"},
    {21, "ZEL816B2xx"},
    {4, "ZEL816A4xx"},
    {41, "ZEL816C4xx"},
    {42, "ZEL816D4xx"},
    {43, "ZEL816E4xx"},
    {5, "ZEL816A5xx"},
    {57, "ZEL816R5xx"},
    {6, "ZEL816A6xx"},
    {15, "QD816A5xx"},
    {16, "QD816A6xx"},
    {23, "VRG xx"},
}};

// Defaults the program applies to keys missing from a type's section.
inline constexpr int32_t kDefaultVpp = 27;
inline constexpr int32_t kDefaultDlkAble = 0;
inline constexpr int32_t kDefaultJtag4Disable = 0;

using SegmentTable = std::array<OctoSegmentEntry, OCTO_MAX_SEGMENTS>;

// A row of the table names the keys where the type differs from the program's defaults.
struct DeviceType {
    std::string_view name;             // the section name in OCTO816.INI
    int32_t group = 0;                 // key Group
    int32_t vpp = kDefaultVpp;         // key Vpp: minimum supply for erase and program, 0.1 V
    int32_t dlkAble = kDefaultDlkAble; // key DlkAble: 1 = programmable over two-wire DuoLink
    int32_t jtag4Disable = kDefaultJtag4Disable; // key JTAG4disable: bit 0 set = no 4-wire JTAG
    SegmentTable segments{};                     // ends at the first kind 0 row
};

std::span<const DeviceType> deviceTypes();

// The type of that name: exact match first, else ASCII case-insensitive (section names
// of the configuration file match without regard to case). Null when unknown.
const DeviceType* findDeviceType(std::string_view name);

// The rows before the terminating kind 0 row.
std::span<const OctoSegmentEntry> usedSegments(const DeviceType& type);

bool hasFamilyWord(std::string_view sectionName);

// GetDevice's storage: 0 and the type's table, which lives as long as the process; 16
// (argument out of range) for a null argument or an unknown type, table left unchanged.
int32_t getDeviceTable(const char* typeName, const OctoSegmentEntry** table);

inline constexpr int32_t kResultUnknownDevice = 16;

} // namespace octo::devices
