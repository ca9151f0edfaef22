// The sparse image, the writers (checked by reading back what they wrote), loading against
// a device's memory and an image already loaded, CRC-32, binaries and firmware headers.
#include "objfile/binary.h"
#include "objfile/crc32.h"
#include "objfile/firmware.h"
#include "objfile/firmware_file.h"
#include "objfile/image.h"
#include "objfile/load.h"
#include "objfile/writers.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace octo::objfile {
namespace {

std::vector<uint8_t> bytesOf(std::initializer_list<int> values) {
    std::vector<uint8_t> result;
    for (int v : values) {
        result.push_back(static_cast<uint8_t>(v));
    }
    return result;
}

TEST(Image, InsertRefusesFilledAddressesAndReportsTheFirst) {
    Image image;
    ASSERT_FALSE(image.insert(0x100, bytesOf({1, 2, 3, 4})));
    ASSERT_FALSE(image.insert(0x200, bytesOf({5})));
    struct Case {
        uint32_t address;
        size_t length;
        std::optional<uint32_t> firstFilled;
    };
    const Case cases[] = {
        {0x0FC, 4, std::nullopt},    {0x0FC, 5, 0x100},    {0x103, 1, 0x103},
        {0x104, 0xFC, std::nullopt}, {0x104, 0xFD, 0x200}, {0x0F0, 0x200, 0x100},
        {0x201, 8, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(image.firstFilled(c.address, c.length), c.firstFilled) << std::hex << c.address;
        Image copy = image;
        const auto refused = copy.insert(c.address, std::vector<uint8_t>(c.length, 0xEE));
        EXPECT_EQ(refused, c.firstFilled);
        if (refused) {
            EXPECT_EQ(copy, image) << "a refused insert must change nothing";
        }
    }
}

TEST(Image, KeepsMaximalRangesWhateverTheOrderOfInsertion) {
    Image forward;
    Image backward;
    for (uint32_t i = 0; i < 64; ++i) {
        forward.insert(0xFFF0 + 16 * i, std::vector<uint8_t>(16, static_cast<uint8_t>(i)));
        const uint32_t j = 63 - i;
        backward.insert(0xFFF0 + 16 * j, std::vector<uint8_t>(16, static_cast<uint8_t>(j)));
    }
    EXPECT_EQ(forward, backward);
    ASSERT_EQ(backward.ranges().size(), 1u);
    EXPECT_EQ(backward.ranges()[0], (Image::Range{0xFFF0, 1024}));
    EXPECT_EQ(backward.at(0x10000), 1);
    EXPECT_EQ(backward.at(0xFFEF), std::nullopt);
    EXPECT_EQ(backward.lowestAddress(), 0xFFF0u);
    EXPECT_EQ(backward.highestAddress(), 0xFFF0u + 1023);
}

TEST(Image, EndsAtTheTopOfTheAddressSpace) {
    Image image;
    EXPECT_FALSE(image.insert(0xFFFFFFFE, bytesOf({1, 2})));
    EXPECT_EQ(image.highestAddress(), 0xFFFFFFFFu);
    Image other;
    EXPECT_EQ(other.insert(0xFFFFFFFF, bytesOf({1, 2})), 0xFFFFFFFFu);
    EXPECT_TRUE(other.empty());
}

TEST(Image, MergeIsAllOrNothing) {
    Image base;
    base.insert(0x1000, bytesOf({1, 2}));
    Image clash;
    clash.insert(0x0800, bytesOf({9}));
    clash.insert(0x1001, bytesOf({9, 9}));
    const Image before = base;
    EXPECT_EQ(base.merge(Image(clash)), 0x1001u);
    EXPECT_EQ(base, before);
    Image fits;
    fits.insert(0x1002, bytesOf({3}));
    EXPECT_FALSE(base.merge(std::move(fits)));
    EXPECT_EQ(base.ranges(), (std::vector<Image::Range>{{0x1000, 3}}));
}

// Random sparse images around the places where formats change their addressing: the
// 64 KiB boundary, the top of the 1 MiB space and the top of the 32-bit space.
Image randomImage(std::mt19937& random) {
    static constexpr uint32_t kHotSpots[] = {0x0,      0xFFFF,   0x10000,   0xFFFFF,
                                             0x100000, 0x1FFFF0, 0xFFFFFFF0};
    Image image;
    std::uniform_int_distribution<int> chunks(0, 12);
    std::uniform_int_distribution<int> length(1, 70);
    std::uniform_int_distribution<int> jitter(-40, 40);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<size_t> spot(0, std::size(kHotSpots) - 1);
    const int count = chunks(random);
    for (int i = 0; i < count; ++i) {
        const int64_t start = int64_t{kHotSpots[spot(random)]} + jitter(random);
        const int64_t clamped = std::clamp<int64_t>(start, 0, 0xFFFFFFFF);
        std::vector<uint8_t> bytes(static_cast<size_t>(length(random)));
        for (auto& b : bytes) {
            b = static_cast<uint8_t>(byte(random));
        }
        const uint64_t room = 0x100000000 - static_cast<uint64_t>(clamped);
        bytes.resize(static_cast<size_t>(std::min<uint64_t>(bytes.size(), room)));
        // Overlapping chunks are simply refused; the image stays valid.
        image.insert(static_cast<uint32_t>(clamped), bytes);
    }
    return image;
}

TEST(Writers, ReadingWhatWasWrittenGivesTheSameImage) {
    std::mt19937 random(20260816);
    for (int round = 0; round < 400; ++round) {
        const Image original = randomImage(random);
        for (Format format : {Format::IntelHex, Format::QxText}) {
            const std::string text = writeObject(original, format);
            Image back;
            const ReadResult result = readImage(text, format, back);
            ASSERT_TRUE(result.ok()) << result.error->describe() << "\n" << text;
            ASSERT_EQ(back, original) << formatName(format) << "\n" << text;
        }
    }
}

TEST(Writers, QxTextLayout) {
    Image image;
    image.insert(0xFFF8, std::vector<uint8_t>(20, 0xAB));
    image.insert(0x20000, bytesOf({0x01}));
    const std::string text = writeQxText(image);
    EXPECT_EQ(text, "@FFF8\r\n"
                    "AB AB AB AB AB AB AB AB AB AB AB AB AB AB AB AB\r\n"
                    "AB AB AB AB\r\n"
                    "@20000\r\n"
                    "01\r\n"
                    "q\r\n");
    EXPECT_EQ(writeQxText(Image{}), "q\r\n");
}

TEST(Writers, IntelHexSplitsAt64KiBAndSetsTheUpperAddress) {
    Image image;
    image.insert(0xFFF8, std::vector<uint8_t>(12, 0x11));
    const std::string text = writeIntelHex(image);
    EXPECT_EQ(text, ":08FFF800111111111111111179\r\n"
                    ":020000040001F9\r\n"
                    ":0400000011111111B8\r\n"
                    ":00000001FF\r\n");
    EXPECT_EQ(writeIntelHex(Image{}), ":00000001FF\r\n");
}

TEST(Writers, LargeImageKeepsSixteenByteRecords) {
    Image image;
    std::vector<uint8_t> data(0x30000);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 7);
    }
    image.insert(0x8000, data);
    const std::string hex = writeIntelHex(image);
    EXPECT_EQ(std::count(hex.begin(), hex.end(), '\n'), 0x30000 / 16 + 3 /* 04 x3 */ + 1);
    Image back;
    ASSERT_TRUE(readImage(hex, Format::IntelHex, back).ok());
    EXPECT_EQ(back, image);
}

