#include "serials/serial_scheme.h"

#include "files/read_file.h"
#include "objfile/text_scan.h"
#include "wire/checksums.h"

#include <array>
#include <limits>

namespace octo::serials {

namespace {

using objfile::detail::describeChar;
using objfile::detail::hexValue;
using objfile::detail::kNotHex;

struct FormatFacts {
    NumberFormat format;
    std::string_view name;
    size_t bytes; // 0: the width
    bool bigEndian;
};

constexpr std::array<FormatFacts, 7> kFormats = {{
    {NumberFormat::Le16, "le16", 2, false},
    {NumberFormat::Le32, "le32", 4, false},
    {NumberFormat::Le64, "le64", 8, false},
    {NumberFormat::Be16, "be16", 2, true},
    {NumberFormat::Be32, "be32", 4, true},
    {NumberFormat::Be64, "be64", 8, true},
    {NumberFormat::Ascii, "ascii", 0, false},
}};

constexpr int kBitsPerByte = 8;
constexpr uint64_t kByteMask = 0xFF;
constexpr uint64_t kDecimal = 10;
constexpr char kCommentMark = '#';

const FormatFacts& facts(NumberFormat format) {
    return kFormats[static_cast<size_t>(format)];
}

size_t recordBytes(const NumberRange& range) {
    const size_t bytes = facts(range.format).bytes;
    return bytes != 0 ? bytes : static_cast<size_t>(range.width);
}

// The largest number the format (and for Ascii its width) can hold.
uint64_t largest(NumberFormat format, int width) {
    const size_t bytes = facts(format).bytes;
    if (bytes == sizeof(uint64_t)) {
        return std::numeric_limits<uint64_t>::max();
    }
    if (bytes != 0) {
        return (uint64_t{1} << (bytes * kBitsPerByte)) - 1;
    }
    uint64_t most = 0;
    for (int digit = 0; digit < width; ++digit) {
        if (most > (std::numeric_limits<uint64_t>::max() - (kDecimal - 1)) / kDecimal) {
            return std::numeric_limits<uint64_t>::max();
        }
        most = most * kDecimal + (kDecimal - 1);
    }
    return most;
}

Record encode(const NumberRange& range, uint64_t number) {
    const size_t bytes = recordBytes(range);
    Record record(bytes);
    if (range.format == NumberFormat::Ascii) {
        for (size_t i = bytes; i-- > 0;) {
            record[i] = static_cast<uint8_t>('0' + number % kDecimal);
            number /= kDecimal;
        }
        return record;
    }
    for (size_t i = 0; i < bytes; ++i) {
        const size_t at = facts(range.format).bigEndian ? bytes - 1 - i : i;
        record[at] = static_cast<uint8_t>(number & kByteMask);
        number >>= kBitsPerByte;
    }
    return record;
}

bool isSeparator(char c) {
    return c == ':' || c == '-';
}

// One line's bytes; throws SchemeError with prefix before what is wrong.
Record parseRecordLine(std::string_view line, const std::string& prefix) {
    Record record;
    size_t at = 0;
    while (at < line.size()) {
        if (!record.empty() && isSeparator(line[at])) {
            ++at;
        }
        if (at >= line.size()) {
            throw SchemeError(prefix + "ends in a separator");
        }
        const int high = hexValue(line[at]);
        const int low = at + 1 < line.size() ? hexValue(line[at + 1]) : kNotHex;
        if (high == kNotHex) {
            throw SchemeError(prefix + describeChar(line[at]) + " is not a hexadecimal digit");
        }
        if (low == kNotHex) {
            throw SchemeError(prefix +
                              (at + 1 < line.size()
                                   ? describeChar(line[at + 1]) + " is not a hexadecimal digit"
                                   : std::string("a byte needs two hexadecimal digits")));
        }
        record.push_back(static_cast<uint8_t>(high << 4 | low));
        at += 2;
    }
    return record;
}

std::string lengthText(size_t bytes) {
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

} // namespace

std::optional<NumberFormat> numberFormat(std::string_view name) {
    for (const FormatFacts& f : kFormats) {
        if (f.name == name) {
            return f.format;
        }
    }
    return std::nullopt;
}

std::string_view formatName(NumberFormat format) {
    return facts(format).name;
}

std::string hexText(const Record& record) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const uint8_t byte : record) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

std::optional<uint64_t> decodeNumber(NumberFormat format, int width, const Record& record) {
    const size_t bytes = facts(format).bytes;
    if (record.size() != (bytes != 0 ? bytes : static_cast<size_t>(width)) || record.empty()) {
        return std::nullopt;
    }
    uint64_t number = 0;
    if (format == NumberFormat::Ascii) {
        for (const uint8_t c : record) {
            if (c < '0' || c > '9' ||
                number > (std::numeric_limits<uint64_t>::max() - (c - '0')) / kDecimal) {
                return std::nullopt;
            }
            number = number * kDecimal + (c - '0');
        }
        return number;
    }
    for (size_t i = 0; i < bytes; ++i) {
        const size_t at = facts(format).bigEndian ? i : bytes - 1 - i;
        number = number << kBitsPerByte | record[at];
    }
    return number;
}

SerialScheme SerialScheme::numbers(const NumberRange& range) {
    const std::string name(formatName(range.format));
    if (range.step == 0) {
        throw SchemeError("the step must be at least 1");
    }
    if (range.end < range.start) {
        throw SchemeError("the end " + std::to_string(range.end) + " lies below the start " +
                          std::to_string(range.start));
    }
    if (range.format == NumberFormat::Ascii && (range.width < static_cast<int>(kMinRecordBytes) ||
                                                range.width > static_cast<int>(kMaxRecordBytes))) {
        throw SchemeError("ascii needs a width of 1 to 32 digits, not " +
                          std::to_string(range.width));
    }
    const uint64_t most = largest(range.format, range.width);
    if (range.end > most) {
        throw SchemeError("the end " + std::to_string(range.end) + " does not fit " +
                          (range.format == NumberFormat::Ascii
                               ? std::to_string(range.width) + " ascii digits"
                               : name) +
                          " (at most " + std::to_string(most) + ")");
    }
    SerialScheme scheme;
    scheme.range_ = range;
    scheme.length_ = recordBytes(range);
    return scheme;
}

SerialScheme SerialScheme::list(std::string_view text, const std::string& source) {
    SerialScheme scheme;
    objfile::detail::LineReader lines(text);
    std::string_view line;
    std::map<std::string, uint32_t> lineOf;
    while (lines.next(line)) {
        line = objfile::detail::trimBlanks(line);
        if (line.empty() || line.front() == kCommentMark) {
            continue;
        }
        const std::string prefix = source + " line " + std::to_string(lines.lineNumber()) + ": ";
        Record record = parseRecordLine(line, prefix);
        if (record.size() > kMaxRecordBytes) {
            throw SchemeError(prefix + lengthText(record.size()) + ", a record holds 1 to 32");
        }
        if (!scheme.list_.empty() && record.size() != scheme.length_) {
            throw SchemeError(prefix + lengthText(record.size()) + ", the records before have " +
                              std::to_string(scheme.length_));
        }
        const std::string key = hexText(record);
        const auto [known, added] = lineOf.emplace(key, lines.lineNumber());
        if (!added) {
            throw SchemeError(prefix + "repeats line " + std::to_string(known->second));
        }
        scheme.length_ = record.size();
        scheme.listIndex_.emplace(key, scheme.list_.size());
        scheme.list_.push_back(std::move(record));
    }
    if (scheme.list_.empty()) {
        throw SchemeError(source + " holds no records");
    }
    return scheme;
}

SerialScheme SerialScheme::listFile(const std::string& path) {
    // What the path names and its size are judged before a byte is read: a FIFO never
    // blocks the station, and a huge (or sparse) file costs no memory.
    files::FileRead read = files::readBoundedFile(path, kMaxListFileBytes);
    switch (read.problem) {
    case files::FileRead::Problem::None:
        return list(read.bytes, path);
    case files::FileRead::Problem::NotRegular:
        throw SchemeError("the list file " + path + " is not a regular file");
    case files::FileRead::Problem::TooLarge:
        throw SchemeError("the list file " + path + " is larger than " +
                          std::to_string(kMaxListFileBytes >> 20) + " MiB");
    case files::FileRead::Problem::CannotOpen:
    case files::FileRead::Problem::ReadFailed:
        break;
    }
    throw SchemeError("the list file " + path + " cannot be read");
}

uint64_t SerialScheme::size() const {
    if (!range_) {
        return list_.size();
    }
    const uint64_t steps = (range_->end - range_->start) / range_->step;
    // A range of all 2^64 numbers: the last one is never reached.
    return steps == std::numeric_limits<uint64_t>::max() ? steps : steps + 1;
}

Record SerialScheme::record(uint64_t index) const {
    if (!range_) {
        return list_.at(index);
    }
    return encode(*range_, range_->start + index * range_->step);
}

std::optional<uint64_t> SerialScheme::indexOf(const Record& record) const {
    if (!range_) {
        const auto found = listIndex_.find(hexText(record));
        return found != listIndex_.end() ? std::optional(found->second) : std::nullopt;
    }
    const std::optional<uint64_t> number = decodeNumber(range_->format, range_->width, record);
    if (!number || *number < range_->start || *number > range_->end ||
        (*number - range_->start) % range_->step != 0) {
        return std::nullopt;
    }
    return (*number - range_->start) / range_->step;
}

std::string SerialScheme::kind() const {
    if (!range_) {
        return "list of " + std::to_string(length_) + "-byte records";
    }
    if (range_->format == NumberFormat::Ascii) {
        return "ascii width " + std::to_string(range_->width);
    }
    return std::string(formatName(range_->format));
}

std::string SerialScheme::identity() const {
    if (range_) {
        return description();
    }
    uint32_t crc = 0;
    for (const Record& record : list_) {
        crc = wire::crc32(record, crc);
    }
    return description() + " crc32 " +
           hexText(Record{static_cast<uint8_t>(crc >> 24), static_cast<uint8_t>(crc >> 16),
                          static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)});
}

std::string SerialScheme::description() const {
    if (!range_) {
        return "list of " + std::to_string(list_.size()) + " " + std::to_string(length_) +
               "-byte records";
    }
    return kind() + " from " + std::to_string(range_->start) + " to " +
           std::to_string(range_->end) + " step " + std::to_string(range_->step);
}

} // namespace octo::serials
