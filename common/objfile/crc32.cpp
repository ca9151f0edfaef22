#include "objfile/crc32.h"

namespace octo::objfile {

uint32_t imageCrc32(const Image& image) {
    uint32_t crc = 0;
    for (const auto& run : image.runs()) {
        crc = crc32(run.bytes, crc);
    }
    return crc;
}

} // namespace octo::objfile
