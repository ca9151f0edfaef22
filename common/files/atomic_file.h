// Replacing a file so that it is always either the old one or the new one, never a mix:
// the bytes go to a temporary file in the same folder (so the rename stays on one file
// system), which is put in the file's place. Every writer of a file that an operator or
// another process reads uses this; one implementation per platform.
#pragma once

#include <string>
#include <string_view>

namespace octo::files {

enum class ReplaceResult {
    Ok,
    CannotCreate, // the temporary file cannot be created (no folder, no right to write there)
    WriteFailed,  // writing, flushing or renaming failed: the temporary file is removed and
                  // an older file of that name stays as it was
};

// What a replaced file survives. The operator's files survive a power loss: the bytes and
// the rename are flushed to the disk. Files that only other processes read while the writer
// runs (the simulator's state for the tests) survive a crash of the writer, and skip the
// flush, which costs milliseconds a write.
enum class Durability { PowerLoss, WriterCrash };

// "<path>.<process>-<n>.octo-tmp": a temporary file for path that no other write uses, so
// two writers of one file (two processes, or two calls) never write into the same one;
// the last rename wins whole.
std::string temporaryPathFor(const std::string& path);
// How every name temporaryPathFor makes ends.
inline constexpr std::string_view kTemporarySuffix = ".octo-tmp";

// Writes bytes to a new temporaryPathFor(path) and renames it over path. An existing file keeps
// its permissions (and, where the writer may give it away, its owner). On POSIX systems a
// symbolic link stays and the file it leads to is replaced, and a device or a pipe at path is
// refused (CannotCreate), never replaced. On Windows the file
// is replaced with ReplaceFile (attributes, ACL and creation time stay; under Wine, whose
// ReplaceFile moves the old file aside first, with MoveFileEx in one step) and, while another
// process holds it open without delete sharing (an editor, a virus scanner), tried again
// for a moment; when it stays held, its bytes are rewritten in place instead, which such a
// holder allows as long as it shares the file for writing.
ReplaceResult replaceFile(const std::string& path, std::string_view bytes,
                          Durability durability = Durability::PowerLoss);

// A temporary file this old is left over even when its process id has been reused: a write
// holds its temporary file for seconds at most.
inline constexpr long long kLeftoverAgeSeconds = 3600;

// Removes what crashed writers left in the folder holding path: files named like
// temporaryPathFor's whose process is gone or that are kLeftoverAgeSeconds old. Returns how
// many were removed.
int removeLeftoverTemporaries(const std::string& path);

} // namespace octo::files
