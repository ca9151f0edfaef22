// The configuration file, read and written key by key with the results of the Windows
// private-profile functions for the same file. Every read looks at the file as it is now:
// a parsed copy is reused while the file's size and write time are unchanged and that
// write time was already settled when the copy was read; a recent one is no proof, as time
// stamps are coarse, so the file is then read again and its bytes decide. Every
// write edits the file in place (all other bytes stay as they were) and replaces it
// atomically; a value with a line break is refused, and a read-only or locked file makes
// the write fail.
#pragma once

#include "settings/FileAccess.h"
#include "settings/ProfileDocument.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace octo {

// The buffer GetPrivateProfileInt reads a number into: only its first 29 characters count.
inline constexpr uint32_t kProfileIntBuffer = 30;

// The file as it was at one moment, for an operation that reads many keys at once (the
// device catalogue reads the Group of every section): one look at the file for all of them,
// and all of them from the same version of it.
class ProfileSnapshot {
public:
    std::string readString(std::string_view section, std::string_view key,
                           std::string_view defaultValue, uint32_t bufferSize) const;
    int32_t readInt(std::string_view section, std::string_view key, int32_t defaultValue) const;
    std::vector<std::string> sectionNames() const;

private:
    friend class ProfileStore;
    explicit ProfileSnapshot(std::shared_ptr<const ProfileDocument> doc) : doc_(std::move(doc)) {}
    std::shared_ptr<const ProfileDocument> doc_; // null when the file is missing
};

struct ProfileValue {
    std::string_view key;
    std::string value;
};

// One key of any section, for writes that span sections.
struct ProfileEntry {
    std::string_view section;
    std::string_view key;
    std::string value;
};

class ProfileStore {
public:
    explicit ProfileStore(std::unique_ptr<FileAccess> files = makeStdFileAccess(),
                          std::string path = {});

    void useFileAccess(std::unique_ptr<FileAccess> files);
    void setPath(std::string path);
    const std::string& path() const { return path_; }
    bool fileExists();

    // The private-profile calls with their buffers and return values; a null pointer means
    // what it means to Windows (no section: the section names; no key: the key names).
    uint32_t getString(const char* section, const char* key, const char* defaultValue, char* buffer,
                       uint32_t size);
    uint32_t getInt(const char* section, const char* key, int32_t defaultValue);
    uint32_t getSectionNames(char* buffer, uint32_t size);
    // A null value deletes the key, a null key the section.
    bool writeString(const char* section, const char* key, const char* value);

    // The same for C++ callers: a text read into a buffer of bufferSize characters (so cut
    // to bufferSize - 1), an integer, and every section name with no buffer limit.
    std::string readString(std::string_view section, std::string_view key,
                           std::string_view defaultValue, uint32_t bufferSize);
    int32_t readInt(std::string_view section, std::string_view key, int32_t defaultValue);
    std::vector<std::string> sectionNames();
    bool write(std::string_view section, std::string_view key, std::string_view value);
    bool writeInt(std::string_view section, std::string_view key, int32_t value);
    // Several keys of one section in one replace of the file: the file ends as the writes
    // one by one would leave it, but is replaced once, so an observer never sees half of
    // them and a slow disk is paid once. Nothing is written when one of them is refused.
    bool writeValues(std::string_view section, std::span<const ProfileValue> values);
    // The same for keys of several sections.
    bool writeEntries(std::span<const ProfileEntry> entries);
    bool deleteKey(std::string_view section, std::string_view key);
    bool deleteSection(std::string_view section);

    ProfileSnapshot snapshot();

    // How often the file was parsed: the cache is reused while the file is unchanged.
    uint64_t parseCount() const { return parses_; }

private:
    using Text = std::optional<std::string_view>;
    // A write whose names and value have been checked and trimmed.
    struct Edit {
        std::string_view section;
        std::optional<std::string_view> key;   // none: the whole section
        std::optional<std::string_view> value; // none: delete
    };

    static std::optional<Edit> checkedEdit(Text section, Text key, Text value);
    static std::optional<std::string> applyEdit(const ProfileDocument& doc, const Edit& edit);

    uint32_t getStringImpl(Text section, Text key, Text defaultValue, char* buffer, uint32_t size);
    bool writeImpl(Text section, Text key, Text value);
    // The file as it is now; null when it is missing or cannot be read.
    const ProfileDocument* current();

    std::unique_ptr<FileAccess> files_;
    std::string path_;
    std::shared_ptr<const ProfileDocument> cache_;
    FileStamp stamp_;
    // The stamp was settled when cache_ was read: no later write can have kept it.
    bool stampSettled_ = false;
    uint64_t parses_ = 0;
};

// Reads a number as GetPrivateProfileInt does: blanks skipped, one sign, 0x / 0o / 0b
// prefixes, decimal otherwise, stopping at the first character that is no digit, wrapping
// modulo 2^32.
uint32_t parseProfileInt(std::string_view text);

} // namespace octo
