// Serial schemes: each format at its edges, the ranges refused, list files as operators
// write them and the lines refused.
#include "serials/serial_scheme.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

namespace octo::serials {
namespace {

constexpr uint64_t kMax64 = std::numeric_limits<uint64_t>::max();

struct EncodingCase {
    NumberRange range;
    uint64_t index;
    const char* hex;
};

TEST(SerialScheme, NumbersAreWrittenInTheirFormat) {
    const EncodingCase cases[] = {
        {{0xFFFF, 0xFFFF, 1, NumberFormat::Le16, 0}, 0, "ffff"},
        {{0x1234, 0xFFFF, 1, NumberFormat::Le16, 0}, 0, "3412"},
        {{0x1234, 0xFFFF, 1, NumberFormat::Be16, 0}, 0, "1234"},
        {{1, 100, 1, NumberFormat::Le32, 0}, 0, "01000000"},
        {{0x01020300, 0xFFFFFFFF, 1, NumberFormat::Be32, 0}, 4, "01020304"},
        {{0x0102030405060708, kMax64, 1, NumberFormat::Le64, 0}, 0, "0807060504030201"},
        {{0x0102030405060708, kMax64, 1, NumberFormat::Be64, 0}, 0, "0102030405060708"},
        {{kMax64, kMax64, 1, NumberFormat::Be64, 0}, 0, "ffffffffffffffff"},
        {{10, 100, 5, NumberFormat::Be16, 0}, 2, "0014"},
        {{7, 9999, 1, NumberFormat::Ascii, 4}, 0, "30303037"},
        {{9, 9, 1, NumberFormat::Ascii, 1}, 0, "39"},
        {{kMax64, kMax64, 1, NumberFormat::Ascii, 20},
         0,
         "3138343436373434303733373039353531363135"},
        {{1, 1, 1, NumberFormat::Ascii, 32},
         0,
         "3030303030303030303030303030303030303030303030303030303030303031"},
    };
    for (const EncodingCase& c : cases) {
        const SerialScheme scheme = SerialScheme::numbers(c.range);
        const Record record = scheme.record(c.index);
        EXPECT_EQ(hexText(record), c.hex) << scheme.description();
        EXPECT_EQ(record.size(), scheme.recordLength()) << scheme.description();
        EXPECT_EQ(scheme.indexOf(record), c.index) << scheme.description();
    }
}

struct RefusedRange {
    NumberRange range;
    const char* message;
};

TEST(SerialScheme, RangesTheFormatCannotHoldAreRefused) {
    const RefusedRange cases[] = {
        {{0, 0x10000, 1, NumberFormat::Le16, 0}, "the end 65536 does not fit le16 (at most 65535)"},
        {{0, 0x100000000, 1, NumberFormat::Be32, 0},
         "the end 4294967296 does not fit be32 (at most 4294967295)"},
        {{1, 1000, 1, NumberFormat::Ascii, 3},
         "the end 1000 does not fit 3 ascii digits (at most 999)"},
        {{1, 9, 1, NumberFormat::Ascii, 0}, "ascii needs a width of 1 to 32 digits, not 0"},
        {{1, 9, 1, NumberFormat::Ascii, 33}, "ascii needs a width of 1 to 32 digits, not 33"},
        {{1, 9, 0, NumberFormat::Le32, 0}, "the step must be at least 1"},
        {{9, 1, 1, NumberFormat::Le32, 0}, "the end 1 lies below the start 9"},
    };
    for (const RefusedRange& c : cases) {
        try {
            SerialScheme::numbers(c.range);
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const SchemeError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(SerialScheme, OnlyTheRangesOwnNumbersHaveAPlace) {
    const SerialScheme scheme = SerialScheme::numbers({10, 22, 5, NumberFormat::Ascii, 3});
    EXPECT_EQ(scheme.size(), 3u);
    EXPECT_EQ(scheme.indexOf({'0', '2', '0'}), 2u);
    EXPECT_EQ(scheme.indexOf({'0', '1', '2'}), std::nullopt) << "between two steps";
    EXPECT_EQ(scheme.indexOf({'0', '2', '5'}), std::nullopt) << "past the end";
    EXPECT_EQ(scheme.indexOf({'0', '0', '5'}), std::nullopt) << "before the start";
    EXPECT_EQ(scheme.indexOf({'0', 'a', '0'}), std::nullopt) << "no digit";
    EXPECT_EQ(scheme.indexOf({'2', '0'}), std::nullopt) << "another width";
    EXPECT_EQ(SerialScheme::numbers({0, kMax64, 1, NumberFormat::Le64, 0}).size(), kMax64);
}

TEST(SerialScheme, AListTakesEachLineOnceInOrder) {
    const SerialScheme scheme = SerialScheme::list(
        "00:1A:2B:3C:4D:5E\n\n# spare batch\n00-1a-2b-3c-4d-5f\r\n  001a2b3c4d60 \t\n", "macs.txt");
    ASSERT_EQ(scheme.size(), 3u);
    EXPECT_EQ(scheme.recordLength(), 6u);
    EXPECT_EQ(hexText(scheme.record(0)), "001a2b3c4d5e");
    EXPECT_EQ(hexText(scheme.record(1)), "001a2b3c4d5f");
    EXPECT_EQ(hexText(scheme.record(2)), "001a2b3c4d60");
    EXPECT_EQ(scheme.indexOf(scheme.record(2)), 2u);
    EXPECT_EQ(scheme.indexOf({0, 0x1a, 0x2b, 0x3c, 0x4d, 0x61}), std::nullopt);
}

struct RefusedList {
    const char* text;
    const char* message;
};

TEST(SerialScheme, ListLinesThatAreNoRecordAreRefusedByLine) {
    const std::string tooLong(66, 'a');
    const RefusedList cases[] = {
        {"0011\n00:1g", "keys.txt line 2: 'g' is not a hexadecimal digit"},
        {"0:1a", "keys.txt line 1: ':' is not a hexadecimal digit"},
        {"00 11", "keys.txt line 1: byte 0x20 is not a hexadecimal digit"},
        {"001", "keys.txt line 1: a byte needs two hexadecimal digits"},
        {"00:", "keys.txt line 1: ends in a separator"},
        {":00", "keys.txt line 1: ':' is not a hexadecimal digit"},
        {"00:11\n2233\n# x\n0011", "keys.txt line 4: repeats line 1"},
        {"0011\n22", "keys.txt line 2: 1 byte, the records before have 2"},
        {tooLong.c_str(), "keys.txt line 1: 33 bytes, a record holds 1 to 32"},
        {"\n# none yet\n  \n", "keys.txt holds no records"},
    };
    for (const RefusedList& c : cases) {
        try {
            SerialScheme::list(c.text, "keys.txt");
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const SchemeError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(SerialScheme, AListFileIsReadOnlyWhenItIsARegularFileWithinTheBound) {
    const testing::TempFolder folder("octo_scheme");
    const std::string fifo = folder.file("fifo.txt");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Sparse: past the bound by a byte, it costs no disk.
    const std::string large = folder.file("large.txt");
    std::ofstream(large) << "0011\n";
    std::filesystem::resize_file(large, kMaxListFileBytes + 1);
    // At the bound: two records, then a comment up to it.
    const std::string largest = folder.file("largest.txt");
    const std::string records = "0011\n0022\n#";
    std::ofstream(largest, std::ios::binary)
        << records << std::string(kMaxListFileBytes - records.size(), 'x');
    const struct {
        std::string path;
        std::string message; // "" when read
    } cases[] = {
        {folder.file("missing.txt"), "cannot be read"},
        {folder.path().string(), "is not a regular file"},
        {fifo, "is not a regular file"},
        {"/dev/zero", "is not a regular file"},
        {large, "is larger than 8 MiB"},
        {largest, ""},
    };
    for (const auto& c : cases) {
        try {
            EXPECT_EQ(SerialScheme::listFile(c.path).size(), 2u) << c.path;
            EXPECT_EQ(c.message, "") << c.path;
        } catch (const SchemeError& e) {
            EXPECT_EQ(std::string(e.what()), "the list file " + c.path + " " + c.message);
        }
    }
}

} // namespace
} // namespace octo::serials
