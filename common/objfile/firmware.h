// Firmware files of the programmer unit (OCTO*.txt): QX-Text images of the unit's
// firmware area that start with an identification header.
//
// Header, at kFirmwareHeaderAddress, all numbers little-endian:
//   +0x00  8 bytes  "OCTO816F"
//   +0x08  16 bits  firmware version, major in the high byte and minor in the low byte,
//                   both as decimal digits in hexadecimal nibbles (0x0156 = 1.56)
//   +0x0A  16 bits  header revision, kFirmwareHeaderRevision
//   +0x0C  32 bits  code length: bytes that follow the header, without gaps
//   +0x10  32 bits  CRC-32 of those code bytes
//   +0x14  12 bytes firmware name, ASCII, padded with zero bytes
// The file holds the header and the code and nothing else, all inside the firmware area.
#pragma once

#include "objfile/image.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace octo::objfile {

inline constexpr uint32_t kFirmwareAreaStart = 0x2400;
inline constexpr uint32_t kFirmwareAreaLength = 0xDA00;
inline constexpr uint32_t kFirmwareHeaderAddress = kFirmwareAreaStart;
inline constexpr uint32_t kFirmwareHeaderBytes = 0x20;
inline constexpr uint32_t kFirmwareCodeStart = kFirmwareHeaderAddress + kFirmwareHeaderBytes;
inline constexpr uint32_t kFirmwareMaxCodeBytes = kFirmwareAreaLength - kFirmwareHeaderBytes;
inline constexpr std::string_view kFirmwareMagic = "OCTO816F";
inline constexpr uint16_t kFirmwareHeaderRevision = 1;
inline constexpr size_t kFirmwareNameBytes = 12;

struct FirmwareInfo {
    uint16_t version = 0;
    std::string name;
    uint32_t codeLength = 0;
    uint32_t codeCrc = 0;
};

struct FirmwareCheck {
    std::optional<FirmwareInfo> info;
    std::string problem; // why the image is not a firmware image; empty when it is

    bool isFirmware() const { return info.has_value(); }
};

FirmwareCheck identifyFirmware(const Image& image);

// A firmware image with a correct header; code is cut to kFirmwareMaxCodeBytes and name
// to kFirmwareNameBytes.
Image buildFirmwareImage(uint16_t version, std::string_view name, std::span<const uint8_t> code);

// The library's temporary loader: a helper that units with an old boot loader (third
// version word below 0x0200) take into their loader area and start, because their boot
// loader cannot rewrite the whole firmware area itself. It starts with kLoaderMagic and
// its code length and CRC-32 (little-endian), followed by the code.
inline constexpr uint32_t kLoaderAreaStart = 0x8000;
inline constexpr uint32_t kLoaderAreaLength = 0x6000;
inline constexpr std::string_view kLoaderMagic = "OCTO816L";
const Image& temporaryLoaderImage();
// The name OctoLoadFirmware takes for the library's own temporary loader.
inline constexpr char kTempLoaderName[] = "__TempLoader__";
// Units whose third version word is below this need the temporary loader to take new
// firmware.
inline constexpr uint16_t kLoaderlessThirdVersion = 0x200;
// True when image is exactly the temporary loader (header, length, code and CRC).
bool isTemporaryLoader(const Image& image);

// "1.56" for 0x0156.
std::string formatFirmwareVersion(uint16_t version);

} // namespace octo::objfile
