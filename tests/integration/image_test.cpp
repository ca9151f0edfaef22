// Image memory over the link: every sample file byte for byte, two files, overlaps,
// broken files, the status output of a load.
#include "LibraryFixture.h"

#include <objfile/crc32.h>
#include <objfile/load.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace octo::testing {
namespace {

class ImageTest : public SimulatedUnitTest {
protected:
    void SetUp() override {
        SimulatedUnitTest::SetUp();
        start();
        ASSERT_EQ(OctoEraseImage(), 0);
    }
    int32_t load(const std::string& sample, const std::string& type) {
        return OctoLoadImage(samplePath(sample).c_str(), type.c_str());
    }
    std::string crcText(const objfile::Image& image) {
        char text[16];
        std::snprintf(text, sizeof text, "%08X", objfile::imageCrc32(image));
        return text;
    }
};

struct SampleCase {
    const char* file;
    const char* type;
};

TEST_F(ImageTest, EverySampleArrivesByteForByte) {
    const std::vector<SampleCase> samples = {
        {"A110_blink.hex", "ZEL816 A110"},     {"A110_blink.txt", "ZEL816 A110"},
        {"A449_full.hex", "ZEL816 A449"},      {"A449_full.txt", "ZEL816 A449"},
        {"A5438_large.hex", "ZEL816 A5438"},   {"A5438_large.txt", "ZEL816 A5438"},
        {"B231_main.txt", "ZEL816 B231"},      {"B231_info.txt", "ZEL816 B231"},
        {"A413_overlap_1.hex", "ZEL816 A413"}, {"A413_overlap_2.hex", "ZEL816 A413"},
    };
    for (const auto& sample : samples) {
        SCOPED_TRACE(sample.file);
        clearRecords();
        ASSERT_EQ(load(sample.file, sample.type), 0) << lastText();
        const objfile::Image expected = imageOfFile(samplePath(sample.file));
        EXPECT_EQ(unit->state("image.0.state"), "complete");
        EXPECT_EQ(unit->state("image.0.type"), sample.type);
        EXPECT_EQ(unit->state("image.0.bytes"), std::to_string(expected.byteCount()));
        EXPECT_TRUE(unit->slot(0) == expected);
        // The operator sees size and CRC of what was loaded.
        EXPECT_EQ(lastText(), "Image loaded: " + std::to_string(expected.byteCount()) +
                                  " bytes, CRC-32 " + crcText(expected) + ".");
        EXPECT_EQ(unit->state("image.0.crc32"), "0x" + crcText(expected));
        EXPECT_EQ(lastPicture(), kLampGreen);
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.front().first, 0u);
        EXPECT_EQ(progress.back().first, progress.back().second);
        EXPECT_EQ(progress.back().second, expected.byteCount());
        // The status line says what loads, then every tenth of it up to the whole.
        const std::string loading = "Loading " + std::string(sample.file) + " ...";
        EXPECT_EQ(texts.front(), loading);
        int shown = 0;
        for (const auto& text : texts) {
            if (text.starts_with(loading + " ")) {
                const int percent = std::stoi(text.substr(loading.size() + 1));
                EXPECT_TRUE(percent > shown && percent % 10 == 0) << text;
                shown = percent;
            }
        }
        EXPECT_EQ(shown, 100);
    }
}

TEST_F(ImageTest, TwoFilesWithAppendFillOneImage) {
    ASSERT_EQ(load("B231_main.txt", "ZEL816 B231"), 0);
    ASSERT_EQ(OctoAppendImage(), 0);
    ASSERT_EQ(load("B231_info.txt", "ZEL816 B231"), 0) << lastText();
    objfile::Image expected = imageOfFile(samplePath("B231_main.txt"));
    ASSERT_FALSE(expected.merge(imageOfFile(samplePath("B231_info.txt"))));
    EXPECT_TRUE(unit->slot(0) == expected);
    EXPECT_EQ(unit->state("image.0.state"), "complete");
    EXPECT_EQ(unit->state("image.0.loads"), "2");
    EXPECT_EQ(lastText(), "Image loaded: " + std::to_string(expected.byteCount()) +
                              " bytes, CRC-32 " + crcText(expected) + ".");
}

TEST_F(ImageTest, ALoadWithoutAppendReplacesTheImage) {
    ASSERT_EQ(load("B231_main.txt", "ZEL816 B231"), 0);
    ASSERT_EQ(load("B231_info.txt", "ZEL816 B231"), 0);
    EXPECT_TRUE(unit->slot(0) == imageOfFile(samplePath("B231_info.txt")));
}

TEST_F(ImageTest, AnAppendUsedUpByARefusedLoadDoesNotCarryOverToTheNext) {
    ASSERT_EQ(load("B231_main.txt", "ZEL816 B231"), 0);
    ASSERT_EQ(OctoAppendImage(), 0);
    ASSERT_EQ(OctoLoadImage("", "ZEL816 B231"), 16);
    // A fresh load: the same file again replaces the image instead of overlapping it.
    ASSERT_EQ(load("B231_main.txt", "ZEL816 B231"), 0) << lastText();
    EXPECT_TRUE(unit->slot(0) == imageOfFile(samplePath("B231_main.txt")));
}

