#include "devices/device_table.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace octo::devices {

namespace {

constexpr OctoSegmentEntry ram(uint32_t start, uint32_t length) {
    return {OCTO_SEGMENT_RAM, start, length};
}
constexpr OctoSegmentEntry info(uint32_t start, uint32_t length) {
    return {OCTO_SEGMENT_INFO, start, length};
}
constexpr OctoSegmentEntry flash(uint32_t start, uint32_t length) {
    return {OCTO_SEGMENT_FLASH, start, length};
}
constexpr OctoSegmentEntry protectedInfo(uint32_t start, uint32_t length) {
    return {OCTO_SEGMENT_PROTECTED_INFO, start, length};
}
constexpr OctoSegmentEntry dco(uint32_t start, uint32_t length) {
    return {OCTO_SEGMENT_DCO, start, length};
}
constexpr OctoSegmentEntry bsl(uint32_t start, uint32_t length) {
    return {OCTO_SEGMENT_BSL, start, length};
}

constexpr SegmentTable table(std::initializer_list<OctoSegmentEntry> rows) {
    SegmentTable result{};
    size_t i = 0;
    for (const auto& row : rows) {
        result[i++] = row;
    }
    return result;
}

// Memory maps of the family. The 1xx to 4xx parts have their peripherals below 0x0200,
// RAM from 0x0200, the loader (BSL) at 0x0C00, information memory at 0x1000 and main flash
// up to the vectors at 0xFFFF, larger parts continuing above 0x10000. The 5xx and 6xx parts
// have the BSL at 0x1000, information memory at 0x1800, RAM from 0x1C00 and, like the
// others, calibration data in the protected information segment or just above it.
constexpr uint32_t kKiB = 1024;
constexpr uint32_t kRam = 0x0200;
constexpr uint32_t kRamHigh = 0x1C00;
constexpr uint32_t kBsl = 0x0C00;
constexpr uint32_t kBslHigh = 0x1000;
constexpr uint32_t kInfo = 0x1000;
constexpr uint32_t kInfoHigh = 0x1800;
constexpr uint32_t kFlashEnd = 0x10000;
constexpr uint32_t kUpperFlash = 0x10000;

constexpr std::array kTypes = std::to_array<DeviceType>({
    // Group 1: the first parts, 1 to 5 KiB of flash. A112, A114 and A116 have flash of
    // 4100, 4101 and 4608 bytes (a 4 KiB array plus the option words below it).
    {.name = "ZEL816 A110",
     .group = 1,
     .segments = table({ram(kRam, 128), info(kInfo, 128), info(kInfo + 0x80, 128),
                        flash(kFlashEnd - 1 * kKiB, 1 * kKiB), bsl(kBsl, 1 * kKiB)})},
    {.name = "ZEL816 A112",
     .group = 1,
     .segments =
         table({ram(kRam, 256), info(kInfo, 128), info(kInfo + 0x80, 128), flash(0xEFFC, 4100)})},
    {.name = "ZEL816 A114",
     .group = 1,
     .segments =
         table({ram(kRam, 256), info(kInfo, 128), info(kInfo + 0x80, 128), flash(0xEFFA, 4101)})},
    {.name = "ZEL816 A116",
     .group = 1,
     .segments = table({ram(kRam, 256), info(kInfo, 128), info(kInfo + 0x80, 128),
                        flash(0xEE00, 4608), bsl(kBsl, 1 * kKiB)})},

    // Group 2: DuoLink-only parts (no 4-wire JTAG). A201's calibration data fill the whole
    // protected segment; A231 keeps 8 bytes of it at the top.
    {.name = "ZEL816 A201",
     .group = 2,
     .vpp = 22,
     .dlkAble = 1,
     .jtag4Disable = 3,
     .segments =
         table({ram(kRam, 128), info(kInfo, 64), info(kInfo + 0x40, 64), info(kInfo + 0x80, 64),
                protectedInfo(kInfo + 0xC0, 64), dco(kInfo + 0xC0, 64),
                flash(kFlashEnd - 2 * kKiB, 2 * kKiB), bsl(kBsl, 1 * kKiB)})},
    {.name = "ZEL816 A211",
     .group = 2,
     .vpp = 22,
     .dlkAble = 1,
     .jtag4Disable = 3,
     .segments =
         table({ram(kRam, 256), info(kInfo, 64), info(kInfo + 0x40, 64), info(kInfo + 0x80, 64),
                protectedInfo(kInfo + 0xC0, 64), dco(kInfo + 0xC0, 64),
                flash(kFlashEnd - 8 * kKiB, 8 * kKiB), bsl(kBsl, 1 * kKiB)})},
    {.name = "ZEL816 A231",
     .group = 2,
     .vpp = 22,
     .dlkAble = 1,
     .jtag4Disable = 3,
     .segments = table({ram(kRam, 512), info(kInfo, 64), info(kInfo + 0x40, 64),
                        info(kInfo + 0x80, 64), protectedInfo(kInfo + 0xC0, 64),
                        dco(kInfo + 0xF8, 8), flash(kFlashEnd - 16 * kKiB, 16 * kKiB)})},
    {.name = "ZEL816 alpha",
     .group = 2,
     .vpp = 22,
     .dlkAble = 1,
     .jtag4Disable = 2,
     .segments = table({ram(kRam, 256), info(kInfo, 128), info(kInfo + 0x80, 128),
                        flash(kFlashEnd - 8 * kKiB, 8 * kKiB)})},
    {.name = "ZEL816 Beta",
     .group = 2,
     .vpp = 22,
     .dlkAble = 1,
     .segments = table({ram(kRam, 512), info(kInfo, 128), info(kInfo + 0x80, 128),
                        flash(kFlashEnd - 16 * kKiB, 16 * kKiB), bsl(kBsl, 1 * kKiB)})},

    // Group 22: DuoLink parts that also take 4-wire JTAG (bit 0 of JTAG4disable clear).
    {.name = "ZEL816 N201",
     .group = 22,
     .vpp = 22,
     .dlkAble = 1,
     .jtag4Disable = 2,
     .segments = table({ram(kRam, 128), info(kInfo, 64), info(kInfo + 0x40, 64),
                        info(kInfo + 0x80, 64), protectedInfo(kInfo + 0xC0, 64),
                        dco(kInfo + 0xF8, 8), flash(kFlashEnd - 2 * kKiB, 2 * kKiB)})},
    {.name = "ZEL816 N232",
     .group = 22,
     .vpp = 22,
     .dlkAble = 1,
     .jtag4Disable = 2,
     .segments = table({ram(kRam, 512), info(kInfo, 128), info(kInfo + 0x80, 128),
                        flash(kFlashEnd - 16 * kKiB, 16 * kKiB), bsl(kBsl, 1 * kKiB)})},

    // Group 21
    {.name = "ZEL816 B231",
     .group = 21,
     .vpp = 22,
     .dlkAble = 1,
     .segments =
         table({ram(kRam, 512), info(kInfo, 64), info(kInfo + 0x40, 64), info(kInfo + 0x80, 64),
                protectedInfo(kInfo + 0xC0, 64), dco(kInfo + 0xF8, 8),
                flash(kFlashEnd - 16 * kKiB, 16 * kKiB), bsl(kBsl, 1 * kKiB)})},
    {.name = "ZEL816 B253",
     .group = 21,
     .vpp = 22,
     .dlkAble = 1,
     .segments =
         table({ram(kRam, 512), info(kInfo, 64), info(kInfo + 0x40, 64), info(kInfo + 0x80, 64),
                protectedInfo(kInfo + 0xC0, 64), dco(kInfo + 0xF8, 8),
                flash(kFlashEnd - 32 * kKiB, 32 * kKiB), bsl(kBsl, 1 * kKiB)})},

    // Group 4: the general-purpose 4xx line, up to 60 KiB below the vectors.
    {.name = "ZEL816 A413",
     .group = 4,
     .segments = table({ram(kRam, 256), info(kInfo, 128), info(kInfo + 0x80, 128),
                        flash(kFlashEnd - 4 * kKiB, 4 * kKiB), bsl(kBsl, 1 * kKiB)})},
    {.name = "ZEL816 A437",
     .group = 4,
     .segments = table({ram(kRam, 1 * kKiB), info(kInfo, 128), info(kInfo + 0x80, 128),
                        flash(kFlashEnd - 32 * kKiB, 32 * kKiB), bsl(kBsl, 1 * kKiB)})},
    {.name = "ZEL816 A449",
     .group = 4,
     .segments = table({ram(kRam, 2 * kKiB), info(kInfo, 128), info(kInfo + 0x80, 128),
                        flash(0x1100, kFlashEnd - 0x1100), bsl(kBsl, 1 * kKiB)})},

    // Group 41
    {.name = "ZEL816 C412",
     .group = 41,
     .segments =
         table({ram(kRam, 256), info(kInfo, 64), info(kInfo + 0x40, 64), info(kInfo + 0x80, 64),
                protectedInfo(kInfo + 0xC0, 64), dco(kInfo + 0xF8, 8),
                flash(kFlashEnd - 4 * kKiB, 4 * kKiB), bsl(kBsl, 1 * kKiB)})},
    {.name = "ZEL816 C437",
     .group = 41,
     .segments =
         table({ram(kRam, 1 * kKiB), info(kInfo, 64), info(kInfo + 0x40, 64),
                info(kInfo + 0x80, 64), protectedInfo(kInfo + 0xC0, 64), dco(kInfo + 0xF8, 8),
                flash(kFlashEnd - 32 * kKiB, 32 * kKiB), bsl(kBsl, 1 * kKiB)})},
    {.name = "TRV816 C415",
     .group = 41,
     .segments = table({ram(kRam, 512), info(kInfo, 128), info(kInfo + 0x80, 128),
                        flash(kFlashEnd - 16 * kKiB, 16 * kKiB)})},

    // Group 42
    {.name = "ZEL816 D423",
     .group = 42,
     .segments = table({ram(kRam, 1 * kKiB), info(kInfo, 128), info(kInfo + 0x80, 128),
                        flash(kFlashEnd - 32 * kKiB, 32 * kKiB), bsl(kBsl, 1 * kKiB)})},
    {.name = "ZEL816 D427",
     .group = 42,
     .segments = table({ram(kRam, 1 * kKiB), info(kInfo, 128), info(kInfo + 0x80, 128),
                        flash(kFlashEnd - 48 * kKiB, 48 * kKiB), bsl(kBsl, 1 * kKiB)})},

    // Group 43: flash continues above 0x10000.
    {.name = "ZEL816 E4618",
     .group = 43,
     .segments = table({ram(0x1100, 8 * kKiB), info(kInfo, 128), info(kInfo + 0x80, 128),
                        flash(0x3100, kFlashEnd - 0x3100), flash(kUpperFlash, 64 * kKiB),
                        bsl(kBsl, 1 * kKiB)})},
    {.name = "ZEL816 E4619",
     .group = 43,
     .segments = table({ram(0x1100, 4 * kKiB), info(kInfo, 128), info(kInfo + 0x80, 128),
                        flash(0x2100, kFlashEnd - 0x2100), flash(kUpperFlash, 64 * kKiB),
                        bsl(kBsl, 1 * kKiB)})},

    // Group 5: the 5xx line, 2 KiB loader, 512 bytes of information memory.
    {.name = "ZEL816 A5132",
     .group = 5,
     .vpp = 22,
     .dlkAble = 1,
     .segments = table({ram(kRamHigh, 2 * kKiB), info(kInfoHigh, 128), info(kInfoHigh + 0x80, 128),
                        info(kInfoHigh + 0x100, 128), protectedInfo(kInfoHigh + 0x180, 128),
                        flash(0x8000, 32 * kKiB), bsl(kBslHigh, 2 * kKiB)})},
    {.name = "ZEL816 A5438",
     .group = 5,
     .vpp = 22,
     .dlkAble = 1,
     .segments =
         table({ram(kRamHigh, 16 * kKiB), info(kInfoHigh, 128), info(kInfoHigh + 0x80, 128),
                info(kInfoHigh + 0x100, 128), info(kInfoHigh + 0x180, 128),
                flash(0x5C00, kFlashEnd - 0x5C00),
                flash(kUpperFlash, 256 * kKiB - (kFlashEnd - 0x5C00)), bsl(kBslHigh, 2 * kKiB)})},
    {.name = "ZEL816 A5529",
     .group = 5,
     .vpp = 22,
     .dlkAble = 1,
     .segments = table({ram(0x2400, 8 * kKiB), info(kInfoHigh, 128), info(kInfoHigh + 0x80, 128),
                        info(kInfoHigh + 0x100, 128), info(kInfoHigh + 0x180, 128),
                        flash(0x4400, kFlashEnd - 0x4400), flash(kUpperFlash, 64 * kKiB),
                        bsl(kBslHigh, 2 * kKiB)})},

    // Group 57: low-voltage parts.
    {.name = "ZEL816 R5739",
     .group = 57,
     .vpp = 20,
     .dlkAble = 1,
     .segments = table({ram(kRamHigh, 1 * kKiB), info(kInfoHigh, 128), info(kInfoHigh + 0x80, 128),
                        flash(0xC200, kFlashEnd - 0xC200), bsl(kBslHigh, 2 * kKiB)})},
    {.name = "ZEL816 R5969",
     .group = 57,
     .vpp = 20,
     .dlkAble = 1,
     .segments = table({ram(kRamHigh, 2 * kKiB), info(kInfoHigh, 128), info(kInfoHigh + 0x80, 128),
                        info(kInfoHigh + 0x100, 128), info(kInfoHigh + 0x180, 128),
                        flash(0x4400, kFlashEnd - 0x4400), flash(kUpperFlash, 16 * kKiB),
                        bsl(kBslHigh, 2 * kKiB)})},

    // Group 6: the large parts, up to almost the whole 1 MiB address space.
    {.name = "ZEL816 A6638",
     .group = 6,
     .vpp = 22,
     .dlkAble = 1,
     .segments = table({ram(kRamHigh, 32 * kKiB), info(kInfoHigh, 128), info(kInfoHigh + 0x80, 128),
                        info(kInfoHigh + 0x100, 128), info(kInfoHigh + 0x180, 128),
                        flash(0xA000, kFlashEnd - 0xA000), flash(kUpperFlash, 448 * kKiB),
                        bsl(kBslHigh, 2 * kKiB)})},
    {.name = "ZEL816 A6779",
     .group = 6,
     .vpp = 22,
     .dlkAble = 1,
     .segments = table({ram(kRamHigh, 16 * kKiB), info(kInfoHigh, 128), info(kInfoHigh + 0x80, 128),
                        info(kInfoHigh + 0x100, 128), info(kInfoHigh + 0x180, 128),
                        flash(0x8000, 32 * kKiB), flash(kUpperFlash, 0x100000 - kUpperFlash),
                        bsl(0x0800, 2 * kKiB), bsl(kBslHigh, 2 * kKiB)})},

    // Group 15. A5132's calibration segment comes before its protected segment.
    {.name = "QD816 A5132",
     .group = 15,
     .vpp = 22,
     .dlkAble = 1,
     .segments = table({ram(kRamHigh, 2 * kKiB), dco(0x1A00, 128), info(kInfoHigh, 128),
                        info(kInfoHigh + 0x80, 128), info(kInfoHigh + 0x100, 128),
                        protectedInfo(kInfoHigh + 0x180, 128), flash(0x8000, 32 * kKiB),
                        bsl(kBslHigh, 2 * kKiB)})},
    {.name = "QD816 A5247",
     .group = 15,
     .vpp = 22,
     .dlkAble = 1,
     .segments = table({ram(kRamHigh, 4 * kKiB), info(kInfoHigh, 128), info(kInfoHigh + 0x80, 128),
                        info(kInfoHigh + 0x100, 128), info(kInfoHigh + 0x180, 128),
                        flash(0x4400, kFlashEnd - 0x4400), bsl(kBslHigh, 2 * kKiB)})},

    // Group 16
    {.name = "QD816 A6438",
     .group = 16,
     .vpp = 22,
     .dlkAble = 1,
     .segments = table({ram(kRamHigh, 8 * kKiB), info(kInfoHigh, 128), info(kInfoHigh + 0x80, 128),
                        info(kInfoHigh + 0x100, 128), info(kInfoHigh + 0x180, 128),
                        flash(0x5C00, kFlashEnd - 0x5C00), flash(kUpperFlash, 105 * kKiB),
                        bsl(0x0C00, 1 * kKiB), bsl(kBslHigh, 2 * kKiB)})},
    {.name = "QD816 A6723",
     .group = 16,
     .vpp = 22,
     .dlkAble = 1,
     .segments = table({ram(kRamHigh, 4 * kKiB), info(kInfoHigh, 128), info(kInfoHigh + 0x80, 128),
                        info(kInfoHigh + 0x100, 128), info(kInfoHigh + 0x180, 128),
                        flash(0x8000, 32 * kKiB), flash(kUpperFlash, 64 * kKiB)})},

    // Group 23. "VRG816 Generic" stands for parts whose memory the library does not
    // know: its table is empty, so loading anything for it is refused.
    {.name = "VRG816 X01",
     .group = 23,
     .segments = table({ram(kRam, 512), info(kInfo, 128), info(kInfo + 0x80, 128),
                        flash(kFlashEnd - 16 * kKiB, 16 * kKiB)})},
    {.name = "VRG816 Generic", .group = 23, .segments = table({})},
});

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return asciiLower(x) == asciiLower(y);
           });
}

} // namespace

