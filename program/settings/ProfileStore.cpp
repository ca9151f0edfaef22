#include "settings/ProfileStore.h"

#include <algorithm>
#include <cstring>

namespace octo {

namespace {

constexpr uint32_t kDecimal = 10;
constexpr uint32_t kHex = 16;
constexpr uint32_t kOctal = 8;
constexpr uint32_t kBinary = 2;
constexpr unsigned char kHighestBlank = 0x20;

bool isQuote(char c) {
    return c == '\'' || c == '"';
}

bool hasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// Copies value into a buffer of size characters (size > 0), cut to size - 1 and
// terminated. A value of at least two characters between a matching pair of quotes loses
// the pair. Returns the length copied.
uint32_t copyEntry(char* buffer, uint32_t size, std::string_view value, bool stripQuotes) {
    if (stripQuotes && value.size() >= 2 && isQuote(value.front()) &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    const auto length = static_cast<uint32_t>(std::min<size_t>(value.size(), size - 1));
    std::memcpy(buffer, value.data(), length);
    buffer[length] = '\0';
    return length;
}

int digitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + static_cast<int>(kDecimal);
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A' + static_cast<int>(kDecimal);
    }
    return static_cast<int>(kHex + 1); // beyond every base
}

uint32_t keyNames(const ProfileDocument* doc, std::string_view section, char* buffer,
                  uint32_t size) {
    const ProfileDocument::Section* s = doc ? doc->findSectionUntrimmed(section) : nullptr;
    if (!s) {
        buffer[0] = '\0';
        if (size > 1) {
            buffer[1] = '\0';
        }
        return 0;
    }
    // Each name NUL-terminated and the list ended by one more NUL; a list that does not
    // fit is cut and ends in two NULs, and the length is then size - 2. Comment lines and
    // lines without '=' are left out; a key with an empty name is listed as one.
    uint32_t left = size;
    uint32_t at = 0;
    for (const ProfileDocument::Key& k : s->keys) {
        if (left <= 2) {
            break;
        }
        if ((!k.name.empty() && k.name.front() == ';') || !k.hasValue) {
            continue;
        }
        const uint32_t copied = copyEntry(buffer + at, left - 1, k.name, false);
        at += copied + 1;
        left -= copied + 1;
        if (left < 2) {
            break;
        }
    }
    buffer[at] = '\0';
    if (left <= 1) {
        buffer[at - 1] = '\0';
        return size - 2;
    }
    return size - left;
}

// GetPrivateProfileString on one version of the file (null: the file is missing), for a
// section and a key that are both given.
uint32_t readFromDocument(const ProfileDocument* doc, std::string_view section,
                          std::optional<std::string_view> key,
                          std::optional<std::string_view> defaultValue, char* buffer,
                          uint32_t size) {
    // The default loses its trailing spaces (spaces only, not other blanks).
    std::string_view fallback = defaultValue ? cutAtNul(*defaultValue) : std::string_view{};
    while (!fallback.empty() && fallback.back() == ' ') {
        fallback.remove_suffix(1);
    }
    if (!key) {
        const uint32_t length = keyNames(doc, section, buffer, size);
        return buffer[0] == '\0' ? copyEntry(buffer, size, fallback, true) : length;
    }
    const ProfileDocument::Key* found = doc ? doc->findKey(section, *key) : nullptr;
    const std::string_view value = found && found->hasValue ? found->value : fallback;
    return copyEntry(buffer, size, value, true);
}

int32_t readIntFromDocument(const ProfileDocument* doc, std::string_view section,
                            std::string_view key, int32_t defaultValue) {
    char buffer[kProfileIntBuffer];
    if (readFromDocument(doc, section, key, std::string_view(""), buffer, sizeof buffer) == 0) {
        return defaultValue;
    }
    return static_cast<int32_t>(parseProfileInt(buffer));
}

std::string readStringFromDocument(const ProfileDocument* doc, std::string_view section,
                                   std::string_view key, std::string_view defaultValue,
                                   uint32_t bufferSize) {
    if (bufferSize == 0) {
        return {};
    }
    std::string buffer(bufferSize, '\0');
    buffer.resize(readFromDocument(doc, section, key, defaultValue, buffer.data(), bufferSize));
    return buffer;
}

std::vector<std::string> namesOf(const ProfileDocument* doc) {
    std::vector<std::string> names;
    if (doc) {
        for (const ProfileDocument::Section& s : doc->sections()) {
            if (!s.name.empty()) {
                names.push_back(s.name);
            }
        }
    }
    return names;
}

} // namespace

