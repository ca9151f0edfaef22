// The chips' history against the ledger, after kill trials that used le32 numbers at one
// address: the unit's chip log (one line per record written into a chip) is the physical
// truth, and the ledger must account for every record in it.
#ifndef OCTO_SOAK_SERIAL_HISTORY_H
#define OCTO_SOAK_SERIAL_HISTORY_H

#include "serials/serial_ledger.h"

#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace octo::soak {

struct SerialHistory {
    int written = 0;             // distinct records the chip log holds
    int duplicates = 0;          // records written into more than one chip
    int unrecorded = 0;          // in a chip, but neither programmed nor void in the ledger
    int programmedUnwritten = 0; // programmed in the ledger, but in no chip verified
    int unreadLines = 0;         // chip log lines not of the expected shape
    bool clean() const {
        return written > 0 && duplicates + unrecorded + programmedUnwritten + unreadLines == 0;
    }
};

inline std::set<uint64_t> numbersIn(const serials::StateSummary& state) {
    std::set<uint64_t> numbers;
    for (const serials::NumberRun& run : state.ranges) {
        for (uint64_t n = run.first; n <= run.last; ++n) {
            numbers.insert(n);
        }
    }
    return numbers;
}

// Opens the ledger as the next run would (records a kill left reserved become void) and
// checks the chip log's lines against it; says what is wrong on standard error.
inline SerialHistory checkSerialHistory(const std::vector<std::string>& chipLog,
                                        const std::string& ledger,
                                        const serials::SerialScheme& scheme) {
    const serials::LedgerSummary summary = serials::SerialLedger::open(ledger, scheme).summary();
    const auto numbers = [&](serials::RecordState s) {
        return numbersIn(summary.states[static_cast<size_t>(s)]);
    };
    const std::set<uint64_t> programmed = numbers(serials::RecordState::Programmed);
    const std::set<uint64_t> voided = numbers(serials::RecordState::Void);

    static const std::regex kLine(
        R"(run=\d+ socket=\d address=0x[0-9a-f]+ data=([0-9a-f]{8}) verified=([01]))");
    SerialHistory history;
    std::map<uint64_t, bool> written; // number -> verified
    for (const std::string& line : chipLog) {
        std::smatch m;
        if (!std::regex_match(line, m, kLine)) {
            ++history.unreadLines;
            std::cerr << "chip log line not understood: " << line << "\n";
            continue;
        }
        const std::string data = m[1].str();
        serials::Record bytes;
        for (size_t at = 0; at < data.size(); at += 2) {
            bytes.push_back(static_cast<uint8_t>(std::stoul(data.substr(at, 2), nullptr, 16)));
        }
        const uint64_t number = *serials::decodeNumber(serials::NumberFormat::Le32, 0, bytes);
        if (!written.emplace(number, m[2] == "1").second) {
            ++history.duplicates;
            std::cerr << "written twice: " << number << "\n";
        }
        if (!programmed.contains(number) && !voided.contains(number)) {
            ++history.unrecorded;
            std::cerr << "in a chip, neither programmed nor void: " << number << "\n";
        }
    }
    for (const uint64_t number : programmed) {
        const auto chip = written.find(number);
        if (chip == written.end() || !chip->second) {
            ++history.programmedUnwritten;
            std::cerr << "programmed but not verified in a chip: " << number << "\n";
        }
    }
    history.written = static_cast<int>(written.size());
    return history;
}

// The figures as "SOAK <prefix>_<name> <value>" lines.
inline void printSerialHistory(const std::string& prefix, int trials, const SerialHistory& h) {
    std::cout << "SOAK " << prefix << "_kill_trials " << trials << "\n"
              << "SOAK " << prefix << "_records_written " << h.written << "\n"
              << "SOAK " << prefix << "_duplicates " << h.duplicates << "\n"
              << "SOAK " << prefix << "_unrecorded " << h.unrecorded << "\n"
              << "SOAK " << prefix << "_programmed_unwritten " << h.programmedUnwritten << "\n";
}

} // namespace octo::soak

#endif
