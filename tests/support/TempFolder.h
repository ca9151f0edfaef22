// A folder of its own under the system's temporary folder, for a test's files; removed
// with everything in it (read-only files and folders too) when the object goes. Nothing
// outside the folder is ever changed: links inside it are removed, never followed.
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
        openFolders(path_);
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
    // Removing an entry needs the rights on the folder that holds it, not on the entry: a
    // test may have taken them from a folder, so every real folder in the tree (the root
    // included) gets its owner's rights back before the removal. Only the entry itself is
    // looked at (lstat): a link is neither followed nor changed, whatever it points to.
    static void openFolders(const std::filesystem::path& folder) {
        namespace fs = std::filesystem;
        std::error_code ec;
        if (fs::symlink_status(folder, ec).type() != fs::file_type::directory) {
            return;
        }
        fs::permissions(folder, fs::perms::owner_all,
                        fs::perm_options::add | fs::perm_options::nofollow, ec);
        for (const auto& entry : fs::directory_iterator(folder, ec)) {
            if (entry.symlink_status(ec).type() == fs::file_type::directory) {
                openFolders(entry.path());
            }
        }
    }

    std::filesystem::path path_;
};

} // namespace octo::testing
