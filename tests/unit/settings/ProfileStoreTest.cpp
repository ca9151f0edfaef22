// The profile store on real files: the reading rules of the Windows private-profile
// functions, buffer cuts and return values, integers, section-name lists, in-place edits
// that keep every other byte, the atomic replace, the cache that must notice every change,
// refused values, read-only files, and files full of garbage.
#include "settings/ProfileStore.h"
#include "CountingFileAccess.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace octo {
namespace {

namespace fs = std::filesystem;

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The file's inode and mode: a replaced file has a new inode.
struct stat statOf(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info;
}

class ProfileStoreTest : public ::testing::Test {
protected:
    ProfileStoreTest() : path(folder.file("config.ini")) { store.setPath(path); }

    void file(const std::string& bytes) { writeBytes(path, bytes); }
    std::string read(const char* section, const char* key, const char* def = "<default>",
                     uint32_t size = 260) {
        std::vector<char> buffer(size + 1, '\x7f');
        const uint32_t length = store.getString(section, key, def, buffer.data(), size);
        return std::string(buffer.data(), length);
    }

    testing::TempFolder folder{"octo_profile"};
    std::string path;
    ProfileStore store;
};

// ---- reading ----------------------------------------------------------------------------

struct ReadCase {
    const char* what;
    std::string file;
    const char* section;
    const char* key;
    const char* expected;
};

TEST_F(ProfileStoreTest, ReadsAsThePrivateProfileFunctions) {
    const std::string nul(1, '\0');
    const std::vector<ReadCase> cases = {
        {"CR-only line breaks", "[A]\rk=1\r[B]\rk=2", "B", "k", "2"},
        {"runs of line breaks", "[A]\r\n\r\n\n\rk=1\n", "A", "k", "1"},
        {"no final line break", "[A]\r\nk=last", "A", "k", "last"},
        {"blanks trimmed", " \t[ Sec ]\r\n \v k \f=\x1a v v \t\r\n", "Sec", "k", "v v"},
        {"text after the header", "[Sec] ; c\r\nk=1\r\n", "Sec", "k", "1"},
        {"last bracket ends the name", "[a]b]\r\nk=1\r\n", "a]b", "k", "1"},
        {"header without bracket is a key", "[S]\r\n[Sec\r\nk=1\r\n", "S", "k", "1"},
        {"split at the first equals", "[S]\r\nk==x\r\n", "S", "k", "=x"},
        {"key without equals gives the default", "[S]\r\nk\r\n", "S", "k", "<default>"},
        {"empty value is no default", "[S]\r\nk=\r\n", "S", "k", ""},
        {"before the first header", "top=1\r\n[S]\r\n", "", "top", "1"},
        {"semicolon is no comment", "[S]\r\n;k=1\r\n", "S", ";k", "1"},
        {"comment text stays in the value", "[S]\r\nv=a ; c\r\n", "S", "v", "a ; c"},
        {"names in any case", "[SysTem]\r\nComPort=3\r\n", "SYSTEM", "comport", "3"},
        {"query names trimmed", "[S]\r\nk=1\r\n", " S\t", "\tk ", "1"},
        {"blanks inside names must match", "[S T]\r\nk=1\r\n", "ST", "k", "<default>"},
        {"first section only", "[S]\r\na=1\r\n[S]\r\nb=2\r\n", "S", "b", "<default>"},
        {"first key wins", "[S]\r\nk=1\r\nk=2\r\n", "S", "k", "1"},
        {"value-less key hides a later one", "[S]\r\nk\r\nk=v\r\n", "S", "k", "<default>"},
        {"single quotes stripped", "[S]\r\nk='x y'\r\n", "S", "k", "x y"},
        {"double quotes stripped", "[S]\r\nk=\" x \"\r\n", "S", "k", " x "},
        {"mismatched quotes kept", "[S]\r\nk='x\"\r\n", "S", "k", "'x\""},
        {"a lone quote kept", "[S]\r\nk='\r\n", "S", "k", "'"},
        {"two quotes give nothing", "[S]\r\nk=''\r\n", "S", "k", ""},
        {"NUL ends the value", "[S]\r\nk=ab" + nul + "cd\r\nz=1\r\n", "S", "k", "ab"},
        {"NUL ends the key", "[S]\r\nk" + nul + "x=v\r\n", "S", "k", "v"},
        {"NUL ends the section name", "[S" + nul + "x]\r\nk=v\r\n", "S", "k", "v"},
        {"garbage does not disturb later lines", "\x01\xff[\x80\r\n\x7f=\x90\r\n[S]\r\nk=1\r\n",
         "S", "k", "1"},
        {"missing section", "[S]\r\nk=1\r\n", "T", "k", "<default>"},
        {"missing key", "[S]\r\nk=1\r\n", "S", "j", "<default>"},
        {"empty file", "", "S", "k", "<default>"},
        {"8-bit bytes pass through", "[S]\r\nk=\xe9t\xe9\r\n", "S", "k", "\xe9t\xe9"},
        {"UTF-8 mark skipped", "\xef\xbb\xbf[S]\r\nk=v\r\n", "S", "k", "v"},
        {"UTF-16 file", std::string("\xff\xfe[\0S\0]\0\n\0k\0=\0\xe9\0", 16), "S", "k", "\xe9"},
    };
    for (const ReadCase& c : cases) {
        file(c.file);
        EXPECT_EQ(read(c.section, c.key), c.expected) << c.what;
    }
}

TEST_F(ProfileStoreTest, DefaultsLoseTrailingSpacesAndQuotes) {
    file("[S]\r\n");
    EXPECT_EQ(read("S", "k", "abc   "), "abc");
    EXPECT_EQ(read("S", "k", " a\t "), " a\t");
    EXPECT_EQ(read("S", "k", "'q'"), "q");
    EXPECT_EQ(read("S", "k", nullptr), "");
}

TEST_F(ProfileStoreTest, BufferCutsAndReturnValues) {
    file("[S]\r\nk=abcdef\r\nq=\"abcdef\"\r\n");
    struct Cut {
        const char* key;
        uint32_t size;
        const char* expected;
    };
    for (const Cut& c : std::vector<Cut>{{"k", 4, "abc"},
                                         {"k", 7, "abcdef"},
                                         {"k", 6, "abcde"},
                                         {"k", 1, ""},
                                         {"q", 7, "abcdef"},
                                         {"q", 3, "ab"}}) {
        EXPECT_EQ(read("S", c.key, "", c.size), c.expected) << c.key << " " << c.size;
    }
    char buffer[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(store.getString("S", "k", "", buffer, 0), 0u);
    EXPECT_EQ(buffer[0], 'x') << "a buffer of size 0 is left alone";
}

TEST_F(ProfileStoreTest, LongLinesAndLongValues) {
    const std::string longValue(70000, 'v');
    file("[S]\r\nlong=" + longValue + "\r\nafter=1\r\n");
    EXPECT_EQ(store.readString("S", "long", "", 100000), longValue);
    EXPECT_EQ(store.readString("S", "long", "", 50), std::string(49, 'v'));
    EXPECT_EQ(store.readInt("S", "after", 0), 1);
}

TEST(ProfileIntTest, ParsesAsGetPrivateProfileInt) {
    struct IntCase {
        const char* text;
        uint32_t expected;
    };
    for (const IntCase& c : std::vector<IntCase>{{"12", 12},
                                                 {"012", 12},
                                                 {"0x1F", 31},
                                                 {"0X1F", 0},
                                                 {"0o17", 15},
                                                 {"0b101", 5},
                                                 {"-5", 4294967291u},
                                                 {"+7", 7},
                                                 {"12k", 12},
                                                 {"1.5", 1},
                                                 {"k12", 0},
                                                 {"0x", 0},
                                                 {"--5", 0},
                                                 {"4294967297", 1},
                                                 {" \t 42", 42},
                                                 {"0xffffffff", 4294967295u},
                                                 {"-0x10", 4294967280u}}) {
        EXPECT_EQ(parseProfileInt(c.text), c.expected) << c.text;
    }
}

TEST_F(ProfileStoreTest, IntegersUseTheFirst29CharactersAndTheDefaultWhenEmpty) {
    file("[I]\r\nq='9'\r\nlong=" + std::string(29, '1') + "9\r\nempty=\r\nbare\r\n");
    EXPECT_EQ(store.readInt("I", "q", -1), 9);
    EXPECT_EQ(store.getInt("I", "long", 0), parseProfileInt(std::string(29, '1')));
    EXPECT_EQ(store.readInt("I", "empty", 77), 77);
    EXPECT_EQ(store.readInt("I", "bare", 77), 77);
    EXPECT_EQ(store.readInt("I", "missing", -3), -3);
}

TEST_F(ProfileStoreTest, SectionNamesInFileOrderWithTheirCuts) {
    file("top=1\r\n[a]\r\n[]\r\n[bb]\r\n[a]\r\n");
    std::vector<char> buffer(64, '\x7f');
    ASSERT_EQ(store.getSectionNames(buffer.data(), 64), 7u);
    EXPECT_EQ(std::string(buffer.data(), 8), std::string("a\0bb\0a\0\0", 8));
    EXPECT_EQ(store.sectionNames(), (std::vector<std::string>{"a", "bb", "a"}));
    // a\0bb\0a\0 needs 7 bytes: all fit when 7 <= size - 2, an exact fit included is cut.
    ASSERT_EQ(store.getSectionNames(buffer.data(), 9), 7u);
    // The name that does not fit is cut to the room left less one: here "a" stays whole.
    ASSERT_EQ(store.getSectionNames(buffer.data(), 8), 6u);
    EXPECT_EQ(std::string(buffer.data(), 8), std::string("a\0bb\0a\0\0", 8));
    ASSERT_EQ(store.getSectionNames(buffer.data(), 5), 3u);
    EXPECT_EQ(std::string(buffer.data(), 4), std::string("a\0b\0", 4));
    ASSERT_EQ(store.getSectionNames(buffer.data(), 1), 0u);
    EXPECT_EQ(buffer[0], '\0');
}

TEST_F(ProfileStoreTest, SixHundredNamesIn5000BytesEndInACutName) {
    std::string bytes;
    for (int i = 0; i < 600; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "[Target_%03d]\r\n", i);
        bytes += line;
    }
    file(bytes);
    std::vector<char> buffer(5000);
    EXPECT_EQ(store.getSectionNames(buffer.data(), 5000), 4998u);
    const std::string last(buffer.data() + 4998 - 4, 4);
    EXPECT_EQ(last, "Targ");
    EXPECT_EQ(store.sectionNames().size(), 600u) << "the C++ list is never cut";
}

TEST_F(ProfileStoreTest, KeyListLeavesOutCommentsAndLinesWithoutEquals) {
    file("[S]\r\na=1\r\n;c=2\r\nbare\r\nb=\r\n");
    std::vector<char> buffer(32, '\x7f');
    ASSERT_EQ(store.getString("S", nullptr, "", buffer.data(), 32), 4u);
    EXPECT_EQ(std::string(buffer.data(), 5), std::string("a\0b\0\0", 5));
    EXPECT_EQ(read("T", nullptr, "dflt"), "dflt");
}

TEST_F(ProfileStoreTest, MissingFileReadsDefaults) {
    EXPECT_FALSE(store.fileExists());
    EXPECT_EQ(read("S", "k"), "<default>");
    EXPECT_EQ(store.readInt("S", "k", 5), 5);
    EXPECT_TRUE(store.sectionNames().empty());
}

// ---- the cache --------------------------------------------------------------------------

TEST_F(ProfileStoreTest, EveryReadSeesTheFileAsItIsNow) {
    file("[S]\r\nk=1\r\n");
    EXPECT_EQ(store.readInt("S", "k", 0), 1);
    EXPECT_EQ(store.readInt("S", "k", 0), 1);
    EXPECT_EQ(store.parseCount(), 1u) << "an unchanged file is parsed once";
    // Another program changes the value without changing the size, at once.
    file("[S]\r\nk=2\r\n");
    EXPECT_EQ(store.readInt("S", "k", 0), 2);
    // The same bytes written again: a new write time, parsed again, same answer.
    file("[S]\r\nk=2\r\n");
    EXPECT_EQ(store.readInt("S", "k", 0), 2);
    fs::remove(path);
    EXPECT_EQ(store.readInt("S", "k", 9), 9);
}

TEST_F(ProfileStoreTest, SameSizeChangeWithAnOldTimeIsStillSeen) {
    file("[S]\r\nk=1\r\n");
    const auto before = fs::last_write_time(path);
    EXPECT_EQ(store.readInt("S", "k", 0), 1);
    file("[S]\r\nk=3\r\n");
    fs::last_write_time(path, before + std::chrono::nanoseconds(1));
    EXPECT_EQ(store.readInt("S", "k", 0), 3) << "a nanosecond apart is a different file";
}

// Another program's edit within the file system's time-stamp granularity: same size, same
// write time as the version the store read.
TEST_F(ProfileStoreTest, SameSizeEditUnderAnUnchangedRecentStampIsSeenAndKept) {
    file("[S]\r\nk=1\r\nj=1\r\n");
    const auto stamp = fs::last_write_time(path);
    EXPECT_EQ(store.readInt("S", "k", 0), 1);
    file("[S]\r\nk=2\r\nj=1\r\n");
    fs::last_write_time(path, stamp);
    EXPECT_EQ(store.readInt("S", "k", 0), 2) << "the next read sees the edit";
    file("[S]\r\nk=3\r\nj=1\r\n");
    fs::last_write_time(path, stamp);
    EXPECT_TRUE(store.writeString("S", "j", "5"));
    EXPECT_EQ(readBytes(path), "[S]\r\nk=3\r\nj=5\r\n") << "the next write keeps the edit";
}

TEST_F(ProfileStoreTest, AFileWithASettledStampIsReadOnceForManyKeys) {
    testing::FileCounts counts;
    store.useFileAccess(std::make_unique<testing::CountingFileAccess>(counts));
    file("[S]\r\nk=1\r\n");
    fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(1));
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(store.readInt("S", "k", 0), 1);
    }
    EXPECT_EQ(counts.reads, 1);
}

