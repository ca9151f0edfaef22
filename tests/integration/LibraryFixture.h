// The native library as the program uses it, with its status output and message pump
// recorded through the native hooks.
#pragma once

#include "SimulatedUnit.h"

#include <api/NativeHooks.h>
#include <octo816.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace octo::testing {

// The unit's rate after power-on; the tests open the line at it.
inline constexpr uint32_t kRate = 115200;

// Stand-ins for the window handles the program hands over.
inline OctoHandle fakeHandle(uintptr_t value) {
    return reinterpret_cast<OctoHandle>(value);
}
inline const OctoHandle kStatusLine = fakeHandle(0x1001);
inline const OctoHandle kProgressBar = fakeHandle(0x1000);
inline const OctoHandle kLampControl = fakeHandle(0x1068);
inline const OctoStatusLampTable kLampTable = {
    {kLampControl, fakeHandle(138), fakeHandle(139), fakeHandle(143), fakeHandle(140)}};

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        library::NativeHooks hooks;
        hooks.pump = [this] {
            ++pumps;
            if (onPump) {
                onPump();
            }
        };
        hooks.text = [this](OctoHandle window, const std::string& text) {
            EXPECT_EQ(window, kStatusLine);
            texts.push_back(text);
        };
        hooks.progress = [this](OctoHandle bar, uint32_t position, uint32_t range) {
            EXPECT_EQ(bar, kProgressBar);
            EXPECT_LE(position, range);
            progress.emplace_back(position, range);
        };
        hooks.picture = [this](OctoHandle lamp, OctoHandle picture) {
            EXPECT_EQ(lamp, kLampControl);
            pictures.push_back(picture);
        };
        library::setNativeHooks(hooks);
        ASSERT_EQ(InitProgress(kStatusLine, kProgressBar), 0);
        ASSERT_EQ(InitStatusLamp(&kLampTable), 0);
    }

    void TearDown() override {
        ReleaseCom();
        library::setNativeHooks({});
    }

    std::string lastText() const { return texts.empty() ? std::string() : texts.back(); }
    OctoHandle lastPicture() const { return pictures.empty() ? nullptr : pictures.back(); }
    void clearRecords() {
        texts.clear();
        pictures.clear();
        progress.clear();
        pumps = 0;
    }

    std::vector<std::string> texts;
    std::vector<OctoHandle> pictures;
    std::vector<std::pair<uint32_t, uint32_t>> progress;
    int pumps = 0;
    std::function<void()> onPump;
};

// A big-endian word of the result block: the version words at 8, 10 and 30.
inline uint16_t blockWord(std::span<const uint8_t> block, size_t offset) {
    return static_cast<uint16_t>(block[offset] << 8 | block[offset + 1]);
}

// A library test with a simulated unit of its own, started by the test.
class SimulatedUnitTest : public LibraryTest {
protected:
    // Starts the unit with these scenario settings and opens the line to it.
    void start(const std::vector<std::string>& settings = {}) {
        unit = std::make_unique<SimulatedUnit>(settings);
        ASSERT_EQ(InitCom(unit->link().c_str(), kRate), 0);
    }
    void TearDown() override {
        LibraryTest::TearDown();
        unit.reset();
    }

    std::unique_ptr<SimulatedUnit> unit;
};

inline const OctoHandle kLampRed = kLampTable.entry[1];
inline const OctoHandle kLampGreen = kLampTable.entry[2];
inline const OctoHandle kLampBusy = kLampTable.entry[3];

} // namespace octo::testing
