// Readers of the two object-file formats. They take the file's text, never a file name,
// and hand every data record to a sink that decides where the bytes go.
#pragma once

#include "objfile/result.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace octo::objfile {

enum class Format { IntelHex, QxText };

// Receives the data of the records in file order. An error it returns stops the reading
// and becomes the reader's error.
class RecordSink {
public:
    virtual ~RecordSink() = default;
    virtual std::optional<Diagnostic> data(uint32_t address, std::span<const uint8_t> bytes,
                                           uint32_t line) = 0;
};

// Intel-Hex: record types 00 data, 01 end, 02 extended segment address, 04 extended
// linear address, 03 and 05 start address (returned, not placed). Checksums are checked.
// After a 02 record a data record wraps within its 64 KiB segment; otherwise addresses
// run on linearly.
ReadResult readIntelHex(std::string_view text, RecordSink& sink);

// QX-Text: "@ADDR" lines set the address, data lines hold two-digit hex bytes separated by
// blanks, a line "q" ends the file.
ReadResult readQxText(std::string_view text, RecordSink& sink);

ReadResult readObject(std::string_view text, Format format, RecordSink& sink);

// The format a file name's extension names: .txt QX-Text; .int, .hex, .zhx Intel-Hex
// (any letter case). None for other names.
std::optional<Format> formatForFileName(std::string_view fileName);

// The format the text itself starts like, none when it is neither.
std::optional<Format> sniffFormat(std::string_view text);

std::string_view formatName(Format format);

} // namespace octo::objfile
