#include "objfile/firmware.h"

#include "objfile/crc32.h"
#include "objfile/text_scan.h"

#include <algorithm>
#include <array>
#include <vector>

namespace octo::objfile {

namespace {

constexpr size_t kVersionOffset = 0x08;
constexpr size_t kRevisionOffset = 0x0A;
constexpr size_t kLengthOffset = 0x0C;
constexpr size_t kCrcOffset = 0x10;
constexpr size_t kNameOffset = 0x14;
constexpr uint32_t kFirmwareAreaEnd = kFirmwareAreaStart + kFirmwareAreaLength;

uint16_t get16(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

uint32_t get32(std::span<const uint8_t> b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
           uint32_t{b[at + 3]} << 24;
}

void put16(std::span<uint8_t> b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void put32(std::span<uint8_t> b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) {
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

bool isDecimalNibbles(uint16_t v) {
    for (int shift = 0; shift < 16; shift += 4) {
        if (((v >> shift) & 0xF) > 9) {
            return false;
        }
    }
    return true;
}

FirmwareCheck notFirmware(std::string problem) {
    return FirmwareCheck{std::nullopt, std::move(problem)};
}

} // namespace

FirmwareCheck identifyFirmware(const Image& image) {
    const auto runs = image.runs();
    if (runs.empty()) {
        return notFirmware("the file holds no data");
    }
    const auto& first = runs.front();
    if (first.start != kFirmwareHeaderAddress || first.bytes.size() < kFirmwareHeaderBytes) {
        return notFirmware("no firmware header at " +
                           detail::formatAddress(kFirmwareHeaderAddress));
    }
    const auto header = first.bytes.first(kFirmwareHeaderBytes);
    if (!std::equal(kFirmwareMagic.begin(), kFirmwareMagic.end(), header.begin())) {
        return notFirmware("no firmware header at " +
                           detail::formatAddress(kFirmwareHeaderAddress));
    }
    if (get16(header, kRevisionOffset) != kFirmwareHeaderRevision) {
        return notFirmware("unknown firmware header revision " +
                           std::to_string(get16(header, kRevisionOffset)));
    }
    FirmwareInfo info;
    info.version = get16(header, kVersionOffset);
    if (!isDecimalNibbles(info.version)) {
        return notFirmware("the version word is not a version number");
    }
    info.codeLength = get32(header, kLengthOffset);
    info.codeCrc = get32(header, kCrcOffset);
    if (info.codeLength > kFirmwareMaxCodeBytes) {
        return notFirmware("the code length runs past the firmware area");
    }
    if (runs.size() != 1 || first.bytes.size() != kFirmwareHeaderBytes + info.codeLength) {
        const uint64_t stated = uint64_t{kFirmwareCodeStart} + info.codeLength;
        const uint64_t actual = uint64_t{first.start} + first.bytes.size();
        if (actual < stated) {
            return notFirmware("the code has a gap at " + detail::formatAddress(actual));
        }
        const uint32_t stray = actual > stated ? static_cast<uint32_t>(stated) : runs[1].start;
        return notFirmware("data at " + detail::formatAddress(stray) +
                           " lies outside the firmware" +
                           (stray >= kFirmwareAreaEnd ? " area" : " code"));
    }
    if (crc32(first.bytes.subspan(kFirmwareHeaderBytes)) != info.codeCrc) {
        return notFirmware("the code does not match its CRC");
    }
    const auto nameBytes = header.subspan(kNameOffset, kFirmwareNameBytes);
    for (uint8_t c : nameBytes) {
        if (c == 0) {
            break;
        }
        info.name.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    }
    return FirmwareCheck{std::move(info), {}};
}

Image buildFirmwareImage(uint16_t version, std::string_view name, std::span<const uint8_t> code) {
    code = code.first(std::min<size_t>(code.size(), kFirmwareMaxCodeBytes));
    std::vector<uint8_t> bytes(kFirmwareHeaderBytes + code.size(), 0);
    std::copy(kFirmwareMagic.begin(), kFirmwareMagic.end(), bytes.begin());
    std::span<uint8_t> header(bytes.data(), kFirmwareHeaderBytes);
    put16(header, kVersionOffset, version);
    put16(header, kRevisionOffset, kFirmwareHeaderRevision);
    put32(header, kLengthOffset, static_cast<uint32_t>(code.size()));
    put32(header, kCrcOffset, crc32(code));
    const size_t nameLength = std::min(name.size(), kFirmwareNameBytes);
    std::copy_n(name.begin(), nameLength, bytes.begin() + kNameOffset);
    std::copy(code.begin(), code.end(), bytes.begin() + kFirmwareHeaderBytes);
    Image image;
    image.insert(kFirmwareHeaderAddress, bytes);
    return image;
}

const Image& temporaryLoaderImage() {
    static const Image loader = [] {
        // Deterministic code bytes: the loader is the same in every build of the library.
        constexpr size_t kCodeBytes = 1536;
        constexpr size_t kHeaderBytes = 16;
        std::vector<uint8_t> bytes(kHeaderBytes + kCodeBytes, 0);
        std::copy(kLoaderMagic.begin(), kLoaderMagic.end(), bytes.begin());
        uint32_t state = 0x0816F00D;
        for (size_t i = 0; i < kCodeBytes; ++i) {
            state = state * 1103515245u + 12345u;
            bytes[kHeaderBytes + i] = static_cast<uint8_t>(state >> 16);
        }
        std::span<uint8_t> header(bytes.data(), kHeaderBytes);
        put32(header, 8, static_cast<uint32_t>(kCodeBytes));
        put32(header, 12, crc32(std::span<const uint8_t>(bytes).subspan(kHeaderBytes)));
        Image image;
        image.insert(kLoaderAreaStart, bytes);
        return image;
    }();
    return loader;
}

bool isTemporaryLoader(const Image& image) {
    return image == temporaryLoaderImage();
}

std::string formatFirmwareVersion(uint16_t version) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    if ((version >> 12) != 0) {
        text.push_back(kDigits[version >> 12]);
    }
    text.push_back(kDigits[(version >> 8) & 0xF]);
    text.push_back('.');
    text.push_back(kDigits[(version >> 4) & 0xF]);
    text.push_back(kDigits[version & 0xF]);
    return text;
}

} // namespace octo::objfile
