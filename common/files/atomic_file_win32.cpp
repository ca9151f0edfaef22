// The atomic replace on Win32: CreateFile + WriteFile + FlushFileBuffers, then ReplaceFile
// over an existing file (it keeps the file's attributes, ACL and creation time) or
// MoveFileEx to a new name. Under Wine, MoveFileEx over the existing file as well.
#include "files/atomic_file.h"
#include "files/atomic_file_platform.h"

#include <windows.h>

namespace octo::files {

namespace {

// A virus scanner or an indexer holds a file for a moment: the replace is tried this often,
// this far apart, before the bytes are written in place instead.
constexpr int kReplaceAttempts = 8;
constexpr DWORD kReplacePauseMs = 25;
constexpr ULONGLONG kTicksPerSecond = 10000000; // FILETIME counts 100 ns
// What a replaced file keeps of its attributes; read-only is not passed on, so that a failed
// replace can still remove its temporary file (a read-only file is never replaced anyway).
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

std::wstring wide(const std::string& text) {
    const int length =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), length);
    return out;
}

ULONGLONG ticksOf(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

bool writeAll(HANDLE file, std::string_view bytes) {
    DWORD put = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
           put == bytes.size();
}

// Errors of a file that another process holds open for now.
bool heldByAnother(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_ACCESS_DENIED || error == ERROR_UNABLE_TO_REMOVE_REPLACED ||
           error == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
}

// True when no other holder keeps path from being deleted, which a replace does to it.
// Asked first because Wine's ReplaceFile leaves a backup file behind each time it fails.
bool replaceable(const std::wstring& path) {
    const HANDLE probe =
        CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(probe);
    return true;
}

// Wine's ReplaceFile moves the old file aside before it moves the new one in: a process
// killed between the two leaves no file under the name at all, only Wine's own temporary
// one. Its MoveFileEx replaces in one request to the Wine server, which a killed process
// cannot cut in two. (Wine keeps neither ACLs nor creation times for ReplaceFile to keep.)
bool underWine() {
    static const bool wine = [] {
        const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

bool replaceExisting(const std::wstring& temp, const std::wstring& path, bool flush) {
    if (underWine()) {
        return MoveFileExW(temp.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | (flush ? MOVEFILE_WRITE_THROUGH : 0));
    }
    return ReplaceFileW(path.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                        nullptr, nullptr);
}

// Puts temp in the place of path. A failed ReplaceFile can leave path removed with temp
// still there (ERROR_UNABLE_TO_MOVE_REPLACEMENT): the next attempt then moves temp to path.
bool putInPlace(const std::wstring& temp, const std::wstring& path, bool flush) {
    for (int attempt = 0;; ++attempt) {
        const bool exists = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
        bool done = false;
        if (!exists) {
            done = MoveFileExW(temp.c_str(), path.c_str(), flush ? MOVEFILE_WRITE_THROUGH : 0);
        } else if (replaceable(path)) {
            done = replaceExisting(temp, path, flush);
        }
        if (done) {
            return true;
        }
        const DWORD error = GetLastError();
        if (exists && GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            continue; // the old file is gone and temp kept: moved there next time round
        }
        if (attempt + 1 >= kReplaceAttempts || !heldByAnother(error)) {
            return false;
        }
        Sleep(kReplacePauseMs);
    }
}

// The last resort for a file held without delete sharing: its own bytes rewritten. Not
// atomic, but the holder's sharing for writing allows it, and the write is not lost.
bool writeInPlace(const std::string& path, std::string_view bytes, bool flush) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ok = writeAll(file, bytes) && SetEndOfFile(file);
    ok = ok && (!flush || FlushFileBuffers(file));
    return CloseHandle(file) && ok;
}

} // namespace

unsigned long currentProcessId() {
    return GetCurrentProcessId();
}

bool processRunning(unsigned long process) {
    const HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, process);
    if (!handle) {
        // A process of another user exists, though it may not be opened.
        return GetLastError() == ERROR_ACCESS_DENIED;
    }
    const bool running = WaitForSingleObject(handle, 0) == WAIT_TIMEOUT;
    CloseHandle(handle);
    return running;
}

std::vector<FolderEntry> filesBeside(const std::string& path) {
    std::vector<FolderEntry> entries;
    const auto slash = path.find_last_of("\\/");
    const std::string folder =
        slash == std::string::npos ? std::string(".\\") : path.substr(0, slash + 1);
    WIN32_FIND_DATAA found{};
    const HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return entries;
    }
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            const ULONGLONG written = ticksOf(found.ftLastWriteTime);
            const ULONGLONG current = ticksOf(now);
            const long long age =
                current > written ? static_cast<long long>((current - written) / kTicksPerSecond)
                                  : 0;
            entries.push_back({folder + found.cFileName, found.cFileName, age});
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return entries;
}

bool removeFile(const std::string& path) {
    return DeleteFileA(path.c_str()) != 0;
}

ReplaceResult replaceFile(const std::string& path, std::string_view bytes, Durability durability) {
    const bool flush = durability == Durability::PowerLoss;
    const std::string temp = temporaryPathFor(path);
    const HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return ReplaceResult::CannotCreate;
    }
    bool ok = writeAll(file, bytes);
    ok = ok && (!flush || FlushFileBuffers(file));
    ok = CloseHandle(file) && ok;
    // ReplaceFile keeps the attributes on Windows, not on Wine: the new file takes them.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (ok && attributes != INVALID_FILE_ATTRIBUTES) {
        SetFileAttributesA(temp.c_str(), attributes & kKeptAttributes);
    }
    if (ok && putInPlace(wide(temp), wide(path), flush)) {
        return ReplaceResult::Ok;
    }
    // Still held by another process: the bytes go into the file itself.
    const bool inPlace = ok && writeInPlace(path, bytes, flush);
    DeleteFileA(temp.c_str());
    return inPlace ? ReplaceResult::Ok : ReplaceResult::WriteFailed;
}

} // namespace octo::files
