// What dist/ ships: the committed files are the generator's output, the samples behave as
// their names promise, and the firmware files identify themselves.
#include "devices/device_table.h"
#include "dist_content.h"
#include "objfile/firmware.h"
#include "objfile/load.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace octo {
namespace {

std::string readDistFile(const std::string& name) {
    std::ifstream in(std::string(OCTO_DIST_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(Dist, CommittedFilesAreTheGeneratedOnes) {
    for (const auto& file : tools::distFiles()) {
        EXPECT_TRUE(readDistFile(file.path) == file.content)
            << "dist/" << file.path << " is stale: run octo_gendist dist";
    }
}

// Loads the files in order into one image for the type, as Load Image(s) does.
objfile::ReadResult loadFor(const char* typeName, std::initializer_list<const char*> files,
                            objfile::Image& image) {
    const devices::DeviceType* type = devices::findDeviceType(typeName);
    EXPECT_NE(type, nullptr) << typeName;
    objfile::LoadOptions options;
    options.segments = devices::usedSegments(*type);
    objfile::ReadResult result;
    for (const char* file : files) {
        result = objfile::loadObjectFile(file, readDistFile(file), image, options);
        if (!result.ok()) {
            break;
        }
    }
    return result;
}

TEST(Dist, SamplesLoadForTheirTypesOrFailAsIntended) {
    struct Case {
        const char* type;
        std::initializer_list<const char*> files;
        objfile::ResultCode code;
        uint32_t line;
    };
    using objfile::ResultCode;
    const Case cases[] = {
        {"ZEL816 A110", {"samples/A110_blink.txt"}, ResultCode::Ok, 0},
        {"ZEL816 A110", {"samples/A110_blink.hex"}, ResultCode::Ok, 0},
        {"ZEL816 A110", {"samples/A110_outside.txt"}, ResultCode::InvalidRecord, 2},
        {"ZEL816 A449", {"samples/A449_full.txt"}, ResultCode::Ok, 0},
        {"ZEL816 A449", {"samples/A449_full.hex"}, ResultCode::Ok, 0},
        {"ZEL816 A5438", {"samples/A5438_large.txt"}, ResultCode::Ok, 0},
        {"ZEL816 A5438", {"samples/A5438_large.hex"}, ResultCode::Ok, 0},
        {"ZEL816 B231", {"samples/B231_main.txt", "samples/B231_info.txt"}, ResultCode::Ok, 0},
        {"ZEL816 A413",
         {"samples/A413_overlap_1.hex", "samples/A413_overlap_2.hex"},
         ResultCode::DataAlreadySpecified,
         1},
        {"ZEL816 A413", {"samples/broken_checksum.hex"}, ResultCode::InvalidRecord, 5},
        {"ZEL816 A413", {"samples/broken_byte.txt"}, ResultCode::InvalidRecord, 2},
    };
    for (const auto& c : cases) {
        objfile::Image image;
        const objfile::ReadResult result = loadFor(c.type, c.files, image);
        EXPECT_EQ(result.code(), c.code)
            << *c.files.begin() << (result.error ? ": " + result.error->describe() : "");
        if (result.error) {
            EXPECT_EQ(result.error->line, c.line) << *c.files.begin();
        }
    }

    // Both forms of a sample hold the same image.
    for (const auto& [type, base] : {std::pair{"ZEL816 A110", "samples/A110_blink"},
                                     std::pair{"ZEL816 A449", "samples/A449_full"},
                                     std::pair{"ZEL816 A5438", "samples/A5438_large"}}) {
        objfile::Image fromText;
        objfile::Image fromHex;
        ASSERT_TRUE(loadFor(type, {(std::string(base) + ".txt").c_str()}, fromText).ok());
        ASSERT_TRUE(loadFor(type, {(std::string(base) + ".hex").c_str()}, fromHex).ok());
        EXPECT_EQ(fromText, fromHex) << base;
        EXPECT_GT(fromText.byteCount(), 0u);
    }
}

TEST(Dist, FirmwareFilesNameTheirVersion) {
    struct Case {
        const char* file;
        std::optional<uint16_t> version;
    };
    const Case cases[] = {{"OCTO816-156.TXT", 0x0156},
                          {"OCTO816-150.TXT", 0x0150},
                          {"OCTO816-NOFW.TXT", std::nullopt}};
    for (const auto& c : cases) {
        objfile::Image image;
        ASSERT_EQ(objfile::loadObjectFile(c.file, readDistFile(c.file), image).code(),
                  objfile::ResultCode::Ok)
            << c.file;
        const objfile::FirmwareCheck check = objfile::identifyFirmware(image);
        ASSERT_EQ(check.isFirmware(), c.version.has_value()) << c.file << ": " << check.problem;
        if (c.version) {
            EXPECT_EQ(check.info->version, *c.version) << c.file;
        }
    }
}

} // namespace
} // namespace octo