// A device with flash at 0xF000-0xFFFF, information memory at 0x1000-0x10FF and RAM at
// 0x0200-0x02FF.
constexpr OctoSegmentEntry kSmallDevice[] = {
    {OCTO_SEGMENT_RAM, 0x0200, 0x100},
    {OCTO_SEGMENT_INFO, 0x1000, 0x80},
    {OCTO_SEGMENT_INFO, 0x1080, 0x80},
    {OCTO_SEGMENT_FLASH, 0xF000, 0x1000},
    {OCTO_SEGMENT_END, 0, 0},
    {OCTO_SEGMENT_FLASH, 0x0, 0x10000}, // after the end: must not count
};

TEST(LoadForDevice, DataOutsideTheDeviceIsRefusedWithItsAddressAndLine) {
    struct Case {
        const char* text;
        ResultCode code;
        std::optional<uint32_t> address;
        std::string messagePart;
    };
    const Case cases[] = {
        {"@F000\n01 02\n@1000\n03\n@10FF\n04 05\nq\n", ResultCode::InvalidRecord, 0x1100,
         "outside the memory"},
        {"@107F\n01 02 03\nq\n", ResultCode::Ok, std::nullopt, ""},
        {"@EFFF\n01 02\nq\n", ResultCode::InvalidRecord, 0xEFFF, "outside the memory"},
        {"@FFFF\n01 02\nq\n", ResultCode::InvalidRecord, 0x10000, "outside the memory"},
        {"@0280\n01\nq\n", ResultCode::InvalidRecord, 0x0280, "RAM"},
        {"@0\n01\nq\n", ResultCode::InvalidRecord, 0x0, "outside the memory"},
    };
    for (const auto& c : cases) {
        Image image;
        LoadOptions options;
        options.segments = std::span<const OctoSegmentEntry>(kSmallDevice);
        const ReadResult result = loadObject(c.text, Format::QxText, image, options);
        EXPECT_EQ(result.code(), c.code) << c.text;
        if (c.code != ResultCode::Ok) {
            ASSERT_TRUE(result.error);
            EXPECT_EQ(result.error->address, c.address) << c.text;
            EXPECT_NE(result.error->message.find(c.messagePart), std::string::npos)
                << result.error->describe();
            EXPECT_TRUE(image.empty());
        }
    }
}

