#include "files/output_file.h"

#include <filesystem>

namespace octo::files {

namespace {

namespace fs = std::filesystem;

// As many links as a POSIX system follows before it calls them a loop.
constexpr int kMostLinks = 40;

} // namespace

std::optional<std::string> followLinks(const std::string& path) {
    fs::path at = path;
    for (int i = 0; i < kMostLinks; ++i) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(at, error))) {
            return at.string();
        }
        const fs::path target = fs::read_symlink(at, error);
        if (error) {
            return std::nullopt;
        }
        at = target.is_absolute() ? target : at.parent_path() / target;
    }
    return std::nullopt;
}

OutputTarget checkOutputFile(const std::string& path) {
    if (path.empty()) {
        return {OutputCheck::EmptyPath, path};
    }
    const std::optional<std::string> target = followLinks(path);
    if (!target) {
        return {OutputCheck::NotRegular, path};
    }
    std::error_code error;
    switch (fs::status(*target, error).type()) {
    case fs::file_type::not_found:
        return {canCreateBeside(*target) ? OutputCheck::Writable : OutputCheck::CannotCreate,
                *target};
    case fs::file_type::directory:
        return {OutputCheck::Directory, *target};
    case fs::file_type::regular:
        break;
    case fs::file_type::none:
        return {OutputCheck::CannotCreate, *target};
    default:
        return {OutputCheck::NotRegular, *target};
    }
    if (!writableByMode(*target)) {
        return {OutputCheck::ReadOnly, *target};
    }
    // The file is replaced through a new file beside it.
    return {canCreateBeside(*target) ? OutputCheck::Writable : OutputCheck::CannotCreate, *target};
}

} // namespace octo::files
