#include "objfile/readers.h"

#include "objfile/text_scan.h"

#include <algorithm>
#include <array>
#include <vector>

namespace octo::objfile {

using detail::describeChar;
using detail::formatAddress;
using detail::hexValue;
using detail::kNotHex;
using detail::LineReader;
using detail::trimBlanks;

namespace {

constexpr uint64_t kAddressSpaceEnd = uint64_t{1} << 32;
constexpr uint32_t kSegmentSize = 0x10000;

Diagnostic makeError(ResultCode code, uint32_t line, std::string message) {
    return Diagnostic{code, line, std::move(message), std::nullopt};
}

std::string hexByte(uint32_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return std::string("0x") + kDigits[(value >> 4) & 0xF] + kDigits[value & 0xF];
}

// The line loop both formats share: blank lines are skipped, text after the end line is
// warned about and ignored, and a file without its end line is an error. Format gives
// handleLine() and the three texts of those cases.
template <typename Format>
class LineFormatReader {
public:
    LineFormatReader(std::string_view text, RecordSink& sink) : lines_(text), sink_(sink) {}

    ReadResult run() {
        std::string_view line;
        while (lines_.next(line)) {
            line = trimBlanks(line);
            if (line.empty()) {
                continue;
            }
            if (ended_) {
                result_.warnings.push_back(makeError(ResultCode::LoadedWithWarning,
                                                     lines_.lineNumber(), Format::kTextAfterEnd));
                break;
            }
            if (auto error = static_cast<Format*>(this)->handleLine(line)) {
                result_.error = std::move(error);
                return std::move(result_);
            }
        }
        if (!ended_) {
            result_.error = makeError(ResultCode::UnexpectedEnd, lines_.lineNumber(),
                                      seenLine_ ? Format::kNoEnd : Format::kNothing);
        }
        return std::move(result_);
    }

protected:
    std::optional<Diagnostic> fail(ResultCode code, std::string message) {
        return makeError(code, lines_.lineNumber(), std::move(message));
    }

    LineReader lines_;
    RecordSink& sink_;
    ReadResult result_;
    bool seenLine_ = false;
    bool ended_ = false;
};

// ---------------------------------------------------------------- Intel-Hex

enum IntelRecordType : uint8_t {
    kData = 0x00,
    kEnd = 0x01,
    kExtendedSegment = 0x02,
    kStartSegment = 0x03,
    kExtendedLinear = 0x04,
    kStartLinear = 0x05,
};

constexpr size_t kIntelHeaderBytes = 4; // count, address high, address low, type
constexpr size_t kIntelOverheadBytes = kIntelHeaderBytes + 1;
constexpr size_t kIntelMaxRecordBytes = kIntelOverheadBytes + 255;
constexpr size_t kExtendedAddressBytes = 2;
constexpr size_t kStartAddressBytes = 4;
constexpr uint32_t kSegmentShift = 4;
constexpr uint32_t kLinearShift = 16;

class IntelHexReader : public LineFormatReader<IntelHexReader> {
public:
    using LineFormatReader::LineFormatReader;
    static constexpr char kTextAfterEnd[] = "text after the end record is ignored";
    static constexpr char kNoEnd[] = "the file ends without an end record (type 01)";
    static constexpr char kNothing[] = "the file holds no records";

