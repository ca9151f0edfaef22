#include "serials/ledger_files.h"

#include <array>
#include <filesystem>
#include <fstream>

namespace octo::serials {

namespace {

namespace fs = std::filesystem;

constexpr size_t kHeaderBytes = 100;
constexpr std::string_view kDatabaseMagic{"SQLite format 3\0", 16};
constexpr size_t kPageSizeAt = 16;
constexpr size_t kWriteVersionAt = 18;
constexpr uint8_t kWalVersion = 2;
constexpr size_t kChangeCounterAt = 24;
constexpr size_t kApplicationIdAt = 68;
constexpr uint32_t kLargestPage = 65536; // written as 1

constexpr std::array<uint8_t, 8> kJournalMagic = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};
constexpr size_t kJournalHeaderBytes = 28;
constexpr size_t kJournalSectorAt = 20;
constexpr size_t kJournalPageSizeAt = 24;
// A page's record in the journal: its number, its bytes, a checksum.
constexpr size_t kRecordExtraBytes = 8;

constexpr size_t kWalHeaderBytes = 32;
constexpr uint32_t kWalMagic = 0x377f0682; // the lowest bit tells the checksum's byte order
constexpr size_t kWalPageSizeAt = 8;

uint32_t bigEndian32(const std::string& bytes, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3]));
}

// count bytes of the file from at, zeros past its end (and all zeros when it cannot be read):
// every header checked here has a magic number that is not zeros.
std::string readAt(const fs::path& path, uint64_t at, size_t count) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes(count, '\0');
    in.seekg(static_cast<std::streamoff>(at));
    in.read(bytes.data(), static_cast<std::streamsize>(count));
    return bytes;
}

// A file SQLite would open beside the ledger: none, a regular file of this size, or other.
struct SideFile {
    bool exists = false;
    bool regular = false;
    uint64_t size{};
};

SideFile sideFile(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (ec || status.type() == fs::file_type::not_found) {
        return {};
    }
    // A link is followed by SQLite: judged by what it leads to.
    const fs::file_status target = fs::status(path, ec);
    const bool regular = !ec && target.type() == fs::file_type::regular;
    return {true, regular, regular ? fs::file_size(path, ec) : 0};
}

// A journal SQLite would play back (its first byte is not zero) must hold, among its pages,
// page 1 of this very ledger: the same page size, the ledger's application id, and a change
// counter the main file has or is one past. A commit journals page 1 before the journal is
// made hot, so the journal of every interrupted commit of the ledger has it.
bool ownJournal(const fs::path& journal, uint64_t size, const DatabaseHeader& main) {
    const std::string header = readAt(journal, 0, kJournalHeaderBytes);
    if (!std::equal(kJournalMagic.begin(), kJournalMagic.end(), header.begin(),
                    [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); })) {
        return false;
    }
    // The records start a sector in; whatever the header says, the scan only reads the file.
    const uint32_t sector = bigEndian32(header, kJournalSectorAt);
    const uint32_t pageSize = bigEndian32(header, kJournalPageSizeAt);
    if (pageSize != main.pageSize) {
        return false;
    }
    for (uint64_t at = sector; at < size; at += pageSize + kRecordExtraBytes) {
        if (bigEndian32(readAt(journal, at, 4), 0) == 1) {
            const std::optional<DatabaseHeader> page =
                databaseHeader(readAt(journal, at + 4, kHeaderBytes));
            return page && page->applicationId == kLedgerApplicationId &&
                   page->pageSize == main.pageSize &&
                   (main.changeCounter == page->changeCounter ||
                    main.changeCounter == page->changeCounter + 1);
        }
    }
    return false;
}

} // namespace

std::optional<DatabaseHeader> databaseHeader(const std::string& bytes) {
    if (bytes.size() < kHeaderBytes ||
        bytes.compare(0, kDatabaseMagic.size(), kDatabaseMagic) != 0) {
        return std::nullopt;
    }
    DatabaseHeader header;
    const uint32_t size = static_cast<uint32_t>(static_cast<uint8_t>(bytes[kPageSizeAt])) << 8 |
                          static_cast<uint8_t>(bytes[kPageSizeAt + 1]);
    header.pageSize = size == 1 ? kLargestPage : size;
    header.writeAheadLog = static_cast<uint8_t>(bytes[kWriteVersionAt]) == kWalVersion;
    header.changeCounter = bigEndian32(bytes, kChangeCounterAt);
    header.applicationId = bigEndian32(bytes, kApplicationIdAt);
    return header;
}

std::optional<DatabaseHeader> readDatabaseHeader(const std::string& path) {
    return databaseHeader(readAt(path, 0, kHeaderBytes));
}

Beside besideLedger(const std::string& path) {
    const std::optional<DatabaseHeader> main = readDatabaseHeader(path);
    const fs::path log = path + "-wal";
    const SideFile wal = sideFile(log);
    if (wal.exists) {
        if (!wal.regular || !main || !main->writeAheadLog) {
            return Beside::ForeignLog;
        }
        const std::string header = readAt(log, 0, kWalHeaderBytes);
        if (wal.size != 0 && ((bigEndian32(header, 0) & ~1U) != kWalMagic ||
                              bigEndian32(header, kWalPageSizeAt) != main->pageSize)) {
            return Beside::ForeignLog;
        }
    }
    const fs::path journalPath = path + "-journal";
    const SideFile journal = sideFile(journalPath);
    if (journal.exists) {
        if (!journal.regular) {
            return Beside::ForeignJournal;
        }
        // Empty, or a first byte of zero: SQLite takes it for no journal at all.
        if (readAt(journalPath, 0, 1)[0] != '\0') {
            if (!main || !ownJournal(journalPath, journal.size, *main)) {
                return Beside::ForeignJournal;
            }
            return Beside::OwnJournal;
        }
    }
    return wal.exists ? Beside::OlderLog : Beside::Nothing;
}

} // namespace octo::serials
