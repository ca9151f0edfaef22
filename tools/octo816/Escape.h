// Bytes from arguments and files made safe for a terminal and for JSON: control characters
// and bytes that are not UTF-8 never reach the output as they are.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace octo::cli {

// The length of the UTF-8 character that starts at text[at] (1 to 4), or 0 when the bytes
// there are not a well-formed one (a stray continuation byte, a sequence cut short, an
// overlong form, a surrogate, a code point past U+10FFFF).
size_t utf8Length(std::string_view text, size_t at);

// The text for a message or a report line: control characters (C0, DEL, C1) and bytes that
// are not UTF-8 as \xNN, everything else as it is.
std::string printable(std::string_view text);

} // namespace octo::cli
