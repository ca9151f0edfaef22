// The serial records of octo816 program: one ledger held open for the whole command, each
// run's eight records reserved (on the disk) before the unit can get them, and settled by the
// run's result: what the ledger notes must never claim less than what reached the chips.
#pragma once

#include "Invocation.h"

#include "serials/serial_ledger.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace octo::cli {

// A target's record in a run and its state in the ledger, for the report.
struct TargetRecord {
    std::string value; // lowercase hex, as the ledger keeps it
    std::string state;
};
using TargetRecords = std::array<TargetRecord, serials::kSockets>;

class SerialRun {
public:
    // Opens the ledger for the invocation's scheme, before the unit is touched. Throws
    // Failure: the library lacks the target records (unit error); the scheme, its list file
    // or the ledger cannot be used, or the scheme has too few records left for a run (bad
    // input).
    SerialRun(const Invocation& in, uint32_t imageCrc32);

    // The unit's serial number ("" when it does not tell), for the runs' unit column
    // beside the port: "OCTO-0042 /dev/ttyUSB0".
    void noteUnit(const std::string& serial);

    // Reserves the next run's records. Throws Failure (bad input) when the scheme has run out
    // or the ledger cannot take them; nothing is reserved then.
    void reserve(int run);
    // Gives the library the reserved records for its next main process. Throws Failure when
    // it refuses one; the records are then released, none having left the computer.
    void send();
    // From here the records may reach the chips: only the run's result may free them.
    void handOver() { handedOver_ = true; }
    // The library refused the records at the main process, before sending anything to the
    // unit: they never left the computer, and the command's end (abandon) releases them.
    void refusedBeforeSending() { handedOver_ = false; }

    // The run gave a result block: each record programmed, void or released. A ledger that
    // cannot take it leaves them reserved (void at its next open): see requireSettled.
    TargetRecords settle(std::span<const uint8_t> resultBlock);
    // The run gave no result: every record void, for reason.
    TargetRecords settleWithoutResult(const std::string& reason);
    // Throws Failure (not recorded) when the last settle did not reach the ledger.
    void requireSettled(int run) const;
    // Whether records are reserved and not yet settled.
    bool holdsRecords() const { return pending_.has_value(); }
    // The command stops with records still reserved: released when they never left the
    // computer, else void. Never throws: false when the ledger could not take it (its next
    // open voids them).
    bool abandon() noexcept;

private:
    TargetRecords records(const std::array<std::string_view, serials::kSockets>& states) const;

    std::string ledgerPath_;
    std::string port_;
    uint32_t address_ = 0;
    serials::RunFacts facts_;
    std::optional<serials::SerialLedger> ledger_;
    std::optional<serials::Reservation> pending_;
    bool handedOver_ = false;
    std::string unsettled_; // why the last settle did not reach the ledger
};

} // namespace octo::cli
