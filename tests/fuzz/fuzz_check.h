// Checks shared by the reader fuzz targets: whatever a reader accepts must survive writing
// and reading back in both formats, and a refused file must leave nothing behind.
#pragma once

#include "fuzz_support.h"

#include "devices/device_table.h"
#include "objfile/crc32.h"
#include "objfile/firmware.h"
#include "objfile/load.h"
#include "objfile/writers.h"

#include <cstdint>
#include <string_view>

namespace octo::fuzz {

inline void checkReader(const uint8_t* data, size_t size, objfile::Format format) {
    using namespace objfile;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Image image;
    const ReadResult result = readImage(text, format, image);
    if (!result.ok()) {
        require(image.empty());
        require(result.code() != ResultCode::Ok && result.code() != ResultCode::LoadedWithWarning);
        require(!result.error->message.empty());
    } else {
        uint64_t counted = 0;
        for (const auto& run : image.runs()) {
            counted += run.bytes.size();
        }
        require(counted == image.byteCount());
        for (Format out : {Format::IntelHex, Format::QxText}) {
            Image back;
            const ReadResult again = readImage(writeObject(image, out), out, back);
            require(again.ok());
            require(back == image);
        }
        (void)imageCrc32(image);
        (void)identifyFirmware(image);
    }

    // The same text for a real device type, on top of data already loaded.
    const devices::DeviceType* type = devices::findDeviceType("ZEL816 A5438");
    require(type != nullptr);
    LoadOptions options;
    options.segments = devices::usedSegments(*type);
    Image loaded;
    const uint8_t first[] = {0x11, 0x22};
    loaded.insert(0xFFFE, first);
    const Image before = loaded;
    const ReadResult forDevice = loadObject(text, format, loaded, options);
    if (!forDevice.ok()) {
        require(loaded == before);
    } else {
        require(loaded.byteCount() >= before.byteCount());
    }
}

} // namespace octo::fuzz
