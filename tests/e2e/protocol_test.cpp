// The line protocol's quoting: every text survives one trip through one token.
#include "protocol/LineProtocol.h"

#include <gtest/gtest.h>

namespace octo::e2e {
namespace {

TEST(LineProtocol, QuotedTextsSplitBackIntoTheSameTokens) {
    const std::vector<std::string> texts = {"",
                                            "plain",
                                            "two  blanks ",
                                            "\"quoted\"",
                                            "back\\slash",
                                            "line\nbreak\r\ttab",
                                            std::string("nul\0byte", 8),
                                            "\x01\x1f\x7f",
                                            "Umlaut \xC3\xA4 UTF-8",
                                            "0.0 s "};
    std::string line = "OK";
    for (const auto& t : texts)
        line += " " + quote(t);
    std::string error;
    const auto tokens = splitTokens(line, error);
    ASSERT_TRUE(tokens) << error;
    ASSERT_EQ(tokens->size(), texts.size() + 1);
    EXPECT_EQ(tokens->front(), "OK");
    for (std::size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ((*tokens)[i + 1], texts[i]) << "token " << i;
    EXPECT_EQ(line.find('\n'), std::string::npos);
}

TEST(LineProtocol, BareWordsSplitAtBlanks) {
    std::string error;
    const auto tokens = splitTokens("  click 0x0001004A   1003\t500\r", error);
    ASSERT_TRUE(tokens) << error;
    EXPECT_EQ(*tokens, (std::vector<std::string>{"click", "0x0001004A", "1003", "500"}));
}

TEST(LineProtocol, MalformedLinesAreRefusedWithAReason) {
    for (const char* bad :
         {"text \"open", "text \"bad\\q\"", "text \"\\x4\"", "text \"a\"b", "text \"ends\\"}) {
        std::string error;
        EXPECT_FALSE(splitTokens(bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(LineProtocol, NumbersAreDecimalOrHexadecimal) {
    EXPECT_EQ(parseNumber("1003"), 1003);
    EXPECT_EQ(parseNumber("0xFFFF"), 0xFFFF);
    EXPECT_EQ(parseNumber("-1"), -1);
    EXPECT_EQ(parseNumber("0x0001004a"), 0x1004A);
    EXPECT_FALSE(parseNumber(""));
    EXPECT_FALSE(parseNumber("12a"));
    EXPECT_FALSE(parseNumber("0x"));
    EXPECT_EQ(hex32(0x1004A), "0x0001004A");
}

} // namespace
} // namespace octo::e2e
