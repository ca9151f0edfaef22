#include "files/read_file_platform.h"

namespace octo::files {

FileRead readSizedFile(uint64_t size, uint64_t maxBytes, const ChunkReader& readChunk) {
    FileRead read;
    if (size > maxBytes) {
        read.problem = FileRead::Problem::TooLarge;
        return read;
    }
    read.bytes.reserve(static_cast<size_t>(size));
    constexpr size_t kChunkBytes = 64 * 1024;
    char chunk[kChunkBytes];
    for (;;) {
        size_t got = 0;
        if (!readChunk(chunk, sizeof chunk, got)) {
            read.problem = FileRead::Problem::ReadFailed;
            break;
        }
        if (got == 0) {
            break;
        }
        read.bytes.append(chunk, got);
        if (read.bytes.size() > maxBytes) {
            read.problem = FileRead::Problem::TooLarge;
            break;
        }
    }
    if (!read.ok()) {
        read.bytes.clear();
    }
    return read;
}

} // namespace octo::files
