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

// How long an action (click, select, focus, key) waits for its control to be usable
// (visible and enabled, in an enabled window) before the driver refuses it. A window holds
// its painting while it changes many controls at once (WM_SETREDRAW), and Wine then reports
// the window and its controls as hidden; an operation disables the controls at its start
// and gives them back at its end. Either lasts one burst of the program's own handler, a
// few milliseconds; the bound leaves room for that thread being starved on a loaded
// machine, and a control still unusable after it is a real refusal. The harness adds it to
// the deadline of every action's answer.
inline constexpr int kUsableWaitMs = 10000;

} // namespace octo::e2e

#endif
