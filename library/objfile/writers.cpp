#include "objfile/writers.h"

#include <algorithm>

namespace octo::objfile {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::string_view kLineEnd = "\r\n";
constexpr uint32_t kSegmentSize = 0x10000;
constexpr uint8_t kDataRecord = 0x00;
constexpr uint8_t kExtendedLinearRecord = 0x04;
constexpr std::string_view kEndRecord = ":00000001FF";
constexpr int kMinAddressDigits = 4;
// Bytes of QX-Text per data line: "XX " for each byte, the last without its blank.
constexpr size_t kQxCharsPerByte = 3;
constexpr size_t kIntelCharsPerRecord = 1 + 2 * (5 + kBytesPerLine) + 2;

void appendHexByte(std::string& out, uint8_t value) {
    out.push_back(kHexDigits[value >> 4]);
    out.push_back(kHexDigits[value & 0xF]);
}

void appendAddress(std::string& out, uint32_t address) {
    char digits[8];
    int count = 0;
    do {
        digits[count++] = kHexDigits[address & 0xF];
        address >>= 4;
    } while (address != 0);
    while (count < kMinAddressDigits) {
        digits[count++] = '0';
    }
    while (count > 0) {
        out.push_back(digits[--count]);
    }
}

void appendIntelRecord(std::string& out, uint8_t type, uint16_t offset,
                       std::span<const uint8_t> data) {
    out.push_back(':');
    auto sum = static_cast<uint8_t>(data.size() + (offset >> 8) + (offset & 0xFF) + type);
    appendHexByte(out, static_cast<uint8_t>(data.size()));
    appendHexByte(out, static_cast<uint8_t>(offset >> 8));
    appendHexByte(out, static_cast<uint8_t>(offset & 0xFF));
    appendHexByte(out, type);
    for (uint8_t byte : data) {
        appendHexByte(out, byte);
        sum = static_cast<uint8_t>(sum + byte);
    }
    appendHexByte(out, static_cast<uint8_t>(-sum));
    out.append(kLineEnd);
}

} // namespace

std::string writeQxText(const Image& image) {
    std::string out;
    out.reserve(image.byteCount() * kQxCharsPerByte + image.byteCount() / kBytesPerLine * 2 + 64);
    for (const auto& run : image.runs()) {
        out.push_back('@');
        appendAddress(out, run.start);
        out.append(kLineEnd);
        for (size_t pos = 0; pos < run.bytes.size(); pos += kBytesPerLine) {
            const auto line =
                run.bytes.subspan(pos, std::min(kBytesPerLine, run.bytes.size() - pos));
            for (size_t i = 0; i < line.size(); ++i) {
                if (i != 0) {
                    out.push_back(' ');
                }
                appendHexByte(out, line[i]);
            }
            out.append(kLineEnd);
        }
    }
    out.append("q");
    out.append(kLineEnd);
    return out;
}

std::string writeIntelHex(const Image& image) {
    std::string out;
    out.reserve((image.byteCount() / kBytesPerLine + 2) * kIntelCharsPerRecord);
    uint32_t upper = 0;
    for (const auto& run : image.runs()) {
        size_t pos = 0;
        while (pos < run.bytes.size()) {
            const uint32_t address = run.start + static_cast<uint32_t>(pos);
            const uint32_t offset = address & (kSegmentSize - 1);
            if (address >> 16 != upper) {
                upper = address >> 16;
                const uint8_t value[2] = {static_cast<uint8_t>(upper >> 8),
                                          static_cast<uint8_t>(upper & 0xFF)};
                appendIntelRecord(out, kExtendedLinearRecord, 0, value);
            }
            const size_t count = std::min<size_t>(
                {kBytesPerLine, run.bytes.size() - pos, size_t{kSegmentSize - offset}});
            appendIntelRecord(out, kDataRecord, static_cast<uint16_t>(offset),
                              run.bytes.subspan(pos, count));
            pos += count;
        }
    }
    out.append(kEndRecord);
    out.append(kLineEnd);
    return out;
}

std::string writeObject(const Image& image, Format format) {
    return format == Format::IntelHex ? writeIntelHex(image) : writeQxText(image);
}

} // namespace octo::objfile