// ---- writing ----------------------------------------------------------------------------

struct WriteCase {
    const char* what;
    std::string before;
    const char* section;
    const char* key;
    const char* value;
    std::string after;
};

TEST_F(ProfileStoreTest, WritesEditInPlaceAndKeepEveryOtherByte) {
    const std::vector<WriteCase> cases = {
        {"update keeps spelling, comments and blank lines",
         "; head\r\n\r\n[Sys]\r\n  ComPort = 1 ; old\r\n\r\nx=y\r\n", "sys", "comport", "3",
         "; head\r\n\r\n[Sys]\r\n  ComPort=3\r\n\r\nx=y\r\n"},
        {"LF file stays LF", "[S]\nk=1\nj=2\n", "S", "j", "5", "[S]\nk=1\nj=5\n"},
        {"new key after the section's last line", "[S]\r\nk=1\r\n\r\n[T]\r\n", "S", "n", "v",
         "[S]\r\nk=1\r\nn=v\r\n\r\n[T]\r\n"},
        {"new key in a section that has only its header", "[S]\n[T]\n", "S", "n", "v",
         "[S]\nn=v\n[T]\n"},
        {"new key at a last line without break", "[S]\r\nk=1", "S", "n", "v",
         "[S]\r\nk=1\r\nn=v\r\n"},
        {"new section appended", "[S]\r\nk=1\r\n", "New", "n", "v",
         "[S]\r\nk=1\r\n[New]\r\nn=v\r\n"},
        {"new section after a last line without break", "[S]\nk=1", "New", "n", "v",
         "[S]\nk=1\n[New]\nn=v\n"},
        {"first section and first key only", "[S]\r\nk=1\r\nk=2\r\n[S]\r\nk=3\r\n", "S", "k", "9",
         "[S]\r\nk=9\r\nk=2\r\n[S]\r\nk=3\r\n"},
        {"value-less key gets the value", "[S]\r\nk\r\nk=v\r\n", "S", "k", "w",
         "[S]\r\nk=w\r\nk=v\r\n"},
        {"leading blanks dropped, trailing kept", "[S]\r\n", "S", "k", " \t a b  ",
         "[S]\r\nk=a b  \r\n"},
        {"empty value", "[S]\r\nk=1\r\n", "S", "k", "", "[S]\r\nk=\r\n"},
        {"delete a key", "[S]\r\na=1\r\nk=2\r\nz=3\r\n", "S", "k", nullptr,
         "[S]\r\na=1\r\nz=3\r\n"},
        {"delete a section", "[A]\r\na=1\r\n; c\r\n\r\n[B]\r\nb=2\r\n", "a", nullptr, nullptr,
         "[B]\r\nb=2\r\n"},
        {"delete the last section", "[A]\r\na=1\r\n[B]\r\nb=2", "B", nullptr, nullptr,
         "[A]\r\na=1\r\n"},
        {"garbage around survives", "\xff\x01garbage\r\n[S]\r\n\x80=\x81\r\nk=1\r\n", "S", "k", "2",
         "\xff\x01garbage\r\n[S]\r\n\x80=\x81\r\nk=2\r\n"},
        {"UTF-16 stays UTF-16",
         std::string("\xff\xfe[\0S\0]\0\n\0k\0=\0"
                     "1\0\n\0",
                     18),
         "S", "k", "22",
         std::string("\xff\xfe[\0S\0]\0\n\0k\0=\0"
                     "2\0"
                     "2\0\n\0",
                     20)},
    };
    for (const WriteCase& c : cases) {
        file(c.before);
        EXPECT_TRUE(store.writeString(c.section, c.key, c.value)) << c.what;
        EXPECT_EQ(readBytes(path), c.after) << c.what;
    }
}

