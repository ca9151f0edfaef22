// The test folder's removal: everything inside goes, whatever rights a test left on it,
// and nothing a link inside points to changes.
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Fills a folder as a test may leave it, lets it go, and says what went wrong: one line for
// each entry left behind or each thing outside that changed; empty when nothing did.
std::string removalProblems() {
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
    std::string problems;
    const auto expect = [&](bool holds, const std::string& what) {
        if (!holds) {
            problems += what + "\n";
        }
    };
    expect(!fs::exists(fs::symlink_status(removed)), "the folder is left");
    expect(modeOf(outside.file) == 0444, "the file a link points to changed its rights");
    expect(modeOf(outside.folder) == 0555, "the folder a link points to changed its rights");
    expect(modeOf(outside.nested) == 0500, "a folder inside a linked folder changed its rights");
    expect(fs::exists(outside.nestedFile), "a file inside a linked folder is gone");
    return problems;
}

TEST(TempFolderTest, RemovesEverythingInsideAndChangesNothingALinkPointsTo) {
    EXPECT_EQ(removalProblems(), "");
    // Rights stop no one running as root: the removal is made again by a user they stop.
    if (::geteuid() != 0) {
        return;
    }
    int answer[2];
    ASSERT_EQ(::pipe(answer), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(answer[0]);
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody || ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) {
            ::_exit(2);
        }
        const std::string problems = removalProblems();
        const bool written = ::write(answer[1], problems.data(), problems.size()) ==
                             static_cast<ssize_t>(problems.size());
        ::_exit(written ? 0 : 3);
    }
    ::close(answer[1]);
    std::string problems;
    char chunk[256];
    for (ssize_t got; (got = ::read(answer[0], chunk, sizeof chunk)) > 0;) {
        problems.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(answer[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(problems, "") << "as an unprivileged user";
}

} // namespace
} // namespace octo::testing