TEST(LoadForDevice, AnEmptySegmentTableRefusesAllData) {
    const OctoSegmentEntry none[] = {{OCTO_SEGMENT_END, 0, 0}};
    Image image;
    LoadOptions options;
    options.segments = std::span<const OctoSegmentEntry>(none);
    EXPECT_EQ(loadObject("@F000\n01\nq\n", Format::QxText, image, options).code(),
              ResultCode::InvalidRecord);
}

TEST(LoadForDevice, SecondFileMayNotRepeatDataOfTheFirst) {
    Image image;
    ASSERT_EQ(loadObject("@F000\n01 02 03 04\nq\n", Format::QxText, image).code(), ResultCode::Ok);
    const Image afterFirst = image;

    // Overlap reported at the first such address in file order, the image untouched.
    ReadResult clash =
        loadObject(":020000000A0BE9\n:02F0030005F313\n:00000001FF\n", Format::IntelHex, image);
    EXPECT_EQ(clash.code(), ResultCode::DataAlreadySpecified);
    EXPECT_EQ(clash.error->address, 0xF003u);
    EXPECT_EQ(clash.error->line, 2u);
    EXPECT_EQ(image, afterFirst);

    ReadResult beside = loadObject("@F004\n05\n@1000\n11\nq\n", Format::QxText, image);
    EXPECT_EQ(beside.code(), ResultCode::Ok);
    EXPECT_EQ(image.ranges(), (std::vector<Image::Range>{{0x1000, 1}, {0xF000, 5}}));
}

TEST(Crc32, MatchesTheCommonCheckValueAndSkipsGaps) {
    const std::string check = "123456789";
    EXPECT_EQ(crc32(std::span(reinterpret_cast<const uint8_t*>(check.data()), check.size())),
              0xCBF43926u);
    Image image;
    image.insert(0x10, std::span(reinterpret_cast<const uint8_t*>(check.data()), 4));
    image.insert(0x9000, std::span(reinterpret_cast<const uint8_t*>(check.data()) + 4, 5));
    EXPECT_EQ(imageCrc32(image), 0xCBF43926u);
    EXPECT_EQ(imageCrc32(Image{}), 0u);
}

TEST(Binary, FillsGapsFromTheLowestAddress) {
    Image image;
    image.insert(0x100, bytesOf({1, 2}));
    image.insert(0x1105, bytesOf({3}));
    std::vector<uint8_t> out;
    ASSERT_TRUE(writeBinary(image, kErasedByte, [&](std::span<const uint8_t> piece) {
        out.insert(out.end(), piece.begin(), piece.end());
        return true;
    }));
    ASSERT_EQ(out.size(), binarySize(image));
    ASSERT_EQ(out.size(), 0x1006u);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(std::count(out.begin(), out.end(), 0xFF), 0x1003);
    EXPECT_EQ(out.back(), 3);

    Image back;
    ASSERT_TRUE(readBinary(out, 0x100, back));
    EXPECT_EQ(back.byteCount(), out.size());
    EXPECT_FALSE(readBinary(out, 0xFFFFF000, back));
}

TEST(Firmware, HeaderIdentifiesVersionAndName) {
    std::vector<uint8_t> code(3000);
    for (size_t i = 0; i < code.size(); ++i) {
        code[i] = static_cast<uint8_t>(i ^ (i >> 8));
    }
    const Image image = buildFirmwareImage(0x0156, "OCTO816 FW", code);
    // Through the file format, as the unit and the library meet it.
    Image read;
    ASSERT_TRUE(readImage(writeQxText(image), Format::QxText, read).ok());
    const FirmwareCheck check = identifyFirmware(read);
    ASSERT_TRUE(check.isFirmware()) << check.problem;
    EXPECT_EQ(check.info->version, 0x0156);
    EXPECT_EQ(formatFirmwareVersion(check.info->version), "1.56");
    EXPECT_EQ(check.info->name, "OCTO816 FW");
    EXPECT_EQ(check.info->codeLength, code.size());
}