std::span<const DeviceType> deviceTypes() {
    return kTypes;
}

const DeviceType* findDeviceType(std::string_view name) {
    for (const auto& type : kTypes) {
        if (type.name == name) {
            return &type;
        }
    }
    for (const auto& type : kTypes) {
        if (equalsIgnoringCase(type.name, name)) {
            return &type;
        }
    }
    return nullptr;
}

std::span<const OctoSegmentEntry> usedSegments(const DeviceType& type) {
    size_t count = 0;
    while (count < type.segments.size() && (type.segments[count].kind & 0xFFFF) != 0) {
        ++count;
    }
    return std::span<const OctoSegmentEntry>(type.segments.data(), count);
}

bool hasFamilyWord(std::string_view sectionName) {
    return std::any_of(kFamilyWords.begin(), kFamilyWords.end(), [&](std::string_view word) {
        return sectionName.find(word) != std::string_view::npos;
    });
}

int32_t getDeviceTable(const char* typeName, const OctoSegmentEntry** table) {
    if (typeName == nullptr || table == nullptr) {
        return kResultUnknownDevice;
    }
    const DeviceType* type = findDeviceType(std::string_view(typeName, std::strlen(typeName)));
    if (type == nullptr) {
        return kResultUnknownDevice;
    }
    *table = type->segments.data();
    return 0;
}

} // namespace octo::devices
