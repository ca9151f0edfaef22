// The output file's permission check and folder probe on POSIX systems.
#include "files/atomic_file.h"
#include "files/output_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace octo::files {

namespace {

// A probe name is unique to the process and the call; another file of that name is a
// leftover of a process whose id came round again: the next number is tried.
constexpr int kProbeAttempts = 8;
constexpr mode_t kProbeMode = 0600;
constexpr uid_t kRoot = 0;

bool inGroup(gid_t group) {
    if (group == ::getegid()) {
        return true;
    }
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<size_t>(count > 0 ? count : 0));
    const int got = count > 0 ? ::getgroups(count, groups.data()) : 0;
    for (int i = 0; i < got; ++i) {
        if (groups[static_cast<size_t>(i)] == group) {
            return true;
        }
    }
    return false;
}

} // namespace

bool writableByMode(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return false;
    }
    const uid_t user = ::geteuid();
    if (user == kRoot) {
        return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
    }
    if (user == info.st_uid) {
        return (info.st_mode & S_IWUSR) != 0;
    }
    return (info.st_mode & (inGroup(info.st_gid) ? S_IWGRP : S_IWOTH)) != 0;
}

bool canCreateBeside(const std::string& path) {
    for (int attempt = 0; attempt < kProbeAttempts; ++attempt) {
        const std::string probe = temporaryPathFor(path);
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kProbeMode);
        if (fd >= 0) {
            ::close(fd);
            ::unlink(probe.c_str());
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

} // namespace octo::files
