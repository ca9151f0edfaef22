// Reading a firmware file (OCTO*.txt) the way OctoLoadFirmware reads it before anything
// goes to the unit: the whole file, its object-file records, then its firmware header. The
// program reads a chosen file with it too, so it refuses a file the library would refuse
// while the unit's firmware is still untouched.
#pragma once

#include "objfile/firmware.h"
#include "objfile/image.h"
#include "objfile/result.h"

#include <string>
#include <string_view>

namespace octo::objfile {

struct FirmwareFile {
    enum class Problem {
        None,
        CannotOpen,    // the file cannot be opened, or it is no regular file (read.error says)
        FileIo,        // it cannot be read whole, or it is too large for an object file
        NotObjectFile, // its text is no object file (read.error says why)
        NotFirmware,   // an object file without a valid firmware header (check.problem)
    };
    Problem problem = Problem::None;
    ReadResult read;
    FirmwareCheck check;
    Image image;

    bool ok() const { return problem == Problem::None; }
};

// fileName names the file in diagnostics, and its extension chooses the reader.
FirmwareFile readFirmwareFile(const std::string& path, std::string_view fileName);

} // namespace octo::objfile
