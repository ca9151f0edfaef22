// The atomic replace on POSIX: open + write + fsync + rename, then fsync of the folder,
// because the rename itself reaches the disk only with its folder.
#include "files/atomic_file.h"
#include "files/atomic_file_platform.h"
#include "files/output_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace octo::files {

namespace {

// A new file gets what the umask leaves of read and write for everyone, as with fopen.
constexpr mode_t kNewFileMode = 0666;
constexpr mode_t kPermissionBits = 07777;

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(put));
    }
    return true;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

void syncFolderOf(const std::string& path) {
    const int dir = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

} // namespace

unsigned long currentProcessId() {
    return static_cast<unsigned long>(::getpid());
}

bool processRunning(unsigned long process) {
    // A process of another user exists as well, though it may not be signalled.
    return ::kill(static_cast<pid_t>(process), 0) == 0 || errno == EPERM;
}

std::vector<FolderEntry> filesBeside(const std::string& path) {
    std::vector<FolderEntry> entries;
    const std::string folder = folderOf(path);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        return entries;
    }
    const std::time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        FolderEntry file{folder + "/" + entry->d_name, entry->d_name};
        struct stat st {};
        if (::lstat(file.path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            file.ageSeconds = static_cast<long long>(now - st.st_mtime);
            entries.push_back(std::move(file));
        }
    }
    ::closedir(dir);
    return entries;
}

bool removeFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

ReplaceResult replaceFile(const std::string& link, std::string_view bytes, Durability durability) {
    const bool flush = durability == Durability::PowerLoss;
    // A symbolic link stays and the file it leads to is replaced.
    const std::optional<std::string> target = followLinks(link);
    if (!target) {
        return ReplaceResult::CannotCreate;
    }
    const std::string& path = *target;
    struct stat original {};
    const bool existed = ::stat(path.c_str(), &original) == 0;
    // A device or a pipe is never replaced by a file (a folder makes the rename fail).
    if (existed && !S_ISREG(original.st_mode) && !S_ISDIR(original.st_mode)) {
        return ReplaceResult::CannotCreate;
    }
    const std::string temp = temporaryPathFor(path);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
    if (fd < 0) {
        return ReplaceResult::CannotCreate;
    }
    bool ok = writeAll(fd, bytes);
    if (ok && existed) {
        ok = ::fchmod(fd, original.st_mode & kPermissionBits) == 0;
        // Keeps the owner when a privileged user saves someone else's file.
        if (::fchown(fd, original.st_uid, original.st_gid) != 0) {
            // Refused for an ordinary user: the file then belongs to whoever saved it.
        }
    }
    ok = ok && (!flush || ::fsync(fd) == 0);
    ok = ::close(fd) == 0 && ok;
    ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return ReplaceResult::WriteFailed;
    }
    if (flush) {
        syncFolderOf(path);
    }
    return ReplaceResult::Ok;
}

} // namespace octo::files