TEST_F(ProfileStoreTest, WrittenValuesReadBack) {
    file("[System]\r\n");
    EXPECT_TRUE(store.writeInt("System", "ComPort", 7));
    EXPECT_TRUE(store.writeInt("Timing", "TimeOctoProg", -12));
    EXPECT_TRUE(store.write("System", "DevTypeName", "ZEL816 A110"));
    EXPECT_EQ(store.readInt("System", "ComPort", 0), 7);
    EXPECT_EQ(store.readInt("Timing", "TimeOctoProg", 0), -12);
    EXPECT_EQ(store.readString("System", "DevTypeName", "", 50), "ZEL816 A110");
    EXPECT_TRUE(store.deleteKey("System", "ComPort"));
    EXPECT_EQ(store.readInt("System", "ComPort", 42), 42);
    EXPECT_TRUE(store.deleteSection("Timing"));
    EXPECT_EQ(store.sectionNames(), std::vector<std::string>{"System"});
}

TEST_F(ProfileStoreTest, RefusedWritesLeaveTheFileAlone) {
    const std::string bytes = "[S]\r\nk=1\r\n";
    file(bytes);
    struct Refused {
        const char* what;
        const char* section;
        const char* key;
        const char* value;
    };
    for (const Refused& r :
         std::vector<Refused>{{"CR in the value", "S", "k", "a\rb"},
                              {"LF in the value", "S", "k", "a\nb"},
                              {"line break in the key", "S", "k\nx", "1"},
                              {"line break in the section", "S\r\n[T]", "k", "1"},
                              {"equals in the key", "S", "a=b", "1"},
                              {"key like a header", "S", "[T]", "1"},
                              {"empty key", "S", " ", "1"},
                              {"empty section", " ", "k", "1"},
                              {"no section", nullptr, "k", "1"}}) {
        EXPECT_FALSE(store.writeString(r.section, r.key, r.value)) << r.what;
        EXPECT_EQ(readBytes(path), bytes) << r.what;
    }
}

