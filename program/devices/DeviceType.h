// The current device type: its memory sizes from the library's segment table and the
// facts its configuration section gives.
#pragma once

#include <cstdint>
#include <string>

namespace octo {

// Highest start address a device type can have; FlashStart when it has no main flash.
inline constexpr uint32_t kNoFlashStart = 0xFFFFFF;

struct DeviceType {
    std::string typeName;
    int32_t vpp = 0;
    int32_t dlkAble = 0;
    bool jtag4Allowed = true;
    uint16_t ramBytes = 0;
    uint16_t infoBytes = 0;
    uint32_t flashBytes = 0;
    uint32_t flashStart = kNoFlashStart;
    uint16_t protectedInfoBytes = 0;
    uint16_t dcoBytes = 0;
    uint32_t bslBytes = 0;
    bool hasProtectedInfo = false;
    bool hasBsl = false;
    uint32_t flashWords = 0;
    uint16_t infoWords = 0;
    uint32_t bslWords = 0;
};

} // namespace octo
