#include "run/image_files.h"

#include "objfile/crc32.h"
#include "objfile/load.h"

#include <fstream>
#include <iterator>

namespace octo::run {

namespace {

objfile::ReadResult failure(objfile::ResultCode code, std::string message) {
    objfile::ReadResult result;
    result.error = objfile::Diagnostic{.code = code, .message = std::move(message), .address = {}};
    return result;
}

} // namespace

ImageFiles readImageFiles(std::span<const std::string> paths,
                          std::span<const OctoSegmentEntry> segments) {
    ImageFiles out;
    objfile::Image image;
    const objfile::LoadOptions options{.segments = segments};
    for (const std::string& path : paths) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            out.failedPath = path;
            out.read = failure(objfile::ResultCode::CannotOpen, "cannot be opened");
            return out;
        }
        const std::string text{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
        if (in.bad() || text.size() > objfile::kLargestObjectFileBytes) {
            out.failedPath = path;
            out.read = failure(objfile::ResultCode::FileIo, "cannot be read whole");
            return out;
        }
        objfile::ReadResult read = objfile::loadObjectFile(path, text, image, options);
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
