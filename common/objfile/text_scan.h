// Line tracking and hex digits shared by the object-file readers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace octo::objfile::detail {

inline constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
inline constexpr char kEndOfFileMark = '\x1A'; // DOS editors append it

// Splits text into lines ending in CR LF, LF or CR, counting them from 1.
class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {
        if (text_.starts_with(kUtf8ByteOrderMark)) {
            text_.remove_prefix(kUtf8ByteOrderMark.size());
        }
    }

    // The next line without its end; false when the text is used up.
    bool next(std::string_view& line) {
        if (pos_ >= text_.size()) {
            return false;
        }
        size_t end = pos_;
        while (end < text_.size() && text_[end] != '\n' && text_[end] != '\r') {
            ++end;
        }
        line = text_.substr(pos_, end - pos_);
        ++lineNumber_;
        if (end < text_.size()) {
            const bool crLf =
                text_[end] == '\r' && end + 1 < text_.size() && text_[end + 1] == '\n';
            end += crLf ? 2 : 1;
        }
        pos_ = end;
        return true;
    }

    // Number of the line last returned; 0 before the first.
    uint32_t lineNumber() const { return lineNumber_; }

private:
    std::string_view text_;
    size_t pos_ = 0;
    uint32_t lineNumber_ = 0;
};

inline bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == kEndOfFileMark;
}

inline std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

inline constexpr int kNotHex = -1;

inline constexpr std::array<int8_t, 256> kHexValues = [] {
    std::array<int8_t, 256> table{};
    table.fill(kNotHex);
    for (int i = 0; i < 10; ++i) {
        table['0' + i] = static_cast<int8_t>(i);
    }
    for (int i = 0; i < 6; ++i) {
        table['a' + i] = static_cast<int8_t>(10 + i);
        table['A' + i] = static_cast<int8_t>(10 + i);
    }
    return table;
}();

inline int hexValue(char c) {
    return kHexValues[static_cast<unsigned char>(c)];
}

// Visible ASCII, blank excluded.
inline bool isPrintable(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > ' ' && u < 0x7F;
}

// 'x' for a printable character, "byte 0x1F" otherwise.
inline std::string describeChar(char c) {
    if (isPrintable(c)) {
        return std::string("'") + c + "'";
    }
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const auto u = static_cast<unsigned char>(c);
    return std::string("byte 0x") + kDigits[u >> 4] + kDigits[u & 0xF];
}

// "0x1F000": at least five digits, as the unit's memory addresses are usually shown.
inline std::string formatAddress(uint64_t address) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    static constexpr int kMinDigits = 5;
    std::string digits;
    do {
        digits.insert(digits.begin(), kDigits[address & 0xF]);
        address >>= 4;
    } while (address != 0);
    while (digits.size() < kMinDigits) {
        digits.insert(digits.begin(), '0');
    }
    return "0x" + digits;
}

} // namespace octo::objfile::detail
