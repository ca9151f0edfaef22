// The line protocol between the e2e harness and the Win32 driver, shared by both sides.
//
// One request per line: a command word and its arguments, separated by blanks.
// One answer per request, one line: "OK" followed by zero or more values, or
// "ERR" followed by a quoted reason.
// A value or argument is a bare word (numbers: decimal or 0x-hex; window handles: 0x-hex)
// or a double-quoted UTF-8 string with the escapes \\ \" \n \r \t and \xHH, so that any
// text, including an empty one, stays one token and one line.
#ifndef OCTO_E2E_LINE_PROTOCOL_H
#define OCTO_E2E_LINE_PROTOCOL_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace octo::e2e {

// The text as one quoted token.
std::string quote(std::string_view text);

// Splits a line into tokens, removing quotes and escapes. Empty on a malformed line,
// with the reason in `error`.
std::optional<std::vector<std::string>> splitTokens(std::string_view line, std::string& error);

// A number token: decimal, or hexadecimal with 0x; an optional leading minus.
std::optional<std::int64_t> parseNumber(std::string_view token);

// Window handles and styles travel as 0x-prefixed hexadecimal.
std::string hex32(std::uint32_t value);

} // namespace octo::e2e

#endif
