// One version of a configuration file, parsed the way the Windows private-profile functions
// read it, with the places of every line kept so that an edit changes only the bytes it
// must. Sections and keys are found by trimmed, ASCII case-insensitive names; the first
// matching section and its first matching key win.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace octo {

// Characters trimmed from lines, names and values.
bool isProfileBlank(char c);
std::string_view trimProfileBlanks(std::string_view text);
// The text up to its first NUL, as a C string would end there.
std::string_view cutAtNul(std::string_view text);

class ProfileDocument {
public:
    enum class Encoding { Bytes, Utf8Bom, Utf16Le };

    struct Key {
        std::string name;   // trimmed, up to its first NUL
        std::string folded; // name in lower case, for matching
        bool hasValue = false;
        std::string value; // trimmed, up to its first NUL
        size_t line = 0;
        size_t nameBegin = 0; // the key's spelling in the text: [nameBegin, nameEnd)
        size_t nameEnd = 0;
    };

    struct Section {
        std::string name; // empty for the lines before the first header
        std::vector<Key> keys;
        size_t headerLine = kNone;
        size_t lastLine = kNone; // last non-blank line, the header included
        size_t endLine = 0;      // first line of the next section
    };

    static constexpr size_t kNone = static_cast<size_t>(-1);

    ProfileDocument() = default;
    explicit ProfileDocument(std::string bytes);

    const std::string& bytes() const { return bytes_; }
    Encoding encoding() const { return encoding_; }
    const std::vector<Section>& sections() const { return sections_; }

    // The first section with this name (trimmed); an empty name finds the lines before
    // the first header.
    const Section* findSection(std::string_view name) const;
    // The first section with exactly this name, blanks included, in any letter case: how
    // the list of a section's keys finds its section.
    const Section* findSectionUntrimmed(std::string_view name) const;
    const Key* findKey(std::string_view section, std::string_view key) const;

    // The file's bytes after one edit, or nothing when the edit changes nothing. Names must
    // already be trimmed, not empty and valid (no line breaks); value has its leading blanks
    // removed.
    std::optional<std::string> withValue(std::string_view section, std::string_view key,
                                         std::string_view value) const;
    std::optional<std::string> withoutKey(std::string_view section, std::string_view key) const;
    std::optional<std::string> withoutSection(std::string_view section) const;

private:
    struct Line {
        size_t begin = 0;      // first character of the line
        size_t contentEnd = 0; // where its line break starts
        size_t breakEnd = 0;   // after its own line break (one CR LF, LF or CR)
        bool blank = true;
    };

    void decode();
    void parse();
    std::string lineBreakAfter(const Line& line) const;
    std::string fileLineBreak() const;
    std::string splice(size_t at, size_t length, std::string_view insert) const;

    std::string bytes_;
    Encoding encoding_ = Encoding::Bytes;
    size_t prefixBytes_ = 0;
    std::string text_; // one character per code unit of the file after its byte-order mark
    std::vector<Line> lines_;
    std::vector<Section> sections_;
    std::unordered_map<std::string, size_t> firstSection_; // folded name -> index
};

} // namespace octo
