#include "objfile/firmware_file.h"

#include "objfile/load.h"

#include <fstream>

namespace octo::objfile {

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
    file.read = loadObjectFile(fileName, content, file.image);
    if (!file.read.ok()) {
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
