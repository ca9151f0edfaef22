// Readers: what valid files place where, and the code, line and text of every kind of fault.
#include "objfile/load.h"
#include "objfile/readers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace octo::objfile {
namespace {

struct Placed {
    uint32_t address;
    std::vector<uint8_t> bytes;
    bool operator==(const Placed&) const = default;
};

std::vector<Placed> placedRuns(const Image& image) {
    std::vector<Placed> result;
    for (const auto& run : image.runs()) {
        result.push_back({run.start, {run.bytes.begin(), run.bytes.end()}});
    }
    return result;
}

struct GoodCase {
    const char* name;
    Format format;
    std::string text;
    std::vector<Placed> expected;
};

class GoodFiles : public ::testing::TestWithParam<GoodCase> {};

TEST_P(GoodFiles, PlaceTheirBytes) {
    const auto& c = GetParam();
    Image image;
    const ReadResult result = readImage(c.text, c.format, image);
    ASSERT_TRUE(result.ok()) << result.error->describe();
    EXPECT_EQ(result.code(), ResultCode::Ok);
    EXPECT_EQ(placedRuns(image), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    IntelHex, GoodFiles,
    ::testing::Values(GoodCase{"CrLf",
                               Format::IntelHex,
                               ":0300300002337A1E\r\n:00000001FF\r\n",
                               {{0x30, {0x02, 0x33, 0x7A}}}},
                      GoodCase{"LfOnly",
                               Format::IntelHex,
                               ":0300300002337A1E\n:00000001FF\n",
                               {{0x30, {0x02, 0x33, 0x7A}}}},
                      GoodCase{"CrOnlyNoFinalEnd",
                               Format::IntelHex,
                               ":0300300002337a1e\r:00000001ff",
                               {{0x30, {0x02, 0x33, 0x7A}}}},
                      GoodCase{"BlankLinesAndTrailingBlanks",
                               Format::IntelHex,
                               "\r\n  :0300300002337A1E  \r\n\r\n:00000001FF\r\n\x1A",
                               {{0x30, {0x02, 0x33, 0x7A}}}},
                      GoodCase{"LinearAddressRunsOnAcross64KiB",
                               Format::IntelHex,
                               ":02000004000FEB\n:04FFFE00A1A2A3A475\n:00000001FF\n",
                               {{0xFFFFE, {0xA1, 0xA2, 0xA3, 0xA4}}}},
                      GoodCase{"SegmentAddressWrapsWithinSegment",
                               Format::IntelHex,
                               ":020000021000EC\n:04FFFE00A1A2A3A475\n:00000001FF\n",
                               {{0x10000, {0xA3, 0xA4}}, {0x1FFFE, {0xA1, 0xA2}}}},
                      GoodCase{"LinearThenSegmentThenLinear",
                               Format::IntelHex,
                               ":020000040001F9\n:0100000011EE\n:020000020100FB\n:0100000022DD\n"
                               ":020000040000FA\n:0100000033CC\n:00000001FF\n",
                               {{0x0, {0x33}}, {0x1000, {0x22}}, {0x10000, {0x11}}}},
                      GoodCase{"ZeroLengthDataRecord",
                               Format::IntelHex,
                               ":00100000F0\n:0100000011EE\n:00000001FF\n",
                               {{0x0, {0x11}}}},
                      GoodCase{"DescendingRecordsJoin",
                               Format::IntelHex,
                               ":020004000304F3\n:020002000102F9\n:020000000A0BE9\n:00000001FF\n",
                               {{0x0, {0x0A, 0x0B, 0x01, 0x02, 0x03, 0x04}}}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    QxText, GoodFiles,
    ::testing::Values(
        GoodCase{"TwoRanges",
                 Format::QxText,
                 "@F000\r\n31 40 00 03\r\n@FFFE\r\n00 F0\r\nq\r\n",
                 {{0xF000, {0x31, 0x40, 0x00, 0x03}}, {0xFFFE, {0x00, 0xF0}}}},
        GoodCase{"AddressCarriesOverLines",
                 Format::QxText,
                 "@1000\nab cd\nEF\n01 02\nQ\n",
                 {{0x1000, {0xAB, 0xCD, 0xEF, 0x01, 0x02}}}},
        GoodCase{"TabsBlankLinesCrOnly",
                 Format::QxText,
                 "@10\r\r\t0A\t0B \r\rq",
                 {{0x10, {0x0A, 0x0B}}}},
        GoodCase{"ByteOrderMark", Format::QxText, "\xEF\xBB\xBF@2\n11\nq\n", {{0x2, {0x11}}}},
        GoodCase{
            "LastByteOfAddressSpace", Format::QxText, "@FFFFFFFF\nEE\nq\n", {{0xFFFFFFFF, {0xEE}}}},
        GoodCase{"AdjacentRangesJoin",
                 Format::QxText,
                 "@100\n01\n@FF\n00\n@101\n02\nq\n",
                 {{0xFF, {0x00, 0x01, 0x02}}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadCase {
    const char* name;
    Format format;
    std::string text;
    ResultCode code;
    uint32_t line;
    std::string messagePart;
};

class BadFiles : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadFiles, FailWithCodeLineAndReason) {
    const auto& c = GetParam();
    Image image;
    const ReadResult result = readImage(c.text, c.format, image);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.code(), c.code) << result.error->describe();
    EXPECT_EQ(result.error->line, c.line) << result.error->describe();
    EXPECT_NE(result.error->message.find(c.messagePart), std::string::npos)
        << result.error->describe();
    EXPECT_TRUE(image.empty()) << "a failed read must leave nothing behind";
}

INSTANTIATE_TEST_SUITE_P(
    IntelHex, BadFiles,
    ::testing::Values(
        BadCase{"Checksum", Format::IntelHex, ":0100000011EE\n:0300300002337A1F\n:00000001FF\n",
                ResultCode::InvalidRecord, 2, "checksum is 0x1F, expected 0x1E"},
        BadCase{"NotHex", Format::IntelHex, ":03003000023G7A1E\n", ResultCode::InvalidRecord, 1,
                "'G' in column 13"},
        BadCase{"ControlCharacter", Format::IntelHex,
                ":0300300002\x01"
                "37A1E\n",
                ResultCode::InvalidRecord, 1, "byte 0x01"},
        BadCase{"OddDigits", Format::IntelHex, ":0300300002337A1\n", ResultCode::InvalidRecord, 1,
                "odd number"},
        BadCase{"TooShort", Format::IntelHex, ":00000001\n", ResultCode::InvalidRecord, 1,
                "too short"},
        BadCase{"LengthFieldTooBig", Format::IntelHex, ":0400300002337A1D\n",
                ResultCode::InvalidRecord, 1, "gives 4 data bytes, the record holds 3"},
        BadCase{"LengthFieldTooSmall", Format::IntelHex, ":0200300002337A1F\n",
                ResultCode::InvalidRecord, 1, "gives 2 data bytes, the record holds 3"},
        BadCase{"UnknownType", Format::IntelHex, ":00000006FA\n", ResultCode::InvalidRecord, 1,
                "unknown record type 0x06"},
        BadCase{"EndWithData", Format::IntelHex, ":01000001AA54\n", ResultCode::InvalidRecord, 1,
                "end record carries data"},
        BadCase{"ExtendedAddressLength", Format::IntelHex, ":0100000400FB\n",
                ResultCode::InvalidRecord, 1, "must hold 2 bytes"},
        BadCase{"StartAddressLength", Format::IntelHex, ":020000050000F9\n",
                ResultCode::InvalidRecord, 1, "must hold 4 bytes"},
        BadCase{"PastAddressSpace", Format::IntelHex, ":02000004FFFFFC\n:02FFFF00AABB9B\n",
                ResultCode::InvalidRecord, 2, "past address 0xFFFFFFFF"},
        BadCase{"LaterLineWithoutColon", Format::IntelHex, ":0100000011EE\n0100000011EE\n",
                ResultCode::InvalidRecord, 2, "does not start with ':'"},
        BadCase{"FirstLineWithoutColon", Format::IntelHex, "@F000\n00\nq\n",
                ResultCode::UnrecognizableFormat, 1, "not Intel-Hex"},
        BadCase{"NoEndRecord", Format::IntelHex, ":0100000011EE\r\n\r\n", ResultCode::UnexpectedEnd,
                2, "without an end record"},
        BadCase{"Empty", Format::IntelHex, "", ResultCode::UnexpectedEnd, 0, "no records"},
        BadCase{"SameAddressTwice", Format::IntelHex,
                ":020010001122BB\n:01001100AA44\n:00000001FF\n", ResultCode::DataAlreadySpecified,
                2, "0x00011"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    QxText, BadFiles,
    ::testing::Values(
        BadCase{"NotHexByte", Format::QxText, "@F000\n01 0G 02\nq\n", ResultCode::InvalidRecord, 2,
                "'0G' in column 4"},
        BadCase{"ThreeDigits", Format::QxText, "@F000\n01 234\nq\n", ResultCode::InvalidRecord, 2,
                "'234' in column 4"},
        BadCase{"SingleDigit", Format::QxText, "@F000\n1\nq\n", ResultCode::InvalidRecord, 2,
                "'1' in column 1"},
        BadCase{"AddressNotHex", Format::QxText, "@F00X\n01\nq\n", ResultCode::InvalidRecord, 1,
                "'X' in column 5"},
        BadCase{"AddressMissing", Format::QxText, "@\n01\nq\n", ResultCode::InvalidRecord, 1,
                "no address"},
        BadCase{"AddressTooLong", Format::QxText, "@100000000\n01\nq\n", ResultCode::InvalidRecord,
                1, "more than 8 digits"},
        BadCase{"PastAddressSpace", Format::QxText, "@FFFFFFFF\n01 02\nq\n",
                ResultCode::InvalidRecord, 2, "past address 0xFFFFFFFF"},
        BadCase{"PastAddressSpaceOnNextLine", Format::QxText, "@FFFFFFFF\n01\n02\nq\n",
                ResultCode::InvalidRecord, 3, "past address 0xFFFFFFFF"},
        BadCase{"DataFirst", Format::QxText, "01 02\nq\n", ResultCode::UnrecognizableFormat, 1,
                "not QX-Text"},
        BadCase{"IntelHexContent", Format::QxText, ":00000001FF\n",
                ResultCode::UnrecognizableFormat, 1, "not QX-Text"},
        BadCase{"NoClosingQ", Format::QxText, "@F000\n01 02\n", ResultCode::UnexpectedEnd, 2,
                "without the closing q"},
        BadCase{"Empty", Format::QxText, "\r\n \r\n", ResultCode::UnexpectedEnd, 2, "empty"},
        BadCase{"Overlap", Format::QxText, "@F000\n01 02 03\n@F002\n04\nq\n",
                ResultCode::DataAlreadySpecified, 4, "0x0F002"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReaderWarnings, TextAfterTheEndIsIgnoredWithAWarning) {
    Image image;
    ReadResult hex =
        readImage(":0100000011EE\n:00000001FF\n:0100010022DC\n", Format::IntelHex, image);
    ASSERT_TRUE(hex.ok());
    EXPECT_EQ(hex.code(), ResultCode::LoadedWithWarning);
    ASSERT_EQ(hex.warnings.size(), 1u);
    EXPECT_EQ(hex.warnings[0].line, 3u);
    EXPECT_EQ(image.byteCount(), 1u);

    ReadResult qx = readImage("@0\n11\nq\n22\n", Format::QxText, image);
    ASSERT_TRUE(qx.ok());
    EXPECT_EQ(qx.code(), ResultCode::LoadedWithWarning);
    EXPECT_EQ(qx.warnings.at(0).line, 4u);
}

TEST(ReaderWarnings, AFileWithoutDataLoadsWithAWarning) {
    Image image;
    EXPECT_EQ(readImage(":00000001FF\n", Format::IntelHex, image).code(),
              ResultCode::LoadedWithWarning);
    EXPECT_EQ(readImage("q\n", Format::QxText, image).code(), ResultCode::LoadedWithWarning);
}

TEST(IntelHexStartAddress, IsKeptAndNotPlaced) {
    Image image;
    ReadResult linear = readImage(":0400000500001234B1\n:00000001FF\n", Format::IntelHex, image);
    ASSERT_TRUE(linear.ok());
    ASSERT_TRUE(linear.start.has_value());
    EXPECT_EQ(linear.start->kind, StartAddress::Kind::Linear);
    EXPECT_EQ(linear.start->value, 0x1234u);
    EXPECT_TRUE(image.empty());

    ReadResult segment = readImage(":04000003F0001234C3\n:00000001FF\n", Format::IntelHex, image);
    ASSERT_TRUE(segment.ok());
    EXPECT_EQ(segment.start->kind, StartAddress::Kind::Segment);
    EXPECT_EQ(segment.start->value, 0xF0001234u);
}

TEST(IntelHexReader, AcceptsTheLongestRecord) {
    std::string record = ":FF000000";
    uint8_t sum = 0xFF;
    for (int i = 0; i < 255; ++i) {
        record += "5A";
        sum = static_cast<uint8_t>(sum + 0x5A);
    }
    char checksum[3];
    std::snprintf(checksum, sizeof checksum, "%02X", static_cast<uint8_t>(-sum));
    record += checksum;
    Image image;
    ReadResult result = readImage(record + "\n:00000001FF\n", Format::IntelHex, image);
    ASSERT_TRUE(result.ok()) << result.error->describe();
    EXPECT_EQ(image.byteCount(), 255u);

    // One byte more than a length field can announce.
    result = readImage(":FF000000" + std::string(512, 'A') + "\n", Format::IntelHex, image);
    EXPECT_EQ(result.code(), ResultCode::InvalidRecord);
}

TEST(FormatChoice, ExtensionPicksTheReaderAndContentDecidesOtherwise) {
    struct Case {
        const char* fileName;
        std::string text;
        ResultCode expected;
    };
    const std::string hex = ":0100000011EE\n:00000001FF\n";
    const std::string qx = "@0\n11\nq\n";
    const Case cases[] = {
        {"a.hex", hex, ResultCode::Ok},
        {"C:\\work\\A.INT", hex, ResultCode::Ok},
        {"b.Zhx", hex, ResultCode::Ok},
        {"c.TXT", qx, ResultCode::Ok},
        {"c.txt", hex, ResultCode::UnrecognizableFormat},
        {"a.hex", qx, ResultCode::UnrecognizableFormat},
        {"noextension", hex, ResultCode::Ok},
        {"dir.v2/noextension", qx, ResultCode::Ok},
        {"image.s19", "S00600004844521B\n", ResultCode::UnrecognizableFormat},
        {"image.dat", "", ResultCode::UnrecognizableFormat},
        {"image.hex", "", ResultCode::UnexpectedEnd},
    };
    for (const auto& c : cases) {
        Image image;
        EXPECT_EQ(loadObjectFile(c.fileName, c.text, image).code(), c.expected) << c.fileName;
    }
}

} // namespace
} // namespace octo::objfile
