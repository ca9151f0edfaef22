#include "objfile/firmware_file.h"

#include "objfile/load.h"
#include "objfile/text_scan.h"

#include <array>
#include <fstream>
#include <string>

namespace octo::objfile {

namespace {

// The firmware area as a segment table: the reader refuses a record outside it at once,
// so a file of scattered records cannot fill memory with data no unit would take.
constexpr std::array<OctoSegmentEntry, 2> kFirmwareAreaSegments = {{
    {OCTO_SEGMENT_FLASH, kFirmwareAreaStart, kFirmwareAreaLength},
    {OCTO_SEGMENT_END, 0, 0},
}};

} // namespace

FirmwareFile readFirmwareFile(const std::string& path, std::string_view fileName) {
    using Problem = FirmwareFile::Problem;
    FirmwareFile file;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        file.problem = Problem::CannotOpen;
        return file;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size < 0 || static_cast<uint64_t>(size) > kLargestObjectFileBytes) {
        file.problem = Problem::FileIo;
        return file;
    }
    std::string content(static_cast<size_t>(size), '\0');
    if (!in.read(content.data(), size)) {
        file.problem = Problem::FileIo;
        return file;
    }
    LoadOptions options;
    options.segments = kFirmwareAreaSegments;
    file.read = loadObjectFile(fileName, content, file.image, options);
    if (!file.read.ok()) {
        const Diagnostic& error = *file.read.error;
        // Data outside the area makes it no firmware file, as the header check says of a
        // whole image.
        if (error.code == ResultCode::InvalidRecord && error.address &&
            firstUncovered(kFirmwareAreaSegments, *error.address, 1)) {
            file.problem = Problem::NotFirmware;
            file.check.problem = "line " + std::to_string(error.line) + ": data at " +
                                 detail::formatAddress(*error.address) +
                                 " lies outside the firmware area";
            return file;
        }
        file.problem = Problem::NotObjectFile;
        return file;
    }
    file.check = identifyFirmware(file.image);
    if (!file.check.isFirmware()) {
        file.problem = Problem::NotFirmware;
    }
    return file;
}

} // namespace octo::objfile