TEST_F(ImageTest, OverlappingSecondFileGives53AndLeavesNothingComplete) {
    ASSERT_EQ(load("A413_overlap_1.hex", "ZEL816 A413"), 0);
    ASSERT_EQ(OctoAppendImage(), 0);
    EXPECT_EQ(load("A413_overlap_2.hex", "ZEL816 A413"), 53);
    EXPECT_EQ(lastText(), "ERROR: A413_overlap_2.hex holds data at 0xF800, already specified by "
                          "the file loaded before !");
    EXPECT_EQ(lastPicture(), kLampRed);
    EXPECT_NE(unit->state("image.0.state"), "complete");
    // The append flag is used up: the next load starts a fresh image.
    ASSERT_EQ(load("A413_overlap_2.hex", "ZEL816 A413"), 0);
    EXPECT_TRUE(unit->slot(0) == imageOfFile(samplePath("A413_overlap_2.hex")));
}

struct BrokenCase {
    const char* file;
    const char* type;
    int32_t code;
    const char* mention; // what the status line must name
};

TEST_F(ImageTest, BrokenFilesGiveTheirCodeAndLineAndLeaveNothingComplete) {
    // Larger than any object file: refused before it is read.
    const std::string huge = (unit->folder() / "huge.hex").string();
    std::ofstream(huge).close();
    std::filesystem::resize_file(huge, objfile::kLargestObjectFileBytes + 1);
    const std::string empty = (unit->folder() / "empty.txt").string();
    std::ofstream(empty) << "@FC00\nq\n";
    const std::string folder = unit->folder().string();
    const std::vector<BrokenCase> cases = {
        {"broken_byte.txt", "ZEL816 A110", 11, "line "},
        {"broken_checksum.hex", "ZEL816 A110", 11, "line "},
        {"A110_outside.txt", "ZEL816 A110", 11, "F000"},
        {"no_such_file.txt", "ZEL816 A110", 15, "no_such_file.txt"},
        {huge.c_str(), "ZEL816 A110", 13, "huge.hex is too large"},
        {empty.c_str(), "ZEL816 A110", 12, "empty.txt, the file holds no data"},
        {folder.c_str(), "ZEL816 A110", 15, "is not a regular file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        // A complete image first: a failed load must not leave it standing.
        ASSERT_EQ(load("A110_blink.txt", "ZEL816 A110"), 0);
        ASSERT_EQ(unit->state("image.0.state"), "complete");
        clearRecords();
        EXPECT_EQ(load(c.file, c.type), c.code);
        EXPECT_NE(lastText().find(c.mention), std::string::npos) << lastText();
        EXPECT_EQ(lastPicture(), kLampRed);
        EXPECT_EQ(unit->state("image.0.state"), "erased");
        EXPECT_TRUE(unit->slot(0).empty());
    }
}

TEST_F(ImageTest, AnUnknownDeviceTypeIsAnArgumentError) {
    EXPECT_EQ(load("A110_blink.txt", "ZEL816 Z999"), 16);
    EXPECT_NE(lastText().find("ZEL816 Z999"), std::string::npos);
}

TEST_F(ImageTest, AFileWithIgnoredTextLoadsWithWarning17) {
    const auto path = unit->folder() / "trailing.hex";
    {
        std::ofstream out(path);
        out << ":02FC000047417A\n:00000001FF\n:02FC020023BD20\n";
    }
    EXPECT_EQ(OctoLoadImage(path.c_str(), "ZEL816 A110"), 17);
    EXPECT_NE(lastText().find("Image loaded: 2 bytes"), std::string::npos) << lastText();
    EXPECT_NE(lastText().find("line 3"), std::string::npos) << lastText();
    EXPECT_EQ(unit->state("image.0.state"), "complete");
    EXPECT_EQ(unit->state("image.0.bytes"), "2");
}

TEST_F(ImageTest, AppendAfterAFailedLoadAppendsOntoTheEmptiedSlot) {
    ASSERT_EQ(load("B231_main.txt", "ZEL816 B231"), 0);
    ASSERT_EQ(load("no_such_file.txt", "ZEL816 B231"), 15);
    ASSERT_EQ(OctoAppendImage(), 0);
    ASSERT_EQ(load("B231_info.txt", "ZEL816 B231"), 0);
    // The failed load emptied the slot, so appending onto it is appending onto nothing.
    EXPECT_TRUE(unit->slot(0) == imageOfFile(samplePath("B231_info.txt")));
}

TEST_F(ImageTest, LoadsGoToTheSelectedSlot) {
    ASSERT_EQ(OctoSelectImage(2), 0);
    ASSERT_EQ(load("A110_blink.hex", "ZEL816 A110"), 0);
    EXPECT_EQ(unit->state("image.2.state"), "complete");
    EXPECT_EQ(unit->state("image.0.state"), "erased");
    EXPECT_TRUE(unit->slot(2) == imageOfFile(samplePath("A110_blink.hex")));
    ASSERT_EQ(OctoEraseImage(), 0);
    EXPECT_EQ(unit->state("image.2.state"), "erased");
    // An append right after the erase goes onto the empty slot.
    ASSERT_EQ(OctoAppendImage(), 0);
    EXPECT_EQ(load("A110_blink.hex", "ZEL816 A110"), 0) << lastText();
}

} // namespace
} // namespace octo::testing
