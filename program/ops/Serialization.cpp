#include "ops/Serialization.h"

#include "link/ResultGrid.h"
#include "run/programming.h"
#include "wire/messages.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <span>
#include <vector>

namespace octo {

namespace {

using serials::LedgerError;
using serials::Outcome;
using serials::SchemeError;

constexpr char kDefaultFormat[] = "le32";
constexpr int32_t kResultFailedRun = 50; // block filled, but the run counts as failed
// OctoMainProcess refused the records before anything went to the unit.
constexpr int32_t kFirstRecordRefusal = 54;
constexpr int32_t kLastRecordRefusal = 59;

constexpr std::array<int, serials::kSockets> kAllSockets = {1, 2, 3, 4, 5, 6, 7, 8};

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

const char* fateName(int fate) {
    static constexpr const char* kNames[] = {"programmed", "void", "released"};
    return kNames[fate];
}

// "a", "a and b", "a, b and c".
std::string spoken(const std::vector<const char*>& items) {
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) {
        text += i == 0 ? "" : i + 1 == items.size() ? " and " : ", ";
        text += items[i];
    }
    return text;
}

} // namespace

std::string ledgerUnit(const std::string& unitSerial, const std::string& port) {
    return unitSerial.empty() ? port : unitSerial + " " + port;
}

serials::SerialScheme serialSchemeOf(const Settings& s) {
    if (!s.serialList.empty()) {
        return serials::SerialScheme::listFile(s.serialList);
    }
    const std::string name = lowercase(s.serialFormat.empty() ? kDefaultFormat : s.serialFormat);
    const std::optional<serials::NumberFormat> format = serials::numberFormat(name);
    if (!format) {
        throw SchemeError("the serial format " + name +
                          " is none of le16, le32, le64, be16, be32, be64, ascii");
    }
    return serials::SerialScheme::numbers({.start = s.serialStart,
                                           .end = s.serialEnd,
                                           .step = s.serialStep,
                                           .format = *format,
                                           .width = s.serialWidth});
}

bool Serialization::prepare(uint32_t options) {
    values_ = {};
    if (!configured()) {
        return true;
    }
    // After a restart the unit may still hold an image, but the library knows nothing of it
    // and would refuse the records at the run.
    if (!state_.imageCrc32[state_.imageSlot]) {
        tell(std::string(kSerialNeedsImage) + "\n" + kSerialNotStarted);
        return false;
    }
    try {
        // Made anew each run: a list file the operator mended after a box is taken.
        scheme_ = serialSchemeOf(settings_);
        if (const std::string why = refusal(options, scheme_->recordLength()); !why.empty()) {
            tell(why + "\n" + kSerialNotStarted);
            return false;
        }
        // Asked before the ledger is opened: a listing may read it while the unit answers.
        const serials::RunFacts facts{.unit = unitName(),
                                      .imageCrc32 = state_.imageCrc32[state_.imageSlot]};
        // A ledger older than the station's log (a restored copy) is refused here.
        const std::vector<std::string> logs = settings_.traceLog.empty()
                                                  ? std::vector<std::string>{}
                                                  : std::vector<std::string>{settings_.traceLog};
        ledger_ = serials::SerialLedger::open(settings_.serialLedger, *scheme_, logs);
        reservation_ = ledger_->reserve(facts, kAllSockets);
    } catch (const std::exception& e) { // SchemeError, LedgerError
        close();
        tell(std::string("No serial numbers can be given out:\n") + e.what() + "\n" +
             kSerialNotStarted);
        return false;
    }
    for (const serials::SocketRecord& r : reservation_->records) {
        const int32_t code =
            library_->setTargetData(static_cast<uint32_t>(r.socket), settings_.serialAddress,
                                    r.record.data(), static_cast<uint32_t>(r.record.size()));
        if (code != 0) {
            const std::string text = library_->getErrorString(code);
            library_->clearTargetData();
            releaseAll();
            tell("The library refused the serial number of target " + std::to_string(r.socket) +
                 ":\n" + text + "\n" + kSerialNotStarted);
            return false;
        }
    }
    return true;
}