    std::optional<Diagnostic> handleLine(std::string_view line) {
        if (line[0] != ':') {
            if (!seenLine_) {
                return fail(ResultCode::UnrecognizableFormat,
                            "not Intel-Hex: the first record does not start with ':'");
            }
            return fail(ResultCode::InvalidRecord, "the record does not start with ':'");
        }
        seenLine_ = true;
        const std::string_view digits = line.substr(1);
        for (size_t i = 0; i < digits.size(); ++i) {
            if (hexValue(digits[i]) == kNotHex) {
                return fail(ResultCode::InvalidRecord, describeChar(digits[i]) + " in column " +
                                                           std::to_string(i + 2) +
                                                           " is not a hexadecimal digit");
            }
        }
        if (digits.size() % 2 != 0) {
            return fail(ResultCode::InvalidRecord, "the record has an odd number of digits");
        }
        const size_t byteCount = digits.size() / 2;
        if (byteCount < kIntelOverheadBytes) {
            return fail(ResultCode::InvalidRecord, "the record is too short");
        }
        if (byteCount > kIntelMaxRecordBytes) {
            return fail(ResultCode::InvalidRecord, "the record is too long");
        }
        uint8_t sum = 0;
        for (size_t i = 0; i < byteCount; ++i) {
            bytes_[i] =
                static_cast<uint8_t>(hexValue(digits[2 * i]) << 4 | hexValue(digits[2 * i + 1]));
            sum = static_cast<uint8_t>(sum + bytes_[i]);
        }
        const size_t dataCount = bytes_[0];
        if (byteCount != dataCount + kIntelOverheadBytes) {
            return fail(ResultCode::InvalidRecord,
                        "the length field gives " + std::to_string(dataCount) +
                            " data bytes, the record holds " +
                            std::to_string(byteCount - kIntelOverheadBytes));
        }
        if (sum != 0) {
            const uint8_t stated = bytes_[byteCount - 1];
            const auto expected = static_cast<uint8_t>(stated - sum);
            return fail(ResultCode::InvalidRecord,
                        "checksum is " + hexByte(stated) + ", expected " + hexByte(expected));
        }
        const uint32_t offset = uint32_t{bytes_[1]} << 8 | bytes_[2];
        const uint8_t type = bytes_[3];
        const std::span<const uint8_t> data(bytes_.data() + kIntelHeaderBytes, dataCount);
        switch (type) {
        case kData:
            return dataRecord(offset, data);
        case kEnd:
            if (dataCount != 0) {
                return fail(ResultCode::InvalidRecord, "the end record carries data");
            }
            ended_ = true;
            return std::nullopt;
        case kExtendedSegment:
        case kExtendedLinear: {
            if (dataCount != kExtendedAddressBytes) {
                return fail(ResultCode::InvalidRecord,
                            "an extended address record must hold 2 bytes");
            }
            const uint32_t value = uint32_t{data[0]} << 8 | data[1];
            segmented_ = type == kExtendedSegment;
            base_ = segmented_ ? value << kSegmentShift : value << kLinearShift;
            return std::nullopt;
        }
        case kStartSegment:
        case kStartLinear:
            if (dataCount != kStartAddressBytes) {
                return fail(ResultCode::InvalidRecord, "a start address record must hold 4 bytes");
            }
            result_.start = StartAddress{type == kStartSegment ? StartAddress::Kind::Segment
                                                               : StartAddress::Kind::Linear,
                                         uint32_t{data[0]} << 24 | uint32_t{data[1]} << 16 |
                                             uint32_t{data[2]} << 8 | data[3]};
            return std::nullopt;
        default:
            return fail(ResultCode::InvalidRecord, "unknown record type " + hexByte(type));
        }
    }

    std::optional<Diagnostic> dataRecord(uint32_t offset, std::span<const uint8_t> data) {
        if (data.empty()) {
            return std::nullopt;
        }
        if (segmented_) {
            // The offset wraps within the segment: the tail goes to the segment's start.
            const size_t head = std::min<size_t>(data.size(), kSegmentSize - offset);
            if (auto error = place(base_ + offset, data.first(head))) {
                return error;
            }
            return place(base_, data.subspan(head));
        }
        const uint64_t address = uint64_t{base_} + offset;
        if (address + data.size() > kAddressSpaceEnd) {
            return fail(ResultCode::InvalidRecord, "the data runs past address 0xFFFFFFFF");
        }
        return place(static_cast<uint32_t>(address), data);
    }

    std::optional<Diagnostic> place(uint32_t address, std::span<const uint8_t> data) {
        if (data.empty()) {
            return std::nullopt;
        }
        return sink_.data(address, data, lines_.lineNumber());
    }

private:
    std::array<uint8_t, kIntelMaxRecordBytes> bytes_{};
    uint32_t base_ = 0;
    bool segmented_ = false;
};

// ---------------------------------------------------------------- QX-Text

constexpr size_t kShownTokenChars = 8;

// "'1G'" for a printable token (long ones cut), else its first unprintable byte.
std::string describeToken(std::string_view token) {
    for (char c : token) {
        if (!detail::isPrintable(c)) {
            return describeChar(c);
        }
    }
    if (token.size() > kShownTokenChars) {
        return "'" + std::string(token.substr(0, kShownTokenChars)) + "...'";
    }
    return "'" + std::string(token) + "'";
}

constexpr size_t kQxMaxAddressDigits = 8;

class QxTextReader : public LineFormatReader<QxTextReader> {
public:
    using LineFormatReader::LineFormatReader;
    static constexpr char kTextAfterEnd[] = "text after the closing q line is ignored";
    static constexpr char kNoEnd[] = "the file ends without the closing q line";
    static constexpr char kNothing[] = "the file is empty";

