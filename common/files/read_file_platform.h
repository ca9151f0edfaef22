// What the bounded read does the same on every platform, once the file is open and known to
// be a regular file of a given size: the size judged before any byte is read, then the bytes
// read in chunks until the end or one byte past the bound (a file may grow meanwhile).
#pragma once

#include "files/read_file.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace octo::files {

// Reads at most capacity bytes into chunk and says how many in got (0 at the end); false
// when the read fails.
using ChunkReader = std::function<bool(char* chunk, size_t capacity, size_t& got)>;

FileRead readSizedFile(uint64_t size, uint64_t maxBytes, const ChunkReader& readChunk);

} // namespace octo::files
