// What each platform gives the atomic replace's common part: this process's id, whether a
// process runs, the files of a folder and their age, and removing one.
#pragma once

#include <string>
#include <vector>

namespace octo::files {

unsigned long currentProcessId();
bool processRunning(unsigned long process);

struct FolderEntry {
    std::string path;
    std::string name;
    long long ageSeconds = 0;
};
// The plain files of the folder that holds path.
std::vector<FolderEntry> filesBeside(const std::string& path);
bool removeFile(const std::string& path);

} // namespace octo::files