TEST(Firmware, RefusesImagesThatAreNotFirmware) {
    const std::vector<uint8_t> code(100, 0x42);
    const Image good = buildFirmwareImage(0x0150, "FW", code);
    struct Case {
        const char* name;
        Image image;
        std::string problemPart;
    };
    std::vector<Case> cases;
    cases.push_back({"empty", Image{}, "no data"});
    {
        Image image;
        image.insert(0xF000, code);
        cases.push_back({"ordinary program", image, "no firmware header"});
    }
    {
        Image image = good;
        image.insert(0xFE00, bytesOf({1}));
        cases.push_back({"beyond the area", image, "0x0FE00 lies outside the firmware area"});
    }
    {
        Image image = good;
        image.insert(kFirmwareCodeStart + 100, bytesOf({1}));
        cases.push_back({"after the code", image, "outside the firmware code"});
    }
    {
        Image image = buildFirmwareImage(0x0150, "FW", std::vector<uint8_t>(100, 0x43));
        // Same header with another CRC: take the header of the first and the code of this one.
        std::vector<uint8_t> bytes(good.runs()[0].bytes.begin(), good.runs()[0].bytes.end());
        bytes.back() ^= 0x01;
        Image corrupted;
        corrupted.insert(kFirmwareHeaderAddress, bytes);
        cases.push_back({"corrupted code", corrupted, "CRC"});
    }
    {
        std::vector<uint8_t> bytes(good.runs()[0].bytes.begin(), good.runs()[0].bytes.end());
        bytes.resize(bytes.size() - 1);
        Image truncated;
        truncated.insert(kFirmwareHeaderAddress, bytes);
        cases.push_back({"missing last byte", truncated, "gap"});
    }
    {
        std::vector<uint8_t> bytes(good.runs()[0].bytes.begin(), good.runs()[0].bytes.end());
        bytes[8] = 0x5A; // version 1.5A
        Image badVersion;
        badVersion.insert(kFirmwareHeaderAddress, bytes);
        cases.push_back({"version not decimal", badVersion, "version"});
    }
    for (const auto& c : cases) {
        const FirmwareCheck check = identifyFirmware(c.image);
        EXPECT_FALSE(check.isFirmware()) << c.name;
        EXPECT_NE(check.problem.find(c.problemPart), std::string::npos)
            << c.name << ": " << check.problem;
    }
}

TEST(Firmware, AFileIsReadOnlyInsideTheFirmwareArea) {
    // A firmware image followed by scattered one-byte records far beyond the area: the
    // reader stops at the first of them instead of collecting them all.
    Image image = buildFirmwareImage(0x0156, "FW", std::vector<uint8_t>(100, 0x42));
    constexpr uint32_t kFirstStray = 0x10000;
    constexpr uint32_t kStrays = 2000;
    constexpr uint32_t kStrayStep = 7;
    for (uint32_t i = 0; i < kStrays; ++i) {
        image.insert(kFirstStray + i * kStrayStep, bytesOf({1}));
    }
    const octo::testing::TempFolder folder("firmware_bound");
    const std::string path = folder.file("SCATTER.TXT");
    {
        std::ofstream out(path, std::ios::binary);
        out << writeQxText(image);
    }
    const FirmwareFile file = readFirmwareFile(path, "SCATTER.TXT");
    ASSERT_EQ(file.problem, FirmwareFile::Problem::NotFirmware);
    ASSERT_TRUE(file.read.error);
    EXPECT_EQ(file.read.error->address, kFirstStray);
    EXPECT_NE(file.check.problem.find("0x10000 lies outside the firmware area"), std::string::npos)
        << file.check.problem;
    EXPECT_TRUE(file.image.empty());
}

// What the window and the tool tell the operator depends on it: a file that is not there,
// or is no file, cannot be opened; one too large for any object file cannot be read.
TEST(Firmware, AFileThatCannotBeOpenedIsToldApartFromOneTooLargeToRead) {
    const octo::testing::TempFolder folder("firmware_unread");
    const std::string tooLarge = folder.file("HUGE.TXT");
    std::ofstream{tooLarge};
    std::filesystem::resize_file(tooLarge, kLargestObjectFileBytes + 1); // sparse
    const struct {
        std::string path;
        FirmwareFile::Problem problem;
    } cases[] = {
        {folder.file("MISSING.TXT"), FirmwareFile::Problem::CannotOpen},
        {folder.path().string(), FirmwareFile::Problem::CannotOpen},
        {tooLarge, FirmwareFile::Problem::FileIo},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(readFirmwareFile(c.path, "F.TXT").problem, c.problem) << c.path;
    }
}

} // namespace
} // namespace octo::objfile