TEST_F(ProfileStoreTest, SeveralValuesInOneReplaceLeaveWhatWritesOneByOneLeave) {
    const std::string start =
        "; head\r\n[Diagnostic]\r\nBusy=1\r\nConnected = 3\r\n[Other]\r\nx=1\r\n";
    const std::vector<ProfileValue> values = {
        {"Connected", "7"}, {"OverAll", "5"}, {"Connected", " 9"}, {"Busy", "1"}};
    file(start);
    for (const ProfileValue& v : values) {
        ASSERT_TRUE(store.write("Diagnostic", v.key, v.value));
    }
    const std::string oneByOne = readBytes(path);
    file(start);
    ASSERT_TRUE(store.writeValues("Diagnostic", values));
    EXPECT_EQ(readBytes(path), oneByOne);
    // A new section, as the first write would add it.
    file(start);
    ASSERT_TRUE(store.writeValues("New", values));
    EXPECT_EQ(store.readInt("New", "Connected", 0), 9);
    EXPECT_EQ(store.readInt("New", "OverAll", 0), 5);

    // One refused value: nothing at all is written.
    file(start);
    const std::vector<ProfileValue> refused = {{"Connected", "7"}, {"OverAll", "5\r\n[X]"}};
    EXPECT_FALSE(store.writeValues("Diagnostic", refused));
    EXPECT_EQ(readBytes(path), start);
}

