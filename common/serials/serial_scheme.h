// Where a station's serial records come from: numbers from start by step up to end, each
// written in a fixed binary or decimal form, or the lines of a list file (MAC addresses,
// keys). A scheme is an ordered sequence of records of one length; the ledger hands them
// out by their place in it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace octo::serials {

inline constexpr size_t kMinRecordBytes = 1;
// The largest list file read: 8 MiB, some 460,000 MAC addresses written with colons; a
// larger file is refused before it is read, as each record costs memory while it is used.
inline constexpr uint64_t kMaxListFileBytes = uint64_t{8} << 20;
inline constexpr size_t kMaxRecordBytes = 32;

using Record = std::vector<uint8_t>;

// How a number is written: little- or big-endian binary, or decimal ASCII digits
// zero-padded to a width.
enum class NumberFormat { Le16, Le32, Le64, Be16, Be32, Be64, Ascii };

// "le32" and so on; none for a name that is no format.
std::optional<NumberFormat> numberFormat(std::string_view name);
std::string_view formatName(NumberFormat format);

struct NumberRange {
    uint64_t start = 0;
    uint64_t end = 0;
    uint64_t step = 1;
    NumberFormat format = NumberFormat::Le32;
    int width = 0; // digits of Ascii (1 to 32); the binary formats ignore it
};

// A scheme that cannot be used; the message names what is wrong, in one line.
class SchemeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The record's bytes as lowercase hexadecimal, two digits a byte: how the ledger keeps it.
std::string hexText(const Record& record);

class SerialScheme {
public:
    // Throws SchemeError for a step of 0, an end below start, an end the format cannot
    // hold or, for Ascii, a width outside 1..32 or an end with more digits than it.
    static SerialScheme numbers(const NumberRange& range);
    // The records of a list file's text, one a line in hexadecimal, bytes optionally
    // separated by ':' or '-'; blank lines and lines starting with '#' are skipped. Throws
    // SchemeError, naming source and the line, for a line that is no record, a record of
    // another length than the first, a record given twice, or a list without records.
    static SerialScheme list(std::string_view text, const std::string& source);
    // The same from a file; throws SchemeError when it is missing or cannot be read, is no
    // regular file (a folder, a FIFO, a device) or is larger than kMaxListFileBytes, each
    // found before a byte is read.
    static SerialScheme listFile(const std::string& path);

    bool isNumbers() const { return range_.has_value(); }
    const std::optional<NumberRange>& range() const { return range_; }
    uint64_t size() const;
    size_t recordLength() const { return length_; }
    // The record at place index (0 is the first); index < size().
    Record record(uint64_t index) const;
    // The place of a record in the scheme; none when the scheme does not hold it.
    std::optional<uint64_t> indexOf(const Record& record) const;

    // What a record of this kind is, the same for every range or list of it:
    // "le32", "ascii width 8", "list of 6-byte records". A ledger keeps one kind.
    std::string kind() const;
    // The kind with its range or its list, to tell two schemes of a kind apart.
    std::string identity() const;
    // For people: "le32 from 1 to 1000 step 1", "list of 500 6-byte records".
    std::string description() const;

private:
    SerialScheme() = default;

    std::optional<NumberRange> range_;
    std::vector<Record> list_;
    std::map<std::string, uint64_t> listIndex_; // by hexText
    size_t length_ = 0;
};

// The number a record of a number format holds; none when the record is no such number
// (another length, or for Ascii anything but width digits).
std::optional<uint64_t> decodeNumber(NumberFormat format, int width, const Record& record);

} // namespace octo::serials
