// Where a tool or the window writes a file the operator named (a read-out): what is there
// now decides, before any work starts, whether the file may be written at all. The output
// is a regular file or nothing yet; a symbolic link stands for the file it leads to.
#pragma once

#include <optional>
#include <string>

namespace octo::files {

enum class OutputCheck {
    Writable,
    EmptyPath,
    Directory,
    NotRegular,   // a device, a pipe, a socket, or links that never end in a file
    ReadOnly,     // its mode gives the caller no write permission (for root: nobody has one)
    CannotCreate, // no folder, or no right to create a file in it
};

struct OutputTarget {
    OutputCheck check = OutputCheck::CannotCreate;
    std::string path; // the file to write: the path, or where its symbolic links lead
};

OutputTarget checkOutputFile(const std::string& path);

// The file that path names after following its symbolic links (a link to a file not yet
// there included); none for a loop of links or a link that cannot be read.
std::optional<std::string> followLinks(const std::string& path);

// True when the folder of path takes a new file: a probe of a name no other file has is
// created exclusively and removed again, so no existing file is ever touched.
bool canCreateBeside(const std::string& path);

// True when the file's permission bits let this process write it. Root needs at least one
// write bit, as a save dialog refuses a read-only file whoever runs it.
bool writableByMode(const std::string& path);

} // namespace octo::files
