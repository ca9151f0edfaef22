#include "objfile/binary.h"

#include <algorithm>
#include <array>

namespace octo::objfile {

namespace {
constexpr size_t kFillChunk = 4096;
}

uint64_t binarySize(const Image& image) {
    const auto low = image.lowestAddress();
    if (!low) {
        return 0;
    }
    return uint64_t{*image.highestAddress()} - *low + 1;
}

bool writeBinary(const Image& image, uint8_t fill,
                 const std::function<bool(std::span<const uint8_t>)>& sink) {
    std::array<uint8_t, kFillChunk> filler;
    filler.fill(fill);
    std::optional<uint64_t> next;
    for (const auto& run : image.runs()) {
        if (next) {
            uint64_t gap = run.start - *next;
            while (gap > 0) {
                const size_t count = static_cast<size_t>(std::min<uint64_t>(gap, filler.size()));
                if (!sink(std::span<const uint8_t>(filler.data(), count))) {
                    return false;
                }
                gap -= count;
            }
        }
        if (!sink(run.bytes)) {
            return false;
        }
        next = uint64_t{run.start} + run.bytes.size();
    }
    return true;
}

bool readBinary(std::span<const uint8_t> bytes, uint32_t base, Image& image) {
    image.clear();
    return !image.insert(base, bytes).has_value();
}

} // namespace octo::objfile
