// The native build's stand-ins for window handles: the calls the library would make on
// the status line, progress bar and lamp, and the message pump, go to these hooks.
#pragma once

#include <octo816.h>

#include "protocol/Client.h"

#include <cstdint>
#include <functional>
#include <string>

namespace octo::library {

struct NativeHooks {
    std::function<void()> pump;
    std::function<void(OctoHandle window, const std::string& text)> text;
    std::function<void(OctoHandle bar, uint32_t position, uint32_t range)> progress;
    std::function<void(OctoHandle lamp, OctoHandle picture)> picture;
};

void setNativeHooks(NativeHooks hooks);

// The link's counters since the port was last opened (for tests and benchmarks).
protocol::LinkStats linkStats();

} // namespace octo::library
