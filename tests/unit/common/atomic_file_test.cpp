// The atomic replace on real files: the file is the old one or the new one, a failure
// leaves the old one and no temporary file, and another writer's temporary file is no
// obstacle.
#include "files/atomic_file.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

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

// A process id that no process has any more: a child that has ended and been waited for.
unsigned long goneProcess() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    return static_cast<unsigned long>(child);
}

TEST_F(AtomicFileTest, LeftoversOfGoneOrOldWritersAreRemovedAndNothingElse) {
    const std::string gone = std::to_string(goneProcess());
    const std::string alive = std::to_string(::getpid());
    struct Entry {
        std::string name;
        bool old;
        bool kept;
    };
    const std::vector<Entry> table = {
        {"OCTO816.INI", false, true},
        {"OCTO816.INI." + gone + "-0.octo-tmp", false, false},
        {"read.hex." + gone + "-12.octo-tmp", false, false},
        {"OCTO816.INI." + alive + "-3.octo-tmp", false, true}, // a write in progress
        {"OCTO816.INI." + alive + "-4.octo-tmp", true, false}, // its id reused since
        {"notes.octo-tmp", true, true},
        {"OCTO816.INI." + gone + ".octo-tmp", true, true},
        {"OCTO816.INI.x-1.octo-tmp", true, true},
        {"OCTO816.INI." + gone + "-1.octo-tmp.bak", true, true},
    };
    for (const Entry& entry : table) {
        write(path(entry.name), "x");
        if (entry.old) {
            fs::last_write_time(path(entry.name),
                                fs::file_time_type::clock::now() - std::chrono::hours(2));
        }
    }
    const auto removed =
        std::count_if(table.begin(), table.end(), [](const Entry& e) { return !e.kept; });
    EXPECT_EQ(removeLeftoverTemporaries(path("OCTO816.INI")), removed);
    for (const Entry& entry : table) {
        EXPECT_EQ(fs::exists(path(entry.name)), entry.kept) << entry.name;
    }
}

} // namespace
} // namespace octo::files
