// Reading an input file whole, once, with a bound: what is checked afterwards is exactly
// what was read. Only a regular file is read; a device, a FIFO or a directory is refused
// without waiting on it, and a file larger than the bound is refused before any byte of
// it is read. One implementation per platform.
#pragma once

#include <cstdint>
#include <string>

namespace octo::files {

struct FileRead {
    enum class Problem {
        None,
        CannotOpen, // missing, or not allowed to be opened
        NotRegular, // a directory, device, FIFO or socket
        TooLarge,   // larger than the bound (or it grew past it while being read)
        ReadFailed, // the bytes could not be read whole
    };
    Problem problem = Problem::None;
    std::string bytes;

    bool ok() const { return problem == Problem::None; }
};

FileRead readBoundedFile(const std::string& path, uint64_t maxBytes);

} // namespace octo::files
