// Loading an object file's text into an image, checked against what the image already
// holds and, for a device type, against the memory the type has.
#pragma once

#include "objfile/image.h"
#include "objfile/readers.h"
#include "objfile/result.h"

#include "devices/segments.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace octo::objfile {

// Object files beyond this size are not object files for a ZEL816.
inline constexpr uint64_t kLargestObjectFileBytes = 64 * 1024 * 1024;

struct LoadOptions {
    // The device type's segment table (up to its kind 0 entry, at most OCTO_MAX_SEGMENTS
    // rows). When given, data that no programmable segment covers is an error; RAM is
    // not programmable.
    std::optional<std::span<const OctoSegmentEntry>> segments;
};

// The first address of [address, address + length) that no programmable segment of the
// table covers.
std::optional<uint32_t> firstUncovered(std::span<const OctoSegmentEntry> segments, uint32_t address,
                                       uint64_t length);

// Reads text of the given format and adds its data to image, all or nothing. Data the
// file gives twice, or that image already holds, is "data already specified" (53) with
// the first such address in file order; data outside the device's memory is an invalid
// record naming the address.
ReadResult loadObject(std::string_view text, Format format, Image& image,
                      const LoadOptions& options = {});

// As loadObject, with the format named by the file name's extension; for any other
// extension the content decides, and content of neither kind is "unrecognizable format".
ReadResult loadObjectFile(std::string_view fileName, std::string_view text, Image& image,
                          const LoadOptions& options = {});

// Reads into an empty image, without device checks.
ReadResult readImage(std::string_view text, Format format, Image& image);

} // namespace octo::objfile
