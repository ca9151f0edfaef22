// Writers of the object-file formats; each returns the whole file's text with CR LF ends.
#pragma once

#include "objfile/image.h"
#include "objfile/readers.h"

#include <string>

namespace octo::objfile {

inline constexpr size_t kBytesPerLine = 16;

// An "@ADDR" line at the start of every range, 16 bytes a line, "q" at the end.
std::string writeQxText(const Image& image);

// 16-byte data records that never cross a 64 KiB boundary, an extended linear address
// record (04) wherever the upper 16 address bits change, and the end record.
std::string writeIntelHex(const Image& image);

std::string writeObject(const Image& image, Format format);

} // namespace octo::objfile