uint32_t parseProfileInt(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= kHighestBlank &&
           text[i] != '\0') {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    uint32_t base = kDecimal;
    if (i + 1 < text.size() && text[i] == '0') {
        const char prefix = text[i + 1];
        if (prefix == 'x' || prefix == 'o' || prefix == 'b') {
            base = prefix == 'x' ? kHex : prefix == 'o' ? kOctal : kBinary;
            i += 2;
        }
    }
    uint32_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = digitValue(text[i]);
        if (digit >= static_cast<int>(base)) {
            break;
        }
        value = value * base + static_cast<uint32_t>(digit);
    }
    return negative ? 0u - value : value;
}

ProfileStore::ProfileStore(std::unique_ptr<FileAccess> files, std::string path)
    : files_(std::move(files)), path_(std::move(path)) {}

void ProfileStore::useFileAccess(std::unique_ptr<FileAccess> files) {
    files_ = std::move(files);
    cache_.reset();
}

void ProfileStore::setPath(std::string path) {
    if (path != path_) {
        path_ = std::move(path);
        cache_.reset();
    }
}

bool ProfileStore::fileExists() {
    FileStamp stamp;
    return !path_.empty() && files_->stamp(path_, stamp) == FileStatus::Ok;
}

const ProfileDocument* ProfileStore::current() {
    FileStamp now;
    if (path_.empty() || files_->stamp(path_, now) != FileStatus::Ok) {
        cache_.reset();
        return nullptr;
    }
    if (cache_ && now == stamp_ && stampSettled_) {
        return cache_.get();
    }
    // Settled before the read starts: a write after it cannot then share the stamp.
    const bool settled = files_->settled(now);
    std::string bytes;
    FileStamp read;
    if (files_->read(path_, bytes, read) != FileStatus::Ok) {
        cache_.reset();
        return nullptr;
    }
    stampSettled_ = settled && read == now;
    stamp_ = read;
    if (!cache_ || cache_->bytes() != bytes) {
        cache_ = std::make_shared<const ProfileDocument>(std::move(bytes));
        ++parses_;
    }
    return cache_.get();
}

uint32_t ProfileStore::getString(const char* section, const char* key, const char* defaultValue,
                                 char* buffer, uint32_t size) {
    auto text = [](const char* s) { return s ? Text(s) : std::nullopt; };
    return getStringImpl(text(section), text(key), text(defaultValue), buffer, size);
}

uint32_t ProfileStore::getStringImpl(Text section, Text key, Text defaultValue, char* buffer,
                                     uint32_t size) {
    if (!buffer || size == 0) {
        return 0;
    }
    if (!section) {
        return getSectionNames(buffer, size);
    }
    return readFromDocument(current(), *section, key, defaultValue, buffer, size);
}

uint32_t ProfileStore::getSectionNames(char* buffer, uint32_t size) {
    if (!buffer || size == 0) {
        return 0;
    }
    buffer[0] = '\0';
    if (size == 1) {
        return 0;
    }
    const ProfileDocument* doc = current();
    if (!doc) {
        buffer[1] = '\0';
        return 0;
    }
    // Names fit while their lengths plus terminators stay within size - 2; the first that
    // does not is cut, and the list then ends in two NULs with the length size - 2.
    uint32_t room = size - 1;
    uint32_t at = 0;
    for (const ProfileDocument::Section& s : doc->sections()) {
        if (s.name.empty()) {
            continue;
        }
        const auto needed = static_cast<uint32_t>(std::min<size_t>(s.name.size() + 1, size));
        if (needed >= room) {
            std::memcpy(buffer + at, s.name.data(), room - 1);
            at += room - 1;
            buffer[at++] = '\0';
            buffer[at] = '\0';
            return size - 2;
        }
        std::memcpy(buffer + at, s.name.data(), needed);
        at += needed;
        room -= needed;
    }
    buffer[at] = '\0';
    return at;
}

uint32_t ProfileStore::getInt(const char* section, const char* key, int32_t defaultValue) {
    char buffer[kProfileIntBuffer];
    auto text = [](const char* s) { return s ? Text(s) : std::nullopt; };
    if (getStringImpl(text(section), text(key), Text(""), buffer, sizeof buffer) == 0) {
        return static_cast<uint32_t>(defaultValue);
    }
    return parseProfileInt(buffer);
}

bool ProfileStore::writeString(const char* section, const char* key, const char* value) {
    auto text = [](const char* s) { return s ? Text(s) : std::nullopt; };
    return writeImpl(text(section), text(key), text(value));
}

