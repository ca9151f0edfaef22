#include "run/image_files.h"

#include "objfile/crc32.h"
#include "objfile/load.h"

namespace octo::run {

namespace {

std::string fileName(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

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
        const std::string& text = file.bytes;
        objfile::ReadResult read = objfile::loadObjectFile(fileName(path), text, image, options);
        if (!read.ok()) {
            out.failedPath = path;
            out.read = std::move(read);
            return out;
        }
        for (objfile::Diagnostic& warning : read.warnings) {
            out.read.warnings.push_back(std::move(warning));
        }
        const auto* data = reinterpret_cast<const uint8_t*>(text.data());
        out.files.push_back(
            {path, text.size(), objfile::crc32(std::span<const uint8_t>(data, text.size()), 0)});
    }
    out.imageBytes = image.byteCount();
    out.imageCrc32 = objfile::imageCrc32(image);
    return out;
}

} // namespace octo::run
