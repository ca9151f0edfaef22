// Our profile store against Wine's own private-profile functions on the same files: a
// corpus of hand-made files for every reading rule, and random files of mixed lines,
// line breaks, quotes, NULs and garbage. Reads must agree in return value and buffer
// bytes; after the same writes, Wine must read our file as it reads its own, and our store
// must read it as Wine does.
#include "settings/ProfileStore.h"
#include "win32/Win32FileAccess.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace octo {
namespace {

constexpr char kSentinel = '\x7f';
constexpr uint32_t kSlack = 8; // sentinel bytes past the end of every buffer
constexpr int kRandomFiles = 60;
constexpr int kRandomWriteFiles = 30;
constexpr int kWritesPerFile = 12;
constexpr uint32_t kLongLine = 70000;

// ---- counting --------------------------------------------------------------------------

struct Tally {
    long comparisons = 0;
    long files = 0;
    long quotedBoundaries = 0;
};

Tally& tally() {
    static Tally t;
    return t;
}

class TallyReport : public ::testing::Environment {
public:
    void TearDown() override {
        std::printf("differential: %ld comparisons on %ld files (%ld quoted values exactly "
                    "filling the buffer, where Wine drops a character)\n",
                    tally().comparisons, tally().files, tally().quotedBoundaries);
    }
};

const bool kTallyRegistered = (::testing::AddGlobalTestEnvironment(new TallyReport), true);

// ---- files -------------------------------------------------------------------------------

std::string tempFolder() {
    static const std::string folder = [] {
        char base[MAX_PATH];
        GetTempPathA(sizeof base, base);
        std::string f = std::string(base) + "octo_diff_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(f.c_str(), nullptr);
        return f + "\\";
    }();
    return folder;
}

void writeFile(const std::string& path, const std::string& bytes) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    DWORD put = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
    CloseHandle(h);
    ++tally().files;
}

std::string readFile(const std::string& path) {
    std::string bytes;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return "<missing>";
    }
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        bytes.append(chunk, got);
    }
    CloseHandle(h);
    return bytes;
}

// Wine keeps a parsed copy of the last files; this call makes it look at the file again.
void flushWine(const std::string& path) {
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
}

