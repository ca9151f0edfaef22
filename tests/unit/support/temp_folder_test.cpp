// The test folder's removal: everything inside goes, whatever rights a test left on it,
// and nothing a link inside points to changes.
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace octo::testing {
namespace {

namespace fs = std::filesystem;

unsigned modeOf(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Outside the folder under test: a file and folders with rights a removal could be tempted
// to widen, the way a link to /dev/null was widened to the owner's rights alone.
struct Outside {
    TempFolder root{"octo_outside"};
    fs::path file = root.path() / "read-only.txt";
    fs::path folder = root.path() / "locked";
    fs::path nested = root.path() / "locked" / "inner";
    fs::path nestedFile = root.path() / "locked" / "inner" / "kept.txt";

    Outside() {
        std::ofstream(file) << "outside";
        fs::create_directories(nested);
        std::ofstream(nestedFile) << "kept";
        ::chmod(file.c_str(), 0444);
        ::chmod(nested.c_str(), 0500);
        ::chmod(folder.c_str(), 0555);
    }
    ~Outside() {
        ::chmod(folder.c_str(), 0700);
        ::chmod(nested.c_str(), 0700);
    }
};

TEST(TempFolderTest, RemovesEverythingInsideAndChangesNothingALinkPointsTo) {
    Outside outside;
    // What a test leaves in the folder: files and folders with any rights, and links.
    enum class Kind { File, Folder, Link };
    struct Entry {
        const char* name;
        Kind kind;
        unsigned mode;   // for a file or a folder
        fs::path linkTo; // for a link
    };
    const Entry entries[] = {
        {"read-only.txt", Kind::File, 0400, {}},
        {"no-rights.txt", Kind::File, 0000, {}},
        {"read-only-folder", Kind::Folder, 0500, {}},
        {"no-rights-folder", Kind::Folder, 0000, {}},
        {"to-file", Kind::Link, 0, outside.file},
        {"to-folder", Kind::Link, 0, outside.folder},
        {"to-nested-folder", Kind::Link, 0, outside.nested},
        {"dangling", Kind::Link, 0, outside.root.path() / "missing"},
    };
    fs::path removed;
    {
        TempFolder folder("octo_temp_folder");
        removed = folder.path();
        for (const auto& e : entries) {
            const fs::path path = folder.path() / e.name;
            switch (e.kind) {
            case Kind::Link:
                fs::create_symlink(e.linkTo, path);
                break;
            case Kind::Folder:
                fs::create_directories(path / "sub");
                std::ofstream(path / "sub" / "file.txt") << "inside";
                ::chmod((path / "sub").c_str(), 0500);
                ::chmod(path.c_str(), e.mode);
                break;
            case Kind::File:
                std::ofstream(path) << "inside";
                ::chmod(path.c_str(), e.mode);
                break;
            }
        }
        ::chmod(folder.path().c_str(), 0500);
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(removed)));
    EXPECT_EQ(modeOf(outside.file), 0444u);
    EXPECT_EQ(modeOf(outside.folder), 0555u);
    EXPECT_EQ(modeOf(outside.nested), 0500u);
    EXPECT_TRUE(fs::exists(outside.nestedFile));
}

} // namespace
} // namespace octo::testing
