// The real file access, counting whole-file reads and replaces: how often the configuration
// file is read from and written to the disk.
#pragma once

#include "settings/FileAccess.h"

#include <memory>
#include <string>
#include <string_view>

namespace octo::testing {

struct FileCounts {
    int reads = 0;
    int replaces = 0;
};

class CountingFileAccess final : public FileAccess {
public:
    explicit CountingFileAccess(FileCounts& counts) : counts_(counts) {}
    FileStatus stamp(const std::string& path, FileStamp& out) override {
        return real_->stamp(path, out);
    }
    bool settled(const FileStamp& stamp) override { return real_->settled(stamp); }
    FileStatus read(const std::string& path, std::string& bytes, FileStamp& stamp) override {
        ++counts_.reads;
        return real_->read(path, bytes, stamp);
    }
    bool canReplace(const std::string& path) override { return real_->canReplace(path); }
    bool replace(const std::string& path, std::string_view bytes) override {
        ++counts_.replaces;
        return real_->replace(path, bytes);
    }

private:
    FileCounts& counts_;
    std::unique_ptr<FileAccess> real_ = makeStdFileAccess();
};

} // namespace octo::testing
