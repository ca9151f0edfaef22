#include "dist_content.h"

#include "devices/ini_sections.h"
#include "objfile/firmware.h"
#include "objfile/image.h"
#include "objfile/writers.h"

#include <cstdint>

namespace octo::tools {

namespace {

using objfile::Image;

// The sections the program reads besides the device types, with the values of a first
// start: COM1 at 115200 baud, the first type of the first group, 3.0 V supplied by the
// programmer, erase, check, program and verify on, securing off, settings unlocked.
constexpr const char* kIniHead = "[Version]\r\n"
                                 "Version=1.56\r\n"
                                 "[System]\r\n"
                                 "ImageFile=\r\n"
                                 "Image2File=\r\n"
                                 "ComPort=1\r\n"
                                 "BaudRate=4\r\n"
                                 "JtagSpeed=0\r\n"
                                 "VerifyMarginal=1\r\n"
                                 "DevType=0\r\n"
                                 "DevTypeName=ZEL816 A110\r\n"
                                 "SupplyByProg=1\r\n"
                                 "EraseMain=1\r\n"
                                 "EraseInfo=1\r\n"
                                 "ErasePINFO=1\r\n"
                                 "EraseBSLSegm=0\r\n"
                                 "RestoreDCO=1\r\n"
                                 "UseDLK=1\r\n"
                                 "SupplyVoltage=30\r\n"
                                 "SwitchVccOff=1\r\n"
                                 "SettleTime=0\r\n"
                                 "Erase=1\r\n"
                                 "EraseCheck=1\r\n"
                                 "Program=1\r\n"
                                 "Verify=1\r\n"
                                 "BlowFuse=0\r\n"
                                 "ShowSettings=1\r\n"
                                 "[User]\r\n"
                                 "CaptionIndexed=0\r\n"
                                 "MaxSupplyVoltage=36\r\n"
                                 "RepeatSelftest=0\r\n"
                                 "RepeatOctoprog=0\r\n"
                                 "CreateLogFile=0\r\n"
                                 "[Timing]\r\n"
                                 "TimeSelfTest=5000\r\n"
                                 "TimeOctoProg=60000\r\n"
                                 "TimeEraseImage=1000\r\n"
                                 "TimeLoadImage=4000\r\n"
                                 "TimeLoadFirmware=2000\r\n"
                                 "TimeReadoutTarget=3000\r\n"
                                 "[Diagnostic]\r\n"
                                 "Busy=0\r\n"
                                 "Connected=0\r\n"
                                 "EraseChecked=0\r\n"
                                 "Verified=0\r\n"
                                 "FuseBlown=0\r\n"
                                 "OverAll=0\r\n"
                                 "MiscErrors=0\r\n";

constexpr uint32_t kResetVector = 0xFFFE;
constexpr uint16_t kCurrentFirmware = 0x0156;
constexpr uint16_t kOlderFirmware = 0x0150;
constexpr const char* kFirmwareName = "OCTO816 FW";
constexpr uint32_t kKiB = 1024;

// Deterministic filler: a linear congruential generator (the common 32-bit constants).
class Filler {
public:
    explicit Filler(uint32_t seed) : state_(seed) {}
    uint8_t next() {
        state_ = state_ * kMultiplier + kIncrement;
        return static_cast<uint8_t>(state_ >> kTopByteShift);
    }

private:
    static constexpr uint32_t kMultiplier = 1664525u;
    static constexpr uint32_t kIncrement = 1013904223u;
    static constexpr int kTopByteShift = 24;

