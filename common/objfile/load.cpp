#include "objfile/load.h"

#include "objfile/text_scan.h"

namespace octo::objfile {

namespace {

constexpr uint32_t kKindMask = 0xFFFF;

bool isProgrammable(uint32_t kind) {
    switch (kind & kKindMask) {
    case OCTO_SEGMENT_INFO:
    case OCTO_SEGMENT_FLASH:
    case OCTO_SEGMENT_PROTECTED_INFO:
    case OCTO_SEGMENT_DCO:
    case OCTO_SEGMENT_BSL:
        return true;
    default:
        return false;
    }
}

// The rows a reader of the table sees: up to the first kind 0, at most OCTO_MAX_SEGMENTS.
std::span<const OctoSegmentEntry> usedRows(std::span<const OctoSegmentEntry> segments) {
    size_t count = 0;
    while (count < segments.size() && count < OCTO_MAX_SEGMENTS &&
           (segments[count].kind & kKindMask) != OCTO_SEGMENT_END) {
        ++count;
    }
    return segments.first(count);
}

bool inRam(std::span<const OctoSegmentEntry> segments, uint32_t address) {
    for (const auto& row : usedRows(segments)) {
        if ((row.kind & kKindMask) == OCTO_SEGMENT_RAM && address >= row.start &&
            uint64_t{address} < uint64_t{row.start} + row.length) {
            return true;
        }
    }
    return false;
}

class ImageLoader final : public RecordSink {
public:
    ImageLoader(const Image& existing, const LoadOptions& options)
        : existing_(existing), options_(options) {}

    std::optional<Diagnostic> data(uint32_t address, std::span<const uint8_t> bytes,
                                   uint32_t line) override {
        if (options_.segments) {
            if (auto outside = firstUncovered(*options_.segments, address, bytes.size())) {
                const std::string where = detail::formatAddress(*outside);
                return Diagnostic{
                    ResultCode::InvalidRecord, line,
                    inRam(*options_.segments, *outside)
                        ? "address " + where + " lies in RAM, which cannot be programmed"
                        : "address " + where + " lies outside the memory of the device type",
                    outside};
            }
        }
        std::optional<uint32_t> filled = existing_.firstFilled(address, bytes.size());
        if (!filled) {
            filled = fresh_.insert(address, bytes);
        }
        if (filled) {
            return Diagnostic{ResultCode::DataAlreadySpecified, line,
                              "data for address " + detail::formatAddress(*filled) +
                                  " is already specified",
                              filled};
        }
        return std::nullopt;
    }

    Image& fresh() { return fresh_; }

private:
    const Image& existing_;
    const LoadOptions& options_;
    Image fresh_;
};

} // namespace

std::optional<uint32_t> firstUncovered(std::span<const OctoSegmentEntry> segments, uint32_t address,
                                       uint64_t length) {
    const auto rows = usedRows(segments);
    uint64_t pos = address;
    const uint64_t end = uint64_t{address} + length;
    while (pos < end) {
        uint64_t coveredTo = pos;
        for (const auto& row : rows) {
            const uint64_t rowEnd = uint64_t{row.start} + row.length;
            if (isProgrammable(row.kind) && pos >= row.start && pos < rowEnd &&
                rowEnd > coveredTo) {
                coveredTo = rowEnd;
            }
        }
        if (coveredTo == pos) {
            return static_cast<uint32_t>(pos);
        }
        pos = coveredTo;
    }
    return std::nullopt;
}

ReadResult loadObject(std::string_view text, Format format, Image& image,
                      const LoadOptions& options) {
    ImageLoader loader(image, options);
    ReadResult result = readObject(text, format, loader);
    if (!result.ok()) {
        return result;
    }
    if (loader.fresh().empty() && options.requireData) {
        result.error =
            Diagnostic{ResultCode::UnexpectedEnd, 0, "the file holds no data", std::nullopt};
        return result;
    }
    if (loader.fresh().empty()) {
        result.warnings.push_back(
            Diagnostic{ResultCode::LoadedWithWarning, 0, "the file holds no data", std::nullopt});
    }
    // The loader refused every byte image already held, so this cannot conflict.
    image.merge(std::move(loader.fresh()));
    return result;
}

ReadResult loadObjectFile(std::string_view fileName, std::string_view text, Image& image,
                          const LoadOptions& options) {
    std::optional<Format> format = formatForFileName(fileName);
    if (!format) {
        format = sniffFormat(text);
    }
    if (!format) {
        ReadResult result;
        result.error = Diagnostic{ResultCode::UnrecognizableFormat, 0,
                                  "the file is neither Intel-Hex nor QX-Text", std::nullopt};
        return result;
    }
    return loadObject(text, *format, image, options);
}

ObjectFileBytes readObjectFileBytes(const std::string& path) {
    using Problem = files::FileRead::Problem;
    files::FileRead read = files::readBoundedFile(path, kLargestObjectFileBytes);
    const auto failure = [&read](ResultCode code, std::string message) {
        return ObjectFileBytes{
            {}, Diagnostic{code, 0, std::move(message), std::nullopt}, read.problem};
    };
    switch (read.problem) {
    case Problem::None:
        break;
    case Problem::CannotOpen:
        return failure(ResultCode::CannotOpen, "cannot be opened");
    case Problem::NotRegular:
        return failure(ResultCode::CannotOpen, "is not a regular file");
    case Problem::TooLarge:
        return failure(ResultCode::FileIo, "is larger than an object file can be (" +
                                               std::to_string(kLargestObjectFileBytes) + " bytes)");
    case Problem::ReadFailed:
        return failure(ResultCode::FileIo, "cannot be read whole");
    }
    return ObjectFileBytes{std::move(read.bytes), std::nullopt, Problem::None};
}

ReadResult readImage(std::string_view text, Format format, Image& image) {
    image.clear();
    return loadObject(text, format, image);
}

} // namespace octo::objfile
