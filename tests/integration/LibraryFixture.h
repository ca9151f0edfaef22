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
#include <string>
#include <vector>

namespace octo::testing {

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

inline const OctoHandle kLampRed = kLampTable.entry[1];
inline const OctoHandle kLampGreen = kLampTable.entry[2];
inline const OctoHandle kLampBusy = kLampTable.entry[3];

} // namespace octo::testing
