// Files, versions and time for tests: a set of existing files, version strings by path and
// a clock the test moves.
#pragma once

#include "app/Platform.h"
#include "support/EventLog.h"

#include <functional>
#include <map>
#include <set>

namespace octo::testing {

class FakePlatform final : public Platform {
public:
    explicit FakePlatform(EventLog* log = nullptr) : log_(log) {}

    std::string exePath = "C:\\OCTO\\OCTO816.EXE";
    std::set<std::string> files;
    std::map<std::string, std::string> versions; // "path|name" -> value
    uint32_t now = 0;
    std::function<std::unique_ptr<ProgrammerLibrary>(const std::string&)> libraryLoader;

    std::string modulePath() const override { return exePath; }
    bool fileExists(const std::string& path) const override {
        if (log_) {
            log_->add("fileExists " + path);
        }
        return files.contains(path);
    }
    std::string fileVersionString(const std::string& path, const std::string& name) const override {
        const auto found = versions.find(path + "|" + name);
        return found == versions.end() ? "???" : found->second;
    }
    uint32_t tickCount() const override { return now; }
    void sleep(unsigned ms) override { now += ms; }
    std::unique_ptr<ProgrammerLibrary> loadProgrammerLibrary(const std::string& path) override {
        return libraryLoader ? libraryLoader(path) : nullptr;
    }

private:
    EventLog* log_;
};

} // namespace octo::testing
