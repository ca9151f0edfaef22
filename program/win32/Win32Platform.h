// Process and file services on Win32.
#pragma once

#include "app/Platform.h"

namespace octo {

class Win32Platform final : public Platform {
public:
    std::string modulePath() const override;
    bool fileExists(const std::string& path) const override;
    std::string fileVersionString(const std::string& path,
                                  const std::string& name) const override;
    uint32_t tickCount() const override;
    void sleep(unsigned ms) override;
    std::unique_ptr<ProgrammerLibrary> loadProgrammerLibrary(const std::string& path) override;
};

} // namespace octo
