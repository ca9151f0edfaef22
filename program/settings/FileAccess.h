// How the profile store reaches the configuration file: read it whole with the stamp it
// had, look at its stamp, and replace it atomically. One implementation on the standard
// library and POSIX (native builds) and one on Win32 (program/win32), because only the
// Win32 calls give the full-resolution write time and a replace that honours the
// read-only attribute and other processes' locks.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace octo {

// What identifies one version of a file: a parsed copy is valid only while both match.
struct FileStamp {
    uint64_t size = 0;
    int64_t writeTime = 0; // in the platform's finest unit (ns, or 100 ns on Windows)
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

enum class FileStatus { Ok, Missing, Failed };

// Write times are coarse: a jiffy on Linux, a timer tick on NTFS, two seconds on FAT. A
// write within that span after a read can leave size and time as they were, so a stamp
// identifies one version of the file only once it is at least this old.
inline constexpr std::chrono::seconds kStampSettleTime{3};

class FileAccess {
public:
    virtual ~FileAccess() = default;

    virtual FileStatus stamp(const std::string& path, FileStamp& out) = 0;
    // True when the stamp's write time lies at least kStampSettleTime in the past by the
    // clock the file system stamps with: a later write then gets another stamp. A time in
    // the future (another machine's clock) is never settled.
    virtual bool settled(const FileStamp& stamp) = 0;
    // The whole file and the stamp it had while it was read (read again when the file
    // changed during the read, a bounded number of times).
    virtual FileStatus read(const std::string& path, std::string& bytes, FileStamp& stamp) = 0;
    // True when the existing file may be replaced now: it is not read-only and no other
    // process holds it locked.
    virtual bool canReplace(const std::string& path) = 0;
    // Writes bytes to a temporary file in the same folder, flushes it to the disk and puts
    // it in the place of path, so the file is either the old one or the new one (on
    // Windows, while another process holds the file without delete sharing, its bytes are
    // rewritten in place instead: see files::replaceFile).
    virtual bool replace(const std::string& path, std::string_view bytes) = 0;
};

// The standard library and POSIX implementation.
std::unique_ptr<FileAccess> makeStdFileAccess();

} // namespace octo
