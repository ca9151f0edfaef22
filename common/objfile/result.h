// Result codes and diagnostics of the object-file readers and loaders.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace octo::objfile {

// The library's result codes that object-file work can end with.
enum class ResultCode : int32_t {
    Ok = 0,
    InvalidRecord = 11,
    UnexpectedEnd = 12,
    FileIo = 13,
    UnrecognizableFormat = 14,
    CannotOpen = 15,
    OutOfRange = 16,
    LoadedWithWarning = 17,
    DataAlreadySpecified = 53,
};

// Short lower-case name of a code ("invalid record"), for tools and logs.
std::string_view resultCodeName(ResultCode code);

// One error or warning: what was wrong, on which line (0 = the file as a whole) and,
// where the problem concerns memory, the address.
struct Diagnostic {
    ResultCode code = ResultCode::Ok;
    uint32_t line = 0;
    std::string message;
    std::optional<uint32_t> address;

    // "line 12: checksum is 0x3F, expected 0x40"
    std::string describe() const;
};

// A start address record of an Intel-Hex file: kept, never placed in the image.
struct StartAddress {
    enum class Kind { Segment, Linear };
    Kind kind = Kind::Linear;
    uint32_t value = 0; // Segment: CS in the high half, IP in the low half
};

struct ReadResult {
    std::optional<Diagnostic> error;
    std::vector<Diagnostic> warnings;
    std::optional<StartAddress> start;

    bool ok() const { return !error.has_value(); }
    // 0, 17 (read, with warnings) or the error's code.
    ResultCode code() const;
};

} // namespace octo::objfile
