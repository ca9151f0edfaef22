// A folder of its own under the system's temporary folder, for a test's files; removed
// with everything in it (read-only files too) when the object goes.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace octo::testing {

class TempFolder {
public:
    explicit TempFolder(const std::string& prefix) {
        static int counter = 0;
        path_ = std::filesystem::temp_directory_path() /
                (prefix + "_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(path_, ec)) {
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all, ec);
        }
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    // The names in the folder, in no particular order.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

private:
    std::filesystem::path path_;
};

} // namespace octo::testing