    std::optional<Diagnostic> handleLine(std::string_view line) {
        const bool first = !seenLine_;
        seenLine_ = true;
        if (line[0] == '@') {
            return addressLine(line.substr(1));
        }
        if (line == "q" || line == "Q") {
            ended_ = true;
            return std::nullopt;
        }
        if (first) {
            return fail(ResultCode::UnrecognizableFormat,
                        "not QX-Text: the first line is neither an @address line nor q");
        }
        return dataLine(line);
    }

    std::optional<Diagnostic> addressLine(std::string_view digits) {
        if (digits.empty()) {
            return fail(ResultCode::InvalidRecord, "the @ line holds no address");
        }
        uint64_t value = 0;
        for (size_t i = 0; i < digits.size(); ++i) {
            const int digit = hexValue(digits[i]);
            if (digit == kNotHex) {
                return fail(ResultCode::InvalidRecord, describeChar(digits[i]) + " in column " +
                                                           std::to_string(i + 2) +
                                                           " is not a hexadecimal digit");
            }
            if (i >= kQxMaxAddressDigits) {
                return fail(ResultCode::InvalidRecord, "the address has more than 8 digits");
            }
            value = value << 4 | static_cast<uint64_t>(digit);
        }
        address_ = value;
        return std::nullopt;
    }

    std::optional<Diagnostic> dataLine(std::string_view line) {
        buffer_.clear();
        size_t i = 0;
        while (i < line.size()) {
            if (detail::isBlank(line[i])) {
                ++i;
                continue;
            }
            const size_t tokenStart = i;
            while (i < line.size() && !detail::isBlank(line[i])) {
                ++i;
            }
            const std::string_view token = line.substr(tokenStart, i - tokenStart);
            if (token.size() != 2 || hexValue(token[0]) == kNotHex ||
                hexValue(token[1]) == kNotHex) {
                return fail(ResultCode::InvalidRecord, describeToken(token) + " in column " +
                                                           std::to_string(tokenStart + 1) +
                                                           " is not a two-digit hexadecimal byte");
            }
            buffer_.push_back(static_cast<uint8_t>(hexValue(token[0]) << 4 | hexValue(token[1])));
        }
        if (address_ + buffer_.size() > kAddressSpaceEnd) {
            return fail(ResultCode::InvalidRecord, "the data runs past address 0xFFFFFFFF (from " +
                                                       formatAddress(address_) + ")");
        }
        if (auto error =
                sink_.data(static_cast<uint32_t>(address_), buffer_, lines_.lineNumber())) {
            return error;
        }
        address_ += buffer_.size();
        return std::nullopt;
    }

private:
    std::vector<uint8_t> buffer_;
    uint64_t address_ = 0;
};

std::string_view skipLeadingSpace(std::string_view text) {
    if (text.starts_with(detail::kUtf8ByteOrderMark)) {
        text.remove_prefix(detail::kUtf8ByteOrderMark.size());
    }
    while (!text.empty() &&
           (detail::isBlank(text.front()) || text.front() == '\r' || text.front() == '\n')) {
        text.remove_prefix(1);
    }
    return text;
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

ReadResult readIntelHex(std::string_view text, RecordSink& sink) {
    return IntelHexReader(text, sink).run();
}

ReadResult readQxText(std::string_view text, RecordSink& sink) {
    return QxTextReader(text, sink).run();
}

ReadResult readObject(std::string_view text, Format format, RecordSink& sink) {
    return format == Format::IntelHex ? readIntelHex(text, sink) : readQxText(text, sink);
}

std::optional<Format> formatForFileName(std::string_view fileName) {
    const size_t dot = fileName.find_last_of('.');
    const size_t separator = fileName.find_last_of("/\\");
    if (dot == std::string_view::npos || (separator != std::string_view::npos && separator > dot)) {
        return std::nullopt;
    }
    std::string extension(fileName.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(), asciiLower);
    if (extension == "txt") {
        return Format::QxText;
    }
    if (extension == "int" || extension == "hex" || extension == "zhx") {
        return Format::IntelHex;
    }
    return std::nullopt;
}

std::optional<Format> sniffFormat(std::string_view text) {
    text = skipLeadingSpace(text);
    if (text.empty()) {
        return std::nullopt;
    }
    if (text.front() == ':') {
        return Format::IntelHex;
    }
    if (text.front() == '@') {
        return Format::QxText;
    }
    return std::nullopt;
}

std::string_view formatName(Format format) {
    return format == Format::IntelHex ? "Intel-Hex" : "QX-Text";
}

} // namespace octo::objfile
