#include "dialogs/ReadOutDialog.h"

#include "resources/StringIds.h"
#include "resources/resource.h"

#include <cctype>
#include <cstdio>
#include <string>

namespace octo {

namespace {

// The field is read as a window text of this many characters.
constexpr std::size_t kFieldChars = 255;
constexpr uint32_t kLowestTarget = 1;
constexpr uint32_t kHighestTarget = 8;
constexpr uint32_t kLowestStart = 0x200;
constexpr uint32_t kHighestStart = 0xFFFFE;
constexpr uint32_t kLowestLength = 2;
constexpr uint32_t kHighestLength = 0xFFE00;
constexpr uint64_t kOverflow = 0xFFFFFFFF;
constexpr int kDecimal = 10;
constexpr int kOctal = 8;
constexpr int kHexadecimal = 16;

// A character's value as a digit; kHexadecimal, a digit in none of the bases, when it is
// none.
int digitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + kDecimal : kHexadecimal;
}

// An address or a length: "0x" and at least five upper-case hexadecimal digits.
std::string addressText(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%05X", static_cast<unsigned>(value));
    return text;
}

} // namespace

FieldNumber convertFieldNumber(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    int base = kDecimal;
    if (at < text.size() && text[at] == '0') {
        base = kOctal;
        // "0x" counts as the prefix only with a hexadecimal digit after it; else the 0
        // alone is the number and the x is left over.
        if (at + 2 < text.size() && (text[at + 1] == 'x' || text[at + 1] == 'X') &&
            digitValue(text[at + 2]) < kHexadecimal) {
            base = kHexadecimal;
            at += 2;
        }
    }
    const std::size_t digits = at;
    uint64_t value = 0;
    bool overflow = false;
    for (; at < text.size() && digitValue(text[at]) < base; ++at) {
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digitValue(text[at]));
        if (value > kOverflow) {
            overflow = true;
            value = kOverflow;
        }
    }
    FieldNumber number;
    if (at == digits) {
        // No digits: nothing of the text was a number.
        return number;
    }
    number.value = static_cast<uint32_t>(value);
    if (negative && !overflow) {
        number.value = static_cast<uint32_t>(0u - number.value);
    }
    number.whole = at == text.size();
    return number;
}

bool ReadOutDialog::onInitDialog() {
    view_.setText(IDC_READOUT_TARGET, std::to_string(state_.readOutTarget));
    view_.setText(IDC_READOUT_START, addressText(state_.readOutStart));
    view_.setText(IDC_READOUT_LENGTH, addressText(state_.readOutLength));
    view_.setFocus(IDC_READOUT_TARGET);
    return false;
}

void ReadOutDialog::onCommand(int id) {
    if (id == mb::kIdOk) {
        onOk();
    } else if (id == mb::kIdCancel) {
        view_.endDialog(mb::kIdCancel);
    }
}

void ReadOutDialog::onOk() {
    // The first wrong field ends the check: at most one message per press.
    uint32_t target = 0;
    if (!parseNumberField(IDC_READOUT_TARGET, target, kLowestTarget, kHighestTarget)) {
        return;
    }
    state_.readOutTarget = static_cast<int>(target);
    if (!parseNumberField(IDC_READOUT_START, state_.readOutStart, kLowestStart, kHighestStart) ||
        !parseNumberField(IDC_READOUT_LENGTH, state_.readOutLength, kLowestLength,
                          kHighestLength)) {
        return;
    }
    view_.endDialog(mb::kIdOk);
}

bool ReadOutDialog::parseNumberField(int id, uint32_t& value, uint32_t lowest, uint32_t highest) {
    const std::string text = view_.text(id).substr(0, kFieldChars);
    const FieldNumber number = convertFieldNumber(text);
    value = number.value;
    if (number.whole && value >= lowest && value <= highest) {
        return true;
    }
    view_.messageBox(view_.loadString(IDS_VALUE_OUT_OF_RANGE), state_.messageCaption,
                     mb::kOk | mb::kIconStop);
    view_.setFocus(id);
    view_.selectAll(id);
    return false;
}

} // namespace octo
