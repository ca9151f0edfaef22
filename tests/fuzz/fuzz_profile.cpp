// libFuzzer target: the profile store over any configuration file, against its own rules.
//
// The input: one byte of flags, one byte with the number of edits, the edits (a kind byte
// and the names and value as length-prefixed texts), then the file's bytes. Checked:
// - reading never fails or grows: every value and name read is no longer than the file;
// - a write the store accepts reads back as written, as a file read gives it: the value
//   up to a NUL, trimmed, and one pair of enclosing quotes taken off; names match trimmed
//   and in any letter case;
// - an edit changes only its own key (a deleted section only its own section): every
//   other key of every section, listed by the store itself before the edit, reads as
//   before, and no section other than the written one comes or goes.
#include "fuzz_support.h"

#include "settings/ProfileDocument.h"
#include "settings/ProfileStore.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace {

using octo::fuzz::Input;
using octo::fuzz::require;

// The configuration file in memory: every replace gives it a new stamp.
class MemoryFiles final : public octo::FileAccess {
public:
    MemoryFiles(std::string bytes, bool settles) : bytes_(std::move(bytes)), settles_(settles) {}

    octo::FileStatus stamp(const std::string&, octo::FileStamp& out) override {
        out = {bytes_.size(), version_};
        return octo::FileStatus::Ok;
    }
    bool settled(const octo::FileStamp&) override { return settles_; }
    octo::FileStatus read(const std::string& path, std::string& bytes,
                          octo::FileStamp& out) override {
        bytes = bytes_;
        return stamp(path, out);
    }
    bool canReplace(const std::string&) override { return true; }
    bool replace(const std::string&, std::string_view bytes) override {
        bytes_.assign(bytes);
        ++version_;
        return true;
    }
    const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
    int64_t version_ = 1;
    bool settles_;
};

constexpr size_t kMaxEdits = 8;
constexpr size_t kMaxText = 48;
// A length byte from kPickName on picks a name the store listed instead of literal text.
constexpr uint8_t kPickName = 0xC0;
constexpr const char* kAbsent = "\x01"
                                "absent";

enum class EditKind { Write, DeleteKey, DeleteSection, Count };

// A buffer no value of a file of so many bytes can fill.
uint32_t readBuffer(size_t fileBytes) {
    return static_cast<uint32_t>(fileBytes + 2);
}

std::string folded(std::string_view name) {
    std::string out(octo::trimProfileBlanks(octo::cutAtNul(name)));
    std::transform(out.begin(), out.end(), out.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    return out;
}

// What a value reads back as once written.
std::string readBack(std::string_view value) {
    std::string_view text = octo::trimProfileBlanks(octo::cutAtNul(value));
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
        text.back() == text.front()) {
        text = text.substr(1, text.size() - 2);
    }
    return std::string(text);
}

// Every section the store lists, with every key it lists in it, and what each reads.
struct Contents {
    std::vector<std::string> sections;
    std::map<std::pair<std::string, std::string>, std::string> values;
};

std::vector<std::string> keyNames(octo::ProfileStore& store, const std::string& section,
                                  size_t fileBytes) {
    std::vector<char> buffer(fileBytes + 2);
    const uint32_t length = store.getString(section.c_str(), nullptr, "", buffer.data(),
                                            static_cast<uint32_t>(buffer.size()));
    require(length < buffer.size());
    std::vector<std::string> names;
    for (size_t at = 0; at < length;) {
        const std::string name(buffer.data() + at);
        require(name.size() <= fileBytes);
        names.push_back(name);
        at += name.size() + 1;
    }
    return names;
}

Contents contents(octo::ProfileStore& store, size_t fileBytes) {
    Contents out;
    out.sections = store.sectionNames();
    size_t listed = 0;
    for (const auto& section : out.sections) {
        listed += section.size() + 1;
        for (const auto& key : keyNames(store, section, fileBytes)) {
            const std::string value =
                store.readString(section, key, kAbsent, readBuffer(fileBytes));
            require(value == kAbsent || value.size() <= fileBytes);
            out.values.emplace(std::pair{section, key}, value);
        }
    }
    require(listed <= fileBytes + 1);
    return out;
}

// Picks a listed name, or takes literal text.
std::string name(Input& in, const std::vector<std::string>& listed) {
    const uint8_t length = in.byte();
    if (length >= kPickName && !listed.empty()) {
        return listed[(length - kPickName) % listed.size()];
    }
    return in.text(length % (kMaxText + 1));
}

bool sameName(std::string_view a, std::string_view b) {
    return folded(a) == folded(b);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(std::span(data, size));
    const bool settles = (in.byte() & 1) != 0;
    const size_t edits = in.byte() % (kMaxEdits + 1);
    const size_t fileBytes = in.word();
    auto owned = std::make_unique<MemoryFiles>(in.text(fileBytes), settles);
    MemoryFiles& files = *owned;
    octo::ProfileStore store(std::move(owned), "OCTO816.INI");

    Contents before = contents(store, files.bytes().size());
    for (size_t i = 0; i < edits; ++i) {
        const auto kind = static_cast<EditKind>(in.byte() % static_cast<uint8_t>(EditKind::Count));
        const std::string section = name(in, before.sections);
        std::vector<std::string> keys;
        for (const auto& [where, value] : before.values) {
            if (sameName(where.first, section)) {
                keys.push_back(where.second);
            }
        }
        const std::string key = name(in, keys);
        const std::string value = in.text(in.byte() % (kMaxText + 1));

        bool accepted = false;
        switch (kind) {
        case EditKind::Write:
            accepted = store.write(section, key, value);
            break;
        case EditKind::DeleteKey:
            accepted = store.deleteKey(section, key);
            break;
        case EditKind::DeleteSection:
            accepted = store.deleteSection(section);
            break;
        case EditKind::Count:
            break;
        }
        const size_t now = files.bytes().size();
        const Contents after = contents(store, now);
        if (!accepted) {
            require(store.sectionNames() == before.sections);
            continue;
        }
        if (kind == EditKind::Write) {
            require(store.readString(section, key, kAbsent, readBuffer(now)) == readBack(value));
        }
        // Every other key reads as before.
        for (const auto& [where, value] : before.values) {
            const bool edited = sameName(where.first, section) &&
                                (kind == EditKind::DeleteSection || sameName(where.second, key));
            if (!edited) {
                require(store.readString(where.first, where.second, kAbsent, readBuffer(now)) ==
                        value);
            }
        }
        // No other section comes or goes.
        auto others = [&](const std::vector<std::string>& names) {
            std::vector<std::string> out;
            std::copy_if(names.begin(), names.end(), std::back_inserter(out),
                         [&](const std::string& n) { return !sameName(n, section); });
            return out;
        };
        require(others(after.sections) == others(before.sections));
        before = after;
    }
    return 0;
}
