// The ledger's hold on Windows: a lock on one byte of the ledger file that SQLite never
// reads, writes or locks (in the page that holds SQLite's own lock bytes, past them), so
// readers are never blocked by it, and two opens conflict even within one process.
#include "serials/ledger_claim.h"

#include <filesystem>
#include <thread>
#include <windows.h>

namespace octo::serials {

namespace {

constexpr std::chrono::milliseconds kRetry{10};
// SQLite's lock bytes run from 0x40000000 for 512 bytes; its pages never hold data there.
constexpr DWORD kClaimOffsetLow = 0x40000200;

HANDLE handleOf(std::intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

LedgerClaim::Result openFailure(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
        return LedgerClaim::Result::Missing;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return LedgerClaim::Result::ReadOnly;
    default:
        return LedgerClaim::Result::CannotOpen;
    }
}

bool lockClaim(HANDLE file, DWORD flags) {
    OVERLAPPED at{};
    at.Offset = kClaimOffsetLow;
    return LockFileEx(file, flags | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

void unlockClaim(HANDLE file) {
    OVERLAPPED at{};
    at.Offset = kClaimOffsetLow;
    UnlockFileEx(file, 0, 1, 0, &at);
}

} // namespace

LedgerClaim::~LedgerClaim() {
    release();
}

LedgerClaim::Result LedgerClaim::take(const std::string& path, bool create,
                                      std::chrono::milliseconds wait) {
    release();
    path_ = path;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return Result::NotRegular;
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_PATH_NOT_FOUND ? Result::CannotOpen : openFailure(error);
    }
    created_ = create && GetLastError() != ERROR_ALREADY_EXISTS;
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file); // never one this call made: it makes regular files
        return Result::NotRegular;
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!lockClaim(file, LOCKFILE_EXCLUSIVE_LOCK)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            CloseHandle(file);
            created_ = false;
            return Result::Held;
        }
        std::this_thread::sleep_for(kRetry);
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return Result::Taken;
}

void LedgerClaim::release(bool discardMade) {
    if (handle_ != kNoHandle) {
        unlockClaim(handleOf(handle_));
        CloseHandle(handleOf(handle_));
        handle_ = kNoHandle;
    }
    std::error_code ec;
    if (created_ && discardMade && std::filesystem::file_size(path_, ec) == 0 && !ec) {
        std::filesystem::remove(path_, ec);
    }
}

bool LedgerClaim::heldElsewhere(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool held = false;
    if (GetFileType(file) == FILE_TYPE_DISK) {
        held = !lockClaim(file, 0);
        if (!held) {
            unlockClaim(file);
        }
    }
    CloseHandle(file);
    return held;
}

} // namespace octo::serials
