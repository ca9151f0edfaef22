#include <wire/checksums.h>

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace octo::wire {
namespace {

std::vector<uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

TEST(Checksums, CatalogueCheckValues) {
    const auto check = bytesOf("123456789");
    EXPECT_EQ(crc8(check), 0xF4);
    EXPECT_EQ(crc16(check), 0x29B1);
    EXPECT_EQ(crc32(check), 0xCBF43926u);
}

TEST(Checksums, EmptyInputGivesTheInitialValues) {
    EXPECT_EQ(crc8({}), 0x00);
    EXPECT_EQ(crc16({}), 0xFFFF);
    EXPECT_EQ(crc32({}), 0u);
}

TEST(Checksums, Crc32ContinuesAcrossPieces) {
    const auto all = bytesOf("The quick brown fox jumps over the lazy dog");
    const std::span<const uint8_t> whole(all);
    for (size_t cut : {size_t{0}, size_t{1}, size_t{17}, all.size()}) {
        EXPECT_EQ(crc32(whole.subspan(cut), crc32(whole.first(cut))), crc32(whole)) << cut;
    }
    EXPECT_EQ(crc32(whole), 0x414FA339u);
}

TEST(Checksums, EverySingleBitFlipChangesTheCrc16) {
    auto data = bytesOf("frame payload under test");
    const uint16_t good = crc16(data);
    for (size_t i = 0; i < data.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            data[i] ^= static_cast<uint8_t>(1 << bit);
            EXPECT_NE(crc16(data), good) << i << ":" << bit;
            data[i] ^= static_cast<uint8_t>(1 << bit);
        }
    }
}

} // namespace
} // namespace octo::wire
