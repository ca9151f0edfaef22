#include "SerialRun.h"

#include "CommandSupport.h"
#include "LibraryLoader.h"

#include "wire/messages.h"

#include <algorithm>
#include <vector>

namespace octo::cli {

namespace {

using serials::Outcome;
using serials::Outcomes;
using serials::RecordState;

constexpr std::array<int, serials::kSockets> kAllSockets = {1, 2, 3, 4, 5, 6, 7, 8};

serials::SerialScheme schemeOf(const Invocation& in) {
    try {
        if (!in.serialList.empty()) {
            return serials::SerialScheme::listFile(in.serialList);
        }
        return serials::SerialScheme::numbers({.start = *in.serialStart,
                                               .end = *in.serialEnd,
                                               .step = in.serialStep,
                                               .format = *serials::numberFormat(in.serialFormat),
                                               .width = in.serialWidth});
    } catch (const serials::SchemeError& e) {
        throw Failure(kExitBadInput, e.what());
    }
}

std::string_view stateOf(Outcome outcome) {
    switch (outcome) {
    case Outcome::Passed:
        return serials::stateName(RecordState::Programmed);
    case Outcome::Failed:
        return serials::stateName(RecordState::Void);
    case Outcome::NotConnected:
        break;
    }
    return serials::stateName(RecordState::Released);
}

} // namespace

SerialRun::SerialRun(const Invocation& in, uint32_t imageCrc32)
    : ledgerPath_(in.ledgerPath), port_(in.port),
      address_(*in.serialAddress), facts_{.unit = in.port, .imageCrc32 = imageCrc32} {
    if (!hasTargetData()) {
        throw Failure(kExitUnitError,
                      "OCTO816.DLL has no target records (OctoSetTargetData): it cannot give "
                      "each chip its own record; version 1.56 or later can");
    }
    const serials::SerialScheme scheme = schemeOf(in);
    if (uint64_t{address_} + scheme.recordLength() > wire::kTargetAddressSpace) {
        throw Failure(kExitBadInput, "--serial-address " + hexAddress(address_) + ": a " +
                                         std::to_string(scheme.recordLength()) +
                                         "-byte record there runs past a target's address space");
    }
    try {
        // A ledger older than the station's log (a restored copy) is refused here.
        const std::vector<std::string> logs =
            in.logPath.empty() ? std::vector<std::string>{} : std::vector<std::string>{in.logPath};
        ledger_.emplace(serials::SerialLedger::open(ledgerPath_, scheme, logs));
        ledger_->requireRecords(serials::kSockets);
    } catch (const serials::LedgerError& e) {
        throw Failure(kExitBadInput, e.what());
    }
}

void SerialRun::noteUnit(const std::string& serial) {
    facts_.unit = serial.empty() ? port_ : serial + " " + port_;
}

void SerialRun::reserve(int run) {
    try {
        pending_ = ledger_->reserve(facts_, kAllSockets);
        handedOver_ = false;
    } catch (const serials::LedgerError& e) {
        const std::string before = run > 1 ? "run " + std::to_string(run) + " not started: " : "";
        throw Failure(kExitBadInput, before + e.what());
    }
}

void SerialRun::send() {
    for (const serials::SocketRecord& r : pending_->records) {
        const int32_t code =
            OctoSetTargetData(static_cast<uint32_t>(r.socket), address_, r.record.data(),
                              static_cast<uint32_t>(r.record.size()));
        if (code != kOk) {
            OctoClearTargetData(); // none of them may go with a later run
            abandon();
            fail(code, "setting target " + std::to_string(r.socket) + "'s record");
        }
    }
}

TargetRecords
SerialRun::records(const std::array<std::string_view, serials::kSockets>& states) const {
    TargetRecords out;
    for (int socket : kAllSockets) {
        const serials::SocketRecord* r = pending_->forSocket(socket);
        const auto n = static_cast<size_t>(socket - 1);
        out[n] = {r != nullptr ? r->value : std::string(), std::string(states[n])};
    }
    return out;
}

TargetRecords SerialRun::settle(std::span<const uint8_t> resultBlock) {
    const Outcomes outcomes = serials::outcomesOf(resultBlock);
    std::array<std::string_view, serials::kSockets> states{};
    std::transform(outcomes.begin(), outcomes.end(), states.begin(), stateOf);
    unsettled_.clear();
    try {
        ledger_->settle(*pending_, outcomes);
    } catch (const serials::LedgerError& e) {
        unsettled_ = e.what();
        states.fill(serials::stateName(RecordState::Reserved));
    }
    TargetRecords out = records(states);
    pending_.reset();
    return out;
}

TargetRecords SerialRun::settleWithoutResult(const std::string& reason) {
    std::array<std::string_view, serials::kSockets> states{};
    states.fill(serials::stateName(RecordState::Void));
    try {
        ledger_->settleWithoutResult(*pending_, reason);
    } catch (const serials::LedgerError&) {
        // Still reserved: the ledger's next open makes them void all the same.
        states.fill(serials::stateName(RecordState::Reserved));
    }
    TargetRecords out = records(states);
    pending_.reset();
    return out;
}

void SerialRun::requireSettled(int run) const {
    if (!unsettled_.empty()) {
        throw Failure(kExitNotLogged, "run " + std::to_string(run) +
                                          " programmed the chips but its records are not "
                                          "settled in the ledger (they become void at its "
                                          "next open): " +
                                          unsettled_);
    }
}

bool SerialRun::abandon() noexcept {
    if (!pending_) {
        return true;
    }
    bool taken = true;
    try {
        if (handedOver_) {
            ledger_->settleWithoutResult(*pending_, "octo816 stopped during the run");
        } else {
            Outcomes none{};
            none.fill(Outcome::NotConnected);
            ledger_->settle(*pending_, none);
        }
    } catch (...) {
        taken = false; // left reserved: the ledger's next open makes them void
    }
    pending_.reset();
    return taken;
}

} // namespace octo::cli