TEST_F(ProfileStoreTest, TheStoreNeverCreatesTheFile) {
    EXPECT_FALSE(store.writeString("S", "k", "1"));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(store.writeString("S", "k", nullptr)) << "nothing to delete is no failure";
    EXPECT_FALSE(fs::exists(path));
    ProfileStore nowhere(makeStdFileAccess(), folder.file("no/such/folder/x.ini"));
    EXPECT_FALSE(nowhere.writeString("S", "k", "1"));
}

TEST_F(ProfileStoreTest, ReplaceIsAtomicAndLeavesNoTemporaryFile) {
    file("[S]\r\nk=1\r\n");
    ::chmod(path.c_str(), 0640);
    const struct stat before = statOf(path);
    EXPECT_TRUE(store.writeString("S", "k", "2"));
    const struct stat after = statOf(path);
    EXPECT_NE(before.st_ino, after.st_ino) << "a new file renamed over the old one";
    EXPECT_EQ(after.st_mode & 07777, 0640u) << "the file keeps its permissions";
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"config.ini"});
}

TEST_F(ProfileStoreTest, UnchangedValueRewritesNothing) {
    file("[S]\r\nk=1\r\n");
    const struct stat before = statOf(path);
    EXPECT_TRUE(store.writeString("S", "k", "1"));
    const struct stat after = statOf(path);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(ProfileStoreTest, ReadOnlyFileMakesEveryWriteFail) {
    const std::string bytes = "[S]\r\nk=1\r\n";
    file(bytes);
    ::chmod(path.c_str(), 0444);
    for (const char* value : {"2", "1"}) {
        EXPECT_FALSE(store.writeString("S", "k", value)) << value;
    }
    EXPECT_FALSE(store.writeString("S", "k", nullptr));
    EXPECT_FALSE(store.writeString("S", nullptr, nullptr));
    EXPECT_EQ(readBytes(path), bytes);
    EXPECT_EQ(store.readInt("S", "k", 0), 1) << "reading still works";
}

// ---- bad input --------------------------------------------------------------------------

TEST_F(ProfileStoreTest, RandomGarbageNeverBreaksReadsOrOtherBytes) {
    std::mt19937 random(1234);
    for (int round = 0; round < 200; ++round) {
        std::string bytes(random() % 4000, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(random() % 256);
        }
        file(bytes);
        store.sectionNames();
        read("S", "k", "d", 1 + random() % 300);
        store.readInt("System", "ComPort", 1);
        char names[64];
        store.getSectionNames(names, sizeof names);
        ASSERT_TRUE(store.writeString("Fresh Section", "Key", "value")) << round;
        const std::string after = readBytes(path);
        ASSERT_EQ(after.compare(0, bytes.size(), bytes), 0) << "round " << round;
        ASSERT_EQ(store.readString("Fresh Section", "Key", "", 10), "value") << round;
    }
}

TEST_F(ProfileStoreTest, HugeLineOfGarbageIsReadAndKept) {
    std::string huge(2 * 1024 * 1024, 'x');
    huge[12345] = '\0';
    file("[S]\r\n" + huge + "\r\nk=1\r\n");
    EXPECT_EQ(store.readInt("S", "k", 0), 1);
    EXPECT_TRUE(store.writeString("S", "k", "2"));
    EXPECT_EQ(readBytes(path), "[S]\r\n" + huge + "\r\nk=2\r\n");
}

} // namespace
} // namespace octo
