// The common IEEE CRC-32 (the zlib one: reflected, polynomial 0xEDB88320, all ones in and
// out) over images. The CRC itself is the wire protocol's, so that the unit, the library and
// the files agree by construction.
#pragma once

#include "objfile/image.h"
#include "wire/checksums.h"

#include <cstdint>

namespace octo::objfile {

// Continues a CRC: pass the previous result as crc (0 to start).
using wire::crc32;

// Over the image's bytes in ascending address order, gaps skipped.
uint32_t imageCrc32(const Image& image);

} // namespace octo::objfile
