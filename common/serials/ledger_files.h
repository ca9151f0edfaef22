// What lies on the disk with a ledger: the SQLite header of its main file, and the files
// SQLite would take in beside it (a rollback journal, a write-ahead log), judged before SQLite
// opens anything, so that a file that is not the ledger's own is refused and never applied.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace octo::serials {

// "OCSL" in the database header tells a ledger from another program's SQLite file.
inline constexpr uint32_t kLedgerApplicationId = 0x4F43534C;

struct DatabaseHeader {
    uint32_t pageSize = 0;
    bool writeAheadLog = false; // the file was last written in WAL mode (an older ledger)
    uint32_t changeCounter = 0;
    uint32_t applicationId = 0;
};

// The header of an SQLite database file; none for a file that is shorter than one (a new,
// empty file) or that is no SQLite database.
std::optional<DatabaseHeader> databaseHeader(const std::string& bytes);
std::optional<DatabaseHeader> readDatabaseHeader(const std::string& path);

enum class Beside {
    Nothing,        // nothing SQLite would apply to the ledger
    OwnJournal,     // the journal of a commit of this ledger that a stopped program left:
                    // SQLite rolls it back at the next writer's open
    OlderLog,       // the write-ahead log of a ledger an older version wrote (its main file
                    // says so), holding committed runs
    ForeignJournal, // a -journal that is not this ledger's, or no regular file
    ForeignLog,     // a -wal beside a ledger that keeps none, or no regular file
};

// What lies beside the ledger at path.
Beside besideLedger(const std::string& path);

} // namespace octo::serials
