// The atomic replace on real files: the file is the old one or the new one, a failure
// leaves the old one and no temporary file, and another writer's temporary file is no
// obstacle.
#include "files/atomic_file.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace octo::files {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return folder_.file(name); }
    std::vector<std::string> entries() const { return folder_.entries(); }
    static void write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    octo::testing::TempFolder folder_{"octo_atomic"};
};

TEST_F(AtomicFileTest, ANewFileTakesThePlaceOfTheOldOneWithItsPermissions) {
    for (const Durability durability : {Durability::PowerLoss, Durability::WriterCrash}) {
        const std::string file = path("out.txt");
        write(file, "old contents, longer than the new ones");
        ::chmod(file.c_str(), 0604);
        struct stat before {};
        ::stat(file.c_str(), &before);
        ASSERT_EQ(replaceFile(file, "new", durability), ReplaceResult::Ok);
        struct stat after {};
        ::stat(file.c_str(), &after);
        EXPECT_EQ(read(file), "new");
        EXPECT_NE(before.st_ino, after.st_ino) << "renamed over, never written in place";
        EXPECT_EQ(after.st_mode & 07777, 0604u);
        EXPECT_EQ(entries(), std::vector<std::string>{"out.txt"});
    }
}

TEST_F(AtomicFileTest, AMissingFileIsCreated) {
    const std::string file = path("fresh.hex");
    ASSERT_EQ(replaceFile(file, ":00000001FF\r\n"), ReplaceResult::Ok);
    EXPECT_EQ(read(file), ":00000001FF\r\n");
    EXPECT_EQ(entries(), std::vector<std::string>{"fresh.hex"});
}

TEST_F(AtomicFileTest, NoFolderMeansNoTemporaryFile) {
    EXPECT_EQ(replaceFile(path("missing/out.txt"), "x"), ReplaceResult::CannotCreate);
    EXPECT_TRUE(entries().empty());
}

TEST_F(AtomicFileTest, AFailedRenameLeavesWhatWasThereAndNoTemporaryFile) {
    // A folder of that name, with something in it, cannot be renamed over.
    const std::string target = path("taken");
    fs::create_directories(target);
    write(target + "/inside.txt", "kept");
    EXPECT_EQ(replaceFile(target, "x"), ReplaceResult::WriteFailed);
    EXPECT_EQ(read(target + "/inside.txt"), "kept");
    EXPECT_EQ(entries(), std::vector<std::string>{"taken"});
}

TEST_F(AtomicFileTest, ATemporaryFileOfAnotherWriterIsNeitherUsedNorAnObstacle) {
    const std::string file = path("state.txt");
    const std::string other = temporaryPathFor(file);
    write(other, "half of a write that another writer has not renamed yet");
    ASSERT_EQ(replaceFile(file, "whole", Durability::WriterCrash), ReplaceResult::Ok);
    EXPECT_EQ(read(file), "whole");
    EXPECT_EQ(read(other), "half of a write that another writer has not renamed yet");
    EXPECT_NE(temporaryPathFor(file), temporaryPathFor(file));
}

} // namespace
} // namespace octo::files
