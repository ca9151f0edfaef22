#include "Escape.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace octo::cli {

namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;
constexpr unsigned char kFirstLead = 0xC2; // 0xC0 and 0xC1 only start overlong forms
constexpr unsigned char kFirstThreeByteLead = 0xE0;
constexpr unsigned char kFirstFourByteLead = 0xF0;
constexpr unsigned char kLastLead = 0xF4;
constexpr unsigned char kContinuationMask = 0xC0;
constexpr unsigned char kContinuation = 0x80;
constexpr unsigned char kContinuationBits = 0x3F;
constexpr uint32_t kFirstSurrogate = 0xD800;
constexpr uint32_t kLastSurrogate = 0xDFFF;
constexpr uint32_t kLastCodePoint = 0x10FFFF;
// The smallest code point each length may carry: anything below is an overlong form.
constexpr std::array<uint32_t, 5> kLeastOfLength = {0, 0, 0x80, 0x800, 0x10000};
// U+0080 to U+009F, the C1 controls, are C2 80 to C2 9F.
constexpr uint32_t kLastC1Control = 0x9F;
constexpr size_t kEscapeChars = 5;

uint32_t leadBits(unsigned char lead, size_t length) {
    return lead & (0x7FU >> length);
}

// The code point of a well-formed character of length bytes at text[at].
uint32_t codePoint(std::string_view text, size_t at, size_t length) {
    uint32_t value = leadBits(static_cast<unsigned char>(text[at]), length);
    for (size_t i = 1; i < length; ++i) {
        value = (value << 6) | (static_cast<unsigned char>(text[at + i]) & kContinuationBits);
    }
    return value;
}

bool isControl(std::string_view text, size_t at, size_t length) {
    const auto first = static_cast<unsigned char>(text[at]);
    if (length == 1) {
        return first < kFirstPrintable || first == kDelete;
    }
    return length == 2 && codePoint(text, at, length) <= kLastC1Control;
}

void appendEscaped(std::string& out, unsigned char byte) {
    std::array<char, kEscapeChars> escape{};
    std::snprintf(escape.data(), escape.size(), "\\x%02X", byte);
    out += escape.data();
}

} // namespace

size_t utf8Length(std::string_view text, size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < kContinuation) {
        return 1;
    }
    if (lead < kFirstLead || lead > kLastLead) {
        return 0;
    }
    const size_t length = lead < kFirstThreeByteLead ? 2 : lead < kFirstFourByteLead ? 3 : 4;
    if (text.size() - at < length) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[at + i]) & kContinuationMask) != kContinuation) {
            return 0;
        }
    }
    const uint32_t value = codePoint(text, at, length);
    const bool surrogate = value >= kFirstSurrogate && value <= kLastSurrogate;
    return value < kLeastOfLength[length] || surrogate || value > kLastCodePoint ? 0 : length;
}

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const size_t length = utf8Length(text, at);
        if (length == 0 || isControl(text, at, length)) {
            const size_t bytes = length == 0 ? 1 : length;
            for (size_t i = 0; i < bytes; ++i) {
                appendEscaped(out, static_cast<unsigned char>(text[at + i]));
            }
            at += bytes;
            continue;
        }
        out.append(text.substr(at, length));
        at += length;
    }
    return out;
}

} // namespace octo::cli
