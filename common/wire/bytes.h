// Big-endian reading and writing over byte spans. The readers never run past the end:
// a short read sets the failed flag and yields zeros, so decoders check once at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace octo::wire {

class ByteWriter {
public:
    void u8(uint8_t value) { bytes_.push_back(value); }
    void u16(uint16_t value) {
        u8(static_cast<uint8_t>(value >> 8));
        u8(static_cast<uint8_t>(value));
    }
    void u32(uint32_t value) {
        u16(static_cast<uint16_t>(value >> 16));
        u16(static_cast<uint16_t>(value));
    }
    void bytes(std::span<const uint8_t> data) {
        bytes_.insert(bytes_.end(), data.begin(), data.end());
    }
    // A text of at most 255 bytes, length first.
    void text(std::string_view value) {
        const size_t length = value.size() < 255 ? value.size() : 255;
        u8(static_cast<uint8_t>(length));
        bytes_.insert(bytes_.end(), value.begin(),
                      value.begin() + static_cast<std::ptrdiff_t>(length));
    }
    std::vector<uint8_t> take() { return std::move(bytes_); }
    const std::vector<uint8_t>& view() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    uint8_t u8() {
        if (pos_ >= bytes_.size()) {
            failed_ = true;
            return 0;
        }
        return bytes_[pos_++];
    }
    uint16_t u16() {
        const uint16_t high = u8();
        return static_cast<uint16_t>((high << 8) | u8());
    }
    uint32_t u32() {
        const uint32_t high = u16();
        return (high << 16) | u16();
    }
    std::span<const uint8_t> bytes(size_t count) {
        if (bytes_.size() - pos_ < count) {
            failed_ = true;
            pos_ = bytes_.size();
            return {};
        }
        auto result = bytes_.subspan(pos_, count);
        pos_ += count;
        return result;
    }
    std::span<const uint8_t> rest() { return bytes(bytes_.size() - pos_); }
    std::string text() {
        const auto data = bytes(u8());
        return std::string(data.begin(), data.end());
    }
    // True when every read found its bytes and nothing is left over.
    bool complete() const { return !failed_ && pos_ == bytes_.size(); }
    bool failed() const { return failed_; }
    bool atEnd() const { return pos_ >= bytes_.size(); }

private:
    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
    bool failed_ = false;
};

} // namespace octo::wire
