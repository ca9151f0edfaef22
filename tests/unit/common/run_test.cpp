// What the window and the command-line programmer share for a run: a type's memory counted
// from its segment table, the estimate's use of it, the time-out the unit is given and the
// image files read before the unit is touched.
#include "objfile/load.h"
#include "run/image_files.h"
#include "run/programming.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace octo::run {
namespace {

TEST(MemoryWords, EachKindCountsInItsOwnSumUpToTheEndRow) {
    const struct {
        const char* name;
        std::vector<OctoSegmentEntry> table;
        MemoryWords words;
    } cases[] = {
        {"flash, info, protected info, boot loader; RAM and DCO not",
         {{OCTO_SEGMENT_RAM, 0x200, 0x800},
          {OCTO_SEGMENT_FLASH, 0x8000, 0x8000},
          {OCTO_SEGMENT_INFO, 0x1000, 0x80},
          {OCTO_SEGMENT_PROTECTED_INFO, 0x10C0, 0x40},
          {OCTO_SEGMENT_DCO, 0x10F8, 8},
          {OCTO_SEGMENT_BSL, 0xC00, 0x400},
          {OCTO_SEGMENT_END, 0, 0}},
         {0x4000, 0x60, 0x200}},
        {"flags above the kind's 16 bits",
         {{0x10000 | OCTO_SEGMENT_FLASH, 0x8000, 0x100}, {OCTO_SEGMENT_END, 0, 0}},
         {0x80, 0, 0}},
        {"nothing after the end row",
         {{OCTO_SEGMENT_FLASH, 0x8000, 0x100},
          {OCTO_SEGMENT_END, 0, 0},
          {OCTO_SEGMENT_FLASH, 0, 0x100}},
         {0x80, 0, 0}},
        // The window keeps the information memory in 16 bits.
        {"information bytes wrap at 64 KiB",
         {{OCTO_SEGMENT_INFO, 0, 0xFFFE}, {OCTO_SEGMENT_INFO, 0, 4}, {OCTO_SEGMENT_END, 0, 0}},
         {0, 1, 0}},
    };
    for (const auto& c : cases) {
        const MemoryWords words = memoryWords(c.table);
        EXPECT_EQ(words.flash, c.words.flash) << c.name;
        EXPECT_EQ(words.info, c.words.info) << c.name;
        EXPECT_EQ(words.bsl, c.words.bsl) << c.name;
    }
}

// A choice names only what it sets: everything else is off.
TEST(RecordOptions, ARecordNeedsTheProgramBitsAndTheEraseBitOfEveryMemoryItTouches) {
    constexpr uint32_t kProgram = 0x98;
    constexpr uint32_t kInfo = 0x1;
    constexpr uint32_t kMain = 0x2;
    const std::vector<OctoSegmentEntry> table = {{OCTO_SEGMENT_RAM, 0x200, 0x100},
                                                 {OCTO_SEGMENT_INFO, 0x1000, 0xC0},
                                                 {OCTO_SEGMENT_PROTECTED_INFO, 0x10C0, 0x40},
                                                 {0x10000 | OCTO_SEGMENT_FLASH, 0x1100, 0x100},
                                                 {OCTO_SEGMENT_END, 0, 0},
                                                 {OCTO_SEGMENT_FLASH, 0x200, 0x100}};
    const struct {
        const char* name;
        uint32_t address, length, options;
    } cases[] = {
        {"first byte of the information memory", 0x1000, 1, kProgram | kInfo},
        {"last byte of the information memory", 0x10BF, 1, kProgram | kInfo},
        {"the protected segment after it", 0x10C0, 4, kProgram},
        {"ending just before main memory", 0x10FC, 4, kProgram},
        {"one byte into main memory", 0x10FD, 4, kProgram | kMain},
        {"from the information memory across into main memory", 0x10BE, 0x44,
         kProgram | kInfo | kMain},
        {"last byte of main memory", 0x11FF, 1, kProgram | kMain},
        {"just past it", 0x1200, 1, kProgram},
        {"RAM, and a row after the end row", 0x200, 4, kProgram},
        {"just below the information memory", 0xFFC, 4, kProgram},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(recordOptions(table, c.address, c.length), c.options) << c.name;
    }
}

TEST(EstimatedRunMs, NothingChosenCostsTheBaseAndOnlyWholeKibOfEveryMemoryCount) {
    EXPECT_EQ(estimatedRunMs(ProgrammingChoice{}, {.flash = 512, .info = 0, .bsl = 0}, 0), 1210u);
    EXPECT_EQ(programmingParameters(ProgrammingChoice{}, true, 0),
              (ProgrammingParameters{.options = 0, .targetVcc = 0, .settleMs = 200}));
    EXPECT_EQ(programmingParameters({.erase = 1, .eraseCheck = 1}, true, 0).options, 0u)
        << "erase and check without an area";
    const ProgrammingChoice program{.program = 1};
    // 1 KiB of flash and 1 KiB of information memory: 2 KiB programmed.
    EXPECT_EQ(estimatedRunMs(program, {.flash = 512, .info = 512, .bsl = 0}, 0), 1210u + 115 * 2);
    // A KiB less one word is no KiB, whichever memory it is.
    EXPECT_EQ(estimatedRunMs(program, {.flash = 511}, 0), 1210u);
    EXPECT_EQ(estimatedRunMs(program, {.info = 511}, 0), 1210u);
}

TEST(AskedSteps, TheLettersOfTheChosenStepsInTheRunsOrder) {
    EXPECT_EQ(askedSteps({}), "");
    EXPECT_EQ(askedSteps({.erase = 1, .eraseCheck = 1, .program = 1, .verify = 1, .secure = 1}),
              "ecpvs");
    EXPECT_EQ(askedSteps({.eraseCheck = 1, .verify = 1, .verifyMarginal = 1}), "cv");
}

TEST(Sockets, ATextOfNumbersAndRangesNamesSocketsAndAnythingElseNamesNone) {
    const struct {
        const char* text;
        std::optional<uint8_t> sockets;
        const char* written; // as socketsText gives them back
    } cases[] = {
        {"1-8", 0xFF, "1-8"},
        {"1-6,8", 0xBF, "1-6,8"},
        {" 8 , 1 - 2 ", 0x83, "1,2,8"},
        {"3", 0x04, "3"},
        {"2,2-3", 0x06, "2,3"},
        {"5-7", 0x70, "5-7"},
        {"", std::nullopt, ""},
        {" ", std::nullopt, ""},
        {"0", std::nullopt, ""},
        {"9", std::nullopt, ""},
        {"4-2", std::nullopt, ""},
        {"1,", std::nullopt, ""},
        {",1", std::nullopt, ""},
        {"1-", std::nullopt, ""},
        {"1--3", std::nullopt, ""},
        {"12", std::nullopt, ""},
        {"1;2", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseSockets(c.text), c.sockets) << '"' << c.text << '"';
        if (c.sockets) {
            EXPECT_EQ(socketsText(*c.sockets), c.written) << c.text;
            EXPECT_EQ(parseSockets(socketsText(*c.sockets)), c.sockets) << c.text;
        }
    }
}

TEST(LibraryTimeout, TheUnitGetsFiveSecondsBeyondTheEstimateInTenthsOfASecond) {
    EXPECT_EQ(libraryTimeout(0), 50u);
    EXPECT_EQ(libraryTimeout(2711), 77u);
}

TEST(ImageFiles, TheImageCrcIsTheDataOfAllFilesInAnyFormatAndTheFirstBadFileStops) {
    const testing::TempFolder folder("octo_run");
    const std::string hex = folder.file("a.hex");
    const std::string text = folder.file("b.txt");
    const std::string more = folder.file("c.txt");
    const std::string missing = folder.file("missing.txt");
    const std::string empty = folder.file("empty.txt");
    std::ofstream(empty) << "@F000\nq\n";
    std::ofstream(hex) << ":02F00000AABBA9\n:00000001FF\n";
    std::ofstream(text) << "@F000\nAA BB\nq\n";
    std::ofstream(more) << "@F002\nCC\nq\n";
    const OctoSegmentEntry segments[] = {{OCTO_SEGMENT_FLASH, 0xF000, 0x1000},
                                         {OCTO_SEGMENT_END, 0, 0}};
    const auto read = [&](std::vector<std::string> paths) {
        return readImageFiles(paths, segments);
    };

    const ImageFiles asHex = read({hex});
    const ImageFiles asText = read({text});
    ASSERT_TRUE(asHex.ok() && asText.ok());
    EXPECT_EQ(asHex.imageCrc32, asText.imageCrc32);
    EXPECT_NE(asHex.files[0].crc32, asText.files[0].crc32);
    EXPECT_EQ(asText.files[0].bytes, 14u);
    EXPECT_EQ(asText.files[0].crc32, 0x845BB396u); // the standard CRC-32 of the file's bytes
    const ImageFiles both = read({text, more});
    ASSERT_EQ(both.files.size(), 2u);
    EXPECT_EQ(both.imageBytes, 3u);
    EXPECT_NE(both.imageCrc32, asText.imageCrc32);

    const struct {
        std::vector<std::string> paths;
        std::string failed;
        objfile::ResultCode code;
    } failures[] = {
        {{text, missing}, missing, objfile::ResultCode::CannotOpen},
        {{text, hex}, hex, objfile::ResultCode::DataAlreadySpecified},
        {{text, empty}, empty, objfile::ResultCode::UnexpectedEnd},
        {{folder.path().string()}, folder.path().string(), objfile::ResultCode::CannotOpen},
    };
    for (const auto& f : failures) {
        const ImageFiles files = read(f.paths);
        EXPECT_EQ(files.failedPath, f.failed);
        EXPECT_EQ(files.imageBytes, 0u) << f.failed;
        ASSERT_TRUE(files.read.error.has_value()) << f.failed;
        EXPECT_EQ(files.read.error->code, f.code) << f.failed;
    }
}

TEST(ImageFiles, AFileOfTheLargestSizeIsReadAndOneByteMoreIsNot) {
    const testing::TempFolder folder("octo_run");
    const std::string path = folder.file("big.txt");
    const std::string object = "@F000\nAA\nq\n";
    const OctoSegmentEntry segments[] = {{OCTO_SEGMENT_FLASH, 0xF000, 0x1000},
                                         {OCTO_SEGMENT_END, 0, 0}};
    for (const uint64_t size :
         {objfile::kLargestObjectFileBytes, objfile::kLargestObjectFileBytes + 1}) {
        // What follows the end mark is not read as data.
        std::ofstream(path, std::ios::binary) << object << std::string(size - object.size(), ' ');
        const ImageFiles files = readImageFiles(std::vector<std::string>{path}, segments);
        EXPECT_EQ(files.ok(), size == objfile::kLargestObjectFileBytes) << size;
    }
}

} // namespace
} // namespace octo::run
