// The ledger of a station: every serial record it ever gave out, in one SQLite database, so
// that no record reaches two chips across crashes, kills and power loss.
//
// A run goes: open(path, scheme), reserve(run, sockets) (committed to the disk before it
// returns; only then does the unit get the records), the run, then settle(reservation,
// outcomesOf(resultBlock)) or, when the run gave no result, settleWithoutResult(). A record
// is `reserved`, then `programmed` (its target passed), `void` (a connected target failed, the
// run gave no result, or the run was interrupted: the chip may hold it, so it is never given
// out again) or `released` (its target was not connected, the unit never wrote it: it is
// given out again, lowest first).
//
// A ledger is held by the one program that has it open for writing: another writer's open (a
// second station on the same file) waits a moment and is then told it is in use, before it
// changes anything. Readers (a listing, a backup) are not held up: every commit goes whole
// into the main file (a rollback journal), so they read it as of the last commit, and a
// plain copy taken between two runs is the ledger as it was. A killed holder's hold goes
// with its process, and the next open turns what is still reserved into void records with
// the reason "interrupted".
//
// An open given the station's traceability logs checks them first: a record a log says
// reached a chip must be one the ledger gave out and did not release; else the ledger is
// older than what happened (a restored backup, a copy) and is refused until reconcile()
// has taken the logs in.
#pragma once

#include "serials/serial_scheme.h"

#include <span>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace octo::serials {

inline constexpr int kSockets = 8;

enum class RecordState { Reserved, Programmed, Void, Released };
inline constexpr size_t kStates = 4;
// "reserved", "programmed", "void", "released": the words of the ledger's state column.
std::string_view stateName(RecordState state);

// What became of a socket in a run with a result.
enum class Outcome { Passed, Failed, NotConnected };
using Outcomes = std::array<Outcome, kSockets>; // socket n at n - 1

// Each socket's outcome from a run's result block (its first 8 bytes, the target masks).
Outcomes outcomesOf(std::span<const uint8_t> resultBlock);

// What the ledger notes about a run beside its records.
struct RunFacts {
    std::string unit; // the unit that ran it (its port, its firmware), free text
    std::optional<uint32_t> imageCrc32;
};

struct SocketRecord {
    int socket = 0; // 1..8
    Record record;
    std::string value; // hexText(record), as the ledger keeps it
};

struct Reservation {
    int64_t run = 0; // the ledger's number of the run
    std::vector<SocketRecord> records;

    // The record reserved for socket; null when none was.
    const SocketRecord* forSocket(int socket) const;
};

enum class LedgerFault {
    CannotOpen,  // no such file (for a listing), a folder, no right to read
    CannotWrite, // read-only, disk full, lost: nothing reserved was handed out
    NotALedger,  // not an SQLite database, or another program's
    OtherKind,   // the ledger keeps records of another kind than the scheme makes
    InUse,       // another program holds it
    Exhausted,   // the scheme has fewer records left than the sockets need
    BehindLog,   // a log names a record the ledger does not know, or has as released
};

// The ledger refused: the message is one line for the operator, naming the file.
class LedgerError : public std::runtime_error {
public:
    LedgerError(LedgerFault fault, const std::string& message)
        : std::runtime_error(message), fault_(fault) {}
    LedgerFault fault() const { return fault_; }

private:
    LedgerFault fault_;
};

// Consecutive numbers of a number scheme (n, n + step, ...), first and last.
struct NumberRun {
    uint64_t first = 0;
    uint64_t last = 0;
    bool operator==(const NumberRun&) const = default;
};

struct StateSummary {
    RecordState state = RecordState::Reserved;
    uint64_t count = 0;
    std::vector<NumberRun> ranges; // number schemes only, lowest first
};

struct VoidRecord {
    std::string value;
    std::optional<uint64_t> number; // number schemes
    std::string reason;
    int64_t run = 0;
    int socket = 0;
    std::string time;
};

struct LedgerSummary {
    std::string scheme; // the description of the scheme it was last opened with
    int64_t runs = 0;
    // In RecordState's order; Released holds the records waiting to be given out again.
    std::array<StateSummary, kStates> states;
    // Released records outside the scheme the ledger was last opened with: never given out
    // again, whatever scheme comes later.
    StateSummary releasedOutside;
    std::vector<VoidRecord> voids; // lowest first
    bool inUse = false;            // a station holds the ledger (its run's records are reserved)
};

