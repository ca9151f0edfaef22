// The bounded read: regular files only, refused without blocking, and nothing beyond the
// bound read; what it reads is the whole file.
#include "files/read_file.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace octo::files {
namespace {

namespace fs = std::filesystem;
using Problem = FileRead::Problem;

constexpr uint64_t kBound = 1000;

size_t openDescriptors() {
    const fs::directory_iterator entries("/proc/self/fd");
    return static_cast<size_t>(std::distance(fs::begin(entries), fs::end(entries)));
}

TEST(BoundedRead, TakesRegularFilesUpToTheBoundWholeAndRefusesEverythingElseAtOnce) {
    const testing::TempFolder folder("octo_read");
    const std::string atBound = folder.file("at.txt");
    const std::string overBound = folder.file("over.txt");
    const std::string fifo = folder.file("fifo");
    std::ofstream(atBound) << std::string(kBound, 'a');
    std::ofstream(overBound) << std::string(kBound + 1, 'a');
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0); // no writer: an open for reading would wait
    const struct {
        std::string path;
        Problem problem;
    } cases[] = {
        {atBound, Problem::None},
        {overBound, Problem::TooLarge},
        {"/dev/zero", Problem::NotRegular},
        {fifo, Problem::NotRegular},
        {folder.path().string(), Problem::NotRegular},
        {folder.file("missing.txt"), Problem::CannotOpen},
    };
    const size_t descriptors = openDescriptors();
    for (const auto& c : cases) {
        const FileRead read = readBoundedFile(c.path, kBound);
        EXPECT_EQ(read.problem, c.problem) << c.path;
        EXPECT_EQ(read.bytes.size(), c.problem == Problem::None ? kBound : 0) << c.path;
    }
    EXPECT_EQ(openDescriptors(), descriptors) << "every file is closed again";
}

} // namespace
} // namespace octo::files
