// octoimg: looks at and converts object files before they go to the programmer unit.
//
//   octoimg info FILE [--device TYPE]   ranges, byte count and CRC-32 of the data; with a
//                                       device type, whether all data lies in its memory
//   octoimg convert IN OUT              Intel-Hex (.hex .int .zhx), QX-Text (.txt) and raw
//                                       binary (.bin), chosen by extension
#include "devices/device_table.h"
#include "files/atomic_file.h"
#include "objfile/binary.h"
#include "objfile/crc32.h"
#include "objfile/firmware.h"
#include "objfile/load.h"
#include "objfile/writers.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace octo::objfile;

constexpr int kExitOk = 0;
constexpr int kExitFileError = 1;
constexpr int kExitUsage = 2;
// A binary of a sparse 32-bit image could be gigabytes of fill; refuse beyond this.
constexpr uint64_t kMaxBinaryBytes = 64ull * 1024 * 1024;
// Anything thrown that no check foresaw (memory running out): one line, this code.
constexpr int kExitUnexpected = 3;

constexpr const char* kUsage =
    "usage: octoimg info FILE [--device TYPE]\n"
    "       octoimg convert IN OUT\n"
    "Formats by extension: .hex .int .zhx Intel-Hex, .txt QX-Text, .bin raw binary\n"
    "(a binary runs from the lowest address, gaps filled with 0xFF; read at address 0).\n";

enum class FileKind { Object, Binary };

std::string lowerExtension(std::string_view path) {
    const size_t dot = path.find_last_of('.');
    const size_t separator = path.find_last_of("/\\");
    if (dot == std::string_view::npos || (separator != std::string_view::npos && separator > dot)) {
        return {};
    }
    std::string ext(path.substr(dot + 1));
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return ext;
}

bool isBinaryName(std::string_view path) {
    return lowerExtension(path) == "bin";
}

std::string hexAddress(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%05llX", static_cast<unsigned long long>(value));
    return text;
}

void reportError(std::string_view file, const Diagnostic& d) {
    std::fprintf(stderr, "octoimg: %.*s", static_cast<int>(file.size()), file.data());
    if (d.line != 0) {
        std::fprintf(stderr, ":%u", d.line);
    }
    std::fprintf(stderr, ": error %d (%.*s): %s\n", static_cast<int>(d.code),
                 static_cast<int>(resultCodeName(d.code).size()), resultCodeName(d.code).data(),
                 d.message.c_str());
}

void reportWarning(std::string_view file, const Diagnostic& d) {
    std::fprintf(stderr, "octoimg: %.*s", static_cast<int>(file.size()), file.data());
    if (d.line != 0) {
        std::fprintf(stderr, ":%u", d.line);
    }
    std::fprintf(stderr, ": warning: %s\n", d.message.c_str());
}

// Loads path into image; prints what went wrong and returns false on failure.
bool loadInput(const std::string& path, Image& image, const LoadOptions& options = {}) {
    const ObjectFileBytes file = readObjectFileBytes(path);
    if (file.error) {
        reportError(path, *file.error);
        return false;
    }
    const std::string& content = file.bytes;
    if (isBinaryName(path)) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(content.data());
        if (!readBinary(std::span(bytes, content.size()), 0, image)) {
            reportError(
                path, {ResultCode::OutOfRange, 0, "the binary is larger than 4 GiB", std::nullopt});
            return false;
        }
        if (options.segments) {
            if (auto outside = firstUncovered(*options.segments, 0, image.byteCount())) {
                reportError(path, {ResultCode::InvalidRecord, 0,
                                   "address " + hexAddress(*outside) +
                                       " lies outside the memory of the device type",
                                   outside});
                return false;
            }
        }
        return true;
    }
    const ReadResult result = loadObjectFile(path, content, image, options);
    for (const auto& warning : result.warnings) {
        reportWarning(path, warning);
    }
    if (!result.ok()) {
        reportError(path, *result.error);
        return false;
    }
    return true;
}