std::optional<ProfileStore::Edit> ProfileStore::checkedEdit(Text section, Text key, Text value) {
    if (!section) {
        return std::nullopt;
    }
    Edit edit;
    edit.section = trimProfileBlanks(cutAtNul(*section));
    if (edit.section.empty() || hasLineBreak(edit.section)) {
        return std::nullopt;
    }
    if (key) {
        edit.key = trimProfileBlanks(cutAtNul(*key));
        // A key that would read back as something else is refused: empty, holding the
        // separator or a line break, or starting like a section header.
        if (edit.key->empty() || edit.key->find('=') != std::string_view::npos ||
            hasLineBreak(*edit.key) || edit.key->front() == '[') {
            return std::nullopt;
        }
    }
    if (key && value) {
        std::string_view newValue = cutAtNul(*value);
        if (hasLineBreak(newValue)) {
            return std::nullopt;
        }
        while (!newValue.empty() && isProfileBlank(newValue.front())) {
            newValue.remove_prefix(1);
        }
        edit.value = newValue;
    }
    return edit;
}

std::optional<std::string> ProfileStore::applyEdit(const ProfileDocument& doc, const Edit& edit) {
    if (!edit.key) {
        return doc.withoutSection(edit.section);
    }
    if (!edit.value) {
        return doc.withoutKey(edit.section, *edit.key);
    }
    return doc.withValue(edit.section, *edit.key, *edit.value);
}

bool ProfileStore::writeImpl(Text section, Text key, Text value) {
    const std::optional<Edit> edit = checkedEdit(section, key, value);
    if (!edit) {
        return false;
    }
    const bool deleting = !edit->key || !edit->value;
    const ProfileDocument* doc = current();
    if (!doc) {
        // Nothing to delete is no failure; the store never creates the file.
        return deleting && !fileExists();
    }
    if (!files_->canReplace(path_)) {
        return false;
    }
    std::optional<std::string> edited = applyEdit(*doc, *edit);
    if (!edited) {
        return true;
    }
    cache_.reset();
    return files_->replace(path_, *edited);
}

bool ProfileStore::writeValues(std::string_view section, std::span<const ProfileValue> values) {
    std::vector<ProfileEntry> entries;
    entries.reserve(values.size());
    for (const ProfileValue& v : values) {
        entries.push_back({section, v.key, v.value});
    }
    return writeEntries(entries);
}

bool ProfileStore::writeEntries(std::span<const ProfileEntry> entries) {
    std::vector<Edit> edits;
    for (const ProfileEntry& e : entries) {
        std::optional<Edit> edit = checkedEdit(e.section, e.key, e.value);
        if (!edit) {
            return false;
        }
        edits.push_back(*edit);
    }
    const ProfileDocument* doc = current();
    if (!doc || !files_->canReplace(path_)) {
        return false;
    }
    // Each edit applies to what the one before left, as separate writes would.
    std::optional<ProfileDocument> working;
    for (const Edit& edit : edits) {
        std::optional<std::string> edited = applyEdit(working ? *working : *doc, edit);
        if (edited) {
            working.emplace(std::move(*edited));
        }
    }
    if (!working) {
        return true;
    }
    cache_.reset();
    return files_->replace(path_, working->bytes());
}

std::string ProfileStore::readString(std::string_view section, std::string_view key,
                                     std::string_view defaultValue, uint32_t bufferSize) {
    return readStringFromDocument(current(), section, key, defaultValue, bufferSize);
}

int32_t ProfileStore::readInt(std::string_view section, std::string_view key,
                              int32_t defaultValue) {
    return readIntFromDocument(current(), section, key, defaultValue);
}

std::vector<std::string> ProfileStore::sectionNames() {
    return namesOf(current());
}

ProfileSnapshot ProfileStore::snapshot() {
    current();
    return ProfileSnapshot(cache_);
}

std::string ProfileSnapshot::readString(std::string_view section, std::string_view key,
                                        std::string_view defaultValue, uint32_t bufferSize) const {
    return readStringFromDocument(doc_.get(), section, key, defaultValue, bufferSize);
}

int32_t ProfileSnapshot::readInt(std::string_view section, std::string_view key,
                                 int32_t defaultValue) const {
    return readIntFromDocument(doc_.get(), section, key, defaultValue);
}

std::vector<std::string> ProfileSnapshot::sectionNames() const {
    return namesOf(doc_.get());
}

bool ProfileStore::write(std::string_view section, std::string_view key, std::string_view value) {
    return writeImpl(section, key, value);
}

bool ProfileStore::writeInt(std::string_view section, std::string_view key, int32_t value) {
    return writeImpl(section, key, std::to_string(value));
}

bool ProfileStore::deleteKey(std::string_view section, std::string_view key) {
    return writeImpl(section, key, std::nullopt);
}

bool ProfileStore::deleteSection(std::string_view section) {
    return writeImpl(section, std::nullopt, std::nullopt);
}

} // namespace octo
