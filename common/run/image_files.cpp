#include "run/image_files.h"

#include "objfile/crc32.h"
#include "objfile/load.h"

namespace octo::run {

ImageFiles readImageFiles(std::span<const std::string> paths,
                          std::span<const OctoSegmentEntry> segments) {
    ImageFiles out;
    objfile::Image image;
    const objfile::LoadOptions options{.segments = segments, .requireData = true};
    for (const std::string& path : paths) {
        objfile::ObjectFileBytes file = objfile::readObjectFileBytes(path);
        if (file.error) {
            out.failedPath = path;
            out.read.error = std::move(file.error);
            return out;
        }
        objfile::ReadResult read = objfile::loadObjectFile(path, file.bytes, image, options);
        if (!read.ok()) {
            out.failedPath = path;
            out.read = std::move(read);
            return out;
        }
        for (objfile::Diagnostic& warning : read.warnings) {
            out.read.warnings.push_back(std::move(warning));
        }
        const auto* data = reinterpret_cast<const uint8_t*>(file.bytes.data());
        out.files.push_back({path, file.bytes.size(),
                             objfile::crc32(std::span<const uint8_t>(data, file.bytes.size()), 0)});
    }
    out.imageBytes = image.byteCount();
    out.imageCrc32 = objfile::imageCrc32(image);
    return out;
}

} // namespace octo::run
