#include "link/ResultGrid.h"

#include "settings/ConfigKeys.h"

#include <string>

namespace octo {

namespace {

constexpr int kStatusLampControl = 0;
constexpr int kFirstStatusPicture = kStatusLampRed;
constexpr int kLastStatusPicture = kStatusLampGrey;

// Bitmaps of the status lamp table, entries 1 to 4.
constexpr std::array kStatusPictures = {IDB_LAMP_RED, IDB_LAMP_GREEN_TICK, IDB_LAMP_INFO,
                                        IDB_LAMP_GREY};

bool bitSet(std::span<const uint8_t> block, int byte, int target) {
    return (block[byte] & (1u << target)) != 0;
}

} // namespace

std::array<bool, kResultRows> addressedRows(bool eraseCheck, bool verify, bool blowFuse) {
    return {true, eraseCheck, verify, blowFuse, true};
}

LampState resultLampState(std::span<const uint8_t> block,
                          const std::array<bool, kResultRows>& addressed, bool afterRun, int row,
                          int target) {
    const bool locked =
        bitSet(block, kFuseBlownByte, target) && !bitSet(block, kOverAllByte, target);
    const LampState byBit = bitSet(block, row, target) ? LampState::On : LampState::Off;
    if (afterRun && bitSet(block, kConnectedByte, target) && addressed[row]) {
        const bool hiddenByLock = locked && (row == kEraseCheckedByte || row == kVerifiedByte);
        return hiddenByLock ? LampState::Grey : byBit;
    }
    const bool shownByLock = locked && (row == kConnectedByte || row == kFuseBlownByte);
    return shownByLock ? byBit : LampState::Grey;
}

int resultLampBitmap(int row, LampState state) {
    switch (state) {
    case LampState::On:
        return row == kOverAllByte ? IDB_LAMP_GREEN_TICK : IDB_LAMP_WHITE_TICK;
    case LampState::Off:
        return row == kOverAllByte ? IDB_LAMP_RED : IDB_LAMP_WHITE;
    case LampState::Grey:
        break;
    }
    return IDB_LAMP_GREY;
}

int ResultGrid::showResult(bool afterRun) {
    auto& block = state_.runResult;
    // Before an operation nothing is known: without the fuse byte no target counts as
    // locked, so every lamp turns grey.
    if (!afterRun) {
        block[kFuseBlownByte] = 0;
    }
    const auto addressed =
        addressedRows(settings_.eraseCheck != 0, settings_.verify != 0, settings_.blowFuse != 0);
    for (int row = 0; row < kResultRows; ++row) {
        for (int target = 0; target < kResultTargets; ++target) {
            const LampState lamp = resultLampState(block, addressed, afterRun, row, target);
            view_.setLamp(resultLampId(row, target), resultLampBitmap(row, lamp));
        }
    }
    writeDiagnostic();
    return block[kMiscErrorsByte];
}

void ResultGrid::fillStatusLampTable() {
    auto& table = state_.statusLampTable;
    table.entry[kStatusLampControl] = view_.controlHandle(IDC_STATUS_LAMP);
    for (int entry = kFirstStatusPicture; entry <= kLastStatusPicture; ++entry) {
        table.entry[entry] = view_.bitmapHandle(kStatusPictures[entry - kFirstStatusPicture]);
    }
}

void ResultGrid::initStatusLamp() {
    fillStatusLampTable();
    library_->initStatusLamp(&state_.statusLampTable);
}

void ResultGrid::setStatusLamp(int entry) {
    if (entry < kFirstStatusPicture || entry > kLastStatusPicture) {
        return;
    }
    const auto& table = state_.statusLampTable;
    view_.setPicture(table.entry[kStatusLampControl], table.entry[entry]);
}

void ResultGrid::writeDiagnostic() {
    // For observers outside the program; nothing reads the keys back, and a failed write
    // changes nothing on the screen.
    std::array<ProfileValue, kDiagnosticKeys.size()> values;
    for (std::size_t byte = 0; byte < kDiagnosticKeys.size(); ++byte) {
        values[byte] = {kDiagnosticKeys[byte], std::to_string(state_.runResult[byte])};
    }
    profile_.writeValues(ini::kDiagnostic, values);
}

} // namespace octo
