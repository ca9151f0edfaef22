// Loading an object file's text into an image, checked against what the image already
// holds and, for a device type, against the memory the type has.
#pragma once

#include "objfile/image.h"
#include "objfile/readers.h"
#include "objfile/result.h"

#include "devices/segments.h"
#include "files/read_file.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace octo::objfile {

// Object files beyond this size are not object files for a ZEL816. The largest file a full
// 1 MiB address space needs is Intel-Hex with one data byte a record: ":01AAAA00DDCC" and
// CR LF, 15 bytes a data byte, plus a 04 record every 64 KiB, so about 15 MiB (QX-Text
// needs at most "@AAAAA", "DD" and their line ends, 12 bytes a data byte). Four times
// that leaves room for blanks, blank lines and files written by other tools.
inline constexpr uint64_t kLargestObjectFileBytes = 64 * 1024 * 1024;

// The whole of an object file, read once, or why it cannot be: "unable to open" (15) for
// a file that is missing, unreadable or not a regular file (a directory, device or FIFO,
// refused without waiting on it), "file I/O error" (13) for one beyond
// kLargestObjectFileBytes (refused before it is read) or one that cannot be read whole.
struct ObjectFileBytes {
    std::string bytes;
    std::optional<Diagnostic> error;
    files::FileRead::Problem problem = files::FileRead::Problem::None;
};
ObjectFileBytes readObjectFileBytes(const std::string& path);

struct LoadOptions {
    // The device type's segment table (up to its kind 0 entry, at most OCTO_MAX_SEGMENTS
    // rows). When given, data that no programmable segment covers is an error; RAM is
    // not programmable.
    std::optional<std::span<const OctoSegmentEntry>> segments;
    // A file that gives no data byte is an error ("unexpected end of file") rather than a
    // warning: an image for the unit, which would program blank chips and call it passed.
    bool requireData = false;
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