// Bytes as text, each control or non-ASCII byte as \xNN.
std::string printable(std::string_view bytes) {
    std::string out;
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        if (c < 0x20 || c >= 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string show(const char* s) {
    return s ? "\"" + printable(s) + "\"" : std::string("NULL");
}

std::string showBytes(const std::vector<char>& b, size_t n) {
    return printable(std::string_view(b.data(), std::min(n, b.size())));
}

// ---- one comparison ----------------------------------------------------------------------

struct Query {
    const char* section;
    const char* key;
    const char* def;
    uint32_t size;
};

// Wine drops the last character of a quoted value (or default) whose text between the
// quotes exactly fills the buffer: "dq" in a buffer of 3 gives "d". Our store gives "dq",
// which fits. Such a pair is counted, not failed.
bool quotedBoundary(const std::string& wineFile, const Query& q, DWORD ra, uint32_t rb,
                    const std::vector<char>& a, const std::vector<char>& b) {
    if (!q.key || q.size < 2 || rb != q.size - 1 || ra + 1 != rb ||
        !std::equal(a.begin(), a.begin() + ra, b.begin())) {
        return false;
    }
    std::vector<char> full(q.size + 2, kSentinel);
    const DWORD whole = GetPrivateProfileStringA(q.section, q.key, q.def, full.data(), q.size + 1,
                                                 wineFile.c_str());
    return whole == rb && std::equal(full.begin(), full.begin() + whole, b.begin());
}

// Wine reads wineFile and our store reads ourFile; both must give the same answer.
void compareString(ProfileStore& ours, const std::string& wineFile, const Query& q,
                   const std::string& context) {
    std::vector<char> a(q.size + kSlack, kSentinel);
    std::vector<char> b(q.size + kSlack, kSentinel);
    const DWORD ra =
        GetPrivateProfileStringA(q.section, q.key, q.def, a.data(), q.size, wineFile.c_str());
    const uint32_t rb = ours.getString(q.section, q.key, q.def, b.data(), q.size);
    ++tally().comparisons;
    const size_t compared = q.size == 0 ? kSlack : std::min<size_t>(ra + 1, q.size);
    const bool same = ra == rb && std::equal(a.begin(), a.begin() + compared, b.begin());
    if (!same && quotedBoundary(wineFile, q, ra, rb, a, b)) {
        ++tally().quotedBoundaries;
        return;
    }
    EXPECT_TRUE(same) << "MISMATCH " << context << " | GetPrivateProfileString(" << show(q.section)
                      << ", " << show(q.key) << ", " << show(q.def) << ", " << q.size << ")"
                      << " | wine: " << ra << " [" << showBytes(a, compared) << "]"
                      << " | ours: " << rb << " [" << showBytes(b, compared) << "]";
}

void compareInt(ProfileStore& ours, const std::string& wineFile, const char* section,
                const char* key, int def, const std::string& context) {
    const UINT ra = GetPrivateProfileIntA(section, key, def, wineFile.c_str());
    const uint32_t rb = ours.getInt(section, key, def);
    ++tally().comparisons;
    EXPECT_EQ(ra, rb) << "MISMATCH " << context << " | GetPrivateProfileInt(" << show(section)
                      << ", " << show(key) << ", " << def << ")";
}

void compareSectionNames(ProfileStore& ours, const std::string& wineFile, uint32_t size,
                         const std::string& context) {
    std::vector<char> a(size + kSlack, kSentinel);
    std::vector<char> b(size + kSlack, kSentinel);
    const DWORD ra = GetPrivateProfileSectionNamesA(a.data(), size, wineFile.c_str());
    const uint32_t rb = ours.getSectionNames(b.data(), size);
    ++tally().comparisons;
    // Wine leaves the very last byte of a cut list unwritten: compare up to the return
    // value and the NUL after it.
    const size_t compared = size == 0 ? kSlack : std::min<size_t>(ra + 1, size);
    const bool same = ra == rb && std::equal(a.begin(), a.begin() + compared, b.begin());
    EXPECT_TRUE(same) << "MISMATCH " << context << " | GetPrivateProfileSectionNames(" << size
                      << ")"
                      << " | wine: " << ra << " [" << showBytes(a, compared) << "]"
                      << " | ours: " << rb << " [" << showBytes(b, compared) << "]";
}

// ---- the queries a file gets ---------------------------------------------------------------

const std::vector<const char*> kDefaults = {nullptr,   "",    "def",    "  pad  ",
                                            "tail   ", "'q'", "\"dq\"", "'"};
const std::vector<uint32_t> kSizes = {0, 1, 2, 3, 5, 8, 30, 260};
const std::vector<uint32_t> kNameSizes = {0, 1, 2, 3, 4, 5, 6, 9, 12, 20, 64, 5000};

std::string folded(const std::string& s, bool upper) {
    std::string out = s;
    for (char& c : out) {
        if (upper && c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (!upper && c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// Every name given, with case and blank variants, and one that is nowhere.
std::vector<std::string> variants(const std::vector<std::string>& names) {
    std::set<std::string> out;
    for (const std::string& n : names) {
        out.insert(n);
        out.insert(folded(n, true));
        out.insert(folded(n, false));
        out.insert(" " + n + "\t");
    }
    out.insert("NoSuchName");
    return {out.begin(), out.end()};
}

struct Corpus {
    std::string name;
    std::string bytes;
    std::vector<std::string> sections;
    std::vector<std::string> keys;
};

// Reads through the given names in full: strings with every default and buffer size for
// the first few, fewer combinations for the rest.
void compareReads(ProfileStore& ours, const std::string& wineFile, const Corpus& c, bool thorough) {
    flushWine(wineFile);
    const int failuresBefore = ::testing::UnitTest::GetInstance()->failed_test_count();
    const auto* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    const int partsBefore = result->total_part_count();
    struct ShowFileOnFailure {
        const Corpus& c;
        const ::testing::TestResult* result;
        int partsBefore;
        ~ShowFileOnFailure() {
            if (result->total_part_count() > partsBefore) {
                std::vector<char> bytes(c.bytes.begin(), c.bytes.end());
                std::printf("FILE %s: [%s]\n", c.name.c_str(),
                            showBytes(bytes, bytes.size()).c_str());
            }
        }
    } show{c, result, partsBefore};
    (void)failuresBefore;
    const auto sections = variants(c.sections);
    const auto keys = variants(c.keys);
    for (uint32_t size : kNameSizes) {
        compareSectionNames(ours, wineFile, size, c.name);
    }
    for (const std::string& s : sections) {
        compareString(ours, wineFile, {s.c_str(), nullptr, "none", 260}, c.name);
        compareString(ours, wineFile, {s.c_str(), nullptr, nullptr, 7}, c.name);
        for (const std::string& k : keys) {
            compareInt(ours, wineFile, s.c_str(), k.c_str(), -7, c.name);
            if (thorough) {
                for (const char* d : kDefaults) {
                    for (uint32_t size : kSizes) {
                        compareString(ours, wineFile, {s.c_str(), k.c_str(), d, size}, c.name);
                    }
                }
            } else {
                compareString(ours, wineFile, {s.c_str(), k.c_str(), "dflt", 260}, c.name);
                compareString(ours, wineFile, {s.c_str(), k.c_str(), nullptr, 4}, c.name);
            }
        }
    }
}

struct Write {
    std::optional<std::string> section, key, value;
};

const char* ptr(const std::optional<std::string>& s) {
    return s ? s->c_str() : nullptr;
}

// A file for Wine and one for our store.
struct Twins {
    std::string wine;
    std::string ours;
};

class Differential : public ::testing::Test {
protected:
    Differential() : ours(makeWin32FileAccess()) {}

    std::string file(const std::string& name) { return tempFolder() + name; }

    // Both files hold bytes, Wine has let go of its own, and our store reads the other.
    Twins twins(const std::string& wineName, const std::string& ourName, const std::string& bytes) {
        Twins files{file(wineName), file(ourName)};
        writeFile(files.wine, bytes);
        writeFile(files.ours, bytes);
        flushWine(files.wine);
        ours.setPath(files.ours);
        return files;
    }

    // The same write through Wine on its file and through our store: whether each did it.
    std::pair<bool, bool> writeBoth(const Write& w, const Twins& files) {
        const BOOL wine = WritePrivateProfileStringA(ptr(w.section), ptr(w.key), ptr(w.value),
                                                     files.wine.c_str());
        const bool our = ours.writeString(ptr(w.section), ptr(w.key), ptr(w.value));
        ++tally().comparisons;
        return {wine != FALSE, our};
    }

    ProfileStore ours;
};

// ---- hand-made files: every reading rule --------------------------------------------------

std::vector<Corpus> handMade() {
    const std::string nul(1, '\0');
    return {
        {"line-breaks", "[A]\r\nk=1\n[B]\rk=2\r\r\n\n[C]\n\rk=3", {"A", "B", "C"}, {"k"}},
        {"no-final-newline", "[S]\r\nx=last", {"S"}, {"x"}},
        {"trimming", " \t[ Sec ] ; c\r\n\v k \f= \x1a v \t \r\n", {"Sec", " Sec "}, {"k"}},
        {"headers",
         "[a]b]\r\n1=x\r\n[Sec\r\n2=y\r\n[]\r\n3=z\r\n[ ]\r\n4=w\r\n",
         {"a]b", "a", "Sec", "[Sec"},
         {"1", "2", "3", "4", "[Sec"}},
        {"equals",
         "[S]\r\nk==x\r\nj=\r\nn\r\n =lead\r\ne = a = b\r\n",
         {"S"},
         {"k", "j", "n", "e", ""}},
        {"before-first-header", "top=1\r\nx\r\n[S]\r\nk=2\r\n", {"S", ""}, {"top", "k", "x"}},
        {"comments",
         "[S]\r\n;k=1\r\n#h=2\r\nv=a ; comment\r\nk=3\r\n",
         {"S"},
         {";k", "#h", "v", "k"}},
        {"case", "[SysTem]\r\nComPort=3\r\n", {"system", "SYSTEM"}, {"comport", "COMPORT"}},
        {"duplicates",
         "[S]\r\nk\r\nk=v\r\nd=1\r\nd=2\r\n[s]\r\nz=1\r\nd=3\r\n[T]\r\n[S]\r\nq=1\r\n",
         {"S", "T"},
         {"k", "d", "z", "q"}},
        {"blanks-inside",
         "[Sec Name]\r\nkey name=v\r\n",
         {"Sec Name", "SecName", "Sec  Name"},
         {"key name", "keyname"}},
        {"quotes",
         "[Q]\r\na='x'\r\nb=\"y\"\r\nc='z\"\r\nd=''\r\ne='\r\nf=\" spaced \"\r\ng='a'b'\r\n"
         "h=\"abcdef\"\r\n",
         {"Q"},
         {"a", "b", "c", "d", "e", "f", "g", "h"}},
        {"nul-bytes",
         "[S" + nul + "x]\r\nk" + nul + "j=v" + nul + "w\r\n[T]\r\na=1" + nul + "\r\nb=2\r\n",
         {"S", "T"},
         {"k", "kj", "a", "b"}},
        {"garbage",
         "\x01\x02\xff\xfe[\x80]\r\n[G]\r\n\x7f\x1b=\x90\r\nk=\xe9t\xe9\r\nz=1\r\n",
         {"G"},
         {"k", "z"}},
        {"integers",
         "[I]\r\na=12\r\nb=012\r\nc=0x1F\r\nd=0X1F\r\ne=0o17\r\nf=0b101\r\ng=-5\r\nh=+7\r\n"
         "i=12k\r\nj=1.5\r\nk=k12\r\nl=0x\r\nm=--5\r\nn=4294967297\r\no= \t 42\r\np='9'\r\n"
         "q=123456789012345678901234567890123\r\nr=\r\ns\r\nt=0b\r\nu=0xffffffff\r\nv=-0x10\r\n",
         {"I"},
         {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k",      "l",
          "m", "n", "o", "p", "q", "r", "s", "t", "u", "v", "missing"}},
        {"empty", "", {"S"}, {"k"}},
        {"only-unnamed", "a=1\r\nb=2\r\n", {"S"}, {"a"}},
        {"long-value",
         "[L]\r\nv=" + std::string(kLongLine, 'x') + "y\r\nw=after\r\n",
         {"L"},
         {"v", "w"}},
        {"utf16",
         std::string("\xff\xfe[\0S\0]\0\r\0\n\0k\0=\0v\0\xe9\0\r\0\n\0", 24),
         {"S"},
         {"k"}},
        {"utf8-bom", "\xef\xbb\xbf[S]\r\nk=v\r\n", {"S"}, {"k"}},
    };
}

TEST_F(Differential, HandMadeFilesReadTheSame) {
    for (const Corpus& c : handMade()) {
        const std::string path = file("hand.ini");
        writeFile(path, c.bytes);
        ours.setPath(path);
        compareReads(ours, path, c, true);
    }
}

TEST_F(Differential, MissingFileGivesDefaultsAndNoNames) {
    const std::string path = file("never-written.ini");
    DeleteFileA(path.c_str());
    ours.setPath(path);
    compareReads(ours, path, {"missing", "", {"S"}, {"k"}}, true);
}

TEST_F(Differential, SixHundredSectionsFillTheNameBuffer) {
    std::string bytes;
    for (int i = 0; i < 600; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "[Target_%03d]\r\nk=%d\r\n", i, i);
        bytes += name;
    }
    const std::string path = file("many.ini");
    writeFile(path, bytes);
    ours.setPath(path);
    flushWine(path);
    for (uint32_t size : {5000u, 4998u, 4999u, 7000u, 6601u, 6602u, 6600u, 100u}) {
        compareSectionNames(ours, path, size, "600 sections");
    }
}

// ---- random files ---------------------------------------------------------------------------

class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<uint32_t>(state_ >> 11);
    }
    uint32_t below(uint32_t n) { return next() % n; }
    template <typename T>
    const T& pick(const std::vector<T>& v) {
        return v[below(static_cast<uint32_t>(v.size()))];
    }

private:
    uint64_t state_;
};

const std::vector<std::string> kSectionWords = {"System",      "system",      "User", "Timing",
                                                "ZEL816 A110", "ZEL816 a110", "a]b",  "S",
                                                "Sec tion",    "Version"};
const std::vector<std::string> kKeyWords = {"ComPort", "comport", "Group", "Vpp", "k",
                                            "K",       ";k",      "#k",    "a b", "DevType"};
const std::vector<std::string> kValueWords = {
    "1",   "  12k",      "0x1F",  "-5",          "'q'",     "\"dq\"", "'mis\"", "\"\"",
    "''",  "'",          "v ; c", "  spaced  ",  "\tTab\t", "0b101",  "0o17",   "+7",
    "--5", "4294967297", "",      "ZEL816 A110", "=x",      "a=b",    "[not]",  "x\x1ay"};
const std::vector<std::string> kBreaks = {"\r\n", "\n", "\r", "\n\n", "\r\r\n", "\r\n\r\n"};
const std::vector<std::string> kPads = {"", "", "", " ", "\t", "  \t "};

std::string garbage(Rng& rng, bool withNul) {
    std::string out;
    const uint32_t n = 1 + rng.below(30);
    for (uint32_t i = 0; i < n; ++i) {
        char c = static_cast<char>(rng.below(256));
        if (c == '\r' || c == '\n' || (!withNul && c == '\0')) {
            c = '#';
        }
        out += c;
    }
    return out;
}

std::string randomValue(Rng& rng) {
    switch (rng.below(8)) {
    case 0:
        return garbage(rng, false);
    case 1:
        return std::string(1 + rng.below(60), static_cast<char>('a' + rng.below(26)));
    default:
        return rng.pick(kValueWords);
    }
}

Corpus randomFile(uint64_t seed) {
    Rng rng(seed);
    Corpus c;
    c.name = "random file " + std::to_string(seed);
    c.sections = kSectionWords;
    c.keys = kKeyWords;
    const uint32_t lines = 1 + rng.below(40);
    for (uint32_t i = 0; i < lines; ++i) {
        std::string line;
        switch (rng.below(12)) {
        case 0:
        case 1:
            line = rng.pick(kPads) + "[" + rng.pick(kPads) + rng.pick(kSectionWords) +
                   rng.pick(kPads) + "]" + (rng.below(4) == 0 ? " ; c" : "");
            break;
        case 2:
            line = "[" + rng.pick(kSectionWords); // no closing bracket
            break;
        case 3:
            line = rng.pick(kKeyWords) + rng.pick(kPads); // no '='
            break;
        case 4:
            line = garbage(rng, true);
            break;
        case 5:
            line = rng.pick(kPads);
            break;
        default:
            line = rng.pick(kPads) + rng.pick(kKeyWords) + rng.pick(kPads) + "=" + rng.pick(kPads) +
                   randomValue(rng) + rng.pick(kPads);
            break;
        }
        c.bytes += line;
        if (i + 1 < lines || rng.below(3) != 0) {
            c.bytes += rng.pick(kBreaks);
        }
    }
    return c;
}

TEST_F(Differential, RandomFilesReadTheSame) {
    for (int seed = 1; seed <= kRandomFiles; ++seed) {
        const Corpus c = randomFile(static_cast<uint64_t>(seed));
        const std::string path = file("random.ini");
        writeFile(path, c.bytes);
        ours.setPath(path);
        compareReads(ours, path, c, false);
    }
}

// ---- writes ---------------------------------------------------------------------------------

Write randomWrite(Rng& rng) {
    Write w;
    w.section = rng.below(10) == 0 ? "New Section" : rng.pick(kSectionWords);
    const uint32_t kind = rng.below(10);
    if (kind == 0) {
        return w; // delete the section
    }
    w.key = rng.below(6) == 0 ? "NewKey" : rng.pick(kKeyWords);
    if (kind == 1) {
        return w; // delete the key
    }
    static const std::vector<std::string> values = {"1",     "",     "  lead", "trail  ", "'q'",
                                                    "a b c", "0x10", "v;c",    "=x"};
    w.value = rng.pick(values);
    return w;
}

void compareAfterWrites(ProfileStore& ours, const std::string& wineFile, const std::string& ourFile,
                        const Corpus& c) {
    flushWine(wineFile);
    flushWine(ourFile);
    // Wine must read our file as it reads its own...
    std::vector<std::string> sections = c.sections;
    sections.push_back("New Section");
    std::vector<std::string> keys = c.keys;
    keys.push_back("NewKey");
    for (uint32_t size : {3u, 5000u}) {
        std::vector<char> a(size, kSentinel), b(size, kSentinel);
        const DWORD ra = GetPrivateProfileSectionNamesA(a.data(), size, wineFile.c_str());
        const DWORD rb = GetPrivateProfileSectionNamesA(b.data(), size, ourFile.c_str());
        ++tally().comparisons;
        EXPECT_TRUE(ra == rb &&
                    std::equal(a.begin(), a.begin() + std::min<size_t>(ra + 1, size), b.begin()))
            << c.name << ": section names after the writes\n  wine file: " << showBytes(a, ra)
            << "\n  our file:  " << showBytes(b, rb);
        compareSectionNames(ours, ourFile, size, c.name + " (our file)");
    }
    for (const std::string& s : sections) {
        for (const std::string& k : keys) {
            char a[300], b[300];
            const DWORD ra =
                GetPrivateProfileStringA(s.c_str(), k.c_str(), "-", a, sizeof a, wineFile.c_str());
            const DWORD rb =
                GetPrivateProfileStringA(s.c_str(), k.c_str(), "-", b, sizeof b, ourFile.c_str());
            ++tally().comparisons;
            EXPECT_TRUE(ra == rb && std::memcmp(a, b, ra) == 0)
                << c.name << ": [" << s << "] " << k
                << " after the writes\n  wine file: " << std::string(a, ra)
                << "\n  our file:  " << std::string(b, rb) << "\n--- wine file ---\n"
                << readFile(wineFile) << "\n--- our file ---\n"
                << readFile(ourFile);
            // ...and our store must read it as Wine does.
            compareString(ours, ourFile, {s.c_str(), k.c_str(), "-", 300}, c.name);
        }
        compareString(ours, ourFile, {s.c_str(), nullptr, "-", 300}, c.name);
    }
}

TEST_F(Differential, WritesLeaveFilesThatReadTheSame) {
    for (int seed = 1; seed <= kRandomWriteFiles; ++seed) {
        const Corpus c = randomFile(1000 + static_cast<uint64_t>(seed));
        const Twins files = twins("wine-writes.ini", "our-writes.ini", c.bytes);
        Rng rng(static_cast<uint64_t>(seed));
        for (int i = 0; i < kWritesPerFile; ++i) {
            const Write w = randomWrite(rng);
            const auto [wine, our] = writeBoth(w, files);
            EXPECT_EQ(wine, our) << c.name << ": write " << show(ptr(w.section)) << ", "
                                 << show(ptr(w.key)) << ", " << show(ptr(w.value));
        }
        compareAfterWrites(ours, files.wine, files.ours, c);
    }
}

TEST_F(Differential, HandMadeWritesLeaveFilesThatReadTheSame) {
    const std::vector<std::pair<std::string, std::vector<Write>>> cases = {
        {"[S]\r\nk=1\r\n", {{"S", "k", "2"}, {"S", "new", "v"}, {"T", "a", "b"}}},
        {"[S]\r\nk=1", {{"S", "j", "2"}, {"S", "k", "  lead and trail  "}}},
        {"[S]\nK = old ; c\n\n[T]\nx=1\n", {{"s", "k", "new"}, {"S", "y", "1"}, {"T", "x", {}}}},
        {"[S]\r\nk\r\nk=v\r\n", {{"S", "k", "w"}}},
        {"[S]\r\n[S]\r\nk=1\r\n", {{"S", "k", "2"}, {"S", {}, {}}, {"S", "k", "3"}}},
        {"[A]\r\na=1\r\n\r\n[B]\r\nb=1\r\n", {{"A", {}, {}}, {"B", "b", {}}, {"B", "c", ""}}},
        {"top=1\r\n[S]\r\nk=1\r\n", {{"S", "top", "2"}, {"Q", {}, {}}, {"S", "zz", {}}}},
        {"[S]\rk=1\r", {{"S", "k", "2"}, {"S", "m", "3"}, {"N", "n", "4"}}},
    };
    int index = 0;
    for (const auto& [bytes, writes] : cases) {
        const Twins files = twins("wine-hand.ini", "our-hand.ini", bytes);
        Corpus c{"hand-made write case " + std::to_string(index++),
                 bytes,
                 {"S", "T", "A", "B", "N", "Q"},
                 {"k", "j", "new", "a", "b", "c", "x", "y", "m", "n", "top", "zz"}};
        for (const Write& w : writes) {
            const auto [wine, our] = writeBoth(w, files);
            EXPECT_EQ(wine, our) << c.name;
        }
        compareAfterWrites(ours, files.wine, files.ours, c);
    }
}

TEST_F(Differential, WriteWithoutSectionFailsAndMissingFolderFails) {
    const std::string path = file("nosection.ini");
    writeFile(path, "[S]\r\nk=1\r\n");
    ours.setPath(path);
    EXPECT_EQ(WritePrivateProfileStringA(nullptr, "k", "2", path.c_str()) != FALSE,
              ours.writeString(nullptr, "k", "2"));
    const std::string nowhere = file("no-such-folder\\x.ini");
    ours.setPath(nowhere);
    EXPECT_EQ(WritePrivateProfileStringA("S", "k", "2", nowhere.c_str()) != FALSE,
              ours.writeString("S", "k", "2"));
    tally().comparisons += 2;
}

// Wine creates a missing file on a real write; our store never creates the configuration
// file (the program refuses to run without it), and deleting from a missing file is no
// failure for either.
TEST_F(Differential, MissingFileIsCreatedByWineButNeverByUs) {
    const std::string wineFile = file("created-by-wine.ini");
    const std::string ourFile = file("never-created.ini");
    DeleteFileA(wineFile.c_str());
    DeleteFileA(ourFile.c_str());
    ours.setPath(ourFile);
    EXPECT_TRUE(WritePrivateProfileStringA("S", "k", "1", wineFile.c_str()));
    EXPECT_FALSE(ours.writeString("S", "k", "1"));
    EXPECT_EQ(GetFileAttributesA(ourFile.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(WritePrivateProfileStringA("S", "k", nullptr, ourFile.c_str()) != FALSE,
              ours.writeString("S", "k", nullptr));
    EXPECT_EQ(GetFileAttributesA(ourFile.c_str()), INVALID_FILE_ATTRIBUTES);
    tally().comparisons += 2;
}

// Writes a file that cannot be written must refuse: a change, the same value, a new key,
// deleting a key and deleting the section.
const std::vector<Write> kRefusedWrites = {
    {"S", "k", "2"}, {"S", "k", "1"}, {"S", "n", "v"}, {"S", "k", {}}, {"S", {}, {}}};

TEST_F(Differential, LockedFileRefusesEveryWrite) {
    const std::string bytes = "[S]\r\nk=1\r\n";
    const Twins files = twins("locked-wine.ini", "locked-ours.ini", bytes);
    // Another holder that shares the files for reading only.
    HANDLE a = CreateFileA(files.wine.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    HANDLE b = CreateFileA(files.ours.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(a, INVALID_HANDLE_VALUE);
    ASSERT_NE(b, INVALID_HANDLE_VALUE);
    for (const Write& w : kRefusedWrites) {
        const auto [wine, our] = writeBoth(w, files);
        EXPECT_FALSE(wine);
        EXPECT_FALSE(our);
    }
    CloseHandle(a);
    CloseHandle(b);
    EXPECT_EQ(readFile(files.wine), bytes);
    EXPECT_EQ(readFile(files.ours), bytes);
}

// Only an unprivileged user sees Wine refuse a read-only file (a privileged one writes
// through the flag); ctest runs this case once more as such a user.
TEST_F(Differential, ReadOnlyFileRefusesEveryWrite) {
    const std::string bytes = "[S]\r\nk=1\r\n";
    const Twins files = twins("readonly-wine.ini", "readonly-ours.ini", bytes);
    SetFileAttributesA(files.wine.c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA(files.ours.c_str(), FILE_ATTRIBUTE_READONLY);
    bool wineWroteThrough = false;
    for (const Write& w : kRefusedWrites) {
        const auto [wine, our] = writeBoth(w, files);
        wineWroteThrough = wineWroteThrough || wine;
        // Ours refuses whoever runs it: the read-only attribute is what Windows honours.
        EXPECT_FALSE(our);
    }
    EXPECT_EQ(readFile(files.ours), bytes);
    SetFileAttributesA(files.wine.c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesA(files.ours.c_str(), FILE_ATTRIBUTE_NORMAL);
    // The unprivileged run sets OCTO_EXPECT_UNPRIVILEGED: there Wine must refuse too.
    if (wineWroteThrough && !std::getenv("OCTO_EXPECT_UNPRIVILEGED")) {
        GTEST_SKIP() << "Wine writes through the read-only flag for a privileged user; the "
                        "comparison runs as an unprivileged user in differential_profile_readonly";
    }
    EXPECT_EQ(readFile(files.wine), bytes);
}

} // namespace
} // namespace octo
