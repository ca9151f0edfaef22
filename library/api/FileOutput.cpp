#include "api/FileOutput.h"

#include "api/Codes.h"

#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace octo::library {

namespace {

bool flushToDisk(std::FILE* file) {
    if (std::fflush(file) != 0) {
        return false;
    }
#if defined(_WIN32)
    return _commit(_fileno(file)) == 0;
#else
    return fsync(fileno(file)) == 0;
#endif
}

bool replace(const std::string& from, const std::string& to) {
#if defined(_WIN32)
    // rename() on Windows refuses an existing target; MoveFileEx replaces it.
    return MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

} // namespace

std::string temporaryPathFor(const std::string& path) {
    return path + ".octo-tmp";
}

int32_t writeFileAtomically(const std::string& path, std::string_view content) {
    const std::string temporary = temporaryPathFor(path);
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        return kCannotOpenFile;
    }
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    const bool flushed = written && flushToDisk(file);
    const bool closed = std::fclose(file) == 0;
    if (!written || !flushed || !closed || !replace(temporary, path)) {
        std::remove(temporary.c_str());
        return kFileIo;
    }
    return kOk;
}

} // namespace octo::library
