// What the library needs from the process it runs in: a message pump for its waits and
// the status line, progress bar and lamp the caller handed over.
#pragma once

#include <octo816.h>

#include <cstdint>
#include <string>

namespace octo::library {

class Host {
public:
    virtual ~Host() = default;
    // Serves the caller's pending window messages, so its timers tick and its buttons
    // respond while a call waits for the unit.
    virtual void pumpMessages() = 0;
    virtual void setText(OctoHandle window, const std::string& text) = 0;
    virtual void setProgress(OctoHandle bar, uint32_t position, uint32_t range) = 0;
    virtual void setPicture(OctoHandle lamp, OctoHandle picture) = 0;
};

// The platform's host: window messages on Windows, the native hooks elsewhere.
Host& platformHost();

} // namespace octo::library
