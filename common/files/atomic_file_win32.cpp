// The atomic replace on Win32: CreateFile + WriteFile + FlushFileBuffers + MoveFileEx.
#include "files/atomic_file.h"

#include <windows.h>

namespace octo::files {

unsigned long currentProcessId() { return GetCurrentProcessId(); }

ReplaceResult replaceFile(const std::string& path, std::string_view bytes, Durability durability) {
    const bool flush = durability == Durability::PowerLoss;
    const std::string temp = temporaryPathFor(path);
    const HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return ReplaceResult::CannotCreate;
    }
    DWORD put = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
              put == bytes.size();
    ok = ok && (!flush || FlushFileBuffers(file));
    ok = CloseHandle(file) && ok;
    // rename() refuses an existing target on Windows; MoveFileEx replaces it.
    const DWORD moveFlags = MOVEFILE_REPLACE_EXISTING | (flush ? MOVEFILE_WRITE_THROUGH : 0);
    ok = ok && MoveFileExA(temp.c_str(), path.c_str(), moveFlags);
    if (!ok) {
        DeleteFileA(temp.c_str());
        return ReplaceResult::WriteFailed;
    }
    return ReplaceResult::Ok;
}

} // namespace octo::files
