// The read-out target dialog: which target to read and which range, kept in ProgramState
// for as long as the program runs. OK checks the fields in order and stays open on the
// first wrong one; only a dialog closed with OK means that something is to be read.
#pragma once

#include "app/ProgramState.h"
#include "app/View.h"

#include <cstdint>
#include <string_view>

namespace octo {

// A field's text converted as an unsigned 32-bit number with automatic base (leading
// blanks, a sign, "0x" hexadecimal, "0" octal, else decimal; a negative number wraps
// around, one too large for 32 bits becomes 0xFFFFFFFF). `whole` tells whether the
// number used the whole text, which an empty text never does.
struct FieldNumber {
    uint32_t value = 0;
    bool whole = false;
};
FieldNumber convertFieldNumber(std::string_view text);

class ReadOutDialog final : public DialogHandler {
public:
    ReadOutDialog(DialogView& view, ProgramState& state) : view_(view), state_(state) {}

    bool onInitDialog() override;
    void onCommand(int id) override;

    // Reads one field into value at once, before any check, and accepts it when the whole
    // text is a number within lowest..highest; otherwise tells the operator and puts the
    // focus on the field with its text selected.
    bool parseNumberField(int id, uint32_t& value, uint32_t lowest, uint32_t highest);

private:
    void onOk();

    DialogView& view_;
    ProgramState& state_;
};

} // namespace octo
