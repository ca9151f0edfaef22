// FileAccess on POSIX: stat for the nanosecond write time; the atomic replace is common's.
// On Windows builds the Win32 implementation is used instead; this one then falls back to
// the standard library so that the portable core still links.
#include "settings/FileAccess.h"

#include <files/atomic_file.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace octo {

namespace {

// A file that keeps changing while it is read is read at most this often; the stamp
// taken before the last attempt then makes the next read try again.
constexpr int kReadAttempts = 3;

#ifndef _WIN32

constexpr mode_t kAnyWriteBit = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr int64_t kNanosPerSecond = 1000000000;

FileStatus statPath(const std::string& path, struct stat& st) {
    if (::stat(path.c_str(), &st) == 0) {
        return S_ISREG(st.st_mode) ? FileStatus::Ok : FileStatus::Failed;
    }
    return errno == ENOENT || errno == ENOTDIR ? FileStatus::Missing : FileStatus::Failed;
}

FileStamp stampOf(const struct stat& st) {
    return {static_cast<uint64_t>(st.st_size),
            static_cast<int64_t>(st.st_mtim.tv_sec) * kNanosPerSecond + st.st_mtim.tv_nsec};
}

bool readAll(const std::string& path, std::string& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bytes.clear();
    char chunk[65536];
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got > 0) {
            bytes.append(chunk, static_cast<size_t>(got));
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            ok = false;
            break;
        }
    }
    ::close(fd);
    return ok;
}

class StdFileAccess final : public FileAccess {
public:
    FileStatus stamp(const std::string& path, FileStamp& out) override {
        struct stat st {};
        const FileStatus status = statPath(path, st);
        if (status == FileStatus::Ok) {
            out = stampOf(st);
        }
        return status;
    }

    bool settled(const FileStamp& stamp) override {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        const int64_t nowNanos = static_cast<int64_t>(now.tv_sec) * kNanosPerSecond + now.tv_nsec;
        return nowNanos - stamp.writeTime >=
               std::chrono::duration_cast<std::chrono::nanoseconds>(kStampSettleTime).count();
    }

    FileStatus read(const std::string& path, std::string& bytes, FileStamp& out) override {
        for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
            struct stat before {};
            const FileStatus status = statPath(path, before);
            if (status != FileStatus::Ok) {
                return status;
            }
            if (!readAll(path, bytes)) {
                return FileStatus::Failed;
            }
            out = stampOf(before);
            struct stat after {};
            if (statPath(path, after) == FileStatus::Ok && stampOf(after) == out) {
                break;
            }
        }
        return FileStatus::Ok;
    }

    bool canReplace(const std::string& path) override {
        struct stat st {};
        if (statPath(path, st) != FileStatus::Ok) {
            return false;
        }
        // A file without any write bit is read-only, also for a privileged user: that is
        // what the read-only attribute means on Windows.
        if ((st.st_mode & kAnyWriteBit) == 0) {
            return false;
        }
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        ::close(fd);
        return true;
    }

    bool replace(const std::string& path, std::string_view bytes) override {
        return files::replaceFile(path, bytes) == files::ReplaceResult::Ok;
    }
};

#else

class StdFileAccess final : public FileAccess {
public:
    FileStatus stamp(const std::string& path, FileStamp& out) override {
        std::error_code ec;
        const auto status = std::filesystem::status(path, ec);
        if (!std::filesystem::exists(status)) {
            return FileStatus::Missing;
        }
        if (!std::filesystem::is_regular_file(status)) {
            return FileStatus::Failed;
        }
        const auto size = std::filesystem::file_size(path, ec);
        const auto time = std::filesystem::last_write_time(path, ec);
        if (ec) {
            return FileStatus::Failed;
        }
        out = {size, static_cast<int64_t>(time.time_since_epoch().count())};
        return FileStatus::Ok;
    }

    bool settled(const FileStamp& stamp) override {
        using Clock = std::filesystem::file_time_type::clock;
        const auto settle = std::chrono::duration_cast<Clock::duration>(kStampSettleTime);
        return Clock::now().time_since_epoch().count() - stamp.writeTime >= settle.count();
    }

    FileStatus read(const std::string& path, std::string& bytes, FileStamp& out) override {
        for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
            const FileStatus status = stamp(path, out);
            if (status != FileStatus::Ok) {
                return status;
            }
            std::ifstream in(path, std::ios::binary);
            if (!in) {
                return FileStatus::Failed;
            }
            bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            FileStamp after;
            if (stamp(path, after) == FileStatus::Ok && after == out) {
                break;
            }
        }
        return FileStatus::Ok;
    }

    bool canReplace(const std::string& path) override {
        std::error_code ec;
        const auto perms = std::filesystem::status(path, ec).permissions();
        if (ec || (perms & std::filesystem::perms::owner_write) == std::filesystem::perms::none) {
            return false;
        }
        std::FILE* probe = std::fopen(path.c_str(), "r+b");
        if (!probe) {
            return false;
        }
        std::fclose(probe);
        return true;
    }

    bool replace(const std::string& path, std::string_view bytes) override {
        return files::replaceFile(path, bytes) == files::ReplaceResult::Ok;
    }
};

#endif

} // namespace

std::unique_ptr<FileAccess> makeStdFileAccess() {
    return std::make_unique<StdFileAccess>();
}

} // namespace octo
