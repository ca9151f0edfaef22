// What octo816 makes of bytes from arguments and files: messages without control characters,
// JSON strings that are valid UTF-8 and name every byte.
#include "Escape.h"
#include "Json.h"

#include <gtest/gtest.h>

#include <string>

namespace octo::cli {
namespace {

TEST(Escape, ControlsAndBytesThatAreNotUtf8AreEscapedAndOnlyThey) {
    const struct {
        std::string text, message, json;
    } cases[] = {
        {"plain \"text\\", "plain \"text\\", R"("plain \"text\\")"},
        {"a\nb\x1B\x7F", "a\\x0Ab\\x1B\\x7F",
         R"("a\u000ab\u001b)"
         "\x7F\""},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
         "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
        {"\xC2\x9B", "\\xC2\\x9B", "\"\xC2\x9B\""},                     // C1 control, U+009B
        {"caf\xE9", "caf\\xE9", R"("caf\udce9")"},                      // Latin-1
        {"\xC0\xAF", "\\xC0\\xAF", R"("\udcc0\udcaf")"},                // overlong '/'
        {"\xE0\x80\xAF", "\\xE0\\x80\\xAF", R"("\udce0\udc80\udcaf")"}, // overlong, 3 bytes
        {"\xED\xA0\x80", "\\xED\\xA0\\x80", R"("\udced\udca0\udc80")"}, // a surrogate
        {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80", R"("\udcf4\udc90\udc80\udc80")"},
        {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF", "\"\xF4\x8F\xBF\xBF\""}, // U+10FFFF
        {"\xE0\xA0\x80", "\xE0\xA0\x80", "\"\xE0\xA0\x80\""}, // U+0800, least of 3 bytes
        {"\xE2\x82", "\\xE2\\x82", R"("\udce2\udc82")"},      // cut short at the end
        {"\xE2(", "\\xE2(", R"("\udce2(")"},                  // cut short by ASCII
        {"\xF5\x80\x80\x80", "\\xF5\\x80\\x80\\x80", R"("\udcf5\udc80\udc80\udc80")"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(printable(c.text), c.message) << c.text;
        EXPECT_EQ(jsonString(c.text), c.json) << c.text;
    }
}

} // namespace
} // namespace octo::cli
