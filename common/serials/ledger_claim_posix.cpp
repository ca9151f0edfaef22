// The ledger's hold on POSIX systems: flock() on the ledger file. It is apart from the
// byte-range locks SQLite takes on the same file, so readers are never blocked by it, and
// two opens conflict even within one process.
#include "serials/ledger_claim.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace octo::serials {

namespace {

constexpr std::chrono::milliseconds kRetry{10};
constexpr mode_t kLedgerMode = 0644; // as SQLite makes its files

LedgerClaim::Result openFailure(int error) {
    switch (error) {
    case ENOENT:
        return LedgerClaim::Result::Missing;
    case EACCES:
    case EROFS:
    case EPERM:
        return LedgerClaim::Result::ReadOnly;
    case EISDIR:
        return LedgerClaim::Result::NotRegular;
    default:
        return LedgerClaim::Result::CannotOpen;
    }
}

int openFile(const std::string& path, bool create, bool& created) {
    constexpr int kFlags = O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    created = false;
    if (create) {
        const int made = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, kLedgerMode);
        created = made != kNoHandle;
        if (created || errno != EEXIST) {
            return made;
        }
    }
    return ::open(path.c_str(), kFlags);
}

} // namespace

LedgerClaim::~LedgerClaim() {
    release();
}

LedgerClaim::Result LedgerClaim::take(const std::string& path, bool create,
                                      std::chrono::milliseconds wait) {
    release();
    path_ = path;
    const int fd = openFile(path, create, created_);
    if (fd < 0) {
        return openFailure(errno);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd); // never one this call made: it makes regular files
        return Result::NotRegular;
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) ||
            std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            created_ = false;
            return Result::Held;
        }
        std::this_thread::sleep_for(kRetry);
    }
    handle_ = fd;
    return Result::Taken;
}

void LedgerClaim::release(bool discardMade) {
    if (handle_ != kNoHandle) {
        ::close(static_cast<int>(handle_)); // the lock goes with the descriptor
        handle_ = kNoHandle;
    }
    std::error_code ec;
    if (created_ && discardMade && std::filesystem::file_size(path_, ec) == 0 && !ec) {
        std::filesystem::remove(path_, ec);
    }
}

bool LedgerClaim::heldElsewhere(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return false;
    }
    // Callers name regular files only; a shared hold is refused only while a writer holds it.
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

} // namespace octo::serials
