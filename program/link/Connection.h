// The serial connection through the library and the changes of COM port and baud rate.
#pragma once

#include "app/ProgramState.h"
#include "app/View.h"
#include "link/OperationBracket.h"
#include "link/ProgrammerLibrary.h"
#include "link/StatusLine.h"
#include "settings/Settings.h"

#include <array>
#include <cstdint>
#include <string>

namespace octo {

// The rows of the baud-rate list.
inline constexpr std::array<uint32_t, 5> kBaudRates = {9600, 19200, 38400, 57600, 115200};
inline constexpr int kHighestBaudIndex = static_cast<int>(kBaudRates.size()) - 1;

class Connection {
public:
    Connection(View& view, LibrarySlot& library, Settings& settings, ProgramState& state,
               StatusLine& status, OperationBracket& bracket)
        : view_(view), library_(library), settings_(settings), state_(state), status_(status),
          bracket_(bracket) {}

    // Opens the port chosen in the lists; 1 when the library opened it, else 0.
    int openConnection();
    void onComPortChanged();
    void onBaudRateChanged();

    // The port and rate last handed to the library.
    const std::string& portName() const { return comPortName_; }
    uint32_t baudRateBps() const { return baudRateBps_; }

private:
    View& view_;
    LibrarySlot& library_;
    Settings& settings_;
    ProgramState& state_;
    StatusLine& status_;
    OperationBracket& bracket_;
    std::string comPortName_ = "COM1";
    uint32_t baudRateBps_ = 115200;
};

} // namespace octo
