#include "objfile/firmware_file.h"

#include "objfile/load.h"
#include "objfile/text_scan.h"

#include <array>
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
    ObjectFileBytes bytes = readObjectFileBytes(path);
    if (bytes.error) {
        file.problem =
            bytes.error->code == ResultCode::CannotOpen ? Problem::CannotOpen : Problem::FileIo;
        file.read.error = std::move(bytes.error);
        return file;
    }
    const std::string& content = bytes.bytes;
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
