// Process and file services the program needs from the operating system.
#pragma once

#include "link/ProgrammerLibrary.h"

#include <cstdint>
#include <memory>
#include <string>

namespace octo {

class Platform {
public:
    virtual ~Platform() = default;
    // Full path of the running executable.
    virtual std::string modulePath() const = 0;
    // True when the file's status can be obtained.
    virtual bool fileExists(const std::string& path) const = 0;
    // A string value of the file's version resource (language 0x0409, code page 0x04B0);
    // "???" when the file has none or the value is missing.
    virtual std::string fileVersionString(const std::string& path,
                                          const std::string& name) const = 0;
    virtual uint32_t tickCount() const = 0;
    virtual void sleep(unsigned ms) = 0;
    // Loads the Programmer library from path; null when it cannot be loaded or lacks one
    // of its functions.
    virtual std::unique_ptr<ProgrammerLibrary> loadProgrammerLibrary(const std::string& path) = 0;
};

} // namespace octo