// A record as the ledger has it.
struct RecordEntry {
    std::string value;
    std::optional<uint64_t> number; // number schemes
    RecordState state = RecordState::Reserved;
    int64_t run = 0;
    int socket = 0;
    std::string unit;
    std::string time;
    std::optional<uint32_t> imageCrc32;
    std::string reason;
};

// What reconcile() made of one log.
struct ReconcileCount {
    std::string log;
    uint64_t programmed = 0; // records it noted as programmed
    uint64_t voided = 0;     // ... as void
    uint64_t known = 0;      // lines whose record the ledger already had given out
    uint64_t otherKind = 0;  // lines with a record of another length than the ledger's
    uint64_t malformed = 0;  // lines that are not a log's
};

// The texts of reasons the ledger writes.
inline constexpr char kOutsideSchemeReason[] = "outside the scheme";
std::string reconciledReason(const std::string& log);

class SerialLedger {
public:
    // Opens the ledger at path for scheme, making it when there is no file: the records
    // still reserved become void ("interrupted"). A scheme of another kind than the
    // ledger keeps is refused; another range or list of the kind is taken, and records
    // the ledger knows are never given out again. Throws LedgerError, changing no file.
    // With logs (the station's traceability logs), each is read from where the ledger's last
    // check of it ended, and a record of the scheme's length that a line says reached a chip
    // (connected) must be one the ledger gave out and did not release: else BehindLog.
    static SerialLedger open(const std::string& path, const SerialScheme& scheme,
                             std::span<const std::string> logs = {});
    // Brings a ledger up to date with logs: each record of the ledger's length that a line
    // says reached a chip and that the ledger does not know, or has as released, becomes
    // programmed (a line says the chip passed) or void, with the reason "reconciled from"
    // the log's file name, and is never given out again. Throws LedgerError.
    static std::vector<ReconcileCount> reconcile(const std::string& path,
                                                 std::span<const std::string> logs);

    // The readers: each reads the ledger at path as of its last commit, also while a station
    // holds it, and changes no file. Throw LedgerError.
    // The summary (records of a run interrupted and not yet opened since show as reserved).
    static LedgerSummary inspect(const std::string& path);
    // The record value names: hexadecimal bytes of the ledger's record length (optionally
    // separated by ':' or '-') or, for a ledger of numbers, a number. None when the ledger
    // never gave it out. Throws std::invalid_argument for a value that is neither.
    static std::vector<RecordEntry> find(const std::string& path, const std::string& value);
    // The programmed records, lowest first.
    static std::vector<RecordEntry> programmed(const std::string& path);
    // The bytes of a consistent copy of the ledger (SQLite's online backup).
    static std::string backup(const std::string& path);

    SerialLedger(SerialLedger&&) noexcept;
    SerialLedger& operator=(SerialLedger&&) noexcept;
    ~SerialLedger();

    // One record for each socket (1..8, each once), released ones first, lowest first,
    // then records never given out, in the scheme's order; committed before it returns.
    // Throws LedgerError (Exhausted, CannotWrite) reserving nothing.
    Reservation reserve(const RunFacts& run, std::span<const int> sockets);
    // Throws what reserve would for want of records (LedgerError, Exhausted) when the scheme
    // has fewer than needed left; reserves nothing.
    void requireRecords(size_t needed);
    // The run's result: passed programmed, failed void ("failed"), not connected released.
    // Records of the reservation no longer reserved stay as they are. Throws LedgerError
    // (CannotWrite): the records then stay reserved, and become void at the next open.
    void settle(const Reservation& reservation, const Outcomes& outcomes);
    // A run that gave no result: all its records void, with reason ("no result" when empty).
    void settleWithoutResult(const Reservation& reservation, const std::string& reason);

    LedgerSummary summary() const;
    // How many reserved records open found and made void.
    uint64_t interruptedAtOpen() const;
    const std::string& path() const;

private:
    struct Impl;
    explicit SerialLedger(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace octo::serials
