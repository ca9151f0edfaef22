#include "settings/ProfileDocument.h"

#include <algorithm>

namespace octo {

namespace {

constexpr unsigned char kUtf8Bom[] = {0xEF, 0xBB, 0xBF};
constexpr unsigned char kUtf16LeBom[] = {0xFF, 0xFE};
constexpr unsigned kHighestSingleByte = 0xFF;
constexpr char kUnmappable = '?';
constexpr char kDosEndOfFile = 0x1A;

bool isLineBreak(char c) {
    return c == '\r' || c == '\n';
}

char foldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string fold(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), foldAscii);
    return out;
}

bool startsWith(std::string_view bytes, const unsigned char* mark, size_t length) {
    return bytes.size() >= length &&
           std::equal(mark, mark + length, bytes.begin(),
                      [](unsigned char m, char b) { return m == static_cast<unsigned char>(b); });
}

} // namespace

bool isProfileBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' ||
           c == kDosEndOfFile;
}

std::string_view trimProfileBlanks(std::string_view text) {
    while (!text.empty() && isProfileBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isProfileBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string_view cutAtNul(std::string_view text) {
    const auto nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

ProfileDocument::ProfileDocument(std::string bytes) : bytes_(std::move(bytes)) {
    decode();
    parse();
}

void ProfileDocument::decode() {
    if (startsWith(bytes_, kUtf16LeBom, sizeof kUtf16LeBom)) {
        encoding_ = Encoding::Utf16Le;
        prefixBytes_ = sizeof kUtf16LeBom;
        const size_t units = (bytes_.size() - prefixBytes_) / 2;
        text_.resize(units);
        for (size_t i = 0; i < units; ++i) {
            const auto low = static_cast<unsigned char>(bytes_[prefixBytes_ + 2 * i]);
            const auto high = static_cast<unsigned char>(bytes_[prefixBytes_ + 2 * i + 1]);
            const unsigned unit = low | (high << 8);
            // Characters beyond one byte have no 8-bit form: they read as '?'.
            text_[i] = unit <= kHighestSingleByte ? static_cast<char>(unit) : kUnmappable;
        }
        return;
    }
    if (startsWith(bytes_, kUtf8Bom, sizeof kUtf8Bom)) {
        encoding_ = Encoding::Utf8Bom;
        prefixBytes_ = sizeof kUtf8Bom;
    }
    text_ = bytes_.substr(prefixBytes_);
}

void ProfileDocument::parse() {
    sections_.emplace_back(); // the lines before the first header
    const std::string_view text = text_;
    size_t pos = 0;
    while (pos < text.size()) {
        Line line;
        line.begin = pos;
        while (pos < text.size() && !isLineBreak(text[pos])) {
            ++pos;
        }
        line.contentEnd = pos;
        if (pos < text.size()) {
            const bool crlf = text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n';
            line.breakEnd = pos + (crlf ? 2 : 1);
        } else {
            line.breakEnd = pos;
        }
        // A run of line breaks ends the line: the blank lines inside it are nothing.
        while (pos < text.size() && isLineBreak(text[pos])) {
            ++pos;
        }
        const size_t index = lines_.size();
        const std::string_view raw = text.substr(line.begin, line.contentEnd - line.begin);
        const std::string_view content = trimProfileBlanks(raw);
        line.blank = content.empty();
        lines_.push_back(line);
        if (content.empty()) {
            continue;
        }
        const size_t contentBegin = line.begin + static_cast<size_t>(content.data() - raw.data());
        const auto closing = content.rfind(']');
        if (content.front() == '[' && closing != std::string_view::npos) {
            sections_.back().endLine = index;
            Section section;
            section.name = cutAtNul(trimProfileBlanks(content.substr(1, closing - 1)));
            section.headerLine = index;
            section.lastLine = index;
            if (!section.name.empty()) {
                firstSection_.try_emplace(fold(section.name), sections_.size());
            }
            sections_.push_back(std::move(section));
            continue;
        }
        Section& section = sections_.back();
        section.lastLine = index;
        Key key;
        key.line = index;
        key.nameBegin = contentBegin;
        const auto equals = content.find('=');
        std::string_view name = content;
        if (equals != std::string_view::npos) {
            name = trimProfileBlanks(content.substr(0, equals));
            key.hasValue = true;
            key.value = cutAtNul(trimProfileBlanks(content.substr(equals + 1)));
        }
        key.nameEnd = contentBegin + name.size();
        key.name = cutAtNul(name);
        key.folded = fold(key.name);
        section.keys.push_back(std::move(key));
    }
    sections_.back().endLine = lines_.size();
}

const ProfileDocument::Section* ProfileDocument::findSection(std::string_view name) const {
    name = trimProfileBlanks(cutAtNul(name));
    if (name.empty()) {
        return &sections_.front(); // the lines before the first header
    }
    const auto found = firstSection_.find(fold(name));
    return found == firstSection_.end() ? nullptr : &sections_[found->second];
}

const ProfileDocument::Section* ProfileDocument::findSectionUntrimmed(std::string_view name) const {
    name = cutAtNul(name);
    if (name.empty()) {
        return &sections_.front();
    }
    const auto found = firstSection_.find(fold(name));
    return found == firstSection_.end() ? nullptr : &sections_[found->second];
}

const ProfileDocument::Key* ProfileDocument::findKey(std::string_view section,
                                                     std::string_view key) const {
    const Section* s = findSection(section);
    if (!s) {
        return nullptr;
    }
    // An empty name finds a key line with an empty name ("=value").
    const std::string folded = fold(trimProfileBlanks(cutAtNul(key)));
    for (const Key& k : s->keys) {
        if (k.folded == folded) {
            return &k;
        }
    }
    return nullptr;
}

std::string ProfileDocument::lineBreakAfter(const Line& line) const {
    return text_.substr(line.contentEnd, line.breakEnd - line.contentEnd);
}

std::string ProfileDocument::fileLineBreak() const {
    for (const Line& line : lines_) {
        if (line.breakEnd > line.contentEnd) {
            return lineBreakAfter(line);
        }
    }
    return "\r\n";
}

std::string ProfileDocument::splice(size_t at, size_t length, std::string_view insert) const {
    if (encoding_ != Encoding::Utf16Le) {
        std::string out = bytes_;
        out.replace(prefixBytes_ + at, length, insert);
        return out;
    }
    std::string encoded;
    encoded.reserve(insert.size() * 2);
    for (char c : insert) {
        encoded.push_back(c);
        encoded.push_back('\0');
    }
    std::string out = bytes_;
    out.replace(prefixBytes_ + 2 * at, 2 * length, encoded);
    return out;
}

std::optional<std::string> ProfileDocument::withValue(std::string_view section,
                                                      std::string_view key,
                                                      std::string_view value) const {
    const Section* s = findSection(section);
    if (s && s->headerLine == kNone) {
        return std::nullopt; // the lines before the first header have no name to write to
    }
    if (!s) {
        // A new section goes at the end, after a line break if the last line has none.
        const std::string lineBreak = fileLineBreak();
        std::string added;
        if (!text_.empty() && !isLineBreak(text_.back())) {
            added += lineBreak;
        }
        added += "[" + std::string(section) + "]" + lineBreak;
        added += std::string(key) + "=" + std::string(value) + lineBreak;
        return splice(text_.size(), 0, added);
    }
    if (const Key* k = findKey(section, key)) {
        const Line& line = lines_[k->line];
        const std::string spelling = text_.substr(k->nameBegin, k->nameEnd - k->nameBegin);
        const std::string replacement = spelling + "=" + std::string(value);
        const size_t length = line.contentEnd - k->nameBegin;
        if (text_.compare(k->nameBegin, length, replacement) == 0) {
            return std::nullopt;
        }
        return splice(k->nameBegin, length, replacement);
    }
    // A new key goes right after the last line of the section, in that line's own style.
    const Line& last = lines_[s->lastLine];
    const std::string entry = std::string(key) + "=" + std::string(value);
    if (last.breakEnd > last.contentEnd) {
        return splice(last.breakEnd, 0, entry + lineBreakAfter(last));
    }
    const std::string lineBreak = fileLineBreak();
    return splice(last.contentEnd, 0, lineBreak + entry + lineBreak);
}

std::optional<std::string> ProfileDocument::withoutKey(std::string_view section,
                                                       std::string_view key) const {
    const Key* k = findKey(section, key);
    if (!k) {
        return std::nullopt;
    }
    const Line& line = lines_[k->line];
    return splice(line.begin, line.breakEnd - line.begin, {});
}

std::optional<std::string> ProfileDocument::withoutSection(std::string_view section) const {
    const Section* s = findSection(section);
    if (!s || s->headerLine == kNone) {
        return std::nullopt;
    }
    const size_t begin = lines_[s->headerLine].begin;
    const size_t end = s->endLine < lines_.size() ? lines_[s->endLine].begin : text_.size();
    return splice(begin, end - begin, {});
}

} // namespace octo