    uint32_t state_;
};

std::vector<uint8_t> filled(size_t length, uint32_t seed) {
    Filler filler(seed);
    std::vector<uint8_t> bytes(length);
    for (auto& b : bytes) {
        b = filler.next();
    }
    return bytes;
}

// A program image of length bytes from start; when it reaches the reset vector, the
// vector points at start.
Image program(uint32_t start, uint32_t length, uint32_t seed) {
    std::vector<uint8_t> bytes = filled(length, seed);
    if (start <= kResetVector && kResetVector + 2 <= start + length) {
        bytes[kResetVector - start] = static_cast<uint8_t>(start);
        bytes[kResetVector - start + 1] = static_cast<uint8_t>(start >> 8);
    }
    Image image;
    image.insert(start, bytes);
    return image;
}

// A short program at the start of flash plus its vector table at the top.
Image smallProgram(uint32_t flashStart, uint32_t codeLength, uint32_t seed) {
    constexpr uint32_t kVectorTable = 0xFFE0;
    constexpr uint32_t kVectorBytes = 0x20;
    Image image;
    image.insert(flashStart, filled(codeLength, seed));
    std::vector<uint8_t> vectors(kVectorBytes);
    for (size_t i = 0; i < vectors.size(); i += 2) {
        vectors[i] = static_cast<uint8_t>(flashStart);
        vectors[i + 1] = static_cast<uint8_t>(flashStart >> 8);
    }
    image.insert(kVectorTable, vectors);
    return image;
}

Image firmware(uint16_t version, uint32_t codeLength) {
    return objfile::buildFirmwareImage(version, kFirmwareName, filled(codeLength, version));
}

// Replaces the first occurrence of from in text; the broken samples are good files with
// one fault put in.
std::string breakText(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    if (at != std::string::npos) {
        text.replace(at, from.size(), to);
    }
    return text;
}

} // namespace

std::vector<DistFile> distFiles() {
    std::vector<DistFile> files;
    files.push_back({"OCTO816.INI", std::string(kIniHead) + devices::deviceSectionsText()});

    files.push_back(
        {"OCTO816-156.TXT", objfile::writeQxText(firmware(kCurrentFirmware, 24 * kKiB))});
    files.push_back({"OCTO816-150.TXT", objfile::writeQxText(firmware(kOlderFirmware, 22 * kKiB))});
    files.push_back({"OCTO816-NOFW.TXT", objfile::writeQxText(smallProgram(0xF000, 0x200, 3))});

    const Image blink = smallProgram(0xFC00, 0xC0, 110);
    files.push_back({"samples/A110_blink.txt", objfile::writeQxText(blink)});
    files.push_back({"samples/A110_blink.hex", objfile::writeIntelHex(blink)});
    files.push_back(
        {"samples/A110_outside.txt", objfile::writeQxText(smallProgram(0xF000, 0x40, 111))});

    const Image a449 = program(0x1100, 0x10000 - 0x1100, 449);
    files.push_back({"samples/A449_full.txt", objfile::writeQxText(a449)});
    files.push_back({"samples/A449_full.hex", objfile::writeIntelHex(a449)});

    const Image a5438 = program(0x5C00, 96 * kKiB, 5438);
    files.push_back({"samples/A5438_large.txt", objfile::writeQxText(a5438)});
    files.push_back({"samples/A5438_large.hex", objfile::writeIntelHex(a5438)});

    // A pair for the two file names: main flash, then information memory.
    files.push_back(
        {"samples/B231_main.txt", objfile::writeQxText(smallProgram(0xC000, 0x800, 231))});
    files.push_back({"samples/B231_info.txt", objfile::writeQxText(program(0x1000, 0xC0, 232))});

    // A pair whose second file repeats addresses 0xF800-0xF87F of the first.
    files.push_back(
        {"samples/A413_overlap_1.hex", objfile::writeIntelHex(program(0xF000, 0x880, 413))});
    files.push_back(
        {"samples/A413_overlap_2.hex", objfile::writeIntelHex(program(0xF800, 0x800, 414))});

    const std::string brokenHex = objfile::writeIntelHex(program(0xF000, 0x100, 415));
    // Line 5's checksum byte is off by one.
    const size_t line5 = [&] {
        size_t at = 0;
        for (int i = 0; i < 4; ++i) {
            at = brokenHex.find('\n', at) + 1;
        }
        return at;
    }();
    std::string checksumFault = brokenHex;
    const size_t lastDigit = brokenHex.find('\r', line5) - 1;
    checksumFault[lastDigit] = checksumFault[lastDigit] == '0' ? '1' : '0';
    files.push_back({"samples/broken_checksum.hex", checksumFault});

    const std::string goodText = objfile::writeQxText(program(0xF000, 0x100, 416));
    files.push_back({"samples/broken_byte.txt", breakText(goodText, "\r\n", "\r\n3G ")});
    return files;
}

} // namespace octo::tools
