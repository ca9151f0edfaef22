// Raw binary images: the bytes from the lowest address to the highest, gaps filled.
#pragma once

#include "objfile/image.h"

#include <cstdint>
#include <functional>
#include <span>

namespace octo::objfile {

inline constexpr uint8_t kErasedByte = 0xFF;

// Bytes a binary of the image takes: highest - lowest + 1, 0 for an empty image.
uint64_t binarySize(const Image& image);

// Hands the binary to sink in pieces, in order; stops and returns false when sink does.
bool writeBinary(const Image& image, uint8_t fill,
                 const std::function<bool(std::span<const uint8_t>)>& sink);

// An image holding bytes at base onward; false when they would run past 0xFFFFFFFF.
bool readBinary(std::span<const uint8_t> bytes, uint32_t base, Image& image);

} // namespace octo::objfile
