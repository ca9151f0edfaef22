#include "objfile/crc32.h"

#include <array>

namespace octo::objfile {

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320;

constexpr std::array<uint32_t, 256> kTable = [] {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < table.size(); ++i) {
        uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1) != 0 ? (value >> 1) ^ kPolynomial : value >> 1;
        }
        table[i] = value;
    }
    return table;
}();

} // namespace

uint32_t crc32(std::span<const uint8_t> bytes, uint32_t crc) {
    crc = ~crc;
    for (uint8_t byte : bytes) {
        crc = kTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

uint32_t imageCrc32(const Image& image) {
    uint32_t crc = 0;
    for (const auto& run : image.runs()) {
        crc = crc32(run.bytes, crc);
    }
    return crc;
}

} // namespace octo::objfile