std::string Serialization::refusal(uint32_t options, size_t recordLength) {
    const OctoSegmentEntry* table = nullptr;
    std::span<const OctoSegmentEntry> rows;
    if (library_->getDevice(deviceType_.typeName, &table) == 0 && table != nullptr) {
        rows = {table, OCTO_MAX_SEGMENTS};
    }
    const uint32_t needed =
        run::recordOptions(rows, settings_.serialAddress, static_cast<uint32_t>(recordLength));
    if ((options & needed) == needed) {
        return {};
    }
    // The boxes of the window that give those bits.
    std::vector<const char*> boxes;
    if ((needed & wire::option::kErase) != 0) {
        boxes.push_back("Erase");
    }
    if ((needed & wire::option::kEraseMain) != 0) {
        boxes.push_back("Main Memory");
    }
    if ((needed & wire::option::kEraseInfo) != 0) {
        boxes.push_back("Info Memory");
    }
    boxes.push_back("Program");
    char address[16];
    std::snprintf(address, sizeof address, "0x%04X", settings_.serialAddress);
    return std::string("The serial numbers at ") + address +
           " go only into memory that this pass erases and programs itself.\nCheck " +
           spoken(boxes) + ".";
}

std::string Serialization::unitName() {
    std::string serial;
    uint32_t runCount = OCTO_RUN_COUNT_UNKNOWN;
    // A call that fails leaves the serial number alone, so an empty one names the port alone.
    library_->getUnitInfo(serial, runCount);
    return ledgerUnit(serial, "COM" + std::to_string(settings_.comPort + 1));
}

void Serialization::settle(const UnitRunEnd& end) {
    if (!reservation_) {
        return;
    }
    const bool unsent = !end.started || (end.mainProcess >= kFirstRecordRefusal &&
                                         end.mainProcess <= kLastRecordRefusal);
    if (unsent) {
        // Records the library still holds must not go with a later run.
        library_->clearTargetData();
        releaseAll();
        return;
    }
    Fates fates{};
    try {
        if (end.mainProcess == 0 && (end.result == 0 || end.result == kResultFailedRun)) {
            const serials::Outcomes outcomes = serials::outcomesOf(state_.runResult);
            ledger_->settle(*reservation_, outcomes);
            std::transform(outcomes.begin(), outcomes.end(), fates.begin(), [](Outcome o) {
                return o == Outcome::Passed   ? Fate::Programmed
                       : o == Outcome::Failed ? Fate::Void
                                              : Fate::Released;
            });
        } else {
            const int32_t code = end.mainProcess != 0 ? end.mainProcess : end.result.value_or(0);
            ledger_->settleWithoutResult(*reservation_,
                                         "no result (code " + std::to_string(code) + ")");
            fates.fill(Fate::Void);
        }
    } catch (const LedgerError& e) {
        // Still reserved in the file: the next open makes them void.
        fates.fill(Fate::Void);
        tell(std::string("The ledger cannot note what became of this run's serial numbers:\n") +
             e.what() + "\nThey will not be given out again.");
    }
    showRecords(fates);
    close();
}

void Serialization::releaseAll() {
    Fates fates{};
    fates.fill(Fate::Released);
    serials::Outcomes none{};
    none.fill(Outcome::NotConnected);
    try {
        ledger_->settle(*reservation_, none);
    } catch (const LedgerError&) {
        // Left reserved, the records become void at the next open: none is given out twice.
    }
    close();
}

void Serialization::showRecords(const Fates& fates) {
    for (const serials::SocketRecord& r : reservation_->records) {
        values_[r.socket - 1] = r.value;
        std::string text = "Target " + std::to_string(r.socket) + ": ";
        const std::optional<serials::NumberRange>& range = scheme_->range();
        const std::optional<uint64_t> number =
            range ? serials::decodeNumber(range->format, range->width, r.record) : std::nullopt;
        text += number ? "serial " + std::to_string(*number) + " (" + r.value + ")"
                       : "record " + r.value;
        text += std::string(", ") + fateName(static_cast<int>(fates[r.socket - 1]));
        view_.setToolTipText(resultLampId(kOverAllByte, r.socket - 1), text);
    }
}

void Serialization::close() {
    reservation_.reset();
    ledger_.reset();
}

void Serialization::tell(const std::string& text) {
    view_.messageBox(text, kSerialCaption, mb::kOk | mb::kIconExclamation);
}

} // namespace octo
