// The common IEEE CRC-32 (the zlib one: reflected, polynomial 0xEDB88320, all ones in and out).
#pragma once

#include "objfile/image.h"

#include <cstdint>
#include <span>

namespace octo::objfile {

// Continues a CRC: pass the previous result as crc (0 to start).
uint32_t crc32(std::span<const uint8_t> bytes, uint32_t crc = 0);

// Over the image's bytes in ascending address order, gaps skipped.
uint32_t imageCrc32(const Image& image);

} // namespace octo::objfile
