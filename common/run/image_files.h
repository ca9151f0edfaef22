// The image files of a run read as OctoLoadImage reads them, before the unit is touched:
// each file's CRC-32 and the CRC-32 of the image they make together, the one the unit
// reports for its slot (so a log line names the image whatever the files' format).
#pragma once

#include "devices/segments.h"
#include "objfile/result.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace octo::run {

struct ImageFileFacts {
    std::string path;
    uint64_t bytes = 0;
    uint32_t crc32 = 0; // of the file's bytes
};

struct ImageFiles {
    std::vector<ImageFileFacts> files;
    uint64_t imageBytes = 0;
    uint32_t imageCrc32 = 0;
    // The first file that could not be taken, and why (its code is the library's: 11..15,
    // 53); warnings (17) are not errors.
    std::string failedPath;
    objfile::ReadResult read;

    bool ok() const { return failedPath.empty(); }
};

// Reads the files in order into one image checked against the type's segment table.
ImageFiles readImageFiles(std::span<const std::string> paths,
                          std::span<const OctoSegmentEntry> segments);

} // namespace octo::run
