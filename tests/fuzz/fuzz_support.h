// What the fuzz targets share: a broken rule ends the run, so libFuzzer keeps the input,
// and the input read front to back as the choices of one run.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

namespace octo::fuzz {

inline void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Past its end every byte is 0, so a short input still makes whole choices.
class Input {
public:
    explicit Input(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    bool empty() const { return at_ >= bytes_.size(); }
    uint8_t byte() { return at_ < bytes_.size() ? bytes_[at_++] : 0; }
    uint16_t word() {
        const uint8_t high = byte();
        return static_cast<uint16_t>(high << 8 | byte());
    }
    std::string text(size_t length) {
        length = std::min(length, bytes_.size() - std::min(at_, bytes_.size()));
        std::string out(reinterpret_cast<const char*>(bytes_.data() + at_), length);
        at_ += length;
        return out;
    }

private:
    std::span<const uint8_t> bytes_;
    size_t at_ = 0;
};

} // namespace octo::fuzz