int info(const std::string& path, const char* deviceName) {
    LoadOptions options;
    const octo::devices::DeviceType* device = nullptr;
    if (deviceName != nullptr) {
        device = octo::devices::findDeviceType(deviceName);
        if (device == nullptr) {
            std::fprintf(stderr, "octoimg: unknown device type \"%s\"\n", deviceName);
            return kExitUsage;
        }
        options.segments = octo::devices::usedSegments(*device);
    }
    Image image;
    if (!loadInput(path, image, options)) {
        return kExitFileError;
    }
    const auto ranges = image.ranges();
    std::printf("file:    %s\n", path.c_str());
    std::printf("ranges:  %zu\n", ranges.size());
    for (const auto& range : ranges) {
        std::printf("  %s-%s  %llu bytes\n", hexAddress(range.start).c_str(),
                    hexAddress(range.end() - 1).c_str(),
                    static_cast<unsigned long long>(range.length));
    }
    std::printf("bytes:   %llu\n", static_cast<unsigned long long>(image.byteCount()));
    std::printf("crc32:   %08X\n", imageCrc32(image));
    const FirmwareCheck firmware = identifyFirmware(image);
    if (firmware.isFirmware()) {
        std::printf("firmware: %s \"%s\"\n", formatFirmwareVersion(firmware.info->version).c_str(),
                    firmware.info->name.c_str());
    }
    if (device != nullptr) {
        std::printf("device:  %s: all data lies in its memory\n",
                    std::string(device->name).c_str());
    }
    return kExitOk;
}

int convert(const std::string& in, const std::string& out) {
    const bool binaryOut = isBinaryName(out);
    const std::optional<Format> format = formatForFileName(out);
    if (!binaryOut && !format) {
        std::fprintf(stderr,
                     "octoimg: %s: unknown output format (use .hex, .int, .zhx, .txt or .bin)\n",
                     out.c_str());
        return kExitUsage;
    }
    Image image;
    if (!loadInput(in, image)) {
        return kExitFileError;
    }
    if (binaryOut && binarySize(image) > kMaxBinaryBytes) {
        std::fprintf(stderr,
                     "octoimg: %s: the binary would span %llu bytes (%s to %s); refusing more "
                     "than %llu\n",
                     out.c_str(), static_cast<unsigned long long>(binarySize(image)),
                     hexAddress(*image.lowestAddress()).c_str(),
                     hexAddress(*image.highestAddress()).c_str(),
                     static_cast<unsigned long long>(kMaxBinaryBytes));
        return kExitFileError;
    }
    std::string bytes;
    if (binaryOut) {
        writeBinary(image, kErasedByte, [&](std::span<const uint8_t> piece) {
            bytes.append(reinterpret_cast<const char*>(piece.data()), piece.size());
            return true;
        });
    } else {
        bytes = writeObject(image, *format);
    }
    // Through a temporary file: a write that fails leaves a file of that name as it was.
    switch (octo::files::replaceFile(out, bytes)) {
    case octo::files::ReplaceResult::Ok:
        break;
    case octo::files::ReplaceResult::CannotCreate:
        reportError(out, {ResultCode::CannotOpen, 0, std::strerror(errno), std::nullopt});
        return kExitFileError;
    case octo::files::ReplaceResult::WriteFailed:
        reportError(out, {ResultCode::FileIo, 0, "writing the file failed", std::nullopt});
        return kExitFileError;
    }
    return kExitOk;
}

int run(const std::vector<std::string>& args) {
    if (args.size() == 2 && args[0] == "info") {
        return info(args[1], nullptr);
    }
    if (args.size() == 4 && args[0] == "info" && args[2] == "--device") {
        return info(args[1], args[3].c_str());
    }
    if (args.size() == 3 && args[0] == "convert") {
        return convert(args[1], args[2]);
    }
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "octoimg: %s\n", error.what());
        return kExitUnexpected;
    }
}
